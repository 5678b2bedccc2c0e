#include "job/frame_sequence.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <vector>

namespace veltrana {
namespace {

void touch(const std::filesystem::path& p) {
    std::ofstream(p) << "x";
}

TEST(NaturalOrder, NumbersCompareByValue) {
    EXPECT_TRUE(naturalLess("frame2.tif", "frame10.tif"));
    EXPECT_FALSE(naturalLess("frame10.tif", "frame2.tif"));
    EXPECT_TRUE(naturalLess("frame_0009.tif", "frame_0010.tif"));
    EXPECT_TRUE(naturalLess("a9.tif", "b1.tif"));
    EXPECT_TRUE(naturalLess("scan1.tif", "scan1a.tif"));
    EXPECT_FALSE(naturalLess("same.tif", "same.tif"));
    // equal values with different zeros still order one way only
    EXPECT_NE(naturalLess("f01.tif", "f1.tif"), naturalLess("f1.tif", "f01.tif"));
}

TEST(FrameSequence, ListsTifAndTiffInNaturalOrderFromTheDirectoryOrAFileInIt) {
    test::TempDir dir;
    for (const char* name : {"frame10.tif", "frame2.TIFF", "frame1.Tif", "notes.txt",
                             "frame3.tif.bak", "frame11.png"}) {
        touch(dir / name);
    }
    std::filesystem::create_directory(dir / "sub.tif");
    for (const auto& input : {dir.path(), dir / "frame10.tif"}) {
        const Result<FrameSequence> s = listFrameSequence(input);
        ASSERT_TRUE(s.ok()) << s.message();
        ASSERT_EQ(s->frames.size(), 3u);
        EXPECT_EQ(s->frames[0].filename(), "frame1.Tif");
        EXPECT_EQ(s->frames[1].filename(), "frame2.TIFF");
        EXPECT_EQ(s->frames[2].filename(), "frame10.tif");
        EXPECT_EQ(s->directory, dir.path());
    }
}

TEST(FrameSequence, RangeChecksNameTheCount) {
    test::TempDir dir;
    for (int i = 1; i <= 3; ++i) {
        // appended, not "f" + std::to_string(i): GCC 12 at -O3 takes that for
        // an overlapping copy (-Wrestrict)
        std::string name = "f";
        name += std::to_string(i);
        name += ".tif";
        touch(dir / name);
    }
    const Result<FrameSequence> s = listFrameSequence(dir.path());
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_TRUE(checkFrameRange(*s, 1, 3).ok());
    EXPECT_TRUE(checkFrameRange(*s, 3, 3).ok());
    const Status past = checkFrameRange(*s, 2, 4);
    EXPECT_FALSE(past.ok());
    EXPECT_NE(past.message().find("found 3 scans"), std::string::npos) << past.message();
    EXPECT_FALSE(checkFrameRange(*s, 0, 2).ok());
    EXPECT_FALSE(checkFrameRange(*s, 3, 2).ok());
    EXPECT_FALSE(listFrameSequence(dir / "missing" / "f.tif").ok());
}

struct FolderCase {
    const char* name;
    std::vector<const char*> files;
    const char* named; // the scan given instead of the folder, or null
    ScanFileFormat format;
    std::vector<const char*> frames;
    std::vector<const char*> warnings; // a part of each
};

void PrintTo(const FolderCase& c, std::ostream* out) {
    *out << c.name;
}

class ScanFolder : public testing::TestWithParam<FolderCase> {};

TEST_P(ScanFolder, ReadsTheScansOfOneFormat) {
    const FolderCase& c = GetParam();
    test::TempDir dir;
    for (const char* file : c.files) {
        touch(dir / file);
    }
    const Result<FrameSequence> s =
        listFrameSequence(c.named != nullptr ? dir / c.named : dir.path());
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s->format, c.format);
    ASSERT_EQ(s->frames.size(), c.frames.size());
    for (std::size_t i = 0; i < c.frames.size(); ++i) {
        EXPECT_EQ(s->frames[i].filename(), c.frames[i]);
    }
    ASSERT_EQ(s->warnings.size(), c.warnings.size());
    for (std::size_t i = 0; i < c.warnings.size(); ++i) {
        EXPECT_NE(s->warnings[i].find(c.warnings[i]), std::string::npos) << s->warnings[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ScanFolder,
    testing::Values(
        FolderCase{"Dpx",
                   {"r_2.dpx", "r_1.DPX", "r_3.dpx"},
                   nullptr,
                   ScanFileFormat::Dpx,
                   {"r_1.DPX", "r_2.dpx", "r_3.dpx"},
                   {}},
        FolderCase{"Exr",
                   {"a1.exr", "a2.exr"},
                   nullptr,
                   ScanFileFormat::OpenExr,
                   {"a1.exr", "a2.exr"},
                   {}},
        // timecode counts only sort: frame 1 is the first scan
        FolderCase{"TimecodeNames",
                   {"reel_086401.dpx", "reel_086400.dpx"},
                   nullptr,
                   ScanFileFormat::Dpx,
                   {"reel_086400.dpx", "reel_086401.dpx"},
                   {}},
        FolderCase{"TiffWinsOverOthers",
                   {"f1.tif", "f2.tif", "f1.dpx", "f2.dpx", "f3.dpx", "f1.exr"},
                   nullptr,
                   ScanFileFormat::Tiff,
                   {"f1.tif", "f2.tif"},
                   {"The folder also holds 3 DPX scans and 1 OpenEXR scan; only its TIFF scans "
                    "are read"}},
        FolderCase{"DpxWinsOverExr",
                   {"f1.dpx", "f1.exr"},
                   nullptr,
                   ScanFileFormat::Dpx,
                   {"f1.dpx"},
                   {"also holds 1 OpenEXR scan; only its DPX scans"}},
        FolderCase{"ANamedScanGivesTheFormat",
                   {"f1.tif", "f1.dpx", "f2.dpx"},
                   "f2.dpx",
                   ScanFileFormat::Dpx,
                   {"f1.dpx", "f2.dpx"},
                   {"also holds 1 TIFF scan"}},
        FolderCase{"MissingNumbers",
                   {"s_0001.tif", "s_0002.tif", "s_0005.tif", "s_0007.tif"},
                   nullptr,
                   ScanFileFormat::Tiff,
                   {"s_0001.tif", "s_0002.tif", "s_0005.tif", "s_0007.tif"},
                   {"The scans' numbers skip 3, 4, 6: a scan may be missing"}},
        FolderCase{"NamesWithoutNumbersDoNotSkip",
                   {"a.tif", "b.tif", "c9.tif"},
                   nullptr,
                   ScanFileFormat::Tiff,
                   {"a.tif", "b.tif", "c9.tif"},
                   {}}),
    [](const testing::TestParamInfo<FolderCase>& info) { return info.param.name; });

TEST(FrameSequence, ListsAtMostSomeOfTheMissingNumbers) {
    const std::vector<std::filesystem::path> frames = {"f1.tif", "f1000.tif"};
    const std::vector<long long> missing = missingScanNumbers(frames, 13);
    ASSERT_EQ(missing.size(), 13u);
    EXPECT_EQ(missing.front(), 2);
    EXPECT_EQ(missing.back(), 14);
}

TEST(FrameSequence, AnEmptyDpxFolderSaysWhatItLookedFor) {
    test::TempDir dir;
    touch(dir / "only.dpx");
    Result<FrameSequence> s = listFrameSequence(dir / "only.dpx");
    ASSERT_TRUE(s.ok()) << s.message();
    s->frames.clear();
    EXPECT_NE(checkFrameRange(*s, 1, 1).message().find("found 0 scans (.dpx)"), std::string::npos);
}

} // namespace
} // namespace veltrana
