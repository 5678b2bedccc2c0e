#pragma once
// Scan resolution measured on the first frame of a run.
//
// The image is a working image (orientation: geometry/scan.h). The width is
// taken to span a fixed width of film, and the
// distance between two rises of brightness from frame line to picture to be
// one frame pitch; both measures are then snapped by fixed bands to one of
// the usual scanner resolutions.

#include "base/status.h"
#include "geometry/film_standard.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace veltrana {

// The snapping bands: below 700 gives 450; 702..1199 -> 900; 1202..2399 ->
// 1800; 2402..4499 -> 3600; 4502..7499 -> 7200. The two-value gaps between the
// bands (700, 701, 1200, 1201, ...) and values from 7500 up pass unchanged.
int snapResolution(int measuredDpi);

struct ResolutionEstimate {
    ScanResolution measured; // truncated, before snapping
    ScanResolution snapped;  // what the jobs use
};

ResolutionEstimate estimateResolution(const cv::Mat& workingImage, SoundtrackType type);

// The columns of a working image `width` columns wide that the brightness
// down the image is taken over: [0, resolutionProfileColumns(width)).
int resolutionProfileColumns(int width);

// The same estimate from that brightness (the mean of channel 0 over those
// columns, one entry per row) and the image's width, for callers that have
// the sums already.
ResolutionEstimate estimateResolutionFromProfile(std::vector<float> rowMeans, int width,
                                                 SoundtrackType type);

// The snapped resolution; what the jobs use.
ScanResolution detectResolution(const cv::Mat& workingImage, SoundtrackType type);

// A resolution given by hand must lie in this range on both axes: below it a
// frame has too few pixels to measure, above it the sizes and the sample rate
// lose their meaning.
inline constexpr int kMinManualDpi = 100;
inline constexpr int kMaxManualDpi = 20000;

// Whether both values lie in the range above; a failure says which do not.
Status checkManualResolution(ScanResolution resolution);

} // namespace veltrana
