#include "reading/scan_reader.h"

#include "reading/image_io_reader.h"
#include "reading/sample_depth.h"
#include "reading/tiff_reader.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrana {

namespace {

// The most bytes a pixel of an accepted scan can take (single-precision
// RGBA), and room for headers, tiles and padding: a file larger than that
// for the pixel limit is not read into memory.
constexpr double kMostBytesPerPixel = 16.0;
constexpr double kFileSlackBytes = 64.0 * 1024 * 1024;

Status refused(const std::string& name, const std::string& cause) {
    return Status::failure("Cannot read the scan " + name + ": " + cause);
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

std::uint32_t littleEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
           p[0];
}

// Width and height from the header of the other formats the image library
// reads (PNG, BMP, JPEG, WebP), so that their size is checked before decoding
// too.
std::optional<ImageSize> peekOtherSize(std::span<const std::uint8_t> b) {
    const std::size_t n = b.size();
    static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    if (n >= 24 && std::memcmp(b.data(), kPng, 8) == 0) {
        return ImageSize{static_cast<std::int64_t>(bigEndian32(&b[16])),
                         static_cast<std::int64_t>(bigEndian32(&b[20]))};
    }
    if (n >= 26 && b[0] == 'B' && b[1] == 'M') {
        const std::uint32_t header = littleEndian32(&b[14]);
        if (header == 12) {
            return ImageSize{b[18] | (b[19] << 8), b[20] | (b[21] << 8)};
        }
        const auto width = static_cast<std::int32_t>(littleEndian32(&b[18]));
        const auto height = static_cast<std::int32_t>(littleEndian32(&b[22]));
        return ImageSize{std::abs(static_cast<std::int64_t>(width)),
                         std::abs(static_cast<std::int64_t>(height))};
    }
    // WebP: a few bytes of lossless data can stand for 16383 x 16383 pixels
    if (n >= 30 && std::memcmp(b.data(), "RIFF", 4) == 0 &&
        std::memcmp(b.data() + 8, "WEBP", 4) == 0) {
        if (std::memcmp(b.data() + 12, "VP8 ", 4) == 0) {
            // lossy: after the frame tag and start code, 14 bits each
            return ImageSize{(b[26] | (b[27] << 8)) & 0x3fff, (b[28] | (b[29] << 8)) & 0x3fff};
        }
        if (std::memcmp(b.data() + 12, "VP8L", 4) == 0) {
            // lossless: after the signature byte, width - 1 and height - 1 in 14 bits each
            const std::uint32_t bits = littleEndian32(&b[21]);
            return ImageSize{(bits & 0x3fff) + 1, ((bits >> 14) & 0x3fff) + 1};
        }
        if (std::memcmp(b.data() + 12, "VP8X", 4) == 0) {
            // extended: the canvas, width - 1 and height - 1 in 24 bits each
            return ImageSize{(b[24] | (b[25] << 8) | (b[26] << 16)) + 1,
                             (b[27] | (b[28] << 8) | (b[29] << 16)) + 1};
        }
    }
    if (n >= 4 && b[0] == 0xff && b[1] == 0xd8) {
        // walk the markers to the frame header (SOF0..SOF15 but DHT, JPG and DAC)
        std::size_t i = 2;
        while (i + 9 < n) {
            if (b[i] != 0xff) {
                return std::nullopt;
            }
            const std::uint8_t marker = b[i + 1];
            if (marker == 0xff) {
                ++i;
                continue;
            }
            const std::size_t length = (std::size_t{b[i + 2]} << 8) | b[i + 3];
            if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 &&
                marker != 0xcc) {
                return ImageSize{(b[i + 7] << 8) | b[i + 8], (b[i + 5] << 8) | b[i + 6]};
            }
            if (length < 2) {
                return std::nullopt;
            }
            i += 2 + length;
        }
    }
    return std::nullopt;
}

// The format the bytes' signature names.
const char* formatOf(std::span<const std::uint8_t> b) {
    if (isTiff(b)) {
        return "TIFF";
    }
    if (isDpx(b)) {
        return "DPX";
    }
    if (isOpenExr(b)) {
        return "OpenEXR";
    }
    static constexpr std::uint8_t kPng[4] = {0x89, 'P', 'N', 'G'};
    if (b.size() >= 4 && std::memcmp(b.data(), kPng, 4) == 0) {
        return "PNG";
    }
    if (b.size() >= 2 && b[0] == 0xff && b[1] == 0xd8) {
        return "JPEG";
    }
    if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') {
        return "BMP";
    }
    if (b.size() >= 12 && std::memcmp(b.data(), "RIFF", 4) == 0 &&
        std::memcmp(b.data() + 8, "WEBP", 4) == 0) {
        return "WebP";
    }
    return "image";
}

// The image library's decoding of bytes libtiff was not asked to decode.
Result<cv::Mat> decodeTiffByImageLibrary(std::span<const std::uint8_t> bytes) {
    cv::Mat image;
    try {
        const cv::Mat wrapped(1, static_cast<int>(bytes.size()), CV_8U,
                              const_cast<std::uint8_t*>(bytes.data()));
        image = cv::imdecode(wrapped, cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception& e) {
        return Status::failure(std::string("the TIFF data cannot be decoded (") + e.err + ")");
    }
    if (image.empty()) {
        return Status::failure("the TIFF data cannot be decoded");
    }
    return image;
}

Result<cv::Mat> decodeTiffScan(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                               ScanBuffers* buffers) {
    Result<cv::Mat> decoded = decodeTiff(bytes, limits, buffers);
    if (decoded && decoded->empty()) {
        // a layout libtiff is not asked to decode itself: the image library does
        return decodeTiffByImageLibrary(bytes);
    }
    return decoded;
}

// The other formats the image library reads, their size checked on the
// header where it gives one, and on the image otherwise.
Result<cv::Mat> decodeOtherScan(std::span<const std::uint8_t> bytes, const ScanLimits& limits) {
    if (const std::optional<ImageSize> header = peekOtherSize(bytes)) {
        if (Status size = checkScanSize(*header, limits); !size) {
            return size;
        }
    }
    cv::Mat image;
    try {
        if (bytes.size() < static_cast<std::size_t>(INT32_MAX)) {
            const cv::Mat wrapped(1, static_cast<int>(bytes.size()), CV_8U,
                                  const_cast<std::uint8_t*>(bytes.data()));
            image = cv::imdecode(wrapped, cv::IMREAD_UNCHANGED);
        }
    } catch (const cv::Exception& e) {
        return Status::failure(std::string("the image cannot be decoded (") + e.err + ")");
    }
    if (image.empty()) {
        return Status::failure("it is not a TIFF file, nor any other image the program reads");
    }
    if (Status size = checkScanSize({image.cols, image.rows}, limits); !size) {
        return size;
    }
    return image;
}

// The image with one channel or three, its depth as it was: grey with alpha
// keeps the grey, colour with alpha the colour.
Result<cv::Mat> keptLayout(cv::Mat image) {
    if (image.empty() || image.rows == 0 || image.cols == 0) {
        return Status::failure("no image data");
    }
    if (image.depth() != CV_8U && image.depth() != CV_16U) {
        return Status::failure(
            "unsupported sample format (only 8- and 16-bit integer scans are read)");
    }
    switch (image.channels()) {
    case 1:
    case 3:
        return image;
    case 2: {
        cv::Mat grey;
        cv::extractChannel(image, grey, 0);
        return grey;
    }
    case 4: {
        cv::Mat colour;
        cv::cvtColor(image, colour, cv::COLOR_BGRA2BGR);
        return colour;
    }
    default:
        return Status::failure("unsupported channel count " + std::to_string(image.channels()));
    }
}

// 16-bit samples scaled to 8 bits: 65535 maps to 255.
cv::Mat eightBits(cv::Mat image) {
    if (image.depth() == CV_16U) {
        image.convertTo(image, CV_8U, 1.0 / 257.0);
    }
    return image;
}

// A scan the image library or libtiff decoded, in the layout the measures
// read, with what it held.
Result<DecodedScan> decodedInKeptLayout(Result<cv::Mat> decoded, const char* format) {
    if (!decoded) {
        return decoded.status();
    }
    DecodedScan scan;
    scan.description.format = format;
    scan.description.bitsPerSample = decoded->depth() == CV_16U ? 16 : 8;
    scan.description.channels = decoded->channels();
    Result<cv::Mat> kept = keptLayout(std::move(decoded).value());
    if (!kept) {
        return kept.status();
    }
    scan.image = std::move(kept).value();
    return scan;
}

Result<DecodedScan> decodeBytes(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                                ScanBuffers* buffers) {
    if (bytes.empty()) {
        return Status::failure("it is an empty file");
    }
    if (isTiff(bytes)) {
        return decodedInKeptLayout(decodeTiffScan(bytes, limits, buffers), "TIFF");
    }
    if (isDpx(bytes)) {
        return decodeDpx(bytes, limits, buffers);
    }
    if (isOpenExr(bytes)) {
        return decodeOpenExr(bytes, limits, buffers);
    }
    return decodedInKeptLayout(decodeOtherScan(bytes, limits), formatOf(bytes));
}

// The 8-bit image of a decoded scan. TIFF and the image library's formats
// arrive blue first and whole: their 16-bit samples are scaled as they
// always were.
cv::Mat eightBitOf(const DecodedScan& scan, ScanBuffers* buffers) {
    const cv::Mat& image = scan.image;
    const bool sixteen = image.depth() == CV_16U && scan.description.bitsPerSample == 16;
    const bool asAlways = image.depth() == CV_8U || (sixteen && scan.lowBits == 0);
    if (asAlways && !scan.rgbOrder && image.channels() != 4) {
        return eightBits(image);
    }
    return eightBitImage(scan, buffers);
}

Result<ScanImages> imagesOf(Result<DecodedScan> decoded, const std::string& name,
                            ScanBuffers* buffers, bool keepStoredDepth) {
    if (!decoded) {
        return refused(name, decoded.message());
    }
    ScanImages images;
    images.description = decoded->description;
    // the 8-bit image first: the stored one may be made in place
    images.eightBit = eightBitOf(*decoded, buffers);
    if (keepStoredDepth && decoded->image.depth() != CV_8U) {
        images.stored = storedDepthImage(std::move(decoded).value());
    } else if (decoded->image.u != nullptr && decoded->image.data != images.eightBit.data) {
        // decoded into memory of its own, let go here once the 8-bit image
        // was made from it
        images.decodedBytes = decoded->image.total() * decoded->image.elemSize();
    }
    return images;
}

// A file's bytes, in the buffers' memory or in memory of their own.
struct FileBytes {
    std::unique_ptr<std::uint8_t[]> own;
    std::span<const std::uint8_t> bytes;
};

Result<FileBytes> readFileBytes(const std::filesystem::path& path, const ScanLimits& limits,
                                ScanBuffers* buffers) {
    const std::string name = path.string();
    // non-blocking, so that a FIFO named like a scan cannot stall the run
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return refused(name, std::strerror(errno));
    }
    const auto failed = [&](const std::string& cause) {
        ::close(fd);
        return refused(name, cause);
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return failed(std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return failed(S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");
    }
    const double largest = limits.maxMegapixels * 1e6 * kMostBytesPerPixel + kFileSlackBytes;
    if (static_cast<double>(st.st_size) > largest) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "the file holds %.0f MB, more than a scan of at most %g megapixels can",
                      static_cast<double>(st.st_size) / 1e6, limits.maxMegapixels);
        return failed(line);
    }
    // the whole file in one read: far fewer system calls than strip by strip
    const auto size = static_cast<std::size_t>(st.st_size);
    FileBytes file;
    std::uint8_t* bytes = nullptr;
    if (buffers != nullptr) {
        bytes = buffers->fileBytes(size).data();
    } else {
        file.own.reset(new std::uint8_t[std::max<std::size_t>(size, 1)]);
        bytes = file.own.get();
    }
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return failed(std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    file.bytes = std::span<const std::uint8_t>(bytes, got);
    return file;
}

} // namespace

Result<ScanReading> decodeScanReading(std::span<const std::uint8_t> bytes, const std::string& name,
                                      const ScanLimits& limits, ScanBuffers* buffers) {
    Result<DecodedScan> decoded = decodeBytes(bytes, limits, buffers);
    if (!decoded) {
        return refused(name, decoded.message());
    }
    ScanReading reading;
    reading.description = decoded->description;
    reading.image = storedDepthImage(std::move(decoded).value());
    return reading;
}

LoadedScan decodeScan(std::span<const std::uint8_t> bytes, const std::string& name,
                      const ScanLimits& limits, ScanBuffers* buffers) {
    Result<ScanImages> images = imagesOf(decodeBytes(bytes, limits, buffers), name, buffers, false);
    if (!images) {
        return images.status();
    }
    return std::move(images->eightBit);
}

LoadedScan normaliseScan(cv::Mat image) {
    Result<cv::Mat> kept = keptLayout(std::move(image));
    if (!kept) {
        return kept.status();
    }
    return eightBits(std::move(kept).value());
}

Result<ScanReading> readScan(const std::filesystem::path& path, const ScanLimits& limits,
                             ScanBuffers* buffers) {
    const Result<FileBytes> file = readFileBytes(path, limits, buffers);
    if (!file) {
        return file.status();
    }
    return decodeScanReading(file->bytes, path.string(), limits, buffers);
}

Result<ScanImages> readScanImages(const std::filesystem::path& path, const ScanLimits& limits,
                                  ScanBuffers* buffers, bool keepStoredDepth) {
    const Result<FileBytes> file = readFileBytes(path, limits, buffers);
    if (!file) {
        return file.status();
    }
    return imagesOf(decodeBytes(file->bytes, limits, buffers), path.string(), buffers,
                    keepStoredDepth);
}

LoadedScan loadScan(const std::filesystem::path& path, const ScanLimits& limits,
                    ScanBuffers* buffers) {
    Result<ScanImages> images = readScanImages(path, limits, buffers, false);
    if (!images) {
        return images.status();
    }
    return std::move(images->eightBit);
}

void silenceImageLibraryLog() {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    silenceTiffLibraryLog();
    // FFmpeg's own lines (a damaged movie read back, ...): the video reader and
    // writer read this when first used; a level the user set is kept
    ::setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
}

} // namespace veltrana
