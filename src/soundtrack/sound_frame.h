#pragma once
// One frame as the soundtrack reads it, and the join of two neighbours: the
// steps of the soundtrack job that any job walking the same scans can run
// (frame numbers 1-based; rows, samples and bands as soundtrack/strip.h and
// frame_samples.h state them).
//
// Both steps run on any thread, beside other frames, and call no observer.

#include "geometry/film_window.h"
#include "geometry/resolution.h"
#include "geometry/scan_view.h"
#include "soundtrack/archival_frame.h"
#include "soundtrack/frame_samples.h"
#include "soundtrack/join_search.h"
#include "soundtrack/precise_join.h"
#include "soundtrack/track_geometry.h"

#include <opencv2/core.hpp>

#include <optional>
#include <string>

namespace veltrana {

// What archival sound reads of a frame beside its standard samples.
enum class ArchivalReading {
    None,      // nothing: the standard sound
    JoinsOnly, // the bands the precise search registers; the standard samples as they are
    Levels,    // that, and the track's levels for archival levels
};

// The settings of a run that decide what its frames give the sound.
struct SoundReadSettings {
    FrameSampling sampling;
    // where the band lies in the scan files; sampling.rotationUp is
    // bandOnTop of it
    TrackSide trackSide = TrackSide::Top;
    bool inverse = false; // each frame read the other way along the film
    // The first frame's resolution when it is given; otherwise it is
    // measured on the first frame.
    std::optional<ScanResolution> givenResolution;
    ArchivalReading archival = ArchivalReading::None;
    bool searchPrecisely = false; // the precise join search runs on each pair
    // the scans hold the film's whole width: each frame is read in the
    // standard window found on it (geometry/film_window.h)
    bool fullAperture = false;
};

// What one frame gives the sound.
struct SoundFrame {
    int number = 0;
    cv::Size scanSize;
    FrameSamples measured; // samples and profile reversed already for inverse
    // what archival sound reads of the frame (reversed already for inverse)
    std::optional<ArchivalFrame> archival;
    // the first frame of a run settles the resolution when it is measured
    std::optional<ResolutionEstimate> estimate;
    // a full-aperture scan: where its window was found, or why none was
    // (the frame is not measured then); its bounds and band are the window's
    Status located;
    std::optional<FilmWindow> window;
};

// A loaded scan: 8-bit, one or three channels, and for archival levels its
// samples at their stored depth when they are deeper (empty otherwise).
struct FrameScan {
    cv::Mat eightBit;
    cv::Mat stored;
    double storedStepsPerUnit = 1.0; // DeepScan::stepsPerUnit of `stored`
};

// Measures one loaded scan (lying as settings.trackSide says) with the run's
// geometry. The run's first frame (`first`) settles its resolution: the
// geometry it is measured with is that resolution's. Archival levels read
// the track at the stored depth. A full-aperture scan's window is found at
// `runDpiX` across (the first frame measures it unless it is given).
SoundFrame measureSoundFrame(const FrameScan& scan, int number, bool first,
                             const SoundReadSettings& settings, const SoundtrackGeometry& geometry,
                             int runDpiX = 0);

// The join of a frame with the one before, searched as soon as both are read.
struct PairSearch {
    int position = 0;
    bool searched = false; // false for the first frame
    // the standard search's result (position, score, found) and what it searched
    JoinSearchResult standard;
    JoinRange range;
    std::optional<PreciseJoin> precise; // with the precise search
    JoinDiagnostics diagnostics;
    std::string trace; // the search's trace lines, printed when the frame is reported
    double seconds = 0;
};

PairSearch searchPair(const SoundFrame& previous, const SoundFrame& current,
                      const SoundReadSettings& settings);

} // namespace veltrana
