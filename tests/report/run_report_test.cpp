// The run report's collector and writer on previews made up here: which
// frames keep their pictures, what a join's plots are drawn from, that a long
// run keeps no more than it shows, and what lands in the report folder.

#include "report/run_report.h"
#include "soundtrack/join_evidence.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <regex>

namespace veltrana {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Scans 400 x 200 as they lie: trimmed to columns 20..379, the band along
// rows 10..49, 300 samples a frame.
FramePreview preview(int frame, std::optional<double> join = std::nullopt) {
    FramePreview p;
    p.frame = frame;
    p.file = "frame_" + std::to_string(frame) + ".tif";
    p.scanSize = cv::Size(400, 200);
    p.bounds = FrameBounds{20, 379};
    p.band = ScanRows{10, 49};
    p.join = join;
    p.samples.assign(300, static_cast<float>(100 + frame));
    p.samples[0] = static_cast<float>(frame); // tells the frames' samples apart
    return p;
}

cv::Mat picture() {
    return cv::Mat(100, 200, CV_8UC3, cv::Scalar::all(128));
}

// A join flagged as report.json would list it.
void flag(FramePreview& p, JoinFlagKind kind) {
    p.flags.push_back({kind, "correlation 0.21 at the join"});
}

// Feeds frames first..last as a job does: numbers, then the picture.
void feed(RunCollector& collector, int first, int last,
          const std::function<void(FramePreview&)>& change = {}) {
    for (int f = first; f <= last; ++f) {
        FramePreview p = preview(f, f == first ? std::nullopt : std::optional<double>(230.0));
        if (change) {
            change(p);
        }
        collector.addFrame(p);
        collector.addPicture(p, picture());
    }
}

std::vector<int> shownFrames(const RunRecord& record) {
    std::vector<int> frames;
    for (const ShownFrame& s : record.shown) {
        frames.push_back(s.frame);
    }
    return frames;
}

// --- which frames are shown ----------------------------------------------------------

TEST(RunCollector, ShowsTheFirstMiddleAndLastFramesOfTheRange) {
    RunCollector collector(RunKind::Soundtrack, {{"Film", "35va"}}, 3, 11);
    feed(collector, 3, 11);
    collector.finish(true, "done");
    const RunRecord& r = collector.record();
    EXPECT_EQ(shownFrames(r), (std::vector<int>{3, 7, 11}));
    EXPECT_EQ(r.shown[0].reasons, (std::vector<std::string>{"first frame"}));
    EXPECT_EQ(r.shown[1].reasons, (std::vector<std::string>{"middle frame"}));
    EXPECT_EQ(r.shown[2].reasons, (std::vector<std::string>{"last frame"}));
    EXPECT_EQ(r.frames.size(), 9u);
    EXPECT_EQ(collector.picturesHeld(), 3u);
    for (const ShownFrame& s : r.shown) {
        EXPECT_EQ(s.picture.size(), cv::Size(200, 100));
    }
    EXPECT_TRUE(r.end.succeeded);
    EXPECT_EQ(r.end.ending, "done");
}

TEST(RunCollector, ShowsFlaggedJoinsWithBothFramesSamples) {
    RunCollector collector(RunKind::Soundtrack, {}, 1, 9);
    feed(collector, 1, 9, [](FramePreview& p) {
        if (p.frame == 3) {
            flag(p, JoinFlagKind::Weak);
        }
        if (p.frame == 6) {
            flag(p, JoinFlagKind::OffPitch);
        }
    });
    collector.finish(true, "done");
    const RunRecord& r = collector.record();
    ASSERT_EQ(shownFrames(r), (std::vector<int>{1, 3, 5, 6, 9}));
    const ShownFrame& weak = r.shown[1];
    EXPECT_TRUE(weak.reasons.empty()); // not a landmark: only its flag shows it
    ASSERT_EQ(weak.flags.size(), 1u);
    EXPECT_EQ(weak.flags[0].kind, JoinFlagKind::Weak);
    ASSERT_EQ(weak.previousSamples.size(), 300u);
    EXPECT_EQ(weak.previousSamples[0], 2.0f); // frame 2's
    EXPECT_EQ(weak.samples[0], 3.0f);
    ASSERT_EQ(r.shown[3].flags.size(), 1u);
    EXPECT_EQ(r.shown[3].flags[0].kind, JoinFlagKind::OffPitch);
    EXPECT_EQ(r.shown[3].previousSamples[0], 5.0f);
    // the first frame has no join, so nothing to pair it with
    EXPECT_TRUE(r.shown[0].previousSamples.empty());
}

TEST(RunCollector, ARunThatBrokeOffShowsItsLastFrameRead) {
    RunCollector collector(RunKind::Soundtrack, {}, 1, 20);
    feed(collector, 1, 6);
    collector.finish(false, "Frame 7 cannot be read");
    const RunRecord& r = collector.record();
    ASSERT_EQ(shownFrames(r), (std::vector<int>{1, 6}));
    EXPECT_EQ(r.shown[1].reasons, (std::vector<std::string>{"last frame read"}));
    EXPECT_FALSE(r.shown[1].picture.empty());
    EXPECT_FALSE(r.end.succeeded);
}

TEST(RunCollector, KeepsTheResolutionOfTheFirstFrame) {
    RunCollector collector(RunKind::Film, {}, 1, 2);
    FramePreview first = preview(1);
    first.resolution = ScanResolution{2000, 2000};
    collector.addFrame(first);
    collector.addFrame(preview(2));
    ASSERT_TRUE(collector.record().resolution.has_value());
    EXPECT_EQ(collector.record().resolution->dpiX, 2000);
}

// --- bounded memory -----------------------------------------------------------------

TEST(RunCollector, ALongRunHoldsOnlyThePicturesItShows) {
    RunCollector collector(RunKind::Soundtrack, {}, 1, 2000);
    std::size_t most = 0;
    for (int f = 1; f <= 2000; ++f) {
        FramePreview p = preview(f, f == 1 ? std::nullopt : std::optional<double>(230.0));
        if (f == 100 || f == 1500) {
            flag(p, JoinFlagKind::Weak);
        }
        collector.addFrame(p);
        collector.addPicture(p, picture());
        most = std::max(most, collector.picturesHeld());
    }
    collector.finish(true, "done");
    const RunRecord& r = collector.record();
    EXPECT_EQ(shownFrames(r), (std::vector<int>{1, 100, 1000, 1500, 2000}));
    EXPECT_EQ(collector.picturesHeld(), 5u);
    // the five shown, and at most the latest frame's besides
    EXPECT_LE(most, 6u);
    // every frame's numbers, with a coarse envelope of its samples
    ASSERT_EQ(r.frames.size(), 2000u);
    for (const FrameNumbers& n : r.frames) {
        EXPECT_LE(n.low.size(), 8u);
        EXPECT_EQ(n.low.size(), n.high.size());
    }
    EXPECT_FLOAT_EQ(r.frames[41].meanLevel, (299.0f * 142 + 42) / 300);
}

TEST(RunCollector, PicturesOfFlaggedJoinsStopAtTheirLimit) {
    RunCollector collector(RunKind::Soundtrack, {}, 1, 2000);
    feed(collector, 1, 2000, [](FramePreview& p) { flag(p, JoinFlagKind::Weak); });
    collector.finish(true, "done");
    const RunRecord& r = collector.record();
    // the three landmarks and the first of the rest
    EXPECT_EQ(r.shown.size(), 3 + kMaxFlaggedPictures);
    EXPECT_EQ(collector.picturesHeld(), 3 + kMaxFlaggedPictures);
    // every other frame from 2 on is weak: the rest are named by number
    const std::size_t flagged = 1999 - 2; // less the middle and last frames
    EXPECT_EQ(r.flaggedUnshown.size(), flagged - kMaxFlaggedPictures);
    EXPECT_EQ(r.flaggedUnshown.back(), 1999);
}

// --- correlation at a join -----------------------------------------------------------

std::vector<float> film(int length) {
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0, 1);
    std::vector<float> white(static_cast<std::size_t>(length) + 8);
    for (float& v : white) {
        v = noise(random);
    }
    // smooth enough that a half row between samples is read well
    std::vector<float> smooth(static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < smooth.size(); ++i) {
        for (std::size_t k = 0; k < 8; ++k) {
            smooth[i] += white[i + k] / 8;
        }
    }
    return smooth;
}

TEST(JoinCorrelation, PeaksAtARightJoin) {
    const std::vector<float> strip = film(700);
    const std::vector<float> previous(strip.begin(), strip.begin() + 300);
    const std::vector<float> current(strip.begin() + 130, strip.begin() + 430);
    const std::vector<double> r = joinCorrelation(previous, current, 130, 12);
    ASSERT_EQ(r.size(), 25u);
    EXPECT_NEAR(r[12], 1.0, 1e-9);
    // the film is smoothed over 8 rows: a shift of k rows shares 8 - k of them,
    // and beyond that only chance agreement over the 170 rows of overlap is left
    for (std::size_t i = 0; i < r.size(); ++i) {
        const int shift = static_cast<int>(i) - 12;
        if (shift != 0) {
            EXPECT_LT(r[i], 0.95) << "shift " << shift;
        }
        if (std::abs(shift) >= 8) {
            EXPECT_LT(std::abs(r[i]), 0.7) << "shift " << shift;
        }
    }
    // a join three rows off: the peak three rows away
    const std::vector<double> off = joinCorrelation(previous, current, 127, 12);
    EXPECT_NEAR(off[15], 1.0, 1e-9);
}

TEST(JoinCorrelation, ReadsThePreviousFrameBetweenRows) {
    const std::vector<float> strip = film(700);
    const std::vector<float> previous(strip.begin(), strip.begin() + 300);
    // the current frame starts half a row after row 230 of the previous one
    std::vector<float> current;
    for (std::size_t i = 230; i < 529; ++i) {
        current.push_back((strip[i] + strip[i + 1]) / 2);
    }
    const std::vector<double> r = joinCorrelation(previous, current, 230.5, 3);
    EXPECT_NEAR(r[3], 1.0, 1e-6);
}

TEST(JoinCorrelation, IsNotANumberWithoutOverlap) {
    const std::vector<float> a(100, 1.0f);
    const std::vector<double> r = joinCorrelation(film(100), a, 95, 2);
    for (const double v : r) {
        EXPECT_TRUE(std::isnan(v));
    }
}

// --- the report folder ---------------------------------------------------------------

RunRecord soundtrackRecord(const fs::path& sound = {}) {
    RunCollector collector(RunKind::Soundtrack, {{"Scans", "/scans <a & b>"}, {"Film", "35va"}}, 1,
                           9);
    const std::vector<float> strip = film(3000);
    feed(collector, 1, 9, [&](FramePreview& p) {
        // frame f shows strip rows 230 (f - 1) on
        const auto from = strip.begin() + 230 * (p.frame - 1);
        p.samples.assign(from, from + 300);
        if (p.frame == 4) {
            flag(p, JoinFlagKind::Weak);
        }
        if (p.frame == 1) {
            p.resolution = ScanResolution{1200, 1200};
        }
    });
    RunEnd end;
    end.succeeded = true;
    end.ending = "The sound was written to out.wav.";
    end.sound = sound;
    if (!sound.empty()) {
        end.outputs = {sound};
    }
    collector.finish(std::move(end));
    return collector.record();
}

// The rule as the page states it: apostrophes escaped.
std::string escapedRule() {
    std::string rule;
    for (const char c : joinRuleText()) {
        rule += c == '\'' ? std::string("&#39;") : std::string(1, c);
    }
    return rule;
}

// Every src="..." of the page.
std::vector<std::string> sources(const std::string& html) {
    std::vector<std::string> found;
    const std::regex src("src=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), src);
         it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

// A delivered sound for the waveform: a second of a 16-bit tone.
fs::path deliveredSound(const TempDir& dir) {
    const fs::path path = dir / "out.wav";
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<double> tone(8000);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = 0.5 * std::sin(static_cast<double>(i) * 0.3);
    }
    sf_writef_double(file, tone.data(), static_cast<sf_count_t>(tone.size()));
    sf_close(file);
    return path;
}

TEST(RunReportWriter, WritesThePageWithEveryPictureItLinksTo) {
    TempDir dir;
    const fs::path report = dir / "report";
    ASSERT_TRUE(writeRunReport(soundtrackRecord(deliveredSound(dir)), report).ok());
    const std::string html = test::readFileText(report / "report.html");
    const std::vector<std::string> linked = sources(html);
    for (const char* name :
         {"report_files/frame_000001.png", "report_files/frame_000004.png",
          "report_files/frame_000005.png", "report_files/frame_000009.png",
          "report_files/join_000004.svg", "report_files/correlation_000004.svg",
          "report_files/join_000009.svg", "report_files/joins.svg", "report_files/levels.svg",
          "report_files/waveform.svg", "report_files/trim.svg"}) {
        EXPECT_NE(std::find(linked.begin(), linked.end(), name), linked.end()) << name;
    }
    for (const std::string& name : linked) {
        EXPECT_TRUE(fs::is_regular_file(report / name)) << name;
    }
    // nothing from elsewhere: no scripts, no links out
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("http"), std::string::npos);
    EXPECT_EQ(html.find("file:"), std::string::npos);
    // the settings, escaped
    EXPECT_NE(html.find("/scans &lt;a &amp; b&gt;"), std::string::npos);
    EXPECT_NE(html.find("1200 dpi across the film"), std::string::npos);
    EXPECT_NE(html.find("The run finished. The sound was written to out.wav."), std::string::npos);
    // frame 4's join lies right: its readings agree there
    EXPECT_NE(html.find("Frame 4 joins frame 3 at its row 230.00"), std::string::npos);
    EXPECT_NE(html.find("Correlation at the join found: 1.000"), std::string::npos);
    // the waveform is the delivered file's, in its units; the rule is stated
    EXPECT_NE(html.find("The sound as delivered in out.wav (16 bits at 8000 Hz)"),
              std::string::npos);
    EXPECT_NE(html.find(escapedRule()), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(report / "report.json"));
}

TEST(RunReportWriter, ThumbnailsCarryTheTrimAndTheBand) {
    TempDir dir;
    ASSERT_TRUE(writeRunReport(soundtrackRecord(), dir.path()).ok());
    const cv::Mat thumb = cv::imread((dir / "report_files/frame_000001.png").string());
    ASSERT_EQ(thumb.size(), cv::Size(200, 100));
    // the scan is 400 x 200, the picture half its size: the trim keeps
    // picture columns 10..189, the band covers picture rows 5..24
    const cv::Vec3b outside = thumb.at<cv::Vec3b>(60, 4);
    const cv::Vec3b inBand = thumb.at<cv::Vec3b>(15, 100);
    const cv::Vec3b plain = thumb.at<cv::Vec3b>(60, 100);
    EXPECT_EQ(plain, cv::Vec3b(128, 128, 128));
    EXPECT_LT(outside[0], 80);      // darkened
    EXPECT_LT(inBand[0], plain[0]); // orange: less blue,
    EXPECT_GT(inBand[2], plain[2]); // more red
}

TEST(RunReportWriter, AFilmReportShowsCutRegionsAndNoJoins) {
    RunCollector collector(RunKind::Film, {}, 1, 3);
    for (int f = 1; f <= 3; ++f) {
        FramePreview p = preview(f);
        p.band.reset();
        p.samples.clear();
        p.cuts = {cv::Rect(40, 60, 300, 120)};
        collector.addFrame(p);
        collector.addPicture(p, picture());
    }
    collector.finish(true, "The movie was written to reel.avi (3 frames).");
    TempDir dir;
    ASSERT_TRUE(writeRunReport(collector.record(), dir.path()).ok());
    const std::string html = test::readFileText(dir / "report.html");
    EXPECT_NE(html.find("the regions cut into movie frames"), std::string::npos);
    EXPECT_NE(html.find("1 cut region"), std::string::npos);
    EXPECT_EQ(html.find("join"), std::string::npos) << "no joins in a film report";
    EXPECT_FALSE(fs::exists(dir / "report_files/joins.svg"));
    const cv::Mat thumb = cv::imread((dir / "report_files/frame_000002.png").string());
    // the cut's edge, drawn at picture column 20
    const cv::Vec3b edge = thumb.at<cv::Vec3b>(60, 20);
    EXPECT_GT(edge[1], 150);
    EXPECT_LT(edge[2], 100);
}

TEST(RunReportWriter, AFailedRunSaysHowItEnded) {
    RunCollector collector(RunKind::Soundtrack, {}, 1, 10);
    feed(collector, 1, 4);
    collector.finish(false, "Frame 5 (frame_5.tif) cannot be read.");
    TempDir dir;
    ASSERT_TRUE(writeRunReport(collector.record(), dir.path()).ok());
    const std::string html = test::readFileText(dir / "report.html");
    EXPECT_NE(html.find("The run did not finish: Frame 5 (frame_5.tif) cannot be read."),
              std::string::npos);
    EXPECT_NE(html.find("last frame read"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "report_files/frame_000004.png"));
}

// The report's folder of pictures is the report's own: replaced whole, with
// nothing of an earlier report left in it. Beside it nothing is touched.
TEST(RunReportWriter, ReplacesItsOwnFilesWholeAndLeavesTheRest) {
    TempDir dir;
    { std::ofstream(dir / "frame_0001.tif") << "a scan"; }
    fs::create_directory(dir / "report_files");
    { std::ofstream(dir / "report_files/frame_000099.png") << "an earlier picture"; }
    { std::ofstream(dir / "report.html") << "an earlier report"; }
    ASSERT_TRUE(writeRunReport(soundtrackRecord(), dir.path()).ok());
    EXPECT_EQ(test::readFileText(dir / "frame_0001.tif"), "a scan");
    EXPECT_FALSE(fs::exists(dir / "report_files/frame_000099.png"));
    EXPECT_TRUE(fs::exists(dir / "report_files/joins.svg"));
    EXPECT_NE(test::readFileText(dir / "report.html"), "an earlier report");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"frame_0001.tif", "report.html", "report.json",
                                               "report_files"}));
}

TEST(RunReportWriter, SaysWhyAFolderCannotTakeIt) {
    TempDir dir;
    Status s = writeRunReport(soundtrackRecord(), dir / "missing" / "report");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find((dir / "missing" / "report").string()), std::string::npos)
        << s.message();
    EXPECT_NE(s.message().find("No such file or directory"), std::string::npos) << s.message();

    { std::ofstream(dir / "plain") << "x"; }
    s = writeRunReport(soundtrackRecord(), dir / "plain");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find("it is not a folder"), std::string::npos) << s.message();

    fs::create_directory(dir / "r");
    fs::create_directory_symlink(dir.path(), dir / "r" / "report_files");
    s = writeRunReport(soundtrackRecord(), dir / "r");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find("it is a link, not a folder"), std::string::npos) << s.message();
    EXPECT_FALSE(fs::exists(dir / "r" / "report.html"));
}

// --- browsers' view -----------------------------------------------------------------

bool have(const char* program) {
    return fs::exists(program);
}

TEST(RunReportWriter, PageAndPlotsPassXmllint) {
    if (!have("/usr/bin/xmllint")) {
        GTEST_SKIP() << "xmllint is not installed (Debian libxml2-utils)";
    }
    TempDir dir;
    ASSERT_TRUE(writeRunReport(soundtrackRecord(), dir.path()).ok());
    const test::ProcessResult page =
        test::runProgram({"/usr/bin/xmllint", "--html", "--noout", (dir / "report.html").string()});
    EXPECT_EQ(page.status, 0);
    EXPECT_EQ(page.err, "");
    EXPECT_EQ(page.out, "");
    for (const auto& entry : fs::directory_iterator(dir / "report_files")) {
        if (entry.path().extension() == ".svg") {
            const test::ProcessResult svg =
                test::runProgram({"/usr/bin/xmllint", "--noout", entry.path().string()});
            EXPECT_EQ(svg.status, 0) << entry.path();
            EXPECT_EQ(svg.err, "") << entry.path();
        }
    }
}

} // namespace
} // namespace veltrana
