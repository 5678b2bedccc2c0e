#include "movie/movie_probe.h"

#include <opencv2/videoio.hpp>

#include <algorithm>

namespace veltrana::test {

MovieProbe probeMovie(const std::filesystem::path& path, bool keepFrames) {
    MovieProbe probe;
    cv::VideoCapture capture(path.string(), cv::CAP_FFMPEG);
    if (!capture.isOpened()) {
        return probe;
    }
    probe.opened = true;
    probe.fps = capture.get(cv::CAP_PROP_FPS);
    const int code = static_cast<int>(capture.get(cv::CAP_PROP_FOURCC));
    for (int shift = 0; shift < 32; shift += 8) {
        probe.fourcc.push_back(static_cast<char>((code >> shift) & 0xff));
    }
    cv::Mat frame;
    while (capture.read(frame)) {
        ++probe.frames;
        probe.width = frame.cols;
        probe.height = frame.rows;
        if (keepFrames) {
            probe.images.push_back(frame.clone());
        }
    }
    return probe;
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace veltrana::test
