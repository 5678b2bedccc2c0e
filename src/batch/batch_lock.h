#pragma once
// The locks of a batch's output folder.
//
// Every task of one manifest (a scheduler's array runs many at once) holds a
// shared lock on a file named for that manifest in the output folder. A task
// refuses to start while another manifest's file is locked: two manifests
// writing into one folder at once would mix their summaries and could give
// one reel id two meanings. (Refusing is what a scheduler can act on; waiting
// would hold a node idle.) Two tasks of the same manifest given the same reel
// (a requeue while the first still runs) are kept apart by a lock per reel:
// the second refuses.
//
// The locks are flock() on files beside the reels' folders (never beside the
// scans). They go with the process however it ends; the files stay, empty,
// for the next run.

#include "base/status.h"

#include <filesystem>
#include <string_view>

namespace veltrana::batch {

// One held lock file; moves, never copies.
class HeldLock {
public:
    HeldLock() = default;
    ~HeldLock();
    HeldLock(HeldLock&& other) noexcept;
    HeldLock& operator=(HeldLock&& other) noexcept;
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

    // Opens (making it when needed) and locks `file`, shared or not, without
    // waiting. `busy` is the sentence when another holds it.
    static Result<HeldLock> take(const std::filesystem::path& file, bool shared,
                                 std::string_view busy);

private:
    explicit HeldLock(int fd) : fd(fd) {}
    int fd = -1;
};

// Locks `outputFolder` for the manifest whose bytes have the MD5 digest
// `manifestDigest`, refusing while another manifest writes there.
Result<HeldLock> lockForManifest(const std::filesystem::path& outputFolder,
                                 std::string_view manifestDigest);

// Locks reel `id` in `outputFolder` for this task alone.
Result<HeldLock> lockReel(const std::filesystem::path& outputFolder, std::string_view id);

} // namespace veltrana::batch
