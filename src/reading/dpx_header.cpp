#include "reading/dpx_header.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace veltrana {

namespace {

// Offsets into the headers.
constexpr std::size_t kImageOffset = 4;          // file header: the image data's offset
constexpr std::size_t kUserDataSize = 32;        // file header: the user data's length
constexpr std::size_t kOrientation = 768;        // image header
constexpr std::size_t kElementCount = 770;       //
constexpr std::size_t kPixelsPerLine = 772;      //
constexpr std::size_t kLinesPerElement = 776;    //
constexpr std::size_t kDescriptor = 800;         // first image element
constexpr std::size_t kTransfer = 801;           //
constexpr std::size_t kBitSize = 803;            //
constexpr std::size_t kPacking = 804;            //
constexpr std::size_t kEncoding = 806;           //
constexpr std::size_t kElementDataOffset = 808;  //
constexpr std::size_t kEndOfLinePadding = 812;   //
constexpr std::size_t kGenericHeaderEnd = 1664;  // file, image and orientation headers
constexpr std::size_t kFilmFrameRate = 1724;     // film industry header
constexpr std::size_t kTimecode = 1920;          // television industry header
constexpr std::size_t kVideoFrameRate = 1940;    //
constexpr std::size_t kIndustryHeaderEnd = 2048; //
// The image header alone ends here: no element's samples can start earlier.
constexpr std::size_t kImageHeaderEnd = 1408;
// A field whose bits are all set was left undefined by the writer.
constexpr std::uint32_t kUndefined = 0xffffffffu;
// Sides beyond this are no scan (and keep every size below in 64 bits).
constexpr std::uint32_t kLongestSide = 1u << 20;

// The header's numbers in the file's byte order.
class HeaderReader {
public:
    HeaderReader(std::span<const std::uint8_t> bytes, bool bigEndian)
        : bytes(bytes), bigEndian(bigEndian) {}

    std::uint8_t u8(std::size_t at) const { return bytes[at]; }
    std::uint16_t u16(std::size_t at) const {
        const std::uint8_t* p = &bytes[at];
        return static_cast<std::uint16_t>(bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
    }
    std::uint32_t u32(std::size_t at) const {
        const std::uint8_t* p = &bytes[at];
        return bigEndian ? (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                               (std::uint32_t{p[2]} << 8) | p[3]
                         : (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
                               (std::uint32_t{p[1]} << 8) | p[0];
    }
    float r32(std::size_t at) const {
        const std::uint32_t bits = u32(at);
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    std::span<const std::uint8_t> bytes;
    bool bigEndian;
};

Status damaged(const std::string& what) {
    return Status::failure("the DPX header " + what);
}

// Channels of the descriptors a scan can be: luma, RGB, RGBA; 0 for others.
int channelsOf(int descriptor) {
    switch (descriptor) {
    case 6:
        return 1;
    case 50:
        return 3;
    case 51:
        return 4;
    default:
        return 0;
    }
}

// Bytes of one row of `samples` samples as stored: packed rows and
// three-in-a-word rows end on a whole 32-bit word; 8-, 12-bit filled and
// 16-bit samples fill their bytes or 16-bit halves.
std::uint64_t storedRowBytes(std::uint64_t samples, int bits, DpxPacking packing) {
    const auto words = [](std::uint64_t bitsInRow) { return (bitsInRow + 31) / 32 * 4; };
    switch (bits) {
    case 8:
        return samples;
    case 10:
        return packing == DpxPacking::Packed ? words(samples * 10) : (samples + 2) / 3 * 4;
    case 12:
        return packing == DpxPacking::Packed ? words(samples * 12) : samples * 2;
    default:
        return samples * 2;
    }
}

// A two-digit binary-coded decimal, or -1.
int bcd(std::uint32_t byte) {
    const std::uint32_t high = byte >> 4;
    const std::uint32_t low = byte & 0xfu;
    return high <= 9 && low <= 9 ? static_cast<int>(high * 10 + low) : -1;
}

std::optional<DpxTimecode> timecodeOf(std::uint32_t code) {
    if (code == kUndefined) {
        return std::nullopt;
    }
    DpxTimecode t;
    t.hours = bcd(code >> 24);
    t.minutes = bcd((code >> 16) & 0xffu);
    t.seconds = bcd((code >> 8) & 0xffu);
    // the frames byte carries the drop-frame and colour-frame flags above its digits
    t.frames = bcd(code & 0x3fu);
    t.dropFrame = (code & 0x40u) != 0;
    if (t.hours < 0 || t.hours > 23 || t.minutes < 0 || t.minutes > 59 || t.seconds < 0 ||
        t.seconds > 59 || t.frames < 0) {
        return std::nullopt;
    }
    return t;
}

std::optional<double> frameRateOf(float rate) {
    if (!std::isfinite(rate) || !(rate > 0.0f) || rate > 1000.0f) {
        return std::nullopt;
    }
    return static_cast<double>(rate);
}

// The first element's layout: descriptor, depth, packing, encoding.
Status readLayout(const HeaderReader& h, DpxHeader& header) {
    header.descriptor = h.u8(kDescriptor);
    header.channels = channelsOf(header.descriptor);
    if (header.channels == 0) {
        return damaged("gives the descriptor " + std::to_string(header.descriptor) +
                       ", which the program cannot map to grey or colour (it reads luma, RGB "
                       "and RGBA)");
    }
    header.bitsPerSample = h.u8(kBitSize);
    const int bits = header.bitsPerSample;
    if (bits != 8 && bits != 10 && bits != 12 && bits != 16) {
        return damaged("gives " + std::to_string(bits) +
                       " bits per sample; the program reads 8, 10, 12 and 16");
    }
    const std::uint16_t packing = h.u16(kPacking);
    if (packing > 2) {
        return damaged("gives the unknown packing " + std::to_string(packing));
    }
    header.packing = static_cast<DpxPacking>(packing);
    const std::uint16_t encoding = h.u16(kEncoding);
    if (encoding != 0) {
        return damaged("says the samples are run-length encoded (" + std::to_string(encoding) +
                       "); the program reads uncompressed DPX only");
    }
    header.orientation = h.u16(kOrientation);
    if (header.orientation > 3) {
        return damaged("gives the orientation " + std::to_string(header.orientation) +
                       ", which swaps rows and columns; the program reads 0 to 3");
    }
    header.transfer = h.u8(kTransfer);
    return {};
}

// The size and where the samples lie, against the file's length.
Status readExtent(const HeaderReader& h, std::size_t fileSize, DpxHeader& header) {
    const std::uint32_t width = h.u32(kPixelsPerLine);
    const std::uint32_t height = h.u32(kLinesPerElement);
    if (width == 0 || height == 0 || width > kLongestSide || height > kLongestSide) {
        return damaged("gives the impossible size " + std::to_string(width) + " x " +
                       std::to_string(height));
    }
    header.width = width;
    header.height = height;
    std::uint32_t offset = h.u32(kElementDataOffset);
    if (offset == 0 || offset == kUndefined) {
        offset = h.u32(kImageOffset);
    }
    if (offset < kImageHeaderEnd || offset > fileSize) {
        return damaged("places the image data at byte " + std::to_string(offset) +
                       ", outside the file's " + std::to_string(fileSize) + " bytes");
    }
    header.dataOffset = offset;
    // the decoder reads the user data whole: it must be in the file
    const std::uint32_t userData = h.u32(kUserDataSize);
    if (userData != kUndefined && userData > fileSize - std::min(fileSize, kIndustryHeaderEnd)) {
        return damaged("gives " + std::to_string(userData) +
                       " bytes of user data, more than the "
                       "file's " +
                       std::to_string(fileSize) + " bytes hold");
    }
    std::uint32_t padding = h.u32(kEndOfLinePadding);
    padding = padding == kUndefined ? 0 : padding;
    header.rowBytes = storedRowBytes(std::uint64_t{width} * static_cast<unsigned>(header.channels),
                                     header.bitsPerSample, header.packing);
    header.rowStride = header.rowBytes + padding;
    header.imageBytes = header.rowStride * height - padding;
    if (header.imageBytes > fileSize - offset) {
        return damaged("gives an image of " + std::to_string(width) + " x " +
                       std::to_string(height) + " pixels, whose " +
                       std::to_string(header.imageBytes) + " bytes run past the end of the file (" +
                       std::to_string(fileSize - offset) + " bytes after the header)");
    }
    return {};
}

// The time code and frame rate of the industry headers, where the file has them.
void readIndustryHeaders(const HeaderReader& h, std::size_t fileSize, DpxHeader& header) {
    if (fileSize < kIndustryHeaderEnd || header.dataOffset < kIndustryHeaderEnd) {
        return;
    }
    header.timecode = timecodeOf(h.u32(kTimecode));
    header.frameRate = frameRateOf(h.r32(kFilmFrameRate));
    if (!header.frameRate) {
        header.frameRate = frameRateOf(h.r32(kVideoFrameRate));
    }
}

} // namespace

bool isDpx(std::span<const std::uint8_t> b) {
    return b.size() >= 4 &&
           (std::memcmp(b.data(), "SDPX", 4) == 0 || std::memcmp(b.data(), "XPDS", 4) == 0);
}

Result<DpxHeader> parseDpxHeader(std::span<const std::uint8_t> bytes) {
    if (!isDpx(bytes)) {
        return Status::failure("it is not a DPX file");
    }
    if (bytes.size() < kGenericHeaderEnd) {
        return damaged("is cut short: the file holds " + std::to_string(bytes.size()) +
                       " bytes, less than the header's " + std::to_string(kGenericHeaderEnd));
    }
    DpxHeader header;
    header.bigEndian = bytes[0] == 'S';
    const HeaderReader h(bytes, header.bigEndian);
    const std::uint16_t elements = h.u16(kElementCount);
    if (elements == 0 || elements > 8) {
        return damaged("gives " + std::to_string(elements) + " image elements (1 to 8 may be)");
    }
    if (Status layout = readLayout(h, header); !layout) {
        return layout;
    }
    if (Status extent = readExtent(h, bytes.size(), header); !extent) {
        return extent;
    }
    readIndustryHeaders(h, bytes.size(), header);
    return header;
}

std::string dpxTransferName(int code) {
    static constexpr std::array<const char*, 13> kNames = {
        "user-defined",          "printing density",          "linear",
        "logarithmic",           "unspecified video",         "SMPTE 274M",
        "ITU-R 709-4",           "ITU-R 601-5 system B or G", "ITU-R 601-5 system M",
        "NTSC composite video",  "PAL composite video",       "Z (depth) linear",
        "Z (depth) homogeneous",
    };
    if (code >= 0 && code < static_cast<int>(kNames.size())) {
        return kNames[static_cast<std::size_t>(code)];
    }
    return "code " + std::to_string(code);
}

std::string timecodeText(const DpxTimecode& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d%c%02d", t.hours, t.minutes, t.seconds,
                  t.dropFrame ? ';' : ':', t.frames);
    return text;
}

} // namespace veltrana
