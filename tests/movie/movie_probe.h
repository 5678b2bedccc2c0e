#pragma once
// Reading back what the film job wrote.

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace veltrana::test {

struct MovieProbe {
    bool opened = false;
    int frames = 0; // frames actually decoded
    int width = 0;
    int height = 0;
    double fps = 0.0;
    std::string fourcc;
    std::vector<cv::Mat> images; // the decoded frames, when kept
};

// Opens the file with OpenCV's FFmpeg reader, whatever its extension.
MovieProbe probeMovie(const std::filesystem::path& path, bool keepFrames = false);

// Names of the entries of a folder, sorted.
std::vector<std::string> folderEntries(const std::filesystem::path& folder);

} // namespace veltrana::test
