#pragma once
// How a job shows itself on the command line: each new log line once, on the
// error stream, and a progress bar beneath them when that stream is a
// terminal.

#include "job/observer.h"

#include <iosfwd>
#include <string>

namespace veltrana::cli {

class TerminalObserver : public JobObserver {
public:
    // quiet: print nothing at all. progressBar: draw the bar (terminals only).
    TerminalObserver(std::ostream& err, bool quiet, bool progressBar);

    void setLogText(const std::string& text) override;
    void setProgressRange(int maximum) override;
    void setProgressStep(int step) override;
    void stepProgress() override;
    void setProgressPosition(int position) override;
    void enableStart(bool) override {}
    void enableStop(bool) override {}

    // Ends the bar's line so later output starts on a fresh line.
    void finish();

private:
    void clearBar();
    void drawBar();

    std::ostream& err;
    bool quiet;
    bool progressBar;
    bool barShown = false;
    std::string shownText;
    int maximum = 100;
    int step = 10;
    int position = 0;
};

} // namespace veltrana::cli
