#pragma once
// The soundtrack strip of one frame and its samples.
//
// Conventions for the sound subsystem, stated here once for soundtrack/:
// - Images are working images (orientation: geometry/scan.h): one row is one
//   sample position, the soundtrack a band of columns near one side. 8 bits
//   per channel, one channel or three (blue, green, red).
// - Positions are 0-based; ranges of rows, samples and profile indices are
//   half-open [first, end), as in geometry/profile.h.
// - Except StripRange, the band's columns, which is inclusive: first..last.
//   The band searches' formulas give its last column, the job logs and
//   reports it and draws it as such, and every caller takes
//   colRange(first, last + 1); end() is that limit.
// - Ws is the track width of the SoundtrackGeometry, in columns.

#include "geometry/film_standard.h"
#include "soundtrack/track_geometry.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace veltrana {

// The image component read as sound (list index of "Image color element").
enum class ColorElement : int { B = 0, G = 1, R = 2, Y = 3 };

std::optional<ColorElement> colorElementFromName(char name);

// The channel of a blue-green-red image that holds `element`. Y has none of
// its own: every Y read, standard or archival, turns the pixels grey first
// (greyPixels) and reads that image's one channel, 0.
int channelOf(ColorElement element);

// The pixels' luminance as one channel of whole 8-bit values, as the image
// library turns blue-green-red into grey; a one-channel image as it is.
cv::Mat greyPixels(const cv::Mat& image);

struct StripRange {
    int first = 0; // first column, included
    int last = 0;  // last column, included
    int end() const { return last + 1; }
    friend bool operator==(const StripRange&, const StripRange&) = default;
};

// The band found by analysing the thresholded brightness profile across the
// frame (both track edges), as the searches give it: not yet clipped.
StripRange stripRangeByProfile(const cv::Mat& workingImage, SoundtrackType type,
                               const SoundtrackGeometry& geometry, bool rotationUp);

// The band found from the strongest brightening near the frame's border, cut
// to a fixed width for the film type: not yet clipped.
StripRange stripRangeFromEdge(const cv::Mat& workingImage, SoundtrackType type,
                              const SoundtrackGeometry& geometry, bool rotationUp);

// The same two searches on a column profile already taken, oriented (reversed
// for a DOWN frame, so the band side comes first) and holding at least the
// first stripProfileEntries entries: the searches read no further. `width`
// is the working image's width.
StripRange stripRangeFromBrightFraction(std::span<const float> orientedBrightFraction, int width,
                                        SoundtrackType type, const SoundtrackGeometry& geometry,
                                        bool rotationUp);
StripRange stripRangeFromBrightness(std::span<const float> orientedBrightness, int width,
                                    SoundtrackType type, const SoundtrackGeometry& geometry,
                                    bool rotationUp);

// How many leading entries of the oriented profile the search of a working
// image `width` columns wide reads (the bright-fraction search, or with
// fromEdge the brightness search): at most width.
int stripProfileEntries(SoundtrackType type, const SoundtrackGeometry& geometry, int width,
                        bool fromEdge);

// A range clipped to an image `width` columns wide, at least one column.
StripRange clipStripRange(StripRange range, int width);

// Cuts the columns of `range` (clipped) in the chosen colour element into a
// one-channel strip as high as the working image. For Y on a colour image the
// working image itself is turned grey first (luminance in all three
// channels), which is why it is taken by reference.
cv::Mat cutStrip(cv::Mat& workingImage, StripRange range, ColorElement element);

// The two cutters as the soundtrack job calls them: find the range, cut it.
cv::Mat cutStripByProfile(cv::Mat& workingImage, SoundtrackType type,
                          const SoundtrackGeometry& geometry, ColorElement element,
                          bool rotationUp);
cv::Mat cutStripFromEdge(cv::Mat& workingImage, SoundtrackType type,
                         const SoundtrackGeometry& geometry, ColorElement element, bool rotationUp);

// One sample per strip row: the mean across the strip. With removeDc the
// strip's mean is subtracted and then 128 more, centring the samples on -128
// (which the byte conversion puts on the unsigned midpoint 128).
std::vector<float> stripToSamples(const cv::Mat& strip, bool removeDc);

// The same from the strip's row sums (whole numbers below 2^24) and its width.
std::vector<float> samplesFromRowSums(std::span<const std::uint32_t> rowSums, int stripWidth,
                                      bool removeDc);

} // namespace veltrana
