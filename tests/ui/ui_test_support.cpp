#include "ui/ui_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace veltrana::ui::test {

void clickBox(QCheckBox* box) {
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return done();
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void whenModalOpens(std::function<void(QWidget& dialog)> action) {
    // polls, since the dialog appears only once the opening code runs
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action = std::move(action)] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        action(*dialog);
    });
    timer->start();
}

ScopedHome::ScopedHome(const QString& folder) : previous(qgetenv("HOME")) {
    qputenv("HOME", QFile::encodeName(folder));
}

ScopedHome::~ScopedHome() {
    qputenv("HOME", previous);
}

ScopedCurrentFolder::ScopedCurrentFolder() : previous(QDir::currentPath()) {}

ScopedCurrentFolder::~ScopedCurrentFolder() {
    QDir::setCurrent(previous);
}

} // namespace veltrana::ui::test
