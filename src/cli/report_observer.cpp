#include "cli/report_observer.h"

#include <limits>
#include <ostream>

namespace veltrana::cli {

ReportingObserver::ReportingObserver(JobObserver& shown, RunCollector* collector)
    : shown(shown), collector(collector) {}

PreviewRequest ReportingObserver::previewRequest() const {
    PreviewRequest request = shown.previewRequest();
    if (collector != nullptr) {
        request.frames = true;
        // a picture of every frame: the report cannot tell which frames are
        // worth one before their joins are found, and keeps only those
        request.picturesPerSecond = std::numeric_limits<double>::infinity();
    }
    return request;
}

void ReportingObserver::framePreview(const FramePreview& preview) {
    shown.framePreview(preview);
    if (collector != nullptr) {
        collector->addFrame(preview);
    }
}

void ReportingObserver::picturePreview(const FramePreview& preview, const cv::Mat& picture) {
    shown.picturePreview(preview, picture);
    if (collector != nullptr) {
        collector->addPicture(preview, picture);
    }
}

void ReportingObserver::runWarning(const RunWarning& warning) {
    shown.runWarning(warning);
    if (collector != nullptr) {
        collector->addWarning(warning);
    }
}

void ReportingObserver::frameLost(const LostFrame& lost) {
    shown.frameLost(lost);
    if (collector != nullptr) {
        collector->addLostFrame(lost);
    }
}

void writeReport(RunCollector& collector, const std::filesystem::path& dir, RunEnd end, bool quiet,
                 CommandIo& io) {
    collector.finish(std::move(end));
    if (collector.framesSeen() == 0) {
        io.err << "veltrana: warning: no report written to " << dir.string()
               << ": the run read no frame\n";
        return;
    }
    if (const Status written = writeRunReport(collector.record(), dir); !written) {
        io.err << "veltrana: warning: the run report was not written. " << written.message()
               << "\n";
        return;
    }
    if (!quiet) {
        io.out << "Run report: " << (dir / kReportPage).string() << "\n";
    }
}

int endJobCommand(const JobEnding& ending, RunWritten written, RunCollector* collector,
                  const std::filesystem::path& reportDir, bool quiet, CommandIo& io) {
    const bool succeeded = ending.succeeded();
    if (collector != nullptr) {
        RunEnd end{succeeded, succeeded ? written.done : ending.message, jobEndName(ending.end),
                   std::move(written.outputs), std::move(written.sound)};
        writeReport(*collector, reportDir, std::move(end), quiet, io);
    }
    if (succeeded) {
        return kExitOk;
    }
    if (quiet) {
        io.err << "veltrana: " << ending.message << "\n";
    }
    return ending.end == JobEnd::UsageRefused ? kExitUsage : kExitFailed;
}

} // namespace veltrana::cli
