// --report DIR through the command line, run in-process on rendered scans:
// what the report of each job holds, that a failed run is still reported,
// that a report that cannot be written leaves the job's exit status alone,
// and that the page passes xmllint and opens in a browser.

#include "geometry/scan_view.h"
#include "report/run_report.h"
#include "support/command_line.h"
#include "support/output_checks.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Every "Correlation at the join found: X" of a page.
std::vector<double> joinCorrelations(const std::string& html) {
    std::vector<double> values;
    const std::regex found("Correlation at the join found: ([-0-9.]+)");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), found);
         it != std::sregex_iterator(); ++it) {
        values.push_back(std::stod((*it)[1]));
    }
    return values;
}

class ReportEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        synth::SynthOptions options;
        options.frames = 9;
        options.noise = true;
        ASSERT_TRUE(synth::renderSampleScans(options, scans).ok());
    }

    test::ProcessResult run(const char* job, const fs::path& output,
                            std::vector<std::string> extra) {
        std::vector<std::string> args{job, scans.string(), "-o", output.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::runCommandLine(args);
    }

    test::TempDir dir;
    fs::path scans = dir / "scans";
    fs::path report = dir / "report";
};

TEST(ReportOption, BothJobsOfferIt) {
    for (const char* job : {"soundtrack", "film"}) {
        const auto r = test::runCommandLine({job, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("--report DIR"), std::string::npos) << job << ": " << r.out;
    }
}

TEST_F(ReportEndToEnd, SoundtrackReportShowsTheLandmarksAndTheirJoins) {
    // what the job itself writes beside the scans (leng.txt, ...)
    ASSERT_EQ(run("soundtrack", dir / "plain.wav", {"-q", "--fps", "24"}).status, 0);
    const std::vector<std::string> scansBefore = entries(scans);
    const auto r = run("soundtrack", dir / "out.wav", {"--fps", "24", "--report", report.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Run report: " + (report / "report.html").string()), std::string::npos)
        << r.out;
    const std::string html = test::readFileText(report / "report.html");
    EXPECT_NE(html.find("The run finished. The sound was written to"), std::string::npos);
    EXPECT_NE(html.find("Resolution found: 1200 dpi across the film, 1200 dpi along it"),
              std::string::npos);
    EXPECT_NE(html.find("24 frames per second"), std::string::npos);
    for (const char* name :
         {"frame_000001.png", "frame_000005.png", "frame_000009.png", "join_000005.svg",
          "correlation_000009.svg", "joins.svg", "levels.svg", "waveform.svg", "trim.svg"}) {
        EXPECT_TRUE(fs::is_regular_file(report / "report_files" / name)) << name;
    }
    // the pictures are the previews: at most 480 pixels on the long side
    const cv::Mat first = cv::imread((report / "report_files/frame_000001.png").string());
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(std::max(first.cols, first.rows), 480);
    // every join shown lies where the two scans read the same film
    const std::vector<double> agreement = joinCorrelations(html);
    ASSERT_GE(agreement.size(), 2u);
    for (const double c : agreement) {
        EXPECT_GT(c, 0.95);
    }
    // nothing of the report went into the scans folder
    EXPECT_EQ(entries(scans), scansBefore);

    // report.json: every frame, no flag on a clean render, the sound's digest
    const nlohmann::json j = nlohmann::json::parse(test::readFileText(report / "report.json"));
    EXPECT_EQ(j["ended"], "finished");
    ASSERT_EQ(j["frames"].size(), 9u);
    for (const nlohmann::json& f : j["frames"]) {
        EXPECT_TRUE(f["flags"].empty()) << f.dump();
    }
    EXPECT_TRUE(j["warnings"].empty()) << j["warnings"].dump();
    ASSERT_FALSE(j["outputs"].empty());
    EXPECT_EQ(j["outputs"][0]["path"], (dir / "out.wav").string());
    EXPECT_EQ(j["outputs"][0]["md5"].get<std::string>().size(), 32u);
}

// Scans with the band along the top read as DOWN: the picture is read as
// sound. The run still finishes (exit 0), but says so in the log and the report.
// (On the plain render the picture's edge follows the film so closely that its
// joins lie right; lit unevenly and weaving, as real scans are, they do not.)
TEST_F(ReportEndToEnd, AWrongRotationIsAWarning) {
    synth::SynthOptions options;
    options.frames = 9;
    options.noise = true;
    options.color = true;
    options.falloffPercent = 30;
    options.weave = 4;
    scans = dir / "uneven";
    ASSERT_TRUE(synth::renderSampleScans(options, scans).ok());
    const auto r = run("soundtrack", dir / "out.wav",
                       {"--rotation", "down", "--fps", "24", "--report", report.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Warning: The joins do not follow the frame pitch"), std::string::npos)
        << r.err;
    const nlohmann::json j = nlohmann::json::parse(test::readFileText(report / "report.json"));
    ASSERT_FALSE(j["warnings"].empty());
    EXPECT_EQ(j["warnings"][0]["warning"], "band");
    EXPECT_NE(test::readFileText(report / "report.html").find("Warning:"), std::string::npos);
}

// The plain render read as DOWN: the picture's edge follows the film so
// closely that its joins lie on the pitch, but across the band it reads
// nothing like a variable-area track, and the run says so.
TEST_F(ReportEndToEnd, APictureReadAsTheTrackIsAWarning) {
    const auto r = run("soundtrack", dir / "down.wav",
                       {"--rotation", "down", "--fps", "24", "--report", report.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Warning: The band read does not look like a variable-area track (dark, "
                         "clear and dark again across) on 9 of 9 frames"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Warning: The joins do not follow the frame pitch"), std::string::npos)
        << r.err;
    const nlohmann::json j = nlohmann::json::parse(test::readFileText(report / "report.json"));
    ASSERT_EQ(j["warnings"].size(), 1u) << j["warnings"].dump();
    EXPECT_EQ(j["warnings"][0]["warning"], "band");
    EXPECT_NE(j["warnings"][0]["reason"].get<std::string>().find("check the frame rotation"),
              std::string::npos);
}

// Four 35 mm variable-density scans at 600 dpi, read with a wrong rotation or
// film type, and read right: what the run warns of, in the log and in
// report.json. (The resolution is given: 600 dpi measured is taken as 450.)
struct WrongReading {
    const char* name;
    synth::SignalKind signal;
    std::vector<std::string> options;
    std::vector<std::string> warnings; // report.json's kinds, in order
    std::string logged;                // a "Warning:" line of the log begins so
};

void PrintTo(const WrongReading& c, std::ostream* out) {
    *out << c.name;
}

class WrongReadings : public testing::TestWithParam<WrongReading> {};

TEST_P(WrongReadings, AreWarnedOf) {
    const WrongReading& c = GetParam();
    test::TempDir dir;
    synth::SynthOptions options;
    options.film = SoundtrackType::VariableDensity35;
    options.dpi = {600, 600};
    options.frames = 4;
    options.signal = c.signal;
    ASSERT_TRUE(synth::renderSampleScans(options, dir / "scans").ok());
    std::vector<std::string> args{
        "soundtrack", (dir / "scans").string(), "-o", (dir / "out.wav").string(), "--fps", "24",
        "--report",   (dir / "report").string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto r = test::runCommandLine(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j =
        nlohmann::json::parse(test::readFileText(dir / "report" / "report.json"));
    std::vector<std::string> kinds;
    for (const nlohmann::json& w : j["warnings"]) {
        kinds.push_back(w["warning"]);
    }
    EXPECT_EQ(kinds, c.warnings) << j["warnings"].dump();
    if (!c.logged.empty()) {
        EXPECT_NE(r.err.find("Warning: " + c.logged), std::string::npos) << r.err;
    } else {
        EXPECT_EQ(r.err.find("Warning:"), std::string::npos) << r.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scans, WrongReadings,
    testing::Values(
        WrongReading{
            "ReadRight", synth::SignalKind::Mix, {"--film", "35vd", "--dpi", "600"}, {}, ""},
        // the picture is smooth across the band, so only its frame lines give
        // it away: a dark bar along the film in every frame
        WrongReading{"PictureReadAsDensity",
                     synth::SignalKind::Mix,
                     {"--film", "35vd", "--dpi", "600", "--rotation", "down"},
                     {"band", "band-width"},
                     "The band read does not look like a variable-density track (even across, "
                     "varying along the film and running on across the frame lines) on 4 of 4 "
                     "frames"},
        // a silent density track is an even grey: no variable-area track is
        WrongReading{"SilentDensityReadAsArea",
                     synth::SignalKind::Silent,
                     {"--film", "35va", "--dpi", "600"},
                     {"band"},
                     "The band read does not look like a variable-area track (dark, clear and "
                     "dark again across) on 4 of 4 frames"},
        WrongReading{"SilentDensityReadRight",
                     synth::SignalKind::Silent,
                     {"--film", "35vd", "--dpi", "600"},
                     {},
                     ""},
        // read at 450 dpi, every join lies off the pitch, but the band looks
        // like a track: the joins are blamed, not the band
        WrongReading{"JoinsOffThePitchOfATrack",
                     synth::SignalKind::Mix,
                     {"--film", "35vd"},
                     {"joins"},
                     "The band looks like a soundtrack, but the joins of 3 of 3 frames do not "
                     "follow the frame pitch, so the frames' sound was not matched there (quiet "
                     "passages give the search too little to match; Inverse or the cut by "
                     "analysis, chosen wrongly, gives it the wrong film): see the joins flagged "
                     "off-pitch in the report"}),
    [](const testing::TestParamInfo<WrongReading>& info) { return std::string(info.param.name); });

// The renderer's default speed is 24 fps, the reader's 25: read at the
// reader's, the render's sound plays 4 % fast, and the run says so, naming
// the option. Read at its own speed, it says nothing.
TEST_F(ReportEndToEnd, ASpeedOtherThanTheRendersIsAWarning) {
    const auto fast = run("soundtrack", dir / "fast.wav", {"--report", report.string()});
    ASSERT_EQ(fast.status, 0) << fast.err;
    EXPECT_NE(fast.err.find("Warning: The scans were rendered at 24 fps (truth.json beside them) "
                            "but are read at 25 fps, so their sound plays 4.2 % fast: read them "
                            "with --fps 24."),
              std::string::npos)
        << fast.err;
    const nlohmann::json j = nlohmann::json::parse(test::readFileText(report / "report.json"));
    ASSERT_FALSE(j["warnings"].empty());
    EXPECT_EQ(j["warnings"][0]["warning"], "speed");

    const auto right = run("soundtrack", dir / "right.wav", {"--fps", "24"});
    ASSERT_EQ(right.status, 0) << right.err;
    EXPECT_EQ(right.err.find("rendered at"), std::string::npos) << right.err;
}

// The full-resolution crop around the band lies as the scan does: an upright
// scan's is its film-across twin's turned, pixel for pixel, the trim and the
// band drawn where they are in the file.
TEST_F(ReportEndToEnd, BandCropOfAnUprightScanIsItsTwinsTurned) {
    const auto bandCrop = [&](bool upright, const char* track) {
        synth::SynthOptions options;
        options.frames = 3;
        options.dpi = {600, 600};
        options.noise = true;
        options.upright = upright;
        const fs::path folder = dir / track;
        EXPECT_TRUE(synth::renderSampleScans(options, folder / "scans").ok());
        const auto r = test::runCommandLine({"soundtrack", (folder / "scans").string(), "-o",
                                             (folder / "out.wav").string(), "-q", "--track", track,
                                             "--report", (folder / "report").string()});
        EXPECT_EQ(r.status, 0) << r.err;
        return cv::imread((folder / "report/report_files/band_000001.png").string());
    };
    const cv::Mat top = bandCrop(false, "top");
    const cv::Mat left = bandCrop(true, "left");
    ASSERT_FALSE(top.empty());
    ASSERT_FALSE(left.empty());
    // the band runs down the upright scan: the crop is narrow and tall
    EXPECT_LT(left.cols, left.rows);
    const cv::Mat turned = storedFromMeasured(top, TrackSide::Left);
    ASSERT_EQ(left.size(), turned.size());
    EXPECT_EQ(cv::norm(left, turned, cv::NORM_INF), 0.0);
}

TEST_F(ReportEndToEnd, FilmReportShowsTheCutRegionsAndNoJoins) {
    const auto r = run("film", dir / "reel.avi", {"-q", "--report", report.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string html = test::readFileText(report / "report.html");
    EXPECT_NE(html.find("Veltrana run report: film"), std::string::npos);
    EXPECT_NE(html.find("The movie was written to"), std::string::npos);
    EXPECT_NE(html.find("1 cut region"), std::string::npos);
    EXPECT_EQ(html.find("Join positions"), std::string::npos);
    EXPECT_EQ(html.find("band read as sound"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(report / "report_files/frame_000005.png"));
    EXPECT_FALSE(fs::exists(report / "report_files/joins.svg"));
}

TEST_F(ReportEndToEnd, AFailedRunIsReportedUpToItsLastFrame) {
    // frame 7 is no TIFF
    { std::ofstream(scans / "frame_0007.tif", std::ios::trunc) << "not a scan"; }
    const auto plain = run("soundtrack", dir / "a.wav", {"-q"});
    const auto r = run("soundtrack", dir / "b.wav", {"-q", "--report", report.string()});
    ASSERT_EQ(plain.status, 1) << plain.err;
    EXPECT_EQ(r.status, plain.status);
    const std::string html = test::readFileText(report / "report.html");
    EXPECT_NE(html.find("The run did not finish:"), std::string::npos);
    EXPECT_NE(html.find("frame_0007.tif"), std::string::npos) << "the cause, named";
    EXPECT_NE(html.find("last frame read"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(report / "report_files/frame_000005.png"));
    EXPECT_TRUE(fs::is_regular_file(report / "report_files/frame_000006.png"));
    EXPECT_FALSE(fs::exists(report / "report_files/frame_000009.png"));
}

TEST_F(ReportEndToEnd, AReportThatCannotBeWrittenIsAWarning) {
    { std::ofstream(dir / "plain") << "a file, not a folder"; }
    const fs::path blocked = dir / "plain" / "report";
    for (const char* job : {"soundtrack", "film"}) {
        const fs::path output = dir / (std::string(job) + ".out");
        const auto r = run(job, output, {"-q", "--report", blocked.string()});
        EXPECT_EQ(r.status, 0) << job << ": " << r.err;
        EXPECT_TRUE(fs::is_regular_file(output)) << job;
        EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(blocked.string()), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Not a directory"), std::string::npos) << r.err;
    }
}

TEST_F(ReportEndToEnd, ARunThatReadNoFrameWritesNoReport) {
    const auto plain = run("soundtrack", dir / "a.wav", {"-q", "--first", "20", "--last", "30"});
    const auto r = run("soundtrack", dir / "b.wav",
                       {"-q", "--first", "20", "--last", "30", "--report", report.string()});
    EXPECT_NE(plain.status, 0);
    EXPECT_EQ(r.status, plain.status);
    EXPECT_NE(r.err.find("no report written to " + report.string()), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(report));
}

TEST_F(ReportEndToEnd, ReportIntoTheScansFolderWhenAskedLeavesTheScans) {
    const auto before = test::readFileBytes(scans / "frame_0001.tif");
    const auto r = run("soundtrack", dir / "out.wav", {"-q", "--report", scans.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(scans / "report.html"));
    EXPECT_TRUE(fs::is_directory(scans / "report_files"));
    EXPECT_EQ(test::readFileBytes(scans / "frame_0001.tif"), before);
}

// --- the report replaced as a whole -------------------------------------------------

// The pictures a page links to inside report_files/.
std::vector<std::string> linkedPictures(const std::string& html) {
    std::vector<std::string> names;
    const std::regex linked("report_files/([A-Za-z0-9_.]+)\"");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), linked);
         it != std::sregex_iterator(); ++it) {
        names.push_back((*it)[1]);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

TEST_F(ReportEndToEnd, AFilmReportOverASoundtrackReportLeavesNoStalePictures) {
    ASSERT_EQ(run("soundtrack", dir / "out.wav", {"-q", "--report", report.string()}).status, 0);
    ASSERT_EQ(run("film", dir / "out.avi", {"-q", "--report", report.string()}).status, 0);
    const std::string html = test::readFileText(report / "report.html");
    EXPECT_NE(html.find("run report: film"), std::string::npos);
    EXPECT_EQ(entries(report / "report_files"), linkedPictures(html));
    EXPECT_EQ(entries(report),
              (std::vector<std::string>{"report.html", "report.json", "report_files"}));
}

TEST_F(ReportEndToEnd, AFullDiskLeavesTheEarlierReportWhole) {
    if (!test::runningAsRoot()) {
        GTEST_SKIP() << "mounting a small filesystem needs root";
    }
    fs::create_directory(report);
    test::ScopedMount mount;
    if (!mount.mountTmpfs(report, 4 * 1024 * 1024)) {
        GTEST_SKIP() << mount.whyNot();
    }
    ASSERT_EQ(run("film", dir / "out.avi", {"-q", "--report", report.string()}).status, 0);
    const test::FolderSnapshot before(report);
    ASSERT_TRUE(test::fillDisk(report / "filler", 8 * 1024));
    const test::FolderSnapshot filled(report);
    const auto r = run("soundtrack", dir / "out.wav", {"-q", "--report", report.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: the run report was not written"), std::string::npos) << r.err;
    EXPECT_EQ(test::FolderSnapshot(report).changedSince(filled), std::vector<std::string>{});
    EXPECT_EQ(test::temporariesUnder(report), std::vector<std::string>{});
    EXPECT_NE(test::readFileText(report / "report.html").find("run report: film"),
              std::string::npos);
}

// File names may hold any bytes; the page, declared UTF-8, must be UTF-8.
TEST_F(ReportEndToEnd, FileNamesThatAreNoUtf8GiveAUtf8Page) {
    fs::rename(scans / "frame_0001.tif", scans / "frame_0001\xff\xfe.tif");
    ASSERT_EQ(run("film", dir / "out.avi", {"-q", "--report", report.string()}).status, 0);
    const std::string html = test::readFileText(report / "report.html");
    EXPECT_NE(html.find("frame_0001\xef\xbf\xbd\xef\xbf\xbd.tif"), std::string::npos);
    const test::ProcessResult valid = test::runProgram(
        {"/usr/bin/iconv", "-f", "UTF-8", "-t", "UTF-8", (report / "report.html").string()});
    EXPECT_EQ(valid.status, 0) << valid.err;
}

// --- in browsers ---------------------------------------------------------------------

TEST_F(ReportEndToEnd, PagePassesXmllint) {
    if (!fs::exists("/usr/bin/xmllint")) {
        GTEST_SKIP() << "xmllint is not installed (Debian libxml2-utils)";
    }
    ASSERT_EQ(run("soundtrack", dir / "out.wav", {"-q", "--report", report.string()}).status, 0);
    const auto lint = test::runProgram(
        {"/usr/bin/xmllint", "--html", "--noout", (report / "report.html").string()});
    EXPECT_EQ(lint.status, 0);
    EXPECT_EQ(lint.err, "");
}

TEST_F(ReportEndToEnd, PageOpensInHeadlessChromium) {
    if (!fs::exists("/usr/bin/chromium")) {
        GTEST_SKIP() << "Chromium is not installed (Debian chromium)";
    }
    ASSERT_EQ(run("soundtrack", dir / "out.wav", {"-q", "--report", report.string()}).status, 0);
    const test::TempDir profile;
    const fs::path shot = dir / "report.png";
    // bounded so that a browser that hangs fails the test instead of holding it
    const auto browser = test::runProgram(
        {"/usr/bin/timeout", "120", "/usr/bin/chromium", "--headless", "--no-sandbox",
         "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + profile.path().string(), "--screenshot=" + shot.string(),
         "--window-size=1280,2000", "file://" + (report / "report.html").string()});
    ASSERT_EQ(browser.status, 0) << browser.err;
    const cv::Mat picture = cv::imread(shot.string());
    ASSERT_FALSE(picture.empty()) << browser.err;
    EXPECT_EQ(picture.size(), cv::Size(1280, 2000));
    // not blank: the page's light background with text and thumbnails on it
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    cv::Scalar mean, deviation;
    cv::meanStdDev(grey, mean, deviation);
    EXPECT_GT(deviation[0], 20.0);
    EXPECT_GT(mean[0], 150.0);
    // the pictures drew, not only the text: the plots' and overlays' colours
    // fill a share of the screen that text (grey, a few blue links) cannot
    cv::Mat hsv;
    cv::cvtColor(picture, hsv, cv::COLOR_BGR2HSV);
    cv::Mat channels[3];
    cv::split(hsv, channels);
    EXPECT_GT(cv::countNonZero(channels[1] > 100), 1280 * 2000 / 100);
}

} // namespace
} // namespace veltrana
