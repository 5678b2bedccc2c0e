#include "reading/scan_reader.h"

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <string_view>
#include <vector>

namespace veltrana {
namespace {

TEST(LoadScan, ConvertsOtherLayoutsToWhatTheMeasuresRead) {
    test::TempDir dir;
    cv::Mat deep(64, 65, CV_16UC1, cv::Scalar(65535));
    ASSERT_TRUE(cv::imwrite((dir / "deep.tif").string(), deep));
    LoadedScan s = loadScan(dir / "deep.tif");
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s.value().type(), CV_8UC1);
    EXPECT_EQ(s.value().at<uchar>(0, 0), 255);

    cv::Mat bgra(64, 65, CV_8UC4, cv::Scalar(10, 20, 30, 40));
    ASSERT_TRUE(cv::imwrite((dir / "bgra.tif").string(), bgra));
    s = loadScan(dir / "bgra.tif");
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s.value().type(), CV_8UC3);
    EXPECT_EQ(s.value().at<cv::Vec3b>(1, 1), cv::Vec3b(10, 20, 30));

    cv::Mat greyAlpha(4, 5, CV_8UC2, cv::Scalar(77, 255));
    s = normaliseScan(greyAlpha);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s.value().type(), CV_8UC1);
    EXPECT_EQ(s.value().at<uchar>(2, 2), 77);
}

TEST(LoadScan, RefusesWhatItCannotReadRight) {
    test::TempDir dir;
    EXPECT_FALSE(loadScan(dir / "missing.tif").ok());
    {
        std::ofstream f(dir / "corrupt.tif", std::ios::binary);
        f << "II*\0 this is not a tiff";
    }
    const LoadedScan corrupt = loadScan(dir / "corrupt.tif");
    EXPECT_FALSE(corrupt.ok());
    EXPECT_NE(corrupt.message().find("corrupt.tif"), std::string::npos);
    EXPECT_FALSE(loadScan(dir.path()).ok());
    EXPECT_FALSE(normaliseScan(cv::Mat(3, 3, CV_32FC1, cv::Scalar(0.5))).ok());
}

// Files of other formats named like scans: their header gives the size, and
// a size past the limit is refused before the image library decodes a byte.
struct HeaderRow {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::string says;
};

std::vector<std::uint8_t> bytesOf(std::initializer_list<std::string_view> parts) {
    std::vector<std::uint8_t> bytes;
    for (std::string_view part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    // what follows the header is no image data at all
    bytes.insert(bytes.end(), 64, 0x5a);
    return bytes;
}

void PrintTo(const HeaderRow& row, std::ostream* out) {
    *out << row.name;
}

class OtherFormatHeader : public testing::TestWithParam<HeaderRow> {};

TEST_P(OtherFormatHeader, GivesTheSizeThatIsRefused) {
    const LoadedScan scan = decodeScan(GetParam().bytes, "scan.tif");
    EXPECT_FALSE(scan.ok());
    EXPECT_EQ(scan.message(), "Cannot read the scan scan.tif: " + GetParam().says);
}

using std::string_view_literals::operator""sv;

INSTANTIATE_TEST_SUITE_P(
    Formats, OtherFormatHeader,
    testing::Values(
        HeaderRow{"Png",
                  bytesOf({"\x89PNG\r\n\x1a\n"sv, "\0\0\0\x0dIHDR"sv, "\0\0\x75\x30"sv,
                           "\0\0\x75\x30"sv, "\x08\0\0\0\0"sv}),
                  "it is 30000 x 30000 pixels (900 megapixels), more than the 100 megapixels a "
                  "scan may have"},
        HeaderRow{"WebpLossless",
                  // width - 1 and height - 1 = 16382 in 14 bits each
                  bytesOf({"RIFF\x40\0\0\0WEBPVP8L\x30\0\0\0\x2f"sv, "\xfe\xbf\xff\x0f"sv}),
                  "it is 16383 x 16383 pixels (268 megapixels), more than the 100 megapixels a "
                  "scan may have"},
        HeaderRow{"WebpLossy",
                  bytesOf({"RIFF\x40\0\0\0WEBPVP8 \x30\0\0\0"sv, "\x10\x02\0\x9d\x01\x2a"sv,
                           "\x10\x27\x80\x3e"sv}),
                  "it is 10000 x 16000 pixels (160 megapixels), more than the 100 megapixels a "
                  "scan may have"},
        HeaderRow{"WebpExtended",
                  bytesOf({"RIFF\x40\0\0\0WEBPVP8X\x0a\0\0\0"sv, "\0\0\0\0"sv,
                           "\x1f\x4e\0\x3f\x0d\x03"sv}),
                  "it is 20000 x 200000 pixels (4000 megapixels), more than the 100 megapixels a "
                  "scan may have"},
        HeaderRow{"WebpTooSmall",
                  bytesOf({"RIFF\x40\0\0\0WEBPVP8L\x30\0\0\0\x2f"sv, "\x09\0\0\0"sv}),
                  "it is 10 x 1 pixels; a scan needs at least 64 pixels on each side"}),
    [](const testing::TestParamInfo<HeaderRow>& info) { return info.param.name; });

TEST(LoadScan, ReadsWebpScansOfAnAcceptedSize) {
    const cv::Mat image(80, 100, CV_8UC3, cv::Scalar(10, 120, 230));
    for (const int quality : {90, 101}) { // lossy, lossless
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(cv::imencode(".webp", image, bytes, {cv::IMWRITE_WEBP_QUALITY, quality}));
        const LoadedScan scan = decodeScan(bytes, "scan.tif");
        ASSERT_TRUE(scan.ok()) << quality << ": " << scan.message();
        EXPECT_EQ(scan.value().size(), cv::Size(100, 80));
    }
}

// What readScan gives: the samples at the depth they were stored with, and
// what the file held; loadScan the same pixels at 8 bits.
struct DepthRow {
    const char* file;
    int type;         // as written
    cv::Scalar value; // every pixel
    int readType;     // as readScan gives it
    struct {
        const char* format;
        int bitsPerSample;
        int channels;
    } description;
    int loadedType;    // as loadScan gives it
    cv::Scalar loaded; // every pixel of that
};

class ScanDepth : public ::testing::TestWithParam<DepthRow> {};

TEST_P(ScanDepth, IsKeptAndDescribed) {
    const DepthRow& row = GetParam();
    test::TempDir dir;
    ASSERT_TRUE(cv::imwrite((dir / row.file).string(), cv::Mat(64, 66, row.type, row.value)));
    const Result<ScanReading> read = readScan(dir / row.file);
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(read->image.type(), row.readType);
    EXPECT_EQ(read->description.format, row.description.format);
    EXPECT_EQ(read->description.bitsPerSample, row.description.bitsPerSample);
    EXPECT_EQ(read->description.channels, row.description.channels);
    const LoadedScan loaded = loadScan(dir / row.file);
    ASSERT_TRUE(loaded.ok()) << loaded.message();
    EXPECT_EQ(loaded->type(), row.loadedType);
    EXPECT_EQ(cv::mean(*loaded), row.loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ScanDepth,
    ::testing::Values(
        DepthRow{"deep.tif",
                 CV_16UC1,
                 cv::Scalar(1000),
                 CV_16UC1,
                 {"TIFF", 16, 1},
                 CV_8UC1,
                 cv::Scalar(4)},
        DepthRow{"deep.png",
                 CV_16UC3,
                 cv::Scalar(257, 514, 65535),
                 CV_16UC3,
                 {"PNG", 16, 3},
                 CV_8UC3,
                 cv::Scalar(1, 2, 255)},
        DepthRow{"alpha.png",
                 CV_8UC4,
                 cv::Scalar(10, 20, 30, 40),
                 CV_8UC3,
                 {"PNG", 8, 4},
                 CV_8UC3,
                 cv::Scalar(10, 20, 30)},
        DepthRow{
            "grey.tif", CV_8UC1, cv::Scalar(77), CV_8UC1, {"TIFF", 8, 1}, CV_8UC1, cv::Scalar(77)}),
    [](const ::testing::TestParamInfo<DepthRow>& info) {
        std::string name = info.param.file;
        return name.substr(0, name.find('.')) + "_" + name.substr(name.find('.') + 1);
    });

} // namespace
} // namespace veltrana
