#pragma once
// The main window: the frame range, the choice of job, Start and Stop, the log
// and the progress of a running job, and the menu that picks the input and the
// output and opens the option dialogs and the Info box. Below them, the
// preview panel shows what a run measures; Options -> Preview Panel hides it.

#include "job/folder_lock.h"
#include "job/memory_budget.h"
#include "job/observer.h"
#include "movie/film_job.h"
#include "report/reporting_observer.h"
#include "soundtrack/soundtrack_job.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace veltrana::ui {

class FilmParameters;
class MovieParameters;
class PreviewPanel;
class SoundParameters;

// What the input or output file dialog is asked for.
struct FileDialogRequest {
    bool save = false;       // a save dialog, else an open dialog
    QString defaultSuffix;   // added to a name typed without one
    QString defaultFileName; // proposed name, may be empty
    QStringList nameFilters; // "Wav Files (*.wav)", ...
    QString initialPath;     // the folder to start in, or a file in it
};

// Shows a file dialog: the chosen full path, or nothing when cancelled.
using FileDialogFunction =
    std::function<std::optional<QString>(QWidget* parent, const FileDialogRequest& request)>;

// Shows a message with one OK button and returns when it is closed.
using MessageBoxFunction = std::function<void(QWidget* parent, const QString& text)>;

// Shows a folder dialog starting at `initial`: the chosen folder, or nothing
// when cancelled.
using FolderDialogFunction =
    std::function<std::optional<QString>(QWidget* parent, const QString& initial)>;

// Asks a question with Yes and No; true for Yes.
using QuestionBoxFunction = std::function<bool(QWidget* parent, const QString& text)>;

// The two jobs as the window starts them (replaceable for tests).
using SoundtrackRunner = std::function<SoundtrackResult(SoundtrackJob* job)>;
using FilmRunner = std::function<FilmResult(const FilmJob& job)>;

// Threads: the soundtrack job runs on a worker thread of its own and the film
// job on a helper thread while the window blocks input. Either job shows its
// progress through this window's JobObserver side, whose every call is carried
// out on the window's thread while the job's thread waits, so the user sees
// exactly the job's sequence of updates. The window's thread never waits for a
// job while that job can be waiting for it: closing the window during a run
// first turns those calls into no-ops, then requests stop and joins.
//
// Previews are the exception: the job's thread copies them and goes on
// without waiting, and the panel draws them when the window's thread comes
// to them. A preview of an earlier run that is still on its way is dropped.
class CVeltranaMFCDlg : public QDialog, public JobObserver {
    Q_OBJECT

public:
    explicit CVeltranaMFCDlg(QWidget* parent = nullptr);
    ~CVeltranaMFCDlg() override;

    CVeltranaMFCDlg(const CVeltranaMFCDlg&) = delete;
    CVeltranaMFCDlg& operator=(const CVeltranaMFCDlg&) = delete;

    void setFileDialog(FileDialogFunction dialog) { fileDialog = std::move(dialog); }
    void setMessageBox(MessageBoxFunction box) { messageBox = std::move(box); }
    void setQuestionBox(QuestionBoxFunction box) { questionBox = std::move(box); }
    void setFolderDialog(FolderDialogFunction dialog) { folderDialog = std::move(dialog); }
    void setJobRunners(SoundtrackRunner soundtrack, FilmRunner film);

    const QString& currentInputPath() const { return inputPath; }
    const QString& currentOutputPath() const { return outputPath; }
    // Where a film run puts its movie: the output's name with ".avi", so that
    // a movie never takes the sound's name.
    QString moviePath() const;
    // Where a run writes its report while "Run report" is ticked: the folder
    // typed or chosen, else beside the output, named after it ("reel-report"
    // for reel.wav and reel.avi alike).
    QString reportFolder() const;
    // The record of the last soundtrack run (its settings stay after the run).
    const SoundtrackJob& soundtrackJob() const { return job; }
    bool soundtrackRunning() const { return workerRunning; }

    // Closing waits for a running soundtrack worker; during the film job the
    // window does not close.
    void done(int result) override;

    // JobObserver, called from the jobs' threads.
    void setLogText(const std::string& text) override;
    void setProgressRange(int maximum) override;
    void setProgressStep(int step) override;
    void stepProgress() override;
    void setProgressPosition(int position) override;
    void enableStart(bool enabled) override;
    void enableStop(bool enabled) override;
    // Every frame's numbers and a few pictures a second while the preview
    // panel is shown, nothing while it is hidden.
    PreviewRequest previewRequest() const override;
    void framePreview(const FramePreview& preview) override;
    void picturePreview(const FramePreview& preview, const cv::Mat& picture) override;
    void runWarning(const RunWarning& warning) override;

private:
    void OnInitDialog();
    void OnInputDirectory();
    void OnOutputDirectory();
    void OnWholeFolder();
    void OnStart();
    void OnCloseCommand();
    void OnFilmParameters();
    void OnSoundParameters();
    void OnMovieParameters();
    void OnInfo();
    void OnStop();
    void OnMakeSoundtrack();
    void OnMakeFilm();
    void OnPreviewPanel(bool shown);
    void OnRunReport();
    void OnReportBrowse();

    void startSoundtrackWorker(int startFrame, int stopFrame);
    void makeFilmWithInputBlocked(int startFrame, int stopFrame);
    ScanRunSettings scanRunSettings(int startFrame, int stopFrame) const;
    SoundSettings soundSettings() const;
    std::optional<FilmSound> movieSound(const ScanRunSettings& run) const;
    void reapSoundtrackWorker();
    void endSoundtrackWorker();
    void carryOut(std::function<void()> update);
    void showMoviePath();
    void showChosenPaths();
    void fitToPreviewPanel();
    bool lockRunFolders(const QString& output, const char* what, bool sideFilesBesideScans);
    JobObserver* reportingObserverFor(RunKind kind, std::vector<RunSetting> settings, int first,
                                      int last);
    void finishReport(const JobEnding& ending, RunWritten written);

    QIcon icon;
    QPlainTextEdit* logBox;
    QPushButton* startButton;
    QPushButton* stopButton;
    QPushButton* wholeFolderButton;
    QLabel* pathsLabel;
    QProgressBar* progressBar;
    QString outputPath;
    QString inputPath;
    QString savedInputPath;
    QString savedOutputPath;
    SoundtrackJob job;
    QLineEdit* startEdit;
    QLineEdit* stopEdit;
    FilmParameters* filmParameters;
    SoundParameters* soundParameters;
    MovieParameters* movieParameters;
    QCheckBox* soundtrackBox;
    QCheckBox* filmBox;
    QLabel* movieLabel; // where a film run puts the movie, while "make film" is ticked
    QCheckBox* reportBox;
    QLineEdit* reportEdit; // empty: the folder beside the output
    QPushButton* reportBrowseButton;
    PreviewPanel* previewPanel;
    QAction* previewAction;

    FileDialogFunction fileDialog;
    MessageBoxFunction messageBox;
    QuestionBoxFunction questionBox;
    FolderDialogFunction folderDialog;
    SoundtrackRunner soundtrackRunner;
    FilmRunner filmRunner;

    int progressStep = 1;

    // The soundtrack worker; workerRunning is true from before its start
    // until it has made its last call on the window.
    std::thread worker;
    std::atomic<bool> workerRunning{false};
    // The one stop flag of every run this window starts (Stop, closing).
    std::atomic<bool> stopRequested{false};
    // The memory the scans of every run this window starts may take at once:
    // the default, half of what the program may use.
    const std::unique_ptr<MemoryBudget> memoryBudget =
        std::make_unique<MemoryBudget>(defaultMemoryBudgetBytes());
    bool filmRunning = false;
    // the folders a run writes beside the scans or its report into, held while it runs
    FolderLocks runLocks;

    // The report of the run under way, when one was asked for: gathered on
    // the job's thread and written there once the job has ended.
    std::filesystem::path runReportFolder;
    std::unique_ptr<RunCollector> reportCollector;
    std::unique_ptr<ReportingObserver> reportingObserver;

    // Whether the next run is asked for previews (read by the job's thread).
    std::atomic<bool> previewWanted{true};
    // The run the panel shows; previews carry the number of their run.
    std::atomic<std::uint64_t> previewRun{0};

    // Hand-over of the jobs' calls to the window's thread. closing and
    // dispatchEpoch are written by the window's thread only, under the mutex.
    std::mutex dispatchMutex;
    std::condition_variable dispatchDone;
    bool closing = false;
    std::uint64_t dispatchEpoch = 0;
};

} // namespace veltrana::ui
