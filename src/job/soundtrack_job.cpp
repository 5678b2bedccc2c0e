#include "job/soundtrack_job.h"

#include "geometry/frame_correction.h"
#include "geometry/profile.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "geometry/trace.h"
#include "job/frame_sequence.h"
#include "job/job_log.h"
#include "job/plik.h"
#include "job/safe_file.h"
#include "sound/frame_joining.h"
#include "sound/join_search.h"
#include "sound/strip.h"
#include "sound/track_geometry.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <optional>

namespace veltrana {

namespace {

constexpr const char* kLengthsFileName = "leng.txt";
constexpr int kColourDepth = 8;

std::string format(const char* pattern, int a) {
    char line[160];
    std::snprintf(line, sizeof line, pattern, a);
    return line;
}

std::string resolutionLine(ScanResolution r) {
    char line[160];
    std::snprintf(line, sizeof line, "Picture resolution (dpi) x=%d,y=%d and color depth=%d",
                  r.dpiX, r.dpiY, kColourDepth);
    return line;
}

SoundtrackResult ended(SoundtrackEnd end, std::string message) {
    SoundtrackResult result;
    result.end = end;
    result.message = std::move(message);
    return result;
}

// Adds the time from construction to destruction to a stage's total, when
// timings are asked for.
class StageTimer {
public:
    explicit StageTimer(double* total)
        : total(total), began(total != nullptr ? Clock::now() : Clock::time_point()) {}
    ~StageTimer() {
        if (total != nullptr) {
            *total += std::chrono::duration<double>(Clock::now() - began).count();
        }
    }
    StageTimer(const StageTimer&) = delete;
    StageTimer& operator=(const StageTimer&) = delete;

private:
    using Clock = std::chrono::steady_clock;
    double* total;
    Clock::time_point began;
};

bool differsByMoreThanATenth(int measured, int snapped) {
    return std::abs(measured - snapped) > 0.1 * snapped;
}

// One run of the job: the frames' images, samples and profiles, the joins
// and the output stream, and everything the user sees of it.
class SoundtrackRun {
public:
    explicit SoundtrackRun(SoundtrackJob& job)
        : job(job), ui(job.observer != nullptr ? *job.observer : nullObserver), log(ui) {}

    SoundtrackResult run();
    // Ends a run that broke off on an exception: nothing is left written.
    SoundtrackResult brokeOff(const char* what);

private:
    SoundtrackResult refuse(const std::string& message);
    SoundtrackResult stopped();
    SoundtrackResult unreadable(const std::string& detail);
    SoundtrackResult processFrame(int n);
    void settleResolution(const cv::Mat& workingImage);
    SoundtrackResult finish();

    SoundtrackJob& job;
    NullObserver nullObserver;
    JobObserver& ui;
    JobLog log;

    FrameSequence sequence;
    ScanResolution resolution;
    SoundtrackGeometry geometry;
    JoinState state;
    std::vector<int> joinPositions;
    std::vector<float> samples;
    std::vector<float> previousSamples;
    std::vector<float> profile;
    std::vector<float> previousProfile;
    std::vector<float> stream;
    bool diagnosticsWarned = false;
    std::filesystem::path pendingWav; // the temporary WAV while it is written
    SoundtrackTimings* const timings = job.timings;
};

SoundtrackResult SoundtrackRun::refuse(const std::string& message) {
    ui.setProgressPosition(0);
    log.replaceWith(message);
    ui.enableStart(true);
    return ended(SoundtrackEnd::Refused, message);
}

SoundtrackResult SoundtrackRun::stopped() {
    ui.setProgressPosition(0);
    log.replaceWith("Operation stopped !!!!");
    ui.enableStart(true);
    ui.enableStop(true);
    return ended(SoundtrackEnd::Stopped, "Operation stopped !!!!");
}

SoundtrackResult SoundtrackRun::unreadable(const std::string& detail) {
    ui.setProgressPosition(0);
    log.replaceWith("Wrong file format !!!");
    ui.enableStart(true);
    ui.enableStop(true);
    return ended(SoundtrackEnd::UnreadableFrame, "Wrong file format !!! (" + detail + ")");
}

SoundtrackResult SoundtrackRun::brokeOff(const char* what) {
    if (!pendingWav.empty()) {
        discardTemporary(pendingWav);
    }
    const std::string message = std::string("The run ended on an error: ") + what;
    ui.setProgressPosition(0);
    log.replaceWith(message);
    ui.enableStart(true);
    ui.enableStop(true);
    return ended(SoundtrackEnd::Error, message);
}

SoundtrackResult SoundtrackRun::run() {
    ui.enableStart(false);
    const int frameCount = job.stopFrame - job.startFrame + 1;
    ui.setProgressRange(std::clamp(frameCount, 0, 65535));
    ui.setProgressStep(1);
    state.startFrame = job.startFrame;
    state.stopFrame = job.stopFrame;
    state.crossfade = job.crossfade ? 1 : 0;

    // the frame directory and its scans; the range must lie within them
    sequence = listFrameSequence(job.inputPath);
    if (!sequence.ok()) {
        return refuse(sequence.error);
    }
    if (std::string problem = checkFrameRange(sequence, job.startFrame, job.stopFrame);
        !problem.empty()) {
        return refuse(problem);
    }
    if (job.manualResolution) {
        const auto manual =
            computeSoundtrackGeometry(job.soundtrackType, {job.resolutionX, job.resolutionY});
        if (!manual || manual->framePitch <= 0 || manual->trackWidth <= 0) {
            return refuse("The manual resolution x=" + std::to_string(job.resolutionX) +
                          ",y=" + std::to_string(job.resolutionY) +
                          " gives no soundtrack width or frame pitch: give both in dpi");
        }
    }
    joinPositions.assign(static_cast<std::size_t>(frameCount), 0);

    for (int n = job.startFrame; n <= job.stopFrame; ++n) {
        SoundtrackResult result = processFrame(n);
        if (result.end != SoundtrackEnd::Finished) {
            return result;
        }
        ui.stepProgress();
    }
    return finish();
}

void SoundtrackRun::settleResolution(const cv::Mat& workingImage) {
    if (job.manualResolution) {
        resolution = {job.resolutionX, job.resolutionY};
        log.addLine(resolutionLine(resolution));
    } else {
        const ResolutionEstimate estimate = estimateResolution(workingImage, job.soundtrackType);
        resolution = estimate.snapped;
        log.addLine(resolutionLine(resolution));
        // snapping by bands can land a scan one band off; say so
        if (differsByMoreThanATenth(estimate.measured.dpiX, resolution.dpiX) ||
            differsByMoreThanATenth(estimate.measured.dpiY, resolution.dpiY)) {
            char line[256];
            std::snprintf(line, sizeof line,
                          "Measured x=%d,y=%d dpi was taken as x=%d,y=%d; if the pitch of the "
                          "sound is off, give the resolution by hand",
                          estimate.measured.dpiX, estimate.measured.dpiY, resolution.dpiX,
                          resolution.dpiY);
            log.addLine(line);
        }
    }
    geometry = computeSoundtrackGeometry(job.soundtrackType, resolution).value_or(geometry);
}

SoundtrackResult SoundtrackRun::processFrame(int n) {
    log.addLine(format("Translating frame number : %d...", n));

    // the scan, trimmed to its frame and turned so the film runs down the image
    LoadedScan scan;
    {
        const StageTimer timer(timings != nullptr ? &timings->load : nullptr);
        scan = loadScan(sequence.frames[static_cast<std::size_t>(n - 1)]);
    }
    if (!scan.ok()) {
        return unreadable(scan.error);
    }
    cv::Mat workingImage;
    {
        const StageTimer timer(timings != nullptr ? &timings->trimAndTurn : nullptr);
        workingImage =
            workingImageFromFrame(frameCorrection(scan.image, job.soundtrackType, job.longStrip));
        scan.image.release();
    }

    if (n == job.startFrame) {
        settleResolution(workingImage);
    }
    if (job.stopRequested.load()) {
        return stopped();
    }

    // the soundtrack band in the chosen colour element, one sample per row
    std::optional<StageTimer> timer(timings != nullptr ? &timings->stripAndSamples : nullptr);
    const cv::Mat strip = job.cutByAnalysis
                              ? cutStripFromEdge(workingImage, job.soundtrackType, geometry,
                                                 job.colorElement, job.rotationUp)
                              : cutStripByProfile(workingImage, job.soundtrackType, geometry,
                                                  job.colorElement, job.rotationUp);
    if (n > job.startFrame) {
        previousSamples = std::move(samples);
    }
    samples = stripToSamples(strip, job.removeDc);
    if (job.inverse) {
        ReverseSamples(samples);
    }

    // the frame profile, from the working image as the cutter left it
    if (n > job.startFrame) {
        previousProfile = std::move(profile);
        state.previousLength = state.currentLength;
    }
    state.currentLength = workingImage.rows;
    profile = rowProfile(workingImage, 1, workingImage.rows);
    workingImage.release();
    if (job.inverse) {
        ReverseSamples(profile);
    }

    timer.reset();

    if (n > job.startFrame) {
        timer.emplace(timings != nullptr ? &timings->joinSearch : nullptr);
        int join = 0;
        if (job.cutByAnalysis) {
            join = findJoinPositionFromSamples(state, samples, previousSamples, job.soundtrackType,
                                               job.longStrip);
        } else {
            const JoinSearchResult found =
                findJoinPosition(state, samples, previousSamples, profile, previousProfile,
                                 job.soundtrackType, job.longStrip, sequence.directory);
            join = found.position;
            if (!found.diagnosticsWritten && !diagnosticsWarned) {
                log.addLine("Could not write v.txt, z.txt and r.txt in " +
                            sequence.directory.string());
                diagnosticsWarned = true;
            }
        }
        joinPositions[static_cast<std::size_t>(n - job.startFrame)] = join;
        state.previousJoinPosition = n == job.startFrame + 1 ? 0 : state.joinPosition;
        state.joinPosition = join;
        state.frameNumber = n;
        timer.emplace(timings != nullptr ? &timings->joining : nullptr);
        joinFrameSamples(stream, samples, previousSamples, state);
    }
    return {};
}

SoundtrackResult SoundtrackRun::finish() {
    if (job.inverse) {
        ReverseSamples(stream);
    }

    std::optional<StageTimer> timer(timings != nullptr ? &timings->writing : nullptr);
    // "leng.txt" beside the scans; the sound is written even when it cannot be
    const std::filesystem::path lengthsPath = sequence.directory / kLengthsFileName;
    const std::string lengthsProblem = writeTextFile(lengthsPath, joinPositionsText(joinPositions));

    // the WAV: written beside the target and renamed into place when complete
    Plik plik;
    plik.sampleRate = static_cast<std::uint32_t>(job.filmSpeed * geometry.framePitch);
    plik.bitsPerSample = kColourDepth;
    const std::filesystem::path temporary = temporaryPathFor(job.outputPath);
    pendingWav = temporary;
    std::string wavProblem;
    if (plik.Open(temporary) != 0) {
        wavProblem = "cannot create a file in " + job.outputPath.parent_path().string();
    } else {
        const std::vector<std::uint8_t> bytes = soundtrackBytes(stream, job.removeDc);
        if (plik.Write(bytes.data(), bytes.size()) != static_cast<long long>(bytes.size())) {
            trace("Data lost");
            wavProblem = "the disk took only part of the sound";
        }
        if (!plik.Close() && wavProblem.empty()) {
            wavProblem = "the file could not be completed";
        }
        if (wavProblem.empty()) {
            wavProblem = commitTemporary(temporary, job.outputPath);
        } else {
            discardTemporary(temporary);
        }
    }
    pendingWav.clear();
    const std::size_t sampleCount = stream.size();
    stream.clear();
    stream.shrink_to_fit();
    timer.reset();

    ui.setProgressPosition(0);
    SoundtrackResult result;
    if (!wavProblem.empty()) {
        result =
            ended(SoundtrackEnd::WavNotWritten,
                  "Could not write the sound to " + job.outputPath.string() + ": " + wavProblem);
        log.addLine(result.message);
    } else if (!lengthsProblem.empty()) {
        result = ended(SoundtrackEnd::LengthsNotWritten,
                       "Could not write " + lengthsPath.string() + ": " + lengthsProblem);
        log.addLine(result.message);
    } else {
        log.addUncountedLine("Pictures were tranlated succesfully!");
    }
    if (wavProblem.empty()) {
        result.wavPath = job.outputPath;
        result.sampleRate = plik.sampleRate;
        result.sampleCount = sampleCount;
    }
    if (lengthsProblem.empty()) {
        result.lengthsPath = lengthsPath;
    }
    ui.enableStart(true);
    return result;
}

} // namespace

std::uint8_t sampleToByte(float sample) {
    // values beyond int cannot reach here after saturation; keep the cast defined anyway
    const float limited =
        std::isnan(sample) ? 0.0f : std::clamp(sample, -2147483520.0f, 2147483520.0f);
    return static_cast<std::uint8_t>(static_cast<unsigned>(static_cast<int>(limited)) & 0xffu);
}

std::vector<std::uint8_t> soundtrackBytes(std::span<const float> stream, bool removeDc) {
    const float low = removeDc ? -256.0f : 0.0f;
    const float high = removeDc ? -1.0f : 255.0f;
    std::vector<std::uint8_t> bytes(stream.size());
    for (std::size_t i = 0; i < stream.size(); ++i) {
        bytes[i] = sampleToByte(std::clamp(stream[i], low, high));
    }
    return bytes;
}

std::string joinPositionsText(std::span<const int> joinPositions) {
    std::string text;
    for (int p : joinPositions) {
        text += std::to_string(p);
        text += ' ';
    }
    return text;
}

SoundtrackResult runSoundtrackJob(SoundtrackJob& job) {
    SoundtrackRun run(job);
    try {
        return run.run();
    } catch (const std::exception& e) {
        // the image library and allocations can throw; the run ends, the program does not
        return run.brokeOff(e.what());
    }
}

int SoundtrackWorker(SoundtrackJob* job) {
    const SoundtrackResult result = runSoundtrackJob(*job);
    return result.end == SoundtrackEnd::UnreadableFrame ? -1 : 0;
}

} // namespace veltrana
