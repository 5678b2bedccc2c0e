#pragma once
// A folder of files replaced as a whole (the run report's pictures).
//
// The new files are written into a folder under a temporary name beside the
// one they replace (job/safe_file.h), which is then exchanged with the old
// folder in one step; the old files, now under the temporary name, are
// removed last. A crash leaves the old folder or the new one, at worst with
// a stray temporary folder that the next run in that place removes.

#include "base/status.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace veltrana {

class FolderSwap {
public:
    // Makes the temporary folder beside `folder`, which may exist (a real
    // folder, not a link) or not. `what` names the whole for messages.
    static Result<FolderSwap> create(const std::filesystem::path& folder, std::string_view what);

    FolderSwap(FolderSwap&& other) noexcept;
    FolderSwap& operator=(FolderSwap&& other) noexcept;
    FolderSwap(const FolderSwap&) = delete;
    FolderSwap& operator=(const FolderSwap&) = delete;
    // Removes whatever the temporary name holds: the new files before
    // swapIn(), the old ones after.
    ~FolderSwap();

    // The new folder, for writers that take a path (before swapIn()).
    const std::filesystem::path& temporaryFolder() const { return temporary; }
    // Writes one new file, `name` inside the folder.
    Status write(const std::string& name, std::string_view bytes);

    // Puts the new folder in place of the old one; the old one stays under
    // the temporary name until removeOld() or swapBack().
    Status swapIn();
    // Puts the old folder back (when what had to follow the swap failed).
    void swapBack();
    // Removes the old folder for good.
    void removeOld();

private:
    FolderSwap() = default;

    std::filesystem::path folder;
    std::filesystem::path temporary;
    std::string what;
    bool swapped = false;
    bool hadOld = false;
};

} // namespace veltrana
