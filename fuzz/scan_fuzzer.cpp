// libFuzzer target: the bytes of a scan file, loaded and measured the way the
// first frame of a soundtrack run is.
//
// The bytes go to decodeScan, the function loadScan hands a whole file to, so
// the fuzzer drives the same header checks, libtiff decoding from memory and
// image-library fallback as a run. A scan that loads is then trimmed, turned,
// measured for its resolution and cut into soundtrack strips for every film
// type, both rotations and every colour element, and read into samples and a
// row profile.

#include "geometry/frame_correction.h"
#include "geometry/profile.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "sound/strip.h"
#include "sound/track_geometry.h"

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

using namespace veltrana;

// The size limit is checked on the header exactly as in a run; only its value
// is smaller. Larger images reach no other code, they only make each input
// slower and the memory limit of the fuzzer harder to keep.
constexpr double kFuzzMaxMegapixels = 4.0;

void measureAsFirstFrame(const cv::Mat& scan, SoundtrackType type, bool longStrip) {
    const cv::Mat working = workingImageFromFrame(frameCorrection(scan, type, longStrip));
    if (working.empty()) {
        return;
    }
    const ResolutionEstimate estimate = estimateResolution(working, type);
    const SoundtrackGeometry geometry =
        computeSoundtrackGeometry(type, estimate.snapped).value_or(SoundtrackGeometry{});
    for (const bool rotationUp : {true, false}) {
        for (const ColorElement element :
             {ColorElement::B, ColorElement::G, ColorElement::R, ColorElement::Y}) {
            // the Y cut turns the image grey in place, as it does in a run
            cv::Mat byProfile = working.clone();
            const cv::Mat profileStrip =
                cutStripByProfile(byProfile, type, geometry, element, rotationUp);
            (void)stripToSamples(profileStrip, true);
            cv::Mat fromEdge = working.clone();
            const cv::Mat edgeStrip =
                cutStripFromEdge(fromEdge, type, geometry, element, rotationUp);
            (void)stripToSamples(edgeStrip, false);
            (void)rowProfile(fromEdge, 1, fromEdge.rows);
        }
    }
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
    for (const SoundtrackType type :
         {SoundtrackType::VariableArea35, SoundtrackType::VariableDensity35,
          SoundtrackType::VariableArea16}) {
        measureAsFirstFrame(scan.image, type, false);
        if (type == SoundtrackType::VariableArea16) {
            measureAsFirstFrame(scan.image, type, true);
        }
    }
    return 0;
}
