#include "geometry/resolution.h"

#include <gtest/gtest.h>

#include <tuple>

namespace veltrana {
namespace {

class SnapBands : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SnapBands, SnapsToTheBandsAndKeepsTheGaps) {
    const auto [measured, expected] = GetParam();
    EXPECT_EQ(snapResolution(measured), expected) << "measured " << measured;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SnapBands,
    testing::Values(std::tuple{-3, 450}, std::tuple{0, 450}, std::tuple{699, 450},
                    std::tuple{700, 700}, std::tuple{701, 701}, std::tuple{702, 900},
                    std::tuple{1199, 900}, std::tuple{1200, 1200}, std::tuple{1201, 1201},
                    std::tuple{1202, 1800}, std::tuple{2399, 1800}, std::tuple{2400, 2400},
                    std::tuple{2401, 2401}, std::tuple{2402, 3600}, std::tuple{4499, 3600},
                    std::tuple{4500, 4500}, std::tuple{4501, 4501}, std::tuple{4502, 7200},
                    std::tuple{7499, 7200}, std::tuple{7500, 7500}, std::tuple{9000, 9000}));

// A working image whose rows are bright picture except for dark frame lines;
// `rises` lists the last dark row before each return to picture.
cv::Mat framedImage(int width, int height, std::vector<int> rises, int lineRows = 6) {
    cv::Mat image(height, width, CV_8UC1, cv::Scalar(200));
    for (int rise : rises) {
        for (int r = rise - lineRows + 1; r <= rise; ++r) {
            if (r >= 0 && r < height) {
                image.row(r).setTo(20);
            }
        }
    }
    return image;
}

TEST(DetectResolution, WidthGivesTheHorizontalResolution) {
    // 1646 x 2.54 / 2.09 = 2000.4 -> 2000 -> 1800
    EXPECT_EQ(estimateResolution(cv::Mat(50, 1646, CV_8UC1, cv::Scalar(9)),
                                 SoundtrackType::VariableArea35)
                  .measured.dpiX,
              2000);
    EXPECT_EQ(
        detectResolution(cv::Mat(50, 1646, CV_8UC1, cv::Scalar(9)), SoundtrackType::VariableArea35)
            .dpiX,
        1800);
    // 988 columns of 35 mm measure exactly 1200, which passes through
    EXPECT_EQ(detectResolution(cv::Mat(50, 988, CV_8UC3, cv::Scalar(9, 9, 9)),
                               SoundtrackType::VariableDensity35)
                  .dpiX,
              1200);
}

TEST(DetectResolution, FrameEdgesGiveTheVerticalResolution) {
    // 16 mm, rises 320 rows apart: 320 x 2.54 / 0.762 = 1066.7 -> 1066 -> 900
    const cv::Mat image = framedImage(400, 500, {40, 360});
    const ResolutionEstimate e = estimateResolution(image, SoundtrackType::VariableArea16);
    EXPECT_EQ(e.measured.dpiY, 1066);
    EXPECT_EQ(e.snapped.dpiY, 900);
}

TEST(DetectResolution, SecondEdgeIsSearchedAFifthOfTheHeightLater) {
    // 500 rows: the second edge must lie at least 100 rows after the first
    const cv::Mat image = framedImage(400, 500, {40, 120, 400});
    // rises 40 and 400: 360 x 2.54 / 0.762 = 1200
    EXPECT_EQ(estimateResolution(image, SoundtrackType::VariableArea16).measured.dpiY, 1200);
}

TEST(DetectResolution, AnEdgeAtTheStartIsFound) {
    // rows 0..2 dark: the rise is difference 2, whose neighbour three places
    // back does not exist and is skipped
    const cv::Mat image = framedImage(400, 500, {2, 322}, 3);
    // 320 x 2.54 / 0.762 = 1066.7 -> 1066
    EXPECT_EQ(estimateResolution(image, SoundtrackType::VariableArea16).measured.dpiY, 1066);
}

TEST(DetectResolution, OneEdgeOrNoneGives450) {
    EXPECT_EQ(detectResolution(framedImage(400, 500, {40}), SoundtrackType::VariableArea35).dpiY,
              450);
    for (int value : {0, 255}) {
        const cv::Mat flat(300, 200, CV_8UC1, cv::Scalar(value));
        EXPECT_EQ(detectResolution(flat, SoundtrackType::VariableArea35).dpiY, 450);
    }
}

TEST(DetectResolution, TinyImagesAreMeasuredWithoutReadingOutside) {
    for (const auto& size :
         {cv::Size(1, 1), cv::Size(1, 9), cv::Size(9, 1), cv::Size(2, 2), cv::Size(5, 8)}) {
        for (int value : {0, 255}) {
            const cv::Mat image(size, CV_8UC1, cv::Scalar(value));
            const ScanResolution r = detectResolution(image, SoundtrackType::VariableArea16);
            EXPECT_EQ(r.dpiX, 450);
            EXPECT_EQ(r.dpiY, 450);
        }
    }
}

} // namespace
} // namespace veltrana
