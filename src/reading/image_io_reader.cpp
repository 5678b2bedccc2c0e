#include "reading/image_io_reader.h"

#include "reading/dpx_header.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace veltrana {

namespace {

// The library decodes on the calling thread: the jobs read scans in
// parallel themselves, and a pool of its own would only compete with them.
// OpenEXR's pool is switched off entirely (-1), so that no decoding waits
// for another thread. Process-wide library settings, the same for every
// caller: set once, before the first decoding.
void decodeOnCallingThread() {
    static const bool set = [] {
        OIIO::attribute("threads", 1);
        OIIO::attribute("exr_threads", -1);
        return true;
    }();
    (void)set;
}

// The library's first complaint, without a trailing line break.
std::string libraryError(const std::string& error) {
    std::string text = error.empty() ? std::string("no reason given") : error;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    const std::size_t lineEnd = text.find('\n');
    return lineEnd == std::string::npos ? text : text.substr(0, lineEnd);
}

// Opens the bytes for the library's reader of `format` ("scan.dpx" or
// "scan.exr" picks it).
Result<std::unique_ptr<OIIO::ImageInput>> openInMemory(OIIO::Filesystem::IOMemReader& memory,
                                                       const char* name, const char* what) {
    decodeOnCallingThread();
    std::unique_ptr<OIIO::ImageInput> input = OIIO::ImageInput::open(name, nullptr, &memory);
    if (!input) {
        return Status::failure(std::string("the ") + what + " data cannot be read (" +
                               libraryError(OIIO::geterror()) + ")");
    }
    return input;
}

// Reads channels [first, end) of the first image as `type` into an image
// of `cvDepth` samples.
Result<cv::Mat> readPixels(OIIO::ImageInput& input, int first, int end, OIIO::TypeDesc type,
                           int cvDepth, const char* what, ScanBuffers* buffers) {
    const OIIO::ImageSpec& imageFormat = input.spec();
    const int cvType = CV_MAKETYPE(cvDepth, end - first);
    cv::Mat image = buffers != nullptr
                        ? buffers->decoded(imageFormat.height, imageFormat.width, cvType)
                        : cv::Mat(imageFormat.height, imageFormat.width, cvType);
    if (!input.read_image(0, 0, first, end, type, image.data, OIIO::AutoStride,
                          static_cast<OIIO::stride_t>(image.step[0]))) {
        return Status::failure(std::string("the ") + what + " data cannot be decoded (" +
                               libraryError(input.geterror()) + ")");
    }
    return image;
}

// The header's flips undone: the scan as the scanner saw it.
void turnUpright(cv::Mat& image, int orientation) {
    switch (orientation) {
    case 1:
        cv::flip(image, image, 1); // right to left
        break;
    case 2:
        cv::flip(image, image, 0); // bottom to top
        break;
    case 3:
        cv::flip(image, image, -1);
        break;
    default:
        break;
    }
}

// Single-channel 10-bit samples filled three to a word: unpacked here. The
// library reads the last, partly filled word of a row wrong (a row whose
// width is not a multiple of three, as 2048 is not); the decoders in use
// agree on the rest: the first sample in the low bits, past the padding of
// method A.
cv::Mat unpackFilledLuma10(std::span<const std::uint8_t> bytes, const DpxHeader& header,
                           ScanBuffers* buffers) {
    const int rows = static_cast<int>(header.height);
    const int cols = static_cast<int>(header.width);
    cv::Mat image =
        buffers != nullptr ? buffers->decoded(rows, cols, CV_16UC1) : cv::Mat(rows, cols, CV_16UC1);
    const int shift = header.packing == DpxPacking::FilledA ? 2 : 0;
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t* word =
            bytes.data() + header.dataOffset + static_cast<std::size_t>(r) * header.rowStride;
        std::uint16_t* out = image.ptr<std::uint16_t>(r);
        for (int x = 0; x < cols; x += 3, word += 4) {
            const std::uint32_t w =
                header.bigEndian ? (std::uint32_t{word[0]} << 24) | (std::uint32_t{word[1]} << 16) |
                                       (std::uint32_t{word[2]} << 8) | word[3]
                                 : (std::uint32_t{word[3]} << 24) | (std::uint32_t{word[2]} << 16) |
                                       (std::uint32_t{word[1]} << 8) | word[0];
            for (int k = 0; k < 3 && x + k < cols; ++k) {
                out[x + k] = static_cast<std::uint16_t>((w >> (10 * k + shift)) & 0x3ffu);
            }
        }
    }
    return image;
}

ScanDescription dpxDescription(const DpxHeader& header) {
    ScanDescription d;
    d.format = "DPX";
    d.bitsPerSample = header.bitsPerSample;
    d.channels = header.channels;
    d.transfer = dpxTransferName(header.transfer);
    d.timecode = header.timecode;
    d.frameRate = header.frameRate;
    return d;
}

// The OpenEXR channels read as the scan: R, G and B (in that order), or Y,
// or the only one; {-1, -1} when none of these is there.
std::pair<int, int> exrChannels(const OIIO::ImageSpec& imageFormat) {
    const int red = imageFormat.channelindex("R");
    if (red >= 0 && imageFormat.channelindex("G") == red + 1 &&
        imageFormat.channelindex("B") == red + 2) {
        return {red, red + 3};
    }
    if (const int luma = imageFormat.channelindex("Y"); luma >= 0) {
        return {luma, luma + 1};
    }
    if (imageFormat.nchannels == 1) {
        return {0, 1};
    }
    return {-1, -1};
}

// The size of an OpenEXR file's data window, read from its (first) header
// before the library opens it: the library may size tables by it on
// opening. Each attribute is a name and a type, each ending in a zero byte,
// a 32-bit little-endian length and that many bytes.
Result<ImageSize> exrDataWindowSize(std::span<const std::uint8_t> b) {
    constexpr std::size_t kFirstAttribute = 8; // after the magic number and the version
    std::size_t at = kFirstAttribute;
    const auto text = [&](std::size_t from) {
        const auto* end = static_cast<const std::uint8_t*>(
            std::memchr(b.data() + from, 0, std::min<std::size_t>(b.size() - from, 256)));
        return end == nullptr ? std::string_view()
                              : std::string_view(reinterpret_cast<const char*>(b.data() + from),
                                                 static_cast<std::size_t>(end - b.data()) - from);
    };
    const auto int32At = [&](std::size_t i) {
        return static_cast<std::int32_t>(b[i] | (b[i + 1] << 8) | (b[i + 2] << 16) |
                                         (static_cast<std::uint32_t>(b[i + 3]) << 24));
    };
    while (at < b.size() && b[at] != 0) {
        const std::string_view name = text(at);
        const std::size_t typeAt = at + name.size() + 1;
        const std::string_view type = typeAt < b.size() ? text(typeAt) : std::string_view();
        const std::size_t sizeAt = typeAt + type.size() + 1;
        if (name.empty() || type.empty() || sizeAt + 4 > b.size()) {
            break;
        }
        const std::int32_t size = int32At(sizeAt);
        if (size < 0 || static_cast<std::size_t>(size) > b.size() - sizeAt - 4) {
            break;
        }
        if (name == "dataWindow" && type == "box2i" && size == 16) {
            const std::int64_t width = std::int64_t{int32At(sizeAt + 12)} - int32At(sizeAt + 4) + 1;
            const std::int64_t height =
                std::int64_t{int32At(sizeAt + 16)} - int32At(sizeAt + 8) + 1;
            return ImageSize{width, height};
        }
        at = sizeAt + 4 + static_cast<std::size_t>(size);
    }
    return Status::failure("the OpenEXR header gives no data window");
}

std::string channelNames(const OIIO::ImageSpec& imageFormat) {
    std::string names;
    for (const std::string& name : imageFormat.channelnames) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

} // namespace

bool isOpenExr(std::span<const std::uint8_t> b) {
    static constexpr std::uint8_t kMagic[4] = {0x76, 0x2f, 0x31, 0x01};
    return b.size() >= 4 && std::memcmp(b.data(), kMagic, 4) == 0;
}

Result<DecodedScan> decodeDpx(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                              ScanBuffers* buffers) {
    const Result<DpxHeader> header = parseDpxHeader(bytes);
    if (!header) {
        return header.status();
    }
    if (Status size = checkScanSize({header->width, header->height}, limits); !size) {
        return size;
    }
    if (header->channels == 1 && header->bitsPerSample == 10 &&
        header->packing != DpxPacking::Packed) {
        DecodedScan scan;
        scan.image = unpackFilledLuma10(bytes, *header, buffers);
        turnUpright(scan.image, header->orientation);
        scan.description = dpxDescription(*header);
        return scan;
    }
    OIIO::Filesystem::IOMemReader memory(bytes.data(), bytes.size());
    Result<std::unique_ptr<OIIO::ImageInput>> input = openInMemory(memory, "scan.dpx", "DPX");
    if (!input) {
        return input.status();
    }
    const OIIO::ImageSpec& imageFormat = (*input)->spec();
    if (imageFormat.width != header->width || imageFormat.height != header->height ||
        imageFormat.nchannels != header->channels) {
        return Status::failure("the DPX header and its decoding disagree on the image's size");
    }
    const bool eight = header->bitsPerSample == 8;
    Result<cv::Mat> pixels = readPixels(**input, 0, imageFormat.nchannels,
                                        eight ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16,
                                        eight ? CV_8U : CV_16U, "DPX", buffers);
    if (!pixels) {
        return pixels.status();
    }
    DecodedScan scan;
    scan.image = std::move(pixels).value();
    turnUpright(scan.image, header->orientation);
    scan.rgbOrder = true;
    scan.lowBits = eight ? 0 : 16 - header->bitsPerSample;
    scan.description = dpxDescription(*header);
    return scan;
}

Result<DecodedScan> decodeOpenExr(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                                  ScanBuffers* buffers) {
    const Result<ImageSize> window = exrDataWindowSize(bytes);
    if (!window) {
        return window.status();
    }
    if (Status size = checkScanSize(*window, limits); !size) {
        return size;
    }
    OIIO::Filesystem::IOMemReader memory(bytes.data(), bytes.size());
    Result<std::unique_ptr<OIIO::ImageInput>> input = openInMemory(memory, "scan.exr", "OpenEXR");
    if (!input) {
        return input.status();
    }
    const OIIO::ImageSpec& imageFormat = (*input)->spec();
    if (Status size = checkScanSize({imageFormat.width, imageFormat.height}, limits); !size) {
        return size;
    }
    const auto [first, end] = exrChannels(imageFormat);
    if (first < 0) {
        return Status::failure("the OpenEXR channels (" + channelNames(imageFormat) +
                               ") cannot be read as grey (Y) or colour (R, G, B)");
    }
    Result<cv::Mat> pixels =
        readPixels(**input, first, end, OIIO::TypeDesc::FLOAT, CV_32F, "OpenEXR", buffers);
    if (!pixels) {
        return pixels.status();
    }
    DecodedScan scan;
    scan.image = std::move(pixels).value();
    scan.rgbOrder = true;
    scan.description.format = "OpenEXR";
    scan.description.floatingPoint = true;
    scan.description.bitsPerSample = static_cast<int>(imageFormat.channelformat(first).size() * 8);
    scan.description.channels = imageFormat.nchannels;
    // the format's samples are linear light by definition; it has no field for another
    scan.description.transfer = "linear (OpenEXR)";
    return scan;
}

} // namespace veltrana
