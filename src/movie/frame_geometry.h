#pragma once
// What each movie frame is cut from: the frame geometry of a film run and the
// per-frame cut.
//
// Conventions for the film subsystem, stated here once for movie/:
// - Images are working images (orientation: geometry/scan.h), the
//   soundtrack band in the left part of the columns. H is the image height
//   (rows), W its width.
// - Sizes are whole pixels. Positions are 0-based; ranges are half-open
//   [first, end), as in geometry/profile.h: search windows, and the regions
//   handed out as cv::Rect. (The cut's own formulas count spans first..last
//   inside frame_geometry.cpp and convert when they make a region.)
// - Brightness decisions use a bright mask: 1 where the grey value of a pixel
//   exceeds 255 x a factor chosen from the image mean, 0 elsewhere.
// - Every region handed out lies inside the image and holds at least one row
//   and one column, whatever the geometry asks for.

#include "geometry/film_standard.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <span>
#include <vector>

namespace veltrana {

struct FrameGeometry {
    int sound_width = 0;  // soundtrack band across the film; reported, not used by the cut
    int image_length = 0; // rows to cut along the film
    int image_width = 0;  // columns after the picture edge (0 for 35 mm without the cut)
    // 16 mm only: no frame edges were found, so image_length is four nominal
    // frame pitches rather than four measured ones.
    bool nominalPitch = false;
};

// Which operation asks for the brightness factor: the two differ for bright
// images.
enum class BrightnessUse {
    Measure, // measureFrameGeometry
    Cut,     // cutFrame
};

// Mean of channel 0 over the whole image: the column means, then their mean.
float imageMean(const cv::Mat& image);

// The threshold factor for an image of the given mean: 0.015 below 32, 0.2
// from 32 up; for the cut, 0.25 from 100 up.
double brightnessFactor(float mean, BrightnessUse use);

// One channel, 1 where the grey value (the image itself, or the BGR-to-grey
// conversion of a colour image) exceeds 255 x factor, 0 elsewhere.
cv::Mat brightMask(const cv::Mat& image, double factor);

// brightMask's sums without the mask: adds to perColumn[x] the bright pixels
// of column x within rows [firstRow, endRow), and to perRow[y] (unless it is
// empty) those of row y. An 8-bit image of one or three channels, turned
// grey a few rows at a time rather than whole.
void addBrightCounts(const cv::Mat& image, double factor, int firstRow, int endRow,
                     std::span<std::uint32_t> perColumn, std::span<std::uint32_t> perRow);

// Pixel sizes of the region to cut, fixed on the first frame of a run. For
// 35 mm they follow from the resolution; for 16 mm the frame pitch is measured
// in the image (the strongest rise of brightness in each of four windows down
// the image), or taken as nominal when a window holds no rise.
FrameGeometry measureFrameGeometry(SoundtrackType type, ScanResolution resolution,
                                   bool cutSoundtrack, const cv::Mat& workingImage);

// Where one working image is cut.
struct FrameCut {
    int frameStart = 0;  // x0: the row where the frame begins (strongest rise into picture)
    int pictureEdge = 0; // f: the first column (0 without "Cut Soundtrack")
    // The regions, clipped to the image: one, or four for a 16 mm long strip,
    // each piece beginning on the last row of the one before.
    std::vector<cv::Rect> pieces;
};

// What the cut is decided on: the frame's mean brightness and, in its bright
// mask at the cut's factor, the bright fraction of each row (right of the
// first fifth of the columns) and, with cutSoundtrack, of each column.
struct FrameCutProfiles {
    int width = 0; // of the working image
    int height = 0;
    float mean = 0;
    std::vector<float> rowBright;    // one per row
    std::vector<float> columnBright; // one per column, with cutSoundtrack
};

// The profiles of a working image. (Traces the factor, "pro = ...".)
FrameCutProfiles frameCutProfiles(const cv::Mat& workingImage, bool cutSoundtrack);

// The first column of the rows' bright fraction, for a working image `width`
// columns wide.
int cutProfileFirstColumn(int width);

// findFrameCut from the profiles.
FrameCut frameCutFromProfiles(const FrameCutProfiles& profiles, const FrameGeometry& geometry,
                              SoundtrackType type, bool longStrip, bool cutSoundtrack);

// Finds the frame start and, with cutSoundtrack, the picture edge beside the
// soundtrack band. An empty image gives no pieces.
FrameCut findFrameCut(const cv::Mat& workingImage, const FrameGeometry& geometry,
                      SoundtrackType type, bool longStrip, bool cutSoundtrack);

// The pieces of findFrameCut as images sharing the working image's pixels,
// in film order: each becomes one movie frame.
std::vector<cv::Mat> cutFrame(const cv::Mat& workingImage, const FrameGeometry& geometry,
                              SoundtrackType type, bool longStrip, bool cutSoundtrack);

} // namespace veltrana
