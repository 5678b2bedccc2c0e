#pragma once
// The batch manifest: JSON Lines, one reel to a line.
//
// Each line is an object with "id" (letters, digits, '.', '_' and '-',
// starting with a letter or digit; unique, also ignoring case, since
// archives share folders over SMB), "scans" (the folder or any scan in it,
// relative to the manifest's folder) and options of the soundtrack command
// by their long names without dashes. A number or a string is the option's
// value as typed on the command line; true gives a flag and false leaves it
// out. "movie" and "fixity" belong to the batch itself. Lines are counted
// from 1 in messages; reels are indexed from 0 (--index). Blank lines are
// no reels.

#include "base/status.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrana::batch {

// An option a manifest line may give.
struct ManifestOption {
    std::string name;  // the long name without dashes ("film")
    bool flag = false; // takes no value: only true or false
    // taken only beside another option (the film command's sound options
    // beside --with-sound)
    bool needsAnother = false;
};

// One command-line argument list of a reel's option, as typed.
struct ReelOption {
    std::string name;
    std::optional<std::string> value; // none for a flag
};

// "movie": true makes the standard movie (AVI, without sound); "avi",
// "mp4" or "mkv" a movie of that container with its sound.
enum class ReelMovie { None, Standard, WithSound };

struct Reel {
    int line = 0; // in the manifest, from 1
    std::string id;
    std::filesystem::path scans; // resolved against the manifest's folder
    std::vector<ReelOption> options;
    ReelMovie movie = ReelMovie::None;
    std::string movieExtension = "avi";
    bool fixity = false;
    // the line's keys but "id", as the record keeps them (JSON text)
    std::string settingsJson;
};

// The largest manifest read: a million reels of long paths fit well below.
inline constexpr std::size_t kManifestBytesMax = std::size_t{256} << 20;

// Reads a whole manifest. `options` are the soundtrack command's; `refused`
// the ones the batch sets itself. Fails with one sentence naming the line
// and the key.
Result<std::vector<Reel>> readManifest(std::string_view text,
                                       const std::filesystem::path& manifestFolder,
                                       const std::vector<ManifestOption>& options,
                                       const std::vector<std::string>& refused);

// Whether `id` may name a reel (and so a folder): see above.
bool isReelId(std::string_view id);

// The arguments of a reel's options, "--film", "16va", ...
std::vector<std::string> optionArguments(const std::vector<ReelOption>& options);

} // namespace veltrana::batch
