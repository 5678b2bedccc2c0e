#include "soundtrack/join_evidence.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace veltrana {

namespace {

// The frames a 16 mm long strip holds.
constexpr int kLongStripFrames = 4;

std::string format(const char* pattern, double value) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// values less the least-squares parabola through them: what is left when the
// slow fall-off of the light along the scan is taken off
std::vector<double> lessParabola(std::vector<double> values) {
    const auto n = static_cast<double>(values.size());
    const double mid = (n - 1) / 2;
    // sums for the normal equations, on x centred so that the odd sums vanish
    double s2 = 0, s4 = 0, sy = 0, sxy = 0, sxxy = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double x = static_cast<double>(i) - mid;
        s2 += x * x;
        s4 += x * x * x * x;
        sy += values[i];
        sxy += x * values[i];
        sxxy += x * x * values[i];
    }
    const double b = s2 > 0 ? sxy / s2 : 0;
    // a n + c s2 = sy; a s2 + c s4 = sxxy
    const double det = n * s4 - s2 * s2;
    const double c = det > 0 ? (n * sxxy - s2 * sy) / det : 0;
    const double a = (sy - c * s2) / n;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double x = static_cast<double>(i) - mid;
        values[i] -= a + b * x + c * x * x;
    }
    return values;
}

double rmsOf(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) {
        sum += v * v;
    }
    return values.empty() ? 0 : std::sqrt(sum / static_cast<double>(values.size()));
}

std::optional<double> pearson(const std::vector<double>& x, const std::vector<double>& y) {
    double sxy = 0, sxx = 0, syy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += x[i] * y[i];
        sxx += x[i] * x[i];
        syy += y[i] * y[i];
    }
    if (sxx <= 1e-12 || syy <= 1e-12) {
        return std::nullopt;
    }
    return sxy / std::sqrt(sxx * syy);
}

// the previous frame's reading between its rows, linearly
double between(std::span<const float> values, double at) {
    const auto k = static_cast<std::size_t>(std::floor(at));
    const double f = at - static_cast<double>(k);
    if (k + 1 >= values.size() || f == 0) {
        return values[std::min(k, values.size() - 1)];
    }
    return values[k] * (1 - f) + values[k + 1] * f;
}

// The correlation and loudness of the overlap's two readings at the join.
void overlapEvidence(const JoinReadings& r, JoinEvidence& e) {
    const OverlapReadings o = overlapReadings(r.previousSamples, r.samples, r.join);
    if (o.current.empty()) {
        return;
    }
    e.soundRms = std::min(rmsOf(o.previous), rmsOf(o.current));
    e.sounding = e.soundRms >= kSoundingRms;
    e.correlation = pearson(o.previous, o.current);
}

} // namespace

OverlapReadings overlapReadings(std::span<const float> previous, std::span<const float> current,
                                double join) {
    OverlapReadings o;
    if (join < 0 || previous.empty()) {
        return o;
    }
    const double overlap =
        std::min(static_cast<double>(previous.size()) - join, static_cast<double>(current.size()));
    const int rows = static_cast<int>(std::floor(overlap));
    if (rows < kMinEvidenceRows) {
        return o;
    }
    for (int i = 0; i < rows; ++i) {
        o.previous.push_back(between(previous, join + i));
        o.current.push_back(current[static_cast<std::size_t>(i)]);
    }
    // high-passed: the light's fall-off taken off each
    o.previous = lessParabola(std::move(o.previous));
    o.current = lessParabola(std::move(o.current));
    return o;
}

std::optional<double> overlapCorrelation(std::span<const float> previous,
                                         std::span<const float> current, double join) {
    const OverlapReadings o = overlapReadings(previous, current, join);
    if (o.current.empty()) {
        return std::nullopt;
    }
    return pearson(o.previous, o.current);
}

double offPitchTolerance(double advance) {
    return std::max(kOffPitchRows, kOffPitchShare * advance);
}

double scanAdvanceRows(SoundtrackType type, bool longStrip, int framePitch) {
    return (isLongStrip16(type, longStrip) ? kLongStripFrames : 1) *
           static_cast<double>(framePitch);
}

JoinEvidence joinEvidence(const JoinReadings& r) {
    JoinEvidence e;
    overlapEvidence(r, e);
    if (r.preciseUsed) {
        // the precise search's own high-passed correlation, which saw the
        // bands beside a silent track too
        e.correlation = r.preciseScore;
        e.sounding = true;
    }
    if (r.advance > 0) {
        e.offAdvance = r.join - r.trimShift - r.advance;
        e.offPitchTolerance = offPitchTolerance(r.advance);
    }
    e.preciseUsed = r.preciseUsed;
    e.atSearchEdge = !r.preciseUsed &&
                     (!r.standardFound || r.standardJoin <= r.searchedFirst + kSearchEdgeRows ||
                      r.standardJoin >= r.searchedLast - kSearchEdgeRows);
    if (r.preciseJoin) {
        e.disagreement = *r.preciseJoin - r.standardJoin;
        e.preciseTrusted = r.preciseJoinScore >= kWeakEvidenceCorrelation;
    }
    return e;
}

std::vector<JoinFlag> judgeJoin(const JoinEvidence& e) {
    std::vector<JoinFlag> flags;
    if (e.sounding && e.correlation && *e.correlation < kWeakEvidenceCorrelation) {
        flags.push_back(
            {JoinFlagKind::Weak, format("correlation %.2f at the join", *e.correlation)});
    }
    if (e.offAdvance && std::abs(*e.offAdvance) > e.offPitchTolerance) {
        flags.push_back(
            {JoinFlagKind::OffPitch, format("%+.1f rows from the frame pitch", *e.offAdvance)});
    }
    if (e.atSearchEdge) {
        flags.push_back({JoinFlagKind::AtEdge, "the search's peak lay at the edge of its range"});
    }
    if (!e.preciseUsed && e.preciseTrusted && e.disagreement &&
        std::abs(*e.disagreement) > kDisagreeingRows) {
        flags.push_back({JoinFlagKind::Disagreed,
                         format("the precise search puts it %+.1f rows from the standard one",
                                *e.disagreement)});
    }
    return flags;
}

std::string joinRuleText() {
    return format("A join is flagged when the two frames' readings of the film they share, each "
                  "less the slow fall-off of the light, correlate below %.2f at the join while "
                  "they carry sound (for a precise join, its search's score); ",
                  kWeakEvidenceCorrelation) +
           format("when it lies more than %.0f rows", kOffPitchRows) +
           format(" (or %.1f %% of the pitch, if more) from the frame pitch; ",
                  100 * kOffPitchShare) +
           "and, when the standard search's join is used, when its peak lay at the edge of "
           "its range " +
           format("or the precise search (which every run makes), scoring %.2f or more, ",
                  kWeakEvidenceCorrelation) +
           format("puts the join more than %.0f rows elsewhere.", kDisagreeingRows);
}

void RunEvidence::addBand(int frame, int first, int last, std::optional<bool> trackLike) {
    bands.push_back({frame, first, last});
    if (trackLike) {
        ++judgedBands;
        if (!*trackLike) {
            unlike.push_back(frame);
        }
    }
}

void RunEvidence::addJoin(const std::vector<JoinFlag>& flags) {
    ++joins;
    if (std::any_of(flags.begin(), flags.end(),
                    [](const JoinFlag& f) { return f.kind == JoinFlagKind::OffPitch; })) {
        ++offPitch;
    }
}

namespace {

// "3, 9, 11", at most `most` of them, then "and N more"
std::string frameList(const std::vector<int>& frames, std::size_t most) {
    std::string text;
    for (std::size_t i = 0; i < frames.size() && i < most; ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(frames[i]);
    }
    if (frames.size() > most) {
        text += " and " + std::to_string(frames.size() - most) + " more";
    }
    return text;
}

constexpr std::size_t kListedFrames = 12;

} // namespace

std::optional<RunWarning> RunEvidence::bandWidthWarning() const {
    if (bands.size() < 2) {
        return std::nullopt;
    }
    // the usual band: the width most frames read, the first such frame's rows
    std::vector<int> widths;
    for (const Band& b : bands) {
        widths.push_back(b.last - b.first + 1);
    }
    int usual = widths.front();
    std::size_t most = 0;
    for (int w : widths) {
        const auto count = static_cast<std::size_t>(std::count(widths.begin(), widths.end(), w));
        if (count > most) {
            most = count;
            usual = w;
        }
    }
    const Band& typical = bands[static_cast<std::size_t>(
        std::find(widths.begin(), widths.end(), usual) - widths.begin())];
    const double slack = std::max<double>(kBandWidthSlackColumns, kBandWidthShare * usual);
    std::vector<int> odd;
    const Band* first = nullptr;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        if (std::abs(widths[i] - usual) > slack) {
            odd.push_back(bands[i].frame);
            first = first != nullptr ? first : &bands[i];
        }
    }
    if (odd.empty()) {
        return std::nullopt;
    }
    return RunWarning{kBandWidthWarning, "The band read changes width between frames: frame" +
                                             std::string(odd.size() == 1 ? " " : "s ") +
                                             frameList(odd, kListedFrames) + " read scan rows " +
                                             std::to_string(first->first) + " to " +
                                             std::to_string(first->last) + ", most frames " +
                                             std::to_string(typical.first) + " to " +
                                             std::to_string(typical.last) +
                                             "; the level of the sound steps at their joins"};
}

std::optional<RunWarning> RunEvidence::notTrackWarning() const {
    if (offPitch < kLeastNotTrackJoins || offPitch < kNotTrackJoinShare * joins) {
        return std::nullopt;
    }
    const auto trackLike = judgedBands - static_cast<int>(unlike.size());
    if (2 * trackLike > judgedBands) {
        return RunWarning{kOffPitchJoinsWarning,
                          "The band looks like a soundtrack, but the joins of " +
                              std::to_string(offPitch) + " of " + std::to_string(joins) +
                              " frames do not follow the frame pitch, so the frames' sound was "
                              "not matched there (quiet passages give the search too little to "
                              "match; Inverse or the cut by analysis, chosen wrongly, gives it "
                              "the wrong film): see the joins flagged off-pitch in the report"};
    }
    return RunWarning{kNotTrackWarning,
                      "The joins do not follow the frame pitch (" + std::to_string(offPitch) +
                          " of " + std::to_string(joins) +
                          " lie off it): the band read may not be a soundtrack, or the frames' "
                          "sound was not matched; check the frame rotation (UP or DOWN), the "
                          "film type, Inverse and the cut by analysis"};
}

std::optional<RunWarning> RunEvidence::unlikeTrackWarning() const {
    const auto count = static_cast<int>(unlike.size());
    if (count < kLeastNotTrackFrames || count < kNotTrackFrameShare * judgedBands) {
        return std::nullopt;
    }
    const char* kind = type == SoundtrackType::VariableDensity35
                           ? "a variable-density track (even across, varying along the film and "
                             "running on across the frame lines)"
                           : "a variable-area track (dark, clear and dark again across)";
    return RunWarning{kNotTrackWarning,
                      "The band read does not look like " + std::string(kind) + " on " +
                          std::to_string(count) + " of " + std::to_string(judgedBands) +
                          " frames: it may be the picture or the film's edge; check the frame "
                          "rotation (UP or DOWN) or the track side, and the film type"};
}

std::vector<RunWarning> RunEvidence::warnings() const {
    std::vector<RunWarning> all;
    if (std::optional<RunWarning> shape = unlikeTrackWarning()) {
        all.push_back(std::move(*shape));
    }
    if (std::optional<RunWarning> band = notTrackWarning()) {
        all.push_back(std::move(*band));
    }
    if (std::optional<RunWarning> width = bandWidthWarning()) {
        all.push_back(std::move(*width));
    }
    return all;
}

} // namespace veltrana
