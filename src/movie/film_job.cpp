#include "movie/film_job.h"

#include "base/kept_texts.h"
#include "geometry/frame_correction.h"
#include "geometry/resolution.h"
#include "geometry/trace.h"
#include "job/frame_scans.h"
#include "job/frame_sequence.h"
#include "job/job_log.h"
#include "job/ordered_frames.h"
#include "job/run_view.h"
#include "job/safe_file.h"
#include "job/stage_clock.h"
#include "movie/film_frame.h"
#include "movie/frame_geometry.h"
#include "movie/movie_file.h"
#include "reading/scan_reader.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <utility>

namespace veltrana {

namespace {

// a progress bar's range is sixteen bits wide
constexpr int kProgressMaximum = 65535;

template <typename... Args> std::string formatLine(const char* format, Args... args) {
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

// One scan's movie frames, cut ahead on any thread with no observer call.
struct FilmReading {
    int number = 0;
    Status loaded; // whether the scan could be loaded, and why not
    cv::Size scanSize;
    FilmFrames cut;
    // the first frame settles the resolution and the geometry
    ScanResolution resolution;
    FrameGeometry geometry;
    std::string trace; // printed when the frame is reported
    cv::Mat picture;   // a preview of the scan, when one was due
    double loadSeconds = 0;
    double cutSeconds = 0;
};

FilmResult filmResult(JobEnding ending) {
    return resultOf<FilmResult>(std::move(ending));
}

// One run: the log, the progress bar and the movie being written.
class FilmRun {
public:
    explicit FilmRun(const FilmJob& job) : job(job), view(job.observer, StopButton::None) {}

    // The whole run; an exception from the image library or an allocation
    // ends it like any other failure.
    FilmResult run() {
        try {
            return steps();
        } catch (const std::exception& e) {
            return filmResult(brokeOff(e.what()));
        } catch (...) {
            return filmResult(brokeOff(kUnknownError));
        }
    }

private:
    FilmResult steps();
    std::optional<JobEnding> prepare();
    FilmReading readFrame(int n) const;
    std::optional<JobEnding> acceptFrame(int n, const FilmReading* frame);
    void logFirstFrame(const FilmReading& frame);
    void showFrame(const FilmReading& frame);
    FilmResult finish();

    // Ends the run without a movie (the temporary one removed).
    JobEnding end(JobEnd how, const std::string& logText, std::string message) {
        movie.discard();
        return view.end(how, logText, std::move(message));
    }
    JobEnding end(JobEnd how, const std::string& message) { return end(how, message, message); }
    JobEnding brokeOff(const char* what) {
        movie.discard();
        return view.brokeOff(what);
    }
    JobEnding stopped(int n) {
        return end(JobEnd::Stopped, kept::kOperationStopped,
                   "Stopped at frame " + std::to_string(n) + ": no movie written");
    }

    FilmCutting cutting() const {
        return {job.soundtrackType, job.longStrip, job.inverse, job.cutSoundtrack};
    }

    const FilmJob& job;
    RunView view;
    MovieFile movie;
    FrameScans scans{job.memoryBudget};
    FrameSequence sequence;
    FrameGeometry geometry;
    cv::Size firstScanSize;
    int unitsPerScan = 1;
};

// Everything that can be refused is refused before a scan is read.
std::optional<JobEnding> FilmRun::prepare() {
    Result<FrameSequence> checked = checkedFrameSequence(job);
    if (!checked) {
        return end(JobEnd::Refused, checked.message());
    }
    sequence = std::move(checked).value();
    for (const std::string& warning : sequence.warnings) {
        view.log().addLine(warning);
    }
    const Result<OutputTarget> target = resolveOutputTarget(job.outputPath, "the movie");
    if (!target) {
        return end(JobEnd::OutputNotWritten, target.message());
    }
    if (Status clash = checkOutputIsNoInput(*target, sequence, {}, "the movie"); !clash) {
        return end(JobEnd::OutputNotWritten, clash.message());
    }

    // 16 mm counts four units per scan, a long strip's four movie frames
    const int scans = job.stopFrame - job.startFrame + 1;
    unitsPerScan = job.soundtrackType == SoundtrackType::VariableArea16 ? 4 : 1;
    view.ui().setProgressRange(std::min(unitsPerScan * scans, kProgressMaximum));
    view.ui().setProgressStep(1);

    if (Status opened = movie.open(*target); !opened) {
        return end(JobEnd::OutputNotWritten, opened.message());
    }
    return std::nullopt;
}

FilmResult FilmRun::steps() {
    view.ui().enableStart(false);
    if (std::optional<JobEnding> refused = prepare()) {
        return filmResult(std::move(*refused));
    }
    // the first frame settles what every other frame is cut with
    if (job.stopAsked()) {
        return filmResult(stopped(job.startFrame));
    }
    {
        const FilmReading first = readFrame(job.startFrame);
        if (std::optional<JobEnding> ended = acceptFrame(job.startFrame, &first)) {
            return filmResult(std::move(*ended));
        }
    }
    // the rest cut on every thread asked for and written in order
    FrameSteps<FilmReading> frames;
    frames.read = [this](int n) { return readFrame(n); };
    frames.accept = [this](const FrameInTurn<FilmReading, NoMeeting>& turn) {
        return acceptFrame(turn.number, turn.frame);
    };
    if (std::optional<JobEnding> ended = walkFrames(job, job.startFrame + 1, frames)) {
        return filmResult(std::move(*ended));
    }
    return finish();
}

FilmResult FilmRun::finish() {
    const int frames = movie.framesWritten();
    const StageClock::time_point began = StageClock::now();
    Status committed = movie.commit();
    if (job.timings != nullptr) {
        job.timings->encode += secondsSince(began);
    }
    if (!committed) {
        return filmResult(end(JobEnd::OutputNotWritten, committed.message()));
    }
    view.ui().setProgressPosition(0);
    view.log().addLine(kept::kCutSuccessfully);
    view.ui().enableStart(true);
    FilmResult result;
    result.movieFrames = frames;
    result.moviePath = job.outputPath;
    return result;
}

FilmReading FilmRun::readFrame(int n) const {
    FilmReading frame;
    frame.number = n;
    TraceCapture capture;
    ScanInFlight inFlight = scans.load(sequence.frames[static_cast<std::size_t>(n - 1)],
                                       job.scanLimits, frame.loadSeconds);
    if (!inFlight.loaded().ok()) {
        frame.loaded = inFlight.loaded().status();
        return frame;
    }
    const LoadedScan& scan = inFlight.loaded();
    const StageClock::time_point began = StageClock::now();
    frame.scanSize = scan.value().size();
    frame.geometry = geometry;
    const ScanView lying(scan.value(), job.trackSide);
    std::optional<FrameBounds> bounds;
    if (n == job.startFrame) {
        // measured on the working image as the measures define it
        bounds = findFrameBounds(lying, job.soundtrackType, job.longStrip);
        const ScanView trimmed = lying.colRange(bounds->left, bounds->right + 1);
        frame.resolution = job.manualResolution ? ScanResolution{job.resolutionX, job.resolutionY}
                                                : detectFilmResolution(trimmed, cutting());
        // only 16 mm measures its pitch on the working image itself
        const bool sixteen = job.soundtrackType == SoundtrackType::VariableArea16;
        frame.geometry = measureFrameGeometry(
            job.soundtrackType, frame.resolution, job.cutSoundtrack,
            sixteen ? filmWorkingImage(trimmed.measuredImage(), job.soundtrackType, job.inverse)
                    : cv::Mat());
    }
    frame.cut = movieFramesOf(lying, cutting(), frame.geometry, bounds);
    frame.cutSeconds = secondsSince(began);
    if (view.pictureDue()) {
        frame.picture = previewPicture(scan.value());
    }
    inFlight.release();
    frame.trace = capture.take();
    return frame;
}

void FilmRun::logFirstFrame(const FilmReading& frame) {
    firstScanSize = frame.scanSize;
    geometry = frame.geometry;
    view.log().addLine(resolutionLine(frame.resolution));
    if (geometry.nominalPitch) {
        view.log().addLine(formatLine("No frame edges to measure the pitch on: the nominal "
                                      "%.3f cm (%d rows) is used",
                                      kVariableArea16Standard.framePitchCm,
                                      geometry.image_length / 4));
    }
}

// `frame` is null when a stop was asked for before its turn.
std::optional<JobEnding> FilmRun::acceptFrame(int n, const FilmReading* frame) {
    // a stop shows at the next frame's turn, however far ahead it was read
    if (frame == nullptr || job.stopAsked()) {
        return stopped(n);
    }
    view.log().addLine(formatLine("Cutting frame number : %d...", n));
    if (!frame->loaded) {
        // the words users know, and why beneath them
        return end(JobEnd::UnreadableFrame,
                   std::string(kept::kNoTifFile) + "\r\n" + frame->loaded.message(),
                   std::string(kept::kNoTifFile) + " " + frame->loaded.message());
    }
    if (n == job.startFrame) {
        logFirstFrame(*frame);
    } else if (const auto odd =
                   frameSizeWarning(n, frame->scanSize, job.startFrame, firstScanSize)) {
        view.log().addLine(*odd + "; it is still cut into the movie");
    }
    printTrace(frame->trace);
    const StageClock::time_point began = StageClock::now();
    for (const cv::Mat& picture : frame->cut.frames) {
        movie.write(picture);
    }
    if (job.timings != nullptr) {
        job.timings->load += frame->loadSeconds;
        job.timings->cutAndScale += frame->cutSeconds;
        job.timings->encode += secondsSince(began);
    }
    showFrame(*frame);
    view.ui().setProgressPosition(unitsPerScan * (n - job.startFrame + 1));
    return std::nullopt;
}

void FilmRun::showFrame(const FilmReading& frame) {
    const RunView::Showing showing = view.showing(frame.picture);
    if (!showing) {
        return;
    }
    FramePreview preview = framePreviewOf(sequence, frame.number, frame.scanSize, frame.cut.bounds);
    preview.side = job.trackSide;
    if (frame.number == job.startFrame) {
        preview.resolution = frame.resolution;
    }
    preview.cuts = frame.cut.regions;
    view.show(showing, preview, frame.picture);
}

} // namespace

FilmResult makeFilm(const FilmJob& job) {
    FilmRun run(job);
    return run.run();
}

} // namespace veltrana
