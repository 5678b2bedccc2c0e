#pragma once
// Brightness profiles: the one-dimensional measures every image analysis of
// the program is built from.
//
// Conventions for the geometry subsystem (this header and the others of
// geometry/; the subsystems built on it state theirs in one header each):
// - Images are 8-bit cv::Mat with one channel (grey) or three (blue, green,
//   red). Profiles read channel 0 only: the grey value, or blue. Which way
//   the film runs in an image (a loaded scan or a working image) is stated
//   once, in geometry/scan.h.
// - Positions are 0-based. A range of rows, columns or profile indices is
//   half-open, [first, end): `end` is one past the last entry, and end ==
//   first is empty. Where a result is still kept inclusive, because it is
//   written as such into logs, reports and previews, its declaration says so
//   (FrameBounds in geometry/frame_correction.h).
// - Nothing reads outside the image or the profile: row ranges are clipped to
//   the image, index ranges to the profile.
// - Sums are accumulated in single precision in index order and divided by
//   the count afterwards.
//
// Which extremum wins. Every search that picks a row or a column at an
// extremum does it in two steps, and both must stay as they are:
// 1. riseMaximum / fallMinimum give the extremum's value, counting only
//    entries that rise above (fall below) their predecessor. An entry
//    replaces the one found so far only when strictly beyond it.
// 2. firstIndexOf / lastIndexOf give its position: the first or the last
//    entry of a range the caller chooses that is exactly equal to that value,
//    compared in single precision with no tolerance. The range may be wider
//    than that of step 1, and the entry found need not be a rise itself.
// The trim (frame_correction.h) and the film cut (movie/frame_geometry.h) take
// the first equal entry; the strip cutters (soundtrack/strip.h) take the last.
// Searches for a strict local extremum over a neighbourhood (the resolution's
// frame edges, the variable-area band's edges) compare with > and <, so a
// tie with a neighbour is no extremum at all.
// Two entries that differ in the last bit are not tied. std::max_element,
// cv::minMaxLoc or a reduction pick differently (the first maximum of all
// entries, rise or not), and would move frame boundaries and bands.

#include <opencv2/core.hpp>

#include <cstdint>
#include <span>
#include <vector>

namespace veltrana {

// Per column, the mean of channel 0 over rows [firstRow, endRow). The range is
// clipped to the image; an empty range gives zeros. An image that is not
// 8-bit gives an empty profile.
std::vector<float> columnProfile(const cv::Mat& image, int firstRow, int endRow);

// Per row of [firstRow, endRow) (entry 0 is firstRow), the mean of channel 0
// over all columns. An image that is not 8-bit gives an empty profile.
std::vector<float> rowProfile(const cv::Mat& image, int firstRow, int endRow);

// Whole-number sums for the measures that read a scan as it lies, without
// turning it: 8-bit pixels summed in 32-bit integers. Such a sum is exact,
// so it equals the single-precision sum in any order as long as it stays
// below 2^24 (65793 pixels of 255), and a float made from it is the same
// float: callers fall back to the float measures beyond kExactPixelCount.
inline constexpr int kExactPixelCount = 65793;

// Adds, for every column, channel `channel` of rows [firstRow, endRow)
// (clipped) to sums[column]. Adds nothing unless the
// image is 8-bit, has that channel, and sums has an entry for every column.
void addColumnSums(const cv::Mat& image, int firstRow, int endRow, int channel,
                   std::span<std::uint32_t> sums);

// Mean of the entries, accumulated in index order in single precision.
// An empty profile gives 0.
float profileMean(std::span<const float> values);

// values[i + 1] - values[i]; one entry fewer than the input (none for an
// input of 0 or 1 entries).
std::vector<float> profileDifference(std::span<const float> values);

// Lowest entry of [begin, end) that lies strictly below its predecessor and
// below 255; 255 when there is none. Index 0 has no predecessor and is never
// a candidate. A plateau is neither a rise nor a fall.
float fallMinimum(std::span<const float> values, int begin, int end);

// Highest entry of [begin, end) that lies strictly above its predecessor and
// above 0; 0 when there is none.
float riseMaximum(std::span<const float> values, int begin, int end);

// Index of the first / last entry of [begin, end) exactly equal to value, or
// -1 when none is. The range is clipped to the profile.
int firstIndexOf(std::span<const float> values, float value, int begin, int end);
int lastIndexOf(std::span<const float> values, float value, int begin, int end);

// Reverses the samples in place (element i and count - 1 - i change places).
void ReverseSamples(std::span<float> values);

// Subtracts the profileMean from every entry.
void subtractMean(std::span<float> values);

} // namespace veltrana
