#include "soundtrack/frame_samples.h"

#include "geometry/profile.h"
#include "geometry/scan.h"
#include "geometry/scan_view.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>

namespace veltrana {

namespace {

using Sums = std::vector<std::uint32_t>;

bool readsLuminance(const cv::Mat& scan, ColorElement element) {
    return scan.channels() == 3 && element == ColorElement::Y;
}

// Per working row r of a frame `rows` columns wide: sums[rows - 1 - r], as a
// float divided by `count`.
std::vector<float> turnedMeans(const Sums& sums, int firstColumn, int rows, float count) {
    std::vector<float> means(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        means[static_cast<std::size_t>(r)] =
            static_cast<float>(sums[static_cast<std::size_t>(firstColumn + rows - 1 - r)]) / count;
    }
    return means;
}

// The scan row that entry i of the oriented profile comes from: the band
// side first.
int orientedRow(int i, int height, bool rotationUp) {
    return rotationUp ? i : height - 1 - i;
}

// Working columns 0..entries-1 of the oriented profile the band searches
// read: per scan row, over the trimmed columns, the share of pixels brighter
// than mid-grey (or, from the edge, the mean of channel 0).
std::vector<float> bandProfile(const ScanView& frame, int entries, bool rotationUp, bool fromEdge) {
    const int height = frame.rows();
    const float count = static_cast<float>(frame.cols());
    std::vector<float> profile(static_cast<std::size_t>(entries));
    if (entries == 0) {
        return profile;
    }
    // the rows read, as one block
    const int first = rotationUp ? 0 : height - entries;
    const ScanView block = frame.rowRange(first, first + entries);
    Sums sums(static_cast<std::size_t>(entries), 0);
    if (fromEdge) {
        block.addRowSums(0, sums);
    } else {
        // threshold 127.5 on whole grey values: 128 and above is bright
        block.sameWay(greyPixels(block.stored())).addRowSums(0, sums, true);
    }
    for (int i = 0; i < entries; ++i) {
        profile[static_cast<std::size_t>(i)] =
            static_cast<float>(
                sums[static_cast<std::size_t>(orientedRow(i, height, rotationUp) - first)]) /
            count;
    }
    return profile;
}

// What the band's rows look like across the track, on the strip the turned
// image would give.
BandShape shapeOf(const ScanView& bandRows, ColorElement element, int framePitch) {
    cv::Mat working = bandRows.workingImage();
    return bandShape(cutStrip(working, StripRange{0, working.cols - 1}, element), framePitch);
}

} // namespace

ResolutionEstimate estimateScanResolution(const ScanView& trimmed, SoundtrackType type) {
    // working row r is trimmed column (width - 1 - r); its first columns are
    // the scan's first rows
    const int columns = resolutionProfileColumns(trimmed.rows());
    if (trimmed.empty() || trimmed.depth() != CV_8U || columns > kExactPixelCount) {
        return estimateResolution(trimmed.workingImage(), type);
    }
    Sums sums(static_cast<std::size_t>(trimmed.cols()), 0);
    trimmed.addColumnSums(0, std::max(columns, 0), 0, sums);
    std::vector<float> rowMeans(static_cast<std::size_t>(trimmed.cols()), 0.0f);
    if (columns > 0) {
        rowMeans = turnedMeans(sums, 0, trimmed.cols(), static_cast<float>(columns));
    }
    return estimateResolutionFromProfile(std::move(rowMeans), trimmed.rows(), type);
}

ResolutionEstimate estimateScanResolution(const cv::Mat& trimmedScan, SoundtrackType type) {
    return estimateScanResolution(ScanView(trimmedScan, TrackSide::Top), type);
}

FrameSamples sampleTurnedFrame(const cv::Mat& scan, const FrameSampling& s,
                               const SoundtrackGeometry& geometry) {
    FrameSamples frame;
    frame.bounds = findFrameBounds(scan, s.type, s.longStrip);
    cv::Mat working = workingImageFromFrame(
        scan.empty() ? scan : scan.colRange(frame.bounds.left, frame.bounds.right + 1));
    const StripRange range = s.cutByAnalysis
                                 ? stripRangeFromEdge(working, s.type, geometry, s.rotationUp)
                                 : stripRangeByProfile(working, s.type, geometry, s.rotationUp);
    frame.band = clipStripRange(range, working.cols);
    const cv::Mat strip = cutStrip(working, range, s.element);
    frame.level = strip.empty() ? 0.0 : cv::mean(strip)[0];
    frame.samples = stripToSamples(strip, s.removeDc);
    frame.shape = bandShape(strip, geometry.framePitch);
    // the profile from the working image as the cutter left it
    frame.rows = working.rows;
    frame.profile = rowProfile(working, 0, working.rows);
    return frame;
}

FrameSamples sampleFrame(const cv::Mat& scan, const FrameSampling& s,
                         const SoundtrackGeometry& geometry) {
    return sampleFrame(ScanView(scan, s.rotationUp ? TrackSide::Top : TrackSide::Bottom), s,
                       geometry);
}

FrameSamples sampleFrame(const ScanView& scan, const FrameSampling& s,
                         const SoundtrackGeometry& geometry) {
    if (scan.empty() || scan.depth() != CV_8U || scan.rows() > kExactPixelCount ||
        scan.cols() > kExactPixelCount || (scan.channels() != 1 && scan.channels() != 3)) {
        return sampleTurnedFrame(scan.measuredImage(), s, geometry);
    }
    const int height = scan.rows();
    FrameSamples frame;

    // channel 0 summed down every column: the middle rows give the trim, all
    // rows the frame profile
    const TrimRows trim = trimProfileRows(height);
    const int middleBegin = std::max(trim.first, 0);
    const int middleEnd = std::min(trim.end, height);
    // (a band read as luminance takes its frame profile from the grey image)
    const bool luminance = readsLuminance(scan.stored(), s.element);
    Sums middle(static_cast<std::size_t>(scan.cols()), 0);
    Sums whole(middle.size(), 0);
    if (luminance) {
        scan.addColumnSums(middleBegin, middleEnd, 0, middle);
    } else {
        scan.addColumnSumsWithin(middleBegin, middleEnd, 0, middle, whole);
    }
    std::vector<float> trimProfile(static_cast<std::size_t>(scan.cols()), 0.0f);
    if (middleBegin < middleEnd) {
        const float count = static_cast<float>(middleEnd - middleBegin);
        for (std::size_t c = 0; c < middle.size(); ++c) {
            trimProfile[c] = static_cast<float>(middle[c]) / count;
        }
    }
    frame.bounds = frameBoundsFromProfile(trimProfile, s.type, s.longStrip);
    const ScanView trimmed = scan.colRange(frame.bounds.left, frame.bounds.right + 1);
    frame.rows = trimmed.cols();

    // the band, searched on the first rows of its side
    const int entries = stripProfileEntries(s.type, geometry, height, s.cutByAnalysis);
    const std::vector<float> oriented =
        bandProfile(trimmed, entries, s.rotationUp, s.cutByAnalysis);
    const StripRange range =
        s.cutByAnalysis
            ? stripRangeFromBrightness(oriented, height, s.type, geometry, s.rotationUp)
            : stripRangeFromBrightFraction(oriented, height, s.type, geometry, s.rotationUp);
    frame.band = clipStripRange(range, height);

    // the samples: the band's rows summed down every trimmed column
    const ScanView bandRows = trimmed.rowRange(frame.band.first, frame.band.last + 1);
    Sums bandSums(static_cast<std::size_t>(trimmed.cols()), 0);
    if (luminance) {
        bandRows.sameWay(greyPixels(bandRows.stored()))
            .addColumnSums(0, bandRows.rows(), 0, bandSums);
    } else {
        bandRows.addColumnSums(0, bandRows.rows(), scan.channels() == 1 ? 0 : channelOf(s.element),
                               bandSums);
    }
    double total = 0;
    for (const std::uint32_t sum : bandSums) {
        total += sum;
    }
    frame.level = total / (static_cast<double>(bandSums.size()) * bandRows.rows());
    Sums turned(bandSums.rbegin(), bandSums.rend());
    frame.samples = samplesFromRowSums(turned, bandRows.rows(), s.removeDc);
    frame.shape = shapeOf(bandRows, s.element, geometry.framePitch);

    // the frame profile: luminance when the band was read as luminance (the
    // turned image is made grey then), channel 0 otherwise
    if (luminance) {
        Sums all(static_cast<std::size_t>(trimmed.cols()), 0);
        trimmed.sameWay(greyPixels(trimmed.stored())).addColumnSums(0, height, 0, all);
        frame.profile = turnedMeans(all, 0, frame.rows, static_cast<float>(height));
    } else {
        frame.profile =
            turnedMeans(whole, frame.bounds.left, frame.rows, static_cast<float>(height));
    }
    return frame;
}

} // namespace veltrana
