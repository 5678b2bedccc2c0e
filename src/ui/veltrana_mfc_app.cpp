#include "ui/veltrana_mfc_app.h"

#include "geometry/trace.h"
#include "ui/artwork.h"
#include "ui/veltrana_mfc_dlg.h"

namespace veltrana::ui {

CVeltranaMFCApp::CVeltranaMFCApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("VeltranaMFC"));
    setApplicationVersion(QStringLiteral(VELTRANA_VERSION));
    // names where settings would live; the program keeps none between runs
    setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    setWindowIcon(veltranaIcon());
}

int CVeltranaMFCApp::InitInstance() {
    // the measuring code explains its decisions on standard output
    setTraceEnabled(true);
    CVeltranaMFCDlg mainWindow;
    mainWindow.exec();
    return 0;
}

} // namespace veltrana::ui
