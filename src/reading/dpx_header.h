#pragma once
// DPX headers, checked by our own code before the image library decodes a
// pixel: a damaged or crafted header is refused here with a message that
// says what is wrong, whatever the decoder would have made of it.
//
// Offsets are those of the generic and industry headers of a DPX file
// (file, image, orientation, film and television headers); every number is
// read in the byte order the file's magic number gives. Only the first image
// element is read: that is the scan.

#include "base/status.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace veltrana {

// A SMPTE time code as the header stores it: hours, minutes, seconds and
// frames, the frames counted at the whole-number rate of the time code.
struct DpxTimecode {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
    bool dropFrame = false; // 29.97 and 59.94 fps time code that skips frame numbers
};

// How the samples of one row are packed into the file's 32-bit words.
enum class DpxPacking : int {
    Packed = 0,  // one stream of bits, each row padded to a whole word
    FilledA = 1, // 10 bits: three samples a word, the padding in the low bits; 12 bits: one a
                 // 16-bit half, the padding low
    FilledB = 2, // the same with the padding in the high bits
};

struct DpxHeader {
    bool bigEndian = true;
    std::uint32_t dataOffset = 0; // where the first element's samples start
    std::int64_t width = 0;
    std::int64_t height = 0;
    int descriptor = 0; // 6 luma, 50 RGB, 51 RGBA
    int channels = 0;   // 1, 3 or 4
    int bitsPerSample = 0;
    DpxPacking packing = DpxPacking::Packed;
    // 0 left to right, top to bottom; 1 mirrored left to right; 2 upside
    // down; 3 both. The orientations that swap rows and columns are refused.
    int orientation = 0;
    int transfer = 0; // the transfer characteristic code, as stored
    std::optional<DpxTimecode> timecode;
    std::optional<double> frameRate; // frames per second, when the header gives one
    // bytes of one row as stored, from one row's start to the next's (the
    // row and its end-of-line padding), and of the whole image
    std::uint64_t rowBytes = 0;
    std::uint64_t rowStride = 0;
    std::uint64_t imageBytes = 0;
};

// Whether the bytes start with a DPX magic number (either byte order).
bool isDpx(std::span<const std::uint8_t> bytes);

// Reads and checks the header against the file's length: the sizes, the
// layout of the first image element (descriptor, bit depth, packing,
// encoding, orientation) and where its samples lie. A failure says what is
// wrong ("the image data runs past the end of the file ...").
Result<DpxHeader> parseDpxHeader(std::span<const std::uint8_t> bytes);

// The name of a transfer characteristic code ("printing density",
// "logarithmic", ...; "code N" for one the standard does not name).
std::string dpxTransferName(int code);

// "01:02:03:04" (";" before the frames of drop-frame time code).
std::string timecodeText(const DpxTimecode& timecode);

} // namespace veltrana
