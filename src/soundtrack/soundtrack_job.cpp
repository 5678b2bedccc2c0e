#include "soundtrack/soundtrack_job.h"

#include "base/kept_texts.h"
#include "geometry/frame_correction.h"
#include "geometry/profile.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "geometry/trace.h"
#include "job/frame_sequence.h"
#include "job/job_log.h"
#include "job/parallel.h"
#include "job/safe_file.h"
#include "soundtrack/archival_frame.h"
#include "soundtrack/archival_stream.h"
#include "soundtrack/frame_joining.h"
#include "soundtrack/frame_samples.h"
#include "soundtrack/join_search.h"
#include "soundtrack/plik.h"
#include "soundtrack/resample.h"
#include "soundtrack/sound_file.h"
#include "soundtrack/strip.h"
#include "soundtrack/track_geometry.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <optional>

#include <tbb/enumerable_thread_specific.h>
#include <tbb/global_control.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

namespace veltrana {

namespace {

constexpr const char* kLengthsFileName = "leng.txt";
constexpr const char* kJoinReportFileName = "joins.csv";
// Drift below this goes from archival sound (a gentler high-pass costs
// content on short runs).
constexpr double kDriftCutoffHz = 0.5;
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

// A CSV field: a text with a comma, a quote or a line break is quoted, its
// quotes doubled.
std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string field(1, '"');
    for (char c : text) {
        field.push_back(c);
        if (c == '"') {
            field.push_back('"');
        }
    }
    field.push_back('"');
    return field;
}

bool differsByMoreThanATenth(int measured, int snapped) {
    return std::abs(measured - snapped) > 0.1 * snapped;
}

// What one frame gives the run, measured ahead on any thread with no
// observer call; the frame's turn to be reported comes later, in order.
struct FrameReading {
    int number = 0;
    bool skipped = false; // not read: a stop was asked for before its turn
    Status loaded;        // whether the scan could be loaded, and why not
    cv::Size scanSize;
    FrameSamples measured; // samples and profile reversed already for inverse
    // what archival sound reads of the frame (reversed already for inverse)
    std::optional<ArchivalFrame> archival;
    cv::Mat picture; // a preview of the scan, when one was due
    // the first frame of a run settles the resolution
    std::optional<ResolutionEstimate> estimate;
    std::string trace; // the measures' trace lines, printed when the frame is reported
    // seconds spent, for the benchmark
    double loadSeconds = 0;
    double samplesSeconds = 0;
};

// The join of a frame with the one before, searched as soon as both are read.
struct PairSearch {
    int position = 0;
    bool searched = false;              // false for the first frame
    std::optional<PreciseJoin> precise; // with precise joins
    JoinDiagnostics diagnostics;
    std::string trace;
    double seconds = 0;
};

// A frame on its way through the pipeline.
struct FrameItem {
    std::shared_ptr<const FrameReading> frame;
    std::shared_ptr<const FrameReading> previous;
    PairSearch search;
};

// One run of the job: the frames' samples and profiles, the joins and the
// output stream, and everything the user sees of it.
class SoundtrackRun {
public:
    explicit SoundtrackRun(SoundtrackJob& job)
        : job(job), ui(job.observer != nullptr ? *job.observer : nullObserver), log(ui),
          previews(ui.previewRequest()), pacer(previews) {}

    SoundtrackResult run();
    // Ends a run that broke off on an exception: nothing is left written.
    SoundtrackResult brokeOff(const char* what);

private:
    SoundtrackResult prepare();
    FrameSampling sampling() const;
    FrameReading readFrame(int n) const;
    PairSearch searchPair(const FrameReading& previous, const FrameReading& current) const;
    SoundtrackResult acceptFrame(const FrameItem& item);
    SoundtrackResult readRest(std::shared_ptr<const FrameReading> first);
    void settleResolution(const FrameReading& first);
    SoundtrackResult finish();
    Status writeDiagnostics() const;
    Status writeDeliverySound(std::vector<float> sound, SoundtrackResult& result);
    std::string joinReport() const;
    bool usesArchivalStream() const { return job.archivalLevels || job.preciseJoins; }
    void showFrame(const FrameReading& frame, std::optional<double> join,
                   std::optional<double> score, bool weak);

    SoundtrackResult refuse(const std::string& message);
    SoundtrackResult stopped();
    SoundtrackResult unreadable(const std::string& detail);
    SoundtrackResult noWav(const std::string& message);

    SoundtrackJob& job;
    NullObserver nullObserver;
    JobObserver& ui;
    JobLog log;
    const PreviewRequest previews;
    PicturePacer pacer;
    std::vector<double> joinsSoFar; // for the previews' outlying joins
    // each thread's memory for its scans, kept from one scan to the next
    mutable tbb::enumerable_thread_specific<ScanBuffers> scanBuffers;

    FrameSequence sequence;
    std::optional<PendingFile> pendingWav;   // the WAV, open from before the first frame
    std::optional<PendingFile> pendingJoins; // joins.csv, with archival sound
    std::filesystem::path joinsPath;
    std::optional<ArchivalStream> archivalStream;
    std::vector<JoinRecord> joinRecords;
    ScanResolution resolution;
    SoundtrackGeometry geometry;
    cv::Size firstScanSize;
    FrameRangeProgress progress;
    FrameJoinState state;
    std::vector<int> joinPositions;
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
    pendingJoins.reset();
    ui.setProgressPosition(0);
    log.replaceWith(message);
    ui.enableStart(true);
    return ended(SoundtrackEnd::Refused, message);
}

SoundtrackResult SoundtrackRun::noWav(const std::string& message) {
    pendingWav.reset();
    pendingJoins.reset();
    ui.setProgressPosition(0);
    log.replaceWith(message);
    ui.enableStart(true);
    return ended(SoundtrackEnd::WavNotWritten, message);
}

SoundtrackResult SoundtrackRun::stopped() {
    pendingWav.reset();
    pendingJoins.reset();
    ui.setProgressPosition(0);
    log.replaceWith(kept::kOperationStopped);
    ui.enableStart(true);
    ui.enableStop(true);
    return ended(SoundtrackEnd::Stopped, kept::kOperationStopped);
}

SoundtrackResult SoundtrackRun::unreadable(const std::string& detail) {
    pendingWav.reset();
    pendingJoins.reset();
    ui.setProgressPosition(0);
    // the box keeps the words users know, and says why beneath them
    log.replaceWith(std::string(kept::kWrongFileFormat) + "\r\n" + detail);
    ui.enableStart(true);
    ui.enableStop(true);
    return ended(SoundtrackEnd::UnreadableFrame,
                 std::string(kept::kWrongFileFormat) + " " + detail);
}

SoundtrackResult SoundtrackRun::brokeOff(const char* what) {
    pendingWav.reset();
    pendingJoins.reset();
    const std::string message = std::string(kRunBrokeOff) + what;
    ui.setProgressPosition(0);
    log.replaceWith(message);
    ui.enableStart(true);
    ui.enableStop(true);
    return ended(SoundtrackEnd::Error, message);
}

// Everything that can be refused is refused before a scan is read: the
// frames, the range, the resolution and the output.
SoundtrackResult SoundtrackRun::prepare() {
    Result<FrameSequence> listed = listFrameSequence(job.inputPath);
    if (!listed) {
        return refuse(listed.message());
    }
    sequence = std::move(listed).value();
    if (const Status range = checkFrameRange(sequence, job.startFrame, job.stopFrame); !range) {
        return refuse(range.message());
    }
    if (job.manualResolution) {
        if (const Status manual = checkManualResolution({job.resolutionX, job.resolutionY});
            !manual) {
            return refuse(manual.message());
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

    if (usesArchivalStream()) {
        // the join report beside the sound, under the same rules
        const std::filesystem::path given = job.outputPath;
        joinsPath = given.parent_path() / kJoinReportFileName;
        const Result<OutputTarget> report = resolveOutputTarget(joinsPath, "the join report");
        if (!report) {
            return noWav(report.message());
        }
        if (isSameFile(*target, joinsPath)) {
            return noWav("Cannot write the sound to " + job.outputPath.string() +
                         ": the run writes its join report there");
        }
        if (Status clash =
                checkOutputIsNoInput(*report, sequence, kSideFileNames, "the join report");
            !clash) {
            return noWav(clash.message());
        }
        Result<PendingFile> joins = PendingFile::create(*report, "the join report");
        if (!joins) {
            return noWav(joins.message());
        }
        pendingJoins.emplace(std::move(joins).value());
    }
    return {};
}

SoundtrackResult SoundtrackRun::run() {
    ui.enableStart(false);
    const int frameCount = job.stopFrame - job.startFrame + 1;
    ui.setProgressRange(std::clamp(frameCount, 0, 65535));
    ui.setProgressStep(1);
    progress.startFrame = job.startFrame;
    progress.stopFrame = job.stopFrame;
    state.crossfade = job.crossfade ? 1 : 0;

    if (SoundtrackResult refused = prepare(); !refused.succeeded()) {
        return refused;
    }
    joinPositions.assign(static_cast<std::size_t>(frameCount), 0);
    if (frameCount == 1) {
        log.addLine(format("Only frame %d: one frame gives no sound, a range needs at least two",
                           job.startFrame));
    }

    // the first frame settles the resolution every other frame is measured with
    FrameItem first;
    first.frame = std::make_shared<const FrameReading>(readFrame(job.startFrame));
    if (SoundtrackResult result = acceptFrame(first); !result.succeeded()) {
        return result;
    }
    ui.stepProgress();
    if (SoundtrackResult result = readRest(first.frame); !result.succeeded()) {
        return result;
    }
    return finish();
}

FrameSampling SoundtrackRun::sampling() const {
    FrameSampling s;
    s.type = job.soundtrackType;
    s.longStrip = job.longStrip;
    s.element = job.colorElement;
    s.rotationUp = job.rotationUp;
    s.removeDc = job.removeDc;
    s.cutByAnalysis = job.cutByAnalysis;
    return s;
}

FrameReading SoundtrackRun::readFrame(int n) const {
    FrameReading frame;
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
    frame.scanSize = scan.value().size();
    began = Clock::now();

    SoundtrackGeometry frameGeometry = geometry;
    if (n == job.startFrame) {
        ScanResolution settled{job.resolutionX, job.resolutionY};
        if (!job.manualResolution) {
            // the trim's trace lines come once, from the sampling below
            FrameBounds bounds;
            {
                const TraceCapture quiet;
                bounds = findFrameBounds(scan.value(), job.soundtrackType, job.longStrip);
            }
            frame.estimate = estimateScanResolution(
                scan.value().colRange(bounds.left, bounds.right + 1), job.soundtrackType);
            settled = frame.estimate->snapped;
        }
        frameGeometry =
            computeSoundtrackGeometry(job.soundtrackType, settled).value_or(SoundtrackGeometry{});
    }
    frame.measured = sampleFrame(scan.value(), sampling(), frameGeometry);
    if (pacer.due()) {
        frame.picture = previewPicture(scan.value());
    }
    if (usesArchivalStream()) {
        const FrameBounds& b = frame.measured.bounds;
        frame.archival = archivalFrameOfScan(scan.value().colRange(b.left, b.right + 1),
                                             frame.measured.band, job.colorElement,
                                             job.soundtrackType, job.rotationUp, job.longStrip);
        if (!job.archivalLevels) {
            // precise joins of the standard samples: the levels stay as they are
            frame.archival->samples = frame.measured.samples;
            std::fill(frame.archival->illumination.begin(), frame.archival->illumination.end(),
                      1.0f);
        }
        if (job.inverse) {
            reverseRows(*frame.archival);
        }
    }
    scan.value().release();
    if (job.inverse) {
        ReverseSamples(frame.measured.samples);
        ReverseSamples(frame.measured.profile);
    }
    frame.samplesSeconds = secondsSince(began);
    frame.trace = capture.take();
    return frame;
}

PairSearch SoundtrackRun::searchPair(const FrameReading& previous,
                                     const FrameReading& current) const {
    PairSearch search;
    search.searched = true;
    TraceCapture capture;
    const Clock::time_point began = Clock::now();
    FrameLengths pair;
    pair.previousLength = previous.measured.rows;
    pair.currentLength = current.measured.rows;
    const FrameSamples& p = previous.measured;
    const FrameSamples& c = current.measured;
    if (job.cutByAnalysis) {
        search.position = findJoinPositionFromSamples(pair, c.samples, p.samples,
                                                      job.soundtrackType, job.longStrip);
    } else {
        search.position = findJoinPosition(pair, c.samples, p.samples, c.profile, p.profile,
                                           job.soundtrackType, job.longStrip, &search.diagnostics)
                              .position;
    }
    if (job.preciseJoins && previous.archival && current.archival) {
        search.precise = findPreciseJoin(*previous.archival, *current.archival, job.soundtrackType,
                                         job.longStrip);
    }
    search.seconds = secondsSince(began);
    search.trace = capture.take();
    return search;
}

// Frames after the first, read and searched on every thread asked for, and
// reported in order on this one. A frame is reported only when every frame
// before it was; once the run has ended (stopped, an unreadable scan), the
// frames read ahead are dropped unreported.
SoundtrackResult SoundtrackRun::readRest(std::shared_ptr<const FrameReading> first) {
    const int threads = jobThreads(job.threads);
    int next = job.startFrame + 1;
    bool stopAsked = false;
    std::optional<SoundtrackResult> end;
    std::shared_ptr<const FrameReading> last = std::move(first);
    // set when the run has ended: no more frames are read or searched
    std::atomic<bool> failed{false};
    // more threads than cores, when asked for, without the library's complaint
    const tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism,
                                          static_cast<std::size_t>(threads));
    // the stages' keys for the thread sanitizer (parallel.h)
    const char stages[5] = {};
    for (const char& stage : stages) {
        handOver(&stage);
    }
    tbb::task_arena arena(threads);
    arena.execute([&] {
        tbb::parallel_pipeline(
            static_cast<std::size_t>(framesInFlight(threads)),
            // the next frame number, in order
            tbb::make_filter<void, std::shared_ptr<FrameItem>>(
                tbb::filter_mode::serial_in_order,
                [&](tbb::flow_control& control) -> std::shared_ptr<FrameItem> {
                    const StageTurn turn(&stages[0]);
                    if (next > job.stopFrame || stopAsked || failed.load()) {
                        control.stop();
                        return nullptr;
                    }
                    auto item = std::make_shared<FrameItem>();
                    auto frame = std::make_shared<FrameReading>();
                    frame->number = next++;
                    // a stop shows at the next frame's turn; nothing more is read
                    if (job.stopRequested.load() || job.cancelRequested()) {
                        frame->skipped = true;
                        stopAsked = true;
                    }
                    item->frame = std::move(frame);
                    handOver(item.get());
                    return item;
                }) &
                // the scan read and measured
                tbb::make_filter<std::shared_ptr<FrameItem>, std::shared_ptr<FrameItem>>(
                    tbb::filter_mode::parallel,
                    [&](std::shared_ptr<FrameItem> item) {
                        const StageTurn turn(&stages[1], item.get());
                        if (!item->frame->skipped && !failed.load()) {
                            item->frame = std::make_shared<const FrameReading>(
                                readFrame(item->frame->number));
                        }
                        return item;
                    }) &
                // each frame meets the one before it
                tbb::make_filter<std::shared_ptr<FrameItem>, std::shared_ptr<FrameItem>>(
                    tbb::filter_mode::serial_in_order,
                    [&](std::shared_ptr<FrameItem> item) {
                        const StageTurn turn(&stages[2], item.get());
                        item->previous = last;
                        last = item->frame;
                        return item;
                    }) &
                // the pair's join searched
                tbb::make_filter<std::shared_ptr<FrameItem>, std::shared_ptr<FrameItem>>(
                    tbb::filter_mode::parallel,
                    [&](std::shared_ptr<FrameItem> item) {
                        const StageTurn turn(&stages[3], item.get());
                        const FrameReading& frame = *item->frame;
                        if (item->previous && !failed.load() && !frame.skipped &&
                            frame.loaded.ok() && !item->previous->skipped &&
                            item->previous->loaded.ok()) {
                            item->search = searchPair(*item->previous, frame);
                        }
                        return item;
                    }) &
                // reported in order
                tbb::make_filter<std::shared_ptr<FrameItem>, void>(
                    tbb::filter_mode::serial_in_order, [&](std::shared_ptr<FrameItem> item) {
                        const StageTurn turn(&stages[4], item.get());
                        if (end) {
                            return;
                        }
                        SoundtrackResult result = acceptFrame(*item);
                        if (!result.succeeded()) {
                            end = std::move(result);
                            failed.store(true);
                            return;
                        }
                        ui.stepProgress();
                    }));
    });
    for (const char& stage : stages) {
        takeOver(&stage);
    }
    if (end) {
        return *end;
    }
    return {};
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

SoundtrackResult SoundtrackRun::acceptFrame(const FrameItem& item) {
    const FrameReading& frame = *item.frame;
    const int n = frame.number;
    log.addLine(format("Translating frame number : %d...", n));
    printTrace(frame.trace);
    if (timings != nullptr) {
        timings->load += frame.loadSeconds;
        timings->stripAndSamples += frame.samplesSeconds;
    }
    if (frame.skipped) {
        return stopped();
    }
    if (!frame.loaded) {
        return unreadable(frame.loaded.message());
    }
    if (n == job.startFrame) {
        settleResolution(frame);
        firstScanSize = frame.scanSize;
    } else if (const auto odd =
                   frameSizeWarning(n, frame.scanSize, job.startFrame, firstScanSize)) {
        log.addLine(*odd);
    }
    if (job.stopRequested.load() || job.cancelRequested()) {
        return stopped();
    }

    state.previousLength = state.currentLength;
    state.currentLength = frame.measured.rows;
    if (usesArchivalStream() && n == job.startFrame) {
        ArchivalSettings settings;
        settings.type = job.soundtrackType;
        settings.longStrip = job.longStrip;
        settings.crossfade = job.crossfade;
        settings.sampleRate = static_cast<double>(job.filmSpeed) * geometry.framePitch;
        settings.driftCutoffHz = kDriftCutoffHz;
        settings.scaleByWidth = job.archivalLevels;
        settings.flattenIllumination = job.archivalLevels;
        settings.matchOffsets = job.archivalLevels;
        settings.centre = job.archivalLevels;
        archivalStream.emplace(settings);
        (void)archivalStream->addFrame(*frame.archival, n, 0);
    }
    if (n > job.startFrame) {
        const PairSearch& search = item.search;
        printTrace(search.trace);
        if (!job.cutByAnalysis) {
            anyPairSearched = true;
            diagnostics = search.diagnostics;
            if (diagnostics.hasFineCorrelation) {
                lastFineCorrelation = diagnostics.fineCorrelation;
                anyFineCorrelation = true;
            }
        }
        const int join = search.position;
        std::optional<double> shownJoin = join;
        std::optional<double> score;
        bool weak = false;
        joinPositions[static_cast<std::size_t>(n - job.startFrame)] = join;
        state.joinPosition = join;
        progress.frameNumber = n;
        const Clock::time_point began = Clock::now();
        if (archivalStream) {
            // without precise joins the search found nothing: the standard join is used
            const std::optional<JoinRecord> record = archivalStream->addFrame(
                *frame.archival, n, join, search.precise.value_or(PreciseJoin{}));
            if (record) {
                shownJoin = record->position;
                if (job.preciseJoins) {
                    score = record->precise.score;
                    weak = isFallback(record->method);
                }
            }
            if (record && job.preciseJoins && isFallback(record->method)) {
                char line[200];
                std::snprintf(line, sizeof line,
                              "Frame %d: the precise join is %s (score %.2f); the standard "
                              "join %d is used",
                              n,
                              record->method == JoinMethod::StandardNotFound ? "not found" : "weak",
                              record->precise.score, join);
                log.addLine(line);
            }
        } else {
            joinFrameSamples(stream, frame.measured.samples, item.previous->measured.samples,
                             progress, state);
        }
        if (timings != nullptr) {
            timings->joinSearch += search.seconds;
            timings->joining += secondsSince(began);
        }
        showFrame(frame, shownJoin, score, weak);
    } else {
        showFrame(frame, std::nullopt, std::nullopt, false);
    }
    return {};
}

void SoundtrackRun::showFrame(const FrameReading& frame, std::optional<double> join,
                              std::optional<double> score, bool weak) {
    const bool picture = !frame.picture.empty() && pacer.take();
    if (!previews.frames && !picture) {
        return;
    }
    FramePreview preview;
    preview.frame = frame.number;
    preview.file = sequence.frames[static_cast<std::size_t>(frame.number - 1)].filename().string();
    preview.scanSize = frame.scanSize;
    preview.bounds = frame.measured.bounds;
    if (frame.number == job.startFrame) {
        preview.resolution = resolution;
    }
    preview.band = ScanRows{frame.measured.band.first, frame.measured.band.last};
    preview.join = join;
    preview.score = score;
    preview.weak = weak;
    if (join) {
        preview.outlying = isOutlyingJoin(*join, joinsSoFar);
        joinsSoFar.push_back(*join);
    }
    preview.samples = frame.measured.samples;
    preview.level = frame.measured.level;
    if (previews.frames) {
        ui.framePreview(preview);
    }
    if (picture) {
        ui.picturePreview(preview, frame.picture);
    }
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

std::string SoundtrackRun::joinReport() const {
    // frame, file, the standard join, the precise join, its score, the join
    // used and, for a precise one, its precision (one standard deviation, rows)
    std::string text =
        "frame,file,standard_join,precise_join,score,method,join_used,precision_rows\n";
    char line[512];
    for (const JoinRecord& r : joinRecords) {
        const std::string file =
            sequence.frames[static_cast<std::size_t>(r.frameNumber - 1)].filename().string();
        const std::string quoted = csvField(file);
        const std::string precise =
            r.precise.found ? [&] {
                char value[32];
                std::snprintf(value, sizeof value, "%.3f", r.precise.position);
                return std::string(value);
            }()
                            : std::string();
        std::string precision;
        if (job.preciseJoins && !isFallback(r.method)) {
            char value[32];
            std::snprintf(value, sizeof value, "%.3f", r.precise.precision);
            precision = value;
        }
        std::snprintf(line, sizeof line, "%d,%s,%d,%s,%.3f,%s,%.3f,%s\n", r.frameNumber,
                      quoted.c_str(), r.standardPosition, precise.c_str(), r.precise.score,
                      job.preciseJoins ? joinMethodName(r.method) : "standard", r.position,
                      precision.c_str());
        text += line;
    }
    return text;
}

Status SoundtrackRun::writeDeliverySound(std::vector<float> sound, SoundtrackResult& result) {
    // centred on 0 in 8-bit steps: archival levels are; standard levels are
    // centred as the byte conversion expects them
    if (!job.archivalLevels) {
        const float offset = job.removeDc ? 128.0f : -128.0f;
        for (float& v : sound) {
            v += offset;
        }
    }
    const int filmRate = job.filmSpeed * geometry.framePitch;
    int rate = filmRate;
    if (job.outputRate > 0 && job.outputRate != filmRate) {
        Result<std::vector<float>> resampled = resampleSound(sound, filmRate, job.outputRate);
        if (!resampled) {
            return Status::failure("Cannot write the sound to " + job.outputPath.string() + ": " +
                                   resampled.message());
        }
        sound = std::move(resampled).value();
        rate = job.outputRate;
    }
    BroadcastInfo info;
    char description[256];
    std::snprintf(description, sizeof description,
                  "Optical soundtrack, %s, scanned at %d x %d dpi, frames %d to %d, %d fps; "
                  "%s joins, %s levels",
                  filmStandardDescription(job.soundtrackType), resolution.dpiX, resolution.dpiY,
                  job.startFrame, job.stopFrame, job.filmSpeed,
                  job.preciseJoins ? "precise" : "standard",
                  job.archivalLevels ? "archival" : "standard");
    info.description = description;
    info.codingHistory = codingHistoryLine(filmRate, 32, "Veltrana " VELTRANA_VERSION " film scan");
    info.codingHistory += codingHistoryLine(rate, job.bitsPerSample, "Veltrana " VELTRANA_VERSION);
    const Result<WaveWritten> written = writeBroadcastWave(
        pendingWav->descriptor(), job.outputPath.string(), sound, rate, job.bitsPerSample, info);
    if (!written) {
        return written.status();
    }
    result.sampleRate = static_cast<std::uint32_t>(rate);
    result.bitsPerSample = job.bitsPerSample;
    result.broadcastWave = true;
    result.sampleCount = written->samples;
    result.clippedSamples = written->clipped;
    if (written->clipped > 0) {
        log.addLine(std::to_string(written->clipped) + " samples clipped at full scale");
    }
    return pendingWav->commit();
}

SoundtrackResult SoundtrackRun::finish() {
    if (archivalStream) {
        ArchivalOutput out = archivalStream->finish();
        stream = std::move(out.stream);
        joinPositions = std::move(out.joinLengths);
        joinRecords = std::move(out.joins);
        archivalStream.reset();
    }
    if (job.inverse) {
        ReverseSamples(stream);
    }
    const Clock::time_point began = Clock::now();

    // the WAV first: when it cannot be written, leng.txt stays as it was
    SoundtrackResult result;
    Status wav;
    if (job.bitsPerSample == kColourDepth && job.outputRate == 0 && !job.archivalLevels) {
        // the standard file, byte for byte
        Plik plik;
        plik.sampleRate = static_cast<std::uint32_t>(job.filmSpeed * geometry.framePitch);
        plik.bitsPerSample = kColourDepth;
        const std::vector<std::uint8_t> bytes = soundtrackBytes(stream, job.removeDc);
        Status written = plik.open(pendingWav->descriptor());
        if (written) {
            written = plik.write(bytes);
            if (!written) {
                trace("Data lost");
            }
            // the sizes are completed even after a short write, as always
            const Status closed = plik.close();
            if (written) {
                written = closed;
            }
        }
        wav = written ? pendingWav->commit()
                      : Status::failure("Cannot write the sound to " + job.outputPath.string() +
                                        ": " + written.message());
        result.sampleRate = plik.sampleRate;
        result.sampleCount = stream.size();
    } else {
        wav = writeDeliverySound(std::move(stream), result);
    }
    pendingWav.reset();
    stream.clear();
    stream.shrink_to_fit();
    if (!wav) {
        if (timings != nullptr) {
            timings->writing += secondsSince(began);
        }
        return noWav(wav.message());
    }
    result.wavPath = job.outputPath;

    // the join report next, then "leng.txt" beside the scans: products of
    // the run, so their failure fails it
    Status joins;
    if (pendingJoins) {
        joins = pendingJoins->write(joinReport());
        if (joins) {
            joins = pendingJoins->commit();
        }
        pendingJoins.reset();
    }
    const std::filesystem::path lengthsPath = sequence.directory / kLengthsFileName;
    Status lengths = Status::failure("it was not written: the join report was not");
    if (joins) {
        result.joinsPath = joinsPath.empty() ? std::filesystem::path() : joinsPath;
        lengths =
            writeSideFile(lengthsPath, joinPositionsText(joinPositions), "the join positions");
    }
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
    if (!joins) {
        result.end = SoundtrackEnd::LengthsNotWritten;
        result.message = "The sound was written to " + job.outputPath.string() +
                         ", but the join report and the join positions were not. " +
                         joins.message();
        log.addLine(result.message);
    } else if (!lengths) {
        result.end = SoundtrackEnd::LengthsNotWritten;
        result.message = "The sound was written to " + job.outputPath.string() +
                         ", but the join positions were not. " + lengths.message();
        log.addLine(result.message);
    } else {
        result.lengthsPath = lengthsPath;
        log.addUncountedLine(kept::kTranslated);
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

bool writesStandardSound(const SoundtrackJob& job) {
    return !job.archivalLevels && !job.preciseJoins && job.bitsPerSample == kColourDepth &&
           job.outputRate == 0;
}

SoundtrackResult runSoundtrackJob(SoundtrackJob& job) {
    SoundtrackRun run(job);
    try {
        return run.run();
    } catch (const std::exception& e) {
        // the image library and allocations can throw; the run ends, the program does not
        return run.brokeOff(e.what());
    } catch (...) {
        return run.brokeOff(kUnknownError);
    }
}

int SoundtrackWorker(SoundtrackJob* job) {
    const SoundtrackResult result = runSoundtrackJob(*job);
    return result.end == SoundtrackEnd::UnreadableFrame ? -1 : 0;
}

} // namespace veltrana
