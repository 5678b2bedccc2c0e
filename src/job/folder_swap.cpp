#include "job/folder_swap.h"

#include "job/safe_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace veltrana {

namespace fs = std::filesystem;

namespace {

constexpr int kNameAttempts = 16;

fs::path folderOf(const fs::path& path) {
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// Exchanges two names in one step; where the filesystem cannot, moves `a`
// aside to `b`'s name first, in two steps.
int exchange(const fs::path& a, const fs::path& b) {
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    const fs::path aside = folderOf(a) / temporaryName();
    if (::rename(b.c_str(), aside.c_str()) != 0) {
        return -1;
    }
    if (::rename(a.c_str(), b.c_str()) != 0) {
        const int error = errno;
        (void)::rename(aside.c_str(), b.c_str());
        errno = error;
        return -1;
    }
    return ::rename(aside.c_str(), a.c_str());
}

} // namespace

Result<FolderSwap> FolderSwap::create(const fs::path& folder, std::string_view what) {
    FolderSwap swap;
    swap.folder = folder;
    swap.what = std::string(what);
    struct stat st {};
    swap.hadOld = ::lstat(folder.c_str(), &st) == 0;
    if (swap.hadOld && !S_ISDIR(st.st_mode)) {
        return Status::failure(
            "Cannot write " + swap.what + " to " + folder.string() + ": " +
            (S_ISLNK(st.st_mode) ? "it is a link, not a folder" : "it is not a folder"));
    }
    const fs::path parent = folderOf(folder);
    removeStaleTemporaries(parent);
    int error = EEXIST;
    for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
        const fs::path candidate = parent / temporaryName();
        if (::mkdir(candidate.c_str(), 0777) == 0) {
            swap.temporary = candidate;
            return swap;
        }
        error = errno;
    }
    return Status::failure("Cannot write " + swap.what + " to " + parent.string() +
                           ": cannot create a folder there: " + std::strerror(error));
}

FolderSwap::FolderSwap(FolderSwap&& other) noexcept
    : folder(std::move(other.folder)), temporary(std::move(other.temporary)),
      what(std::move(other.what)), swapped(other.swapped), hadOld(other.hadOld) {
    other.temporary.clear();
}

FolderSwap& FolderSwap::operator=(FolderSwap&& other) noexcept {
    if (this != &other) {
        removeOld();
        folder = std::move(other.folder);
        temporary = std::move(other.temporary);
        what = std::move(other.what);
        swapped = other.swapped;
        hadOld = other.hadOld;
        other.temporary.clear();
    }
    return *this;
}

FolderSwap::~FolderSwap() {
    removeOld();
}

Status FolderSwap::write(const std::string& name, std::string_view bytes) {
    return writeNewFile(temporary / name, bytes, what);
}

Status FolderSwap::swapIn() {
    const auto failed = [this](const std::string& cause) {
        return Status::failure("Cannot write " + what + " to " + folder.string() + ": " + cause);
    };
    if (Status synced = syncFolder(temporary); !synced) {
        return failed(synced.message());
    }
    const int moved =
        hadOld ? exchange(temporary, folder) : ::rename(temporary.c_str(), folder.c_str());
    if (moved != 0) {
        return failed(std::strerror(errno));
    }
    swapped = true;
    if (!hadOld) {
        temporary.clear(); // nothing old to remove
    }
    if (Status synced = syncFolder(folderOf(folder)); !synced) {
        return failed(synced.message());
    }
    return {};
}

void FolderSwap::swapBack() {
    if (!swapped) {
        return;
    }
    if (hadOld) {
        (void)exchange(temporary, folder);
    } else {
        // the new folder goes back under a temporary name, to be removed
        temporary = folderOf(folder) / temporaryName();
        (void)::rename(folder.c_str(), temporary.c_str());
    }
    swapped = false;
}

void FolderSwap::removeOld() {
    if (!temporary.empty()) {
        removeFolderOfFiles(temporary);
        temporary.clear();
    }
}

} // namespace veltrana
