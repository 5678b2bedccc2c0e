#pragma once
// The frame sequence: the scans of one frame directory, in order.
//
// Frame k (1-based) is the k-th file of the directory whose name ends in
// ".tif" or ".tiff" (any case), in natural order: "frame2" before "frame10".

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

struct FrameSequence {
    std::filesystem::path directory;           // the frame directory
    std::vector<std::filesystem::path> frames; // full paths, frame 1 first
};

// Lists the frame directory named by `input`: the directory itself, or any
// .tif/.tiff scan in it (the desktop program's input dialog picks one).
// Anything else, and a path that does not exist, is an error. Hidden files
// (names starting with a dot) are no frames. A folder without scans is a
// sequence of none; checkFrameRange says so.
Result<FrameSequence> listFrameSequence(const std::filesystem::path& input);

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
