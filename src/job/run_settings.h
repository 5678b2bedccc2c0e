#pragma once
// What both jobs are told about the scans of a run, and how a run is stopped.

#include "base/status.h"
#include "geometry/film_standard.h"
#include "geometry/scan_view.h"
#include "job/frame_sequence.h"
#include "job/memory_budget.h"
#include "reading/scan_limits.h"

#include <atomic>
#include <filesystem>

namespace veltrana {

// The settings the soundtrack and the film job share. Each front end fills
// them in one place (the command line from its options, the desktop program
// from its dialogs); each job's own settings add to them.
struct ScanRunSettings {
    std::filesystem::path inputPath; // the frame directory, or any .tif in it
    int startFrame = 1;              // first frame number of the range, 1-based
    int stopFrame = 2;               // last frame number, inclusive
    SoundtrackType soundtrackType = SoundtrackType::VariableArea35;
    bool longStrip = false; // 16 mm: four frames to a scan
    bool inverse = false;   // "Inverse": each frame read the other way along the film
    // the edge of the scan files the soundtrack runs along ("Frame rotation")
    TrackSide trackSide = TrackSide::Top;
    // the scans hold the film's whole width, its edges and the gate beyond:
    // the standard window is found on each (the soundtrack job)
    bool fullAperture = false;
    bool manualResolution = false;
    int resolutionX = 0; // manual dpi across the film
    int resolutionY = 0; // manual dpi along the film
    // What a scan may be (checked before it is decoded).
    ScanLimits scanLimits;
    // Frames worked on at once: 0 for every core. The result is the same for
    // any number.
    int threads = 0;
    // The one stop flag: set from another thread (Stop) or from a signal
    // handler (Ctrl-C) to stop the run at its next frame; nothing is written
    // then. The front end owns it and points every run it starts at it, so
    // that one flag stops them all. May be null: the run is not stopped.
    const std::atomic<bool>* stopRequested = nullptr;

    // The memory the scans being read may take (job/memory_budget.h): the
    // front end owns it and points every run it starts at it, so that runs
    // side by side share it. May be null: the scans are read without one.
    MemoryBudget* memoryBudget = nullptr;

    bool stopAsked() const { return stopRequested != nullptr && stopRequested->load(); }
};

// The scans of a run, once what can be refused before any is read has been:
// the frames, the range and a manual resolution. A failure says which.
Result<FrameSequence> checkedFrameSequence(const ScanRunSettings& run);

} // namespace veltrana
