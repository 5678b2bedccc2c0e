#pragma once
// What a pair of frames says about its own join, and the rule that judges
// it: one rule for both modes, for the log, the run report, report.json and
// the desktop program.
//
// Conventions for this header:
// - Rows are 0-based working-image rows along the film; a join position
//   means what join_search.h says (the row of the previous frame that shows
//   the same film as row 0 of the current one), fractional where the precise
//   search settled it.
// - Samples are in 8-bit steps, as the frames' samples are.
//
// Why not a running median of the joins: bad joins drag a median along, and
// the scanner's own spread (a row or two when it places frames by their
// perforations) says nothing about a wrong join. Each pair is judged from
// what it shows itself: whether the two readings of the film they share agree
// at the join once the slow fall-off of the light is taken off (on raw levels
// a ramp of the light gives -0.99 to any pair), whether the search's peak lay
// at the edge of what it searched, whether the standard and the precise
// searches disagree, and how far the join lies from the advance that the
// resolution gives.

#include "geometry/film_standard.h"
#include "job/run_notes.h"
#include "soundtrack/band_shape.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veltrana {

// A join further than this from the scanner's advance is off: a scanner
// places each frame within a few rows of the frame pitch (rendered scans
// start up to 4 rows off their place, so their right joins lie up to 8 rows
// from it), a wrong join tens of rows off. The share of the advance keeps
// the same distance on the film at higher resolutions: 10 rows at 1200 dpi,
// 20 at 2400 dpi for 35 mm.
inline constexpr double kOffPitchRows = 10.0;
inline constexpr double kOffPitchShare = 0.011;

// How far from the advance a join may lie before it is off (rows).
double offPitchTolerance(double advance);

// Below this correlation of the high-passed readings at the join, the two
// frames do not show the same film there: the join is weak. Right joins of
// sounding overlaps correlate 0.8 and more, even on grainy, blurred scans.
inline constexpr double kWeakEvidenceCorrelation = 0.5;

// The readings of the overlap show anything the frames can agree on when
// their high-passed root mean square passes this (8-bit steps). Below it a
// silent track shows the scanner's own noise, which two scans do not share:
// on rendered silence with noise the right joins' readings (0.2 to 0.6 steps)
// correlate 0.3 at most; sounding overlaps are ten steps and more.
inline constexpr double kSoundingRms = 1.0;

// The standard and the precise joins disagree when further apart than this
// (rows), the precise search scoring kWeakEvidenceCorrelation or more. A
// standard run searches precisely too, to judge its joins: in silent
// passages the standard search has only the scanner's noise to match, and
// its joins there lie rows off, where the precise search reads the bands
// beside the track.
inline constexpr double kDisagreeingRows = 2.0;

// A search's peak this close to an end of what it searched (rows) lay at its
// edge: the true join may lie beyond.
inline constexpr double kSearchEdgeRows = 2.0;

// What a pair's judgement is given.
struct JoinReadings {
    std::span<const float> previousSamples; // the previous frame's samples
    std::span<const float> samples;         // the current frame's
    double join = 0;                        // the join used
    int standardJoin = 0;                   // the standard search's
    bool standardFound = true;              // it found a peak at all
    // the standard search looked at shifts first..last
    int searchedFirst = 0;
    int searchedLast = 0;
    std::optional<double> preciseJoin; // the precise search's, when it found one
    double preciseJoinScore = 0;       // and its score
    // the join used is the precise one: the readings are then those the
    // precise search compared, and the standard search's edge and its
    // disagreement with a trusted precise join say nothing against it
    bool preciseUsed = false;
    // the precise search's score: for a precise join the correlation at the
    // join of the high-passed readings it compared (its track, or the bands
    // beside it where the track is silent)
    double preciseScore = 0;
    // the rows a scan advances along the film: its frames' pitch; 0 when
    // not known
    double advance = 0;
    // what the two frames' trims add to the join, rows: the previous frame's
    // last trimmed column less the current one's (the scanner advances the
    // untrimmed scans by the pitch)
    double trimShift = 0;
};

// What the readings show.
struct JoinEvidence {
    // the Pearson correlation at the join of the two readings of the
    // overlap, each less its fitted parabola (the slow fall-off of the
    // light); absent when the overlap is too short
    std::optional<double> correlation;
    double soundRms = 0; // the high-passed readings' root mean square, the lower of the two
    bool sounding = false;
    // the untrimmed join less the advance, rows; absent when not known
    std::optional<double> offAdvance;
    double offPitchTolerance = 0; // how far off it may lie
    bool atSearchEdge = false;
    std::optional<double> disagreement; // precise - standard, rows
    // the precise search's score says it found the film the frames share
    bool preciseTrusted = false;
    bool preciseUsed = false; // as in JoinReadings
};

// The two readings of the film a pair shares at a join, each less its
// fitted parabola (the slow fall-off of the light): what the judgement
// correlates, and what the run report draws. Empty when the overlap is
// shorter than kMinEvidenceRows.
struct OverlapReadings {
    std::vector<double> previous; // previous[join + i], between rows linearly
    std::vector<double> current;  // current[i]
};
inline constexpr int kMinEvidenceRows = 16;
OverlapReadings overlapReadings(std::span<const float> previous, std::span<const float> current,
                                double join);
// Their Pearson correlation; absent when too short or flat.
std::optional<double> overlapCorrelation(std::span<const float> previous,
                                         std::span<const float> current, double join);

// The rows a scan advances along the film: one frame pitch, or the four
// frames of a 16 mm long strip.
double scanAdvanceRows(SoundtrackType type, bool longStrip, int framePitch);

JoinEvidence joinEvidence(const JoinReadings& readings);

// The rule: every piece of evidence against the join, with its reason; none
// for a join that nothing speaks against.
std::vector<JoinFlag> judgeJoin(const JoinEvidence& evidence);

// The rule in one sentence, as the report and the desktop state it.
std::string joinRuleText();

// A band read narrower or wider than the run's usual one by more than this
// share (and at least kBandWidthSlackColumns) changes the level of its
// frame's sound: the step is heard at its joins.
inline constexpr double kBandWidthShare = 0.05;
inline constexpr int kBandWidthSlackColumns = 2;

// When at least this share of a run's joins (and at least
// kLeastNotTrackJoins of them) lie off the frame pitch, the band read is
// taken not to be a soundtrack: a wrong rotation or film type reads the
// picture, whose joins the pitch does not settle. Unless most of the frames
// whose band could be judged look like a track: then the frames' sound was
// not matched there (quiet passages give the search too little to match;
// Inverse or the cut by analysis chosen wrongly gives it the wrong film).
inline constexpr double kNotTrackJoinShare = 0.6;
inline constexpr int kLeastNotTrackJoins = 2;

// When at least this share of a run's frames whose band could be judged
// (and at least kLeastNotTrackFrames of them) read a band unlike a track of
// the film type (band_shape.h), the band is taken not to be a soundtrack.
inline constexpr double kNotTrackFrameShare = 0.6;
inline constexpr int kLeastNotTrackFrames = 2;

// report.json's names of the run's warnings: the band may not be a
// soundtrack; the band looks like one but its frames' joins lie off the
// pitch; the band changes width.
inline constexpr const char* kNotTrackWarning = "band";
inline constexpr const char* kOffPitchJoinsWarning = "joins";
inline constexpr const char* kBandWidthWarning = "band-width";

// What a whole run's frames say about the band it read, gathered in frame
// order.
class RunEvidence {
public:
    explicit RunEvidence(SoundtrackType type = SoundtrackType::VariableArea35) : type(type) {}

    // The band a frame read, in working-image columns, first..last included,
    // and whether it looks like a track of the run's type (absent when it
    // shows too little to say).
    void addBand(int frame, int first, int last, std::optional<bool> trackLike = std::nullopt);
    void addJoin(const std::vector<JoinFlag>& flags);

    // The warnings the run deserves: the band changing width between
    // frames, a band that does not look like a soundtrack, joins off the
    // pitch. None on a run that read its track steadily.
    std::vector<RunWarning> warnings() const;

private:
    struct Band {
        int frame = 0;
        int first = 0;
        int last = 0;
    };
    std::optional<RunWarning> bandWidthWarning() const;
    std::optional<RunWarning> notTrackWarning() const;
    std::optional<RunWarning> unlikeTrackWarning() const;

    SoundtrackType type;
    std::vector<Band> bands;
    int judgedBands = 0;     // frames whose band showed enough to judge
    std::vector<int> unlike; // frames whose band looks unlike a track
    int joins = 0;
    int offPitch = 0;
};

} // namespace veltrana
