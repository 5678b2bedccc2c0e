#include "movie/film_job.h"

#include "base/kept_texts.h"
#include "geometry/frame_correction.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "geometry/trace.h"
#include "job/frame_sequence.h"
#include "job/job_log.h"
#include "job/parallel.h"
#include "job/safe_file.h"
#include "movie/film_frame.h"
#include "movie/frame_geometry.h"
#include "movie/movie_file.h"
#include "reading/scan_reader.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include <tbb/enumerable_thread_specific.h>
#include <tbb/global_control.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

namespace veltrana {

namespace {

// a progress bar's range is sixteen bits wide
constexpr int kProgressMaximum = 65535;

template <typename... Args> std::string formatLine(const char* format, Args... args) {
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

// Scans are read as 8 bits per channel.
constexpr int kColourDepth = 8;

// One scan's movie frames, cut ahead on any thread with no observer call.
struct FilmReading {
    int number = 0;
    bool skipped = false; // not read: the run was interrupted before its turn
    Status loaded;        // whether the scan could be loaded, and why not
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

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point began) {
    return std::chrono::duration<double>(Clock::now() - began).count();
}

// One run: the log, the progress bar and the movie being written.
class FilmRun {
public:
    explicit FilmRun(const FilmJob& job)
        : job(job), observer(job.observer != nullptr ? *job.observer : silent), log(observer),
          previews(observer.previewRequest()), pacer(previews) {}

    // The whole run; an exception from the image library or an allocation
    // ends it like any other failure.
    FilmResult run() {
        try {
            return steps();
        } catch (const std::exception& e) {
            return brokeOff(e.what());
        } catch (...) {
            return brokeOff(kUnknownError);
        }
    }

private:
    FilmResult steps();
    FilmReading readFrame(int n) const;
    std::optional<FilmResult> acceptFrame(FilmReading& frame);
    std::optional<FilmResult> readRest();

    // Ends the run without a movie: the log shows logText alone, the bar is
    // emptied and the temporary movie removed.
    FilmResult end(FilmEnd how, const std::string& logText, std::string message) {
        movie.discard();
        observer.setProgressPosition(0);
        log.replaceWith(logText);
        observer.enableStart(true);
        return {how, std::move(message), 0, {}};
    }
    FilmResult end(FilmEnd how, const std::string& message) { return end(how, message, message); }
    FilmResult brokeOff(const char* what) {
        return end(FilmEnd::MovieNotWritten, std::string(kRunBrokeOff) + what);
    }

    bool cancelled() const { return job.cancelRequested(); }

    FilmCutting cutting() const {
        return {job.soundtrackType, job.longStrip, job.inverse, job.cutSoundtrack};
    }

    void showFrame(const FilmReading& frame);

    const FilmJob& job;
    NullObserver silent;
    JobObserver& observer;
    JobLog log;
    const PreviewRequest previews;
    PicturePacer pacer;
    MovieFile movie;
    // each thread's memory for its scans, kept from one scan to the next
    mutable tbb::enumerable_thread_specific<ScanBuffers> scanBuffers;
    FrameSequence sequence;
    FrameGeometry geometry;
    cv::Size firstScanSize;
    int unitsPerScan = 1;
};

FilmResult FilmRun::steps() {
    observer.enableStart(false);
    const SoundtrackType type = job.soundtrackType;
    const bool sixteen = type == SoundtrackType::VariableArea16;

    // Everything that can be refused is refused before a scan is read.
    Result<FrameSequence> listed = listFrameSequence(job.inputPath);
    if (!listed) {
        return end(FilmEnd::Refused, listed.message());
    }
    sequence = std::move(listed).value();
    if (const Status range = checkFrameRange(sequence, job.startFrame, job.stopFrame); !range) {
        return end(FilmEnd::Refused, range.message());
    }
    if (job.manualResolution) {
        if (const Status manual = checkManualResolution({job.resolutionX, job.resolutionY});
            !manual) {
            return end(FilmEnd::Refused, manual.message());
        }
    }
    const Result<OutputTarget> target = resolveOutputTarget(job.outputPath, "the movie");
    if (!target) {
        return end(FilmEnd::MovieNotWritten, target.message());
    }
    if (Status clash = checkOutputIsNoInput(*target, sequence, {}, "the movie"); !clash) {
        return end(FilmEnd::MovieNotWritten, clash.message());
    }

    // 16 mm counts four units per scan, a long strip's four movie frames
    const int scans = job.stopFrame - job.startFrame + 1;
    unitsPerScan = sixteen ? 4 : 1;
    observer.setProgressRange(std::min(unitsPerScan * scans, kProgressMaximum));
    observer.setProgressStep(1);

    if (Status opened = movie.open(*target); !opened) {
        return end(FilmEnd::MovieNotWritten, opened.message());
    }

    // the first frame settles what every other frame is cut with
    if (cancelled()) {
        return end(FilmEnd::Cancelled, kept::kOperationStopped,
                   "Stopped at frame " + std::to_string(job.startFrame) + ": no movie written");
    }
    FilmReading first = readFrame(job.startFrame);
    if (std::optional<FilmResult> ended = acceptFrame(first)) {
        return *ended;
    }
    if (std::optional<FilmResult> ended = readRest()) {
        return *ended;
    }

    const int frames = movie.framesWritten();
    const Clock::time_point began = Clock::now();
    Status committed = movie.commit();
    if (job.timings != nullptr) {
        job.timings->encode += secondsSince(began);
    }
    if (!committed) {
        return end(FilmEnd::MovieNotWritten, committed.message());
    }
    observer.setProgressPosition(0);
    log.addLine(kept::kCutSuccessfully);
    observer.enableStart(true);
    return {FilmEnd::Finished, {}, frames, job.outputPath};
}

FilmReading FilmRun::readFrame(int n) const {
    FilmReading frame;
    frame.number = n;
    TraceCapture capture;
    Clock::time_point began = Clock::now();
    // the scan is read into this thread's buffers: valid until its next scan
    LoadedScan scan = loadScan(sequence.frames[static_cast<std::size_t>(n - 1)], job.scanLimits,
                               &scanBuffers.local());
    frame.loadSeconds = secondsSince(began);
    if (!scan.ok()) {
        frame.loaded = scan.status();
        return frame;
    }
    began = Clock::now();
    frame.scanSize = scan.value().size();
    frame.geometry = geometry;
    std::optional<FrameBounds> bounds;
    if (n == job.startFrame) {
        // measured on the working image as the measures define it
        bounds = findFrameBounds(scan.value(), job.soundtrackType, job.longStrip);
        const cv::Mat trimmed = scan.value().colRange(bounds->left, bounds->right + 1);
        frame.resolution = job.manualResolution ? ScanResolution{job.resolutionX, job.resolutionY}
                                                : detectFilmResolution(trimmed, cutting());
        // only 16 mm measures its pitch on the working image itself
        const bool sixteen = job.soundtrackType == SoundtrackType::VariableArea16;
        frame.geometry = measureFrameGeometry(
            job.soundtrackType, frame.resolution, job.cutSoundtrack,
            sixteen ? filmWorkingImage(trimmed, job.soundtrackType, job.inverse) : cv::Mat());
    }
    frame.cut = movieFramesOf(scan.value(), cutting(), frame.geometry, bounds);
    frame.cutSeconds = secondsSince(began);
    if (pacer.due()) {
        frame.picture = previewPicture(scan.value());
    }
    frame.trace = capture.take();
    return frame;
}

std::optional<FilmResult> FilmRun::acceptFrame(FilmReading& frame) {
    const int n = frame.number;
    // an interruption shows at the next frame's turn, however far ahead it was read
    if (frame.skipped || cancelled()) {
        return end(FilmEnd::Cancelled, kept::kOperationStopped,
                   "Stopped at frame " + std::to_string(n) + ": no movie written");
    }
    log.addLine(formatLine("Cutting frame number : %d...", n));
    if (!frame.loaded) {
        // the words users know, and why beneath them
        return end(FilmEnd::UnreadableFrame,
                   std::string(kept::kNoTifFile) + "\r\n" + frame.loaded.message(),
                   std::string(kept::kNoTifFile) + " " + frame.loaded.message());
    }
    if (n == job.startFrame) {
        firstScanSize = frame.scanSize;
        geometry = frame.geometry;
        log.addLine(formatLine("Picture resolution (dpi) x=%d,y=%d and color depth=%d",
                               frame.resolution.dpiX, frame.resolution.dpiY, kColourDepth));
        if (geometry.nominalPitch) {
            log.addLine(formatLine("No frame edges to measure the pitch on: the nominal "
                                   "%.3f cm (%d rows) is used",
                                   kVariableArea16Standard.framePitchCm,
                                   geometry.image_length / 4));
        }
    } else if (const auto odd =
                   frameSizeWarning(n, frame.scanSize, job.startFrame, firstScanSize)) {
        log.addLine(*odd + "; it is still cut into the movie");
    }
    printTrace(frame.trace);
    const Clock::time_point began = Clock::now();
    for (const cv::Mat& picture : frame.cut.frames) {
        movie.write(picture);
    }
    if (job.timings != nullptr) {
        job.timings->load += frame.loadSeconds;
        job.timings->cutAndScale += frame.cutSeconds;
        job.timings->encode += secondsSince(began);
    }
    frame.cut.frames.clear();
    showFrame(frame);
    observer.setProgressPosition(unitsPerScan * (n - job.startFrame + 1));
    return std::nullopt;
}

void FilmRun::showFrame(const FilmReading& frame) {
    const bool picture = !frame.picture.empty() && pacer.take();
    if (!previews.frames && !picture) {
        return;
    }
    FramePreview preview;
    preview.frame = frame.number;
    preview.file = sequence.frames[static_cast<std::size_t>(frame.number - 1)].filename().string();
    preview.scanSize = frame.scanSize;
    preview.bounds = frame.cut.bounds;
    if (frame.number == job.startFrame) {
        preview.resolution = frame.resolution;
    }
    preview.cuts = frame.cut.regions;
    if (previews.frames) {
        observer.framePreview(preview);
    }
    if (picture) {
        observer.picturePreview(preview, frame.picture);
    }
}

// Scans after the first, cut on every thread asked for and written to the
// movie in order on this one.
std::optional<FilmResult> FilmRun::readRest() {
    const int threads = jobThreads(job.threads);
    int next = job.startFrame + 1;
    bool interrupted = false;
    std::optional<FilmResult> ended;
    std::atomic<bool> failed{false};
    // more threads than cores, when asked for, without the library's complaint
    const tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism,
                                          static_cast<std::size_t>(threads));
    // the stages' keys for the thread sanitizer (parallel.h)
    const char stages[3] = {};
    for (const char& stage : stages) {
        handOver(&stage);
    }
    tbb::task_arena arena(threads);
    arena.execute([&] {
        tbb::parallel_pipeline(
            static_cast<std::size_t>(framesInFlight(threads)),
            tbb::make_filter<void, std::shared_ptr<FilmReading>>(
                tbb::filter_mode::serial_in_order,
                [&](tbb::flow_control& control) -> std::shared_ptr<FilmReading> {
                    const StageTurn turn(&stages[0]);
                    if (next > job.stopFrame || interrupted || failed.load()) {
                        control.stop();
                        return nullptr;
                    }
                    auto frame = std::make_shared<FilmReading>();
                    frame->number = next++;
                    // an interruption shows at the next frame's turn
                    if (cancelled()) {
                        frame->skipped = true;
                        interrupted = true;
                    }
                    handOver(frame.get());
                    return frame;
                }) &
                tbb::make_filter<std::shared_ptr<FilmReading>, std::shared_ptr<FilmReading>>(
                    tbb::filter_mode::parallel,
                    [&](std::shared_ptr<FilmReading> frame) {
                        const StageTurn turn(&stages[1], frame.get());
                        if (!frame->skipped && !failed.load()) {
                            *frame = readFrame(frame->number);
                        }
                        return frame;
                    }) &
                tbb::make_filter<std::shared_ptr<FilmReading>, void>(
                    tbb::filter_mode::serial_in_order, [&](std::shared_ptr<FilmReading> frame) {
                        const StageTurn turn(&stages[2], frame.get());
                        if (ended) {
                            return;
                        }
                        ended = acceptFrame(*frame);
                        if (ended) {
                            failed.store(true);
                        }
                    }));
    });
    for (const char& stage : stages) {
        takeOver(&stage);
    }
    return ended;
}

} // namespace

FilmResult makeFilm(const FilmJob& job) {
    FilmRun run(job);
    return run.run();
}

} // namespace veltrana
