#pragma once
// A run report gathered beside the run as a front end shows it: the
// front end's observer is wrapped by one that also hands every frame to a
// RunCollector, and once the job has ended the report is written with what
// the run wrote.

#include "base/status.h"
#include "job/job_end.h"
#include "job/observer.h"
#include "movie/film_job.h"
#include "report/run_report.h"
#include "soundtrack/soundtrack_job.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veltrana {

// Passes every call on to the observer that shows the run and, when there is
// a collector, hands it the previews of every frame. The job is then asked
// for every frame and a picture of each; the observer that shows the run
// still gets only what it asked for, its pictures at its own pace.
class ReportingObserver : public JobObserver {
public:
    ReportingObserver(JobObserver& shown, RunCollector* collector);

    void setLogText(const std::string& text) override { shown.setLogText(text); }
    void setProgressRange(int maximum) override { shown.setProgressRange(maximum); }
    void setProgressStep(int step) override { shown.setProgressStep(step); }
    void stepProgress() override { shown.stepProgress(); }
    void setProgressPosition(int position) override { shown.setProgressPosition(position); }
    void enableStart(bool enabled) override { shown.enableStart(enabled); }
    void enableStop(bool enabled) override { shown.enableStop(enabled); }

    PreviewRequest previewRequest() const override;
    void framePreview(const FramePreview& preview) override;
    void picturePreview(const FramePreview& preview, const cv::Mat& picture) override;
    void runWarning(const RunWarning& warning) override;
    void frameLost(const LostFrame& lost) override;

private:
    JobObserver& shown;
    RunCollector* collector;
    // what the shown observer asked for when the run started
    bool shownFrames = false;
    PicturePacer shownPictures;
};

// What a run wrote: the sentence a successful run's report closes with, and
// the files.
struct RunWritten {
    std::string done;
    std::vector<std::filesystem::path> outputs;
    std::filesystem::path sound; // the sound among them
};

RunWritten soundtrackWritten(const SoundtrackResult& result);
RunWritten filmWritten(const FilmResult& result);

// Ends the collection with how the run ended (the report closes with
// `written.done` or the job's message) and writes the report into `dir` when
// the run read a frame: the page written, or a sentence saying why none was
// (a warning: the run's own result stands).
Result<std::filesystem::path> finishRunReport(RunCollector& collector,
                                              const std::filesystem::path& dir,
                                              const JobEnding& ending, RunWritten written);

// Refuses a report into `dir` that would replace the output (`what` names
// it: "the sound") or the scans of `frames` (their folder, or any scan in it).
Status checkReportLeavesRun(const std::filesystem::path& frames,
                            const std::filesystem::path& output, const std::filesystem::path& dir,
                            std::string_view what);

} // namespace veltrana
