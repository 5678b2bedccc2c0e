#include "report/reporting_observer.h"

#include "job/frame_sequence.h"

#include <limits>
#include <utility>

namespace veltrana {

ReportingObserver::ReportingObserver(JobObserver& shown, RunCollector* collector)
    : shown(shown), collector(collector), shownFrames(shown.previewRequest().frames),
      shownPictures(shown.previewRequest()) {}

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
    if (collector == nullptr) {
        shown.framePreview(preview);
        return;
    }
    if (shownFrames) {
        shown.framePreview(preview);
    }
    collector->addFrame(preview);
}

void ReportingObserver::picturePreview(const FramePreview& preview, const cv::Mat& picture) {
    if (collector == nullptr) {
        shown.picturePreview(preview, picture);
        return;
    }
    if (shownPictures.take()) {
        shown.picturePreview(preview, picture);
    }
    collector->addPicture(preview, picture);
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

RunWritten soundtrackWritten(const SoundtrackResult& result) {
    RunWritten written;
    written.done = "The sound was written to " + result.wavPath.string() + " (" +
                   std::to_string(result.sampleCount) + " samples at " +
                   std::to_string(result.sampleRate) + " Hz).";
    written.sound = result.wavPath;
    for (const auto& path : {result.wavPath, result.joinsPath, result.lengthsPath}) {
        if (!path.empty()) {
            written.outputs.push_back(path);
        }
    }
    return written;
}

RunWritten filmWritten(const FilmResult& result) {
    RunWritten written;
    written.done = "The movie was written to " + result.moviePath.string() + " (" +
                   std::to_string(result.movieFrames) + " frames).";
    if (result.succeeded()) {
        written.outputs.push_back(result.moviePath);
    }
    return written;
}

Result<std::filesystem::path> finishRunReport(RunCollector& collector,
                                              const std::filesystem::path& dir,
                                              const JobEnding& ending, RunWritten written) {
    const bool succeeded = ending.succeeded();
    collector.finish(RunEnd{succeeded, succeeded ? written.done : ending.message,
                            jobEndName(ending.end), std::move(written.outputs),
                            std::move(written.sound)});
    if (collector.framesSeen() == 0) {
        return Status::failure("no report written to " + dir.string() + ": the run read no frame");
    }
    if (const Status report = writeRunReport(collector.record(), dir); !report) {
        return Status::failure("the run report was not written. " + report.message());
    }
    return dir / kReportPage;
}

Status checkReportLeavesRun(const std::filesystem::path& frames,
                            const std::filesystem::path& output, const std::filesystem::path& dir,
                            std::string_view what) {
    if (Status refused = checkOutputOutsideReport(output, dir, what); !refused) {
        return refused;
    }
    const Result<FrameSequence> sequence = listFrameSequence(frames);
    return sequence ? checkScansOutsideReport(sequence->directory, dir) : Status{};
}

} // namespace veltrana
