#include "job/run_view.h"

#include "support/recording_observer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrana {
namespace {

// How a run ends, as the user sees it: the bar emptied, the log showing only
// the end's text, Start enabled, and Stop again where the job has one and
// the run was stopped, met an unreadable frame or broke off.
struct EndRow {
    const char* name;
    JobEnd end;
    StopButton stop;
    std::vector<std::string> calls;
};

class RunViewEnd : public testing::TestWithParam<EndRow> {};

TEST_P(RunViewEnd, ShowsTheEndOnce) {
    const EndRow& row = GetParam();
    test::RecordingObserver ui;
    RunView view(&ui, row.stop);
    view.log().addLine("Translating frame number : 1...");
    ui.calls.clear();
    const JobEnding ending = view.end(row.end, "shown", "said");
    EXPECT_EQ(ending.end, row.end);
    EXPECT_EQ(ending.message, "said");
    EXPECT_EQ(ui.logText, "shown");
    EXPECT_EQ(ui.calls, row.calls);
}

const std::vector<std::string> kWithoutStop = {"pos 0", "log", "start on"};
const std::vector<std::string> kWithStop = {"pos 0", "log", "start on", "stop on"};

INSTANTIATE_TEST_SUITE_P(
    Ends, RunViewEnd,
    testing::Values(
        EndRow{"SoundStopped", JobEnd::Stopped, StopButton::Shown, kWithStop},
        EndRow{"SoundUnreadable", JobEnd::UnreadableFrame, StopButton::Shown, kWithStop},
        EndRow{"SoundBrokeOff", JobEnd::Error, StopButton::Shown, kWithStop},
        EndRow{"SoundRefused", JobEnd::Refused, StopButton::Shown, kWithoutStop},
        EndRow{"SoundNotWritten", JobEnd::OutputNotWritten, StopButton::Shown, kWithoutStop},
        EndRow{"FilmStopped", JobEnd::Stopped, StopButton::None, kWithoutStop},
        EndRow{"FilmBrokeOff", JobEnd::Error, StopButton::None, kWithoutStop}),
    [](const testing::TestParamInfo<EndRow>& info) { return info.param.name; });

TEST(RunView, ABreakOffSaysWhy) {
    test::RecordingObserver ui;
    RunView view(&ui, StopButton::None);
    const JobEnding ending = view.brokeOff("out of memory");
    EXPECT_EQ(ending.end, JobEnd::Error);
    EXPECT_EQ(ending.message, "The run ended on an error: out of memory");
    EXPECT_EQ(ui.logText, ending.message);
}

TEST(RunView, RunsWithoutAnObserver) {
    RunView view(nullptr, StopButton::Shown);
    view.log().addLine("nobody sees this");
    EXPECT_EQ(view.end(JobEnd::Refused, "refused").message, "refused");
    EXPECT_FALSE(view.showing(cv::Mat()));
}

} // namespace
} // namespace veltrana
