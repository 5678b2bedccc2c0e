#include "geometry/profile.h"

#include "base/vectorise.h"

#include <algorithm>

namespace veltrana {

namespace {

// [begin, end) clipped to a profile of `size` entries.
struct IndexRange {
    int begin;
    int end;
};

IndexRange clipRange(int begin, int end, std::size_t size) {
    const int n = static_cast<int>(size);
    begin = std::clamp(begin, 0, n);
    end = std::clamp(end, 0, n);
    return {begin, std::max(begin, end)};
}

} // namespace

std::vector<float> columnProfile(const cv::Mat& image, int firstRow, int endRow) {
    if (image.depth() != CV_8U) {
        return {};
    }
    const int width = image.cols;
    const int channels = image.channels();
    std::vector<float> sums(static_cast<std::size_t>(width), 0.0f);
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, image.rows);
    if (firstRow >= endRow) {
        return sums;
    }
    const float count = static_cast<float>(endRow - firstRow);
    if (endRow - firstRow <= kExactPixelCount) {
        // whole-number sums: the same floats, several times faster
        std::vector<std::uint32_t> exact(static_cast<std::size_t>(width), 0);
        addColumnSums(image, firstRow, endRow, 0, exact);
        for (std::size_t c = 0; c < exact.size(); ++c) {
            sums[c] = static_cast<float>(exact[c]) / count;
        }
        return sums;
    }
    // One accumulator per column, rows added top to bottom: each column's sum
    // keeps its order while the loop runs along contiguous memory.
    for (int r = firstRow; r < endRow; ++r) {
        const uchar* row = image.ptr<uchar>(r);
        for (int c = 0; c < width; ++c) {
            sums[static_cast<std::size_t>(c)] += static_cast<float>(row[c * channels]);
        }
    }
    for (float& s : sums) {
        s /= count;
    }
    return sums;
}

std::vector<float> rowProfile(const cv::Mat& image, int firstRow, int endRow) {
    if (image.depth() != CV_8U) {
        return {};
    }
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, image.rows);
    if (firstRow >= endRow || image.cols == 0) {
        return std::vector<float>(static_cast<std::size_t>(std::max(0, endRow - firstRow)), 0.0f);
    }
    const int channels = image.channels();
    const float width = static_cast<float>(image.cols);
    std::vector<float> profile;
    profile.reserve(static_cast<std::size_t>(endRow - firstRow));
    for (int r = firstRow; r < endRow; ++r) {
        const uchar* row = image.ptr<uchar>(r);
        float sum = 0.0f;
        for (int c = 0; c < image.cols; ++c) {
            sum += static_cast<float>(row[c * channels]);
        }
        profile.push_back(sum / width);
    }
    return profile;
}

namespace {

// One channel of `Channels`, along contiguous rows.
template <int Channels>
[[gnu::always_inline]] inline void addColumnSumsLoop(const cv::Mat& image, int firstRow, int endRow,
                                                     int channel, std::uint32_t* sums) {
    const int width = image.cols;
    for (int r = firstRow; r < endRow; ++r) {
        const uchar* row = image.ptr<uchar>(r) + channel;
        for (int c = 0; c < width; ++c) {
            sums[c] += row[c * Channels];
        }
    }
}

// Compiled for AVX2 as well, where the machine has it: whole-number sums are
// the same either way. Clones must be plain functions, not templates.
VELTRANA_ALSO_FOR_AVX2 void addGreyColumnSums(const cv::Mat& image, int firstRow, int endRow,
                                              int channel, std::uint32_t* sums) {
    addColumnSumsLoop<1>(image, firstRow, endRow, channel, sums);
}

VELTRANA_ALSO_FOR_AVX2 void addColourColumnSums(const cv::Mat& image, int firstRow, int endRow,
                                                int channel, std::uint32_t* sums) {
    addColumnSumsLoop<3>(image, firstRow, endRow, channel, sums);
}

} // namespace

void addColumnSums(const cv::Mat& image, int firstRow, int endRow, int channel,
                   std::span<std::uint32_t> sums) {
    if (image.depth() != CV_8U || channel < 0 || channel >= image.channels() ||
        sums.size() < static_cast<std::size_t>(image.cols)) {
        return; // not an 8-bit image of that channel: nothing to add
    }
    firstRow = std::clamp(firstRow, 0, image.rows);
    endRow = std::clamp(endRow, firstRow, image.rows);
    switch (image.channels()) {
    case 1:
        addGreyColumnSums(image, firstRow, endRow, channel, sums.data());
        break;
    case 3:
        addColourColumnSums(image, firstRow, endRow, channel, sums.data());
        break;
    default:
        for (int r = firstRow; r < endRow; ++r) {
            const uchar* row = image.ptr<uchar>(r);
            for (int c = 0; c < image.cols; ++c) {
                sums[static_cast<std::size_t>(c)] += row[c * image.channels() + channel];
            }
        }
    }
}

float profileMean(std::span<const float> values) {
    if (values.empty()) {
        return 0.0f;
    }
    float sum = 0.0f;
    for (float v : values) {
        sum += v;
    }
    return sum / static_cast<float>(values.size());
}

std::vector<float> profileDifference(std::span<const float> values) {
    std::vector<float> d;
    if (values.size() < 2) {
        return d;
    }
    d.resize(values.size() - 1);
    for (std::size_t i = 0; i + 1 < values.size(); ++i) {
        d[i] = values[i + 1] - values[i];
    }
    return d;
}

float fallMinimum(std::span<const float> values, int begin, int end) {
    const IndexRange range = clipRange(std::max(begin, 1), end, values.size());
    float result = 255.0f;
    for (int i = range.begin; i < range.end; ++i) {
        const float v = values[static_cast<std::size_t>(i)];
        if (values[static_cast<std::size_t>(i - 1)] > v && v < result) {
            result = v;
        }
    }
    return result;
}

float riseMaximum(std::span<const float> values, int begin, int end) {
    const IndexRange range = clipRange(std::max(begin, 1), end, values.size());
    float result = 0.0f;
    for (int i = range.begin; i < range.end; ++i) {
        const float v = values[static_cast<std::size_t>(i)];
        if (values[static_cast<std::size_t>(i - 1)] < v && v > result) {
            result = v;
        }
    }
    return result;
}

int firstIndexOf(std::span<const float> values, float value, int begin, int end) {
    const IndexRange range = clipRange(begin, end, values.size());
    for (int i = range.begin; i < range.end; ++i) {
        if (values[static_cast<std::size_t>(i)] == value) {
            return i;
        }
    }
    return -1;
}

int lastIndexOf(std::span<const float> values, float value, int begin, int end) {
    const IndexRange range = clipRange(begin, end, values.size());
    for (int i = range.end - 1; i >= range.begin; --i) {
        if (values[static_cast<std::size_t>(i)] == value) {
            return i;
        }
    }
    return -1;
}

void ReverseSamples(std::span<float> values) {
    std::reverse(values.begin(), values.end());
}

void subtractMean(std::span<float> values) {
    const float mean = profileMean(values);
    for (float& v : values) {
        v -= mean;
    }
}

} // namespace veltrana
