// Writes the fuzzer's starting corpus: small scans in the layouts scanners
// write, and the damaged or hostile files a run must refuse.
//
//   make_scan_corpus <folder>
//
// The scans are rendered sample scans shrunk to a little over the smallest
// size a scan may have, so each file stays a few kilobytes and the fuzzer
// spends its time on the code rather than on pixels.

#include "synth/synth.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace veltrana;

struct TiffLayout {
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t predictor = PREDICTOR_NONE;
    int rowsPerStrip = 16;
    bool tiled = false;
};

// Writes an 8- or 16-bit image of one, three or four channels (OpenCV's
// blue-green-red order) as a TIFF.
bool writeTiff(const fs::path& path, const cv::Mat& image, const TiffLayout& layout) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        return false;
    }
    const int channels = image.channels();
    const int bytesPerSample = image.depth() == CV_16U ? 2 : 1;
    cv::Mat rgb = image;
    if (channels == 3) {
        cv::cvtColor(image, rgb, cv::COLOR_BGR2RGB);
    } else if (channels == 4) {
        cv::cvtColor(image, rgb, cv::COLOR_BGRA2RGBA);
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.cols));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.rows));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(8 * bytesPerSample));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(channels));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    if (channels == 4) {
        const std::uint16_t alpha[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, alpha);
    }
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
    if (layout.predictor != PREDICTOR_NONE) {
        TIFFSetField(tif, TIFFTAG_PREDICTOR, layout.predictor);
    }
    bool ok = true;
    if (layout.tiled) {
        const int side = 16;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
        const std::size_t pixelBytes = static_cast<std::size_t>(channels * bytesPerSample);
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(side * side) * pixelBytes);
        for (int y = 0; y < image.rows; y += side) {
            for (int x = 0; x < image.cols; x += side) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int r = 0; r < side && y + r < image.rows; ++r) {
                    const int columns = std::min(side, image.cols - x);
                    std::memcpy(&tile[static_cast<std::size_t>(r * side) * pixelBytes],
                                rgb.ptr(y + r) + static_cast<std::size_t>(x) * pixelBytes,
                                static_cast<std::size_t>(columns) * pixelBytes);
                }
                ok = ok && TIFFWriteTile(tif, tile.data(), static_cast<std::uint32_t>(x),
                                         static_cast<std::uint32_t>(y), 0, 0) >= 0;
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip);
        for (int r = 0; r < image.rows && ok; ++r) {
            ok = TIFFWriteScanline(tif, rgb.ptr(r), static_cast<std::uint32_t>(r), 0) >= 0;
        }
    }
    TIFFClose(tif);
    return ok;
}

// A file that claims a huge image but holds only a few short deflate strips:
// the header is all a run should read of it.
bool writeHugeClaim(const fs::path& path, std::uint32_t side) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        return false;
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, side / 4);
    const std::vector<std::uint8_t> zeros(4096, 0);
    bool ok = true;
    for (tstrip_t s = 0; s < 4 && ok; ++s) {
        ok = TIFFWriteEncodedStrip(tif, s, const_cast<std::uint8_t*>(zeros.data()),
                                   static_cast<tmsize_t>(zeros.size())) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

std::vector<char> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool writeBytes(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The first scan of a rendered film, shrunk so that its shorter side has
// `shortSide` pixels.
cv::Mat smallScan(SoundtrackType film, bool color, bool up, int shortSide) {
    synth::SynthOptions options;
    options.film = film;
    options.dpi = {300, 300};
    options.frames = 1;
    options.color = color;
    options.rotationUp = up;
    options.jitter = 0;
    const synth::SynthPlanResult planned = synth::planSampleScans(options);
    if (!planned.ok()) {
        return {};
    }
    const cv::Mat scan = synth::renderScan(planned.plan, 0);
    const double scale = static_cast<double>(shortSide) / std::min(scan.rows, scan.cols);
    cv::Mat small;
    cv::resize(scan, small, cv::Size(), scale, scale, cv::INTER_AREA);
    return small;
}

// A small scan written by the renderer's own writer in a deeper format.
bool writeDeep(const fs::path& path, const cv::Mat& image, synth::ScanFormat format,
               const synth::DeepFileLayout& layout) {
    synth::RenderedScan scan;
    scan.image = image;
    image.convertTo(scan.fine, CV_32F);
    synth::SynthOptions options;
    options.format = format;
    options.deepLayout = layout;
    return synth::writeScanFile(path, scan, options, 0).empty();
}

synth::DeepFileLayout dpxLayout(int bits, DpxPacking packing, bool bigEndian) {
    synth::DeepFileLayout layout;
    layout.dpxBits = bits;
    layout.dpxPacking = packing;
    layout.dpxBigEndian = bigEndian;
    return layout;
}

bool writeDeepScans(const fs::path& dir, const cv::Mat& grey, const cv::Mat& colour) {
    using synth::ScanFormat;
    bool ok = writeDeep(dir / "colour10-filled-a.dpx", colour, ScanFormat::Dpx, {});
    ok = writeDeep(dir / "grey10-filled-b-little.dpx", grey, ScanFormat::Dpx,
                   dpxLayout(10, DpxPacking::FilledB, false)) &&
         ok;
    ok = writeDeep(dir / "colour12-packed.dpx", colour, ScanFormat::Dpx,
                   dpxLayout(12, DpxPacking::Packed, true)) &&
         ok;
    ok = writeDeep(dir / "grey16-little.dpx", grey, ScanFormat::Dpx,
                   dpxLayout(16, DpxPacking::FilledA, false)) &&
         ok;
    synth::DeepFileLayout halfTiled;
    halfTiled.exrHalf = true;
    halfTiled.exrTiled = true;
    ok = writeDeep(dir / "colour-half-tiled.exr", colour, ScanFormat::OpenExr, halfTiled) && ok;
    ok = writeDeep(dir / "grey-float.exr", grey, ScanFormat::OpenExr, {}) && ok;
    // a header whose image runs past the end, and one with an unknown packing
    std::vector<char> dpx = readBytes(dir / "colour10-filled-a.dpx");
    std::vector<char> cut(dpx.begin(), dpx.begin() + static_cast<long>(dpx.size() * 3 / 4));
    ok = writeBytes(dir / "damaged-truncated.dpx", cut) && ok;
    dpx[805] = 9; // the packing's low byte, big-endian
    ok = writeBytes(dir / "damaged-packing.dpx", dpx) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_scan_corpus <folder>\n");
        return 2;
    }
    const fs::path dir = argv[1];
    fs::create_directories(dir);
    bool ok = true;
    const auto tiff = [&](const char* name, const cv::Mat& image, TiffLayout layout) {
        if (image.empty() || !writeTiff(dir / name, image, layout)) {
            std::fprintf(stderr, "make_scan_corpus: cannot write %s\n", name);
            ok = false;
        }
    };

    const cv::Mat grey = smallScan(SoundtrackType::VariableArea35, false, true, 72);
    const cv::Mat colour = smallScan(SoundtrackType::VariableDensity35, true, false, 72);
    const cv::Mat grey16mm = smallScan(SoundtrackType::VariableArea16, false, true, 72);
    cv::Mat grey16;
    grey.convertTo(grey16, CV_16U, 257.0);
    cv::Mat colour16;
    colour.convertTo(colour16, CV_16U, 257.0);
    cv::Mat colourAlpha;
    cv::cvtColor(colour, colourAlpha, cv::COLOR_BGR2BGRA);

    tiff("grey8-none.tif", grey, {});
    tiff("grey8-deflate.tif", grey, {COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 16, false});
    tiff("grey8-packbits-16mm.tif", grey16mm, {COMPRESSION_PACKBITS, PREDICTOR_NONE, 8, false});
    tiff("grey16-lzw.tif", grey16, {COMPRESSION_LZW, PREDICTOR_HORIZONTAL, 16, false});
    tiff("colour8-deflate-down.tif", colour,
         {COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL, 32, false});
    tiff("colour8-lzw-down.tif", colour, {COMPRESSION_LZW, PREDICTOR_NONE, 72, false});
    tiff("colour16-deflate-down.tif", colour16,
         {COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL, 16, false});
    // layouts left to the image library
    tiff("colour8-alpha-deflate.tif", colourAlpha,
         {COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 16, false});
    tiff("grey8-tiled-deflate.tif", grey, {COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 0, true});

    // sizes a scan may not have
    tiff("refused-1x1.tif", cv::Mat(1, 1, CV_8UC1, cv::Scalar(128)), {});
    tiff("refused-10x10.tif", cv::Mat(10, 10, CV_8UC1, cv::Scalar(128)), {});
    tiff("refused-50x1.tif", cv::Mat(1, 50, CV_8UC1, cv::Scalar(128)), {});
    if (!writeHugeClaim(dir / "refused-30000x30000-deflate.tif", 30000)) {
        ok = false;
    }

    // damaged files
    std::vector<char> whole = readBytes(dir / "grey8-deflate.tif");
    std::vector<char> cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() * 3 / 5));
    ok = writeBytes(dir / "damaged-truncated.tif", cut) && ok;
    std::vector<char> wrongMagic = readBytes(dir / "grey8-none.tif");
    wrongMagic[2] = 'X';
    ok = writeBytes(dir / "damaged-wrong-magic.tif", wrongMagic) && ok;

    // DPX and OpenEXR in the layouts scanners write, and damaged DPX headers
    ok = writeDeepScans(dir, grey, colour) && ok;

    // other formats the image library reads, named like scans
    ok = cv::imwrite((dir / "other.png").string(), grey) && ok;
    ok = cv::imwrite((dir / "other.bmp").string(), grey) && ok;
    ok = cv::imwrite((dir / "other.pgm").string(), grey) && ok;
    return ok ? 0 : 1;
}
