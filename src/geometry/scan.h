#pragma once
// How a frame scan lies, and the working image the measures turn it into.
// Scans are read by reading/scan_reader.h.
//
// Orientation, for the whole program (other headers refer here):
// - A loaded scan shows the film running across the image: its columns
//   follow the film, its rows go across it. The trim (frame_correction.h)
//   works on it.
// - A working image is the trimmed scan turned a quarter anticlockwise
//   (workingImageFromFrame): the film runs down the image, rows along the
//   film and columns across it, and one row is one sample position. Scan
//   column c becomes working row (scan width - 1 - c); scan row r becomes
//   working column r. The soundtrack band lies near the left edge of an UP
//   working image and near the right edge of a DOWN one.

#include <opencv2/core.hpp>

namespace veltrana {

// The corrected frame turned by 90 degrees anticlockwise so that the film
// runs down the image: its right-most column becomes the top row and its top
// row the left-most column. One row of the result is one sample position.
cv::Mat workingImageFromFrame(const cv::Mat& frame);

} // namespace veltrana
