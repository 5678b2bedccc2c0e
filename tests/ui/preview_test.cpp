// The preview panel: its three drawings fed by hand (where the overlays land
// on the picture, how the frames make up the waveform, where the joins lie on
// their plot), the panel as a whole, and the main window's side of it with
// stand-in jobs (the toggle, what a run is asked for, Start clearing it).

#include "ui/frame_picture_view.h"
#include "ui/join_plot.h"
#include "ui/preview_panel.h"
#include "ui/ui_test_support.h"
#include "ui/veltrana_mfc_dlg.h"
#include "ui/waveform_view.h"

#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

namespace veltrana::ui {
namespace {

using test::child;
using test::waitUntil;

// A 960 x 720 scan, its picture a quarter of it: 240 x 180. The trim kept
// columns 100..859, the band is rows 600..699, one region was cut.
FramePreview scanNumbers() {
    FramePreview numbers;
    numbers.frame = 7;
    numbers.file = "frame_0007.tif";
    numbers.scanSize = cv::Size(960, 720);
    numbers.bounds = FrameBounds{100, 859};
    numbers.band = ScanRows{600, 699};
    numbers.cuts = {cv::Rect(100, 40, 760, 500)};
    return numbers;
}

QImage greyPicture(int width, int height, int level = 128) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(QColor(level, level, level));
    return picture;
}

void expectRect(const QRectF& actual, double x, double y, double w, double h) {
    EXPECT_NEAR(actual.x(), x, 1e-6);
    EXPECT_NEAR(actual.y(), y, 1e-6);
    EXPECT_NEAR(actual.width(), w, 1e-6);
    EXPECT_NEAR(actual.height(), h, 1e-6);
}

// ---- the frame picture ----

TEST(FramePictureView, OverlaysLandWhereTheNumbersSayAtTwiceThePictureSize) {
    FramePictureView view;
    // 2 px of room on each side: the 240 x 180 picture is drawn at 480 x 360
    view.resize(484, 364);
    view.showPicture(scanNumbers(), greyPicture(240, 180));
    ASSERT_TRUE(view.hasPicture());
    EXPECT_EQ(view.frame(), 7);
    expectRect(view.pictureRect(), 2, 2, 480, 360);
    // picture 240 / scan 960 = 0.25, drawn at 2x: half a widget pixel a scan pixel
    EXPECT_DOUBLE_EQ(view.scanScale(), 0.5);
    // columns 100..859 are 760 columns from x = 100
    expectRect(*view.boundsRect(), 2 + 50, 2, 380, 360);
    // rows 600..699 within the kept columns
    expectRect(*view.bandRect(), 2 + 50, 2 + 300, 380, 50);
    ASSERT_EQ(view.cutRects().size(), 1u);
    expectRect(view.cutRects()[0], 2 + 50, 2 + 20, 380, 250);
}

TEST(FramePictureView, UprightScansShowTheirOverlaysWhereTheyLieAndTheFilmEdge) {
    // the same numbers on the scan written upright (720 x 960, film down
    // the file, the band at the left) and mirrored (the band at the right)
    FramePreview numbers = scanNumbers();
    numbers.scanSize = cv::Size(720, 960);
    numbers.filmEdge = 580;
    FramePictureView view;
    view.resize(364, 484);
    for (const TrackSide side : {TrackSide::Left, TrackSide::Right}) {
        numbers.side = side;
        view.showPicture(numbers, greyPicture(180, 240));
        expectRect(view.pictureRect(), 2, 2, 360, 480);
        // measured columns 100..859 are file rows 960 - 860 .. 960 - 101
        expectRect(*view.boundsRect(), 2, 2 + 50, 360, 380);
        const double band = side == TrackSide::Left ? 600 : 720 - 700;
        expectRect(*view.bandRect(), 2 + band * 0.5, 2 + 50, 50, 380);
        const double edge = side == TrackSide::Left ? 580 : 720 - 581;
        expectRect(*view.filmEdgeRect(), 2 + edge * 0.5, 2, 0.5, 480);
    }
}

TEST(FramePictureView, OverlaysFollowThePictureWhenItIsCentredAtAnUnevenZoom) {
    FramePictureView view;
    // 296 x 296 of room: the picture is drawn 296 wide, 222 high, 37 px down
    view.resize(300, 300);
    view.showPicture(scanNumbers(), greyPicture(240, 180));
    expectRect(view.pictureRect(), 2, 39, 296, 222);
    const double scale = 296.0 / 960.0;
    EXPECT_NEAR(view.scanScale(), scale, 1e-12);
    expectRect(*view.boundsRect(), 2 + 100 * scale, 39, 760 * scale, 720 * scale);
    expectRect(*view.bandRect(), 2 + 100 * scale, 39 + 600 * scale, 760 * scale, 100 * scale);
}

TEST(FramePictureView, SoundtrackPictureHasNoCutsAndAFilmPictureNoBand) {
    FramePictureView view;
    view.resize(484, 364);
    FramePreview soundtrack = scanNumbers();
    soundtrack.cuts.clear();
    view.showPicture(soundtrack, greyPicture(240, 180));
    EXPECT_TRUE(view.bandRect().has_value());
    EXPECT_TRUE(view.cutRects().empty());

    FramePreview film = scanNumbers();
    film.band.reset();
    view.showPicture(film, greyPicture(240, 180));
    EXPECT_FALSE(view.bandRect().has_value());
    EXPECT_EQ(view.cutRects().size(), 1u);
}

TEST(FramePictureView, DrawsTheBandOverThePictureAndDarkensTheTrimmedColumns) {
    FramePictureView view;
    view.resize(484, 364);
    FramePreview numbers = scanNumbers();
    numbers.cuts.clear();
    view.showPicture(numbers, greyPicture(240, 180));
    const QImage drawn = view.grab().toImage();
    const QRectF band = *view.bandRect();
    const QColor inBand = drawn.pixelColor(band.center().toPoint());
    const QColor plain = drawn.pixelColor(QPoint(240, 100));
    const QColor trimmed = drawn.pixelColor(QPoint(20, 100));
    EXPECT_EQ(plain, QColor(128, 128, 128));
    // the band's orange tint: more red than grey, less blue
    EXPECT_GT(inBand.red(), plain.red());
    EXPECT_LT(inBand.blue(), plain.blue());
    // left of the kept columns the picture is darkened, not hidden
    EXPECT_LT(trimmed.value(), plain.value());
    EXPECT_GT(trimmed.value(), 0);
}

TEST(FramePictureView, ClearLeavesNoPictureAndNoOverlays) {
    FramePictureView view;
    view.resize(300, 300);
    view.showPicture(scanNumbers(), greyPicture(240, 180));
    view.clear();
    EXPECT_FALSE(view.hasPicture());
    EXPECT_EQ(view.frame(), 0);
    EXPECT_FALSE(view.boundsRect().has_value());
    EXPECT_FALSE(view.bandRect().has_value());
    EXPECT_TRUE(view.cutRects().empty());
}

// ---- the waveform ----

std::vector<float> ramp(int count, float from) {
    std::vector<float> samples;
    for (int i = 0; i < count; ++i) {
        samples.push_back(from + static_cast<float>(i % 10));
    }
    return samples;
}

TEST(WaveformView, EachFrameGivesItsSamplesUpToWhereTheNextJoinsIt) {
    WaveformView view;
    view.resize(400, 100);
    view.clear(QStringLiteral("empty"));
    view.addFrame(1, ramp(100, 100), std::nullopt, false);
    // the latest frame counts whole until the next one comes
    EXPECT_EQ(view.length(), 100u);
    view.addFrame(2, ramp(100, 120), 80.0, false);
    EXPECT_EQ(view.length(), 80u + 100u);
    // a fractional join keeps the nearest whole sample, the mark stays exact
    view.addFrame(3, ramp(100, 90), 90.4, true);
    EXPECT_EQ(view.length(), 80u + 90u + 100u);
    EXPECT_EQ(view.frameCount(), 3);

    const std::vector<WaveformView::JoinMark>& marks = view.joinMarks();
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].frame, 2);
    EXPECT_DOUBLE_EQ(marks[0].position, 80.0);
    EXPECT_FALSE(marks[0].bad);
    EXPECT_EQ(marks[1].frame, 3);
    EXPECT_DOUBLE_EQ(marks[1].position, 80.0 + 90.4);
    EXPECT_TRUE(marks[1].bad);

    const QRectF plot = view.plotRect();
    EXPECT_DOUBLE_EQ(view.xOf(0), plot.left());
    EXPECT_DOUBLE_EQ(view.xOf(270), plot.right());
    EXPECT_DOUBLE_EQ(view.xOf(80), plot.left() + plot.width() * 80 / 270);
}

TEST(WaveformView, AJoinPastTheFrameKeepsTheWholeFrame) {
    WaveformView view;
    view.addFrame(1, ramp(50, 0), std::nullopt, false);
    view.addFrame(2, ramp(50, 0), 75.0, false);
    EXPECT_EQ(view.length(), 100u);
    ASSERT_EQ(view.joinMarks().size(), 1u);
    EXPECT_DOUBLE_EQ(view.joinMarks()[0].position, 50.0);
}

TEST(WaveformView, DrawsTheSoundAndABadJoinInRed) {
    WaveformView view;
    view.resize(400, 100);
    view.addFrame(1, ramp(200, 100), std::nullopt, false);
    view.addFrame(2, ramp(200, 100), 100.0, true);
    const QImage drawn = view.grab().toImage();
    const QRectF plot = view.plotRect();
    const int markX = static_cast<int>(view.xOf(view.joinMarks()[0].position));
    const QColor mark = drawn.pixelColor(markX, static_cast<int>(plot.top()) + 2);
    EXPECT_GT(mark.red(), 180);
    EXPECT_LT(mark.green(), 80);
    // the sound: some pixel of a column away from the mark is drawn in blue
    const int soundX = static_cast<int>(view.xOf(50));
    bool blue = false;
    for (int y = static_cast<int>(plot.top()); y < static_cast<int>(plot.bottom()); ++y) {
        const QColor c = drawn.pixelColor(soundX, y);
        blue = blue || (c.blue() > 120 && c.red() < 100);
    }
    EXPECT_TRUE(blue);
}

TEST(WaveformView, ClearEmptiesIt) {
    WaveformView view;
    view.addFrame(1, ramp(50, 0), std::nullopt, false);
    view.addFrame(2, ramp(50, 0), 40.0, false);
    view.clear(QStringLiteral("empty"));
    EXPECT_EQ(view.frameCount(), 0);
    EXPECT_EQ(view.length(), 0u);
    EXPECT_TRUE(view.joinMarks().empty());
}

// ---- the join plot ----

TEST(JoinPlot, FramesSpanThePlotAndABadJoinLiesOffTheLine) {
    JoinPlot plot;
    plot.resize(300, 160);
    plot.addJoin(2, 500.0, false);
    plot.addJoin(3, 500.5, false);
    plot.addJoin(4, 520.0, true);
    plot.addJoin(5, 499.5, false);
    ASSERT_EQ(plot.points().size(), 4u);
    const QRectF area = plot.plotRect();
    EXPECT_EQ(plot.firstFrame(), 2);
    EXPECT_EQ(plot.lastFrame(), 5);
    EXPECT_DOUBLE_EQ(plot.positionOf(plot.points()[0]).x(), area.left());
    EXPECT_DOUBLE_EQ(plot.positionOf(plot.points()[3]).x(), area.right());
    EXPECT_DOUBLE_EQ(plot.positionOf(plot.points()[1]).x(), area.left() + area.width() / 3);
    // rows grow upwards; the bad join is at the top, the lowest at the bottom
    EXPECT_DOUBLE_EQ(plot.positionOf(plot.points()[2]).y(), area.top());
    EXPECT_DOUBLE_EQ(plot.positionOf(plot.points()[3]).y(), area.bottom());
    EXPECT_TRUE(plot.points()[2].bad);
}

TEST(JoinPlot, ASteadyRunIsAFlatLineInTheMiddleOfEightRows) {
    JoinPlot plot;
    plot.resize(300, 160);
    plot.addJoin(2, 500.0, false);
    plot.addJoin(3, 501.0, false);
    EXPECT_DOUBLE_EQ(plot.lowestJoin(), 496.5);
    EXPECT_DOUBLE_EQ(plot.highestJoin(), 504.5);
    const QRectF area = plot.plotRect();
    const double rowHeight = area.height() / 8;
    EXPECT_NEAR(plot.positionOf(plot.points()[0]).y(), area.center().y() + rowHeight / 2, 1e-9);
    EXPECT_NEAR(plot.positionOf(plot.points()[1]).y(), area.center().y() - rowHeight / 2, 1e-9);
}

TEST(JoinPlot, OneJoinSitsInTheMiddle) {
    JoinPlot plot;
    plot.resize(300, 160);
    plot.addJoin(2, 500.0, false);
    EXPECT_EQ(plot.positionOf(plot.points()[0]), plot.plotRect().center());
    plot.clear(QStringLiteral("empty"));
    EXPECT_TRUE(plot.points().empty());
}

// ---- the job's picture as an image ----

TEST(PreviewImage, KeepsTheColoursOfABgrPicture) {
    cv::Mat bgr(2, 3, CV_8UC3, cv::Scalar(10, 20, 200)); // blue 10, green 20, red 200
    const QImage image = previewImage(bgr);
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixelColor(2, 1), QColor(200, 20, 10));
}

TEST(PreviewImage, BringsGreyAndSixteenBitPicturesToEightBitColour) {
    const QImage grey = previewImage(cv::Mat(2, 2, CV_8UC1, cv::Scalar(77)));
    EXPECT_EQ(grey.pixelColor(1, 1), QColor(77, 77, 77));
    const QImage deep = previewImage(cv::Mat(2, 2, CV_16UC3, cv::Scalar(257 * 3, 257 * 2, 65535)));
    EXPECT_EQ(deep.pixelColor(0, 0), QColor(255, 2, 3));
    EXPECT_TRUE(previewImage(cv::Mat()).isNull());
}

TEST(PreviewImage, OwnsItsPixels) {
    QImage image;
    {
        cv::Mat bgr(4, 4, CV_8UC3, cv::Scalar(1, 2, 3));
        image = previewImage(bgr);
        bgr.setTo(cv::Scalar(0, 0, 0));
    }
    EXPECT_EQ(image.pixelColor(3, 3), QColor(3, 2, 1));
}

// ---- the panel ----

FramePreview soundtrackFrame(int frame, std::optional<double> join, bool weak = false) {
    FramePreview preview;
    preview.frame = frame;
    preview.file = "frame_000" + std::to_string(frame) + ".tif";
    preview.scanSize = cv::Size(960, 720);
    preview.bounds = FrameBounds{100, 859};
    preview.band = ScanRows{600, 699};
    preview.join = join;
    if (weak) {
        preview.flags.push_back({JoinFlagKind::Weak, "correlation 0.21 at the join"});
    }
    preview.samples = ramp(120, 100);
    return preview;
}

TEST(PreviewPanel, SoundtrackFramesFillTheWaveformAndTheJoinPlot) {
    PreviewPanel panel;
    panel.clear(PreviewPanel::Run::Soundtrack);
    FramePreview first = soundtrackFrame(1, std::nullopt);
    first.resolution = ScanResolution{1200, 1200};
    panel.showFrame(first);
    panel.showFrame(soundtrackFrame(2, 100.0));
    panel.showFrame(soundtrackFrame(3, 101.0, true));
    panel.showPicture(soundtrackFrame(3, 101.0, true), greyPicture(240, 180));

    EXPECT_EQ(panel.framesShown(), 3);
    EXPECT_EQ(child<WaveformView>(panel, "waveformView")->frameCount(), 3);
    EXPECT_EQ(child<WaveformView>(panel, "waveformView")->joinMarks().size(), 2u);
    const std::vector<JoinPlot::Point>& points = child<JoinPlot>(panel, "joinPlot")->points();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].frame, 3);
    EXPECT_TRUE(points[1].bad);
    EXPECT_EQ(child<FramePictureView>(panel, "framePictureView")->frame(), 3);
    EXPECT_EQ(child<QLabel>(panel, "previewCaption")->text(), "Frame 3 \u2013 frame_0003.tif");
    const QString details = child<QLabel>(panel, "previewDetails")->text();
    EXPECT_TRUE(details.contains("Resolution 1200 \u00d7 1200 dpi")) << details.toStdString();
    EXPECT_TRUE(details.contains("Join at row 101.00")) << details.toStdString();
    EXPECT_TRUE(details.contains("weak")) << details.toStdString();
    EXPECT_TRUE(details.contains("correlation 0.21 at the join")) << details.toStdString();
}

// Pictures come a few a second, the numbers with every frame: the caption
// describes the frame whose picture is shown, never a later one.
TEST(PreviewPanel, CaptionDescribesTheFrameInThePicture) {
    PreviewPanel panel;
    panel.clear(PreviewPanel::Run::Soundtrack);
    panel.showFrame(soundtrackFrame(1, std::nullopt));
    panel.showFrame(soundtrackFrame(2, 100.0));
    EXPECT_EQ(child<QLabel>(panel, "previewCaption")->text(), "No frame yet");
    panel.showPicture(soundtrackFrame(2, 100.0), greyPicture(240, 180));
    panel.showFrame(soundtrackFrame(3, 101.0, true));
    panel.showFrame(soundtrackFrame(4, 102.0));
    EXPECT_EQ(child<FramePictureView>(panel, "framePictureView")->frame(), 2);
    EXPECT_EQ(child<QLabel>(panel, "previewCaption")->text(), "Frame 2 \u2013 frame_0002.tif");
    const QString details = child<QLabel>(panel, "previewDetails")->text();
    EXPECT_TRUE(details.contains("Join at row 100.00")) << details.toStdString();
    EXPECT_FALSE(details.contains("weak")) << details.toStdString();
    EXPECT_EQ(child<WaveformView>(panel, "waveformView")->frameCount(), 4);
}

TEST(PreviewPanel, ShowsTheRunsWarningsUntilTheNextRun) {
    PreviewPanel panel;
    panel.clear(PreviewPanel::Run::Soundtrack);
    panel.showFrame(soundtrackFrame(1, std::nullopt));
    EXPECT_TRUE(panel.warningLabel()->text().isEmpty());
    panel.showWarning({"band", "The joins do not follow the frame pitch (5 of 7 lie off it)"});
    panel.showWarning({"band-width", "The band read changes width <between> frames"});
    const QString text = panel.warningLabel()->text();
    EXPECT_TRUE(text.contains("(5 of 7 lie off it)")) << text.toStdString();
    EXPECT_TRUE(text.contains("&lt;between&gt;")) << text.toStdString();
    panel.clear(PreviewPanel::Run::Soundtrack);
    EXPECT_TRUE(panel.warningLabel()->text().isEmpty());
}

TEST(PreviewPanel, FilmFramesShowTheirCutsAndNoSound) {
    PreviewPanel panel;
    panel.clear(PreviewPanel::Run::Film);
    FramePreview frame = scanNumbers();
    frame.band.reset();
    panel.showFrame(frame);
    panel.showPicture(frame, greyPicture(240, 180));
    EXPECT_EQ(panel.framesShown(), 1);
    EXPECT_EQ(child<WaveformView>(panel, "waveformView")->frameCount(), 0);
    EXPECT_TRUE(child<JoinPlot>(panel, "joinPlot")->points().empty());
    EXPECT_EQ(child<FramePictureView>(panel, "framePictureView")->cutRects().size(), 1u);
    EXPECT_TRUE(child<QLabel>(panel, "previewDetails")->text().contains("1 cut region"));
    EXPECT_TRUE(child<QLabel>(panel, "previewLegend")->text().contains("cut region"));
}

TEST(PreviewPanel, ClearEmptiesEveryPart) {
    PreviewPanel panel;
    panel.clear(PreviewPanel::Run::Soundtrack);
    panel.showFrame(soundtrackFrame(1, std::nullopt));
    panel.showFrame(soundtrackFrame(2, 100.0));
    panel.showPicture(soundtrackFrame(2, 100.0), greyPicture(240, 180));
    panel.clear(PreviewPanel::Run::Soundtrack);
    EXPECT_EQ(panel.framesShown(), 0);
    EXPECT_EQ(child<WaveformView>(panel, "waveformView")->frameCount(), 0);
    EXPECT_TRUE(child<JoinPlot>(panel, "joinPlot")->points().empty());
    EXPECT_FALSE(child<FramePictureView>(panel, "framePictureView")->hasPicture());
    EXPECT_EQ(child<QLabel>(panel, "previewCaption")->text(), "No frame yet");
}

// ---- the main window's side, with stand-in jobs ----

// A stand-in soundtrack job that sends what it was asked for: four frames'
// numbers and one picture.
struct PreviewingSoundtrack {
    std::mutex mutex;
    std::vector<PreviewRequest> requests;
    int frames = 4;

    int operator()(SoundtrackJob* job) {
        JobObserver& ui = *job->observer;
        const PreviewRequest request = ui.previewRequest();
        {
            const std::lock_guard lock(mutex);
            requests.push_back(request);
        }
        ui.enableStart(false);
        for (int n = 1; n <= frames; ++n) {
            FramePreview preview = soundtrackFrame(n, n == 1 ? std::nullopt : std::optional(100.0));
            if (request.frames) {
                ui.framePreview(preview);
            }
            if (request.picturesPerSecond > 0 && n == frames) {
                ui.picturePreview(preview, cv::Mat(180, 240, CV_8UC3, cv::Scalar(90, 90, 90)));
            }
            ui.setLogText("Translating frame number : " + std::to_string(n) + "...\r\n");
        }
        ui.enableStart(true);
        return 0;
    }
};

class PreviewWindowTest : public testing::Test {
protected:
    PreviewWindowTest() {
        std::ofstream(frames / "frame_0001.tif") << "not read by the stand-in jobs";
        window = std::make_unique<CVeltranaMFCDlg>();
        window->setMessageBox([](QWidget*, const QString& text) {
            ADD_FAILURE() << "message: " << text.toStdString();
        });
        window->setFileDialog([this](QWidget*, const FileDialogRequest&) {
            return std::optional<QString>(
                QString::fromStdString((frames / "frame_0001.tif").string()));
        });
        window->setJobRunners(
            [this](SoundtrackJob* job) {
                soundtrack(job);
                return SoundtrackResult{};
            },
            [this](const FilmJob& job) {
                FramePreview frame = scanNumbers();
                frame.band.reset();
                if (job.observer->previewRequest().frames) {
                    job.observer->framePreview(frame);
                }
                return FilmResult{};
            });
        window->findChild<QAction*>("inputDirectoryAction")->trigger();
        window->show();
        QApplication::processEvents();
    }

    void runSoundtrack() {
        QTest::mouseClick(child<QPushButton>(*window, "startButton"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }));
        QApplication::processEvents();
    }
    PreviewPanel* panel() { return child<PreviewPanel>(*window, "previewPanel"); }
    QAction* toggle() { return window->findChild<QAction*>("previewAction"); }
    // where each of the window's own controls lies in it
    std::vector<QRect> controlPlaces() {
        std::vector<QRect> places;
        for (const char* name : {"logBox", "startEdit", "stopEdit", "progressBar", "startButton",
                                 "stopButton", "soundtrackBox", "filmBox"}) {
            const QWidget* control = child<QWidget>(*window, name);
            places.emplace_back(control->mapTo(window.get(), QPoint(0, 0)), control->size());
        }
        return places;
    }

    veltrana::test::TempDir homeDir;
    veltrana::test::TempDir frames;
    test::ScopedHome scopedHome{QString::fromStdString(homeDir.path().string())};
    test::ScopedCurrentFolder keepFolder;
    PreviewingSoundtrack soundtrack;
    std::unique_ptr<CVeltranaMFCDlg> window;
};

TEST_F(PreviewWindowTest, PanelIsShownBelowTheControlsByDefault) {
    ASSERT_NE(toggle(), nullptr);
    EXPECT_TRUE(toggle()->isCheckable());
    EXPECT_TRUE(toggle()->isChecked());
    EXPECT_TRUE(panel()->isVisible());
    const QWidget* progress = child<QWidget>(*window, "progressBar");
    const QWidget* process = child<QWidget>(*window, "stopButton")->parentWidget();
    EXPECT_GT(panel()->geometry().top(), progress->geometry().bottom());
    EXPECT_GT(panel()->geometry().top(), process->geometry().bottom());
    // as wide as the controls above it
    EXPECT_EQ(panel()->geometry().left(), child<QWidget>(*window, "logBox")->geometry().left());
    EXPECT_EQ(panel()->geometry().right(), process->geometry().right());

    const PreviewRequest request = window->previewRequest();
    EXPECT_TRUE(request.frames);
    EXPECT_DOUBLE_EQ(request.picturesPerSecond, 5.0);
}

TEST_F(PreviewWindowTest, HidingThePanelShrinksTheWindowAndLeavesTheControlsInPlace) {
    const std::vector<QRect> shownPlaces = controlPlaces();
    const QSize shownSize = window->size();

    toggle()->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(toggle()->isChecked());
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_EQ(window->width(), shownSize.width());
    EXPECT_LT(window->height(), shownSize.height() - 200);
    EXPECT_EQ(controlPlaces(), shownPlaces);
    const PreviewRequest request = window->previewRequest();
    EXPECT_FALSE(request.frames);
    EXPECT_DOUBLE_EQ(request.picturesPerSecond, 0.0);

    toggle()->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(window->size(), shownSize);
    EXPECT_EQ(controlPlaces(), shownPlaces);
    EXPECT_TRUE(window->previewRequest().frames);
}

TEST_F(PreviewWindowTest, ARunFillsThePanelAndTheNextStartClearsItFirst) {
    runSoundtrack();
    ASSERT_EQ(soundtrack.requests.size(), 1u);
    EXPECT_TRUE(soundtrack.requests[0].frames);
    EXPECT_EQ(panel()->framesShown(), 4);
    EXPECT_EQ(child<JoinPlot>(*window, "joinPlot")->points().size(), 3u);
    EXPECT_EQ(child<FramePictureView>(*window, "framePictureView")->frame(), 4);

    // a second run of two frames: the panel shows that run alone
    soundtrack.frames = 2;
    runSoundtrack();
    EXPECT_EQ(panel()->framesShown(), 2);
    EXPECT_EQ(child<JoinPlot>(*window, "joinPlot")->points().size(), 1u);
    EXPECT_EQ(child<WaveformView>(*window, "waveformView")->frameCount(), 2);
}

TEST_F(PreviewWindowTest, AHiddenPanelAsksTheRunForNothing) {
    toggle()->trigger();
    runSoundtrack();
    ASSERT_EQ(soundtrack.requests.size(), 1u);
    EXPECT_FALSE(soundtrack.requests[0].frames);
    EXPECT_DOUBLE_EQ(soundtrack.requests[0].picturesPerSecond, 0.0);
    EXPECT_EQ(panel()->framesShown(), 0);
}

TEST_F(PreviewWindowTest, PreviewsOfAnEarlierRunAreDropped) {
    runSoundtrack();
    // a preview still on its way when the next Start clears the panel
    window->framePreview(soundtrackFrame(9, 100.0));
    soundtrack.frames = 1;
    runSoundtrack();
    EXPECT_EQ(panel()->framesShown(), 1);
    EXPECT_TRUE(child<JoinPlot>(*window, "joinPlot")->points().empty());
}

TEST_F(PreviewWindowTest, FilmRunClearsThePanelForItsCuts) {
    runSoundtrack();
    test::clickBox(child<QCheckBox>(*window, "filmBox"));
    QTest::mouseClick(child<QPushButton>(*window, "startButton"), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(panel()->framesShown(), 1);
    EXPECT_TRUE(child<JoinPlot>(*window, "joinPlot")->points().empty());
    EXPECT_EQ(child<WaveformView>(*window, "waveformView")->frameCount(), 0);
}

} // namespace
} // namespace veltrana::ui
