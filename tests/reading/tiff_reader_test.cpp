// The scan loader reads TIFF through libtiff itself; every layout must give
// the pixels the image library gave before, and the header limits must hold
// before anything is decoded.

#include "reading/scan_reader.h"
#include "reading/tiff_reader.h"

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <tiffio.h>

#include <cstdint>
#include <fstream>
#include <random>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

struct Layout {
    const char* name;
    int bits = 8;
    int samples = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t predictor = PREDICTOR_NONE;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    int rowsPerStrip = 7;
    bool tiled = false;
    int extraSamples = 0;  // alpha
    bool ownReader = true; // libtiff decodes it itself; otherwise the image library does
};

void PrintTo(const Layout& l, std::ostream* out) {
    *out << l.name;
}

// A width x height image of pseudo-random values written with libtiff as the
// layout says.
void writeTiff(const fs::path& path, const Layout& l, int width, int height) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.planar);
    if (l.predictor != PREDICTOR_NONE) {
        TIFFSetField(tif, TIFFTAG_PREDICTOR, l.predictor);
    }
    if (l.extraSamples > 0) {
        const std::uint16_t kinds[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, kinds);
    }
    std::mt19937 random(7);
    const int bytes = l.bits / 8;
    const int perPixel = l.planar == PLANARCONFIG_CONTIG ? l.samples : 1;
    const int planes = l.planar == PLANARCONFIG_CONTIG ? 1 : l.samples;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width * perPixel * bytes));
    if (l.tiled) {
        constexpr int kTile = 16;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, kTile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, kTile);
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(TIFFTileSize(tif)));
        for (int plane = 0; plane < planes; ++plane) {
            for (int y = 0; y < height; y += kTile) {
                for (int x = 0; x < width; x += kTile) {
                    for (auto& b : tile) {
                        b = static_cast<std::uint8_t>(random());
                    }
                    TIFFWriteTile(tif, tile.data(), static_cast<std::uint32_t>(x),
                                  static_cast<std::uint32_t>(y), 0,
                                  static_cast<std::uint16_t>(plane));
                }
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
        for (int plane = 0; plane < planes; ++plane) {
            for (int y = 0; y < height; ++y) {
                for (auto& b : row) {
                    b = static_cast<std::uint8_t>(random());
                }
                ASSERT_EQ(TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y),
                                            static_cast<std::uint16_t>(plane)),
                          1);
            }
        }
    }
    TIFFClose(tif);
}

class TiffLayouts : public testing::TestWithParam<Layout> {};

TEST_P(TiffLayouts, LoadTheSamePixelsAsTheImageLibrary) {
    test::TempDir dir;
    const fs::path file = dir / "scan.tif";
    // an odd size, so that strips and tiles end part way
    writeTiff(file, GetParam(), 101, 77);
    const LoadedScan ours = loadScan(file);
    ASSERT_TRUE(ours.ok()) << ours.message();
    const LoadedScan theirs = normaliseScan(cv::imread(file.string(), cv::IMREAD_UNCHANGED));
    ASSERT_TRUE(theirs.ok()) << theirs.message();
    ASSERT_EQ(ours.value().type(), theirs.value().type());
    ASSERT_EQ(ours.value().size(), theirs.value().size());
    EXPECT_EQ(cv::norm(ours.value(), theirs.value(), cv::NORM_INF), 0.0);
    // and the layouts scanners write are read without the image library
    const Result<cv::Mat> own = decodeTiff(test::readFileBytes(file), ScanLimits{});
    ASSERT_TRUE(own.ok()) << own.message();
    EXPECT_EQ(!own.value().empty(), GetParam().ownReader);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Scanners, TiffLayouts,
    testing::Values(
        Layout{"Grey8", 8, 1},
        Layout{"Grey8Lzw", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW},
        Layout{"Grey8LzwPredictor", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, PREDICTOR_HORIZONTAL},
        Layout{"Grey8Deflate", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE},
        Layout{"Grey8PackBits", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS},
        Layout{"Grey8OneStrip", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, PREDICTOR_NONE, PLANARCONFIG_CONTIG, 1000},
        Layout{"Grey16", 16, 1},
        Layout{"Grey16LzwPredictor", 16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, PREDICTOR_HORIZONTAL},
        Layout{"Rgb8", 8, 3, PHOTOMETRIC_RGB},
        Layout{"Rgb8Lzw", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW},
        Layout{"Rgb8DeflatePredictor", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL},
        Layout{"Rgb16", 16, 3, PHOTOMETRIC_RGB},
        Layout{"Rgb16Deflate", 16, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE},
        // left to the image library
        Layout{"Rgba8", 8, 4, PHOTOMETRIC_RGB, COMPRESSION_NONE, PREDICTOR_NONE, PLANARCONFIG_CONTIG, 7, false, 1, false},
        Layout{"GreyAlpha8", 8, 2, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, PREDICTOR_NONE, PLANARCONFIG_CONTIG, 7, false, 1, false},
        Layout{"Rgb8Tiled", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, PREDICTOR_NONE, PLANARCONFIG_CONTIG, 7, true, 0, false},
        Layout{"Grey8MinIsWhite", 8, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, PREDICTOR_NONE, PLANARCONFIG_CONTIG, 7, false, 0, false},
        Layout{"Rgb8Planes", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, PREDICTOR_NONE, PLANARCONFIG_SEPARATE, 7, false, 0, false}),
    [](const testing::TestParamInfo<Layout>& info) { return info.param.name; });
// clang-format on

// A header that claims a size: the pixels are never there.
std::vector<std::uint8_t> claimedSize(std::uint32_t width, std::uint32_t height) {
    test::TempDir dir;
    const fs::path file = dir / "claim.tif";
    TIFF* tif = TIFFOpen(file.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    std::vector<std::uint8_t> row(width, 0);
    TIFFWriteScanline(tif, row.data(), 0, 0);
    TIFFClose(tif);
    return test::readFileBytes(file);
}

TEST(ScanLimits, AHugeClaimIsRefusedFromItsHeader) {
    const std::vector<std::uint8_t> bytes = claimedSize(30000, 30000);
    ASSERT_LT(bytes.size(), 100'000u);
    const LoadedScan scan = decodeScan(bytes, "claim.tif");
    EXPECT_FALSE(scan.ok());
    EXPECT_EQ(scan.message(), "Cannot read the scan claim.tif: it is 30000 x 30000 pixels (900 "
                              "megapixels), more than the 100 megapixels a scan may have");
}

TEST(ScanLimits, TheLimitCanBeRaisedAndLowered) {
    ScanLimits limits;
    limits.maxMegapixels = 0.5;
    const cv::Mat scan(800, 700, CV_8UC1, cv::Scalar(90));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(cv::imencode(".tif", scan, bytes));
    EXPECT_NE(
        decodeScan(bytes, "s.tif", limits).message().find("(1 megapixels), more than the 0.5"),
        std::string::npos);
    limits.maxMegapixels = 0.6;
    EXPECT_TRUE(decodeScan(bytes, "s.tif", limits).ok());
}

struct SmallRow {
    int width;
    int height;
};

class TooSmallScans : public testing::TestWithParam<SmallRow> {};

TEST_P(TooSmallScans, AreRefusedWithTheirSize) {
    const cv::Mat scan(GetParam().height, GetParam().width, CV_8UC1, cv::Scalar(90));
    for (const char* format : {".tif", ".png"}) {
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(cv::imencode(format, scan, bytes));
        const LoadedScan loaded = decodeScan(bytes, "small");
        EXPECT_FALSE(loaded.ok()) << format;
        EXPECT_NE(loaded.message().find("a scan needs at least 64 pixels on each side"),
                  std::string::npos)
            << loaded.message();
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, TooSmallScans,
                         testing::Values(SmallRow{1, 1}, SmallRow{10, 10}, SmallRow{50, 1},
                                         SmallRow{63, 500}, SmallRow{500, 63}));

TEST(ScanLimits, SixtyFourPixelsASideAreEnough) {
    const cv::Mat scan(64, 64, CV_8UC3, cv::Scalar(1, 2, 3));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(cv::imencode(".tif", scan, bytes));
    EXPECT_TRUE(decodeScan(bytes, "s.tif").ok());
}

TEST(ScanLimits, OtherFormatsAreCheckedFromTheirHeadersToo) {
    // a PNG header claiming 40000 x 40000 pixels, with no pixels behind it
    const cv::Mat scan(64, 64, CV_8UC1, cv::Scalar(9));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(cv::imencode(".png", scan, bytes));
    for (int at : {16, 20}) {
        bytes[static_cast<std::size_t>(at)] = 0x00;
        bytes[static_cast<std::size_t>(at) + 1] = 0x00;
        bytes[static_cast<std::size_t>(at) + 2] = 0x9c;
        bytes[static_cast<std::size_t>(at) + 3] = 0x40;
    }
    const LoadedScan loaded = decodeScan(bytes, "big.png");
    EXPECT_NE(loaded.message().find("40000 x 40000 pixels"), std::string::npos) << loaded.message();
}

TEST(DamagedTiff, SaysWhatIsWrong) {
    test::TempDir dir;
    const fs::path file = dir / "scan.tif";
    writeTiff(file, Layout{"Rgb8Lzw", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW}, 200, 150);
    std::vector<std::uint8_t> bytes = test::readFileBytes(file);
    // cut short: the last strips are missing
    bytes.resize(bytes.size() / 2);
    const LoadedScan cut = decodeScan(bytes, "cut.tif");
    EXPECT_FALSE(cut.ok());
    EXPECT_EQ(cut.message().rfind("Cannot read the scan cut.tif: ", 0), 0u) << cut.message();

    const std::vector<std::uint8_t> notTiff{'I', 'I', '*', 0, 'x', 'y'};
    const LoadedScan bad = decodeScan(notTiff, "bad.tif");
    EXPECT_NE(bad.message().find("the TIFF data cannot be read"), std::string::npos)
        << bad.message();
}

TEST(LoadScan, AFileThatIsNoRegularFileIsNotOpenedAsOne) {
    test::TempDir dir;
    EXPECT_NE(loadScan(dir.path()).message().find("it is a folder"), std::string::npos);
    const fs::path missing = dir / "missing.tif";
    EXPECT_EQ(loadScan(missing).message(),
              "Cannot read the scan " + missing.string() + ": No such file or directory");
}

} // namespace
} // namespace veltrana
