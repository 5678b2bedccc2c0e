#pragma once
// What the end-to-end tests of the output rules need: a record of every file
// under a folder to tell what a run changed, the temporaries it may leave,
// and filesystems that are full or read-only.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltrana::test {

// Every entry under a folder, by path relative to it: a regular file by its
// size and a hash of its bytes, a link by where it points, anything else by
// its kind. Links are recorded, never followed.
class FolderSnapshot {
public:
    explicit FolderSnapshot(const std::filesystem::path& folder);

    // The relative paths that were added, removed or changed since `before`,
    // sorted.
    std::vector<std::string> changedSince(const FolderSnapshot& before) const;

    const std::map<std::string, std::string>& entries() const { return described; }

private:
    std::map<std::string, std::string> described;
};

// The program's temporaries (".veltrana-*") anywhere under a folder,
// relative to it.
std::vector<std::string> temporariesUnder(const std::filesystem::path& folder);

// A filesystem mounted over an existing folder for the life of the object.
// Mounting needs root in a container that allows it; when it is not allowed
// the object stays unmounted and says why.
class ScopedMount {
public:
    ScopedMount() = default;
    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    // A tmpfs of `bytes` (rounded up to pages) at `at`.
    bool mountTmpfs(const std::filesystem::path& at, std::size_t bytes);
    // The folder itself, bound read-only over itself.
    bool bindReadOnly(const std::filesystem::path& folder);

    bool mounted() const { return !where.empty(); }
    const std::string& whyNot() const { return failure; }

private:
    std::filesystem::path where;
    std::string failure;
};

// Fills the filesystem that holds `folder` with one file, `filler`, so that
// about `room` bytes stay free (rounded to whole blocks). Returns false when
// the filesystem could not be filled.
bool fillDisk(const std::filesystem::path& filler, std::size_t room);

// A small TIFF that claims `side` x `side` grey pixels, in a few short
// deflate strips: its header is all a run should read of it.
bool writeHugeClaimTiff(const std::filesystem::path& path, std::uint32_t side);

// A 128 x 128 TIFF of a layout scanners do not write: `bits` per sample,
// `samples` per pixel, the given photometric interpretation (a palette gets
// a grey colour map), in one uncompressed strip.
bool writeUnusualTiff(const std::filesystem::path& path, std::uint16_t bits, std::uint16_t samples,
                      std::uint16_t photometric);

// Whether the tests run as root (who passes permission checks).
bool runningAsRoot();

// A process id that no process has: larger than the kernel hands out.
long unusedProcessId();

} // namespace veltrana::test
