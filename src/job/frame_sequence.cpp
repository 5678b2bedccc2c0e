#include "job/frame_sequence.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>

namespace veltrana {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr std::array<ScanFileFormat, 3> kFormats = {ScanFileFormat::Tiff, ScanFileFormat::Dpx,
                                                    ScanFileFormat::OpenExr};

const char* formatName(ScanFileFormat format) {
    switch (format) {
    case ScanFileFormat::Dpx:
        return "DPX";
    case ScanFileFormat::OpenExr:
        return "OpenEXR";
    default:
        return "TIFF";
    }
}

const char* extensionOf(ScanFileFormat format) {
    switch (format) {
    case ScanFileFormat::Dpx:
        return ".dpx";
    case ScanFileFormat::OpenExr:
        return ".exr";
    default:
        return ".tif";
    }
}

// The frame directory `input` names, and the format of the scan it names
// when it names one.
struct NamedFrames {
    std::filesystem::path directory;
    std::optional<ScanFileFormat> format;
};

Result<NamedFrames> namedFrames(const std::filesystem::path& input) {
    namespace fs = std::filesystem;
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
        return NamedFrames{absolute, std::nullopt};
    }
    if (const auto format = scanFileFormatOf(absolute); fs::is_regular_file(status) && format) {
        // a scan stands for its folder, and its format for the folder's
        return NamedFrames{absolute.parent_path(), format};
    }
    return Status::failure("No frames: " + input.string() +
                           " is neither a folder of scans nor a .tif, .tiff, .dpx or .exr scan");
}

// The scans of each format in the folder, unsorted.
Result<std::array<std::vector<std::filesystem::path>, 3>>
scansByFormat(const std::filesystem::path& directory) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(directory, ec);
    if (ec) {
        return Status::failure("Cannot list " + directory.string() + ": " + ec.message());
    }
    std::array<std::vector<fs::path>, 3> scans;
    for (const fs::directory_entry& entry : it) {
        std::error_code typeError;
        const std::string name = entry.path().filename().string();
        // hidden files are no frames: "._frame.tif" is a copy's resource fork
        const auto format = scanFileFormatOf(entry.path());
        if (!name.empty() && name.front() != '.' && format && !entry.is_directory(typeError)) {
            scans[static_cast<std::size_t>(*format)].push_back(entry.path());
        }
    }
    return scans;
}

// The warning that names the scans of other formats the run leaves out.
std::optional<std::string>
otherFormatsWarning(const std::array<std::vector<std::filesystem::path>, 3>& scans,
                    ScanFileFormat chosen) {
    std::string others;
    for (const ScanFileFormat format : kFormats) {
        const std::size_t count = scans[static_cast<std::size_t>(format)].size();
        if (format != chosen && count > 0) {
            others += (others.empty() ? "" : " and ") + std::to_string(count) + " " +
                      formatName(format) + " scan" + (count == 1 ? "" : "s");
        }
    }
    if (others.empty()) {
        return std::nullopt;
    }
    return std::string("The folder also holds ") + others + "; only its " + formatName(chosen) +
           " scans are read";
}

std::optional<std::string> missingNumbersWarning(const std::vector<std::filesystem::path>& frames) {
    constexpr std::size_t kNamed = 12;
    const std::vector<long long> missing = missingScanNumbers(frames, kNamed + 1);
    if (missing.empty()) {
        return std::nullopt;
    }
    std::string list;
    for (std::size_t i = 0; i < std::min(missing.size(), kNamed); ++i) {
        list += (i == 0 ? "" : ", ") + std::to_string(missing[i]);
    }
    if (missing.size() > kNamed) {
        list += ", ...";
    }
    return "The scans' numbers skip " + list +
           ": a scan may be missing; frames are counted over the scans there are";
}

// The last run of digits in a file's stem, or -1.
long long lastNumberIn(const std::filesystem::path& file) {
    const std::string stem = file.stem().string();
    std::size_t end = stem.size();
    while (end > 0 && !isDigit(stem[end - 1])) {
        --end;
    }
    std::size_t begin = end;
    while (begin > 0 && isDigit(stem[begin - 1]) && end - begin < 15) {
        --begin;
    }
    return begin == end ? -1 : std::stoll(stem.substr(begin, end - begin));
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

std::optional<ScanFileFormat> scanFileFormatOf(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".tif" || ext == ".tiff") {
        return ScanFileFormat::Tiff;
    }
    if (ext == ".dpx") {
        return ScanFileFormat::Dpx;
    }
    if (ext == ".exr") {
        return ScanFileFormat::OpenExr;
    }
    return std::nullopt;
}

std::vector<long long> missingScanNumbers(const std::vector<std::filesystem::path>& frames,
                                          std::size_t most) {
    std::vector<long long> numbers;
    for (const std::filesystem::path& frame : frames) {
        numbers.push_back(lastNumberIn(frame));
        if (numbers.back() < 0) {
            return {};
        }
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<long long> missing;
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] == numbers[i - 1]) {
            return {};
        }
        for (long long n = numbers[i - 1] + 1; n < numbers[i] && missing.size() < most; ++n) {
            missing.push_back(n);
        }
    }
    return missing;
}

Result<FrameSequence> listFrameSequence(const std::filesystem::path& input) {
    namespace fs = std::filesystem;
    const Result<NamedFrames> named = namedFrames(input);
    if (!named) {
        return named.status();
    }
    Result<std::array<std::vector<fs::path>, 3>> scans = scansByFormat(named->directory);
    if (!scans) {
        return scans.status();
    }
    FrameSequence sequence;
    sequence.directory = named->directory;
    // the named scan's format, or the first format the folder holds
    sequence.format = named->format.value_or(ScanFileFormat::Tiff);
    if (!named->format) {
        const auto held = std::find_if(kFormats.begin(), kFormats.end(), [&](ScanFileFormat f) {
            return !(*scans)[static_cast<std::size_t>(f)].empty();
        });
        sequence.format = held != kFormats.end() ? *held : ScanFileFormat::Tiff;
    }
    sequence.frames = std::move((*scans)[static_cast<std::size_t>(sequence.format)]);
    std::sort(sequence.frames.begin(), sequence.frames.end(),
              [](const fs::path& a, const fs::path& b) {
                  return naturalLess(a.filename().string(), b.filename().string());
              });
    if (auto others = otherFormatsWarning(*scans, sequence.format)) {
        sequence.warnings.push_back(std::move(*others));
    }
    if (auto missing = missingNumbersWarning(sequence.frames)) {
        sequence.warnings.push_back(std::move(*missing));
    }
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
                              (sequence.frames.size() == 1 ? "" : "s") + " (" +
                              extensionOf(sequence.format) + ") in " + sequence.directory.string();
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
