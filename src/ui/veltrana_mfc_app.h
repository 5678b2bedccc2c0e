#pragma once
// The application object of the desktop program.

#include <QApplication>

namespace veltrana::ui {

// Holds no data of its own: InitInstance shows the main window as a modal
// dialog and the program ends when it closes.
class CVeltranaMFCApp : public QApplication {
    Q_OBJECT

public:
    CVeltranaMFCApp(int& argc, char** argv);

    // Runs the program; the result is the exit status.
    int InitInstance();
};

} // namespace veltrana::ui
