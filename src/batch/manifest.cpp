#include "batch/manifest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <map>

namespace veltrana::batch {

namespace {

using nlohmann::json;

// An id longer than this is no reel name but a mistake (and a file name
// must fit in 255 bytes with its suffixes).
constexpr std::size_t kIdLengthMax = 200;

Status lineProblem(int line, const std::string& cause) {
    return Status::failure("Manifest line " + std::to_string(line) + ": " + cause + ".");
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The value of one option key as the command line would take it.
Result<ReelOption> reelOption(int line, const std::string& key, const json& value,
                              const ManifestOption& option) {
    const auto refuse = [&](const std::string& why) {
        return lineProblem(line, "the key \"" + key + "\" " + why);
    };
    if (option.flag) {
        if (!value.is_boolean()) {
            return refuse("is a flag: give it true or false");
        }
        return ReelOption{key, std::nullopt};
    }
    if (value.is_string()) {
        return ReelOption{key, value.get<std::string>()};
    }
    if (value.is_number()) {
        return ReelOption{key, value.dump()};
    }
    return refuse("takes a number or a string");
}

// "scans": a path, relative to the manifest's folder.
Result<std::filesystem::path> reelScans(int line, const json& object,
                                        const std::filesystem::path& manifestFolder) {
    const auto found = object.find("scans");
    if (found == object.end() || !found->is_string() || found->get<std::string>().empty()) {
        return lineProblem(line, "the key \"scans\" must name the scans folder");
    }
    const std::filesystem::path scans(found->get<std::string>());
    return scans.is_absolute() ? scans : manifestFolder / scans;
}

// "movie": true for the standard movie, or the container of a movie with sound.
Status readReelMovie(int line, const json& value, Reel& reel) {
    if (value.is_boolean()) {
        reel.movie = value.get<bool>() ? ReelMovie::Standard : ReelMovie::None;
        return {};
    }
    if (value.is_string()) {
        const std::string format = value.get<std::string>();
        if (format == "avi" || format == "mp4" || format == "mkv") {
            reel.movie = ReelMovie::WithSound;
            reel.movieExtension = format;
            return {};
        }
    }
    return lineProblem(line, "the key \"movie\" takes true, false, or the container of a movie "
                             "with its sound: \"avi\", \"mp4\" or \"mkv\"");
}

// The keys other than id and scans.
Status readReelKeys(int line, const json& object, const std::vector<ManifestOption>& options,
                    const std::vector<std::string>& refused, Reel& reel) {
    for (const auto& item : object.items()) {
        // named, not bound: clang cannot capture a structured binding
        const std::string& key = item.key();
        const json& value = item.value();
        if (key == "id" || key == "scans") {
            continue;
        }
        if (key == "fixity") {
            if (!value.is_boolean()) {
                return lineProblem(line, "the key \"fixity\" takes true or false");
            }
            reel.fixity = value.get<bool>();
            continue;
        }
        if (key == "movie") {
            if (Status movie = readReelMovie(line, value, reel); !movie) {
                return movie;
            }
            continue;
        }
        if (std::find(refused.begin(), refused.end(), key) != refused.end()) {
            return lineProblem(line, "the key \"" + key + "\" is set by the batch itself");
        }
        const auto option = std::find_if(options.begin(), options.end(),
                                         [&](const ManifestOption& o) { return o.name == key; });
        if (option == options.end()) {
            return lineProblem(line, "the key \"" + key + "\" is no option of veltrana soundtrack");
        }
        Result<ReelOption> given = reelOption(line, key, value, *option);
        if (!given) {
            return given.status();
        }
        if (!option->flag || value.get<bool>()) {
            reel.options.push_back(std::move(given).value());
        }
    }
    return {};
}

Result<Reel> readReel(int line, std::string_view text, const std::filesystem::path& manifestFolder,
                      const std::vector<ManifestOption>& options,
                      const std::vector<std::string>& refused) {
    json object = json::parse(text, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        return lineProblem(line, "it is not a JSON object");
    }
    Reel reel;
    reel.line = line;
    const auto id = object.find("id");
    if (id == object.end() || !id->is_string() || !isReelId(id->get<std::string>())) {
        return lineProblem(line, "the key \"id\" must be letters, digits, '.', '_' and '-', "
                                 "starting with a letter or digit");
    }
    reel.id = id->get<std::string>();
    Result<std::filesystem::path> scans = reelScans(line, object, manifestFolder);
    if (!scans) {
        return scans.status();
    }
    reel.scans = std::move(scans).value();
    if (Status keys = readReelKeys(line, object, options, refused, reel); !keys) {
        return keys;
    }
    object.erase("id");
    reel.settingsJson = object.dump();
    return reel;
}

} // namespace

bool isReelId(std::string_view id) {
    if (id.empty() || id.size() > kIdLengthMax ||
        std::isalnum(static_cast<unsigned char>(id.front())) == 0) {
        return false;
    }
    return std::all_of(id.begin(), id.end(), [](unsigned char c) {
        return (c < 0x80 && std::isalnum(c) != 0) || c == '.' || c == '_' || c == '-';
    });
}

Result<std::vector<Reel>> readManifest(std::string_view text,
                                       const std::filesystem::path& manifestFolder,
                                       const std::vector<ManifestOption>& options,
                                       const std::vector<std::string>& refused) {
    std::vector<Reel> reels;
    std::map<std::string, int> idLines; // lowered id -> its line
    int line = 0;
    while (!text.empty()) {
        ++line;
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view row = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (row.find_first_not_of(" \t\r") == std::string_view::npos) {
            continue;
        }
        Result<Reel> reel = readReel(line, row, manifestFolder, options, refused);
        if (!reel) {
            return reel.status();
        }
        const auto [earlier, fresh] = idLines.emplace(lowered(reel->id), line);
        if (!fresh) {
            return lineProblem(line, "the key \"id\" repeats the id \"" + reel->id + "\" of line " +
                                         std::to_string(earlier->second) +
                                         " (ids are compared ignoring case)");
        }
        reels.push_back(std::move(reel).value());
    }
    if (reels.empty()) {
        return Status::failure("The manifest lists no reel.");
    }
    return reels;
}

std::vector<std::string> optionArguments(const std::vector<ReelOption>& options) {
    std::vector<std::string> args;
    for (const ReelOption& option : options) {
        args.push_back("--" + option.name);
        if (option.value) {
            args.push_back(*option.value);
        }
    }
    return args;
}

} // namespace veltrana::batch
