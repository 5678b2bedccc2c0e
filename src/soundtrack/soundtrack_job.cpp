#include "soundtrack/soundtrack_job.h"

#include "base/kept_texts.h"
#include "geometry/profile.h"
#include "geometry/resolution.h"
#include "geometry/trace.h"
#include "job/frame_scans.h"
#include "job/frame_sequence.h"
#include "job/job_log.h"
#include "job/ordered_frames.h"
#include "job/rendered_speed.h"
#include "job/run_view.h"
#include "job/safe_file.h"
#include "job/stage_clock.h"
#include "reading/scan_reader.h"
#include "soundtrack/join_evidence.h"
#include "soundtrack/join_report.h"
#include "soundtrack/sound_assembly.h"
#include "soundtrack/sound_frame.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <set>

namespace veltrana {

namespace {

constexpr const char* kLengthsFileName = "leng.txt";
constexpr const char* kJoinReportFileName = "joins.csv";
constexpr std::array<std::string_view, 3> kDiagnosticFileNames = {"v.txt", "z.txt", "r.txt"};
constexpr std::array<std::string_view, 4> kSideFileNames = {"leng.txt", "v.txt", "z.txt", "r.txt"};
// a progress bar's range is sixteen bits wide
constexpr int kProgressMaximum = 65535;

// A standard run reads the bands the precise search registers and searches
// each pair precisely too, to judge its joins by (join_evidence.h): the sound
// and leng.txt still come from the standard search alone.
SoundReadSettings judgedReading(SoundReadSettings s) {
    if (s.archival == ArchivalReading::None) {
        s.archival = ArchivalReading::JoinsOnly;
        s.searchPrecisely = true;
    }
    return s;
}

// the level standard samples are centred on once each frame's mean goes (-DC):
// silence, the byte 128 of the 8-bit WAV
constexpr float kCentredSilence = -128.0f;

std::string format(const char* pattern, int a) {
    char line[160];
    std::snprintf(line, sizeof line, pattern, a);
    return line;
}

bool differsByMoreThanATenth(int measured, int snapped) {
    return std::abs(measured - snapped) > 0.1 * snapped;
}

// What one frame gives the run, measured ahead on any thread with no
// observer call; the frame's turn to be reported comes later, in order.
struct FrameReading {
    Status loaded;               // whether the scan could be loaded, and why not
    ScanDescription description; // what the scan file held
    SoundFrame sound;
    cv::Mat picture;   // a preview of the scan, when one was due
    std::string trace; // the measures' trace lines, printed when the frame is reported
    // seconds spent, for the benchmark
    double loadSeconds = 0;
    double samplesSeconds = 0;
};

using FrameTurn = FrameInTurn<FrameReading, PairSearch>;

float meanOf(std::span<const float> values) {
    double sum = 0;
    for (const float v : values) {
        sum += v;
    }
    return values.empty() ? 0.0f : static_cast<float>(sum / static_cast<double>(values.size()));
}

// The silence standing in for a lost frame: as long as the frame before it,
// with its trim and band, every sample at the silent level. That is the
// centre of the scale when each frame's mean goes; otherwise, and for
// archival levels (whose offsets are matched at the joins anyway), the mean
// of the frame before, so that no step is heard.
SoundFrame silentFrame(int number, const SoundFrame& before, bool removeDc) {
    SoundFrame silent;
    silent.number = number;
    silent.scanSize = before.scanSize;
    const FrameSamples& b = before.measured;
    silent.measured.bounds = b.bounds;
    silent.measured.band = b.band;
    silent.measured.rows = b.rows;
    silent.measured.level = b.level;
    const std::size_t rows = b.samples.size();
    silent.measured.samples.assign(rows, removeDc ? kCentredSilence : meanOf(b.samples));
    silent.measured.profile.assign(b.profile.size(), meanOf(b.profile));
    if (before.archival) {
        ArchivalFrame a;
        a.samples.assign(before.archival->samples.size(), meanOf(before.archival->samples));
        a.illumination.assign(a.samples.size(), 1.0f);
        a.bandColumns = before.archival->bandColumns;
        a.bandWidth = before.archival->bandWidth;
        silent.archival = std::move(a);
    }
    return silent;
}

// The sentence that sums up a run's lost frames, for the log and the report.
std::string lostFramesSentence(const std::vector<LostFrame>& lost) {
    std::string frames;
    std::set<int> joins;
    for (const LostFrame& f : lost) {
        frames += (frames.empty() ? "" : ", ") + std::to_string(f.frame);
        joins.insert(f.joinsNotSearched.begin(), f.joinsNotSearched.end());
    }
    std::string unsearched;
    for (const int j : joins) {
        unsearched += (unsearched.empty() ? "" : ", ") + std::to_string(j);
    }
    return std::to_string(lost.size()) +
           (lost.size() == 1 ? " frame lost, silence in its place: "
                             : " frames lost, silence in their place: ") +
           frames + "; joins not searched (frame pitch in " + kLengthsFileName +
           "): " + (unsearched.empty() ? "none" : unsearched);
}

SoundtrackResult soundtrackResult(JobEnding ending) {
    return resultOf<SoundtrackResult>(std::move(ending));
}

// One run of the job: the frames' samples and the sound they are assembled
// into, the files it writes, and everything the user sees of it.
class SoundtrackRun {
public:
    explicit SoundtrackRun(SoundtrackJob& job)
        : job(job), plan(soundPlanOf(job)), reading(judgedReading(readSettingsOf(job, job, plan))),
          view(job.observer, StopButton::Shown) {}

    SoundtrackResult run();
    // Ends a run that broke off on an exception: nothing is left written.
    SoundtrackResult brokeOff(const char* what);

private:
    std::optional<JobEnding> prepare();
    std::optional<JobEnding> prepareOutputs();
    std::optional<JobEnding> prepareJoinReport(const OutputTarget& sound);
    FrameReading readFrame(int n) const;
    // where leng.txt and the diagnostics go
    std::filesystem::path sideFolder() const {
        return job.sideFilesFolder.empty() ? sequence.directory : job.sideFilesFolder;
    }
    PairSearch meetFrames(const FrameReading& previous, const FrameReading& current) const;
    std::optional<JobEnding> acceptFrame(const FrameTurn& turn);
    std::optional<JobEnding> acceptLostFrame(const FrameTurn& turn);
    void joinUnsearched(const FrameReading& frame, const FrameReading& previous);
    void reportLostFrames(SoundtrackResult& result);
    void settleResolution(const FrameReading& first);
    void logWindow(const SoundFrame& first);
    std::string noTrackMessage(int n, const Status& why) const;
    std::optional<JobEnding> settleOutputRate(int framePitch);
    void noteFirstScan(const ScanDescription& scan);
    void joinFrame(const FrameReading& frame, const FrameReading& previous,
                   const PairSearch& search);
    JoinEvidence evidenceOf(const FrameReading& frame, const FrameReading& previous,
                            const PairSearch& search, const JoinShown& shown) const;
    void showFrame(const FrameReading& frame, const JoinShown& shown, const PairSearch& search,
                   const JoinEvidence& evidence);
    void warnOfTheSpeed();
    void warnOfTheRun(SoundtrackResult& result);
    SoundtrackResult finish();
    Status writeWav(AssembledSound sound, SoundtrackResult& result);
    Status writeJoinReport(const std::vector<JoinRecord>& joins);
    Status writeDiagnostics() const;
    void reportFiles(const Status& joins, const Status& lengths, const Status& diagnosticsWritten,
                     SoundtrackResult& result);

    // Ends the run with nothing written (the temporary files removed).
    JobEnding end(JobEnd how, const std::string& logText, std::string message);
    JobEnding end(JobEnd how, const std::string& message) { return end(how, message, message); }

    SoundtrackJob& job;
    const SoundPlan plan;
    const SoundReadSettings reading;
    RunView view;
    RunEvidence evidence{job.soundtrackType}; // what the frames say of the band and the joins
    std::optional<RunWarning> speedWarning;   // rendered scans read at another speed
    bool resolutionMeasured = false;          // on the first frame, rather than given
    FrameScans scans{job.memoryBudget};

    FrameSequence sequence;
    std::optional<PendingFile> pendingWav;   // the WAV, open from before the first frame
    std::optional<PendingFile> pendingJoins; // joins.csv, with archival sound
    std::filesystem::path joinsPath;
    std::unique_ptr<SoundAssembly> assembly;
    ScanResolution resolution;
    SoundtrackGeometry geometry;
    cv::Size firstScanSize;
    // the rate the sound is written at: the job's, or 48000 where the film's
    // rate is no whole number (settleOutputRate)
    int outputRate = job.outputRate;
    bool outputRateSettled = false;
    std::optional<DpxTimecode> firstTimecode;        // the first scan's
    std::optional<std::string> firstScanDescription; // DPX and OpenEXR: for the report
    // the last pair's diagnostics, written when the run succeeds
    JoinDiagnostics diagnostics;
    std::vector<float> lastFineCorrelation;
    bool anyPairSearched = false;
    bool anyFineCorrelation = false;
    SoundtrackTimings* const timings = job.timings;
    // UnreadableScan::Silence: the silence standing in for the latest lost
    // frame, which the next frame joins, and every frame lost so far
    std::optional<FrameReading> standIn;
    std::vector<LostFrame> lost;
};

JobEnding SoundtrackRun::end(JobEnd how, const std::string& logText, std::string message) {
    pendingWav.reset();
    pendingJoins.reset();
    return view.end(how, logText, std::move(message));
}

SoundtrackResult SoundtrackRun::brokeOff(const char* what) {
    pendingWav.reset();
    pendingJoins.reset();
    return soundtrackResult(view.brokeOff(what));
}

// Everything that can be refused is refused before a scan is read: the
// frames, the range, the resolution and the outputs.
std::optional<JobEnding> SoundtrackRun::prepare() {
    Result<FrameSequence> checked = checkedFrameSequence(job);
    if (!checked) {
        return end(JobEnd::Refused, checked.message());
    }
    sequence = std::move(checked).value();
    for (const std::string& warning : sequence.warnings) {
        view.log().addLine(warning);
    }
    warnOfTheSpeed();
    if (job.manualResolution) {
        const auto manual =
            computeSoundtrackGeometry(job.soundtrackType, {job.resolutionX, job.resolutionY});
        if (!manual || manual->framePitch <= 0 || manual->trackWidth <= 0) {
            return end(JobEnd::Refused,
                       "The manual resolution x=" + std::to_string(job.resolutionX) +
                           ",y=" + std::to_string(job.resolutionY) +
                           " gives no soundtrack width or frame pitch: give both in dpi");
        }
        // the pitch is known: so is whether the film's rate can be written
        if (std::optional<JobEnding> refused = settleOutputRate(manual->framePitch)) {
            return refused;
        }
    }
    assembly = makeSoundAssembly(plan, {.type = job.soundtrackType,
                                        .longStrip = job.longStrip,
                                        .crossfade = job.crossfade,
                                        .startFrame = job.startFrame,
                                        .stopFrame = job.stopFrame});
    return prepareOutputs();
}

std::optional<JobEnding> SoundtrackRun::prepareOutputs() {
    const Result<OutputTarget> target = resolveOutputTarget(job.outputPath, "the sound");
    if (!target) {
        return end(JobEnd::OutputNotWritten, target.message());
    }
    if (Status clash = checkOutputIsNoInput(*target, sequence, kSideFileNames, "the sound");
        !clash) {
        return end(JobEnd::OutputNotWritten, clash.message());
    }
    // made now: a folder that cannot be written fails the run before any work
    Result<PendingFile> pending = PendingFile::create(*target, "the sound");
    if (!pending) {
        return end(JobEnd::OutputNotWritten, pending.message());
    }
    pendingWav.emplace(std::move(pending).value());
    pendingWav->expectRiffForm("WAVE");
    if (assembly->reportsJoins()) {
        return prepareJoinReport(*target);
    }
    return std::nullopt;
}

// The join report beside the sound, written as the files beside the scans
// are: a link planted at its name is replaced, never followed (anyone who can
// make a name in the sound's folder could otherwise have any of the user's
// files overwritten).
std::optional<JobEnding> SoundtrackRun::prepareJoinReport(const OutputTarget& sound) {
    const std::filesystem::path given = job.outputPath;
    joinsPath = given.parent_path() / kJoinReportFileName;
    const Result<OutputTarget> report = sideFileTarget(joinsPath, "the join report");
    if (!report) {
        return end(JobEnd::OutputNotWritten, report.message());
    }
    if (isSameFile(sound, joinsPath)) {
        return end(JobEnd::OutputNotWritten, "Cannot write the sound to " +
                                                 job.outputPath.string() +
                                                 ": the run writes its join report there");
    }
    if (Status clash = checkOutputIsNoInput(*report, sequence, kSideFileNames, "the join report");
        !clash) {
        return end(JobEnd::OutputNotWritten, clash.message());
    }
    Result<PendingFile> joins = PendingFile::create(*report, "the join report");
    if (!joins) {
        return end(JobEnd::OutputNotWritten, joins.message());
    }
    pendingJoins.emplace(std::move(joins).value());
    return std::nullopt;
}

SoundtrackResult SoundtrackRun::run() {
    view.ui().enableStart(false);
    const int frameCount = job.stopFrame - job.startFrame + 1;
    view.ui().setProgressRange(std::clamp(frameCount, 0, kProgressMaximum));
    view.ui().setProgressStep(1);
    if (std::optional<JobEnding> refused = prepare()) {
        return soundtrackResult(std::move(*refused));
    }
    std::string oneFrame;
    if (frameCount == 1) {
        oneFrame = format("Only frame %d: one frame gives no sound, a range needs at least two",
                          job.startFrame);
        view.log().addLine(oneFrame);
    }
    // the first frame settles the resolution every other frame is measured with
    const auto first = std::make_shared<const FrameReading>(readFrame(job.startFrame));
    FrameTurn firstTurn;
    firstTurn.number = job.startFrame;
    firstTurn.frame = first.get();
    if (std::optional<JobEnding> ended = acceptFrame(firstTurn)) {
        return soundtrackResult(std::move(*ended));
    }
    // the rest read and searched on every thread asked for, joined in order
    FrameSteps<FrameReading, PairSearch> frames;
    frames.read = [this](int n) { return readFrame(n); };
    frames.meet = [this](const FrameReading& previous, const FrameReading& current) {
        return meetFrames(previous, current);
    };
    frames.accept = [this](const FrameTurn& turn) { return acceptFrame(turn); };
    if (std::optional<JobEnding> ended = walkFrames(job, job.startFrame + 1, frames, first)) {
        return soundtrackResult(std::move(*ended));
    }
    SoundtrackResult result = finish();
    if (!oneFrame.empty()) {
        // what the file holds, said even where the log is not shown
        result.warnings.insert(result.warnings.begin(), oneFrame);
    }
    return result;
}

FrameReading SoundtrackRun::readFrame(int n) const {
    FrameReading frame;
    frame.sound.number = n;
    TraceCapture capture;
    ScanInFlight scan = scans.read(sequence.frames[static_cast<std::size_t>(n - 1)], job.scanLimits,
                                   reading.archival == ArchivalReading::Levels, frame.loadSeconds);
    frame.loaded = scan.images().status();
    if (frame.loaded) {
        const StageClock::time_point began = StageClock::now();
        const ScanImages& images = scan.images().value();
        frame.description = images.description;
        frame.sound = measureSoundFrame(frameScanOf(images), n, n == job.startFrame, reading,
                                        geometry, resolution.dpiX);
        if (view.pictureDue()) {
            frame.picture = previewPicture(images.eightBit);
        }
        scan.release();
        frame.samplesSeconds = secondsSince(began);
    }
    frame.trace = capture.take();
    return frame;
}

PairSearch SoundtrackRun::meetFrames(const FrameReading& previous,
                                     const FrameReading& current) const {
    if (!previous.loaded || !current.loaded) {
        return {};
    }
    return searchPair(previous.sound, current.sound, reading);
}

void SoundtrackRun::settleResolution(const FrameReading& first) {
    if (!first.sound.estimate) {
        resolution = {job.resolutionX, job.resolutionY};
        view.log().addLine(resolutionLine(resolution));
    } else {
        const ResolutionEstimate& estimate = *first.sound.estimate;
        resolution = estimate.snapped;
        resolutionMeasured = true;
        view.log().addLine(resolutionLine(resolution));
        // snapping by bands can land a scan one band off; say so
        if (differsByMoreThanATenth(estimate.measured.dpiX, resolution.dpiX) ||
            differsByMoreThanATenth(estimate.measured.dpiY, resolution.dpiY)) {
            char line[256];
            std::snprintf(line, sizeof line,
                          "Measured x=%d,y=%d dpi was taken as x=%d,y=%d; if the pitch of the "
                          "sound is off, give the resolution by hand",
                          estimate.measured.dpiX, estimate.measured.dpiY, resolution.dpiX,
                          resolution.dpiY);
            view.log().addLine(line);
        }
    }
    geometry = computeSoundtrackGeometry(job.soundtrackType, resolution).value_or(geometry);
}

// A full-aperture run says where it found the film and the track on its
// first scan, in the file's own rows (or columns, for upright scans).
void SoundtrackRun::logWindow(const SoundFrame& first) {
    if (!first.window) {
        return;
    }
    const FilmWindow& w = *first.window;
    const AcrossFile edge = acrossFile(job.trackSide, first.scanSize, w.filmEdge, w.filmEdge + 1);
    const AcrossFile track = acrossFile(job.trackSide, first.scanSize, w.trackFirst, w.trackEnd);
    char line[200];
    std::snprintf(line, sizeof line,
                  "Full aperture: the film's edge at %s %d, the soundtrack within %ss %d to %d",
                  edge.unit, edge.first, track.unit, track.first, track.last);
    view.log().addLine(line);
}

std::string SoundtrackRun::noTrackMessage(int n, const Status& why) const {
    return "Frame " + std::to_string(n) + " (" +
           sequence.frames[static_cast<std::size_t>(n - 1)].filename().string() +
           "): no soundtrack found in the full-aperture scan: " + why.message() +
           "; nothing was written";
}

// The rate settled once, on the first pitch known (outputRateFor).
std::optional<JobEnding> SoundtrackRun::settleOutputRate(int framePitch) {
    if (outputRateSettled) {
        return std::nullopt;
    }
    const OutputRateChoice choice = outputRateFor(job, framePitch);
    if (!choice.refusal.empty()) {
        return end(JobEnd::UsageRefused, choice.refusal);
    }
    outputRateSettled = !choice.note.empty();
    outputRate = choice.rate;
    if (!choice.note.empty()) {
        view.log().addLine(choice.note);
    }
    return std::nullopt;
}

// What the first scan's header says that the run uses or should say: its
// format and transfer, its time code, a frame rate other than the run's.
void SoundtrackRun::noteFirstScan(const ScanDescription& scan) {
    if (scan.format != "DPX" && scan.format != "OpenEXR") {
        return;
    }
    firstScanDescription = describeScan(scan);
    view.log().addLine("Scans: " + *firstScanDescription + " (samples used as stored)");
    firstTimecode = scan.timecode;
    if (scan.frameRate && std::abs(*scan.frameRate - job.filmSpeed.perSecond()) > 0.001) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "The scan's header gives %.4g frames per second; the run uses %s",
                      *scan.frameRate, filmSpeedText(job.filmSpeed).c_str());
        view.log().addLine(line);
    }
}

// `turn.frame` is null when a stop was asked for before the frame's turn.
std::optional<JobEnding> SoundtrackRun::acceptFrame(const FrameTurn& turn) {
    const int n = turn.number;
    view.log().addLine(format("Translating frame number : %d...", n));
    if (turn.frame == nullptr) {
        return end(JobEnd::Stopped, kept::kOperationStopped);
    }
    const FrameReading& frame = *turn.frame;
    printTrace(frame.trace);
    if (timings != nullptr) {
        timings->load += frame.loadSeconds;
        timings->stripAndSamples += frame.samplesSeconds;
    }
    if (!frame.loaded && job.onUnreadable == UnreadableScan::Silence && n != job.startFrame) {
        return acceptLostFrame(turn);
    }
    if (!frame.loaded) {
        // the box keeps the words users know, and says why beneath them
        const std::string detail = frame.loaded.message();
        return end(JobEnd::UnreadableFrame, std::string(kept::kWrongFileFormat) + "\r\n" + detail,
                   std::string(kept::kWrongFileFormat) + " " + detail);
    }
    if (!frame.sound.located) {
        return end(JobEnd::Refused, noTrackMessage(frame.sound.number, frame.sound.located));
    }
    if (n == job.startFrame) {
        noteFirstScan(frame.description);
        settleResolution(frame);
        logWindow(frame.sound);
        firstScanSize = frame.sound.scanSize;
        if (std::optional<JobEnding> refused = settleOutputRate(geometry.framePitch)) {
            return refused;
        }
    } else if (const auto odd =
                   frameSizeWarning(n, frame.sound.scanSize, job.startFrame, firstScanSize)) {
        view.log().addLine(*odd);
    }
    if (job.stopAsked()) {
        return end(JobEnd::Stopped, kept::kOperationStopped);
    }
    evidence.addBand(n, frame.sound.measured.band.first, frame.sound.measured.band.last,
                     looksLikeTrack(frame.sound.measured.shape, job.soundtrackType));
    if (n == job.startFrame) {
        assembly->start(frame.sound, job.filmSpeed.rate(geometry.framePitch));
        showFrame(frame, JoinShown{}, PairSearch{}, JoinEvidence{});
    } else if (!turn.previous->loaded) {
        joinUnsearched(frame, *standIn);
    } else {
        const PairSearch none;
        joinFrame(frame, *turn.previous, turn.meeting != nullptr ? *turn.meeting : none);
    }
    view.ui().stepProgress();
    return std::nullopt;
}

// A later frame whose scan cannot be read, in a run that goes on past it:
// silence in its place, joined at the frame pitch.
std::optional<JobEnding> SoundtrackRun::acceptLostFrame(const FrameTurn& turn) {
    const int n = turn.number;
    LostFrame lostFrame;
    lostFrame.frame = n;
    lostFrame.file = sequence.frames[static_cast<std::size_t>(n - 1)].filename().string();
    lostFrame.cause = turn.frame->loaded.message();
    lostFrame.joinsNotSearched.push_back(n);
    if (n < job.stopFrame) {
        lostFrame.joinsNotSearched.push_back(n + 1);
    }
    view.log().addLine(format("Frame %d cannot be read (", n) + lostFrame.cause +
                       format("): its place holds silence, one frame pitch (%d rows) long, and "
                              "the joins beside it are not searched",
                              geometry.framePitch));
    view.ui().frameLost(lostFrame);
    lost.push_back(std::move(lostFrame));
    if (job.stopAsked()) {
        return end(JobEnd::Stopped, kept::kOperationStopped);
    }
    const FrameReading& previous = turn.previous->loaded ? *turn.previous : *standIn;
    FrameReading silent;
    silent.sound = silentFrame(n, previous.sound, job.removeDc);
    joinUnsearched(silent, previous);
    standIn = std::move(silent);
    view.ui().stepProgress();
    return std::nullopt;
}

// A join beside a lost frame: at the nominal pitch, neither searched nor judged.
void SoundtrackRun::joinUnsearched(const FrameReading& frame, const FrameReading& previous) {
    const JoinShown shown =
        assembly->addUnsearched(frame.sound, previous.sound, geometry.framePitch);
    showFrame(frame, shown, PairSearch{}, JoinEvidence{});
}

void SoundtrackRun::joinFrame(const FrameReading& frame, const FrameReading& previous,
                              const PairSearch& search) {
    printTrace(search.trace);
    if (!job.cutByAnalysis) {
        anyPairSearched = true;
        diagnostics = search.diagnostics;
        if (diagnostics.hasFineCorrelation) {
            lastFineCorrelation = diagnostics.fineCorrelation;
            anyFineCorrelation = true;
        }
    }
    const StageClock::time_point began = StageClock::now();
    const JoinShown shown = assembly->add(frame.sound, previous.sound, search);
    if (!shown.logLine.empty()) {
        view.log().addLine(shown.logLine);
    }
    if (timings != nullptr) {
        timings->joinSearch += search.seconds;
        timings->joining += secondsSince(began);
    }
    const JoinEvidence judged =
        shown.position ? evidenceOf(frame, previous, search, shown) : JoinEvidence{};
    showFrame(frame, shown, search, judged);
}

JoinEvidence SoundtrackRun::evidenceOf(const FrameReading& frame, const FrameReading& previous,
                                       const PairSearch& search, const JoinShown& shown) const {
    JoinReadings r;
    r.previousSamples = previous.sound.measured.samples;
    r.samples = frame.sound.measured.samples;
    // a precise join is judged on the readings it was found on
    r.preciseUsed = shown.precise && shown.score.has_value();
    r.preciseScore = shown.score.value_or(0);
    r.join = *shown.position;
    r.standardJoin = search.standard.position;
    r.standardFound = search.standard.found;
    r.searchedFirst = search.range.first;
    r.searchedLast = search.range.last;
    if (search.precise && search.precise->found) {
        r.preciseJoin = search.precise->position;
        r.preciseJoinScore = search.precise->score;
    }
    r.trimShift = previous.sound.measured.bounds.right - frame.sound.measured.bounds.right;
    // a resolution given by hand may not be the scans' own: its pitch is
    // then no measure of where the joins lie
    if (resolutionMeasured) {
        r.advance = scanAdvanceRows(job.soundtrackType, job.longStrip, geometry.framePitch);
    }
    return joinEvidence(r);
}

void SoundtrackRun::showFrame(const FrameReading& frame, const JoinShown& shown,
                              const PairSearch& search, const JoinEvidence& judged) {
    std::vector<JoinFlag> flags;
    // a join beside a lost frame was not searched: nothing to judge
    if (shown.position && search.searched) {
        flags = judgeJoin(judged);
        evidence.addJoin(flags);
    }
    const RunView::Showing showing = view.showing(frame.picture);
    if (!showing) {
        return;
    }
    const FrameSamples& measured = frame.sound.measured;
    FramePreview preview =
        framePreviewOf(sequence, frame.sound.number, frame.sound.scanSize, measured.bounds);
    if (frame.sound.number == job.startFrame) {
        preview.resolution = resolution;
        preview.scanDescription = firstScanDescription;
    }
    preview.side = job.trackSide;
    // a full-aperture scan's window lies within it
    const int across = frame.sound.window ? frame.sound.window->first : 0;
    preview.band = ScanRows{across + measured.band.first, across + measured.band.last};
    if (frame.sound.window) {
        preview.filmEdge = frame.sound.window->filmEdge;
    }
    preview.samples = measured.samples;
    preview.level = measured.level;
    // every frame but the first joins the one before
    if (shown.position) {
        preview.join = shown.position;
        if (search.searched) {
            preview.standardJoin = search.standard.position;
        }
        if (search.precise && search.precise->found) {
            preview.preciseJoin = search.precise->position;
        }
        preview.score = shown.score;
        preview.correlation = judged.correlation;
        preview.overlapRms = judged.soundRms;
        if (judged.offAdvance) {
            preview.advance = *shown.position - *judged.offAdvance;
        }
        preview.flags = std::move(flags);
    }
    view.show(showing, preview, frame.picture);
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
        if (Status written = writeSideFile(sideFolder() / name, diagnosticText(*values[i]), name);
            !written) {
            return written;
        }
    }
    return {};
}

// The WAV, committed when it was written whole.
Status SoundtrackRun::writeWav(AssembledSound sound, SoundtrackResult& result) {
    // the rate settled on the first frame: 48000 where the film's is no whole number
    SoundSettings settled = job;
    settled.outputRate = outputRate;
    SoundDelivery delivery = soundDeliveryOf(job, settled, *assembly, resolution, geometry,
                                             sound.centredOnZero, firstTimecode);
    const Result<SoundWritten> written = writeSound(
        pendingWav->descriptor(), job.outputPath.string(), std::move(sound.stream), delivery);
    if (!written) {
        return written.status();
    }
    result.sampleRate = written->sampleRate;
    result.bitsPerSample = written->bitsPerSample;
    result.broadcastWave = written->broadcastWave;
    result.sampleCount = written->samples;
    result.clippedSamples = written->clipped;
    if (written->clipped > 0) {
        view.log().addLine(std::to_string(written->clipped) + " samples clipped at full scale");
    }
    return pendingWav->commit();
}

Status SoundtrackRun::writeJoinReport(const std::vector<JoinRecord>& joins) {
    if (!pendingJoins) {
        return {};
    }
    Status written = pendingJoins->write(joinReportText(
        joins, sequence, [this](const JoinRecord& j) { return assembly->methodName(j); }));
    if (written) {
        written = pendingJoins->commit();
    }
    pendingJoins.reset();
    return written;
}

// What the run's frames say of its joins and its band, to the observer (the
// report, report.json and the desktop's marks); the sound is written all the
// same. Only a band that does not look like a soundtrack is said in the log
// too: the run's output is then not the film's sound at all, while a flagged
// join or a band that changes width is for the report to show (the log of a
// run that read its track stays as it always was).
// Rendered scans read at a speed other than their own: said before the first
// frame, as it concerns the whole sound.
void SoundtrackRun::warnOfTheSpeed() {
    const std::optional<FilmSpeed> rendered = renderedFilmSpeed(sequence.directory);
    speedWarning = rendered ? filmSpeedWarning(*rendered, job.filmSpeed) : std::nullopt;
    if (speedWarning) {
        view.log().addLine("Warning: " + speedWarning->reason);
        view.ui().runWarning(*speedWarning);
    }
}

void SoundtrackRun::warnOfTheRun(SoundtrackResult& result) {
    if (speedWarning) {
        result.warnings.push_back(speedWarning->reason);
    }
    for (const RunWarning& warning : evidence.warnings()) {
        view.ui().runWarning(warning);
        if (warning.kind == kNotTrackWarning || warning.kind == kOffPitchJoinsWarning) {
            view.log().addLine("Warning: " + warning.reason);
            result.warnings.push_back(warning.reason);
        }
    }
}

// The frames lost in the run, summed up for the log, the report and the result.
void SoundtrackRun::reportLostFrames(SoundtrackResult& result) {
    if (lost.empty()) {
        return;
    }
    const std::string sentence = lostFramesSentence(lost);
    view.ui().runWarning(RunWarning{"frames-lost", sentence});
    view.log().addLine("Warning: " + sentence);
    result.warnings.push_back(sentence);
    result.lostFrames = lost;
}

SoundtrackResult SoundtrackRun::finish() {
    AssembledSound sound = assembly->finish();
    if (job.inverse) {
        ReverseSamples(sound.stream);
    }
    const StageClock::time_point began = StageClock::now();
    SoundtrackResult result;
    warnOfTheRun(result);
    reportLostFrames(result);
    // the WAV first: when it cannot be written, leng.txt stays as it was
    const std::vector<int> joinPositions = std::move(sound.joinPositions);
    const std::vector<JoinRecord> joins = std::move(sound.joins);
    const Status wav = writeWav(std::move(sound), result);
    pendingWav.reset();
    if (!wav) {
        if (timings != nullptr) {
            timings->writing += secondsSince(began);
        }
        return soundtrackResult(end(JobEnd::OutputNotWritten, wav.message()));
    }
    result.wavPath = job.outputPath;
    // the join report next, then "leng.txt" beside the scans: products of
    // the run, so their failure fails it
    const Status report = writeJoinReport(joins);
    Status lengths = Status::failure("it was not written: the join report was not");
    if (report) {
        result.joinsPath = joinsPath;
        lengths = writeSideFile(sideFolder() / kLengthsFileName, joinPositionsText(joinPositions),
                                "the join positions");
    }
    // the diagnostics only help whoever tunes the search: a warning at most,
    // and only beside the outputs of a run that succeeded
    const Status diagnosticsWritten = report && lengths ? writeDiagnostics() : Status();
    if (timings != nullptr) {
        timings->writing += secondsSince(began);
    }
    reportFiles(report, lengths, diagnosticsWritten, result);
    return result;
}

// The end of a run whose WAV was written: what else was, in the log.
void SoundtrackRun::reportFiles(const Status& joins, const Status& lengths,
                                const Status& diagnosticsWritten, SoundtrackResult& result) {
    view.ui().setProgressPosition(0);
    if (!diagnosticsWritten) {
        const std::string warning = "Could not write v.txt, z.txt and r.txt in " +
                                    sideFolder().string() + " (" + diagnosticsWritten.message() +
                                    ")";
        view.log().addLine(warning);
        result.warnings.push_back(warning);
    }
    if (!joins) {
        result.end = JobEnd::SideFilesNotWritten;
        result.message = "The sound was written to " + job.outputPath.string() +
                         ", but the join report and the join positions were not. " +
                         joins.message();
        view.log().addLine(result.message);
    } else if (!lengths) {
        result.end = JobEnd::SideFilesNotWritten;
        result.message = "The sound was written to " + job.outputPath.string() +
                         ", but the join positions were not. " + lengths.message();
        view.log().addLine(result.message);
    } else {
        result.lengthsPath = sideFolder() / kLengthsFileName;
        view.log().addUncountedLine(kept::kTranslated);
    }
    view.ui().enableStart(true);
}

} // namespace

std::string joinPositionsText(std::span<const int> joinPositions) {
    std::string text;
    for (int p : joinPositions) {
        text += std::to_string(p);
        text += ' ';
    }
    return text;
}

SoundDelivery soundDeliveryOf(const ScanRunSettings& run, const SoundSettings& sound,
                              const SoundAssembly& assembly, ScanResolution resolution,
                              const SoundtrackGeometry& geometry, bool centredOnZero,
                              const std::optional<DpxTimecode>& firstTimecode) {
    SoundOrigin origin;
    origin.type = run.soundtrackType;
    origin.resolution = resolution;
    origin.startFrame = run.startFrame;
    origin.stopFrame = run.stopFrame;
    origin.filmSpeed = sound.filmSpeed;
    origin.joins = assembly.joinsName();
    origin.levels = assembly.levelsName();
    SoundDelivery delivery;
    delivery.format = {sound.bitsPerSample, sound.outputRate};
    delivery.filmRate = sound.filmSpeed.rate(geometry.framePitch);
    delivery.centredOnZero = centredOnZero;
    delivery.removeDc = sound.removeDc;
    delivery.description = broadcastDescription(origin);
    if (firstTimecode) {
        delivery.secondsSinceMidnight = secondsOfTimecode(*firstTimecode, sound.filmSpeed);
    }
    return delivery;
}

SoundPlan soundPlanOf(const SoundSettings& sound) {
    SoundPlan plan;
    plan.preciseSearch = sound.preciseJoins;
    plan.levelsWithoutSteps = sound.archivalLevels;
    plan.archivalStream = plan.preciseSearch || plan.levelsWithoutSteps;
    return plan;
}

SoundReadSettings readSettingsOf(const ScanRunSettings& run, const SoundSettings& sound,
                                 const SoundPlan& plan) {
    SoundReadSettings s;
    s.sampling.type = run.soundtrackType;
    s.sampling.longStrip = run.longStrip;
    s.sampling.element = sound.colorElement;
    s.sampling.rotationUp = bandOnTop(run.trackSide);
    s.trackSide = run.trackSide;
    s.fullAperture = run.fullAperture;
    s.sampling.removeDc = sound.removeDc;
    s.sampling.cutByAnalysis = sound.cutByAnalysis;
    s.inverse = run.inverse;
    if (run.manualResolution) {
        s.givenResolution = ScanResolution{run.resolutionX, run.resolutionY};
    }
    if (plan.archivalStream) {
        s.archival = plan.levelsWithoutSteps ? ArchivalReading::Levels : ArchivalReading::JoinsOnly;
    }
    s.searchPrecisely = plan.preciseSearch;
    return s;
}

FrameScan frameScanOf(const ScanImages& images) {
    // the factor that brings the stored samples to 8-bit steps
    const ScanDescription& d = images.description;
    const double steps =
        d.floatingPoint ? 255.0 : 255.0 / static_cast<double>((1 << d.bitsPerSample) - 1);
    return {images.eightBit, images.stored, steps};
}

OutputRateChoice outputRateFor(const SoundSettings& sound, int framePitch) {
    OutputRateChoice choice;
    choice.rate = sound.outputRate;
    if (sound.outputRate != 0 || sound.filmSpeed.givesWholeRate(framePitch)) {
        return choice;
    }
    char rate[128];
    std::snprintf(rate, sizeof rate, "%s frames per second times a frame pitch of %d rows is %.2f",
                  filmSpeedText(sound.filmSpeed).c_str(), framePitch,
                  sound.filmSpeed.rate(framePitch));
    if (sound.filmRateRequired) {
        choice.refusal = std::string("The film's own rate cannot be written: ") + rate +
                         " samples per second, no whole number; ask for 44100, 48000 or 96000 Hz";
        return choice;
    }
    choice.rate = kArchivalSoundFormat.outputRate;
    choice.note = std::string("The film's rate is no whole number (") + rate +
                  "): the sound is written at " + std::to_string(choice.rate) + " Hz";
    return choice;
}

bool writesStandardSound(const SoundtrackJob& job) {
    const SoundFormat format{job.bitsPerSample, job.outputRate};
    return wavKindFor(format, soundPlanOf(job).levelsWithoutSteps) == WavKind::Standard;
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
    return result.end == JobEnd::UnreadableFrame ? -1 : 0;
}

} // namespace veltrana
