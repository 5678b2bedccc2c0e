#pragma once
// The bicubic scaling of a turned image, read from the image as it lies.
//
// A movie frame is the working image's region (the scan turned a quarter)
// scaled with cv::resize's INTER_CUBIC. Turning the region first copies it
// through the cache the wrong way, which costs nearly as much as the
// scaling; scaling the stored region and turning the small result does not
// give the same pixels, since cv::resize rounds its two passes differently
// (the pass along the rows sums exact whole numbers, the pass down the
// columns sums in single precision) and the filter's weights are not
// mirror images of each other once rounded. scaleTurnedCubic does the same
// arithmetic as cv::resize on the turned image, in the same order and with
// the same weights, but reads each pass's pixels from the stored image:
// the pass along the turned rows runs down the stored columns, four stored
// rows at a time.

#include <opencv2/core.hpp>

namespace veltrana {

// How the image to scale lies in the stored one: its row i is stored column
// i (or width - 1 - i when the columns run backwards), its column j stored
// row j (or height - 1 - j).
struct StoredTurn {
    bool reverseStoredRows = false;
    bool reverseStoredColumns = false;
};

// The turned image: turned(i, j) = stored(row of j, column of i).
cv::Mat turnedImage(const cv::Mat& stored, const StoredTurn& turn);

// cv::resize(turnedImage(stored, turn), size, INTER_CUBIC), pixel for pixel.
// Computed from the stored image for 8-bit images of one or three channels
// whose scaled rows hold a multiple of 32 values (as 640 pixels do);
// anything else is turned and scaled by cv::resize.
cv::Mat scaleTurnedCubic(const cv::Mat& stored, const StoredTurn& turn, cv::Size size);

} // namespace veltrana
