#include "geometry/profile.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

namespace veltrana {
namespace {

TEST(ProfileExtrema, PlateauIsNeitherRiseNorFall) {
    const std::vector<float> v{10, 20, 20, 5};
    EXPECT_EQ(riseMaximum(v, 0, 4), 20.0f);
    EXPECT_EQ(fallMinimum(v, 0, 4), 5.0f);
    // the second 20 follows an equal value: not a rise of its own
    EXPECT_EQ(riseMaximum(v, 2, 4), 0.0f);
}

TEST(ProfileExtrema, StartValuesWhenNothingQualifies) {
    const std::vector<float> rising{1, 2, 3, 4};
    const std::vector<float> falling{4, 3, 2, 1};
    EXPECT_EQ(fallMinimum(rising, 0, 4), 255.0f);
    EXPECT_EQ(riseMaximum(falling, 0, 4), 0.0f);
    // a fall that stays above 255 does not count either
    const std::vector<float> high{300, 280};
    EXPECT_EQ(fallMinimum(high, 0, 2), 255.0f);
}

TEST(ProfileExtrema, IndexZeroHasNoPredecessor) {
    const std::vector<float> v{50, 10, 40};
    EXPECT_EQ(riseMaximum(v, 0, 3), 40.0f);
    EXPECT_EQ(fallMinimum(v, 0, 1), 255.0f);
    EXPECT_EQ(fallMinimum(v, 0, 2), 10.0f);
}

TEST(ProfileExtrema, RangesPastTheEndAreClipped) {
    const std::vector<float> v{0, 9, 3};
    EXPECT_EQ(riseMaximum(v, -5, 100), 9.0f);
    EXPECT_EQ(fallMinimum(v, 2, 100), 3.0f);
    EXPECT_EQ(riseMaximum(std::vector<float>{}, 0, 10), 0.0f);
    EXPECT_EQ(firstIndexOf(v, 9.0f, -3, 50), 1);
    EXPECT_EQ(lastIndexOf(v, 7.0f, 0, 50), -1);
}

TEST(ProfileDifference, HasOneEntryFewer) {
    const std::vector<float> v{1, 4, 2};
    EXPECT_EQ(profileDifference(v), (std::vector<float>{3, -2}));
    EXPECT_TRUE(profileDifference(std::vector<float>{5}).empty());
    EXPECT_TRUE(profileDifference(std::vector<float>{}).empty());
}

TEST(ProfileMean, AccumulatesInSinglePrecisionInOrder) {
    // 2^24 + 1 is not representable: in float the ones are lost one by one
    std::vector<float> v{16777216.0f, 1.0f, 1.0f, 1.0f, 1.0f};
    EXPECT_EQ(profileMean(v), 16777216.0f / 5.0f);
    std::vector<float> w{1.0f, 1.0f, 1.0f, 1.0f, 16777216.0f};
    EXPECT_EQ(profileMean(w), 16777220.0f / 5.0f);
    EXPECT_EQ(profileMean(std::vector<float>{}), 0.0f);
}

TEST(ImageProfiles, ColumnProfileReadsChannelZeroOverHalfOpenRows) {
    cv::Mat red(4, 3, CV_8UC3, cv::Scalar(0, 0, 255));
    EXPECT_EQ(columnProfile(red, 0, 4), (std::vector<float>{0, 0, 0}));

    cv::Mat grey(4, 2, CV_8UC1);
    grey.row(0).setTo(10);
    grey.row(1).setTo(20);
    grey.row(2).setTo(30);
    grey.row(3).setTo(100);
    EXPECT_EQ(columnProfile(grey, 1, 3), (std::vector<float>{25, 25}));
    EXPECT_EQ(columnProfile(grey, 0, 4), (std::vector<float>{40, 40}));
}

TEST(ImageProfiles, RowRangesAreClippedToTheImage) {
    cv::Mat grey(2, 2, CV_8UC1, cv::Scalar(8));
    EXPECT_EQ(columnProfile(grey, -1, 9), (std::vector<float>{8, 8}));
    EXPECT_EQ(columnProfile(grey, 2, 2), (std::vector<float>{0, 0}));
    EXPECT_EQ(columnProfile(grey, 3, 2), (std::vector<float>{0, 0}));
    EXPECT_EQ(rowProfile(grey, -1, 9), (std::vector<float>{8, 8}));
    EXPECT_TRUE(rowProfile(grey, 1, 1).empty());
}

TEST(ImageProfiles, ImagesNotOf8BitsGiveEmptyProfilesWithoutThrowing) {
    const cv::Mat deep(4, 3, CV_16UC1, cv::Scalar(1000));
    const cv::Mat real(4, 3, CV_32FC3, cv::Scalar(0.5, 0.5, 0.5));
    for (const cv::Mat& image : {deep, real}) {
        std::vector<float> columns{1};
        std::vector<float> rows{1};
        EXPECT_NO_THROW(columns = columnProfile(image, 0, 4));
        EXPECT_NO_THROW(rows = rowProfile(image, 0, 4));
        EXPECT_TRUE(columns.empty());
        EXPECT_TRUE(rows.empty());
    }
}

TEST(ImageProfiles, RowProfileIsTheMeanOfEachRow) {
    const cv::Mat image = test::imageWithColumns({0, 10, 20, 30}, 3);
    EXPECT_EQ(rowProfile(image, 0, 3), (std::vector<float>{15, 15, 15}));
}

TEST(Reversal, ReversesInPlace) {
    std::vector<float> v{1, 2, 3, 4, 5};
    ReverseSamples(v);
    EXPECT_EQ(v, (std::vector<float>{5, 4, 3, 2, 1}));
    std::vector<float> one{7};
    ReverseSamples(one);
    EXPECT_EQ(one, std::vector<float>{7});
    std::vector<float> none;
    ReverseSamples(none);
    EXPECT_TRUE(none.empty());
}

} // namespace
} // namespace veltrana
