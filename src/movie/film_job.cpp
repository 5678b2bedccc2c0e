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
#include "movie/sound_movie.h"
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
    std::string trace;                   // printed when the frame is reported
    cv::Mat picture;                     // a preview of the scan, when one was due
    std::optional<SoundFrame> sound;     // its soundtrack, in a run with sound
    std::optional<DpxTimecode> timecode; // its scan's, in a run with sound: the first dates the WAV
    double loadSeconds = 0;
    double cutSeconds = 0;
    double soundSeconds = 0;
};

using FilmTurn = FrameInTurn<FilmReading, PairSearch>;

FilmResult filmResult(JobEnding ending) {
    return resultOf<FilmResult>(std::move(ending));
}

// One run: the log, the progress bar and the movie being written.
class FilmRun {
public:
    explicit FilmRun(const FilmJob& job) : job(job), view(job.observer, StopButton::None) {
        if (job.withSound) {
            soundtrack.emplace(job, *job.withSound);
        }
    }

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
    std::optional<JobEnding> prepareSound(const OutputTarget& movieTarget);
    FilmReading readFrame(int n) const;
    PairSearch meetFrames(const FilmReading& previous, const FilmReading& current) const;
    std::optional<JobEnding> acceptFrame(const FilmTurn& turn);
    std::optional<JobEnding> acceptSound(const FilmTurn& turn);
    void writePictures(const FilmReading& frame);
    void logFirstFrame(const FilmReading& frame);
    void showFrame(const FilmReading& frame);
    FilmResult finish();
    FilmResult finishWithSound();
    Status writeWav(const FilmSoundResult& sound);

    // Ends the run without a movie (the temporary one removed).
    JobEnding end(JobEnd how, const std::string& logText, std::string message) {
        movie.discard();
        soundMovie.discard();
        pendingWav.reset();
        return view.end(how, logText, std::move(message));
    }
    JobEnding end(JobEnd how, const std::string& message) { return end(how, message, message); }
    JobEnding brokeOff(const char* what) {
        movie.discard();
        soundMovie.discard();
        pendingWav.reset();
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
    // with sound: the soundtrack read beside the pictures, the movie they go
    // into and the WAV asked for beside it
    std::optional<FilmSoundtrack> soundtrack;
    SoundMovie soundMovie;
    std::optional<PendingFile> pendingWav;
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

    if (soundtrack) {
        return prepareSound(*target);
    }
    if (Status opened = movie.open(*target); !opened) {
        return end(JobEnd::OutputNotWritten, opened.message());
    }
    return std::nullopt;
}

// The movie with sound, and the WAV when one is asked for.
std::optional<JobEnding> FilmRun::prepareSound(const OutputTarget& movieTarget) {
    const FilmSound& sound = *job.withSound;
    if (job.inverse) {
        return end(JobEnd::Refused, "A movie with sound cannot be made of film that ran the "
                                    "other way through the scanner (inverse)");
    }
    if (!sound.wavPath.empty()) {
        const Result<OutputTarget> wav = resolveOutputTarget(sound.wavPath, "the sound");
        if (!wav) {
            return end(JobEnd::OutputNotWritten, wav.message());
        }
        if (isSameFile(*wav, job.outputPath)) {
            return end(JobEnd::OutputNotWritten, "Cannot write the sound to " +
                                                     sound.wavPath.string() +
                                                     ": the movie goes there");
        }
        if (Status clash = checkOutputIsNoInput(*wav, sequence, {}, "the sound"); !clash) {
            return end(JobEnd::OutputNotWritten, clash.message());
        }
        Result<PendingFile> pending = PendingFile::create(*wav, "the sound");
        if (!pending) {
            return end(JobEnd::OutputNotWritten, pending.message());
        }
        pendingWav.emplace(std::move(pending).value());
        pendingWav->expectRiffForm("WAVE");
    }
    if (Status opened = soundMovie.open(movieTarget, sound.container, sound.pictureRate); !opened) {
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
    const auto first = std::make_shared<const FilmReading>(readFrame(job.startFrame));
    FilmTurn firstTurn;
    firstTurn.number = job.startFrame;
    firstTurn.frame = first.get();
    if (std::optional<JobEnding> ended = acceptFrame(firstTurn)) {
        return filmResult(std::move(*ended));
    }
    // the rest cut on every thread asked for and written in order; with
    // sound, each frame's soundtrack joined to the one before
    FrameSteps<FilmReading, PairSearch> frames;
    frames.read = [this](int n) { return readFrame(n); };
    if (soundtrack) {
        frames.meet = [this](const FilmReading& previous, const FilmReading& current) {
            return meetFrames(previous, current);
        };
    }
    frames.accept = [this](const FilmTurn& turn) { return acceptFrame(turn); };
    if (std::optional<JobEnding> ended =
            walkFrames(job, job.startFrame + 1, frames, soundtrack ? first : nullptr)) {
        return filmResult(std::move(*ended));
    }
    return soundtrack ? finishWithSound() : finish();
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

// The sound timed against the pictures, the last pictures held while the
// sound printed beside them plays, and the movie muxed; then the WAV when
// it was asked for.
FilmResult FilmRun::finishWithSound() {
    const StageClock::time_point began = StageClock::now();
    Result<FilmSoundResult> heard = soundtrack->finish();
    if (!heard) {
        return filmResult(end(JobEnd::Refused, "Cannot make a movie with sound of " +
                                                   sequence.directory.string() + ": " +
                                                   heard.message()));
    }
    const FilmSound& settings = *job.withSound;
    view.log().addLine(formatLine("Sound: one frame every %.2f rows (%d of %d joins), %d frames "
                                  "behind its print",
                                  heard->advance.rows, heard->advance.joinsUsed,
                                  heard->advance.joinsCounted, settings.advance));
    const int pictures = soundMovie.framesWritten();
    soundMovie.hold(picturesCovering(static_cast<std::int64_t>(heard->movieSamples.size()),
                                     heard->format.sampleRate, settings.pictureRate, pictures) -
                    pictures);
    const int frames = soundMovie.framesWritten();
    if (job.timings != nullptr) {
        job.timings->sound += secondsSince(began);
    }
    const StageClock::time_point muxing = StageClock::now();
    Status committed = soundMovie.commit(heard->movieSamples, heard->format);
    if (job.timings != nullptr) {
        job.timings->encode += secondsSince(muxing);
    }
    if (!committed) {
        return filmResult(end(JobEnd::OutputNotWritten, committed.message()));
    }
    FilmResult result;
    result.movieFrames = frames;
    result.moviePath = job.outputPath;
    result.soundSamples = static_cast<std::int64_t>(heard->movieSamples.size());
    result.sampleRate = heard->format.sampleRate;
    result.rowsPerFrame = heard->advance.rows;
    if (pendingWav) {
        if (Status wav = writeWav(*heard); !wav) {
            result.end = JobEnd::SideFilesNotWritten;
            result.message = "The movie was written to " + job.outputPath.string() +
                             ", but not the sound. " + wav.message();
            view.log().addLine(result.message);
            view.ui().enableStart(true);
            return result;
        }
        result.wavPath = settings.wavPath;
    }
    view.ui().setProgressPosition(0);
    view.log().addLine(kept::kCutSuccessfully);
    view.ui().enableStart(true);
    return result;
}

// The soundtrack's WAV, as the soundtrack job writes it.
Status FilmRun::writeWav(const FilmSoundResult& sound) {
    const Result<SoundWritten> written =
        writeSound(pendingWav->descriptor(), job.withSound->wavPath.string(),
                   sound.assembled.stream, sound.delivery);
    Status committed = written ? pendingWav->commit() : written.status();
    pendingWav.reset();
    return committed;
}

FilmReading FilmRun::readFrame(int n) const {
    FilmReading frame;
    frame.number = n;
    TraceCapture capture;
    // archival levels read the soundtrack at the scan's stored depth
    ScanInFlight inFlight =
        scans.read(sequence.frames[static_cast<std::size_t>(n - 1)], job.scanLimits,
                   soundtrack && soundtrack->readsStoredDepth(), frame.loadSeconds);
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
    if (soundtrack) {
        const StageClock::time_point heard = StageClock::now();
        const ScanImages& images = inFlight.images().value();
        frame.sound = soundtrack->read(images, n, n == job.startFrame);
        frame.timecode = images.description.timecode;
        frame.soundSeconds = secondsSince(heard);
    }
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

PairSearch FilmRun::meetFrames(const FilmReading& previous, const FilmReading& current) const {
    if (!previous.sound || !current.sound) {
        return {};
    }
    return soundtrack->meet(*previous.sound, *current.sound);
}

// The frame's soundtrack, joined to the one before.
std::optional<JobEnding> FilmRun::acceptSound(const FilmTurn& turn) {
    const FilmReading& frame = *turn.frame;
    Status heard;
    if (turn.number == job.startFrame) {
        heard = soundtrack->start(*frame.sound, frame.cut, frame.timecode);
        if (heard && !soundtrack->outputRate().refusal.empty()) {
            return end(JobEnd::UsageRefused, soundtrack->outputRate().refusal);
        }
        if (heard && !soundtrack->outputRate().note.empty()) {
            view.log().addLine(soundtrack->outputRate().note);
        }
    } else {
        const PairSearch none;
        heard = soundtrack->add(*frame.sound, *turn.previous->sound,
                                turn.meeting != nullptr ? *turn.meeting : none);
    }
    if (job.timings != nullptr) {
        job.timings->sound += frame.soundSeconds;
    }
    if (!heard) {
        return end(JobEnd::Refused, "Cannot make a movie with sound of " +
                                        sequence.directory.string() + ": " + heard.message());
    }
    return std::nullopt;
}

void FilmRun::writePictures(const FilmReading& frame) {
    for (const cv::Mat& picture : frame.cut.frames) {
        if (soundtrack) {
            soundMovie.write(picture);
        } else {
            movie.write(picture);
        }
    }
}

// `turn.frame` is null when a stop was asked for before its turn.
std::optional<JobEnding> FilmRun::acceptFrame(const FilmTurn& turn) {
    const int n = turn.number;
    const FilmReading* frame = turn.frame;
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
    writePictures(*frame);
    if (job.timings != nullptr) {
        job.timings->load += frame->loadSeconds;
        job.timings->cutAndScale += frame->cutSeconds;
        job.timings->encode += secondsSince(began);
    }
    if (soundtrack) {
        if (std::optional<JobEnding> ended = acceptSound(turn)) {
            return ended;
        }
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

FilmJob soundMovieJob(const ScanRunSettings& scans, bool cutSoundtrack, const SoundSettings& sound,
                      MovieContainer container, const std::filesystem::path& movie) {
    FilmJob job;
    static_cast<ScanRunSettings&>(job) = scans;
    job.cutSoundtrack = cutSoundtrack;
    job.outputPath = movie;
    FilmSound withSound;
    withSound.sound = sound;
    withSound.container = container;
    withSound.advance = defaultSoundAdvance(scans.soundtrackType);
    withSound.sound.filmSpeed =
        FilmSpeed(withSound.pictureRate.numerator, withSound.pictureRate.denominator);
    job.withSound = withSound;
    return job;
}

FilmResult makeFilm(const FilmJob& job) {
    FilmRun run(job);
    return run.run();
}

} // namespace veltrana
