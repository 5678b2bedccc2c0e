#pragma once
// How a job shows itself on the command line: each new log line once, on the
// error stream, and a progress bar beneath them when that stream is a
// terminal, or on a terminal of its own when the lines go to a log file.

#include "job/observer.h"

#include <iosfwd>
#include <string>

namespace veltrana::cli {

class TerminalObserver : public JobObserver {
public:
    // quiet: print nothing at all. bar: where to draw the progress bar (a
    // terminal: `err` itself, or another), or nothing for none.
    TerminalObserver(std::ostream& err, bool quiet, std::ostream* bar);

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
    std::ostream* bar; // nothing when no bar is drawn
    bool barShown = false;
    std::string shownText;
    int maximum = 100;
    int step = 10;
    int position = 0;
};

} // namespace veltrana::cli
