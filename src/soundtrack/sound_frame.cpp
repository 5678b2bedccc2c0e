#include "soundtrack/sound_frame.h"

#include "geometry/film_window.h"
#include "geometry/frame_correction.h"
#include "geometry/profile.h"
#include "geometry/trace.h"
#include "job/stage_clock.h"

#include <algorithm>

namespace veltrana {

namespace {

// The first frame's geometry: of the resolution given, or of the one
// measured on its trimmed scan (with the estimate kept for the log).
SoundtrackGeometry firstFrameGeometry(const ScanView& scan, const SoundReadSettings& settings,
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
        if (frame.window) {
            // across, the film's width between its edges is the better measure
            frame.estimate->measured.dpiX = frame.window->dpiX;
            frame.estimate->snapped.dpiX = frame.window->dpiX;
        }
        settled = frame.estimate->snapped;
    }
    return computeSoundtrackGeometry(s.type, settled).value_or(SoundtrackGeometry{});
}

// What archival sound reads of the frame, beside its standard samples, and
// for archival levels its samples at their stored depth (`deepScan`, empty
// when they are 8-bit). The bands are read on the measured scan: an upright
// scan's trimmed frame is turned for them (the standard samples never are).
ArchivalFrame archivalReadingOf(const ScanView& scan, const ScanView& deepScan, double stepsPerUnit,
                                const FrameSamples& measured, const SoundReadSettings& settings) {
    const FrameSampling& s = settings.sampling;
    const FrameBounds& b = measured.bounds;
    std::optional<DeepScan> deep;
    if (!deepScan.empty() && settings.archival == ArchivalReading::Levels) {
        deep = DeepScan{deepScan.colRange(b.left, b.right + 1).measuredImage(), stepsPerUnit};
    }
    ArchivalFrame archival =
        archivalFrameOfScan(scan.colRange(b.left, b.right + 1).measuredImage(), measured.band,
                            s.element, s.type, s.rotationUp, s.longStrip, deep ? &*deep : nullptr);
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

// The standard window of a full-aperture scan, at the run's resolution
// across or, on a first frame that measures it, at the one its film's width
// gives.
Result<FilmWindow> apertureWindowOf(const ScanView& scan, bool first,
                                    const SoundReadSettings& settings, int runDpiX) {
    const FrameSampling& s = settings.sampling;
    int dpiX = settings.givenResolution ? settings.givenResolution->dpiX : runDpiX;
    if (first && !settings.givenResolution) {
        const Result<int> measured = apertureResolutionX(scan, s.type);
        if (!measured) {
            return measured.status();
        }
        dpiX = *measured;
    }
    return findFilmWindow(scan, s.type, dpiX, s.rotationUp);
}

} // namespace

SoundFrame measureSoundFrame(const FrameScan& images, int number, bool first,
                             const SoundReadSettings& settings, const SoundtrackGeometry& geometry,
                             int runDpiX) {
    ScanView scan(images.eightBit, settings.trackSide);
    ScanView deep(images.stored, settings.trackSide);
    SoundFrame frame;
    frame.number = number;
    frame.scanSize = images.eightBit.size();
    if (settings.fullAperture) {
        Result<FilmWindow> window = apertureWindowOf(scan, first, settings, runDpiX);
        if (!window) {
            frame.located = window.status();
            return frame;
        }
        frame.window = *window;
        scan = scan.rowRange(window->first, window->first + window->rows);
        if (!deep.empty()) {
            deep = deep.rowRange(window->first, window->first + window->rows);
        }
    }
    const SoundtrackGeometry frameGeometry =
        first ? firstFrameGeometry(scan, settings, frame) : geometry;
    frame.measured = sampleFrame(scan, settings.sampling, frameGeometry);
    if (settings.archival != ArchivalReading::None) {
        frame.archival =
            archivalReadingOf(scan, deep, images.storedStepsPerUnit, frame.measured, settings);
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
