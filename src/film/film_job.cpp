#include "film/film_job.h"

#include "film/frame_geometry.h"
#include "film/movie_file.h"
#include "geometry/frame_correction.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "job/frame_sequence.h"
#include "job/job_log.h"
#include "job/safe_file.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

namespace veltrana {

namespace {

constexpr double kNominalFramePitch16Cm = 0.762;

// a progress bar's range is sixteen bits wide
constexpr int kProgressMaximum = 65535;

template <typename... Args> std::string formatLine(const char* format, Args... args) {
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

int bitsPerChannel(const cv::Mat& image) {
    return static_cast<int>(image.elemSize1()) * 8;
}

// One run: the log, the progress bar and the movie being written.
class FilmRun {
public:
    explicit FilmRun(const FilmJob& job)
        : job(job), observer(job.observer != nullptr ? *job.observer : silent), log(observer) {}

    // The whole run; an exception from the image library or an allocation
    // ends it like any other failure.
    FilmResult run() {
        try {
            return steps();
        } catch (const std::exception& e) {
            return end(FilmEnd::MovieNotWritten, std::string("Cannot make the movie: ") + e.what());
        }
    }

private:
    FilmResult steps();

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

    bool cancelled() const { return job.cancel != nullptr && job.cancel->load(); }

    const FilmJob& job;
    NullObserver silent;
    JobObserver& observer;
    JobLog log;
    MovieFile movie;
};

FilmResult FilmRun::steps() {
    observer.enableStart(false);
    const SoundtrackType type = job.soundtrackType;
    const bool sixteen = type == SoundtrackType::VariableArea16;

    // Everything that can be refused is refused before a scan is read.
    const FrameSequence sequence = listFrameSequence(job.inputPath);
    if (!sequence.ok()) {
        return end(FilmEnd::Refused, sequence.error);
    }
    if (const std::string wrong = checkFrameRange(sequence, job.startFrame, job.stopFrame);
        !wrong.empty()) {
        return end(FilmEnd::Refused, wrong);
    }
    if (job.manualResolution) {
        if (std::string wrong = manualResolutionProblem({job.resolutionX, job.resolutionY});
            !wrong.empty()) {
            return end(FilmEnd::Refused, wrong);
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
    const int unitsPerScan = sixteen ? 4 : 1;
    observer.setProgressRange(std::min(unitsPerScan * scans, kProgressMaximum));
    observer.setProgressStep(1);

    if (Status opened = movie.open(*target); !opened) {
        return end(FilmEnd::MovieNotWritten, opened.message());
    }

    FrameGeometry geometry;
    cv::Size firstScanSize;
    for (int n = job.startFrame; n <= job.stopFrame; ++n) {
        if (cancelled()) {
            return end(FilmEnd::Cancelled, "Operation stopped !!!!",
                       "Stopped at frame " + std::to_string(n) + ": no movie written");
        }
        log.addLine(formatLine("Cutting frame number : %d...", n));

        const LoadedScan scan =
            loadScan(sequence.frames[static_cast<std::size_t>(n - 1)], job.scanLimits);
        if (!scan.ok()) {
            // the words users know, and why beneath them
            return end(FilmEnd::UnreadableFrame, "No tif file !!!\r\n" + scan.error,
                       "No tif file !!! " + scan.error);
        }
        if (n == job.startFrame) {
            firstScanSize = scan.image.size();
        } else if (std::string odd =
                       frameSizeWarning(n, scan.image.size(), job.startFrame, firstScanSize);
                   !odd.empty()) {
            log.addLine(odd + "; it is still cut into the movie");
        }
        const cv::Mat working =
            filmWorkingImage(frameCorrection(scan.image, type, job.longStrip), type, job.inverse);

        if (n == job.startFrame) {
            const ScanResolution resolution = job.manualResolution
                                                  ? ScanResolution{job.resolutionX, job.resolutionY}
                                                  : detectResolution(working, type);
            geometry = measureFrameGeometry(type, resolution, job.cutSoundtrack, working);
            log.addLine(formatLine("Picture resolution (dpi) x=%d,y=%d and color depth=%d",
                                   resolution.dpiX, resolution.dpiY, bitsPerChannel(working)));
            if (geometry.nominalPitch) {
                log.addLine(formatLine("No frame edges to measure the pitch on: the nominal "
                                       "%.3f cm (%d rows) is used",
                                       kNominalFramePitch16Cm, geometry.image_length / 4));
            }
        }

        for (const cv::Mat& piece :
             cutFrame(working, geometry, type, job.longStrip, job.cutSoundtrack)) {
            movie.write(movieFrame(piece));
        }
        observer.setProgressPosition(unitsPerScan * (n - job.startFrame + 1));
    }

    const int frames = movie.framesWritten();
    if (Status committed = movie.commit(); !committed) {
        return end(FilmEnd::MovieNotWritten, committed.message());
    }
    observer.setProgressPosition(0);
    log.addLine("Pictures were cut succesfully!");
    observer.enableStart(true);
    return {FilmEnd::Finished, {}, frames, job.outputPath};
}

} // namespace

cv::Mat filmWorkingImage(const cv::Mat& corrected, SoundtrackType type, bool inverse) {
    cv::Mat working = workingImageFromFrame(corrected);
    if (working.empty()) {
        return working;
    }
    if (inverse) {
        // the film runs the other way: last row first
        cv::flip(working, working, 0);
    }
    if (working.channels() == 1 && type == SoundtrackType::VariableDensity35) {
        cv::flip(working, working, 1);
    }
    return working;
}

FilmResult makeFilm(const FilmJob& job) {
    FilmRun run(job);
    return run.run();
}

} // namespace veltrana
