// veltrana-gui: the desktop program.

#include "ui/veltrana_mfc_app.h"

int main(int argc, char** argv) {
    veltrana::ui::CVeltranaMFCApp app(argc, argv);
    return app.InitInstance();
}
