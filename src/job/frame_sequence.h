#pragma once
// The frame sequence: the scans of one frame directory, in order.
//
// Frame k (1-based) is the k-th file of the directory whose name ends in
// ".tif" or ".tiff" (any case), in natural order: "frame2" before "frame10".

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veltrana {

struct FrameSequence {
    std::filesystem::path directory;           // the frame directory
    std::vector<std::filesystem::path> frames; // full paths, frame 1 first
    std::string error;                         // why no sequence could be listed
    bool ok() const { return error.empty(); }
};

// Lists the frame directory named by `input`: the directory itself, or any
// file in it (the desktop program's input dialog picks one .tif file).
FrameSequence listFrameSequence(const std::filesystem::path& input);

// Natural order: runs of digits compare by value, everything else by byte.
bool naturalLess(std::string_view a, std::string_view b);

// Checks a 1-based range against the sequence; an empty string when it fits,
// otherwise a message naming how many scans were found.
std::string checkFrameRange(const FrameSequence& sequence, int firstFrame, int lastFrame);

} // namespace veltrana
