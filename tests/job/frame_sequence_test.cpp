#include "job/frame_sequence.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

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

} // namespace
} // namespace veltrana
