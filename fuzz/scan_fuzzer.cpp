// libFuzzer target: the bytes of a scan file, loaded and measured the way the
// first frame of a soundtrack run is.
//
// The bytes go to decodeScan, which reads them as loadScan reads a whole
// file (reading/scan_reader.h), so the fuzzer drives the same header checks,
// libtiff decoding from memory and image-library fallback as a run. A scan that loads is then
// trimmed, turned, measured for its resolution and cut into soundtrack strips for every film type
// and every colour element, and read into samples and a row profile.

#include "geometry/film_window.h"
#include "geometry/frame_correction.h"
#include "geometry/profile.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "geometry/scan_view.h"
#include "reading/scan_reader.h"
#include "soundtrack/frame_samples.h"
#include "soundtrack/strip.h"
#include "soundtrack/track_geometry.h"

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

using namespace veltrana;

// The size limit is checked on the header exactly as in a run; only its value
// is smaller. Larger images reach no other code, and with coverage tracing
// and the sanitizers every pixel loop runs some fifty times slower: a 2.6
// megapixel scan (36699 x 72, which a run measures in under a second) took
// the fuzzer over ten seconds and ended it as a time-out.
constexpr double kFuzzMaxMegapixels = 1.0;

void measureAsFirstFrame(const cv::Mat& scan, SoundtrackType type, bool longStrip,
                         bool rotationUp) {
    cv::Mat working = workingImageFromFrame(frameCorrection(scan, type, longStrip));
    if (working.empty()) {
        return;
    }
    const ResolutionEstimate estimate = estimateResolution(working, type);
    const SoundtrackGeometry geometry =
        computeSoundtrackGeometry(type, estimate.snapped).value_or(SoundtrackGeometry{});
    // B, G and R leave the image as it is; Y turns it grey in place, as in a
    // run, so it comes last
    for (const ColorElement element :
         {ColorElement::B, ColorElement::G, ColorElement::R, ColorElement::Y}) {
        (void)stripToSamples(cutStripByProfile(working, type, geometry, element, rotationUp), true);
        (void)stripToSamples(cutStripFromEdge(working, type, geometry, element, rotationUp), false);
    }
    (void)rowProfile(working, 0, working.rows);
}

// The scan read upright or mirrored, and as a full-aperture scan: the film's
// edges and the window beside them.
void measureLyingAnyWay(const cv::Mat& scan, SoundtrackType type, TrackSide side) {
    const ScanView view(scan, side);
    const Result<int> dpiX = apertureResolutionX(view, type);
    if (dpiX) {
        (void)findFilmWindow(view, type, *dpiX, bandOnTop(side));
    }
    (void)findFilmWindow(view, type, 1200, bandOnTop(side));
    const FrameBounds bounds = findFrameBounds(view, type, false);
    (void)estimateScanResolution(view.colRange(bounds.left, bounds.right + 1), type);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        silenceImageLibraryLog();
        return true;
    }();
    (void)quiet;

    ScanLimits limits;
    limits.maxMegapixels = kFuzzMaxMegapixels;
    const LoadedScan scan = decodeScan(std::span<const std::uint8_t>(data, size), "fuzz", limits);
    if (!scan.ok()) {
        return 0;
    }
    // the rotation from the input, so that each run measures the scan once
    // per film type and the corpus still covers both
    const bool rotationUp = size % 2 == 0;
    for (const SoundtrackType type :
         {SoundtrackType::VariableArea35, SoundtrackType::VariableDensity35,
          SoundtrackType::VariableArea16}) {
        measureAsFirstFrame(scan.value(), type, false, rotationUp);
    }
    measureAsFirstFrame(scan.value(), SoundtrackType::VariableArea16, true, rotationUp);
    measureLyingAnyWay(scan.value(), SoundtrackType::VariableArea35,
                       static_cast<TrackSide>(size % 4));
    return 0;
}
