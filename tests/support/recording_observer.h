#pragma once
// A JobObserver that remembers what a job showed.

#include "job/observer.h"

#include <string>
#include <vector>

namespace veltrana::test {

class RecordingObserver : public JobObserver {
public:
    void setLogText(const std::string& text) override {
        logText = text;
        logTexts.push_back(text);
        calls.push_back("log");
    }
    void setProgressRange(int maximum) override {
        progressMaximum = maximum;
        ranges.push_back(maximum);
        calls.push_back("range " + std::to_string(maximum));
    }
    void setProgressStep(int step) override { calls.push_back("step " + std::to_string(step)); }
    void stepProgress() override {
        ++steps;
        calls.push_back("stepit");
    }
    void setProgressPosition(int position) override {
        positions.push_back(position);
        calls.push_back("pos " + std::to_string(position));
    }
    void enableStart(bool enabled) override {
        startEnabled = enabled;
        startSwitches.push_back(enabled);
        calls.push_back(enabled ? "start on" : "start off");
    }
    void enableStop(bool enabled) override {
        stopEnabled = enabled;
        calls.push_back(enabled ? "stop on" : "stop off");
    }

    // Whether any log text the job showed holds `line`.
    bool logged(const std::string& line) const {
        for (const std::string& text : logTexts) {
            if (text.find(line) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    // The last of each (of the steps, how many), and every call in order
    std::string logText;
    int progressMaximum = -1;
    int steps = 0;
    bool startEnabled = true;
    bool stopEnabled = false;
    std::vector<std::string> calls;
    // Each in the order shown
    std::vector<std::string> logTexts;
    std::vector<int> ranges;
    std::vector<int> positions;
    std::vector<bool> startSwitches;
};

} // namespace veltrana::test
