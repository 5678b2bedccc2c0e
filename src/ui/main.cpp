// veltrana-gui: the desktop program.

#include "reading/scan_reader.h"
#include "ui/veltrana_mfc_app.h"

int main(int argc, char** argv) {
    veltrana::reuseLargeImageBuffers();
    veltrana::silenceImageLibraryLog();
    veltrana::ui::CVeltranaMFCApp app(argc, argv);
    return app.InitInstance();
}
