#include "soundtrack/archival_stream.h"

#include "geometry/rounding.h"
#include "soundtrack/fractional_shift.h"
#include "soundtrack/frame_joining.h"
#include "soundtrack/join_rules.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace veltrana {

namespace {

// Fractional stream positions this close to a whole row are that row: sums
// of joins carry rounding dust that should not cost a resampling.
constexpr double kWholeRowTolerance = 1e-9;
// Without any shared film, offsets are matched over this many samples at the
// end of the previous frame and the start of the current one.
constexpr int kOffsetRowsWithoutOverlap = 32;
// Box length of the drift smoothing per cutoff period: two passes of a box of
// N samples halve the level at 0.443 x rate / N.
constexpr double kBoxLengthPerPeriod = 0.443;

double meanOf(std::span<const float> values) {
    if (values.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (float v : values) {
        sum += v;
    }
    return sum / static_cast<double>(values.size());
}

// A centred moving average over `length` samples, shortened at the ends.
std::vector<double> boxMean(std::span<const double> values, int length) {
    const int n = static_cast<int>(values.size());
    std::vector<double> prefix(values.size() + 1, 0.0);
    for (int i = 0; i < n; ++i) {
        prefix[static_cast<std::size_t>(i + 1)] =
            prefix[static_cast<std::size_t>(i)] + values[static_cast<std::size_t>(i)];
    }
    const int before = length / 2;
    const int after = length - 1 - before;
    std::vector<double> out(values.size());
    for (int i = 0; i < n; ++i) {
        const int from = std::max(0, i - before);
        const int to = std::min(n, i + after + 1);
        out[static_cast<std::size_t>(i)] =
            (prefix[static_cast<std::size_t>(to)] - prefix[static_cast<std::size_t>(from)]) /
            (to - from);
    }
    return out;
}

// What to add to the current frame's samples so that its level matches the
// previous one's over the film they share: `overlap` samples of `tail` from
// `begin` on and of `current` from its start; without any shared film, over
// the samples either side of the join.
double offsetToMatch(std::span<const float> tail, std::size_t begin, std::size_t overlap,
                     std::span<const float> current) {
    if (overlap > 0) {
        return meanOf(tail.subspan(begin, overlap)) - meanOf(current.first(overlap));
    }
    const std::size_t count =
        std::min<std::size_t>(kOffsetRowsWithoutOverlap, std::min(tail.size(), current.size()));
    return meanOf(tail.last(count)) - meanOf(current.first(count));
}

} // namespace

const char* joinMethodName(JoinMethod method) {
    switch (method) {
    case JoinMethod::Precise:
        return "precise";
    case JoinMethod::NearestBand:
        return "precise (nearest band)";
    case JoinMethod::PreciseLoose:
        return "precise (loose)";
    case JoinMethod::StandardWeak:
        return "standard (precise search weak)";
    case JoinMethod::StandardNotFound:
        return "standard (precise search found nothing)";
    case JoinMethod::NotSearched:
        return "frame pitch (beside a lost frame, not searched)";
    }
    return "precise";
}

JoinChoice chooseJoin(const PreciseJoin& searched, int standardPosition, int previousRows,
                      SoundtrackType type, bool longStrip) {
    JoinChoice choice;
    choice.position = std::clamp(standardPosition, 0, std::max(previousRows, 0));
    if (!searched.found) {
        choice.method = JoinMethod::StandardNotFound;
        return choice;
    }
    const double reach =
        fineWindowShare(type, longStrip) * previousRows + kStandardAgreementSlackRows;
    const bool agreesWithStandard = std::abs(searched.wholeShift - standardPosition) <= reach;
    const bool standsOut =
        searched.runnerUpShift < 0 || searched.runnerUpShare <= kMaxRunnerUpShare;
    // confirmed by the sound, or on a silent track by the other bands
    const bool confirmed = searched.score >= kWeakJoinScore;
    const bool trackContradicts = searched.trackSounds && !confirmed;
    bool trusted = confirmed && (standsOut || agreesWithStandard);
    if (trackContradicts && searched.band != SearchBand::Track) {
        trusted = searched.otherBandsScore >= kWeakJoinScore && agreesWithStandard;
    }
    if (!trusted) {
        choice.method = JoinMethod::StandardWeak;
        return choice;
    }
    choice.method = searched.loose                       ? JoinMethod::PreciseLoose
                    : searched.band == SearchBand::Track ? JoinMethod::Precise
                                                         : JoinMethod::NearestBand;
    choice.position = searched.position;
    return choice;
}

std::vector<float> levelledSamples(const ArchivalFrame& frame, SoundtrackType type,
                                   int referenceWidth, bool flattenIllumination) {
    // a variable-area band's mean moves by (clear width / band width) with the
    // sound: times its width, the sound's gain no longer depends on the cut
    const double gain = type != SoundtrackType::VariableDensity35 && referenceWidth > 0
                            ? static_cast<double>(frame.bandWidth) / referenceWidth
                            : 1.0;
    std::vector<float> out(frame.samples.size());
    for (std::size_t r = 0; r < out.size(); ++r) {
        double v = frame.samples[r] * gain;
        if (flattenIllumination && r < frame.illumination.size() && frame.illumination[r] > 0.0f) {
            v /= frame.illumination[r];
        }
        out[r] = static_cast<float>(v);
    }
    return out;
}

void joinAtFraction(std::vector<float>& committed, std::vector<float>& tail,
                    std::span<const float> samples, double start, bool crossfade,
                    bool matchOffset) {
    if (std::abs(start - std::round(start)) < kWholeRowTolerance) {
        start = std::round(start);
    }
    // the first stream index the frame reaches, and where it lies in the frame
    const long long first = static_cast<long long>(std::ceil(start));
    const double offset = static_cast<double>(first) - start; // 0 <= offset < 1
    std::vector<float> current = shiftedSamples(samples, offset);
    if (offset > 0.0 && !current.empty()) {
        current.pop_back(); // it would read past the frame's last row
    }

    // where the frame begins within the tail; never before the final part
    long long within = first - static_cast<long long>(committed.size());
    if (within < 0) {
        const auto drop = std::min<std::size_t>(static_cast<std::size_t>(-within), current.size());
        current.erase(current.begin(), current.begin() + static_cast<std::ptrdiff_t>(drop));
        within = 0;
    }
    if (within > static_cast<long long>(tail.size())) {
        // a gap of less than a row: hold the last value across it
        const float hold = tail.empty() ? (current.empty() ? 0.0f : current.front()) : tail.back();
        tail.resize(static_cast<std::size_t>(within), hold);
    }
    const std::size_t begin = static_cast<std::size_t>(within);
    const std::size_t overlap = std::min(tail.size() - begin, current.size());

    if (matchOffset && !tail.empty() && !current.empty()) {
        const double shift = offsetToMatch(tail, begin, overlap, current);
        for (float& v : current) {
            v = static_cast<float>(v + shift);
        }
    }

    if (!crossfade) {
        // a cut: the previous frame a little past the join, where neither
        // frame's resampling reads beyond its ends (both show the same film)
        const std::size_t cut = std::min<std::size_t>(kShiftKernelReach, overlap / 2);
        current.erase(current.begin(), current.begin() + static_cast<std::ptrdiff_t>(cut));
        tail.resize(begin + cut);
        committed.insert(committed.end(), tail.begin(), tail.end());
        tail = std::move(current);
        return;
    }
    // the previous frame fades out over the overlap while this one fades in
    committed.insert(committed.end(), tail.begin(), tail.begin() + static_cast<long>(begin));
    const std::vector<float> weights = crossfadeWeights(static_cast<int>(overlap));
    for (std::size_t i = 0; i < overlap; ++i) {
        const double w = weights[i];
        committed.push_back(static_cast<float>(w * tail[begin + i] + (1.0 - w) * current[i]));
    }
    current.erase(current.begin(), current.begin() + static_cast<std::ptrdiff_t>(overlap));
    tail = std::move(current);
}

void removeDrift(std::vector<float>& stream, double sampleRate, double cutoffHz) {
    if (stream.empty()) {
        return;
    }
    std::vector<double> values(stream.begin(), stream.end());
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / values.size();
    for (double& v : values) {
        v -= mean;
    }
    if (cutoffHz > 0.0 && sampleRate > 0.0) {
        const int length = std::max(1, roundHalfAway(kBoxLengthPerPeriod * sampleRate / cutoffHz));
        const std::vector<double> drift = boxMean(boxMean(values, length), length);
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] -= drift[i];
        }
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        stream[i] = static_cast<float>(values[i]);
    }
}

ArchivalStream::ArchivalStream(const ArchivalSettings& settings) : settings(settings) {}

std::optional<JoinRecord> ArchivalStream::addFrame(ArchivalFrame frame, int frameNumber,
                                                   int standardJoinPosition) {
    if (empty) {
        return addFrame(std::move(frame), frameNumber, standardJoinPosition, PreciseJoin{});
    }
    const PreciseJoin searched =
        findPreciseJoin(previous, frame, settings.type, settings.longStrip);
    return addFrame(std::move(frame), frameNumber, standardJoinPosition, searched);
}

std::optional<JoinRecord> ArchivalStream::addFrame(ArchivalFrame frame, int frameNumber,
                                                   int standardJoinPosition,
                                                   const PreciseJoin& searched) {
    if (empty) {
        empty = false;
        referenceWidth = settings.scaleByWidth ? frame.bandWidth : 0;
        tail = levelledSamples(frame, settings.type, referenceWidth, settings.flattenIllumination);
        start = 0.0;
        lastRows = frame.rows();
        joinLengths.push_back(0);
        previous = std::move(frame);
        return std::nullopt;
    }

    JoinRecord record;
    record.frameNumber = frameNumber;
    record.standardPosition = standardJoinPosition;
    record.precise = searched;
    const JoinChoice choice = chooseJoin(searched, standardJoinPosition, previous.rows(),
                                         settings.type, settings.longStrip);
    record.method = choice.method;
    record.position = choice.position;
    return join(std::move(frame), record);
}

JoinRecord ArchivalStream::addUnsearchedFrame(ArchivalFrame frame, int frameNumber, int pitch) {
    JoinRecord record;
    record.frameNumber = frameNumber;
    record.standardPosition = pitch;
    record.method = JoinMethod::NotSearched;
    record.position = pitch;
    return join(std::move(frame), record);
}

JoinRecord ArchivalStream::join(ArchivalFrame frame, JoinRecord record) {
    // whole rows from the rounded cumulative positions: they add up
    const double next = start + record.position;
    joinLengths.push_back(roundHalfAway(next) - roundHalfAway(start));
    const std::vector<float> levelled =
        levelledSamples(frame, settings.type, referenceWidth, settings.flattenIllumination);
    joinAtFraction(committed, tail, levelled, next, settings.crossfade, settings.matchOffsets);
    start = next;
    lastRows = frame.rows();
    previous = std::move(frame);
    joins.push_back(record);
    return record;
}

ArchivalOutput ArchivalStream::finish() {
    ArchivalOutput out;
    committed.insert(committed.end(), tail.begin(), tail.end());
    tail.clear();
    // as long as the standard stream of the same joins: the whole rows of
    // leng.txt, then the last frame (whose last row, when the frame starts
    // less than half a row past a whole one, is held one sample longer)
    if (!empty) {
        committed.resize(static_cast<std::size_t>(std::max(roundHalfAway(start) + lastRows, 0)),
                         committed.empty() ? 0.0f : committed.back());
    }
    if (settings.centre) {
        removeDrift(committed, settings.sampleRate, settings.driftCutoffHz);
    }
    out.stream = std::move(committed);
    out.joins = std::move(joins);
    out.joinLengths = std::move(joinLengths);
    committed.clear();
    joins.clear();
    joinLengths.clear();
    previous = {};
    empty = true;
    start = 0.0;
    return out;
}

} // namespace veltrana
