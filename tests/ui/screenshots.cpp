// Saves PNG pictures of the main window, its menu and every dialog, as the
// windows draw themselves, for the documentation and for looking at them.
//
//   veltrana-gui-screenshots <output folder> [<frame folder>]
//
// With a frame folder (scans *.tif), the main window is shown in the middle of
// a real soundtrack run over its first frames (at most 24) and after it, so
// the log, the bar and the preview panel are in use, and once more after a
// short film run, for the cut regions in the preview.

#include "ui/artwork.h"
#include "ui/film_parameters.h"
#include "ui/info_close.h"
#include "ui/movie_parameters.h"
#include "ui/preview_panel.h"
#include "ui/sound_parameters.h"
#include "ui/veltrana_mfc_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTextStream>

#include <cstdio>

using namespace veltrana::ui;

namespace {

void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

bool save(const QPixmap& picture, const QDir& folder, const QString& name) {
    const QString path = folder.filePath(name);
    if (!picture.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), picture.width(), picture.height());
    return true;
}

QPixmap shoot(QWidget& window) {
    window.show();
    settle();
    return window.grab();
}

// The main window with one of its menus dropped down, as a person sees it.
QPixmap withMenuOpen(CVeltranaMFCDlg& window, const QString& title) {
    auto* bar = window.findChild<QMenuBar*>();
    QAction* menuAction = nullptr;
    for (QAction* action : bar->actions()) {
        if (action->text() == title) {
            menuAction = action;
        }
    }
    QMenu* menu = menuAction->menu();
    const QPoint at = bar->mapTo(&window, bar->actionGeometry(menuAction).bottomLeft());
    menu->popup(window.mapToGlobal(at));
    settle();
    const QPixmap menuPicture = menu->grab();
    menu->hide();

    QPixmap picture = window.grab();
    const QSize size = picture.size().expandedTo(
        QSize(at.x() + menuPicture.width(), at.y() + menuPicture.height()));
    QPixmap combined(size);
    combined.fill(window.palette().color(QPalette::Window));
    QPainter painter(&combined);
    painter.drawPixmap(0, 0, picture);
    painter.drawPixmap(at, menuPicture);
    return combined;
}

// Points the window's input at the folder's first scan and its output at a
// file of this name in outFolder; the number of scans, 0 when there are none.
qsizetype chooseFiles(CVeltranaMFCDlg& window, const QString& frameFolder, const QString& output) {
    const QStringList scans = QDir(frameFolder).entryList({QStringLiteral("*.tif")}, QDir::Files);
    if (scans.isEmpty()) {
        std::fprintf(stderr, "no scans in %s\n", qPrintable(frameFolder));
        return 0;
    }
    const QString firstScan = QDir(frameFolder).filePath(scans.constFirst());
    window.setFileDialog([output, firstScan](QWidget*, const FileDialogRequest& request) {
        return std::optional<QString>(request.save ? output : firstScan);
    });
    window.findChild<QAction*>(QStringLiteral("inputDirectoryAction"))->trigger();
    window.findChild<QAction*>(QStringLiteral("outputDirectoryAction"))->trigger();
    return scans.size();
}

// Runs frames 1..24 of the folder (or as many as there are) through the
// window; the picture of the window halfway through, once the panel has a
// frame's picture, and the window is left as the run ends.
QPixmap runSoundtrack(CVeltranaMFCDlg& window, const QString& frameFolder, const QDir& outFolder) {
    const QString output = outFolder.filePath(QStringLiteral("screenshot-run.wav"));
    const qsizetype scans = chooseFiles(window, frameFolder, output);
    if (scans == 0) {
        return {};
    }
    const int last = static_cast<int>(std::min<qsizetype>(scans, 24));
    window.findChild<QLineEdit*>(QStringLiteral("stopEdit"))->setText(QString::number(last));
    window.findChild<QPushButton*>(QStringLiteral("startButton"))->click();
    const auto* panel = window.findChild<PreviewPanel*>();
    QPixmap middle;
    QElapsedTimer timer;
    timer.start();
    while (window.soundtrackRunning() && timer.elapsed() < 300'000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (middle.isNull() && panel->framesShown() >= last / 2) {
            middle = window.grab();
        }
    }
    settle();
    QFile::remove(output);
    return middle;
}

// Cuts frames 1..6 into a movie; Start returns when it is done.
void runFilm(CVeltranaMFCDlg& window, const QString& frameFolder, const QDir& outFolder) {
    const QString output = outFolder.filePath(QStringLiteral("screenshot-run.avi"));
    const qsizetype scans = chooseFiles(window, frameFolder, output);
    if (scans == 0) {
        return;
    }
    window.findChild<QCheckBox*>(QStringLiteral("filmBox"))->click();
    window.findChild<QLineEdit*>(QStringLiteral("stopEdit"))
        ->setText(QString::number(std::min<qsizetype>(scans, 6)));
    window.findChild<QPushButton*>(QStringLiteral("startButton"))->click();
    settle();
    QFile::remove(output);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("VeltranaMFC"));
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: veltrana-gui-screenshots <output folder> [<frame folder>]\n");
        return 2;
    }
    const QDir folder(args.at(1));
    if (!folder.exists()) {
        std::fprintf(stderr, "no folder %s\n", qPrintable(args.at(1)));
        return 2;
    }
    const QString cwd = QDir::currentPath();

    bool ok = true;
    CVeltranaMFCDlg window;
    window.setMessageBox([](QWidget*, const QString& text) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    });
    window.show();
    settle();
    if (args.size() > 2) {
        const QPixmap middle = runSoundtrack(window, args.at(2), folder);
        QDir::setCurrent(cwd);
        if (!middle.isNull()) {
            ok &= save(middle, folder, QStringLiteral("ui-main-running.png"));
        }
    }
    ok &= save(shoot(window), folder, QStringLiteral("ui-main.png"));
    ok &= save(withMenuOpen(window, QStringLiteral("File")), folder,
               QStringLiteral("ui-menu-file.png"));
    ok &= save(withMenuOpen(window, QStringLiteral("Options")), folder,
               QStringLiteral("ui-menu-options.png"));

    auto* film = window.findChild<FilmParameters*>();
    ok &= save(shoot(*film), folder, QStringLiteral("ui-film-parameters.png"));
    film->findChild<QCheckBox*>(QStringLiteral("manualResolutionBox"))->click();
    film->findChild<QLineEdit*>(QStringLiteral("resolutionXEdit"))->setText(QStringLiteral("2400"));
    film->findChild<QLineEdit*>(QStringLiteral("resolutionYEdit"))->setText(QStringLiteral("2400"));
    film->findChild<QCheckBox*>(QStringLiteral("downBox"))->click();
    settle();
    ok &= save(film->grab(), folder, QStringLiteral("ui-film-parameters-manual.png"));
    film->reject();

    auto* sound = window.findChild<SoundParameters*>();
    ok &= save(shoot(*sound), folder, QStringLiteral("ui-sound-parameters.png"));
    sound->findChild<QCheckBox*>(QStringLiteral("archivalBox"))->click();
    settle();
    ok &= save(sound->grab(), folder, QStringLiteral("ui-sound-parameters-archival.png"));
    sound->reject();

    auto* movie = window.findChild<MovieParameters*>();
    ok &= save(shoot(*movie), folder, QStringLiteral("ui-movie-parameters.png"));
    movie->reject();

    InfoClose info(&window);
    ok &= save(shoot(info), folder, QStringLiteral("ui-info.png"));
    info.reject();

    // the two rotation pictures, four times enlarged, UP on the left
    constexpr int kZoom = 4;
    QPixmap pictures(2 * kZoom * kRotationPictureWidth + 3 * kZoom,
                     kZoom * kRotationPictureHeight + 2 * kZoom);
    pictures.fill(Qt::white);
    {
        QPainter painter(&pictures);
        const QSize zoomed(kZoom * kRotationPictureWidth, kZoom * kRotationPictureHeight);
        painter.drawPixmap(QRect(QPoint(kZoom, kZoom), zoomed), frameRotationPicture(true));
        painter.drawPixmap(QRect(QPoint(2 * kZoom + zoomed.width(), kZoom), zoomed),
                           frameRotationPicture(false));
    }
    ok &= save(pictures, folder, QStringLiteral("ui-rotation-pictures.png"));
    QPixmap iconPicture(64 + 32 + 16 + 4 * 8, 64 + 16);
    iconPicture.fill(Qt::white);
    {
        QPainter painter(&iconPicture);
        const QIcon icon = veltranaIcon();
        painter.drawPixmap(8, 8, icon.pixmap(64, 64));
        painter.drawPixmap(80, 8, icon.pixmap(32, 32));
        painter.drawPixmap(120, 8, icon.pixmap(16, 16));
    }
    ok &= save(iconPicture, folder, QStringLiteral("ui-icon.png"));

    // last, as it leaves "make film" ticked: the preview of a film run
    if (args.size() > 2) {
        runFilm(window, args.at(2), folder);
        QDir::setCurrent(cwd);
        ok &= save(shoot(window), folder, QStringLiteral("ui-main-film.png"));
    }

    window.hide();
    return ok ? 0 : 1;
}
