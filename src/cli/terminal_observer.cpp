#include "cli/terminal_observer.h"

#include <algorithm>
#include <ostream>

namespace veltrana::cli {

namespace {

// The log box's lines end in "\r\n"; a terminal wants "\n".
std::string terminalLines(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    if (!text.empty() && text.back() != '\n') {
        text.push_back('\n');
    }
    return text;
}

} // namespace

TerminalObserver::TerminalObserver(std::ostream& err, bool quiet, std::ostream* bar)
    : err(err), quiet(quiet), bar(quiet ? nullptr : bar) {}

void TerminalObserver::setLogText(const std::string& text) {
    // The job always sends the whole text: print only what was added, or the
    // whole text when it started afresh.
    std::string added;
    if (!shownText.empty() && text.size() >= shownText.size() &&
        text.compare(0, shownText.size(), shownText) == 0) {
        added = text.substr(shownText.size());
    } else {
        added = text;
    }
    shownText = text;
    if (quiet || added.empty()) {
        return;
    }
    clearBar();
    err << terminalLines(added);
    drawBar();
    err.flush();
}

void TerminalObserver::setProgressRange(int max) {
    maximum = std::max(max, 0);
    position = 0;
    drawBar();
}

void TerminalObserver::setProgressStep(int s) {
    step = s;
}

void TerminalObserver::stepProgress() {
    // a bar steps round to the start when it passes its end
    position += step;
    if (position > maximum) {
        position = 0;
    }
    drawBar();
}

void TerminalObserver::setProgressPosition(int p) {
    position = std::clamp(p, 0, maximum);
    drawBar();
}

void TerminalObserver::clearBar() {
    if (barShown) {
        *bar << "\r\033[K";
        barShown = false;
    }
}

void TerminalObserver::drawBar() {
    if (bar == nullptr) {
        return;
    }
    constexpr int kWidth = 40;
    const int filled = maximum > 0 ? position * kWidth / maximum : 0;
    *bar << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << position << "/"
         << maximum << "\033[K";
    bar->flush();
    barShown = true;
}

void TerminalObserver::finish() {
    clearBar();
    if (bar != nullptr) {
        bar->flush();
    }
    err.flush();
}

} // namespace veltrana::cli
