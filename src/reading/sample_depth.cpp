#include "reading/sample_depth.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace veltrana {

namespace {

// Every 16-bit sample of a scan stored with `bits` bits (its code in the
// top bits) on the 8-bit scale.
std::vector<std::uint8_t> sixteenBitTable(int bits, int lowBits) {
    std::vector<std::uint8_t> table(65536);
    for (int v = 0; v < 65536; ++v) {
        table[static_cast<std::size_t>(v)] =
            static_cast<std::uint8_t>(eightBitValue(v >> lowBits, bits));
    }
    return table;
}

// Source channel of each output channel: blue, green, red.
std::array<int, 3> sourceChannels(bool rgbOrder) {
    return rgbOrder ? std::array<int, 3>{2, 1, 0} : std::array<int, 3>{0, 1, 2};
}

// One pass over the samples: each looked up (16-bit) or rounded (float)
// into its 8-bit place, the channels reordered and alpha dropped on the way.
template <typename Sample, typename ToByte>
void eightBitRows(const cv::Mat& in, cv::Mat& out, bool rgbOrder, ToByte toByte) {
    const int channels = in.channels();
    const int kept = out.channels();
    const std::array<int, 3> from = sourceChannels(rgbOrder);
    for (int r = 0; r < in.rows; ++r) {
        const Sample* source = in.ptr<Sample>(r);
        std::uint8_t* target = out.ptr<std::uint8_t>(r);
        if (kept == 1) {
            for (int x = 0; x < in.cols; ++x) {
                target[x] = toByte(source[x * channels]);
            }
            continue;
        }
        for (int x = 0; x < in.cols; ++x) {
            const Sample* p = source + x * channels;
            std::uint8_t* q = target + x * 3;
            q[0] = toByte(p[from[0]]);
            q[1] = toByte(p[from[1]]);
            q[2] = toByte(p[from[2]]);
        }
    }
}

// 8-bit samples: only the channels change places (or alpha goes).
cv::Mat eightBitOfBytes(const cv::Mat& image, bool rgbOrder, cv::Mat out) {
    const int channels = image.channels();
    if (channels == 1) {
        return image;
    }
    const int code = channels == 4 ? (rgbOrder ? cv::COLOR_RGBA2BGR : cv::COLOR_BGRA2BGR)
                                   : (rgbOrder ? cv::COLOR_RGB2BGR : -1);
    if (code < 0) {
        return image;
    }
    cv::cvtColor(image, out, code);
    return out;
}

// The image with its alpha channel dropped and its colours blue first.
cv::Mat blueFirstWithoutAlpha(cv::Mat image, bool rgbOrder) {
    if (image.channels() == 4) {
        cv::Mat colour;
        cv::cvtColor(image, colour, rgbOrder ? cv::COLOR_RGBA2BGR : cv::COLOR_BGRA2BGR);
        return colour;
    }
    if (image.channels() == 3 && rgbOrder) {
        cv::cvtColor(image, image, cv::COLOR_RGB2BGR);
    }
    return image;
}

} // namespace

int eightBitValue(int code, int bits) {
    const std::int64_t full = (std::int64_t{1} << bits) - 1;
    // floor(code x 255 / full + 1/2) in whole numbers; full is odd, so no
    // code lies half-way between two 8-bit values
    return static_cast<int>((std::int64_t{code} * 510 + full) / (2 * full));
}

int eightBitValueOfFloat(float value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    return cvRound(std::clamp(value, 0.0f, 1.0f) * 255.0f);
}

cv::Mat eightBitImage(const DecodedScan& scan, ScanBuffers* buffers) {
    const cv::Mat& in = scan.image;
    const int kept = in.channels() == 1 ? 1 : 3;
    const int type = CV_MAKETYPE(CV_8U, kept);
    cv::Mat out = buffers != nullptr ? buffers->image(in.rows, in.cols, type)
                                     : cv::Mat(in.rows, in.cols, type);
    switch (in.depth()) {
    case CV_8U:
        return eightBitOfBytes(in, scan.rgbOrder, out);
    case CV_16U: {
        const std::vector<std::uint8_t> table =
            sixteenBitTable(scan.description.bitsPerSample, scan.lowBits);
        eightBitRows<std::uint16_t>(in, out, scan.rgbOrder,
                                    [&table](std::uint16_t v) { return table[v]; });
        return out;
    }
    default:
        eightBitRows<float>(in, out, scan.rgbOrder, [](float v) {
            return static_cast<std::uint8_t>(eightBitValueOfFloat(v));
        });
        return out;
    }
}

cv::Mat storedDepthImage(DecodedScan scan) {
    cv::Mat image = blueFirstWithoutAlpha(std::move(scan.image), scan.rgbOrder);
    if (image.depth() == CV_16U && scan.lowBits > 0) {
        for (int r = 0; r < image.rows; ++r) {
            std::uint16_t* row = image.ptr<std::uint16_t>(r);
            const int count = image.cols * image.channels();
            for (int i = 0; i < count; ++i) {
                row[i] = static_cast<std::uint16_t>(row[i] >> scan.lowBits);
            }
        }
    } else if (image.depth() == CV_32F) {
        for (int r = 0; r < image.rows; ++r) {
            float* row = image.ptr<float>(r);
            const int count = image.cols * image.channels();
            for (int i = 0; i < count; ++i) {
                row[i] = std::isfinite(row[i]) ? row[i] : 0.0f;
            }
        }
    }
    return image;
}

} // namespace veltrana
