#include "batch/batch_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace veltrana::batch {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kManifestLockPrefix = ".veltrana-manifest-";
constexpr std::string_view kReelLockPrefix = ".veltrana-reel-";
constexpr std::string_view kLockSuffix = ".lock";

int flockWithoutWaiting(int fd, int operation) {
    int locked = 0;
    do {
        locked = ::flock(fd, operation | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    return locked;
}

// Whether another process holds `file` (a manifest's lock file).
bool heldByOthers(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool held = flockWithoutWaiting(fd, LOCK_EX) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace

HeldLock::~HeldLock() {
    if (fd >= 0) {
        ::close(fd);
    }
}

HeldLock::HeldLock(HeldLock&& other) noexcept : fd(other.fd) {
    other.fd = -1;
}

HeldLock& HeldLock::operator=(HeldLock&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

Result<HeldLock> HeldLock::take(const fs::path& file, bool shared, std::string_view busy) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return Status::failure("Cannot write into " + file.parent_path().string() +
                               ": cannot make its lock file " + file.filename().string() + ": " +
                               std::strerror(errno));
    }
    if (flockWithoutWaiting(fd, shared ? LOCK_SH : LOCK_EX) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return Status::failure(std::string(busy));
    }
    // a filesystem without locks: the run goes on unlocked, as a single run does
    return HeldLock(fd);
}

Result<HeldLock> lockForManifest(const fs::path& outputFolder, std::string_view manifestDigest) {
    const std::string own =
        std::string(kManifestLockPrefix) + std::string(manifestDigest) + std::string(kLockSuffix);
    Result<HeldLock> lock = HeldLock::take(outputFolder / own, true, "");
    if (!lock) {
        return lock;
    }
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(outputFolder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name != own && name.starts_with(kManifestLockPrefix) && name.ends_with(kLockSuffix) &&
            heldByOthers(entry.path())) {
            return Status::failure("Another manifest's batch is writing into " +
                                   outputFolder.string() +
                                   "; give this one another output folder, or run it when "
                                   "that one has ended.");
        }
    }
    return lock;
}

Result<HeldLock> lockReel(const fs::path& outputFolder, std::string_view id) {
    const std::string name =
        std::string(kReelLockPrefix) + std::string(id) + std::string(kLockSuffix);
    return HeldLock::take(outputFolder / name, false,
                          "The reel " + std::string(id) + " in " + outputFolder.string() +
                              " is being written by another task; it is left to that one.");
}

} // namespace veltrana::batch
