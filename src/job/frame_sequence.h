#pragma once
// The frame sequence: the scans of one frame directory, in order.
//
// The scans are the files of one format: TIFF (names ending in ".tif" or
// ".tiff", any case), DPX (".dpx") or OpenEXR (".exr"). Frame k (1-based) is
// the k-th of them in natural order: "frame2" before "frame10". Numbers in
// the names only sort: "reel_086400.dpx" is frame 1 when it comes first.

#include "base/status.h"
#include "job/safe_file.h"

#include <opencv2/core.hpp>

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltrana {

enum class ScanFileFormat { Tiff, Dpx, OpenExr };

struct FrameSequence {
    std::filesystem::path directory;           // the frame directory
    std::vector<std::filesystem::path> frames; // full paths, frame 1 first
    ScanFileFormat format = ScanFileFormat::Tiff;
    // What the run should say before it starts: scans of other formats left
    // out, numbers in the names that skip (a missing scan). The run goes on.
    std::vector<std::string> warnings;
};

// Lists the frame directory named by `input`: the directory itself, or any
// scan in it (the desktop program's input dialog picks one), whose format
// is then the sequence's. A folder holding scans of more than one format is
// read in the first of TIFF, DPX and OpenEXR that it holds (TIFF as always),
// with a warning naming the others. Anything else, and a path that does not
// exist, is an error. Hidden files (names starting with a dot) are no
// frames. A folder without scans is a sequence of none; checkFrameRange
// says so.
Result<FrameSequence> listFrameSequence(const std::filesystem::path& input);

// The format of a scan file by its name; none for other files.
std::optional<ScanFileFormat> scanFileFormatOf(const std::filesystem::path& path);

// The numbers missing between the first and the last of the scans' names
// (the last run of digits in each name), in order; none when a name has no
// number or two names share one. At most `most` of them.
std::vector<long long> missingScanNumbers(const std::vector<std::filesystem::path>& frames,
                                          std::size_t most);

// Refuses an output that is one of the scans of the sequence, or one of the
// files a job writes beside them (`sideFiles`, names in the frame directory).
// Files are compared by identity, so a link or a second name is caught too.
Status checkOutputIsNoInput(const OutputTarget& target, const FrameSequence& sequence,
                            std::span<const std::string_view> sideFiles, std::string_view what);

// Natural order: runs of digits compare by value, everything else by byte.
bool naturalLess(std::string_view a, std::string_view b);

// Checks a 1-based range against the sequence: a failure names how many scans
// were found.
Status checkFrameRange(const FrameSequence& sequence, int firstFrame, int lastFrame);

// A frame whose size differs from the first frame's by more than this share
// on either side is pointed out: it may be turned or of another film.
inline constexpr double kFrameSizeTolerance = 0.05;

// Nothing when frame n (width x height) is about as large as the first frame
// of the run; otherwise the log line that says it is not.
std::optional<std::string> frameSizeWarning(int n, cv::Size size, int firstFrame,
                                            cv::Size firstSize);

} // namespace veltrana
