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

void writeReport(RunCollector& collector, const std::filesystem::path& dir, bool succeeded,
                 const std::string& ending, bool quiet, CommandIo& io) {
    collector.finish(succeeded, ending);
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

int endJobCommand(const JobEnding& ending, const std::string& done, RunCollector* collector,
                  const std::filesystem::path& reportDir, bool quiet, CommandIo& io) {
    const bool succeeded = ending.succeeded();
    const std::string& message = ending.message;
    if (collector != nullptr) {
        writeReport(*collector, reportDir, succeeded, succeeded ? done : message, quiet, io);
    }
    if (succeeded) {
        return kExitOk;
    }
    if (quiet) {
        io.err << "veltrana: " << message << "\n";
    }
    return ending.end == JobEnd::UsageRefused ? kExitUsage : kExitFailed;
}

} // namespace veltrana::cli
