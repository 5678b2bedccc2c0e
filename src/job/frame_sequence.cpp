#include "job/frame_sequence.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace veltrana {

namespace {

bool isScanName(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".tif" || ext == ".tiff";
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // compare the digit runs by value: skip leading zeros, then length, then digits
            std::size_t ie = i;
            while (ie < a.size() && isDigit(a[ie])) {
                ++ie;
            }
            std::size_t je = j;
            while (je < b.size() && isDigit(b[je])) {
                ++je;
            }
            std::size_t is = i;
            while (is + 1 < ie && a[is] == '0') {
                ++is;
            }
            std::size_t js = j;
            while (js + 1 < je && b[js] == '0') {
                ++js;
            }
            const std::string_view da = a.substr(is, ie - is);
            const std::string_view db = b.substr(js, je - js);
            if (da.size() != db.size()) {
                return da.size() < db.size();
            }
            if (da != db) {
                return da < db;
            }
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) {
        return (a.size() - i) < (b.size() - j);
    }
    return a < b; // equal by value ("01" and "1"): a stable, total order
}

Result<FrameSequence> listFrameSequence(const std::filesystem::path& input) {
    namespace fs = std::filesystem;
    FrameSequence sequence;
    std::error_code ec;
    const fs::path absolute = fs::absolute(input, ec);
    if (ec || input.empty()) {
        return Status::failure("No frames: the path \"" + input.string() + "\" cannot be used");
    }
    // a link is followed; one that leads nowhere is a path that does not exist
    const fs::file_status status = fs::status(absolute, ec);
    if (ec == std::errc::filename_too_long) {
        return Status::failure("No frames: the path " + input.string() +
                               " is longer than the system allows");
    }
    if (!fs::exists(status)) {
        return Status::failure("No frames: " + input.string() + " does not exist");
    }
    if (fs::is_directory(status)) {
        sequence.directory = absolute;
    } else if (fs::is_regular_file(status) && isScanName(absolute)) {
        // a scan stands for its folder
        sequence.directory = absolute.parent_path();
    } else {
        return Status::failure("No frames: " + input.string() +
                               " is neither a folder of scans nor a .tif or .tiff scan");
    }
    fs::directory_iterator it(sequence.directory, ec);
    if (ec) {
        return Status::failure("Cannot list " + sequence.directory.string() + ": " + ec.message());
    }
    for (const fs::directory_entry& entry : it) {
        std::error_code typeError;
        const std::string name = entry.path().filename().string();
        // hidden files are no frames: "._frame.tif" is a copy's resource fork
        if (!name.empty() && name.front() != '.' && isScanName(entry.path()) &&
            !entry.is_directory(typeError)) {
            sequence.frames.push_back(entry.path());
        }
    }
    std::sort(sequence.frames.begin(), sequence.frames.end(),
              [](const fs::path& a, const fs::path& b) {
                  return naturalLess(a.filename().string(), b.filename().string());
              });
    return sequence;
}

Status checkOutputIsNoInput(const OutputTarget& target, const FrameSequence& sequence,
                            std::span<const std::string_view> sideFiles, std::string_view what) {
    const auto refuse = [&](const std::string& cause) {
        return Status::failure("Cannot write " + std::string(what) + " to " +
                               target.given.string() + ": " + cause);
    };
    for (std::string_view side : sideFiles) {
        if (isSameFile(target, sequence.directory / side)) {
            return refuse("the run writes its " + std::string(side) + " there");
        }
    }
    for (const std::filesystem::path& frame : sequence.frames) {
        if (isSameFile(target, frame)) {
            return refuse("it is the scan " + frame.filename().string() + " of this run");
        }
    }
    return {};
}

Status checkFrameRange(const FrameSequence& sequence, int firstFrame, int lastFrame) {
    const std::string found = "found " + std::to_string(sequence.frames.size()) + " scan" +
                              (sequence.frames.size() == 1 ? "" : "s") + " (.tif) in " +
                              sequence.directory.string();
    if (sequence.frames.empty()) {
        return Status::failure("No scans: " + found);
    }
    if (firstFrame < 1) {
        return Status::failure("The first frame must be 1 or more");
    }
    if (static_cast<std::size_t>(firstFrame) > sequence.frames.size()) {
        return Status::failure("The first frame " + std::to_string(firstFrame) +
                               " lies past the last scan: " + found);
    }
    if (lastFrame < firstFrame) {
        return Status::failure("The last frame (" + std::to_string(lastFrame) +
                               ") is below the first frame (" + std::to_string(firstFrame) + ")");
    }
    if (static_cast<std::size_t>(lastFrame) > sequence.frames.size()) {
        return Status::failure("The range " + std::to_string(firstFrame) + " to " +
                               std::to_string(lastFrame) + " runs past the last scan: " + found);
    }
    return {};
}

std::optional<std::string> frameSizeWarning(int n, cv::Size size, int firstFrame,
                                            cv::Size firstSize) {
    const auto apart = [](int a, int b) {
        return std::abs(a - b) > kFrameSizeTolerance * std::max(b, 1);
    };
    if (!apart(size.width, firstSize.width) && !apart(size.height, firstSize.height)) {
        return std::nullopt;
    }
    return "Frame " + std::to_string(n) + " is " + std::to_string(size.width) + " x " +
           std::to_string(size.height) + " pixels, frame " + std::to_string(firstFrame) + " " +
           std::to_string(firstSize.width) + " x " + std::to_string(firstSize.height) +
           ": it may be turned or of another film";
}

} // namespace veltrana
