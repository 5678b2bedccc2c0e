#pragma once
// What a running job shows of itself.
//
// The jobs drive a log box, a progress bar and the Start and Stop buttons
// through this interface; the desktop window and the command line each
// implement it. Each call is one complete, synchronous update: when it
// returns, the change is visible.

#include "job/preview.h"

#include <string>

namespace veltrana {

class JobObserver {
public:
    virtual ~JobObserver() = default;

    // Replaces the whole log text (lines end in "\r\n").
    virtual void setLogText(const std::string& text) = 0;

    // Progress bar: range 0..maximum, step size, one step, position.
    virtual void setProgressRange(int maximum) = 0;
    virtual void setProgressStep(int step) = 0;
    virtual void stepProgress() = 0;
    virtual void setProgressPosition(int position) = 0;

    virtual void enableStart(bool enabled) = 0;
    virtual void enableStop(bool enabled) = 0;

    // Previews, for an observer that asks for them (asked once, at the start
    // of a run): the numbers of every frame, in frame order, and a picture
    // now and then. A job that is not asked makes none.
    virtual PreviewRequest previewRequest() const { return {}; }
    virtual void framePreview(const FramePreview&) {}
    // The frame's numbers with its picture (previewPicture of the scan).
    virtual void picturePreview(const FramePreview&, const cv::Mat&) {}

    // A warning about the whole run, once it is known (also in the log).
    virtual void runWarning(const RunWarning&) {}

    // A frame whose scan could not be read, in its turn, when the run goes on
    // past it (also in the log).
    virtual void frameLost(const LostFrame&) {}
};

// Shows nothing; for jobs run without a front end (benchmarks, tests).
class NullObserver : public JobObserver {
public:
    void setLogText(const std::string&) override {}
    void setProgressRange(int) override {}
    void setProgressStep(int) override {}
    void stepProgress() override {}
    void setProgressPosition(int) override {}
    void enableStart(bool) override {}
    void enableStop(bool) override {}
};

} // namespace veltrana
