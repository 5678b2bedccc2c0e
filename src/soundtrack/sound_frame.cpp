#include "soundtrack/sound_frame.h"

#include "geometry/frame_correction.h"
#include "geometry/profile.h"
#include "geometry/trace.h"
#include "job/stage_clock.h"

#include <algorithm>

namespace veltrana {

namespace {

// The first frame's geometry: of the resolution given, or of the one
// measured on its trimmed scan (with the estimate kept for the log).
SoundtrackGeometry firstFrameGeometry(const cv::Mat& scan, const SoundReadSettings& settings,
                                      SoundFrame& frame) {
    const FrameSampling& s = settings.sampling;
    ScanResolution settled = settings.givenResolution.value_or(ScanResolution{});
    if (!settings.givenResolution) {
        // the trim's trace lines come once, from the sampling after this
        FrameBounds bounds;
        {
            const TraceCapture quiet;
            bounds = findFrameBounds(scan, s.type, s.longStrip);
        }
        frame.estimate =
            estimateScanResolution(scan.colRange(bounds.left, bounds.right + 1), s.type);
        settled = frame.estimate->snapped;
    }
    return computeSoundtrackGeometry(s.type, settled).value_or(SoundtrackGeometry{});
}

// What archival sound reads of the frame, beside its standard samples.
ArchivalFrame archivalReadingOf(const FrameScan& scan, const FrameSamples& measured,
                                const SoundReadSettings& settings) {
    const FrameSampling& s = settings.sampling;
    const FrameBounds& b = measured.bounds;
    std::optional<DeepScan> deep;
    if (!scan.stored.empty() && settings.archival == ArchivalReading::Levels) {
        deep = DeepScan{scan.stored.colRange(b.left, b.right + 1), scan.storedStepsPerUnit};
    }
    ArchivalFrame archival =
        archivalFrameOfScan(scan.eightBit.colRange(b.left, b.right + 1), measured.band, s.element,
                            s.type, s.rotationUp, s.longStrip, deep ? &*deep : nullptr);
    if (settings.archival == ArchivalReading::JoinsOnly) {
        // precise joins of the standard samples: the levels stay as they are
        archival.samples = measured.samples;
        std::fill(archival.illumination.begin(), archival.illumination.end(), 1.0f);
    }
    if (settings.inverse) {
        reverseRows(archival);
    }
    return archival;
}

} // namespace

SoundFrame measureSoundFrame(const FrameScan& scan, int number, bool first,
                             const SoundReadSettings& settings,
                             const SoundtrackGeometry& geometry) {
    SoundFrame frame;
    frame.number = number;
    frame.scanSize = scan.eightBit.size();
    const SoundtrackGeometry frameGeometry =
        first ? firstFrameGeometry(scan.eightBit, settings, frame) : geometry;
    frame.measured = sampleFrame(scan.eightBit, settings.sampling, frameGeometry);
    if (settings.archival != ArchivalReading::None) {
        frame.archival = archivalReadingOf(scan, frame.measured, settings);
    }
    if (settings.inverse) {
        ReverseSamples(frame.measured.samples);
        ReverseSamples(frame.measured.profile);
    }
    return frame;
}

PairSearch searchPair(const SoundFrame& previous, const SoundFrame& current,
                      const SoundReadSettings& settings) {
    const FrameSampling& s = settings.sampling;
    PairSearch search;
    search.searched = true;
    TraceCapture capture;
    const StageClock::time_point began = StageClock::now();
    FrameLengths pair;
    pair.previousLength = previous.measured.rows;
    pair.currentLength = current.measured.rows;
    const FrameSamples& p = previous.measured;
    const FrameSamples& c = current.measured;
    if (s.cutByAnalysis) {
        search.standard =
            findJoinPositionFromSamples(pair, c.samples, p.samples, s.type, s.longStrip);
    } else {
        search.standard = findJoinPosition(pair, c.samples, p.samples, c.profile, p.profile, s.type,
                                           s.longStrip, &search.diagnostics);
    }
    search.position = search.standard.position;
    search.range = searchedJoins(pair.previousLength, s.type, s.longStrip, s.cutByAnalysis);
    if (settings.searchPrecisely && previous.archival && current.archival) {
        search.precise =
            findPreciseJoin(*previous.archival, *current.archival, s.type, s.longStrip);
    }
    search.seconds = secondsSince(began);
    search.trace = capture.take();
    return search;
}

} // namespace veltrana
