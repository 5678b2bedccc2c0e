// The main window driving the real jobs on rendered scans: a soundtrack run to
// its end, an archival one, Stop during a run, closing the window during a
// run, a film run, and the preview panel filled by both jobs.

#include "ui/frame_picture_view.h"
#include "ui/join_plot.h"
#include "ui/preview_panel.h"
#include "ui/ui_test_support.h"
#include "ui/veltrana_mfc_dlg.h"
#include "ui/waveform_view.h"

#include "support/test_support.h"
#include "synth/synth.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

namespace veltrana::ui {
namespace {

namespace fs = std::filesystem;
using test::child;
using test::waitUntil;

// A minute per run at most: a few small scans take well under a second each.
constexpr int kRunTimeoutMs = 120'000;

const QString kSuccess = "Pictures were tranlated succesfully!";

std::uint32_t littleEndian32(const std::vector<unsigned char>& bytes, std::size_t at) {
    return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
           static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

std::uint16_t littleEndian16(const std::vector<unsigned char>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

// The rate and the bits per sample of a WAV file's "fmt " chunk, wherever it
// lies among the chunks (a Broadcast WAV puts its "bext" chunk first).
struct WavFormat {
    std::uint32_t rate = 0;
    int bits = 0;
};
WavFormat wavFormat(const std::vector<unsigned char>& wav) {
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        const std::string id(wav.begin() + static_cast<std::ptrdiff_t>(at),
                             wav.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const std::uint32_t size = littleEndian32(wav, at + 4);
        if (id == "fmt ") {
            return {littleEndian32(wav, at + 12), littleEndian16(wav, at + 22)};
        }
        at += 8 + size + (size % 2);
    }
    return {};
}

QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// Rendered 35 mm variable-area scans and a window pointed at them, with the
// output in a folder of its own.
class RealRunTest : public testing::Test {
protected:
    void SetUp() override {
        synth::SynthOptions options;
        options.film = SoundtrackType::VariableArea35;
        options.dpi = {900, 900};
        options.frames = 4;
        options.fps = 25;
        options.format = scanFormat;
        const synth::SynthResult result = synth::renderSampleScans(options, scans);
        ASSERT_TRUE(result.ok()) << result.error;
        truth = result.truth;
        ASSERT_EQ(truth.scans.size(), 4u);

        window = std::make_unique<CVeltranaMFCDlg>();
        window->setMessageBox([this](QWidget*, const QString& text) { messages << text; });
        // a question would wait for a person: the tests that ask one answer it
        window->setQuestionBox([](QWidget*, const QString&) { return true; });
        window->setFileDialog([this](QWidget*, const FileDialogRequest& request) {
            return std::optional<QString>(request.save ? qpath(output)
                                                       : qpath(scans / truth.scans[0].file));
        });
        window->findChild<QAction*>("inputDirectoryAction")->trigger();
        window->findChild<QAction*>("outputDirectoryAction")->trigger();
        window->show();
        QObject::connect(child<QProgressBar>(*window, "progressBar"), &QProgressBar::valueChanged,
                         [this](int v) { progress.push_back(v); });
    }

    void start(const char* first, const char* last) {
        child<QLineEdit>(*window, "startEdit")->setText(first);
        child<QLineEdit>(*window, "stopEdit")->setText(last);
        QTest::mouseClick(child<QPushButton>(*window, "startButton"), Qt::LeftButton);
    }
    QString log() { return child<QPlainTextEdit>(*window, "logBox")->toPlainText(); }
    QStringList logLines() { return log().split('\n'); }
    bool startEnabled() { return child<QPushButton>(*window, "startButton")->isEnabled(); }
    bool stopEnabled() { return child<QPushButton>(*window, "stopButton")->isEnabled(); }

    test::ScopedCurrentFolder keepFolder;
    veltrana::test::TempDir dir;
    test::ScopedHome home{qpath(dir.path())};
    fs::path scans = dir / "scans";
    fs::path output = dir / "out" / "sound.wav";
    synth::ScanFormat scanFormat = synth::ScanFormat::Tiff;
    synth::SynthTruth truth;
    QStringList messages;
    std::vector<int> progress;
    std::unique_ptr<CVeltranaMFCDlg> window;

private:
    bool made = fs::create_directories(dir / "out");
};

TEST_F(RealRunTest, SoundtrackRunEndsWithTheWavAndTheSuccessLine) {
    start("1", "3");
    EXPECT_FALSE(startEnabled());
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }, kRunTimeoutMs));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();

    const QStringList lines = logLines();
    EXPECT_EQ(lines.front(), "Translating frame number : 1...");
    EXPECT_EQ(lines.back(), kSuccess);
    EXPECT_TRUE(lines.contains("Translating frame number : 3..."));
    EXPECT_TRUE(startEnabled());
    // one step per frame, then back to empty
    EXPECT_EQ(progress, std::vector<int>({1, 2, 3, 0}));

    // the WAV: PCM, one channel, 8 bits, at the film speed times the pitch
    ASSERT_TRUE(fs::exists(output));
    const std::vector<unsigned char> wav = veltrana::test::readFileBytes(output);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 12), "WAVE");
    EXPECT_EQ(littleEndian32(wav, 24), static_cast<std::uint32_t>(25 * truth.layout.framePitch));
    EXPECT_GT(wav.size(), 44u + static_cast<std::size_t>(truth.layout.framePitch))
        << "two joins give at least a frame of sound";
    EXPECT_TRUE(fs::exists(scans / "leng.txt"));
}

// The same film scanned to 10-bit DPX: its folder opens through any of its
// scans, and the standard sound is the 8-bit TIFF's.
class DpxRealRunTest : public RealRunTest {
protected:
    void SetUp() override {
        scanFormat = synth::ScanFormat::Dpx;
        RealRunTest::SetUp();
    }
};

TEST_F(DpxRealRunTest, OpensADpxFolder) {
    ASSERT_EQ(truth.scans[0].file, "frame_0001.dpx");
    start("1", "3");
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }, kRunTimeoutMs));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    const QStringList lines = logLines();
    EXPECT_TRUE(lines.contains("Scans: 10-bit DPX, grey, transfer: printing density (samples "
                               "used as stored)"))
        << log().toStdString();
    EXPECT_EQ(lines.back(), kSuccess);
    const std::vector<unsigned char> wav = veltrana::test::readFileBytes(output);
    EXPECT_EQ(littleEndian32(wav, 24), static_cast<std::uint32_t>(25 * truth.layout.framePitch));
    EXPECT_TRUE(fs::exists(scans / "leng.txt"));
}

TEST_F(RealRunTest, ArchivalQualityRunWritesTwentyFourBitsAt48000) {
    // ticked in the dialog, which sets 24 bits at 48000 Hz
    test::whenModalOpens([](QWidget& dialog) {
        test::clickBox(child<QCheckBox>(dialog, "archivalBox"));
        child<QPushButton>(dialog, "okButton")->click();
    });
    window->findChild<QAction*>("soundParametersAction")->trigger();

    start("1", "3");
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }, kRunTimeoutMs));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_EQ(logLines().back(), kSuccess);
    EXPECT_TRUE(window->soundtrackJob().archivalLevels);
    EXPECT_TRUE(window->soundtrackJob().preciseJoins);

    ASSERT_TRUE(fs::exists(output));
    const std::vector<unsigned char> wav = veltrana::test::readFileBytes(output);
    const WavFormat format = wavFormat(wav);
    EXPECT_EQ(format.rate, 48000u);
    EXPECT_EQ(format.bits, 24);
    // more than two frames of sound at 48000 Hz and 3 bytes a sample
    EXPECT_GT(wav.size(), 2u * 48000u / 25u * 3u);
}

TEST_F(RealRunTest, SoundtrackRunFillsThePreviewPanel) {
    start("1", "4");
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }, kRunTimeoutMs));
    QApplication::processEvents();
    EXPECT_EQ(logLines().back(), kSuccess);

    auto* panel = child<PreviewPanel>(*window, "previewPanel");
    EXPECT_EQ(panel->framesShown(), 4);
    // a join for every frame after the first
    const std::vector<JoinPlot::Point>& joins = child<JoinPlot>(*window, "joinPlot")->points();
    ASSERT_EQ(joins.size(), 3u);
    for (std::size_t i = 0; i < joins.size(); ++i) {
        EXPECT_EQ(joins[i].frame, static_cast<int>(i) + 2);
        EXPECT_FALSE(joins[i].bad) << "frame " << joins[i].frame;
    }
    const auto* waveform = child<WaveformView>(*window, "waveformView");
    EXPECT_EQ(waveform->frameCount(), 4);
    EXPECT_EQ(waveform->joinMarks().size(), 3u);
    // three frames' worth of sound at least, cut at their joins
    EXPECT_GE(waveform->length(), 3u * static_cast<std::size_t>(truth.layout.framePitch));

    // a picture of the run, with the band along an edge of the scan and
    // inside the frame bounds
    const auto* picture = child<FramePictureView>(*window, "framePictureView");
    ASSERT_TRUE(picture->hasPicture());
    EXPECT_LE(std::max(picture->picture().width(), picture->picture().height()),
              kPreviewPictureSide);
    ASSERT_TRUE(picture->boundsRect().has_value());
    ASSERT_TRUE(picture->bandRect().has_value());
    const QRectF shown = picture->pictureRect();
    const QRectF band = *picture->bandRect();
    EXPECT_TRUE(shown.adjusted(-0.5, -0.5, 0.5, 0.5).contains(band));
    EXPECT_LT(band.height(), shown.height() / 2);
    EXPECT_TRUE(band.top() - shown.top() < shown.height() / 4 ||
                shown.bottom() - band.bottom() < shown.height() / 4);
    EXPECT_GE(band.left(), picture->boundsRect()->left() - 0.5);
    EXPECT_LE(band.right(), picture->boundsRect()->right() + 0.5);
}

TEST_F(RealRunTest, StopDuringARunWritesNothing) {
    // pressed while the worker waits for the window to show frame 2, so the
    // stop is certain to come before frame 2's test
    bool pressed = false;
    QObject::connect(child<QPlainTextEdit>(*window, "logBox"), &QPlainTextEdit::textChanged, [&] {
        if (!pressed && log().contains("Translating frame number : 2...")) {
            pressed = true;
            child<QPushButton>(*window, "stopButton")->click();
        }
    });
    start("1", "4");
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }, kRunTimeoutMs));
    EXPECT_TRUE(pressed);
    EXPECT_EQ(log(), "Operation stopped !!!!");
    EXPECT_TRUE(startEnabled());
    EXPECT_TRUE(stopEnabled());
    EXPECT_EQ(child<QProgressBar>(*window, "progressBar")->value(), 0);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(scans / "leng.txt"));
}

TEST_F(RealRunTest, ClosingTheWindowDuringARunStopsItBeforeAnythingIsWritten) {
    bool closed = false;
    QObject::connect(child<QPlainTextEdit>(*window, "logBox"), &QPlainTextEdit::textChanged, [&] {
        if (!closed && log().contains("Translating frame number : 2...")) {
            closed = true;
            window->close();
        }
    });
    start("1", "4");
    ASSERT_TRUE(waitUntil([&] { return closed; }, kRunTimeoutMs));
    // close returned only after the worker had ended
    EXPECT_FALSE(window->soundtrackRunning());
    EXPECT_FALSE(window->isVisible());
    window.reset();
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(scans / "leng.txt"));
}

TEST_F(RealRunTest, FilmRunWritesTheMovieBeforeStartReturns) {
    output = dir / "out" / "movie.avi";
    window->findChild<QAction*>("outputDirectoryAction")->trigger();
    QTest::mouseClick(child<QCheckBox>(*window, "filmBox"), Qt::LeftButton, Qt::NoModifier,
                      QPoint(6, child<QCheckBox>(*window, "filmBox")->height() / 2));
    ASSERT_TRUE(child<QCheckBox>(*window, "filmBox")->isChecked());

    start("2", "4");
    // Start has come back: the movie is complete
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_EQ(logLines().back(), "Pictures were cut succesfully!");
    EXPECT_EQ(child<QProgressBar>(*window, "progressBar")->value(), 0);
    EXPECT_TRUE(startEnabled());
    EXPECT_FALSE(window->soundtrackRunning());

    cv::VideoCapture movie(output.string());
    ASSERT_TRUE(movie.isOpened());
    EXPECT_EQ(movie.get(cv::CAP_PROP_FRAME_WIDTH), 640);
    EXPECT_EQ(movie.get(cv::CAP_PROP_FRAME_HEIGHT), 480);
    int frames = 0;
    cv::Mat frame;
    while (movie.read(frame)) {
        ++frames;
    }
    EXPECT_EQ(frames, 3);
}

// The sound and the movie share the output's name in the window: the movie
// goes to its own ".avi" file, and the earlier WAV stays whole.
TEST_F(RealRunTest, AFilmRunLeavesAnEarlierWavWhole) {
    start("1", "3");
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }, kRunTimeoutMs));
    const std::vector<unsigned char> sound = veltrana::test::readFileBytes(output);
    ASSERT_GT(sound.size(), 44u);
    test::clickBox(child<QCheckBox>(*window, "filmBox"));
    start("1", "3");
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_EQ(logLines().back(), "Pictures were cut succesfully!");
    EXPECT_EQ(veltrana::test::readFileBytes(output), sound);
    cv::VideoCapture movie((dir / "out" / "sound.avi").string());
    ASSERT_TRUE(movie.isOpened());
    int frames = 0;
    for (cv::Mat frame; movie.read(frame);) {
        ++frames;
    }
    EXPECT_EQ(frames, 3);
}

TEST_F(RealRunTest, FilmRunShowsItsCutRegions) {
    output = dir / "out" / "movie.avi";
    window->findChild<QAction*>("outputDirectoryAction")->trigger();
    test::clickBox(child<QCheckBox>(*window, "filmBox"));
    start("1", "3");
    QApplication::processEvents();
    EXPECT_EQ(logLines().back(), "Pictures were cut succesfully!");

    EXPECT_EQ(child<PreviewPanel>(*window, "previewPanel")->framesShown(), 3);
    const auto* picture = child<FramePictureView>(*window, "framePictureView");
    ASSERT_TRUE(picture->hasPicture());
    const std::vector<QRectF> cuts = picture->cutRects();
    ASSERT_FALSE(cuts.empty());
    const QRectF shown = picture->pictureRect().adjusted(-0.5, -0.5, 0.5, 0.5);
    for (const QRectF& cut : cuts) {
        EXPECT_TRUE(shown.contains(cut));
        EXPECT_GT(cut.width() * cut.height(), 0.1 * shown.width() * shown.height());
    }
    EXPECT_FALSE(picture->bandRect().has_value());
    EXPECT_TRUE(child<JoinPlot>(*window, "joinPlot")->points().empty());
}

// ---- the run report ----

// Every file below `folder`, as paths relative to it.
std::vector<std::string> filesBelow(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(RealRunTest, RunReportBesideTheOutputNamesTheFramesAndTheWav) {
    test::clickBox(child<QCheckBox>(*window, "reportBox"));
    const fs::path report = dir / "out" / "sound-report";
    EXPECT_EQ(window->reportFolder(), qpath(report));
    start("2", "4");
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }, kRunTimeoutMs));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_EQ(logLines().back(), "Run report: " + qpath(report / "report.html"));
    EXPECT_TRUE(logLines().contains(kSuccess));

    EXPECT_TRUE(fs::exists(report / "report.html"));
    EXPECT_TRUE(fs::is_directory(report / "report_files"));
    std::ifstream in(report / "report.json");
    const nlohmann::json json = nlohmann::json::parse(in);
    EXPECT_EQ(json["job"], "soundtrack");
    EXPECT_EQ(json["ended"], "finished");
    ASSERT_EQ(json["frames"].size(), 3u);
    EXPECT_EQ(json["frames"][0]["frame"], 2);
    EXPECT_EQ(json["frames"][0]["file"], "frame_0002.tif");
    EXPECT_EQ(json["frames"][2]["frame"], 4);
    ASSERT_GE(json["outputs"].size(), 1u);
    EXPECT_EQ(json["outputs"][0]["path"], output.string());
}

TEST_F(RealRunTest, AFilmRunIsReportedIntoTheFolderTyped) {
    test::clickBox(child<QCheckBox>(*window, "filmBox"));
    test::clickBox(child<QCheckBox>(*window, "reportBox"));
    const fs::path report = dir / "film report";
    child<QLineEdit>(*window, "reportEdit")->setText(qpath(report));
    start("1", "2");
    QApplication::processEvents();
    EXPECT_EQ(logLines().back(), "Run report: " + qpath(report / "report.html"));
    std::ifstream in(report / "report.json");
    const nlohmann::json json = nlohmann::json::parse(in);
    EXPECT_EQ(json["job"], "film");
    EXPECT_EQ(json["ended"], "finished");
    ASSERT_EQ(json["frames"].size(), 2u);
    EXPECT_EQ(json["outputs"][0]["path"], (dir / "out" / "sound.avi").string());
}

TEST_F(RealRunTest, AReportThatCannotBeWrittenIsAWarningBelowTheRunsEnd) {
    test::clickBox(child<QCheckBox>(*window, "reportBox"));
    const fs::path report = dir / "missing" / "report";
    child<QLineEdit>(*window, "reportEdit")->setText(qpath(report));
    start("1", "3");
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }, kRunTimeoutMs));
    const QStringList lines = logLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], kSuccess);
    EXPECT_TRUE(lines.back().startsWith("Warning: the run report was not written. "))
        << lines.back().toStdString();
    EXPECT_TRUE(fs::exists(output));
    EXPECT_FALSE(fs::exists(report));
}

TEST_F(RealRunTest, WithoutTheRunReportTheRunWritesOnlyItsOutputs) {
    EXPECT_FALSE(child<QCheckBox>(*window, "reportBox")->isChecked());
    EXPECT_FALSE(child<QLineEdit>(*window, "reportEdit")->isEnabled());
    start("1", "3");
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }, kRunTimeoutMs));
    EXPECT_EQ(logLines().back(), kSuccess);
    EXPECT_EQ(filesBelow(dir / "out"), std::vector<std::string>({"sound.wav"}));
    for (const std::string& name : filesBelow(dir.path())) {
        EXPECT_EQ(name.find("report"), std::string::npos) << name;
    }
}

} // namespace
} // namespace veltrana::ui
