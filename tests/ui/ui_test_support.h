#pragma once
// Helpers for driving the desktop program's windows in tests.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>

class QCheckBox;
class QWidget;

namespace veltrana::ui::test {

// The child of `parent` with this object name; fails the test when missing.
template <typename T> T* child(const QObject& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no child named " << name;
    return found;
}

// Clicks a check box on its tick mark, as a person does (a click beside the
// text of a box wider than its text does not toggle it).
void clickBox(QCheckBox* box);

// Processes events until `done` holds or `timeoutMs` passes; the result of
// the last check.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 30'000);

// Runs `action` on the next modal dialog to open (from a timer, since the code
// that opens it blocks in the dialog's own event loop).
void whenModalOpens(std::function<void(QWidget& dialog)> action);

// Points HOME at another folder for the life of the object, so that the
// window's "home folder" defaults land in a test folder.
class ScopedHome {
public:
    explicit ScopedHome(const QString& folder);
    ~ScopedHome();
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

private:
    QByteArray previous;
};

// Restores the process's current folder, which a job may change.
class ScopedCurrentFolder {
public:
    ScopedCurrentFolder();
    ~ScopedCurrentFolder();
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

private:
    QString previous;
};

} // namespace veltrana::ui::test
