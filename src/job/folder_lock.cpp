#include "job/folder_lock.h"

#include "job/frame_sequence.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrana {

namespace fs = std::filesystem;

FolderLocks::~FolderLocks() {
    release();
}

FolderLocks::FolderLocks(FolderLocks&& other) noexcept : held(std::move(other.held)) {
    other.held.clear();
}

FolderLocks& FolderLocks::operator=(FolderLocks&& other) noexcept {
    if (this != &other) {
        release();
        held = std::move(other.held);
        other.held.clear();
    }
    return *this;
}

Status FolderLocks::lock(const fs::path& folder, std::string_view what) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return {};
    }
    for (const Held& h : held) {
        if (h.device == st.st_dev && h.inode == st.st_ino) {
            ::close(fd);
            return {};
        }
    }
    int locked = 0;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            return Status::failure("Another run is using " + std::string(what) + " " +
                                   folder.string() + "; try again when it has ended.");
        }
        // a filesystem without locks: the run goes on as before
        return {};
    }
    held.push_back({fd, st.st_dev, st.st_ino});
    return {};
}

void FolderLocks::release() {
    for (const Held& h : held) {
        ::close(h.fd);
    }
    held.clear();
}

Status lockJobFolders(FolderLocks& locks, const fs::path& frames, bool sideFilesBesideScans,
                      const fs::path& reportDir) {
    if (sideFilesBesideScans) {
        if (const Result<FrameSequence> sequence = listFrameSequence(frames); sequence) {
            if (Status locked = locks.lock(sequence->directory, "the scans folder"); !locked) {
                return locked;
            }
        }
    }
    if (reportDir.empty()) {
        return {};
    }
    // a report folder that does not exist yet is not locked: the run makes it
    // only at its end, when it writes the report
    std::error_code ec;
    if (!fs::is_directory(reportDir, ec)) {
        return {};
    }
    return locks.lock(reportDir, "the report folder");
}

} // namespace veltrana
