#pragma once
// --report DIR: the command's observer shows the run on the terminal as
// always and also gathers it for the run report, written when the job ends.

#include "cli/command.h"
#include "job/job_end.h"
#include "job/observer.h"
#include "report/run_report.h"

#include <filesystem>
#include <string>

namespace veltrana::cli {

// Passes every call on to the observer that shows the run and, when there is
// a collector, hands it the previews of every frame.
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
};

// Ends the collection and writes the report into `dir` when the run read a
// frame. Says where it went on the output stream (unless quiet); a report
// that cannot be written is a warning on the error stream, and leaves the
// command's exit status alone.
void writeReport(RunCollector& collector, const std::filesystem::path& dir, RunEnd end, bool quiet,
                 CommandIo& io);

// What a run wrote, as the command says it once the terminal is done with
// the run: the sentence a successful run's report closes with, and the files.
struct RunWritten {
    std::string done;
    std::vector<std::filesystem::path> outputs;
    std::filesystem::path sound; // the sound among them
};

// How a job command ends, once it has said what it wrote: the report (when
// one was asked for) closes with `written.done` or the job's message; the
// message goes to the error stream when the log lines that say it were not
// shown (quiet); and the exit status follows the job (2 for a usage the scans
// refuse).
int endJobCommand(const JobEnding& ending, RunWritten written, RunCollector* collector,
                  const std::filesystem::path& reportDir, bool quiet, CommandIo& io);

} // namespace veltrana::cli
