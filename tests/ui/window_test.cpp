// The main window with stand-in jobs: defaults, menu, the file choices, the
// Start checks and their messages, the job boxes, Stop, and how the window and
// a job's thread meet (Start disabled before the worker, every update carried
// out before the job goes on, closing during a run, input blocked during the
// film).

#include "ui/film_parameters.h"
#include "ui/movie_parameters.h"
#include "ui/sound_parameters.h"
#include "ui/ui_test_support.h"
#include "ui/veltrana_mfc_dlg.h"

#include "support/test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

namespace veltrana::ui {
namespace {

using test::child;
using test::clickBox;
using test::waitUntil;

const QString kStartFrameZero = "Start frame can't have 0 value";
const QString kStopBeforeStart = "Stop frame can't have lower value than start frame";
const QString kNoInput = "Input directory has no tif files!!!";

// A stand-in soundtrack job. It behaves like the real one towards the window
// (Start disabled at its start and enabled at its end, Stop enabled after a
// stop) and runs, one log line per round, until it is released or stopped.
struct FakeSoundtrack {
    std::atomic<int> runs{0};
    std::atomic<int> rounds{0};
    std::atomic<bool> release{false};
    std::atomic<bool> running{false};
    std::atomic<bool> stopSeenAtStart{false};
    std::atomic<bool> stopped{false};

    int operator()(SoundtrackJob* job) {
        running = true;
        ++runs;
        stopSeenAtStart = job->stopRequested->load();
        JobObserver& ui = *job->observer;
        ui.enableStart(false);
        while (!release) {
            if (job->stopRequested->load()) {
                stopped = true;
                ui.setLogText("Operation stopped !!!!\r\n");
                ui.enableStart(true);
                ui.enableStop(true);
                running = false;
                return 0;
            }
            ++rounds;
            ui.setLogText("round " + std::to_string(rounds.load()) + "\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ui.setLogText("Pictures were tranlated succesfully!\r\n");
        ui.enableStart(true);
        running = false;
        return 0;
    }
};

class MainWindowTest : public testing::Test {
protected:
    MainWindowTest() {
        std::ofstream(frames / "frame_0001.tif") << "not read by the stand-in jobs";
        window = std::make_unique<CVeltranaMFCDlg>();
        window->setMessageBox([this](QWidget*, const QString& text) { messages << text; });
        // a question would wait for a person: the tests that ask one answer it
        window->setQuestionBox([](QWidget*, const QString&) { return true; });
        window->setFileDialog([this](QWidget*, const FileDialogRequest& request) {
            requests.push_back(request);
            std::optional<QString> answer;
            if (!answers.empty()) {
                answer = answers.front();
                answers.erase(answers.begin());
            }
            return answer;
        });
        window->setJobRunners(
            [this](SoundtrackJob* job) {
                (*soundtrack)(job);
                return SoundtrackResult{};
            },
            [this](const FilmJob& job) {
                filmJobs.push_back(job);
                return film(job);
            });
        window->show();
    }
    ~MainWindowTest() override {
        soundtrack->release = true;
        window.reset();
    }

    QString home() const { return QString::fromStdString(homeDir.path().string()); }
    QString scan() const { return QString::fromStdString((frames / "frame_0001.tif").string()); }

    void chooseInput(const QString& path) {
        answers.push_back(path);
        window->findChild<QAction*>("inputDirectoryAction")->trigger();
    }
    void chooseOutput(const QString& path) {
        answers.push_back(path);
        window->findChild<QAction*>("outputDirectoryAction")->trigger();
    }
    void cancelInput() { window->findChild<QAction*>("inputDirectoryAction")->trigger(); }
    void cancelOutput() { window->findChild<QAction*>("outputDirectoryAction")->trigger(); }
    void setRange(const QString& start, const QString& stop) {
        startEdit()->setText(start);
        stopEdit()->setText(stop);
    }
    void pressStart() { QTest::mouseClick(startButton(), Qt::LeftButton); }
    void finishRun() {
        soundtrack->release = true;
        ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }));
    }

    QPushButton* startButton() { return child<QPushButton>(*window, "startButton"); }
    QPushButton* stopButton() { return child<QPushButton>(*window, "stopButton"); }
    QLineEdit* startEdit() { return child<QLineEdit>(*window, "startEdit"); }
    QLineEdit* stopEdit() { return child<QLineEdit>(*window, "stopEdit"); }
    QCheckBox* soundtrackBox() { return child<QCheckBox>(*window, "soundtrackBox"); }
    QCheckBox* filmBox() { return child<QCheckBox>(*window, "filmBox"); }
    QPlainTextEdit* logBox() { return child<QPlainTextEdit>(*window, "logBox"); }
    QProgressBar* progressBar() { return child<QProgressBar>(*window, "progressBar"); }

    veltrana::test::TempDir homeDir;
    veltrana::test::TempDir frames;
    test::ScopedHome scopedHome{QString::fromStdString(homeDir.path().string())};
    QStringList messages;
    std::vector<FileDialogRequest> requests;
    std::vector<QString> answers;
    std::unique_ptr<FakeSoundtrack> soundtrack = std::make_unique<FakeSoundtrack>();
    std::function<FilmResult(const FilmJob&)> film = [](const FilmJob&) { return FilmResult{}; };
    std::vector<FilmJob> filmJobs;
    std::unique_ptr<CVeltranaMFCDlg> window;
};

// ---- what the window starts with ----

TEST_F(MainWindowTest, StartsWithTheDefaults) {
    EXPECT_EQ(window->windowTitle(), "VeltranaMFC");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(startEdit()->text(), "1");
    EXPECT_EQ(stopEdit()->text(), "2");
    EXPECT_TRUE(soundtrackBox()->isChecked());
    EXPECT_FALSE(filmBox()->isChecked());
    EXPECT_TRUE(startButton()->isEnabled());
    EXPECT_TRUE(startButton()->isDefault());
    EXPECT_TRUE(stopButton()->isEnabled());
    EXPECT_TRUE(logBox()->toPlainText().isEmpty());
    EXPECT_TRUE(logBox()->isReadOnly());
    EXPECT_EQ(progressBar()->value(), 0);
    // both paths start at the home folder, which is no file: nothing chosen yet
    EXPECT_EQ(window->currentInputPath(), home());
    EXPECT_EQ(window->currentOutputPath(), home());

    const FilmParameterValues film = window->findChild<FilmParameters*>()->values();
    EXPECT_EQ(film.soundtrackTypeIndex, 0);
    EXPECT_EQ(film.filmSpeedIndex, 1);
    EXPECT_EQ(film.longStrip, 0);
    EXPECT_EQ(film.manualResolution, 0);
    EXPECT_EQ(film.trackSide, TrackSide::Top);
    EXPECT_EQ(film.fullAperture, 0);
    EXPECT_TRUE(film.resolutionXText.isEmpty());
    EXPECT_TRUE(film.resolutionYText.isEmpty());
    const SoundParameterValues sound = window->findChild<SoundParameters*>()->values();
    EXPECT_EQ(sound.colorElementIndex, 2);
    EXPECT_EQ(sound.removeDc, 1);
    EXPECT_EQ(sound.crossfade, 1);
    EXPECT_EQ(sound.inverse, 0);
    EXPECT_FALSE(sound.cutByAnalysis);
    EXPECT_FALSE(sound.archival);
    EXPECT_EQ(sound.bitDepthIndex, 0);
    EXPECT_EQ(sound.sampleRateIndex, 0);
    const MovieParameterValues movie = window->findChild<MovieParameters*>()->values();
    EXPECT_EQ(movie.newSizeText, "100");
    EXPECT_EQ(movie.compressionIndex, 0);
    EXPECT_EQ(movie.cutSoundtrack, 0);
}

TEST_F(MainWindowTest, MenuHoldsTheCommandsInOrder) {
    auto* bar = window->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    QStringList layout;
    for (QAction* menu : bar->actions()) {
        QStringList items;
        for (QAction* item : menu->menu()->actions()) {
            items << (item->isSeparator() ? QStringLiteral("-") : item->text());
        }
        layout << menu->text() + ": " + items.join(QStringLiteral(", "));
    }
    EXPECT_EQ(layout,
              QStringList({"File: Input Directory, Output Directory, -, Close",
                           "Options: Film Parameters, -, Sound Parameters, Movie Parameters, -, "
                           "Preview Panel",
                           "Help: Info"}));
}

TEST_F(MainWindowTest, FrameNumberEditsTakeAReelsFrameNumbers) {
    for (QLineEdit* edit : {startEdit(), stopEdit()}) {
        edit->clear();
        QTest::keyClicks(edit, "-4x56");
        EXPECT_EQ(edit->text(), "456");
        edit->clear();
        QTest::keyClicks(edit, "1500");
        EXPECT_EQ(edit->text(), "1500");
        edit->clear();
        QTest::keyClicks(edit, "123456789");
        EXPECT_EQ(edit->text(), "1234567");
    }
}

TEST_F(MainWindowTest, WholeFolderFillsTheRangeFromTheFolder) {
    for (int f = 2; f <= 1500; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%04d.tif", f);
        std::ofstream(frames / name) << "not read";
    }
    chooseInput(scan());
    setRange("1", "2");
    QTest::mouseClick(child<QPushButton>(*window, "wholeFolderButton"), Qt::LeftButton);
    EXPECT_EQ(startEdit()->text(), "1");
    EXPECT_EQ(stopEdit()->text(), "1500");
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindowTest, ShowsTheScansFolderItsCountAndTheOutput) {
    QLabel* paths = child<QLabel>(*window, "pathsLabel");
    std::ofstream(frames / "frame_0002.tif") << "not read";
    chooseInput(scan());
    EXPECT_TRUE(
        paths->text().contains(QString::fromStdString(frames.path().string()) + " (2 scans)"))
        << paths->text().toStdString();
    chooseOutput(QDir(home()).filePath("reel.wav"));
    EXPECT_TRUE(paths->toolTip().endsWith("Output: " + QDir(home()).filePath("reel.wav")))
        << paths->toolTip().toStdString();
}

TEST_F(MainWindowTest, WholeFolderWithoutAnInputSaysWhy) {
    chooseInput(QString::fromStdString((frames / "none" / "frame_0001.tif").string()));
    setRange("1", "2");
    QTest::mouseClick(child<QPushButton>(*window, "wholeFolderButton"), Qt::LeftButton);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(stopEdit()->text(), "2");
}

// ---- the two job boxes ----

TEST_F(MainWindowTest, JobBoxesExcludeEachOther) {
    clickBox(filmBox());
    EXPECT_TRUE(filmBox()->isChecked());
    EXPECT_FALSE(soundtrackBox()->isChecked());
    clickBox(soundtrackBox());
    EXPECT_TRUE(soundtrackBox()->isChecked());
    EXPECT_FALSE(filmBox()->isChecked());
    // clearing a box leaves the other one as it is
    clickBox(soundtrackBox());
    EXPECT_FALSE(soundtrackBox()->isChecked());
    EXPECT_FALSE(filmBox()->isChecked());

    // with both clear Start only checks
    chooseInput(scan());
    pressStart();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(soundtrack->runs, 0);
    EXPECT_TRUE(filmJobs.empty());
    setRange("0", "2");
    pressStart();
    EXPECT_EQ(messages, QStringList({kStartFrameZero}));
}

// ---- the Start checks ----

struct StartCheck {
    const char* name;
    const char* start;
    const char* stop;
    bool inputChosen;
    std::vector<QString> expected; // messages in order; none: the job starts
};

class StartChecks : public MainWindowTest, public testing::WithParamInterface<StartCheck> {};

TEST_P(StartChecks, ShowTheirMessagesInOrderAndStartOnlyWhenAllPass) {
    const StartCheck& row = GetParam();
    if (row.inputChosen) {
        chooseInput(scan());
    }
    setRange(row.start, row.stop);
    pressStart();
    EXPECT_EQ(messages, QStringList(row.expected.begin(), row.expected.end()));
    if (row.expected.empty()) {
        ASSERT_TRUE(waitUntil([&] { return soundtrack->runs == 1; }));
        EXPECT_EQ(window->soundtrackJob().startFrame, QString(row.start).toInt());
        EXPECT_EQ(window->soundtrackJob().stopFrame, QString(row.stop).toInt());
        finishRun();
    } else {
        EXPECT_FALSE(window->soundtrackRunning());
        EXPECT_EQ(soundtrack->runs, 0);
        EXPECT_TRUE(startButton()->isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartChecks,
    testing::Values(
        StartCheck{"StartZero", "0", "2", true, {kStartFrameZero}},
        StartCheck{"StartZeroWithoutInput", "0", "2", false, {kStartFrameZero, kNoInput}},
        StartCheck{"StopBelowStartWithoutInput", "5", "3", false, {kStopBeforeStart, kNoInput}},
        StartCheck{"AllThree", "0", "", false, {kStartFrameZero, kNoInput}},
        StartCheck{"EmptyStartIsZero", "", "2", true, {kStartFrameZero}},
        StartCheck{"EmptyStopIsZero", "1", "", true, {kStopBeforeStart}},
        StartCheck{"NoInput", "1", "2", false, {kNoInput}},
        StartCheck{"EqualNumbers", "7", "7", true, {}},
        StartCheck{"LargestRange", "1", "99", true, {}}),
    [](const testing::TestParamInfo<StartCheck>& info) { return std::string(info.param.name); });

// ---- input and output ----

// Any scan stands for its folder: TIFF, DPX or OpenEXR.
const QStringList kScanFilters = {"Soundtrack Scans (*.tif *.tiff *.dpx *.exr)",
                                  "Soundtrack Tif Files (*.tif)", "Soundtrack DPX Files (*.dpx)",
                                  "Soundtrack OpenEXR Files (*.exr)"};

TEST_F(MainWindowTest, InputDialogOffersScanFilesAndCancelBringsBackTheLastChoice) {
    cancelInput();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].save);
    EXPECT_EQ(requests[0].defaultSuffix, "tif");
    EXPECT_TRUE(requests[0].defaultFileName.isEmpty());
    EXPECT_EQ(requests[0].nameFilters, kScanFilters);
    EXPECT_EQ(requests[0].initialPath, home());
    // cancelled at the first use: still no input
    EXPECT_EQ(window->currentInputPath(), home());
    pressStart();
    EXPECT_EQ(messages, QStringList({kNoInput}));

    chooseInput(scan());
    EXPECT_EQ(window->currentInputPath(), scan());
    cancelInput();
    EXPECT_EQ(requests.back().initialPath, scan());
    EXPECT_EQ(window->currentInputPath(), scan());
}

TEST_F(MainWindowTest, InputNamedButMissingIsTakenAndThenRefusedAtStart) {
    const QString missing = QDir(home()).filePath("no_such_frame.tif");
    chooseInput(missing);
    EXPECT_EQ(window->currentInputPath(), missing);
    pressStart();
    EXPECT_EQ(messages, QStringList({kNoInput}));
    EXPECT_EQ(soundtrack->runs, 0);
}

TEST_F(MainWindowTest, OutputDialogOffersWavAndMovieFilesNamedSound) {
    cancelOutput();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].save);
    EXPECT_EQ(requests[0].defaultSuffix, "wav");
    EXPECT_EQ(requests[0].defaultFileName, "sound");
    EXPECT_EQ(requests[0].nameFilters, QStringList({"Wav Files (*.wav)", "Avi Files (*.avi)",
                                                    "Mp4 Files (*.mp4)", "Mkv Files (*.mkv)"}));
    EXPECT_EQ(requests[0].initialPath, home());

    const QString chosen = QDir(home()).filePath("take1.avi");
    chooseOutput(chosen);
    EXPECT_EQ(window->currentOutputPath(), chosen);
    cancelOutput();
    EXPECT_EQ(window->currentOutputPath(), chosen);
}

TEST_F(MainWindowTest, NoOutputChosenMeansSoundWavInTheHomeFolder) {
    const QString fallback = QDir(home()).filePath("sound.wav");
    // also when the checks fail, and it stays for later starts
    setRange("0", "2");
    pressStart();
    EXPECT_EQ(window->currentOutputPath(), fallback);

    cancelOutput(); // the last choice confirmed is still "none"
    EXPECT_EQ(window->currentOutputPath(), home());
    chooseInput(scan());
    setRange("1", "2");
    pressStart();
    EXPECT_EQ(window->currentOutputPath(), fallback);
    ASSERT_TRUE(waitUntil([&] { return soundtrack->runs == 1; }));
    EXPECT_EQ(window->soundtrackJob().outputPath, fallback.toStdString());
    finishRun();

    // a chosen output is used as it is, however short its file name
    const QString chosen = QDir(home()).filePath("a.w");
    chooseOutput(chosen);
    pressStart();
    EXPECT_EQ(window->currentOutputPath(), chosen);
    finishRun();

    // but a whole path of fewer than 7 characters counts as none chosen
    chooseOutput("/a.wav");
    pressStart();
    EXPECT_EQ(window->currentOutputPath(), fallback);
    finishRun();
}

// The window's own file dialogs, not stand-ins: what they offer and take.
class RealFileDialogs : public testing::Test {
protected:
    QString home() const { return QString::fromStdString(homeDir.path().string()); }
    // Opens the dialog of `action`, checks it and closes it with `answer`
    // (a path to accept, or nothing to cancel).
    void useDialog(const char* action, const std::function<void(QFileDialog&)>& check,
                   std::optional<QString> answer) {
        bool seen = false;
        test::whenModalOpens([&](QWidget& dialog) {
            auto* files = qobject_cast<QFileDialog*>(&dialog);
            seen = files != nullptr;
            if (files == nullptr) {
                dialog.close();
                return;
            }
            check(*files);
            if (answer) {
                // typed into the name field, then Enter, as a person does
                auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                ASSERT_NE(name, nullptr);
                name->setText(*answer);
                QTest::keyClick(name, Qt::Key_Return);
            } else {
                files->reject();
            }
        });
        window.findChild<QAction*>(action)->trigger();
        EXPECT_TRUE(seen);
    }

    veltrana::test::TempDir homeDir;
    test::ScopedHome scopedHome{QString::fromStdString(homeDir.path().string())};
    CVeltranaMFCDlg window;
};

TEST_F(RealFileDialogs, InputOffersScanFilesAndTakesANameOfAMissingFile) {
    useDialog(
        "inputDirectoryAction",
        [&](QFileDialog& dialog) {
            EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
            EXPECT_EQ(dialog.nameFilters(), kScanFilters);
            EXPECT_EQ(dialog.defaultSuffix(), "tif");
            EXPECT_EQ(dialog.directory().absolutePath(), QDir(home()).absolutePath());
        },
        QStringLiteral("frame_0001"));
    EXPECT_EQ(window.currentInputPath(), QDir(home()).filePath("frame_0001.tif"));

    useDialog(
        "inputDirectoryAction", [](QFileDialog&) {}, std::nullopt);
    EXPECT_EQ(window.currentInputPath(), QDir(home()).filePath("frame_0001.tif"));
}

TEST_F(RealFileDialogs, OutputProposesSoundAndReplacesAFileWithoutAQuestion) {
    const QString existing = QDir(home()).filePath("sound.wav");
    std::ofstream(existing.toStdString()) << "an earlier take";
    useDialog(
        "outputDirectoryAction",
        [&](QFileDialog& dialog) {
            EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(dialog.nameFilters(),
                      QStringList({"Wav Files (*.wav)", "Avi Files (*.avi)", "Mp4 Files (*.mp4)",
                                   "Mkv Files (*.mkv)"}));
            EXPECT_EQ(dialog.defaultSuffix(), "wav");
            EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            EXPECT_EQ(name->text(), "sound");
        },
        QStringLiteral("sound"));
    EXPECT_EQ(window.currentOutputPath(), existing);
}

// ---- the option dialogs, opened from the menu ----

TEST_F(MainWindowTest, TheTrackSideAndFullApertureReachTheJob) {
    test::whenModalOpens([](QWidget& dialog) {
        clickBox(child<QCheckBox>(dialog, "rightBox"));
        clickBox(child<QCheckBox>(dialog, "fullApertureBox"));
        child<QPushButton>(dialog, "okButton")->click();
    });
    window->findChild<QAction*>("filmParametersAction")->trigger();
    chooseInput(scan());
    setRange("1", "2");
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return soundtrack->runs == 1; }));
    EXPECT_EQ(window->soundtrackJob().trackSide, TrackSide::Right);
    EXPECT_TRUE(window->soundtrackJob().fullAperture);
    finishRun();
}

TEST_F(MainWindowTest, OptionDialogsKeepTheirValuesAndStartCopiesThem) {
    // Film Parameters: 16 mm, 24 fps, long strip, manual 1200 x 2400, DOWN
    test::whenModalOpens([](QWidget& dialog) {
        child<QComboBox>(dialog, "soundtrackTypeList")->setCurrentIndex(2);
        child<QComboBox>(dialog, "filmSpeedList")->setCurrentIndex(0);
        clickBox(child<QCheckBox>(dialog, "longStripBox"));
        clickBox(child<QCheckBox>(dialog, "manualResolutionBox"));
        child<QLineEdit>(dialog, "resolutionXEdit")->setText("1200");
        child<QLineEdit>(dialog, "resolutionYEdit")->setText("2400");
        clickBox(child<QCheckBox>(dialog, "downBox"));
        child<QPushButton>(dialog, "okButton")->click();
    });
    window->findChild<QAction*>("filmParametersAction")->trigger();
    // Sound Parameters: G, no -DC, no crossfade, inverse, cut by analysis,
    // archival quality at 24 bits and 96000 Hz
    test::whenModalOpens([](QWidget& dialog) {
        child<QComboBox>(dialog, "colorElementList")->setCurrentIndex(1);
        clickBox(child<QCheckBox>(dialog, "removeDcBox"));
        clickBox(child<QCheckBox>(dialog, "crossfadeBox"));
        clickBox(child<QCheckBox>(dialog, "inverseBox"));
        clickBox(child<QCheckBox>(dialog, "cutByAnalysisBox"));
        clickBox(child<QCheckBox>(dialog, "archivalBox"));
        child<QComboBox>(dialog, "sampleRateList")->setCurrentIndex(3);
        child<QPushButton>(dialog, "okButton")->click();
    });
    window->findChild<QAction*>("soundParametersAction")->trigger();

    // the next opening shows what was stored
    bool shownAgain = false;
    test::whenModalOpens([&](QWidget& dialog) {
        shownAgain = child<QComboBox>(dialog, "soundtrackTypeList")->currentIndex() == 2 &&
                     child<QLineEdit>(dialog, "resolutionXEdit")->text() == "1200" &&
                     child<QCheckBox>(dialog, "downBox")->isChecked();
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    window->findChild<QAction*>("filmParametersAction")->trigger();
    EXPECT_TRUE(shownAgain);

    chooseInput(scan());
    setRange("3", "9");
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return soundtrack->runs == 1; }));
    const SoundtrackJob& job = window->soundtrackJob();
    EXPECT_EQ(job.observer, window.get());
    EXPECT_EQ(job.inputPath, scan().toStdString());
    EXPECT_EQ(job.startFrame, 3);
    EXPECT_EQ(job.stopFrame, 9);
    EXPECT_EQ(job.soundtrackType, SoundtrackType::VariableArea16);
    EXPECT_EQ(job.resolutionX, 1200);
    EXPECT_EQ(job.resolutionY, 2400);
    EXPECT_EQ(job.filmSpeed, 24);
    EXPECT_EQ(job.colorElement, ColorElement::G);
    EXPECT_TRUE(job.longStrip);
    EXPECT_FALSE(job.crossfade);
    EXPECT_FALSE(job.removeDc);
    EXPECT_TRUE(job.inverse);
    EXPECT_TRUE(job.manualResolution);
    EXPECT_TRUE(job.cutByAnalysis);
    EXPECT_EQ(job.trackSide, TrackSide::Bottom);
    EXPECT_TRUE(job.archivalLevels);
    EXPECT_TRUE(job.preciseJoins);
    EXPECT_EQ(job.bitsPerSample, 24);
    EXPECT_EQ(job.outputRate, 96000);
    EXPECT_EQ(job.threads, 0);
    EXPECT_FALSE(soundtrack->stopSeenAtStart);
    finishRun();
}

TEST_F(MainWindowTest, DefaultSettingsStartTheStandardSound) {
    chooseInput(scan());
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return soundtrack->runs == 1; }));
    const SoundtrackJob& job = window->soundtrackJob();
    EXPECT_FALSE(job.archivalLevels);
    EXPECT_FALSE(job.preciseJoins);
    EXPECT_EQ(job.bitsPerSample, 8);
    EXPECT_EQ(job.outputRate, 0);
    EXPECT_EQ(job.threads, 0);
    EXPECT_TRUE(writesStandardSound(job));
    finishRun();
}

TEST_F(MainWindowTest, BitDepthAndRateWithoutArchivalQualityKeepTheStandardJoins) {
    test::whenModalOpens([](QWidget& dialog) {
        child<QComboBox>(dialog, "bitDepthList")->setCurrentIndex(1);
        child<QComboBox>(dialog, "sampleRateList")->setCurrentIndex(1);
        child<QPushButton>(dialog, "okButton")->click();
    });
    window->findChild<QAction*>("soundParametersAction")->trigger();
    chooseInput(scan());
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return soundtrack->runs == 1; }));
    const SoundtrackJob& job = window->soundtrackJob();
    EXPECT_FALSE(job.archivalLevels);
    EXPECT_FALSE(job.preciseJoins);
    EXPECT_EQ(job.bitsPerSample, 16);
    EXPECT_EQ(job.outputRate, 44100);
    finishRun();
}

TEST_F(MainWindowTest, InfoBoxOpensFreshEachTime) {
    for (int opening = 0; opening < 2; ++opening) {
        int labels = -1;
        QString caption;
        test::whenModalOpens([&](QWidget& box) {
            labels = static_cast<int>(box.findChildren<QLabel*>().size());
            caption = box.windowTitle();
            child<QPushButton>(box, "closeButton")->click();
        });
        window->findChild<QAction*>("infoAction")->trigger();
        EXPECT_EQ(labels, 1);
        EXPECT_EQ(caption, "Info");
    }
}

TEST_F(MainWindowTest, CloseCommandClosesTheWindow) {
    window->findChild<QAction*>("closeAction")->trigger();
    EXPECT_TRUE(waitUntil([&] { return !window->isVisible(); }));
}

// ---- Start, Stop and the worker ----

TEST_F(MainWindowTest, StartIsDisabledBeforeTheWorkerRunsAndNoSecondStartGetsThrough) {
    chooseInput(scan());
    pressStart();
    // at once, before the worker has said anything
    EXPECT_FALSE(startButton()->isEnabled());
    EXPECT_TRUE(window->soundtrackRunning());
    ASSERT_TRUE(waitUntil([&] { return soundtrack->rounds > 0; }));

    // neither the button nor Enter starts another run over the record, and
    // Enter does not stop the run either, also where the focus went to Stop
    setRange("4", "5");
    startButton()->click();
    startEdit()->setFocus();
    QTest::keyClick(startEdit(), Qt::Key_Return);
    stopButton()->setFocus();
    QTest::keyClick(stopButton(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(soundtrack->runs, 1);
    EXPECT_EQ(window->soundtrackJob().startFrame, 1);
    EXPECT_FALSE(window->soundtrackJob().stopRequested->load());

    finishRun();
    EXPECT_TRUE(startButton()->isEnabled());
    EXPECT_EQ(logBox()->toPlainText(), "Pictures were tranlated succesfully!");
    // and the next Start runs again
    pressStart();
    EXPECT_TRUE(waitUntil([&] { return soundtrack->runs == 2; }));
    finishRun();
}

TEST_F(MainWindowTest, EnterInAFrameNumberEditPressesStart) {
    chooseInput(scan());
    setRange("2", "");
    QTest::keyClick(stopEdit(), Qt::Key_Return);
    EXPECT_EQ(messages, QStringList({kStopBeforeStart}));
    stopEdit()->setText("4");
    QTest::keyClick(stopEdit(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return soundtrack->runs == 1; }));
    EXPECT_EQ(window->soundtrackJob().stopFrame, 4);
    finishRun();
}

TEST_F(MainWindowTest, StopWhileIdleDoesNotStopTheNextRun) {
    QTest::mouseClick(stopButton(), Qt::LeftButton);
    EXPECT_FALSE(stopButton()->isEnabled());
    EXPECT_TRUE(window->soundtrackJob().stopRequested->load());

    chooseInput(scan());
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return soundtrack->rounds > 3; }));
    EXPECT_FALSE(soundtrack->stopSeenAtStart);
    EXPECT_FALSE(soundtrack->stopped);
    // and this run can be stopped
    EXPECT_TRUE(stopButton()->isEnabled());
    QTest::mouseClick(stopButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }));
    EXPECT_TRUE(soundtrack->stopped);
    EXPECT_EQ(logBox()->toPlainText(), "Operation stopped !!!!");
    EXPECT_TRUE(startButton()->isEnabled());
    EXPECT_TRUE(stopButton()->isEnabled());
}

// A job that reports through every observer call and checks, after each, that
// the window already shows it: the calls are carried out before it goes on.
TEST_F(MainWindowTest, EveryUpdateIsShownBeforeTheJobGoesOn) {
    std::mutex mutex;
    std::vector<std::string> failures;
    auto fail = [&](const std::string& what) {
        const std::lock_guard lock(mutex);
        failures.push_back(what);
    };
    // what the window shows, read on its own thread
    std::atomic<int> shownValue{-1};
    QString shownLog;
    QObject::connect(progressBar(), &QProgressBar::valueChanged, [&](int v) { shownValue = v; });
    QObject::connect(logBox(), &QPlainTextEdit::textChanged, [&] {
        const std::lock_guard lock(mutex);
        shownLog = logBox()->toPlainText();
    });
    window->setJobRunners(
        [&](SoundtrackJob* job) {
            JobObserver& ui = *job->observer;
            ui.setProgressRange(4);
            ui.setProgressStep(1);
            for (int i = 1; i <= 4; ++i) {
                const std::string line = "line " + std::to_string(i);
                ui.setLogText(line + "\r\n");
                {
                    const std::lock_guard lock(mutex);
                    if (shownLog != QString::fromStdString(line)) {
                        failures.push_back("log not shown: " + line);
                    }
                }
                ui.stepProgress();
                if (shownValue != i) {
                    fail("step " + std::to_string(i) + " not shown");
                }
            }
            ui.setProgressPosition(0);
            if (shownValue != 0) {
                fail("position 0 not shown");
            }
            ui.enableStart(true);
            return SoundtrackResult{};
        },
        [](const FilmJob&) { return FilmResult{}; });
    chooseInput(scan());
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }));
    EXPECT_EQ(failures, std::vector<std::string>{});
    EXPECT_EQ(progressBar()->maximum(), 4);
    EXPECT_TRUE(startButton()->isEnabled());
}

TEST_F(MainWindowTest, ClosingDuringARunStopsItAndWaitsForTheWorker) {
    chooseInput(scan());
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return soundtrack->rounds > 3; }));
    window->close();
    EXPECT_FALSE(window->isVisible());
    // the worker has ended before close returned
    EXPECT_FALSE(window->soundtrackRunning());
    EXPECT_FALSE(soundtrack->running);
    EXPECT_TRUE(soundtrack->stopped);
}

// The hardest moment: the worker waits for the window's thread, which closes
// the window from inside that very update.
TEST_F(MainWindowTest, ClosingFromInsideAnUpdateDoesNotDeadlock) {
    bool closed = false;
    QObject::connect(logBox(), &QPlainTextEdit::textChanged, [&] {
        if (!closed && logBox()->toPlainText() == "round 2") {
            closed = true;
            window->close();
        }
    });
    chooseInput(scan());
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_FALSE(window->soundtrackRunning());
    EXPECT_TRUE(soundtrack->stopped);
    EXPECT_EQ(soundtrack->rounds, 2) << "the stop came before the next round";
    // updates still queued from that worker change nothing any more
    QApplication::processEvents();
    EXPECT_EQ(logBox()->toPlainText(), "round 2");
}

TEST_F(MainWindowTest, DestroyingTheWindowDuringARunWaitsForTheWorker) {
    chooseInput(scan());
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return soundtrack->rounds > 3; }));
    window.reset();
    EXPECT_FALSE(soundtrack->running);
    EXPECT_TRUE(soundtrack->stopped);
}

TEST_F(MainWindowTest, AJobThatBrokeOffLeavesTheWindowReadyForTheNextStart) {
    // the jobs end every run themselves, an exception included (the job
    // tests show that); the window only shows what they said
    window->setJobRunners(
        [](SoundtrackJob* job) -> SoundtrackResult {
            job->observer->enableStart(false);
            job->observer->setProgressRange(5);
            job->observer->stepProgress();
            job->observer->setProgressPosition(0);
            job->observer->setLogText("The run ended on an error: insufficient memory");
            job->observer->enableStart(true);
            job->observer->enableStop(true);
            return {};
        },
        [](const FilmJob& job) -> FilmResult {
            job.observer->setLogText("The run ended on an error: std::bad_alloc");
            job.observer->enableStart(true);
            FilmResult failed;
            failed.end = JobEnd::Error;
            failed.message = "The run ended on an error: std::bad_alloc";
            return failed;
        });
    chooseInput(scan());
    QTest::mouseClick(stopButton(), Qt::LeftButton);
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return !window->soundtrackRunning(); }));
    EXPECT_EQ(logBox()->toPlainText(), "The run ended on an error: insufficient memory");
    EXPECT_EQ(progressBar()->value(), 0);
    EXPECT_TRUE(startButton()->isEnabled());
    EXPECT_TRUE(stopButton()->isEnabled());

    clickBox(filmBox());
    pressStart();
    EXPECT_TRUE(logBox()->toPlainText().startsWith("The run ended on an error: "));
    EXPECT_TRUE(startButton()->isEnabled());
}

TEST_F(MainWindowTest, LogShowsTheNewestLineWhenLongLinesWrapPastTheBox) {
    std::string text;
    for (int i = 1; i <= 6; ++i) {
        text += "Could not write the sound to /a/rather/long/folder/name/that/wraps/" +
                std::to_string(i) + "/sound.wav: cannot create a file there\r\n";
    }
    window->setLogText(text);
    QScrollBar* bar = logBox()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0) << "the lines wrap past the box";
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(logBox()->toPlainText().endsWith("/6/sound.wav: cannot create a file there"));
}

// ---- the film job ----

TEST_F(MainWindowTest, StopStopsAFilmRun) {
    std::atomic<bool> stopSeen{false};
    film = [&](const FilmJob& job) {
        job.observer->setLogText("Cutting frame number : 1...\r\n");
        for (int waited = 0; !job.stopAsked() && waited < 30'000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stopSeen = job.stopAsked();
        return FilmResult{};
    };
    clickBox(filmBox());
    chooseInput(scan());
    setRange("1", "2");
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(waitUntil([&] { return logBox()->toPlainText().startsWith("Cutting"); }));
        QTest::mouseClick(stopButton(), Qt::LeftButton);
    });
    startButton()->click();
    EXPECT_TRUE(stopSeen);
    // ready for the next run, which can be stopped too
    EXPECT_TRUE(stopButton()->isEnabled());
}

TEST_F(MainWindowTest, FilmRunsWithInputBlockedAndStartReturnsWhenItIsDone) {
    std::atomic<bool> filmDone{false};
    std::atomic<bool> inputTried{false};
    film = [&](const FilmJob& job) {
        job.observer->enableStart(false);
        job.observer->setLogText("Cutting frame number : 1...\r\n");
        // wait until the test has tried to use the window
        for (int waited = 0; !inputTried && waited < 30'000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        job.observer->setProgressPosition(0);
        job.observer->setLogText(
            "Cutting frame number : 1...\r\nPictures were cut succesfully!\r\n");
        job.observer->enableStart(true);
        filmDone = true;
        return FilmResult{};
    };
    clickBox(filmBox());
    chooseInput(scan());
    setRange("3", "7");
    // while the film runs: a click on a box, Escape, a click on Stop (which
    // this job does not heed), a close, typing
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(waitUntil([&] { return logBox()->toPlainText().startsWith("Cutting"); }));
        clickBox(soundtrackBox());
        QTest::keyClick(startEdit(), Qt::Key_Escape);
        QTest::mouseClick(stopButton(), Qt::LeftButton);
        window->close();
        QTest::keyClicks(startEdit(), "9");
        inputTried = true;
    });

    // a plain click: the timer above must fire inside the run, not before
    startButton()->click();

    // Start came back only when the film was done
    EXPECT_TRUE(filmDone);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(soundtrackBox()->isChecked());
    EXPECT_TRUE(filmBox()->isChecked());
    EXPECT_TRUE(stopButton()->isEnabled());
    EXPECT_EQ(startEdit()->text(), "3");
    EXPECT_EQ(logBox()->toPlainText(),
              "Cutting frame number : 1...\nPictures were cut succesfully!");
    EXPECT_TRUE(startButton()->isEnabled());
    // and the window takes input again
    clickBox(soundtrackBox());
    EXPECT_TRUE(soundtrackBox()->isChecked());
}

TEST_F(MainWindowTest, FilmJobGetsTheSettingsOfTheThreeDialogs) {
    FilmParameterValues filmValues;
    filmValues.soundtrackTypeIndex = 1;
    filmValues.longStrip = 1;
    filmValues.manualResolution = 1;
    filmValues.resolutionXText = "1500";
    filmValues.resolutionYText = "";
    window->findChild<FilmParameters*>()->setValues(filmValues);
    SoundParameterValues soundValues;
    soundValues.inverse = 1;
    window->findChild<SoundParameters*>()->setValues(soundValues);
    MovieParameterValues movieValues;
    movieValues.cutSoundtrack = 1;
    window->findChild<MovieParameters*>()->setValues(movieValues);

    clickBox(filmBox());
    chooseInput(scan());
    const QString output = QDir(home()).filePath("movie.avi");
    chooseOutput(output);
    setRange("2", "6");
    pressStart();

    ASSERT_EQ(filmJobs.size(), 1u);
    const FilmJob& job = filmJobs.front();
    EXPECT_EQ(job.soundtrackType, SoundtrackType::VariableDensity35);
    EXPECT_TRUE(job.longStrip);
    EXPECT_TRUE(job.inverse);
    EXPECT_TRUE(job.cutSoundtrack);
    EXPECT_EQ(job.startFrame, 2);
    EXPECT_EQ(job.stopFrame, 6);
    EXPECT_EQ(job.resolutionX, 1500);
    EXPECT_EQ(job.resolutionY, 0) << "an empty text counts as 0";
    EXPECT_TRUE(job.manualResolution);
    EXPECT_EQ(job.observer, window.get());
    EXPECT_EQ(job.inputPath, scan().toStdString());
    EXPECT_EQ(job.outputPath, output.toStdString());
    EXPECT_EQ(soundtrack->runs, 0);
}

// ---- where a film run puts its movie ----

// Sound and movie share the output's name but not its file: the movie gets
// the name with ".avi", shown while "make film" is ticked.
TEST_F(MainWindowTest, TheMovieTakesTheOutputsNameWithAvi) {
    QLabel* label = child<QLabel>(*window, "movieLabel");
    EXPECT_TRUE(label->isHidden());
    const QString output = QDir(home()).filePath("reel.wav");
    chooseOutput(output);
    clickBox(filmBox());
    EXPECT_FALSE(label->isHidden());
    EXPECT_EQ(label->text(), "Movie: reel.avi");
    EXPECT_EQ(label->toolTip(), QDir::toNativeSeparators(QDir(home()).filePath("reel.avi")));
    chooseInput(scan());
    pressStart();
    ASSERT_EQ(filmJobs.size(), 1u);
    EXPECT_EQ(filmJobs.front().outputPath, QDir(home()).filePath("reel.avi").toStdString());
    clickBox(soundtrackBox());
    EXPECT_TRUE(label->isHidden());
}

// "Movie with sound" keeps a .mp4 or .mkv output's container and hands the
// film job the sound settings and the advance; without it the movie is the
// standard silent .avi whatever the output's name.
TEST_F(MainWindowTest, AMovieWithSoundKeepsTheChosenContainer) {
    const QString output = QDir(home()).filePath("reel.mp4");
    chooseOutput(output);
    clickBox(filmBox());
    chooseInput(scan());
    pressStart();
    ASSERT_EQ(filmJobs.size(), 1u);
    EXPECT_EQ(filmJobs.back().outputPath, QDir(home()).filePath("reel.avi").toStdString());
    EXPECT_FALSE(filmJobs.back().withSound);

    MovieParameterValues movieValues;
    movieValues.withSound = 1;
    window->findChild<MovieParameters*>()->setValues(movieValues);
    chooseOutput(output);
    EXPECT_EQ(child<QLabel>(*window, "movieLabel")->text(), "Movie: reel.mp4");
    pressStart();
    ASSERT_EQ(filmJobs.size(), 2u);
    const FilmJob& job = filmJobs.back();
    EXPECT_EQ(job.outputPath, output.toStdString());
    ASSERT_TRUE(job.withSound);
    EXPECT_EQ(job.withSound->container, MovieContainer::Mp4);
    EXPECT_EQ(job.withSound->advance, 20); // 35 mm's own
    EXPECT_EQ(
        FilmSpeed(job.withSound->pictureRate.numerator, job.withSound->pictureRate.denominator),
        job.withSound->sound.filmSpeed);

    movieValues.advanceText = "7";
    window->findChild<MovieParameters*>()->setValues(movieValues);
    pressStart();
    ASSERT_EQ(filmJobs.size(), 3u);
    EXPECT_EQ(filmJobs.back().withSound->advance, 7);
}

TEST_F(MainWindowTest, AnExistingMovieIsReplacedOnlyWhenTheUserSaysYes) {
    const QString movie = QDir(home()).filePath("sound.avi");
    std::ofstream(movie.toStdString()) << "an earlier movie";
    QStringList questions;
    bool answer = false;
    window->setQuestionBox([&](QWidget*, const QString& text) {
        questions << text;
        return answer;
    });
    clickBox(filmBox());
    chooseInput(scan());
    pressStart();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions.front().startsWith(QDir::toNativeSeparators(movie) + " already exists."))
        << questions.front().toStdString();
    EXPECT_TRUE(filmJobs.empty());
    answer = true;
    pressStart();
    EXPECT_EQ(questions.size(), 2);
    EXPECT_EQ(filmJobs.size(), 1u);
}

// One run at a time writes beside the scans; another run's lock is said
// in a message and the soundtrack does not start.
TEST_F(MainWindowTest, AnotherRunOnTheScansFolderKeepsTheSoundtrackFromStarting) {
    FolderLocks other;
    ASSERT_TRUE(other.lock(frames.path(), "the scans folder").ok());
    chooseInput(scan());
    pressStart();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.front().startsWith("Another run is using the scans folder"))
        << messages.front().toStdString();
    EXPECT_EQ(soundtrack->runs, 0);
    EXPECT_TRUE(startButton()->isEnabled());
    other.release();
    pressStart();
    ASSERT_TRUE(waitUntil([&] { return soundtrack->runs == 1; }));
    finishRun();
}

// ---- the run report's choice ----

TEST_F(MainWindowTest, RunReportIsOffAndItsFolderLiesBesideTheOutput) {
    auto* box = child<QCheckBox>(*window, "reportBox");
    auto* folder = child<QLineEdit>(*window, "reportEdit");
    auto* browse = child<QPushButton>(*window, "reportBrowseButton");
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(folder->isEnabled());
    EXPECT_FALSE(browse->isEnabled());
    // no output chosen: beside the default sound.wav in the home folder
    EXPECT_EQ(window->reportFolder(), home() + "/sound-report");

    const QString out = home() + "/reels/reel.wav";
    chooseOutput(out);
    EXPECT_EQ(window->reportFolder(), home() + "/reels/reel-report");
    clickBox(box);
    EXPECT_TRUE(folder->isEnabled());
    QString initial;
    window->setFolderDialog([&](QWidget*, const QString& start) {
        initial = start;
        return std::optional<QString>(home() + "/elsewhere");
    });
    browse->click();
    EXPECT_EQ(initial, home() + "/reels/reel-report");
    EXPECT_EQ(window->reportFolder(), home() + "/elsewhere");
    // cancelled: the folder stays
    window->setFolderDialog([](QWidget*, const QString&) { return std::nullopt; });
    browse->click();
    EXPECT_EQ(window->reportFolder(), home() + "/elsewhere");
}

TEST_F(MainWindowTest, ARunReportThatWouldReplaceTheOutputKeepsTheRunFromStarting) {
    chooseInput(scan());
    const QString report = home() + "/report";
    chooseOutput(report + "/report_files/sound.wav");
    clickBox(child<QCheckBox>(*window, "reportBox"));
    child<QLineEdit>(*window, "reportEdit")->setText(report);
    pressStart();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.front(), "Cannot write the sound to " + report +
                                    "/report_files/sound.wav: the run report written to " + report +
                                    " replaces its folder of pictures");
    EXPECT_EQ(soundtrack->runs, 0);
    EXPECT_TRUE(startButton()->isEnabled());
}

// ---- resizing ----

TEST_F(MainWindowTest, AWindowMadeLargerGivesTheRoomToThePreview) {
    QApplication::processEvents();
    const QSize start = window->size();
    EXPECT_EQ(start, window->sizeHint());
    auto* panel = child<QWidget>(*window, "previewPanel");
    const QSize panelSize = panel->size();
    const QSize startEditSize = startEdit()->size();
    const QSize stopEditSize = stopEdit()->size();
    const QSize logSize = logBox()->size();
    const QSize startButtonSize = startButton()->size();
    const QRect startEditPlace = startEdit()->geometry();
    auto* picture = child<QWidget>(*window, "framePictureView");
    auto* joins = child<QWidget>(*window, "joinPlot");
    const QSize pictureSize = picture->size();
    const QSize joinsSize = joins->size();

    window->resize(start + QSize(300, 200));
    ASSERT_TRUE(waitUntil([&] { return panel->size() != panelSize; }, 5'000));
    EXPECT_EQ(panel->size(), panelSize + QSize(300, 200));
    // the picture and the join plot share the width gained, and both take the height
    EXPECT_EQ(picture->width() + joins->width(), pictureSize.width() + joinsSize.width() + 300);
    EXPECT_GT(picture->width(), pictureSize.width());
    EXPECT_EQ(picture->height(), pictureSize.height() + 200);
    EXPECT_EQ(joins->height(), joinsSize.height() + 200);
    EXPECT_EQ(startEdit()->size(), startEditSize);
    EXPECT_EQ(stopEdit()->size(), stopEditSize);
    EXPECT_EQ(startEdit()->geometry(), startEditPlace);
    EXPECT_EQ(logBox()->size(), logSize);
    EXPECT_EQ(startButton()->size(), startButtonSize);

    // and back: the window's size at the start is the panel's at the start
    window->resize(start);
    ASSERT_TRUE(waitUntil([&] { return panel->size() == panelSize; }, 5'000));
    EXPECT_EQ(startEdit()->geometry(), startEditPlace);
}

} // namespace
} // namespace veltrana::ui
