#pragma once
// Joining the frames of a run into one sound, the standard way or the
// archival way: the implementation is chosen once, when the run is prepared,
// and the run hands it its frames in order.
//
// - The standard assembly joins the frame samples at the standard joins
//   (joinFrameSamples): its samples are centred as the 8-bit conversion
//   expects them (soundtrackBytes).
// - The archival assembly runs ArchivalStream: joins at fractions of a row
//   when the precise search ran, levels without steps at the joins when
//   asked for (its samples are then centred on 0), and a record of every
//   join for joins.csv.

#include "soundtrack/archival_stream.h"
#include "soundtrack/sound_frame.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrana {

// How a run's sound is assembled, decided once from its settings.
struct SoundPlan {
    bool archivalStream = false;     // frames joined by ArchivalStream
    bool preciseSearch = false;      // the precise join search runs on every pair
    bool levelsWithoutSteps = false; // archival levels: without steps at the joins, centred on 0
};

// What the log and the preview show of one join.
struct JoinShown {
    std::optional<double> position; // the join used
    std::optional<double> score;    // the precise search's, where it ran
    bool precise = false;           // the precise search settled it (no fallback)
    std::string logLine;            // a line for the log, when there is one
};

// The finished sound.
struct AssembledSound {
    std::vector<float> stream;
    std::vector<int> joinPositions; // "leng.txt": 0, then each frame's join in whole rows
    std::vector<JoinRecord> joins;  // joins.csv, with the archival assembly
    // Centred on 0, in 8-bit steps (archival levels); otherwise centred as
    // the 8-bit conversion expects it.
    bool centredOnZero = false;
};

class SoundAssembly {
public:
    virtual ~SoundAssembly() = default;

    // The run's first frame, and the stream's sample rate it settled.
    virtual void start(const SoundFrame& first, double sampleRate) = 0;
    // A later frame, joined to the one before at what the pair's search found.
    virtual JoinShown add(const SoundFrame& frame, const SoundFrame& previous,
                          const PairSearch& search) = 0;
    // A later frame joined where no search ran, beside a lost frame: at
    // `pitch` rows, the nominal frame pitch.
    virtual JoinShown addUnsearched(const SoundFrame& frame, const SoundFrame& previous,
                                    int pitch) = 0;
    virtual AssembledSound finish() = 0;

    // Whether a join report (joins.csv) comes with the sound.
    virtual bool reportsJoins() const = 0;
    // How joins.csv names the method of a join.
    virtual const char* methodName(const JoinRecord& join) const = 0;
    // "standard" or "precise" joins, "standard" or "archival" levels.
    virtual const char* joinsName() const = 0;
    virtual const char* levelsName() const = 0;
};

// The settings both assemblies read.
struct AssemblySettings {
    SoundtrackType type = SoundtrackType::VariableArea35;
    bool longStrip = false;
    bool crossfade = true;
    int startFrame = 1; // the run's range, inclusive
    int stopFrame = 1;
};

std::unique_ptr<SoundAssembly> makeSoundAssembly(const SoundPlan& plan,
                                                 const AssemblySettings& settings);

} // namespace veltrana
