#include "movie/turned_scale.h"

#include "job/parallel.h"

#include <opencv2/imgproc.hpp>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace veltrana {

namespace {

constexpr int kTaps = 4;
// cv::resize's fixed-point weights: 11 bits, so that a pass's product of two
// weights is scaled by 2^22
constexpr int kWeightScale = 2048;
// scaled columns per piece of work: their sums along every turned row stay
// in the cache while the columns are scaled down
constexpr int kColumnsPerBlock = 16;

// The four taps of each scaled position along one axis: the first source
// position (before clamping to the edges) and the rounded weights, placed
// as cv::resize places them.
struct AxisTaps {
    std::vector<int> first;
    std::vector<short> weights;
};

void cubicWeights(float x, float* weights) {
    const float a = -0.75f;
    weights[0] = ((a * (x + 1) - 5 * a) * (x + 1) + 8 * a) * (x + 1) - 4 * a;
    weights[1] = ((a + 2) * x - (a + 3)) * x * x + 1;
    weights[2] = ((a + 2) * (1 - x) - (a + 3)) * (1 - x) * (1 - x) + 1;
    weights[3] = 1.f - weights[0] - weights[1] - weights[2];
}

AxisTaps axisTaps(int source, int scaled) {
    // the step is the inverse of the inverse scale, as cv::resize takes it
    const double step = 1.0 / (static_cast<double>(scaled) / source);
    AxisTaps taps;
    taps.first.resize(static_cast<std::size_t>(scaled));
    taps.weights.resize(static_cast<std::size_t>(scaled) * kTaps);
    for (int d = 0; d < scaled; ++d) {
        float f = static_cast<float>((d + 0.5) * step - 0.5);
        const int s = cvFloor(f);
        f -= static_cast<float>(s);
        taps.first[static_cast<std::size_t>(d)] = s - 1;
        float weights[kTaps];
        cubicWeights(f, weights);
        for (int k = 0; k < kTaps; ++k) {
            taps.weights[static_cast<std::size_t>(d * kTaps + k)] =
                cv::saturate_cast<short>(weights[k] * kWeightScale);
        }
    }
    return taps;
}

int clampTo(int position, int size) {
    return std::clamp(position, 0, size - 1);
}

// One scaled column's whole-number sums along every turned row: turned row
// i is a stored column, so the four taps are four stored rows, added down
// their length. sums[i * channels + c] for stored column i.
void turnedRowSums(const cv::Mat& stored, const StoredTurn& turn, const AxisTaps& x, int column,
                   int* sums) {
    const uchar* rows[kTaps];
    for (int k = 0; k < kTaps; ++k) {
        const int j = clampTo(x.first[static_cast<std::size_t>(column)] + k, stored.rows);
        rows[k] = stored.ptr<uchar>(turn.reverseStoredRows ? stored.rows - 1 - j : j);
    }
    const short* w = &x.weights[static_cast<std::size_t>(column) * kTaps];
    const int w0 = w[0];
    const int w1 = w[1];
    const int w2 = w[2];
    const int w3 = w[3];
    const int n = stored.cols * stored.channels();
    for (int e = 0; e < n; ++e) {
        sums[e] = rows[0][e] * w0 + rows[1][e] * w1 + rows[2][e] * w2 + rows[3][e] * w3;
    }
}

// The pass down the scaled columns [begin, end): single-precision products
// of the sums and the weights, added last tap first and rounded to the
// nearest even, as cv::resize's vector code adds them.
void scaleColumns(const std::vector<int>& sums, int rowLength, const StoredTurn& turn,
                  const AxisTaps& y, int begin, int end, cv::Mat& scaled) {
    const int channels = scaled.channels();
    const int turnedRows = rowLength / channels;
    const float unit = 1.f / static_cast<float>(kWeightScale * kWeightScale);
    for (int dy = 0; dy < scaled.rows; ++dy) {
        const short* w = &y.weights[static_cast<std::size_t>(dy) * kTaps];
        float b[kTaps];
        int offset[kTaps];
        for (int k = 0; k < kTaps; ++k) {
            b[k] = static_cast<float>(w[k]) * unit;
            const int i = clampTo(y.first[static_cast<std::size_t>(dy)] + k, turnedRows);
            offset[k] = (turn.reverseStoredColumns ? turnedRows - 1 - i : i) * channels;
        }
        uchar* out = scaled.ptr<uchar>(dy);
        for (int dx = begin; dx < end; ++dx) {
            const int* s = &sums[static_cast<std::size_t>(dx - begin) * rowLength];
            for (int c = 0; c < channels; ++c) {
                float v = static_cast<float>(s[offset[3] + c]) * b[3];
                v = static_cast<float>(s[offset[2] + c]) * b[2] + v;
                v = static_cast<float>(s[offset[1] + c]) * b[1] + v;
                v = static_cast<float>(s[offset[0] + c]) * b[0] + v;
                out[dx * channels + c] = cv::saturate_cast<uchar>(cvRound(v));
            }
        }
    }
}

bool computedFromStored(const cv::Mat& stored, cv::Size size) {
    const int channels = stored.channels();
    return !stored.empty() && stored.depth() == CV_8U && (channels == 1 || channels == 3) &&
           size.width > 0 && size.height > 0 && (size.width * channels) % 32 == 0 &&
           cv::Size(stored.rows, stored.cols) != size;
}

} // namespace

cv::Mat turnedImage(const cv::Mat& stored, const StoredTurn& turn) {
    cv::Mat turned;
    if (stored.empty()) {
        return turned;
    }
    cv::transpose(stored, turned);
    if (turn.reverseStoredRows && turn.reverseStoredColumns) {
        cv::flip(turned, turned, -1);
    } else if (turn.reverseStoredRows) {
        cv::flip(turned, turned, 1);
    } else if (turn.reverseStoredColumns) {
        cv::flip(turned, turned, 0);
    }
    return turned;
}

cv::Mat scaleTurnedCubic(const cv::Mat& stored, const StoredTurn& turn, cv::Size size) {
    if (!computedFromStored(stored, size)) {
        cv::Mat scaled;
        cv::resize(turnedImage(stored, turn), scaled, size, 0.0, 0.0, cv::INTER_CUBIC);
        return scaled;
    }
    // turned: stored.cols rows of stored.rows columns
    const AxisTaps x = axisTaps(stored.rows, size.width);
    const AxisTaps y = axisTaps(stored.cols, size.height);
    cv::Mat scaled(size, stored.type());
    const int rowLength = stored.cols * stored.channels();
    const int blocks = (size.width + kColumnsPerBlock - 1) / kColumnsPerBlock;
    // the blocks run on oneTBB's threads, whose hand-offs the thread
    // sanitizer cannot see: the taps and the picture are handed to them and back
    handOver(&scaled);
    tbb::parallel_for(tbb::blocked_range<int>(0, blocks), [&](const tbb::blocked_range<int>& r) {
        const StageTurn handed(&scaled);
        std::vector<int> sums(static_cast<std::size_t>(kColumnsPerBlock) * rowLength);
        for (int block = r.begin(); block < r.end(); ++block) {
            const int begin = block * kColumnsPerBlock;
            const int end = std::min(begin + kColumnsPerBlock, size.width);
            for (int dx = begin; dx < end; ++dx) {
                turnedRowSums(stored, turn, x, dx,
                              &sums[static_cast<std::size_t>(dx - begin) * rowLength]);
            }
            scaleColumns(sums, rowLength, turn, y, begin, end, scaled);
        }
    });
    takeOver(&scaled);
    return scaled;
}

} // namespace veltrana
