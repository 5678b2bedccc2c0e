#include "ui/veltrana_mfc_dlg.h"

#include "ui/artwork.h"
#include "ui/dialog_units.h"
#include "ui/digit_edit.h"
#include "ui/film_parameters.h"
#include "ui/info_close.h"
#include "ui/movie_parameters.h"
#include "ui/preview_panel.h"
#include "ui/sound_parameters.h"

#include "job/frame_sequence.h"
#include "report/report_settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <utility>

namespace veltrana::ui {
namespace {

// A reel has thousands of frames, which the original two-digit edits could
// not reach: seven digits number the scans of 115 hours of film at 24 frames
// a second, more than any folder of scans holds.
constexpr int kFrameNumberDigits = 7;

// Pictures a second in the preview: enough to follow a run, few enough that
// scaling them costs a run nothing it would notice.
constexpr double kPreviewPicturesPerSecond = 5;

// Messages of the Start checks.
const char* const kStartFrameZero = "Start frame can't have 0 value";
const char* const kStopBeforeStart = "Stop frame can't have lower value than start frame";
const char* const kNoInput = "Input directory has no tif files!!!";

QString homeFolder() {
    return QDir::homePath();
}

// Where the output goes when none has been chosen.
QString defaultOutputPath() {
    return QDir(homeFolder()).filePath(QStringLiteral("sound.wav"));
}

std::filesystem::path toPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// The suffix of a filter such as "Avi Files (*.avi)": "avi".
QString filterSuffix(const QString& filter) {
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    const QRegularExpressionMatch match = pattern.match(filter);
    return match.hasMatch() ? match.captured(1) : QString();
}

std::optional<QString> showFileDialog(QWidget* parent, const FileDialogRequest& request) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // a typed name of a file that does not exist is taken, and an existing
    // output is overwritten without a question
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilters(request.nameFilters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    // a name typed without a suffix gets the one of the chosen file type
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& filter) {
                         const QString suffix = filterSuffix(filter);
                         if (!suffix.isEmpty()) {
                             dialog.setDefaultSuffix(suffix);
                         }
                     });
    const QFileInfo initial(request.initialPath);
    dialog.setDirectory(initial.isDir() ? initial.absoluteFilePath() : initial.absolutePath());
    if (!request.defaultFileName.isEmpty()) {
        dialog.selectFile(request.defaultFileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

void showMessageBox(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QApplication::applicationName(), text);
}

std::optional<QString> showFolderDialog(QWidget* parent, const QString& initial) {
    const QString chosen = QFileDialog::getExistingDirectory(
        parent, QStringLiteral("Run Report Folder"), initial, QFileDialog::ShowDirsOnly);
    return chosen.isEmpty() ? std::nullopt : std::optional<QString>(chosen);
}

bool showQuestionBox(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QApplication::applicationName(), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

// While alive, the application takes no user input: no clicks, keys, wheel,
// shortcuts or window closes reach any window, but everything still repaints.
// The pointer shows that the program is busy.
class InputBlocker : public QObject {
public:
    // `stop` still takes its clicks and keys: the film job stops at its next
    // frame when asked.
    explicit InputBlocker(const QWidget* stop) : stop(stop) {
        qApp->installEventFilter(this);
        QApplication::setOverrideCursor(Qt::BusyCursor);
    }
    ~InputBlocker() override {
        QApplication::restoreOverrideCursor();
        qApp->removeEventFilter(this);
    }
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == stop && isStopInput(event->type())) {
            return QObject::eventFilter(watched, event);
        }
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::Drop:
            return true;
        case QEvent::Close:
            // an event left accepted would let the window close all the same
            event->ignore();
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    static bool isStopInput(QEvent::Type type) {
        return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
               type == QEvent::KeyPress || type == QEvent::KeyRelease;
    }

    const QWidget* stop;
};

} // namespace

CVeltranaMFCDlg::CVeltranaMFCDlg(QWidget* parent)
    : QDialog(parent), icon(veltranaIcon()), fileDialog(showFileDialog), messageBox(showMessageBox),
      questionBox(showQuestionBox), folderDialog(showFolderDialog),
      soundtrackRunner([](SoundtrackJob* run) { return runSoundtrackJob(*run); }),
      filmRunner(makeFilm) {
    setObjectName(QStringLiteral("veltranaMFCDlg"));
    setWindowTitle(QStringLiteral("VeltranaMFC"));
    job.stopRequested = &stopRequested;
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);

    // menu: File, Options, Help
    auto* menuBar = new QMenuBar(this);
    QMenu* fileMenu = menuBar->addMenu(QStringLiteral("File"));
    QAction* inputAction = fileMenu->addAction(QStringLiteral("Input Directory"));
    inputAction->setObjectName(QStringLiteral("inputDirectoryAction"));
    QAction* outputAction = fileMenu->addAction(QStringLiteral("Output Directory"));
    outputAction->setObjectName(QStringLiteral("outputDirectoryAction"));
    fileMenu->addSeparator();
    QAction* closeAction = fileMenu->addAction(QStringLiteral("Close"));
    closeAction->setObjectName(QStringLiteral("closeAction"));
    QMenu* optionsMenu = menuBar->addMenu(QStringLiteral("Options"));
    QAction* filmAction = optionsMenu->addAction(QStringLiteral("Film Parameters"));
    filmAction->setObjectName(QStringLiteral("filmParametersAction"));
    optionsMenu->addSeparator();
    QAction* soundAction = optionsMenu->addAction(QStringLiteral("Sound Parameters"));
    soundAction->setObjectName(QStringLiteral("soundParametersAction"));
    QAction* movieAction = optionsMenu->addAction(QStringLiteral("Movie Parameters"));
    movieAction->setObjectName(QStringLiteral("movieParametersAction"));
    optionsMenu->addSeparator();
    previewAction = optionsMenu->addAction(QStringLiteral("Preview Panel"));
    previewAction->setObjectName(QStringLiteral("previewAction"));
    previewAction->setCheckable(true);
    previewAction->setChecked(true);
    QMenu* helpMenu = menuBar->addMenu(QStringLiteral("Help"));
    QAction* infoAction = helpMenu->addAction(QStringLiteral("Info"));
    infoAction->setObjectName(QStringLiteral("infoAction"));

    // the log of a running job, read-only, at most six lines
    logBox = new QPlainTextEdit(this);
    logBox->setObjectName(QStringLiteral("logBox"));
    logBox->setReadOnly(true);
    logBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Six frame and resolution lines fit without wrapping at any font. A
    // longer message (a path that cannot be written, say) wraps, and the box
    // then scrolls rather than cut it off.
    logBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const QFontMetrics logMetrics = logBox->fontMetrics();
    const int margins = 2 * (logBox->frameWidth() + 4);
    const int longestLine = logMetrics.horizontalAdvance(
        QStringLiteral("Picture resolution (dpi) x=9999,y=9999 and color depth=8"));
    const QSize sixLines(longestLine + margins + 4,
                         6 * logMetrics.lineSpacing() + margins + logMetrics.descent());
    logBox->setFixedSize(dialogUnits(*this, 225, 55).expandedTo(sixLines));

    // "Frame numbers": the first and the last frame of the range
    auto* frameGroup = new QGroupBox(QStringLiteral("Frame numbers"), this);
    auto* startLabel = new QLabel(QStringLiteral("Start file number:"), frameGroup);
    startEdit = new QLineEdit(frameGroup);
    startEdit->setObjectName(QStringLiteral("startEdit"));
    makeDigitEdit(*startEdit, kFrameNumberDigits);
    startEdit->setFixedWidth(dialogUnits(*this, 17, 0).width() +
                             startEdit->fontMetrics().horizontalAdvance(QStringLiteral("9999999")));
    auto* stopLabel = new QLabel(QStringLiteral("Stop file number:"), frameGroup);
    stopEdit = new QLineEdit(frameGroup);
    stopEdit->setObjectName(QStringLiteral("stopEdit"));
    makeDigitEdit(*stopEdit, kFrameNumberDigits);
    stopEdit->setFixedWidth(startEdit->width());
    wholeFolderButton = new QPushButton(QStringLiteral("Whole folder"), frameGroup);
    wholeFolderButton->setObjectName(QStringLiteral("wholeFolderButton"));
    wholeFolderButton->setAutoDefault(false);
    wholeFolderButton->setToolTip(
        QStringLiteral("Fill the range with the first and the last scan of the input folder"));
    auto* frameLayout = new QHBoxLayout(frameGroup);
    frameLayout->addSpacing(dialogUnits(*this, 10, 0).width());
    frameLayout->addWidget(startLabel);
    frameLayout->addWidget(startEdit);
    frameLayout->addStretch(1);
    frameLayout->addWidget(stopLabel);
    frameLayout->addWidget(stopEdit);
    frameLayout->addWidget(wholeFolderButton);
    frameLayout->addSpacing(dialogUnits(*this, 10, 0).width());

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setTextVisible(false);
    progressBar->setFixedSize(dialogUnits(*this, 103, 11));

    // "Process": Start, Stop and the choice of job
    auto* processGroup = new QGroupBox(QStringLiteral("Process"), this);
    startButton = new QPushButton(QStringLiteral("Start"), processGroup);
    startButton->setObjectName(QStringLiteral("startButton"));
    startButton->setDefault(true);
    setMinimumDialogUnits(*startButton, 50, 16);
    stopButton = new QPushButton(QStringLiteral("Stop"), processGroup);
    stopButton->setObjectName(QStringLiteral("stopButton"));
    // Enter is Start. When Start is disabled by a run the focus passes to
    // Stop, and an auto-default Stop would then take Enter and end the run.
    stopButton->setAutoDefault(false);
    setMinimumDialogUnits(*stopButton, 50, 14);
    soundtrackBox = new QCheckBox(QStringLiteral("make soundtrack"), processGroup);
    soundtrackBox->setObjectName(QStringLiteral("soundtrackBox"));
    filmBox = new QCheckBox(QStringLiteral("make film"), processGroup);
    filmBox->setObjectName(QStringLiteral("filmBox"));
    movieLabel = new QLabel(processGroup);
    movieLabel->setObjectName(QStringLiteral("movieLabel"));
    movieLabel->setVisible(false);
    auto* processLayout = new QVBoxLayout(processGroup);
    processLayout->addWidget(startButton, 0, Qt::AlignHCenter);
    processLayout->addWidget(stopButton, 0, Qt::AlignHCenter);
    processLayout->addStretch(1);
    processLayout->addWidget(soundtrackBox);
    processLayout->addWidget(filmBox);
    processLayout->addWidget(movieLabel);

    auto* controls = new QGridLayout;
    controls->addWidget(logBox, 0, 0);
    controls->addWidget(frameGroup, 1, 0);
    controls->addWidget(processGroup, 0, 1, 2, 1);
    controls->addWidget(progressBar, 2, 0, Qt::AlignLeft);
    // what a run will read and write, so that a whole reel's run starts on
    // the folder and the file meant
    pathsLabel = new QLabel(this);
    pathsLabel->setObjectName(QStringLiteral("pathsLabel"));
    pathsLabel->setTextFormat(Qt::PlainText);
    pathsLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    controls->addWidget(pathsLabel, 3, 0, 1, 2);

    // "Run report": the report --report writes, into the folder beside the
    // output unless another is typed or chosen; off unless ticked
    reportBox = new QCheckBox(QStringLiteral("Run report"), this);
    reportBox->setObjectName(QStringLiteral("reportBox"));
    reportBox->setToolTip(
        QStringLiteral("Also write a run report into the folder: report.html with its pictures in "
                       "report_files/, and report.json; written whatever the run's end"));
    reportEdit = new QLineEdit(this);
    reportEdit->setObjectName(QStringLiteral("reportEdit"));
    reportEdit->setToolTip(
        QStringLiteral("The report's folder; left empty, the folder beside the output named "
                       "after it"));
    reportBrowseButton = new QPushButton(QStringLiteral("Browse..."), this);
    reportBrowseButton->setObjectName(QStringLiteral("reportBrowseButton"));
    reportBrowseButton->setAutoDefault(false);
    auto* reportLayout = new QHBoxLayout;
    reportLayout->addWidget(reportBox);
    reportLayout->addWidget(reportEdit, 1);
    reportLayout->addWidget(reportBrowseButton);
    controls->addLayout(reportLayout, 4, 0, 1, 2);

    // The preview panel goes below the controls, which stay where they are
    // with or without it: the window grows downwards when it is shown. The
    // controls keep their size; a window made larger gives the room to the
    // panel's picture and plots.
    previewPanel = new PreviewPanel(this);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addLayout(controls);
    layout->setAlignment(controls, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(previewPanel, 1);
    fitToPreviewPanel();

    // the option dialogs live as long as the window and keep their values
    filmParameters = new FilmParameters(this);
    soundParameters = new SoundParameters(this);
    movieParameters = new MovieParameters(this);

    connect(inputAction, &QAction::triggered, this, &CVeltranaMFCDlg::OnInputDirectory);
    connect(outputAction, &QAction::triggered, this, &CVeltranaMFCDlg::OnOutputDirectory);
    connect(startButton, &QPushButton::clicked, this, &CVeltranaMFCDlg::OnStart);
    connect(closeAction, &QAction::triggered, this, &CVeltranaMFCDlg::OnCloseCommand);
    connect(filmAction, &QAction::triggered, this, &CVeltranaMFCDlg::OnFilmParameters);
    connect(soundAction, &QAction::triggered, this, &CVeltranaMFCDlg::OnSoundParameters);
    connect(movieAction, &QAction::triggered, this, &CVeltranaMFCDlg::OnMovieParameters);
    connect(infoAction, &QAction::triggered, this, &CVeltranaMFCDlg::OnInfo);
    connect(stopButton, &QPushButton::clicked, this, &CVeltranaMFCDlg::OnStop);
    connect(wholeFolderButton, &QPushButton::clicked, this, &CVeltranaMFCDlg::OnWholeFolder);
    connect(soundtrackBox, &QCheckBox::clicked, this, &CVeltranaMFCDlg::OnMakeSoundtrack);
    connect(filmBox, &QCheckBox::clicked, this, &CVeltranaMFCDlg::OnMakeFilm);
    connect(previewAction, &QAction::toggled, this, &CVeltranaMFCDlg::OnPreviewPanel);
    connect(reportBox, &QCheckBox::toggled, this, &CVeltranaMFCDlg::OnRunReport);
    connect(reportBrowseButton, &QPushButton::clicked, this, &CVeltranaMFCDlg::OnReportBrowse);

    OnInitDialog();
}

CVeltranaMFCDlg::~CVeltranaMFCDlg() {
    endSoundtrackWorker();
}

void CVeltranaMFCDlg::setJobRunners(SoundtrackRunner soundtrack, FilmRunner film) {
    soundtrackRunner = std::move(soundtrack);
    filmRunner = std::move(film);
}

// The defaults of every start of the program; nothing is kept between runs.
// The paths start at the home folder, which counts as "no file chosen".
void CVeltranaMFCDlg::OnInitDialog() {
    inputPath = homeFolder();
    savedInputPath = inputPath;
    outputPath = homeFolder();
    savedOutputPath = outputPath;

    startEdit->setText(QStringLiteral("1"));
    stopEdit->setText(QStringLiteral("2"));

    filmParameters->setValues(FilmParameterValues{});
    soundParameters->setValues(SoundParameterValues{});
    movieParameters->setValues(MovieParameterValues{});

    soundtrackBox->setChecked(true);
    filmBox->setChecked(false);
    reportBox->setChecked(false);
    reportEdit->clear();
    OnRunReport();

    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    setWindowIcon(icon);
    startButton->setFocus();
    showMoviePath();
    showChosenPaths();
}

// "Scans: /film/reel1 (1500 scans)   Output: /film/reel1.wav", cut in the
// middle to the window's width; whole in the tooltip.
void CVeltranaMFCDlg::showChosenPaths() {
    QString scans = QStringLiteral("none chosen");
    if (!inputPath.isEmpty()) {
        const Result<FrameSequence> sequence = listFrameSequence(toPath(inputPath));
        scans =
            sequence
                ? QStringLiteral("%1 (%2 scan%3)")
                      .arg(QDir::toNativeSeparators(
                          QString::fromStdString(sequence->directory.string())))
                      .arg(sequence->frames.size())
                      .arg(sequence->frames.size() == 1 ? QLatin1String("") : QLatin1String("s"))
                : QStringLiteral("%1 (no scans there)").arg(QDir::toNativeSeparators(inputPath));
    }
    const QString output =
        outputPath.isEmpty() ? QStringLiteral("none chosen") : QDir::toNativeSeparators(outputPath);
    const QString text = QStringLiteral("Scans: %1   Output: %2").arg(scans, output);
    pathsLabel->setText(text);
    pathsLabel->setToolTip(text);
    const QFileInfo movie(moviePath());
    reportEdit->setPlaceholderText(QDir::toNativeSeparators(
        movie.dir().filePath(movie.completeBaseName() + QStringLiteral("-report"))));
}

QString CVeltranaMFCDlg::reportFolder() const {
    return reportEdit->text().isEmpty() ? QDir::fromNativeSeparators(reportEdit->placeholderText())
                                        : reportEdit->text();
}

// The folder and its button take input only while the box is ticked.
void CVeltranaMFCDlg::OnRunReport() {
    reportEdit->setEnabled(reportBox->isChecked());
    reportBrowseButton->setEnabled(reportBox->isChecked());
}

// Cancel keeps the folder there was.
void CVeltranaMFCDlg::OnReportBrowse() {
    if (const std::optional<QString> chosen = folderDialog(this, reportFolder())) {
        reportEdit->setText(QDir::toNativeSeparators(*chosen));
    }
}

// Cancel brings back the path confirmed last.
void CVeltranaMFCDlg::OnInputDirectory() {
    FileDialogRequest request;
    request.save = false;
    request.defaultSuffix = QStringLiteral("tif");
    // the scans of a folder are of one format: any of them stands for it
    request.nameFilters = {QStringLiteral("Soundtrack Scans (*.tif *.tiff *.dpx *.exr)"),
                           QStringLiteral("Soundtrack Tif Files (*.tif)"),
                           QStringLiteral("Soundtrack DPX Files (*.dpx)"),
                           QStringLiteral("Soundtrack OpenEXR Files (*.exr)")};
    request.initialPath = inputPath;
    if (const std::optional<QString> chosen = fileDialog(this, request)) {
        inputPath = *chosen;
        savedInputPath = inputPath;
    } else {
        inputPath = savedInputPath;
    }
    showChosenPaths();
}

// The range from the folder's first scan to its last, as the jobs number
// them (1 to the count of scans, in natural order).
void CVeltranaMFCDlg::OnWholeFolder() {
    const Result<FrameSequence> sequence = listFrameSequence(toPath(inputPath));
    if (!sequence) {
        messageBox(this, QString::fromStdString(sequence.message()));
        return;
    }
    if (sequence->frames.empty()) {
        messageBox(this, QStringLiteral("The folder %1 holds no scans.")
                             .arg(QString::fromStdString(sequence->directory.string())));
        return;
    }
    startEdit->setText(QStringLiteral("1"));
    stopEdit->setText(QString::number(sequence->frames.size()));
}

void CVeltranaMFCDlg::OnOutputDirectory() {
    FileDialogRequest request;
    request.save = true;
    request.defaultSuffix = QStringLiteral("wav");
    request.defaultFileName = QStringLiteral("sound");
    request.nameFilters = {QStringLiteral("Wav Files (*.wav)"), QStringLiteral("Avi Files (*.avi)"),
                           QStringLiteral("Mp4 Files (*.mp4)"),
                           QStringLiteral("Mkv Files (*.mkv)")};
    request.initialPath = outputPath;
    if (const std::optional<QString> chosen = fileDialog(this, request)) {
        outputPath = *chosen;
        savedOutputPath = outputPath;
    } else {
        outputPath = savedOutputPath;
    }
    showMoviePath();
    showChosenPaths();
}

QString CVeltranaMFCDlg::moviePath() const {
    // no output chosen yet: the default one's
    const bool chosen = outputPath.size() >= 7 && !QFileInfo(outputPath).isDir();
    const QFileInfo output(chosen ? outputPath : defaultOutputPath());
    // a movie with sound keeps the container chosen in the output dialog
    const QString suffix = output.suffix().toLower();
    const bool container = movieParameters->values().withSound != 0 &&
                           (suffix == QStringLiteral("mp4") || suffix == QStringLiteral("mkv"));
    return output.dir().filePath(output.completeBaseName() + QStringLiteral(".") +
                                 (container ? suffix : QStringLiteral("avi")));
}

// The movie's name under the "make film" box, its whole path on hover.
void CVeltranaMFCDlg::showMoviePath() {
    const QString path = moviePath();
    const QString text = QStringLiteral("Movie: ") + QFileInfo(path).fileName();
    const int width = std::max(filmBox->sizeHint().width(), soundtrackBox->sizeHint().width());
    movieLabel->setText(movieLabel->fontMetrics().elidedText(text, Qt::ElideMiddle, width));
    movieLabel->setToolTip(QDir::toNativeSeparators(path));
    movieLabel->setVisible(filmBox->isChecked());
}

// Checks the frame range and the input, shows a message for each check that
// fails, and starts the ticked job only when all passed.
void CVeltranaMFCDlg::OnStart() {
    // one job at a time: Start is disabled during a run, and Enter must not
    // get around that
    if (workerRunning || filmRunning) {
        return;
    }
    const int stopFrame = digitValue(stopEdit->text());
    const int startFrame = digitValue(startEdit->text());

    bool checksPassed = true;
    if (startFrame < 1) {
        messageBox(this, QString::fromLatin1(kStartFrameZero));
        checksPassed = false;
    }
    if (stopFrame < startFrame) {
        messageBox(this, QString::fromLatin1(kStopBeforeStart));
        checksPassed = false;
    }
    if (!QFileInfo(inputPath).isFile()) {
        messageBox(this, QString::fromLatin1(kNoInput));
        checksPassed = false;
    }
    // no output chosen: the default file, kept for later starts. A path of
    // fewer than 7 characters has always meant that; so does the home folder
    // the output dialog starts from, which is longer on most machines.
    if (outputPath.size() < 7 || QFileInfo(outputPath).isDir()) {
        outputPath = defaultOutputPath();
    }
    if (!checksPassed) {
        return;
    }

    if (soundtrackBox->isChecked()) {
        if (!lockRunFolders(outputPath, "the sound", true)) {
            return;
        }
        ++previewRun;
        previewPanel->clear(PreviewPanel::Run::Soundtrack);
        startSoundtrackWorker(startFrame, stopFrame);
    } else if (filmBox->isChecked()) {
        if (QFileInfo::exists(moviePath()) &&
            !questionBox(this,
                         QDir::toNativeSeparators(moviePath()) +
                             QStringLiteral(" already exists.\nDo you want to replace it?"))) {
            return;
        }
        if (!lockRunFolders(moviePath(), "the movie", false)) {
            return;
        }
        ++previewRun;
        previewPanel->clear(PreviewPanel::Run::Film);
        makeFilmWithInputBlocked(startFrame, stopFrame);
        runLocks.release();
    }
}

// One run at a time writes beside these scans or into the report's folder
// (no run of this window holds a lock now), and the report may replace
// neither the output nor the scans. Says why when the run cannot start.
bool CVeltranaMFCDlg::lockRunFolders(const QString& output, const char* what,
                                     bool sideFilesBesideScans) {
    runReportFolder = reportBox->isChecked() ? toPath(reportFolder()) : std::filesystem::path();
    runLocks.release();
    Status refused;
    if (!runReportFolder.empty()) {
        refused = checkReportLeavesRun(toPath(inputPath), toPath(output), runReportFolder, what);
    }
    if (refused) {
        refused =
            lockJobFolders(runLocks, toPath(inputPath), sideFilesBesideScans, runReportFolder);
    }
    if (!refused) {
        messageBox(this, QString::fromStdString(refused.message()));
    }
    return refused.ok();
}

// The observer a run reports to: this window, or while a report is asked for
// the one that gathers the report beside it.
JobObserver* CVeltranaMFCDlg::reportingObserverFor(RunKind kind, std::vector<RunSetting> settings,
                                                   int first, int last) {
    reportingObserver.reset();
    reportCollector.reset();
    if (runReportFolder.empty()) {
        return this;
    }
    reportCollector = std::make_unique<RunCollector>(kind, std::move(settings), first, last);
    reportingObserver = std::make_unique<ReportingObserver>(*this, reportCollector.get());
    return reportingObserver.get();
}

// On the job's thread once the job has ended: writes the report and says
// where it went below the run's last log line, or why it was not written
// (a warning: the run's result stands).
void CVeltranaMFCDlg::finishReport(const JobEnding& ending, RunWritten written) {
    if (!reportCollector) {
        return;
    }
    const Result<std::filesystem::path> page =
        finishRunReport(*reportCollector, runReportFolder, ending, std::move(written));
    const QString line = page
                             ? QStringLiteral("Run report: ") +
                                   QDir::toNativeSeparators(QString::fromStdString(page->string()))
                             : QStringLiteral("Warning: ") + QString::fromStdString(page.message());
    carryOut([this, line] {
        logBox->appendPlainText(line);
        logBox->verticalScrollBar()->setValue(logBox->verticalScrollBar()->maximum());
    });
}

// What both jobs take from the dialogs; the "Inverse" box is on the Sound
// Parameters but turns the movie's frames too.
ScanRunSettings CVeltranaMFCDlg::scanRunSettings(int startFrame, int stopFrame) const {
    const FilmParameterValues& film = filmParameters->values();
    ScanRunSettings settings;
    settings.inputPath = toPath(inputPath);
    settings.startFrame = startFrame;
    settings.stopFrame = stopFrame;
    settings.soundtrackType = static_cast<SoundtrackType>(film.soundtrackTypeIndex + 1);
    settings.longStrip = film.longStrip != 0;
    settings.inverse = soundParameters->values().inverse != 0;
    settings.trackSide = film.trackSide;
    settings.fullAperture = film.fullAperture != 0;
    settings.manualResolution = film.manualResolution != 0;
    settings.resolutionX = digitValue(film.resolutionXText);
    settings.resolutionY = digitValue(film.resolutionYText);
    settings.stopRequested = &stopRequested;
    settings.memoryBudget = memoryBudget.get();
    return settings;
}

void CVeltranaMFCDlg::startSoundtrackWorker(int startFrame, int stopFrame) {
    // a worker that has made its last call may not have been joined yet
    if (worker.joinable()) {
        worker.join();
    }
    // no second Start until this run has ended; Stop works for this run even
    // when it was pressed while idle
    startButton->setEnabled(false);
    stopButton->setEnabled(true);

    static_cast<ScanRunSettings&>(job) = scanRunSettings(startFrame, stopFrame);
    job.outputPath = toPath(outputPath);
    static_cast<SoundSettings&>(job) = soundSettings();
    job.observer = reportingObserverFor(RunKind::Soundtrack,
                                        soundtrackReportSettings(job, resolutionGiven(job)),
                                        startFrame, stopFrame);
    stopRequested = false;

    workerRunning = true;
    worker = std::thread([this] {
        // the job ends every run itself, an unexpected error included
        const SoundtrackResult result = soundtrackRunner(&job);
        finishReport(result, soundtrackWritten(result));
        workerRunning = false;
        QMetaObject::invokeMethod(
            this, [this] { reapSoundtrackWorker(); }, Qt::QueuedConnection);
    });
}

// How Film Parameters and Sound Parameters ask for the soundtrack to be read
// and written, for the soundtrack job and the movie with sound alike.
SoundSettings CVeltranaMFCDlg::soundSettings() const {
    const FilmParameterValues& film = filmParameters->values();
    const SoundParameterValues& sound = soundParameters->values();
    SoundSettings s;
    s.filmSpeed = filmSpeedOfIndex(film.filmSpeedIndex);
    s.colorElement = static_cast<ColorElement>(sound.colorElementIndex);
    s.crossfade = sound.crossfade != 0;
    s.removeDc = sound.removeDc != 0;
    s.cutByAnalysis = sound.cutByAnalysis;
    // "Archival quality" is the archival levels and the precise joins; the
    // lists give the WAV file's format whatever the box says
    s.archivalLevels = sound.archival;
    s.preciseJoins = sound.archival;
    s.bitsPerSample = kBitDepths[sound.bitDepthIndex];
    s.outputRate = kSampleRates[sound.sampleRateIndex];
    return s;
}

// "Movie with sound": the movie runs at the film speed, in the container
// its name asks for (moviePath keeps .mp4 and .mkv).
std::optional<FilmSound> CVeltranaMFCDlg::movieSound(const ScanRunSettings& run) const {
    const MovieParameterValues& movie = movieParameters->values();
    if (movie.withSound == 0) {
        return std::nullopt;
    }
    FilmSound sound;
    sound.sound = soundSettings();
    const Result<MovieContainer> container = movieContainerOf(toPath(moviePath()));
    sound.container = container ? *container : MovieContainer::Avi;
    sound.pictureRate =
        FrameRate{sound.sound.filmSpeed.numerator, sound.sound.filmSpeed.denominator};
    sound.advance = movie.advanceText.isEmpty() ? defaultSoundAdvance(run.soundtrackType)
                                                : digitValue(movie.advanceText);
    return sound;
}

// The film job runs on a helper thread while this thread keeps the windows
// painted and refuses all input; Start returns when the movie is done.
void CVeltranaMFCDlg::makeFilmWithInputBlocked(int startFrame, int stopFrame) {
    FilmJob filmJob;
    static_cast<ScanRunSettings&>(filmJob) = scanRunSettings(startFrame, stopFrame);
    filmJob.cutSoundtrack = movieParameters->values().cutSoundtrack != 0;
    filmJob.outputPath = toPath(moviePath());
    filmJob.withSound = movieSound(filmJob);
    filmJob.observer =
        reportingObserverFor(RunKind::Film, filmReportSettings(filmJob, resolutionGiven(filmJob)),
                             startFrame, stopFrame);
    stopRequested = false;
    stopButton->setEnabled(true);

    const InputBlocker blocker(stopButton);
    filmRunning = true;
    QEventLoop loop;
    std::thread helper([this, &filmJob, &loop] {
        const FilmResult result = filmRunner(filmJob);
        finishReport(result, filmWritten(result));
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    helper.join();
    filmRunning = false;
    stopButton->setEnabled(true);
}

void CVeltranaMFCDlg::reapSoundtrackWorker() {
    if (worker.joinable() && !workerRunning) {
        worker.join();
        runLocks.release();
    }
}

// Ends a running soundtrack worker for good: its calls on the window are let
// go without effect from here on (the one it may be waiting in included), the
// run is asked to stop at its next frame, and the thread is joined.
void CVeltranaMFCDlg::endSoundtrackWorker() {
    if (!worker.joinable()) {
        return;
    }
    stopRequested = true;
    {
        const std::lock_guard lock(dispatchMutex);
        closing = true;
    }
    dispatchDone.notify_all();
    worker.join();
    {
        const std::lock_guard lock(dispatchMutex);
        closing = false;
        ++dispatchEpoch; // calls still queued from that worker stay without effect
    }
    runLocks.release();
    ++previewRun;
    startButton->setEnabled(true);
}

void CVeltranaMFCDlg::done(int result) {
    if (filmRunning) {
        return;
    }
    endSoundtrackWorker();
    QDialog::done(result);
}

void CVeltranaMFCDlg::OnCloseCommand() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void CVeltranaMFCDlg::OnFilmParameters() {
    filmParameters->exec();
}

void CVeltranaMFCDlg::OnSoundParameters() {
    soundParameters->exec();
}

void CVeltranaMFCDlg::OnMovieParameters() {
    movieParameters->exec();
    showMoviePath();
}

// A new box each time, gone when closed.
void CVeltranaMFCDlg::OnInfo() {
    InfoClose box(this);
    box.exec();
}

// The worker sees the flag at its next frame; a flag set while idle is
// cleared by the next Start.
void CVeltranaMFCDlg::OnStop() {
    stopButton->setEnabled(false);
    stopRequested = true;
}

// The two boxes exclude each other; clearing one leaves the other as it is.
void CVeltranaMFCDlg::OnMakeSoundtrack() {
    if (soundtrackBox->isChecked()) {
        filmBox->setChecked(false);
    }
    showMoviePath();
}

void CVeltranaMFCDlg::OnMakeFilm() {
    if (filmBox->isChecked()) {
        soundtrackBox->setChecked(false);
    }
    showMoviePath();
}

// The panel shows or hides and the window grows or shrinks with it. A run
// under way keeps what it was asked for at its start: hiding the panel during
// a run lets the panel go on filling, unseen, and showing it during a run
// shows previews from the next run on.
void CVeltranaMFCDlg::OnPreviewPanel(bool shown) {
    previewPanel->setVisible(shown);
    previewWanted = shown;
    fitToPreviewPanel();
}

// With the panel the window may be resized, the panel taking what it gains
// or loses; it starts at the size it always had. Without the panel the
// window is the controls' size.
void CVeltranaMFCDlg::fitToPreviewPanel() {
    if (!previewPanel->isVisibleTo(this)) {
        layout()->setSizeConstraint(QLayout::SetFixedSize);
        return;
    }
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    layout()->activate();
    resize(sizeHint());
}

// Runs an update on the window's thread while the calling job thread waits.
// The wait also ends when the window starts closing, so a closing window can
// join the worker without both threads waiting for each other.
void CVeltranaMFCDlg::carryOut(std::function<void()> update) {
    if (QThread::currentThread() == thread()) {
        update();
        return;
    }
    std::unique_lock lock(dispatchMutex);
    if (closing) {
        return;
    }
    auto finished = std::make_shared<bool>(false);
    const std::uint64_t epoch = dispatchEpoch;
    QMetaObject::invokeMethod(
        this,
        [this, update = std::move(update), finished, epoch] {
            if (!closing && epoch == dispatchEpoch) {
                update();
            }
            {
                const std::lock_guard guard(dispatchMutex);
                *finished = true;
            }
            dispatchDone.notify_all();
        },
        Qt::QueuedConnection);
    dispatchDone.wait(lock, [&] { return *finished || closing; });
}

void CVeltranaMFCDlg::setLogText(const std::string& text) {
    // the jobs end lines in "\r\n"; the box shows them as plain lines
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (shown.endsWith(QLatin1Char('\n'))) {
        shown.chop(1);
    }
    carryOut([this, shown] {
        logBox->setPlainText(shown);
        // when long lines wrap past the box, the newest line is the one to see
        logBox->verticalScrollBar()->setValue(logBox->verticalScrollBar()->maximum());
        logBox->repaint();
    });
}

void CVeltranaMFCDlg::setProgressRange(int maximum) {
    carryOut([this, maximum] {
        // a range of 0..0 would make the bar a busy indicator
        progressBar->setRange(0, std::max(maximum, 1));
        progressBar->repaint();
    });
}

void CVeltranaMFCDlg::setProgressStep(int step) {
    carryOut([this, step] { progressStep = step; });
}

void CVeltranaMFCDlg::stepProgress() {
    carryOut([this] {
        progressBar->setValue(
            std::min(progressBar->value() + progressStep, progressBar->maximum()));
        progressBar->repaint();
    });
}

void CVeltranaMFCDlg::setProgressPosition(int position) {
    carryOut([this, position] {
        progressBar->setValue(std::clamp(position, progressBar->minimum(), progressBar->maximum()));
        progressBar->repaint();
    });
}

void CVeltranaMFCDlg::enableStart(bool enabled) {
    carryOut([this, enabled] {
        startButton->setEnabled(enabled);
        startButton->repaint();
    });
}

void CVeltranaMFCDlg::enableStop(bool enabled) {
    carryOut([this, enabled] {
        stopButton->setEnabled(enabled);
        stopButton->repaint();
    });
}

PreviewRequest CVeltranaMFCDlg::previewRequest() const {
    PreviewRequest request;
    if (previewWanted) {
        request.frames = true;
        request.picturesPerSecond = kPreviewPicturesPerSecond;
    }
    return request;
}

// The job's thread hands over a copy and goes on; the panel, a child of this
// window, takes it on the window's thread. A queued call to a panel that is
// gone is dropped with it.
void CVeltranaMFCDlg::framePreview(const FramePreview& preview) {
    const std::uint64_t run = previewRun;
    QMetaObject::invokeMethod(
        previewPanel,
        [this, preview, run] {
            if (run == previewRun) {
                previewPanel->showFrame(preview);
            }
        },
        Qt::QueuedConnection);
}

void CVeltranaMFCDlg::runWarning(const RunWarning& warning) {
    const std::uint64_t run = previewRun;
    QMetaObject::invokeMethod(
        previewPanel,
        [this, warning, run] {
            if (run == previewRun) {
                previewPanel->showWarning(warning);
            }
        },
        Qt::QueuedConnection);
}

void CVeltranaMFCDlg::picturePreview(const FramePreview& preview, const cv::Mat& picture) {
    const std::uint64_t run = previewRun;
    FramePreview numbers = preview;
    // the samples come with every frame's numbers; the picture needs none
    numbers.samples.clear();
    QMetaObject::invokeMethod(
        previewPanel,
        [this, numbers = std::move(numbers), image = previewImage(picture), run] {
            if (run == previewRun) {
                previewPanel->showPicture(numbers, image);
            }
        },
        Qt::QueuedConnection);
}

} // namespace veltrana::ui
