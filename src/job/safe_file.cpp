#include "job/safe_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrana {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTemporaryPrefix = ".veltrana-";
constexpr std::string_view kTemporarySuffix = ".tmp";
// how often a fresh random name is tried when one is taken
constexpr int kNameAttempts = 16;

std::string errnoText(int error) {
    return std::strerror(error);
}

std::string cannotWrite(std::string_view what, const fs::path& path, const std::string& cause) {
    std::string message = "Cannot write ";
    message += what;
    message += " to ";
    message += path.empty() ? std::string("\"\"") : path.string();
    message += ": ";
    message += cause;
    return message;
}

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// What a special file is, for messages.
std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

std::string randomHex() {
    unsigned char bytes[8] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got < sizeof bytes) {
        // no random source: the clock and the address space still vary
        const auto mixed = static_cast<unsigned long long>(::clock()) ^
                           reinterpret_cast<std::uintptr_t>(&got) ^
                           (static_cast<unsigned long long>(::getpid()) << 32);
        std::memcpy(bytes, &mixed, sizeof bytes);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xf];
    }
    return text;
}

std::string temporaryName() {
    std::string name(kTemporaryPrefix);
    name += std::to_string(::getpid());
    name += '-';
    name += randomHex();
    name += kTemporarySuffix;
    return name;
}

// Syncs a folder so that a rename in it survives a crash. Filesystems that
// cannot sync a folder say so with EINVAL; that is not a failure.
Status syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Status::failure(errnoText(errno));
    }
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL && error != EROFS) {
        return Status::failure(errnoText(error));
    }
    return {};
}

// Removes a private folder and the files in it; subfolders are never made
// there, so none are followed.
void removeFolder(const fs::path& folder) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        ::unlink(entry.path().c_str());
    }
    ::rmdir(folder.c_str());
}

bool processRuns(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

} // namespace

bool isTemporaryName(std::string_view name, long* pid) {
    if (name.size() <= kTemporaryPrefix.size() + kTemporarySuffix.size() ||
        name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix ||
        name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix) {
        return false;
    }
    const std::string_view middle = name.substr(
        kTemporaryPrefix.size(), name.size() - kTemporaryPrefix.size() - kTemporarySuffix.size());
    const std::size_t dash = middle.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == middle.size()) {
        return false;
    }
    long value = 0;
    for (char c : middle.substr(0, dash)) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    for (char c : middle.substr(dash + 1)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    if (pid != nullptr) {
        *pid = value;
    }
    return true;
}

void removeStaleTemporaries(const fs::path& folder) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        long pid = 0;
        if (!isTemporaryName(entry.path().filename().string(), &pid) || pid == ::getpid()) {
            continue;
        }
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || st.st_uid != ::geteuid() ||
            processRuns(pid)) {
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            ::unlink(entry.path().c_str());
        } else if (S_ISDIR(st.st_mode)) {
            removeFolder(entry.path());
        }
    }
}

Result<OutputTarget> resolveOutputTarget(const fs::path& given, std::string_view what) {
    OutputTarget target;
    target.given = given;
    target.file = given;
    const std::string text = given.string();
    if (text.empty()) {
        return Status::failure("Cannot write " + std::string(what) + ": no file name was given");
    }
    if (text.back() == '/') {
        return Status::failure(cannotWrite(what, given, "the name ends in a slash, as a folder's"));
    }
    struct stat st {};
    if (::lstat(given.c_str(), &st) != 0) {
        const int error = errno;
        if (error == ENOTDIR) {
            return Status::failure(cannotWrite(what, given, "a part of the path is not a folder"));
        }
        if (error != ENOENT) {
            return Status::failure(cannotWrite(what, given, errnoText(error)));
        }
        // a new file: its folder must exist
        const fs::path folder = folderOf(given);
        struct stat fst {};
        if (::stat(folder.c_str(), &fst) != 0) {
            return Status::failure(
                cannotWrite(what, given, "the folder " + folder.string() + " does not exist"));
        }
        if (!S_ISDIR(fst.st_mode)) {
            return Status::failure(cannotWrite(what, given, folder.string() + " is not a folder"));
        }
        return target;
    }
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path pointsTo = fs::read_symlink(given, ec);
        struct stat lst {};
        if (::stat(given.c_str(), &lst) != 0) {
            return Status::failure(cannotWrite(
                what, given, "it is a link to " + pointsTo.string() + ", which does not exist"));
        }
        if (!S_ISREG(lst.st_mode)) {
            return Status::failure(cannotWrite(what, given,
                                               "it is a link to " + kindOf(lst.st_mode) + " (" +
                                                   pointsTo.string() +
                                                   "); only regular files are written"));
        }
        // written through, as cp does: the file the link leads to is replaced
        target.file = fs::canonical(given, ec);
        if (ec) {
            return Status::failure(cannotWrite(what, given, ec.message()));
        }
        st = lst;
    } else if (S_ISDIR(st.st_mode)) {
        return Status::failure(cannotWrite(what, given, "it is a folder"));
    } else if (!S_ISREG(st.st_mode)) {
        return Status::failure(cannotWrite(
            what, given, "it is " + kindOf(st.st_mode) + "; only regular files are written"));
    }
    target.exists = true;
    target.device = st.st_dev;
    target.inode = st.st_ino;
    target.mode = st.st_mode;
    return target;
}

Result<OutputTarget> sideFileTarget(const fs::path& path, std::string_view what) {
    OutputTarget target;
    target.given = path;
    target.file = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            return Status::failure(cannotWrite(what, path, errnoText(errno)));
        }
        return target;
    }
    if (S_ISLNK(st.st_mode)) {
        // replaced as a name: the link goes, what it points to stays untouched
        return target;
    }
    if (!S_ISREG(st.st_mode)) {
        return Status::failure(cannotWrite(what, path, "it is " + kindOf(st.st_mode)));
    }
    target.exists = true;
    target.device = st.st_dev;
    target.inode = st.st_ino;
    target.mode = st.st_mode;
    return target;
}

bool isSameFile(const OutputTarget& target, const fs::path& path) {
    if (target.exists) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && st.st_dev == target.device &&
            st.st_ino == target.inode) {
            return true;
        }
    }
    std::error_code a;
    std::error_code b;
    const fs::path mine = fs::weakly_canonical(fs::absolute(target.file), a);
    const fs::path theirs = fs::weakly_canonical(fs::absolute(path), b);
    return !a && !b && mine == theirs;
}

// ---------------------------------------------------------------------------

Result<PendingFile> PendingFile::create(const OutputTarget& target, std::string_view what) {
    const fs::path folder = folderOf(target.file);
    removeStaleTemporaries(folder);
    PendingFile pending;
    pending.target = target;
    pending.what = std::string(what);
    int error = EEXIST;
    for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
        const fs::path candidate = folder / temporaryName();
        pending.fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (pending.fd >= 0) {
            pending.temporary = candidate;
            break;
        }
        error = errno;
    }
    if (pending.fd < 0) {
        return Status::failure(
            cannotWrite(what, target.given,
                        "cannot create a file in " + folder.string() + ": " + errnoText(error)));
    }
    if (target.exists) {
        // the new file keeps the permissions of the one it replaces
        (void)::fchmod(pending.fd, target.mode & 07777);
    }
    return pending;
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : target(std::move(other.target)), what(std::move(other.what)),
      temporary(std::move(other.temporary)), fd(other.fd) {
    other.fd = -1;
    other.temporary.clear();
}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
    if (this != &other) {
        discard();
        target = std::move(other.target);
        what = std::move(other.what);
        temporary = std::move(other.temporary);
        fd = other.fd;
        other.fd = -1;
        other.temporary.clear();
    }
    return *this;
}

PendingFile::~PendingFile() {
    discard();
}

Status PendingFile::failed(const std::string& cause) {
    discard();
    return Status::failure(cannotWrite(what, target.given, cause));
}

Status PendingFile::write(std::span<const std::uint8_t> bytes) {
    if (fd < 0) {
        return Status::failure(cannotWrite(what, target.given, "the file is not open"));
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failed(errnoText(errno));
        }
        if (n == 0) {
            return failed(errnoText(ENOSPC));
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

Status PendingFile::write(std::string_view text) {
    return write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                               text.size()));
}

Status PendingFile::commit() {
    if (fd < 0) {
        return Status::failure(cannotWrite(what, target.given, "the file is not open"));
    }
    if (::fsync(fd) != 0) {
        return failed(errnoText(errno));
    }
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) {
        return failed(errnoText(errno));
    }
    if (::rename(temporary.c_str(), target.file.c_str()) != 0) {
        return failed(errnoText(errno));
    }
    temporary.clear();
    if (Status synced = syncFolder(folderOf(target.file)); !synced) {
        return Status::failure(cannotWrite(what, target.given, synced.message()));
    }
    return {};
}

void PendingFile::discard() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!temporary.empty()) {
        ::unlink(temporary.c_str());
        temporary.clear();
    }
}

// ---------------------------------------------------------------------------

namespace {
// The name of the writer's file inside a private folder: the video writer
// chooses the container from the extension.
constexpr const char* kFolderFileName = "output.avi";
} // namespace

Result<PendingFolder> PendingFolder::create(const OutputTarget& target, std::string_view what) {
    const fs::path parent = folderOf(target.file);
    removeStaleTemporaries(parent);
    PendingFolder pending;
    pending.target = target;
    pending.what = std::string(what);
    int error = EEXIST;
    for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
        const fs::path candidate = parent / temporaryName();
        if (::mkdir(candidate.c_str(), 0700) == 0) {
            pending.folder = candidate;
            break;
        }
        error = errno;
    }
    if (pending.folder.empty()) {
        return Status::failure(
            cannotWrite(what, target.given,
                        "cannot create a file in " + parent.string() + ": " + errnoText(error)));
    }
    return pending;
}

PendingFolder::PendingFolder(PendingFolder&& other) noexcept
    : target(std::move(other.target)), what(std::move(other.what)),
      folder(std::move(other.folder)) {
    other.folder.clear();
}

PendingFolder& PendingFolder::operator=(PendingFolder&& other) noexcept {
    if (this != &other) {
        discard();
        target = std::move(other.target);
        what = std::move(other.what);
        folder = std::move(other.folder);
        other.folder.clear();
    }
    return *this;
}

PendingFolder::~PendingFolder() {
    discard();
}

fs::path PendingFolder::filePath() const {
    return folder / kFolderFileName;
}

Status PendingFolder::commit() {
    const fs::path file = filePath();
    const auto fail = [this](const std::string& cause) {
        discard();
        return Status::failure(cannotWrite(what, target.given, cause));
    };
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return fail(errnoText(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("the writer left no regular file");
    }
    if (target.exists) {
        // the new file keeps the permissions of the one it replaces
        (void)::fchmod(fd, target.mode & 07777);
    }
    const int synced = ::fsync(fd);
    const int syncError = errno;
    ::close(fd);
    if (synced != 0) {
        return fail(errnoText(syncError));
    }
    if (::rename(file.c_str(), target.file.c_str()) != 0) {
        return fail(errnoText(errno));
    }
    discard();
    if (Status done = syncFolder(folderOf(target.file)); !done) {
        return Status::failure(cannotWrite(what, target.given, done.message()));
    }
    return {};
}

void PendingFolder::discard() {
    if (!folder.empty()) {
        removeFolder(folder);
        folder.clear();
    }
}

// ---------------------------------------------------------------------------

Status writeSideFile(const fs::path& path, std::string_view text, std::string_view what) {
    Result<OutputTarget> target = sideFileTarget(path, what);
    if (!target) {
        return target.status();
    }
    Result<PendingFile> pending = PendingFile::create(*target, what);
    if (!pending) {
        return pending.status();
    }
    if (Status written = pending->write(text); !written) {
        return written;
    }
    return pending->commit();
}

} // namespace veltrana
