#include "job/safe_file.h"

#include <algorithm>
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
// the most of the host name a temporary name takes
constexpr std::size_t kHostNameLength = 64;

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

} // namespace

// Filesystems that cannot sync a folder say so with EINVAL.
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

namespace {

// The folders of a program's folder go this deep at most (a batch reel's
// report/report_files); deeper ones are left.
constexpr int kFolderDepthMax = 3;

void removeFolderTree(const fs::path& folder, int depth) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        struct stat st {};
        // lstat: a link is removed, never followed
        if (::lstat(entry.path().c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (depth < kFolderDepthMax) {
                removeFolderTree(entry.path(), depth + 1);
            }
        } else {
            ::unlink(entry.path().c_str());
        }
    }
    ::rmdir(folder.c_str());
}

} // namespace

void removeFolderOfFiles(const fs::path& folder) {
    removeFolderTree(folder, 1);
}

Status writeNewFile(const fs::path& path, std::string_view bytes, std::string_view what,
                    bool synced) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return Status::failure(cannotWrite(what, path, errnoText(errno)));
    }
    std::size_t done = 0;
    int error = 0;
    while (done < bytes.size() && error == 0) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            error = n == 0 ? ENOSPC : errno;
        }
    }
    if (error == 0 && synced && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(path.c_str());
        return Status::failure(cannotWrite(what, path, errnoText(error)));
    }
    return {};
}

namespace {

bool processRuns(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

// The existing regular file a target replaces.
void remember(OutputTarget& target, const struct stat& st) {
    target.exists = true;
    target.device = st.st_dev;
    target.inode = st.st_ino;
    target.mode = st.st_mode;
    target.owner = st.st_uid;
    target.group = st.st_gid;
}

// Gives the new file the permissions of the one it replaces, and its owner
// and group as far as this user may: root gives both, anyone else the group
// when a member of it. The owner goes first, as a change of owner clears the
// set-user-id bits.
void keepOwnerAndMode(int fd, const OutputTarget& target) {
    if (!target.exists) {
        return;
    }
    if (::geteuid() == 0) {
        (void)::fchown(fd, target.owner, target.group);
    } else {
        (void)::fchown(fd, static_cast<uid_t>(-1), target.group);
    }
    (void)::fchmod(fd, target.mode & 07777);
}

// What stands at the final name just before the rename: nothing or a
// regular file, as when the run began (or a link, for a name replaced as
// such). Anything else was put there during the run and stays.
Status checkStillReplaceable(const OutputTarget& target) {
    struct stat st {};
    if (::fstatat(AT_FDCWD, target.file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Status() : Status::failure(errnoText(errno));
    }
    if (S_ISREG(st.st_mode) || (S_ISLNK(st.st_mode) && target.replacedAsName)) {
        return {};
    }
    return Status::failure(target.file.string() + " became " +
                           (S_ISLNK(st.st_mode) ? std::string("a link") : kindOf(st.st_mode)) +
                           " during the run; only regular files are replaced");
}

// Whether the file behind `fd` starts as a RIFF file of the given form.
bool startsAsRiff(int fd, std::string_view form) {
    char header[12] = {};
    if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
        return false;
    }
    return std::string_view(header, 4) == "RIFF" && std::string_view(header + 8, 4) == form;
}

} // namespace

std::string temporaryHostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return "localhost";
    }
    std::string name;
    for (const char* c = host; *c != '\0' && name.size() < kHostNameLength; ++c) {
        const bool kept = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                          (*c >= '0' && *c <= '9') || *c == '.' || *c == '_';
        name += kept ? *c : '_';
    }
    return name;
}

std::string temporaryName() {
    std::string name(kTemporaryPrefix);
    name += temporaryHostName();
    name += '-';
    name += std::to_string(::getpid());
    name += '-';
    name += randomHex();
    name += kTemporarySuffix;
    return name;
}

std::optional<TemporaryNameParts> parseTemporaryName(std::string_view name) {
    if (name.size() <= kTemporaryPrefix.size() + kTemporarySuffix.size() ||
        name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix ||
        name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix) {
        return std::nullopt;
    }
    // host-pid-random: the host holds no dash
    const std::string_view middle = name.substr(
        kTemporaryPrefix.size(), name.size() - kTemporaryPrefix.size() - kTemporarySuffix.size());
    const std::size_t first = middle.find('-');
    const std::size_t second =
        first == std::string_view::npos ? first : middle.find('-', first + 1);
    if (first == 0 || second == std::string_view::npos ||
        middle.find('-', second + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view pid = middle.substr(first + 1, second - first - 1);
    const std::string_view random = middle.substr(second + 1);
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto isHex = [&](char c) { return isDigit(c) || (c >= 'a' && c <= 'f'); };
    if (pid.empty() || pid.size() > 9 || random.empty() ||
        !std::all_of(pid.begin(), pid.end(), isDigit) ||
        !std::all_of(random.begin(), random.end(), isHex)) {
        return std::nullopt;
    }
    TemporaryNameParts parts;
    parts.host = std::string(middle.substr(0, first));
    for (char c : pid) {
        parts.pid = parts.pid * 10 + (c - '0');
    }
    return parts;
}

void removeStaleTemporaries(const fs::path& folder) {
    const std::string host = temporaryHostName();
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        const std::optional<TemporaryNameParts> parts =
            parseTemporaryName(entry.path().filename().string());
        // another machine's processes cannot be asked whether they run
        if (!parts || parts->host != host || parts->pid == ::getpid()) {
            continue;
        }
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || st.st_uid != ::geteuid() ||
            processRuns(parts->pid)) {
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            ::unlink(entry.path().c_str());
        } else if (S_ISDIR(st.st_mode)) {
            removeFolderOfFiles(entry.path());
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
    remember(target, st);
    return target;
}

Result<OutputTarget> sideFileTarget(const fs::path& path, std::string_view what) {
    OutputTarget target;
    target.given = path;
    target.file = path;
    target.replacedAsName = true;
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
    remember(target, st);
    return target;
}

bool fileStartsAsRiff(const fs::path& path, std::string_view form) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool riff = startsAsRiff(fd, form);
    ::close(fd);
    return riff;
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
            ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
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
    keepOwnerAndMode(pending.fd, target);
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
    if (!riffForm.empty() && !startsAsRiff(fd, riffForm)) {
        return failed("what was written does not start as a RIFF " + riffForm + " file");
    }
    if (::fsync(fd) != 0) {
        return failed(errnoText(errno));
    }
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) {
        return failed(errnoText(errno));
    }
    if (Status still = checkStillReplaceable(target); !still) {
        return failed(still.message());
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
    keepOwnerAndMode(fd, target);
    const int synced = ::fsync(fd);
    const int syncError = errno;
    ::close(fd);
    if (synced != 0) {
        return fail(errnoText(syncError));
    }
    if (Status still = checkStillReplaceable(target); !still) {
        return fail(still.message());
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
        removeFolderOfFiles(folder);
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
