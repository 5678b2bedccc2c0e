// One rendered scan written in every format and layout scanners write, read
// back: the standard reading must give the 8-bit render byte for byte, and
// the reading at stored depth the very codes that were written.

#include "synth/synth.h"

#include "reading/sample_depth.h"
#include "reading/scan_reader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <fstream>
#include <ostream>

namespace veltrana::synth {
namespace {

struct FormatCase {
    const char* name;
    ScanFormat format;
    bool color = true;
    int dpxBits = 10;
    DpxPacking packing = DpxPacking::FilledA;
    bool bigEndian = true;
    bool exrHalf = false;
    bool exrTiled = false;
};

void PrintTo(const FormatCase& c, std::ostream* out) {
    *out << c.name;
}

SynthOptions optionsFor(const FormatCase& c) {
    SynthOptions o;
    o.dpi = {300, 300};
    o.frames = 2;
    o.color = c.color;
    o.noise = true;
    o.blur = true;
    o.format = c.format;
    o.deepLayout.dpxBits = c.dpxBits;
    o.deepLayout.dpxPacking = c.packing;
    o.deepLayout.dpxBigEndian = c.bigEndian;
    o.deepLayout.exrHalf = c.exrHalf;
    o.deepLayout.exrTiled = c.exrTiled;
    return o;
}

// What the reader at stored depth should give back.
cv::Mat writtenSamples(const FormatCase& c, const RenderedScan& rendered) {
    switch (c.format) {
    case ScanFormat::Dpx:
        return c.dpxBits == 8 ? rendered.image : deepSamples(rendered, c.dpxBits);
    case ScanFormat::Tiff16:
        return deepSamples(rendered, 16);
    default:
        return {};
    }
}

class ScanFormats : public testing::TestWithParam<FormatCase> {};

TEST_P(ScanFormats, ReadBackAsWritten) {
    const FormatCase& c = GetParam();
    const SynthOptions options = optionsFor(c);
    const SynthPlanResult planned = planSampleScans(options);
    ASSERT_TRUE(planned.ok()) << planned.error;
    const RenderedScan rendered = renderScanAtDepth(planned.plan, 1);
    // the rounding renders as the 8-bit default always has
    ASSERT_EQ(cv::norm(rendered.image, renderScan(planned.plan, 1), cv::NORM_INF), 0.0);

    test::TempDir dir;
    const std::filesystem::path file = dir / planned.plan.truth.scans[1].file;
    ASSERT_EQ(writeScanFile(file, rendered, options, 1), "");

    const LoadedScan standard = loadScan(file);
    ASSERT_TRUE(standard.ok()) << standard.message();
    ASSERT_EQ(standard->type(), rendered.image.type());
    EXPECT_EQ(cv::norm(*standard, rendered.image, cv::NORM_INF), 0.0);

    const Result<ScanReading> stored = readScan(file);
    ASSERT_TRUE(stored.ok()) << stored.message();
    const cv::Mat expected = writtenSamples(c, rendered);
    if (!expected.empty()) {
        ASSERT_EQ(stored->image.type(), expected.type());
        EXPECT_EQ(cv::norm(stored->image, expected, cv::NORM_INF), 0.0);
    } else if (c.format == ScanFormat::OpenExr) {
        ASSERT_EQ(stored->image.depth(), CV_32F);
        // the deep render's 16-bit codes, up to the precision of the samples
        cv::Mat codes;
        deepSamples(rendered, 16).convertTo(codes, CV_32F, 1.0 / 65535.0);
        EXPECT_LT(cv::norm(stored->image, codes, cv::NORM_INF), c.exrHalf ? 1.0 / 256 : 1e-7);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ScanFormats,
    testing::Values(
        FormatCase{"Tiff16", ScanFormat::Tiff16},
        FormatCase{"Tiff16Grey", ScanFormat::Tiff16, false},
        FormatCase{"Dpx10FilledA", ScanFormat::Dpx},
        FormatCase{"Dpx10FilledBLittleEndian", ScanFormat::Dpx, true, 10, DpxPacking::FilledB,
                   false},
        FormatCase{"Dpx10Packed", ScanFormat::Dpx, true, 10, DpxPacking::Packed},
        FormatCase{"Dpx10LumaFilledA", ScanFormat::Dpx, false},
        FormatCase{"Dpx10LumaPackedLittleEndian", ScanFormat::Dpx, false, 10, DpxPacking::Packed,
                   false},
        FormatCase{"Dpx8", ScanFormat::Dpx, true, 8},
        FormatCase{"Dpx12Packed", ScanFormat::Dpx, true, 12, DpxPacking::Packed},
        FormatCase{"Dpx12FilledA", ScanFormat::Dpx, true, 12},
        FormatCase{"Dpx12LumaFilledBLittleEndian", ScanFormat::Dpx, false, 12, DpxPacking::FilledB,
                   false},
        FormatCase{"Dpx16LittleEndian", ScanFormat::Dpx, true, 16, DpxPacking::FilledA, false},
        FormatCase{"ExrFloat", ScanFormat::OpenExr},
        FormatCase{"ExrHalfTiled", ScanFormat::OpenExr, true, 10, DpxPacking::FilledA, true, true,
                   true},
        FormatCase{"ExrGreyHalf", ScanFormat::OpenExr, false, 10, DpxPacking::FilledA, true, true}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

TEST(ScanFormats, DpxDescribesItsHeader) {
    SynthOptions options = optionsFor(FormatCase{"Dpx", ScanFormat::Dpx});
    options.fps = 25;
    const SynthPlanResult planned = planSampleScans(options);
    ASSERT_TRUE(planned.ok()) << planned.error;
    test::TempDir dir;
    const std::filesystem::path file = dir / "scan.dpx";
    // the 37th scan: one second and eleven frames after the first
    ASSERT_EQ(writeScanFile(file, renderScanAtDepth(planned.plan, 0), options, 36), "");
    const Result<ScanReading> read = readScan(file);
    ASSERT_TRUE(read.ok()) << read.message();
    const ScanDescription& d = read->description;
    EXPECT_EQ(d.format, "DPX");
    EXPECT_EQ(d.bitsPerSample, 10);
    EXPECT_EQ(d.channels, 3);
    EXPECT_EQ(d.transfer, "printing density");
    ASSERT_TRUE(d.timecode);
    EXPECT_EQ(timecodeText(*d.timecode), "01:00:01:11");
    ASSERT_TRUE(d.frameRate);
    EXPECT_DOUBLE_EQ(*d.frameRate, 25.0);
    EXPECT_EQ(describeScan(d), "10-bit DPX, colour, transfer: printing density");
}

// A header that says the scanner wrote the rows mirrored or upside down:
// the scan is turned back as it is read.
TEST(ScanFormats, DpxOrientationIsUndone) {
    const SynthOptions options = optionsFor(FormatCase{"Dpx", ScanFormat::Dpx});
    const SynthPlanResult planned = planSampleScans(options);
    ASSERT_TRUE(planned.ok()) << planned.error;
    const RenderedScan rendered = renderScanAtDepth(planned.plan, 0);
    test::TempDir dir;
    const std::filesystem::path file = dir / "scan.dpx";
    for (const int orientation : {1, 2, 3}) {
        std::filesystem::remove(file); // a scan is written only as a new file
        ASSERT_EQ(writeScanFile(file, rendered, options, 0), "");
        std::fstream patch(file, std::ios::in | std::ios::out | std::ios::binary);
        patch.seekp(768);
        const char field[2] = {0, static_cast<char>(orientation)}; // big-endian
        patch.write(field, 2);
        patch.close();
        const LoadedScan read = loadScan(file);
        ASSERT_TRUE(read.ok()) << read.message();
        cv::Mat stored;
        cv::flip(rendered.image, stored, orientation == 1 ? 1 : orientation == 2 ? 0 : -1);
        EXPECT_EQ(cv::norm(*read, stored, cv::NORM_INF), 0.0) << "orientation " << orientation;
    }
}

// An OpenEXR header that claims a huge image is refused on its size before
// the library opens it; one without a data window is refused too.
TEST(ScanFormats, OpenExrSizeIsCheckedOnTheHeader) {
    const SynthOptions options = optionsFor(FormatCase{"Exr", ScanFormat::OpenExr});
    const SynthPlanResult planned = planSampleScans(options);
    ASSERT_TRUE(planned.ok()) << planned.error;
    test::TempDir dir;
    const std::filesystem::path file = dir / "scan.exr";
    ASSERT_EQ(writeScanFile(file, renderScanAtDepth(planned.plan, 0), options, 0), "");
    std::vector<unsigned char> bytes = test::readFileBytes(file);
    const std::string name = "dataWindow";
    const auto found = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
    ASSERT_NE(found, bytes.end());
    // after the name, the type "box2i", the length 16, then xMin, yMin, xMax, yMax
    const std::size_t xMax = static_cast<std::size_t>(found - bytes.begin()) + 11 + 6 + 4 + 8;
    for (const std::size_t at : {xMax, xMax + 4}) {
        bytes[at] = 0x40; // 0x10040: 65601 columns and rows
        bytes[at + 2] = 0x01;
    }
    const LoadedScan huge = decodeScan(bytes, "huge.exr");
    ASSERT_FALSE(huge.ok());
    EXPECT_NE(huge.message().find("megapixels a scan may have"), std::string::npos)
        << huge.message();
    bytes[static_cast<std::size_t>(found - bytes.begin())] = 'X'; // "XataWindow"
    const LoadedScan none = decodeScan(bytes, "none.exr");
    ASSERT_FALSE(none.ok());
    EXPECT_NE(none.message().find("gives no data window"), std::string::npos) << none.message();
}

} // namespace
} // namespace veltrana::synth
