#pragma once
// What the soundtrack job reads from one frame scan: the trim, the band, the
// samples and the frame profile.
//
// The measures are defined on the working image (geometry/scan.h states the
// orientation and how scan and working image map onto each other). Turning a
// whole scan costs more than measuring it, so sampleFrame reads the scan as
// it lies. Every value it gives is the one the working image gives:
// the pixel sums are whole numbers, exact in any order, and each float is
// formed from them as the working-image measures form it. sampleTurnedFrame
// computes the same on the turned image; it stays as the reference, and is
// used for scans so large that a sum could pass 2^24.

#include "geometry/film_standard.h"
#include "geometry/frame_correction.h"
#include "geometry/resolution.h"
#include "geometry/scan_view.h"
#include "soundtrack/band_shape.h"
#include "soundtrack/strip.h"
#include "soundtrack/track_geometry.h"

#include <opencv2/core.hpp>

#include <vector>

namespace veltrana {

// The settings of a run that decide what a frame gives.
struct FrameSampling {
    SoundtrackType type = SoundtrackType::VariableArea35;
    bool longStrip = false;
    ColorElement element = ColorElement::R;
    bool rotationUp = true;
    bool removeDc = true;
    bool cutByAnalysis = false; // the band from the strongest brightening
};

struct FrameSamples {
    FrameBounds bounds;         // the trim, in scan columns
    StripRange band;            // the band, in working-image columns (scan rows), clipped
    int rows = 0;               // working-image rows: the trimmed width
    std::vector<float> samples; // one per working row
    std::vector<float> profile; // the frame profile, one per working row
    double level = 0;           // the band's mean brightness, before any -DC
    BandShape shape;            // what the band looks like across the track
};

// The trim, the band and the samples of one loaded scan (8-bit, one or three
// channels), with the run's soundtrack geometry.
FrameSamples sampleFrame(const cv::Mat& scan, const FrameSampling& sampling,
                         const SoundtrackGeometry& geometry);

// The same on a scan lying any way (geometry/scan_view.h): bounds and band
// are those of the measured scan, and sampling.rotationUp says where its
// band lies (bandOnTop of the scan's side).
FrameSamples sampleFrame(const ScanView& scan, const FrameSampling& sampling,
                         const SoundtrackGeometry& geometry);

// The resolution measured on a trimmed scan as it lies: what
// estimateResolution gives on its working image.
ResolutionEstimate estimateScanResolution(const cv::Mat& trimmedScan, SoundtrackType type);
ResolutionEstimate estimateScanResolution(const ScanView& trimmedScan, SoundtrackType type);

// The same through the turned working image.
FrameSamples sampleTurnedFrame(const cv::Mat& scan, const FrameSampling& sampling,
                               const SoundtrackGeometry& geometry);

} // namespace veltrana
