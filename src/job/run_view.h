#pragma once
// What a run of either job shows of itself, and the one way it ends.
//
// A run holds one RunView: the observer it reports to (a silent one when it
// has none), its log by the six-line rule, and the previews the observer
// asked for at the start.

#include "geometry/frame_correction.h"
#include "job/frame_sequence.h"
#include "job/job_end.h"
#include "job/job_log.h"
#include "job/observer.h"
#include "job/preview.h"

#include <opencv2/core.hpp>

#include <string>

namespace veltrana {

// Whether a job has a Stop button that its end enables again.
enum class StopButton { Shown, None };

class RunView {
public:
    RunView(JobObserver* shownTo, StopButton stop);
    RunView(const RunView&) = delete;
    RunView& operator=(const RunView&) = delete;

    JobObserver& ui() { return observer; }
    JobLog& log() { return jobLog; }

    // Ends the run without its output: the bar emptied, the log showing
    // only logText, Start enabled, and Stop too when the run was stopped,
    // could not read a frame or broke off.
    JobEnding end(JobEnd how, const std::string& logText, std::string message);
    JobEnding end(JobEnd how, const std::string& message) { return end(how, message, message); }
    // Ends a run that broke off on an unexpected error: kRunBrokeOff and why.
    JobEnding brokeOff(const char* what);

    // Whether a frame measured now should make a preview picture.
    bool pictureDue() const { return pacer.due(); }

    // What is shown of one frame: its numbers when the observer asked for
    // every frame's, its picture (when it has one) when one is due; taking a
    // picture's turn.
    struct Showing {
        bool numbers = false;
        bool picture = false;
        explicit operator bool() const { return numbers || picture; }
    };
    Showing showing(const cv::Mat& picture);
    void show(const Showing& showing, const FramePreview& preview, const cv::Mat& picture);

private:
    NullObserver silent;
    JobObserver& observer;
    JobLog jobLog;
    const StopButton stop;
    const PreviewRequest previews;
    PicturePacer pacer;
};

// The numbers every preview of a frame starts from: the frame, its file,
// the scan's size and its trim.
FramePreview framePreviewOf(const FrameSequence& sequence, int frame, cv::Size scanSize,
                            const FrameBounds& bounds);

} // namespace veltrana
