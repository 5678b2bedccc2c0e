#pragma once
// One run at a time in a folder a run writes into.
//
// Two runs on the same scans folder would each write leng.txt, v.txt, z.txt
// and r.txt there, and two runs into one report folder each its pictures:
// every file whole, but the set mixed from both runs. A run therefore locks
// the folders it writes side files into, and a second run refuses at once.
//
// The lock is flock() on the folder itself, opened read-only: a scans folder
// may be read-only, and nothing new may appear in it. It is held for the
// life of the FolderLocks object and goes with the process however it ends.
// Two runs in one process lock each other out too (each has its own open
// folder), except that one run may name the same folder twice.

#include "base/status.h"

#include <sys/types.h>

#include <filesystem>
#include <string_view>
#include <vector>

namespace veltrana {

class FolderLocks {
public:
    FolderLocks() = default;
    ~FolderLocks();
    FolderLocks(FolderLocks&& other) noexcept;
    FolderLocks& operator=(FolderLocks&& other) noexcept;
    FolderLocks(const FolderLocks&) = delete;
    FolderLocks& operator=(const FolderLocks&) = delete;

    // Locks `folder` ("the scans folder" is `what`), or does nothing when
    // this object holds it already. Fails at once, naming the folder, when
    // another run holds it. A folder that cannot be opened is not locked:
    // the run finds out what is wrong with it where it writes there.
    Status lock(const std::filesystem::path& folder, std::string_view what);

    // Lets every folder go.
    void release();

private:
    struct Held {
        int fd = -1;
        dev_t device = 0;
        ino_t inode = 0;
    };
    std::vector<Held> held;
};

// The folders a job run writes beside its output: the scans folder of
// `frames` when the job writes its side files there, and the report folder
// when it exists.
Status lockJobFolders(FolderLocks& locks, const std::filesystem::path& frames,
                      bool sideFilesBesideScans, const std::filesystem::path& reportDir);

} // namespace veltrana
