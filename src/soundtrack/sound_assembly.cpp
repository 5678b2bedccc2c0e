#include "soundtrack/sound_assembly.h"

#include "soundtrack/frame_joining.h"

#include <cstdio>

namespace veltrana {

namespace {

// Drift below this goes from archival sound (a gentler high-pass costs
// content on short runs).
constexpr double kDriftCutoffHz = 0.5;

class StandardAssembly : public SoundAssembly {
public:
    explicit StandardAssembly(const AssemblySettings& s)
        : startFrame(s.startFrame),
          joinPositions(static_cast<std::size_t>(s.stopFrame - s.startFrame + 1), 0) {
        progress.startFrame = s.startFrame;
        progress.stopFrame = s.stopFrame;
        state.crossfade = s.crossfade ? 1 : 0;
    }

    void start(const SoundFrame& first, double) override {
        state.previousLength = state.currentLength;
        state.currentLength = first.measured.rows;
    }

    JoinShown add(const SoundFrame& frame, const SoundFrame& previous,
                  const PairSearch& search) override {
        state.previousLength = state.currentLength;
        state.currentLength = frame.measured.rows;
        const int join = search.position;
        joinPositions[static_cast<std::size_t>(frame.number - startFrame)] = join;
        state.joinPosition = join;
        progress.frameNumber = frame.number;
        joinFrameSamples(stream, frame.measured.samples, previous.measured.samples, progress,
                         state);
        JoinShown shown;
        shown.position = join;
        return shown;
    }

    JoinShown addUnsearched(const SoundFrame& frame, const SoundFrame& previous,
                            int pitch) override {
        PairSearch nominal;
        nominal.position = pitch;
        return add(frame, previous, nominal);
    }

    AssembledSound finish() override {
        AssembledSound sound;
        sound.stream = std::move(stream);
        sound.joinPositions = std::move(joinPositions);
        return sound;
    }

    bool reportsJoins() const override { return false; }
    const char* methodName(const JoinRecord&) const override { return "standard"; }
    const char* joinsName() const override { return "standard"; }
    const char* levelsName() const override { return "standard"; }

private:
    const int startFrame;
    FrameRangeProgress progress;
    FrameJoinState state;
    std::vector<float> stream;
    std::vector<int> joinPositions;
};

class ArchivalAssembly : public SoundAssembly {
public:
    ArchivalAssembly(const AssemblySettings& s, const SoundPlan& plan)
        : precise(plan.preciseSearch), levels(plan.levelsWithoutSteps) {
        settings.type = s.type;
        settings.longStrip = s.longStrip;
        settings.crossfade = s.crossfade;
        settings.driftCutoffHz = kDriftCutoffHz;
        settings.scaleByWidth = levels;
        settings.flattenIllumination = levels;
        settings.matchOffsets = levels;
        settings.centre = levels;
    }

    void start(const SoundFrame& first, double sampleRate) override {
        settings.sampleRate = sampleRate;
        stream.emplace(settings);
        (void)stream->addFrame(*first.archival, first.number, 0);
    }

    JoinShown add(const SoundFrame& frame, const SoundFrame&, const PairSearch& search) override {
        joined = true;
        const int join = search.position;
        JoinShown shown;
        shown.position = join;
        // without the precise search it found nothing: the standard join is used
        const std::optional<JoinRecord> record = stream->addFrame(
            *frame.archival, frame.number, join, search.precise.value_or(PreciseJoin{}));
        if (record) {
            shown.position = record->position;
            if (precise) {
                shown.score = record->precise.score;
                shown.precise = !isFallback(record->method);
            }
        }
        if (record && precise && isFallback(record->method)) {
            char line[200];
            std::snprintf(line, sizeof line,
                          "Frame %d: the precise join is %s (score %.2f); the standard "
                          "join %d is used",
                          frame.number,
                          record->method == JoinMethod::StandardNotFound ? "not found" : "weak",
                          record->precise.score, join);
            shown.logLine = line;
        }
        return shown;
    }

    JoinShown addUnsearched(const SoundFrame& frame, const SoundFrame&, int pitch) override {
        joined = true;
        JoinShown shown;
        shown.position = stream->addUnsearchedFrame(*frame.archival, frame.number, pitch).position;
        return shown;
    }

    AssembledSound finish() override {
        ArchivalOutput out = stream->finish();
        stream.reset();
        AssembledSound sound;
        // one frame gives no sound, as in the standard assembly, whose
        // samples come from the joins: the run says so
        if (joined) {
            sound.stream = std::move(out.stream);
        }
        sound.joinPositions = std::move(out.joinLengths);
        sound.joins = std::move(out.joins);
        sound.centredOnZero = levels;
        return sound;
    }

    bool reportsJoins() const override { return true; }
    const char* methodName(const JoinRecord& join) const override {
        if (join.method == JoinMethod::NotSearched) {
            return joinMethodName(join.method);
        }
        return precise ? joinMethodName(join.method) : "standard";
    }
    const char* joinsName() const override { return precise ? "precise" : "standard"; }
    const char* levelsName() const override { return levels ? "archival" : "standard"; }

private:
    const bool precise;
    const bool levels;
    bool joined = false; // a frame came after the first
    ArchivalSettings settings;
    std::optional<ArchivalStream> stream;
};

} // namespace

std::unique_ptr<SoundAssembly> makeSoundAssembly(const SoundPlan& plan,
                                                 const AssemblySettings& settings) {
    if (plan.archivalStream) {
        return std::make_unique<ArchivalAssembly>(settings, plan);
    }
    return std::make_unique<StandardAssembly>(settings);
}

} // namespace veltrana
