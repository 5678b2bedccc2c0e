#include "reading/tiff_reader.h"

#include <opencv2/imgproc.hpp>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace veltrana {

namespace {

// A file in memory, as libtiff's client procedures see it.
struct MemoryFile {
    const std::uint8_t* data = nullptr;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    std::string firstError; // libtiff's first complaint, for the message
};

MemoryFile& fileOf(thandle_t handle) {
    return *static_cast<MemoryFile*>(handle);
}

tmsize_t readMemory(thandle_t handle, void* buffer, tmsize_t count) {
    MemoryFile& f = fileOf(handle);
    if (count <= 0 || f.position >= f.size) {
        return 0;
    }
    const std::uint64_t n =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(count), f.size - f.position);
    std::memcpy(buffer, f.data + f.position, n);
    f.position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t writeMemory(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& f = fileOf(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) {
        base = f.position;
    } else if (whence == SEEK_END) {
        base = f.size;
    }
    if (offset > UINT64_MAX - base) {
        return static_cast<toff_t>(-1);
    }
    f.position = base + offset;
    return f.position;
}

int closeMemory(thandle_t) {
    return 0;
}

toff_t sizeOfMemory(thandle_t handle) {
    return fileOf(handle).size;
}

// libtiff reads mapped files in place: no copy of the raw data.
int mapMemory(thandle_t handle, void** base, toff_t* size) {
    MemoryFile& f = fileOf(handle);
    *base = const_cast<std::uint8_t*>(f.data);
    *size = f.size;
    return 1;
}

void unmapMemory(thandle_t, void*, toff_t) {}

int keepFirstError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto& file = *static_cast<MemoryFile*>(user);
    if (file.firstError.empty()) {
        char line[512];
        std::vsnprintf(line, sizeof line, format, args);
        file.firstError = line;
    }
    return 1;
}

int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct OptionsFreer {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

std::string damaged(const MemoryFile& file, const char* what) {
    std::string message = "the TIFF data ";
    message += what;
    if (!file.firstError.empty()) {
        message += " (" + file.firstError + ")";
    }
    return message;
}

bool isUsualCompression(std::uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
        return TIFFIsCODECConfigured(compression) != 0;
    default:
        return false;
    }
}

// Red and blue change places in rows [firstRow, endRow) of an interleaved
// three-channel image, in place (the image library's vectorised swap).
void swapRedAndBlue(cv::Mat& image, int firstRow, int endRow) {
    if (endRow > firstRow) {
        cv::Mat rows = image.rowRange(firstRow, endRow);
        cv::cvtColor(rows, rows, cv::COLOR_RGB2BGR);
    }
}

// Rows swapped at a time, while they are still in the cache.
constexpr std::uint32_t kSwapRows = 32;

// The tags that decide how a TIFF's pixels are laid out.
struct TiffLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 1;
    std::uint16_t samples = 1;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t predictor = PREDICTOR_NONE;
    std::uint16_t photometric = 0xffff;
    std::uint16_t extraCount = 0;
    std::uint32_t rowsPerStrip = 0;
    // bytes of one decoded row
    std::uint64_t rowBytes() const { return std::uint64_t{width} * samples * (bits / 8); }
};

TiffLayout tiffLayoutOf(TIFF* tif, std::uint32_t width, std::uint32_t height) {
    TiffLayout l;
    l.width = width;
    l.height = height;
    std::uint16_t* extraKinds = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l.format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &l.orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &l.compression);
    // only the codecs that take a predictor know the tag (asking the others is an error)
    if (l.compression == COMPRESSION_LZW || l.compression == COMPRESSION_ADOBE_DEFLATE ||
        l.compression == COMPRESSION_DEFLATE) {
        TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &l.predictor);
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &l.extraCount, &extraKinds);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &l.rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric);
    return l;
}

// Sample sizes the image library reads; it refuses any other with lines of
// its own on standard error, so those are refused here, in the program's words.
bool isImageLibrarySampleSize(std::uint16_t bits) {
    switch (bits) {
    case 1:
    case 8:
    case 10:
    case 12:
    case 14:
    case 16:
    case 32:
    case 64:
        return true;
    default:
        return false;
    }
}

// What scanners write; everything else is left to the image library, which
// reads it as it always has.
bool isScannerLayout(const TiffLayout& l, TIFF* tif) {
    const bool grey = l.samples == 1 && l.photometric == PHOTOMETRIC_MINISBLACK;
    const bool rgb = l.samples == 3 && l.photometric == PHOTOMETRIC_RGB;
    const bool usual = (grey || rgb) && (l.bits == 8 || l.bits == 16) && l.extraCount == 0 &&
                       l.planar == PLANARCONFIG_CONTIG && l.format == SAMPLEFORMAT_UINT &&
                       l.orientation == ORIENTATION_TOPLEFT && !TIFFIsTiled(tif) &&
                       isUsualCompression(l.compression) &&
                       (l.predictor == PREDICTOR_NONE || l.predictor == PREDICTOR_HORIZONTAL);
    return usual && static_cast<std::uint64_t>(TIFFScanlineSize64(tif)) == l.rowBytes();
}

// Every strip decoded straight into the image, red and blue swapped a few
// rows at a time while they are still in the cache.
Result<cv::Mat> readStrips(TIFF* tif, const TiffLayout& l, const MemoryFile& file,
                           ScanBuffers* buffers) {
    const int type = CV_MAKETYPE(l.bits == 8 ? CV_8U : CV_16U, l.samples);
    const int rows = static_cast<int>(l.height);
    const int cols = static_cast<int>(l.width);
    cv::Mat image = buffers != nullptr && l.bits == 8 ? buffers->image(rows, cols, type)
                                                      : cv::Mat(rows, cols, type);
    const std::uint32_t rowsPerStrip = std::clamp<std::uint32_t>(l.rowsPerStrip, 1, l.height);
    const tstrip_t strips = TIFFNumberOfStrips(tif);
    std::uint32_t row = 0;
    std::uint32_t swapped = 0;
    for (tstrip_t s = 0; s < strips && row < l.height; ++s) {
        const std::uint32_t stripRows = std::min(rowsPerStrip, l.height - row);
        const auto wanted = static_cast<tmsize_t>(stripRows * l.rowBytes());
        const tmsize_t got = TIFFReadEncodedStrip(tif, s, image.ptr(static_cast<int>(row)), wanted);
        if (got != wanted) {
            return Status::failure(damaged(file, got < 0 ? "is damaged" : "is cut short"));
        }
        row += stripRows;
        // in the order the measures read: blue, green, red
        if (l.samples == 3 && (row - swapped >= kSwapRows || row == l.height)) {
            swapRedAndBlue(image, static_cast<int>(swapped), static_cast<int>(row));
            swapped = row;
        }
    }
    if (row < l.height) {
        return Status::failure(damaged(file, "holds fewer rows than it says"));
    }
    return image;
}

} // namespace

void silenceTiffLibraryLog() {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
}

bool isTiff(std::span<const std::uint8_t> b) {
    if (b.size() < 4) {
        return false;
    }
    const bool little = b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0;
    const bool big = b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43);
    return little || big;
}

Result<cv::Mat> decodeTiff(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                           ScanBuffers* buffers) {
    MemoryFile file{bytes.data(), bytes.size(), 0, {}};
    std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), keepFirstError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), ignoreWarning, &file);
    // no single allocation larger than the largest image a scan may have
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options.get(), static_cast<tmsize_t>(limits.maxMegapixels * 1e6 * 8.0) + (1 << 20));
    std::unique_ptr<TIFF, TiffCloser> tif(
        TIFFClientOpenExt("scan", "r", &file, readMemory, writeMemory, seekMemory, closeMemory,
                          sizeOfMemory, mapMemory, unmapMemory, options.get()));
    if (!tif) {
        return Status::failure(damaged(file, "cannot be read"));
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) != 1) {
        return Status::failure(damaged(file, "gives no image size"));
    }
    if (Status size = checkScanSize({width, height}, limits); !size) {
        return size;
    }
    const TiffLayout layout = tiffLayoutOf(tif.get(), width, height);
    if (!isImageLibrarySampleSize(layout.bits)) {
        return Status::failure("unsupported sample format (" + std::to_string(layout.bits) +
                               " bits per sample; only 8- and 16-bit integer scans are read)");
    }
    if (!isScannerLayout(layout, tif.get())) {
        return cv::Mat();
    }
    return readStrips(tif.get(), layout, file, buffers);
}

} // namespace veltrana
