#pragma once
// Archival sound: frames joined at fractional positions, levels without
// steps at the joins, the samples kept in floating point to the end.
//
// Conventions for this header:
// - Frames come in the order the job reads them, each as its ArchivalFrame
//   (reversed with reverseRows() first for film that ran the other way; the
//   job then reverses the finished stream too, as it does by default).
// - The stream runs on the grid of the first frame's rows: stream sample i
//   shows the film of row i of the first frame. Each later frame starts at
//   a fractional stream position (the sum of the joins before it) and is
//   resampled onto that grid by its fractional part before it is joined.
// - Samples are in the standard 8-bit scale (one 8-bit step = 1.0), centred
//   on 0 by the end.
// - Join positions mean what the standard ones mean (join_search.h).
//
// The levels: a variable-area band's mean is scaled by its width (relative to
// the first frame's band), so that a cut a few columns wider or narrower does
// not change the gain; each frame is divided by its illumination fit; each
// frame's offset is matched to the previous frame over the film they share;
// at the end the stream's mean and its drift below driftCutoffHz go. This
// replaces removing each frame's own mean, which leaves a step at every join
// where the frames' brightness differs.

#include "soundtrack/archival_frame.h"
#include "soundtrack/precise_join.h"

#include <optional>
#include <vector>

namespace veltrana {

struct ArchivalSettings {
    SoundtrackType type = SoundtrackType::VariableArea35;
    bool longStrip = false;
    bool crossfade = true;      // raised-cosine blend over the overlap, as by default
    double sampleRate = 0;      // of the stream (film speed x frame pitch), for the drift
    double driftCutoffHz = 0.5; // drift below about this goes; 0 removes the mean only
    // Each step of the level chain can be left out (for measurements).
    bool scaleByWidth = true;
    bool flattenIllumination = true;
    bool matchOffsets = true;
    // The stream's mean and drift removed at the end; off keeps the levels
    // the samples came with (precise joins of the standard samples).
    bool centre = true;
};

enum class JoinMethod {
    Precise,          // the track's own correlation settled it
    NearestBand,      // the bands beside the track settled it (silent or missed track)
    PreciseLoose,     // the frames overlap at the whole shift found, but the fraction is unsure
    StandardWeak,     // the precise search could not be trusted: the standard position was used
    StandardNotFound, // the precise search found nothing: the standard position was used
    NotSearched,      // beside a frame whose scan was lost: the nominal frame pitch was used
};

// A short name, for joins.csv and the log.
const char* joinMethodName(JoinMethod method);

// Whether the standard position was used. A loose join is no fallback: an
// unsure fraction at the right whole shift is far better than a wrong one.
inline bool isFallback(JoinMethod method) {
    return method == JoinMethod::StandardWeak || method == JoinMethod::StandardNotFound;
}

// The standard search's fine step moves its coarse position by at most its
// window (fineWindowShare, join_rules.h); a whole shift that close to the
// standard position, give or take kStandardAgreementSlackRows, agrees with
// its coarse step.
inline constexpr int kStandardAgreementSlackRows = 3;

// A whole shift stands out when the best other shift's evidence is at most
// this share of its own.
inline constexpr double kMaxRunnerUpShare = 0.8;

struct JoinChoice {
    JoinMethod method = JoinMethod::StandardNotFound;
    double position = 0;
};

// Which join to use for a pair, from what the precise search found and the
// standard search's position (previousRows: rows of the previous frame).
// The whole shift must be confirmed: by the sound when the track carries
// any (its score), else by the other bands' agreement; and it must either
// stand out from every other shift or agree with the standard coarse step.
// A track that carries sound but does not match (a cut that missed the
// band) confirms nothing: the other bands may then settle the join only
// where the standard coarse step agrees. The track takes part in the
// fraction when it can (Precise), else the bands beside it settle it
// (NearestBand); an unsure fraction is loose (PreciseLoose); when nothing is
// trusted the standard position is used.
JoinChoice chooseJoin(const PreciseJoin& searched, int standardPosition, int previousRows,
                      SoundtrackType type, bool longStrip);

struct JoinRecord {
    int frameNumber = 0;      // the current frame of the pair
    int standardPosition = 0; // as the standard search gave it
    PreciseJoin precise;      // what the precise search gave
    JoinMethod method = JoinMethod::Precise;
    double position = 0; // the join used
};

struct ArchivalOutput {
    std::vector<float> stream;
    std::vector<JoinRecord> joins; // one per frame after the first
    // For leng.txt: 0, then per frame the difference of the rounded
    // cumulative positions, so that the whole rows add up where the
    // fractional ones do.
    std::vector<int> joinLengths;
};

class ArchivalStream {
public:
    explicit ArchivalStream(const ArchivalSettings& settings);

    // Adds the next frame. `standardJoinPosition` is the standard search's
    // join of the pair (previous, this frame) and `searched` the precise
    // search's, findPreciseJoin(previous, frame, type, longStrip), which the
    // caller may have run in parallel with other pairs; both are ignored for
    // the first frame. Returns the record of the pair, nothing for the first
    // frame.
    std::optional<JoinRecord> addFrame(ArchivalFrame frame, int frameNumber,
                                       int standardJoinPosition, const PreciseJoin& searched);

    // The same, running the precise search itself.
    std::optional<JoinRecord> addFrame(ArchivalFrame frame, int frameNumber,
                                       int standardJoinPosition);

    // A later frame joined where no search ran (beside a lost scan): at
    // `pitch` rows, the frame pitch, recorded as NotSearched.
    JoinRecord addUnsearchedFrame(ArchivalFrame frame, int frameNumber, int pitch);

    // The rest of the last frame, then the stream's mean and drift removed.
    // The stream holds as many samples as the standard one would with these
    // joins: the sum of joinLengths, then the last frame's rows. The stream
    // is left empty.
    ArchivalOutput finish();

private:
    // Joins a later frame at the record's position and keeps the record.
    JoinRecord join(ArchivalFrame frame, JoinRecord record);

    ArchivalSettings settings;
    ArchivalFrame previous;  // for the join search
    int referenceWidth = 0;  // band width of the first frame
    double start = 0;        // stream position of the current frame's row 0
    int lastRows = 0;        // rows of the latest frame
    std::vector<float> tail; // the latest frame's levelled samples not yet in the stream
    std::vector<float> committed;
    std::vector<JoinRecord> joins;
    std::vector<int> joinLengths;
    bool empty = true;
};

// The samples of one frame with the per-frame levels applied: scaled by the
// band width relative to `referenceWidth` (variable area; 0 leaves them) and
// divided by the illumination fit.
std::vector<float> levelledSamples(const ArchivalFrame& frame, SoundtrackType type,
                                   int referenceWidth, bool flattenIllumination);

// Joins one frame onto a stream: `tail` holds the stream's last samples not
// yet final, starting at stream index committed.size(); `samples` start at
// the (fractional) stream position `start`, which lies at or after the
// committed part. The samples are resampled onto the stream's grid, their
// offset matched to the tail's over the rows they share (when asked), and
// blended into it with the raised-cosine fade over all those rows, or cut
// kShiftKernelReach rows past the join (at most half way through the shared
// rows), where neither frame's resampling reads beyond its ends. On return
// `tail` holds the new frame's samples not yet final.
void joinAtFraction(std::vector<float>& committed, std::vector<float>& tail,
                    std::span<const float> samples, double start, bool crossfade, bool matchOffset);

// Subtracts the mean, then what a smoothing over about 0.44 / cutoffHz
// seconds (two box passes, shortened at the ends) leaves: the drift below
// cutoffHz. With cutoffHz <= 0 only the mean goes.
void removeDrift(std::vector<float>& stream, double sampleRate, double cutoffHz);

} // namespace veltrana
