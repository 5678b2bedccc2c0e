#include "job/run_view.h"

#include <utility>

namespace veltrana {

RunView::RunView(JobObserver* shownTo, StopButton stop)
    : observer(shownTo != nullptr ? *shownTo : silent), jobLog(observer), stop(stop),
      previews(observer.previewRequest()), pacer(previews) {}

JobEnding RunView::end(JobEnd how, const std::string& logText, std::string message) {
    observer.setProgressPosition(0);
    jobLog.replaceWith(logText);
    observer.enableStart(true);
    const bool stopAgain =
        how == JobEnd::Stopped || how == JobEnd::UnreadableFrame || how == JobEnd::Error;
    if (stop == StopButton::Shown && stopAgain) {
        observer.enableStop(true);
    }
    return {how, std::move(message)};
}

JobEnding RunView::brokeOff(const char* what) {
    return end(JobEnd::Error, std::string(kRunBrokeOff) + what);
}

RunView::Showing RunView::showing(const cv::Mat& picture) {
    Showing s;
    s.picture = !picture.empty() && pacer.take();
    s.numbers = previews.frames;
    return s;
}

void RunView::show(const Showing& s, const FramePreview& preview, const cv::Mat& picture) {
    if (s.numbers) {
        observer.framePreview(preview);
    }
    if (s.picture) {
        observer.picturePreview(preview, picture);
    }
}

FramePreview framePreviewOf(const FrameSequence& sequence, int frame, cv::Size scanSize,
                            const FrameBounds& bounds) {
    FramePreview preview;
    preview.frame = frame;
    preview.path = sequence.frames[static_cast<std::size_t>(frame - 1)];
    preview.file = preview.path.filename().string();
    preview.scanSize = scanSize;
    preview.bounds = bounds;
    return preview;
}

} // namespace veltrana
