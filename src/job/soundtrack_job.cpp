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
#include <array>
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
constexpr std::array<std::string_view, 3> kDiagnosticFileNames = {"v.txt", "z.txt", "r.txt"};
constexpr std::array<std::string_view, 4> kSideFileNames = {"leng.txt", "v.txt", "z.txt", "r.txt"};
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

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point began) {
    return std::chrono::duration<double>(Clock::now() - began).count();
}

bool differsByMoreThanATenth(int measured, int snapped) {
    return std::abs(measured - snapped) > 0.1 * snapped;
}

// What one frame gives the run: measured on its own, with no observer call,
// so that frames can be measured ahead of the one being joined.
struct FrameReading {
    std::string unreadable; // why the scan could not be loaded; empty when it was
    cv::Size scanSize;
    std::vector<float> samples;
    std::vector<float> profile;
    int rows = 0;
    // the first frame of a run settles the resolution
    std::optional<ResolutionEstimate> estimate;
    // seconds spent, for the benchmark
    double loadSeconds = 0;
    double trimSeconds = 0;
    double samplesSeconds = 0;
};

// One run of the job: the frames' samples and profiles, the joins and the
// output stream, and everything the user sees of it.
class SoundtrackRun {
public:
    explicit SoundtrackRun(SoundtrackJob& job)
        : job(job), ui(job.observer != nullptr ? *job.observer : nullObserver), log(ui) {}

    SoundtrackResult run();
    // Ends a run that broke off on an exception: nothing is left written.
    SoundtrackResult brokeOff(const char* what);

private:
    SoundtrackResult prepare();
    FrameReading readFrame(int n) const;
    SoundtrackResult acceptFrame(int n, FrameReading frame);
    void settleResolution(const FrameReading& first);
    SoundtrackResult finish();
    Status writeDiagnostics() const;

    SoundtrackResult refuse(const std::string& message);
    SoundtrackResult stopped();
    SoundtrackResult unreadable(const std::string& detail);
    SoundtrackResult noWav(const std::string& message);

    SoundtrackJob& job;
    NullObserver nullObserver;
    JobObserver& ui;
    JobLog log;

    FrameSequence sequence;
    std::optional<PendingFile> pendingWav; // the WAV, open from before the first frame
    ScanResolution resolution;
    SoundtrackGeometry geometry;
    cv::Size firstScanSize;
    JoinState state;
    std::vector<int> joinPositions;
    std::vector<float> samples;
    std::vector<float> previousSamples;
    std::vector<float> profile;
    std::vector<float> previousProfile;
    std::vector<float> stream;
    // the last pair's diagnostics, written when the run succeeds
    JoinDiagnostics diagnostics;
    std::vector<float> lastFineCorrelation;
    bool anyPairSearched = false;
    bool anyFineCorrelation = false;
    SoundtrackTimings* const timings = job.timings;
};

SoundtrackResult SoundtrackRun::refuse(const std::string& message) {
    pendingWav.reset();
    ui.setProgressPosition(0);
    log.replaceWith(message);
    ui.enableStart(true);
    return ended(SoundtrackEnd::Refused, message);
}

SoundtrackResult SoundtrackRun::noWav(const std::string& message) {
    pendingWav.reset();
    ui.setProgressPosition(0);
    log.replaceWith(message);
    ui.enableStart(true);
    return ended(SoundtrackEnd::WavNotWritten, message);
}

SoundtrackResult SoundtrackRun::stopped() {
    pendingWav.reset();
    ui.setProgressPosition(0);
    log.replaceWith("Operation stopped !!!!");
    ui.enableStart(true);
    ui.enableStop(true);
    return ended(SoundtrackEnd::Stopped, "Operation stopped !!!!");
}

SoundtrackResult SoundtrackRun::unreadable(const std::string& detail) {
    pendingWav.reset();
    ui.setProgressPosition(0);
    // the box keeps the words users know, and says why beneath them
    log.replaceWith("Wrong file format !!!\r\n" + detail);
    ui.enableStart(true);
    ui.enableStop(true);
    return ended(SoundtrackEnd::UnreadableFrame, "Wrong file format !!! " + detail);
}

SoundtrackResult SoundtrackRun::brokeOff(const char* what) {
    pendingWav.reset();
    const std::string message = std::string("The run ended on an error: ") + what;
    ui.setProgressPosition(0);
    log.replaceWith(message);
    ui.enableStart(true);
    ui.enableStop(true);
    return ended(SoundtrackEnd::Error, message);
}

// Everything that can be refused is refused before a scan is read: the
// frames, the range, the resolution and the output.
SoundtrackResult SoundtrackRun::prepare() {
    sequence = listFrameSequence(job.inputPath);
    if (!sequence.ok()) {
        return refuse(sequence.error);
    }
    if (std::string problem = checkFrameRange(sequence, job.startFrame, job.stopFrame);
        !problem.empty()) {
        return refuse(problem);
    }
    if (job.manualResolution) {
        if (std::string problem = manualResolutionProblem({job.resolutionX, job.resolutionY});
            !problem.empty()) {
            return refuse(problem);
        }
        const auto manual =
            computeSoundtrackGeometry(job.soundtrackType, {job.resolutionX, job.resolutionY});
        if (!manual || manual->framePitch <= 0 || manual->trackWidth <= 0) {
            return refuse("The manual resolution x=" + std::to_string(job.resolutionX) +
                          ",y=" + std::to_string(job.resolutionY) +
                          " gives no soundtrack width or frame pitch: give both in dpi");
        }
    }
    const Result<OutputTarget> target = resolveOutputTarget(job.outputPath, "the sound");
    if (!target) {
        return noWav(target.message());
    }
    if (Status clash = checkOutputIsNoInput(*target, sequence, kSideFileNames, "the sound");
        !clash) {
        return noWav(clash.message());
    }
    // made now: a folder that cannot be written fails the run before any work
    Result<PendingFile> pending = PendingFile::create(*target, "the sound");
    if (!pending) {
        return noWav(pending.message());
    }
    pendingWav.emplace(std::move(pending).value());
    return {};
}

SoundtrackResult SoundtrackRun::run() {
    ui.enableStart(false);
    const int frameCount = job.stopFrame - job.startFrame + 1;
    ui.setProgressRange(std::clamp(frameCount, 0, 65535));
    ui.setProgressStep(1);
    state.startFrame = job.startFrame;
    state.stopFrame = job.stopFrame;
    state.crossfade = job.crossfade ? 1 : 0;

    if (SoundtrackResult refused = prepare(); !refused.succeeded()) {
        return refused;
    }
    joinPositions.assign(static_cast<std::size_t>(frameCount), 0);
    if (frameCount == 1) {
        log.addLine(format("Only frame %d: one frame gives no sound, a range needs at least two",
                           job.startFrame));
    }

    for (int n = job.startFrame; n <= job.stopFrame; ++n) {
        SoundtrackResult result = acceptFrame(n, readFrame(n));
        if (result.end != SoundtrackEnd::Finished) {
            return result;
        }
        ui.stepProgress();
    }
    return finish();
}

FrameReading SoundtrackRun::readFrame(int n) const {
    FrameReading frame;
    Clock::time_point began = Clock::now();

    // the scan, trimmed to its frame and turned so the film runs down the image
    LoadedScan scan = loadScan(sequence.frames[static_cast<std::size_t>(n - 1)], job.scanLimits);
    frame.loadSeconds = secondsSince(began);
    if (!scan.ok()) {
        frame.unreadable = scan.error;
        return frame;
    }
    frame.scanSize = scan.image.size();
    began = Clock::now();
    cv::Mat workingImage =
        workingImageFromFrame(frameCorrection(scan.image, job.soundtrackType, job.longStrip));
    scan.image.release();
    frame.trimSeconds = secondsSince(began);

    SoundtrackGeometry frameGeometry = geometry;
    if (n == job.startFrame) {
        const ScanResolution manual{job.resolutionX, job.resolutionY};
        if (!job.manualResolution) {
            frame.estimate = estimateResolution(workingImage, job.soundtrackType);
        }
        frameGeometry = computeSoundtrackGeometry(job.soundtrackType,
                                                  frame.estimate ? frame.estimate->snapped : manual)
                            .value_or(SoundtrackGeometry{});
    }

    // the soundtrack band in the chosen colour element, one sample per row
    began = Clock::now();
    const cv::Mat strip = job.cutByAnalysis
                              ? cutStripFromEdge(workingImage, job.soundtrackType, frameGeometry,
                                                 job.colorElement, job.rotationUp)
                              : cutStripByProfile(workingImage, job.soundtrackType, frameGeometry,
                                                  job.colorElement, job.rotationUp);
    frame.samples = stripToSamples(strip, job.removeDc);
    if (job.inverse) {
        ReverseSamples(frame.samples);
    }
    // the frame profile, from the working image as the cutter left it
    frame.rows = workingImage.rows;
    frame.profile = rowProfile(workingImage, 1, workingImage.rows);
    if (job.inverse) {
        ReverseSamples(frame.profile);
    }
    frame.samplesSeconds = secondsSince(began);
    return frame;
}

void SoundtrackRun::settleResolution(const FrameReading& first) {
    if (!first.estimate) {
        resolution = {job.resolutionX, job.resolutionY};
        log.addLine(resolutionLine(resolution));
    } else {
        const ResolutionEstimate& estimate = *first.estimate;
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

SoundtrackResult SoundtrackRun::acceptFrame(int n, FrameReading frame) {
    log.addLine(format("Translating frame number : %d...", n));
    if (timings != nullptr) {
        timings->load += frame.loadSeconds;
        timings->trimAndTurn += frame.trimSeconds;
        timings->stripAndSamples += frame.samplesSeconds;
    }
    if (!frame.unreadable.empty()) {
        return unreadable(frame.unreadable);
    }
    if (n == job.startFrame) {
        settleResolution(frame);
        firstScanSize = frame.scanSize;
    } else if (std::string odd = frameSizeWarning(n, frame.scanSize, job.startFrame, firstScanSize);
               !odd.empty()) {
        log.addLine(odd);
    }
    if (job.stopRequested.load()) {
        return stopped();
    }

    if (n > job.startFrame) {
        previousSamples = std::move(samples);
        previousProfile = std::move(profile);
        state.previousLength = state.currentLength;
    }
    samples = std::move(frame.samples);
    profile = std::move(frame.profile);
    state.currentLength = frame.rows;

    if (n > job.startFrame) {
        Clock::time_point began = Clock::now();
        int join = 0;
        if (job.cutByAnalysis) {
            join = findJoinPositionFromSamples(state, samples, previousSamples, job.soundtrackType,
                                               job.longStrip);
        } else {
            join = findJoinPosition(state, samples, previousSamples, profile, previousProfile,
                                    job.soundtrackType, job.longStrip, &diagnostics)
                       .position;
            anyPairSearched = true;
            if (diagnostics.hasFineCorrelation) {
                lastFineCorrelation = diagnostics.fineCorrelation;
                anyFineCorrelation = true;
            }
        }
        joinPositions[static_cast<std::size_t>(n - job.startFrame)] = join;
        state.previousJoinPosition = n == job.startFrame + 1 ? 0 : state.joinPosition;
        state.joinPosition = join;
        state.frameNumber = n;
        if (timings != nullptr) {
            timings->joinSearch += secondsSince(began);
        }
        began = Clock::now();
        joinFrameSamples(stream, samples, previousSamples, state);
        if (timings != nullptr) {
            timings->joining += secondsSince(began);
        }
    }
    return {};
}

Status SoundtrackRun::writeDiagnostics() const {
    if (!anyPairSearched) {
        return {};
    }
    const std::array<const std::vector<float>*, 3> values = {
        &diagnostics.previousSamples, &diagnostics.samples, &lastFineCorrelation};
    for (std::size_t i = 0; i < kDiagnosticFileNames.size(); ++i) {
        if (i == 2 && !anyFineCorrelation) {
            break;
        }
        const std::string name(kDiagnosticFileNames[i]);
        if (Status written =
                writeSideFile(sequence.directory / name, diagnosticText(*values[i]), name);
            !written) {
            return written;
        }
    }
    return {};
}

SoundtrackResult SoundtrackRun::finish() {
    if (job.inverse) {
        ReverseSamples(stream);
    }
    const Clock::time_point began = Clock::now();

    // the WAV first: when it cannot be written, leng.txt stays as it was
    Plik plik;
    plik.sampleRate = static_cast<std::uint32_t>(job.filmSpeed * geometry.framePitch);
    plik.bitsPerSample = kColourDepth;
    Status wav;
    if (plik.Open(pendingWav->descriptor()) != 0) {
        wav = Status::failure("Cannot write the sound to " + job.outputPath.string() +
                              ": the file cannot be opened for writing");
    } else {
        const std::vector<std::uint8_t> bytes = soundtrackBytes(stream, job.removeDc);
        bool complete =
            plik.Write(bytes.data(), bytes.size()) == static_cast<long long>(bytes.size());
        if (!complete) {
            trace("Data lost");
        }
        complete = plik.Close() && complete;
        wav = complete ? pendingWav->commit()
                       : Status::failure("Cannot write the sound to " + job.outputPath.string() +
                                         ": the disk took only part of it");
    }
    pendingWav.reset();
    const std::size_t sampleCount = stream.size();
    stream.clear();
    stream.shrink_to_fit();
    if (!wav) {
        if (timings != nullptr) {
            timings->writing += secondsSince(began);
        }
        return noWav(wav.message());
    }

    SoundtrackResult result;
    result.wavPath = job.outputPath;
    result.sampleRate = plik.sampleRate;
    result.sampleCount = sampleCount;

    // "leng.txt" beside the scans: a product of the run, so its failure fails the run
    const std::filesystem::path lengthsPath = sequence.directory / kLengthsFileName;
    const Status lengths =
        writeSideFile(lengthsPath, joinPositionsText(joinPositions), "the join positions");
    // the diagnostics only help whoever tunes the search: a warning at most
    const Status diagnosticsWritten = writeDiagnostics();
    if (timings != nullptr) {
        timings->writing += secondsSince(began);
    }

    ui.setProgressPosition(0);
    if (!diagnosticsWritten) {
        const std::string warning = "Could not write v.txt, z.txt and r.txt in " +
                                    sequence.directory.string() + " (" +
                                    diagnosticsWritten.message() + ")";
        log.addLine(warning);
        result.warnings.push_back(warning);
    }
    if (!lengths) {
        result.end = SoundtrackEnd::LengthsNotWritten;
        result.message = "The sound was written to " + job.outputPath.string() +
                         ", but the join positions were not. " + lengths.message();
        log.addLine(result.message);
    } else {
        result.lengthsPath = lengthsPath;
        log.addUncountedLine("Pictures were tranlated succesfully!");
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
