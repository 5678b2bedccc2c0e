// veltrana-gui: the desktop program.

#include "base/standard_streams.h"
#include "movie/movie_check.h"
#include "reading/scan_reader.h"
#include "ui/veltrana_mfc_app.h"

int main(int argc, char** argv) {
    // before anything is opened: a closed stderr must not become an output
    if (!veltrana::openClosedStandardStreams()) {
        return 1;
    }
    veltrana::reuseLargeImageBuffers();
    veltrana::silenceImageLibraryLog();
    veltrana::silenceMovieLibraryLog();
    // the image library's own lines about a damaged scan: the log says it
    (void)veltrana::ownErrorStream();
    veltrana::ui::CVeltranaMFCApp app(argc, argv);
    return app.InitInstance();
}
