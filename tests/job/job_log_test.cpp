#include "job/job_log.h"

#include "support/recording_observer.h"

#include <gtest/gtest.h>

namespace veltrana {
namespace {

TEST(JobLog, TheSeventhLineStartsAFreshText) {
    test::RecordingObserver ui;
    JobLog log(ui);
    for (int i = 1; i <= 6; ++i) {
        log.addLine("line " + std::to_string(i));
    }
    EXPECT_EQ(ui.logText, "line 1\r\nline 2\r\nline 3\r\nline 4\r\nline 5\r\nline 6\r\n");
    log.addLine("line 7");
    EXPECT_EQ(ui.logText, "line 7\r\n");
}

TEST(JobLog, SixFramesEndWithTwoLines) {
    // frames 1 to 5 and the resolution line fill the box; frame 6 empties it
    test::RecordingObserver ui;
    JobLog log(ui);
    log.addLine("Translating frame number : 1...");
    log.addLine("Picture resolution (dpi) x=1200,y=1200 and color depth=8");
    for (int n = 2; n <= 6; ++n) {
        log.addLine("Translating frame number : " + std::to_string(n) + "...");
    }
    log.addUncountedLine("Pictures were tranlated succesfully!");
    EXPECT_EQ(ui.logText,
              "Translating frame number : 6...\r\nPictures were tranlated succesfully!\r\n");
}

TEST(JobLog, AnUncountedLineStillObeysAFullBox) {
    test::RecordingObserver ui;
    JobLog log(ui);
    for (int i = 1; i <= 6; ++i) {
        log.addLine("x");
    }
    log.addUncountedLine("done");
    EXPECT_EQ(ui.logText, "done\r\n");
    log.addLine("next");
    EXPECT_EQ(ui.logText, "done\r\nnext\r\n");
}

TEST(JobLog, AnErrorReplacesEverything) {
    test::RecordingObserver ui;
    JobLog log(ui);
    log.addLine("a");
    log.replaceWith("Wrong file format !!!");
    EXPECT_EQ(ui.logText, "Wrong file format !!!");
}

} // namespace
} // namespace veltrana
