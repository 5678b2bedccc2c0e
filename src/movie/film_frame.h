#pragma once
// The movie frames of one scan.
//
// The cut is defined on the film job's working image: the trimmed scan
// turned a quarter anticlockwise, its rows mirrored for inverse and its
// columns for a grey 35 mm variable-density scan (filmWorkingImage). Turning
// a whole scan costs more than cutting it, so movieFramesOf reads the scan
// as it lies and turns only the regions it cuts, or none at all where the
// scan lies across and the scaling can read it turned
// (movie/turned_scale.h): every profile is formed
// from whole-number pixel sums, exact in any order, exactly as the working
// image's profiles are, and the regions hold the same pixels.
// movieFramesOfTurned does the same on the turned image; it stays as the
// reference and is used for scans so large that a sum could pass 2^24.

#include "geometry/film_standard.h"
#include "geometry/frame_correction.h"
#include "geometry/resolution.h"
#include "geometry/scan_view.h"
#include "movie/frame_geometry.h"

#include <opencv2/core.hpp>

#include <optional>
#include <vector>

namespace veltrana {

struct FilmCutting {
    SoundtrackType type = SoundtrackType::VariableArea35;
    bool longStrip = false;
    bool inverse = false;
    bool cutSoundtrack = false;
};

struct FilmFrames {
    FrameBounds bounds;            // the trim, in columns of the measured scan (scan_view.h)
    FrameCut cut;                  // the regions, in working-image coordinates
    std::vector<cv::Rect> regions; // the same regions on the measured scan
    std::vector<cv::Mat> frames;   // 640 x 480 colour movie frames, in film order
};

// The working image of the make-film job: the corrected frame turned so that
// the film runs down the image (geometry/scan.h), its rows mirrored when
// inverse is set, and its columns mirrored for a grey 35 mm variable-density
// scan.
cv::Mat filmWorkingImage(const cv::Mat& corrected, SoundtrackType type, bool inverse);

// The movie frames of one loaded scan (8-bit, one or three channels), with
// the run's frame geometry; trimmed at `bounds` when given (the trim found
// already), otherwise where findFrameBounds finds it.
FilmFrames movieFramesOf(const cv::Mat& scan, const FilmCutting& cutting,
                         const FrameGeometry& geometry,
                         const std::optional<FrameBounds>& bounds = std::nullopt);

// The same from a scan lying any way (geometry/scan_view.h): an upright or
// mirrored scan gives the movie frames of its turned twin.
FilmFrames movieFramesOf(const ScanView& scan, const FilmCutting& cutting,
                         const FrameGeometry& geometry,
                         const std::optional<FrameBounds>& bounds = std::nullopt);

// The resolution detectResolution finds on the film job's working image of
// a trimmed scan, read from the scan as it lies.
ScanResolution detectFilmResolution(const cv::Mat& trimmedScan, const FilmCutting& cutting);
ScanResolution detectFilmResolution(const ScanView& trimmedScan, const FilmCutting& cutting);

// The same through the turned working image.
FilmFrames movieFramesOfTurned(const cv::Mat& scan, const FilmCutting& cutting,
                               const FrameGeometry& geometry);

} // namespace veltrana
