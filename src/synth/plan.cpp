// Where everything lies on the strip and in each scan, and the sound that the
// strip carries.
//
// The sizes are chosen so that the scans pass as real to the measuring code:
// - The scan spans exactly the width of film that resolution detection takes
//   it to span, rounded to the column count that detection reads back as the
//   rendered dpi where one exists.
// - The frame pitch is the one the soundtrack geometry gives at the rendered
//   dpi, moved by one row where only that lets detection read it back.
// - A scan holds one frame pitch plus a frame line plus a margin of
//   neighbouring picture at both ends, a little more than the 7 % margin the
//   frame trim inspects: the trim then keeps the whole scan and consecutive
//   scans overlap by about a third of a pitch, which the join search needs.
// - Across the film: a narrow bright sliver (perforation ends on 35 mm,
//   scanner light past the film edge on 16 mm), then the band within the
//   first track width, where the strip cutters look for it, then the picture.

#include "synth/internal.h"

#include "geometry/resolution.h"
#include "geometry/rounding.h"
#include "job/film_speed.h"
#include "soundtrack/fractional_shift.h"
#include "soundtrack/track_geometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <numbers>
#include <random>

namespace veltrana::synth {

namespace {

constexpr int kMinDpi = 300;
constexpr int kMaxDpi = 9600;
constexpr int kMaxFrames = 9999;

// Scan length in frame pitches; a long strip holds four frames and margins of
// this share of a pitch at each end.
constexpr double kScanPitches = 1.38;
constexpr double kLongStripMarginPitches = 0.15;

// Sizes on the film, centimetres.
constexpr double kSliverCm = 0.006;             // perforation ends / light past the film edge
constexpr double kDensityTrackCm = 0.01;        // from the scan's edge to a variable-density track
constexpr double kAreaTrackCm = 0.015;          // to the lighter area of a variable-area track
constexpr double kPicture35Cm = 0.29;           // from the scan's edge to the picture, 35 mm
constexpr double kPicture16Cm = 0.34;           // the same for 16 mm
constexpr double kFrameLine35Cm = 0.1;          // dark line between two pictures, 35 mm
constexpr double kFrameLine16Cm = 0.03;         // the same for 16 mm
constexpr double kPerforationHoleCm = 0.198;    // along the film, 35 mm
constexpr double kBandHalfWidthMinShare = 0.03; // of the track width, at signal -1
constexpr double kBandHalfWidthMaxShare = 0.36; // at signal +1

// Full aperture, centimetres: the film's width, where its perforations lie
// from the nearer edge (35 mm on both sides, 16 mm on the side away from the
// band), where the picture ends short of the far edge, the scanner's light
// beside each edge and its gate beyond.
constexpr double kFilm35WidthCm = 3.5;
constexpr double kFilm16WidthCm = 1.6;
constexpr double kPerforationOuterCm = 0.201; // 35 mm, from the edge
constexpr double kPerforationWidthCm = 0.2794;
constexpr double kPerforation16OuterCm = 0.091;
constexpr double kPerforation16WidthCm = 0.183;
constexpr double kPerforation16LengthCm = 0.127;
constexpr double kPictureEnd35Cm = 0.56;
constexpr double kPictureEnd16Cm = 0.32;
constexpr double kGateLightCm = 0.05;
constexpr double kGateCm = 0.1;
// The film weaves within the gate by at most this much.
constexpr double kMaxApertureWeaveCm = 0.04;

constexpr double kMaxFalloffPercent = 80;
// A slant steeper than this would move the picture's rows further than the
// scans overlap.
constexpr double kMaxPerspectiveRows = 20;
// Weave of at most this share of the track width keeps the band where the
// strip cutters look for it.
constexpr double kMaxWeaveShareOfTrack = 0.1;
// Strip rows drawn beyond a scan's ends for the fractional shift's reach.
constexpr int kShiftLead = kShiftKernelReach + 1;
constexpr double kSilenceRampSeconds = 0.005;
// The noise-reduction bias follows the loudest sample within this time
// either side, smoothed over the same time (the band opens before a sound).
constexpr double kBiasReachSeconds = 0.01;

// What resolution detection reads from a width of `columns` and a pitch of
// `rows` (the same arithmetic as the measuring code, with the same constants).
int detectedAcross(SoundtrackType type, int columns) {
    return snapResolution(truncateToInt(columns * 2.54 / filmStandard(type).scanWidthCm));
}

int detectedAlong(SoundtrackType type, int rows) {
    return snapResolution(truncateToInt(rows * 2.54 / filmStandard(type).framePitchCm));
}

// The candidate nearest `nominal` (nominal, +1, -1, +2, -2) that detection
// reads back as `dpi`; failing that, the nearest whose reading still gives
// the job the right pixel sizes (`consistent`); failing that, `nominal`.
template <typename Reading, typename Consistent>
int pickSize(int nominal, int dpi, Reading reading, Consistent consistent) {
    const int offsets[] = {0, 1, -1, 2, -2};
    for (int offset : offsets) {
        if (reading(nominal + offset) == dpi) {
            return nominal + offset;
        }
    }
    for (int offset : offsets) {
        if (consistent(reading(nominal + offset), nominal + offset)) {
            return nominal + offset;
        }
    }
    return nominal;
}

std::string dpiText(ScanResolution r) {
    return std::to_string(r.dpiX) + " x " + std::to_string(r.dpiY) + " dpi";
}

struct LayoutChoice {
    SynthLayout layout;
    ScanResolution expected;
    std::vector<std::string> warnings;
};

// The parts of a full-aperture scan around the standard window: a 35 mm
// window begins at the inner end of the perforations by the band, a 16 mm
// one a sliver before the film's edge.
void placeAperture(SynthLayout& l, bool film35, double columnsPerCm, double rowsPerCm) {
    const auto px = [&](double cm) { return roundHalfAway(columnsPerCm * cm); };
    SynthAperture& a = l.aperture;
    a.gateColumns = px(kGateCm);
    const int light = px(kGateLightCm);
    const double filmWidth = film35 ? kFilm35WidthCm : kFilm16WidthCm;
    a.holeColumn = l.sliverColumns - px(kPerforationWidthCm);
    a.edgeColumn =
        film35 ? l.sliverColumns - px(kPerforationOuterCm + kPerforationWidthCm) : l.sliverColumns;
    a.farEdgeColumn = a.edgeColumn + px(filmWidth);
    a.pictureEndColumn = a.farEdgeColumn - px(film35 ? kPictureEnd35Cm : kPictureEnd16Cm);
    const double outer = film35 ? kPerforationOuterCm : kPerforation16OuterCm;
    const double width = film35 ? kPerforationWidthCm : kPerforation16WidthCm;
    a.farHoleFirst = a.farEdgeColumn - px(outer + width);
    a.farHoleEnd = a.farEdgeColumn - px(outer);
    a.holeRows16 = roundHalfAway(rowsPerCm * kPerforation16LengthCm);
    l.windowFirstColumn = a.gateColumns + light - a.edgeColumn;
    l.apertureColumns = l.windowFirstColumn + a.farEdgeColumn + light + a.gateColumns;
}

LayoutChoice chooseLayout(const SynthOptions& options) {
    LayoutChoice choice;
    SynthLayout& l = choice.layout;
    const SoundtrackType type = options.film;
    const ScanResolution dpi = options.dpi;
    const bool film35 = is35mm(type);
    const double columnsPerCm = dpi.dpiX / 2.54;
    const double rowsPerCm = dpi.dpiY / 2.54;

    // across: the width detection expects the scan to span
    const int nominalColumns = roundHalfAway(columnsPerCm * filmStandard(type).scanWidthCm);
    // (a reading that gives the same track width will do)
    l.scanColumns = pickSize(
        nominalColumns, dpi.dpiX, [&](int columns) { return detectedAcross(type, columns); },
        [&](int readDpiX, int) {
            return centimetresToPixels(readDpiX, filmStandard(type).soundtrackCutWidthCm) ==
                   centimetresToPixels(dpi.dpiX, filmStandard(type).soundtrackCutWidthCm);
        });
    // along: the frame pitch
    const int nominalPitch = centimetresToPixels(dpi.dpiY, filmStandard(type).framePitchCm);
    // (a reading whose pitch is the rendered one will do)
    l.framePitch = pickSize(
        nominalPitch, dpi.dpiY, [&](int rows) { return detectedAlong(type, rows); },
        [&](int readDpiY, int rows) {
            return centimetresToPixels(readDpiY, filmStandard(type).framePitchCm) == rows;
        });
    choice.expected = {detectedAcross(type, l.scanColumns), detectedAlong(type, l.framePitch)};

    l.trackWidth = computeSoundtrackGeometry(type, dpi)->trackWidth;
    if (options.shrinkPercent > 0) {
        // the shrunk film's pitch; its sound was printed at the nominal one
        l.framePitch = roundHalfAway(l.framePitch * (1.0 - options.shrinkPercent / 100.0));
    }
    l.sampleRate = options.fps * l.framePitch;
    if (l.framePitch != nominalPitch && options.shrinkPercent <= 0) {
        choice.warnings.push_back("the frame pitch is rendered as " + std::to_string(l.framePitch) +
                                  " rows instead of " + std::to_string(nominalPitch) +
                                  " so that resolution detection can measure it (the sample rate "
                                  "is the film speed times " +
                                  std::to_string(l.framePitch) + ")");
    }
    if (choice.expected != dpi) {
        const auto read = computeSoundtrackGeometry(type, choice.expected);
        std::string consequence;
        if (read && read->trackWidth == l.trackWidth && read->framePitch == l.framePitch) {
            consequence = "; the track width and frame pitch it leads to are the rendered ones";
        } else if (read) {
            consequence = "; a job that detects the resolution will take a track width of " +
                          std::to_string(read->trackWidth) + " columns and a frame pitch of " +
                          std::to_string(read->framePitch) + " rows instead of the rendered " +
                          std::to_string(l.trackWidth) + " and " + std::to_string(l.framePitch) +
                          " (enter the resolution by hand)";
        }
        choice.warnings.push_back("resolution detection cannot read these scans as " +
                                  dpiText(dpi) + ": it will read " + dpiText(choice.expected) +
                                  consequence);
    }
    l.frameLineRows =
        std::max(2, roundHalfAway(rowsPerCm * (film35 ? kFrameLine35Cm : kFrameLine16Cm)));

    int margin = 0;
    if (options.longStrip) {
        l.framesPerScan = 4;
        margin = roundHalfAway(kLongStripMarginPitches * l.framePitch);
        l.scanRows = 4 * l.framePitch + l.frameLineRows + 2 * margin;
        // the long-strip trim inspects 2 % of the scan at each end
        l.jitterLimit = margin - static_cast<int>(std::ceil(0.02 * l.scanRows)) - 4;
    } else {
        l.framesPerScan = 1;
        l.scanRows = roundHalfAway(kScanPitches * l.framePitch);
        margin = (l.scanRows - l.framePitch - l.frameLineRows) / 2;
        // the trim inspects 7 % of the scan at each end; two rows to spare
        l.jitterLimit = margin - static_cast<int>(std::ceil(0.07 * l.scanRows)) - 2;
    }
    l.jitterLimit = std::max(l.jitterLimit, 0);
    l.scanStep = l.framesPerScan * l.framePitch;
    l.firstFrameLine = std::clamp(options.jitter, 0, l.jitterLimit) + margin;

    l.sliverColumns = std::max(1, roundHalfAway(columnsPerCm * kSliverCm));
    l.perforationRows = film35 ? roundHalfAway(rowsPerCm * kPerforationHoleCm) : 0;
    if (type == SoundtrackType::VariableDensity35) {
        l.trackFirstColumn = columnsPerCm * kDensityTrackCm;
        l.trackEndColumn = l.trackFirstColumn + l.trackWidth;
        l.bandCentre = 0.5 * (l.trackFirstColumn + l.trackEndColumn);
    } else {
        // The clear band is centred in the first track width of the scan:
        // the profile cutter, when it finds no sharp edge, cuts 10 % to 90 %
        // of that width. The lighter track area begins a little after the
        // sliver, the brightening the edge cutter looks for.
        l.trackFirstColumn = columnsPerCm * kAreaTrackCm;
        l.trackEndColumn = l.trackWidth;
        l.bandCentre = 0.5 * l.trackWidth;
    }
    l.bandHalfWidthMin = kBandHalfWidthMinShare * l.trackWidth;
    l.bandHalfWidthMax = kBandHalfWidthMaxShare * l.trackWidth;
    l.pictureFirstColumn = roundHalfAway(columnsPerCm * (film35 ? kPicture35Cm : kPicture16Cm));
    if (options.fullAperture) {
        placeAperture(l, film35, columnsPerCm, rowsPerCm);
    }
    return choice;
}

// The largest change of the signal from one row to the next that keeps the
// band from adding false frame edges to the vertical resolution search. That
// search differentiates the mean brightness of each row over the left 80 %
// of the columns, normalised by its brightest rise, and takes a rise of 2.5 %
// as a frame edge; the band's share of that mean moves with the signal, so a
// loud high tone would look like frame edges everywhere. 1.8 %, well
// below that threshold (with a picture assumed no brighter than 160 on
// average, darker than the pictures drawn) leaves room for noise.
double safeSignalStep(const SynthLayout& l, SoundtrackType type) {
    const int columns = l.scanColumns - roundHalfAway(0.2 * l.scanColumns) + 1;
    const int pictureColumns = std::max(0, columns - l.pictureFirstColumn);
    const double rowMean =
        (160.0 * pictureColumns + detail::kOpaque * (columns - pictureColumns)) / columns;
    const double range = detail::kClear - detail::kOpaque;
    // brightness moved across the band per unit of signal
    const double bandShare = type == SoundtrackType::VariableDensity35
                                 ? l.trackWidth * detail::kDensitySwing * range
                                 : 2.0 * 0.5 * (l.bandHalfWidthMax - l.bandHalfWidthMin) * range;
    const double risePerUnit = bandShare / columns / rowMean;
    return 0.018 / risePerUnit;
}

// The level of the silence passages at strip row t (see kSilencePeriodSeconds).
double silenceLevel(int t, int sampleRate) {
    const double quarter = kSilencePeriodSeconds / 4;
    const double seconds = static_cast<double>(t) / sampleRate;
    const double within =
        seconds - kSilencePeriodSeconds * std::floor(seconds / kSilencePeriodSeconds);
    const std::array<double, 4> levels{1.0, 0.0, kLowLevel, 1.0};
    const int part = std::clamp(static_cast<int>(within / quarter), 0, 3);
    const double level = levels[static_cast<std::size_t>(part)];
    // a raised-cosine ramp from the previous passage's level over its first few ms
    const double into = within - part * quarter;
    if (into < kSilenceRampSeconds) {
        const double before = levels[static_cast<std::size_t>((part + 3) % 4)];
        const double w = 0.5 - 0.5 * std::cos(std::numbers::pi * into / kSilenceRampSeconds);
        return before + (level - before) * w;
    }
    return level;
}

// The clear band's resting width per strip row for the noise-reduction bias:
// kBiasFloor in silence, opening fully at 0.9 of full level.
std::vector<float> noiseReductionBias(const std::vector<float>& signal, int sampleRate) {
    const int n = static_cast<int>(signal.size());
    const int reach = std::max(1, static_cast<int>(kBiasReachSeconds * sampleRate));
    // the loudest magnitude within reach, then its mean over the same reach
    std::vector<double> loudest(signal.size(), 0.0);
    std::deque<int> window; // indices of decreasing magnitudes
    for (int i = 0, next = 0; i < n; ++i) {
        for (; next < n && next <= i + reach; ++next) {
            while (!window.empty() && std::abs(signal[static_cast<std::size_t>(window.back())]) <=
                                          std::abs(signal[static_cast<std::size_t>(next)])) {
                window.pop_back();
            }
            window.push_back(next);
        }
        while (window.front() < i - reach) {
            window.pop_front();
        }
        loudest[static_cast<std::size_t>(i)] =
            std::abs(signal[static_cast<std::size_t>(window.front())]);
    }
    std::vector<double> prefix(signal.size() + 1, 0.0);
    for (int i = 0; i < n; ++i) {
        prefix[static_cast<std::size_t>(i + 1)] =
            prefix[static_cast<std::size_t>(i)] + loudest[static_cast<std::size_t>(i)];
    }
    std::vector<float> bias(signal.size());
    for (int i = 0; i < n; ++i) {
        const int from = std::max(0, i - reach);
        const int to = std::min(n, i + reach + 1);
        const double envelope =
            (prefix[static_cast<std::size_t>(to)] - prefix[static_cast<std::size_t>(from)]) /
            (to - from);
        bias[static_cast<std::size_t>(i)] =
            static_cast<float>(kBiasFloor + (1.0 - kBiasFloor) * std::min(1.0, envelope / 0.9));
    }
    return bias;
}

} // namespace

std::string signalKindName(SignalKind kind) {
    switch (kind) {
    case SignalKind::Mix:
        return "mix";
    case SignalKind::Tone:
        return "tone";
    case SignalKind::Sweep:
        return "sweep";
    case SignalKind::File:
        return "file";
    case SignalKind::Speech:
        return "speech";
    case SignalKind::Silent:
        return "silent";
    }
    return "mix";
}

std::vector<std::string> checkSynthOptions(const SynthOptions& options) {
    std::vector<std::string> problems;
    const int type = static_cast<int>(options.film);
    if (type < 1 || type > 3) {
        problems.push_back("unknown film type (use 35va, 35vd or 16va)");
        return problems;
    }
    auto dpiProblem = [&](const char* what, int value) {
        if (value < kMinDpi || value > kMaxDpi) {
            problems.push_back(std::string("the ") + what + " resolution must be " +
                               std::to_string(kMinDpi) + " to " + std::to_string(kMaxDpi) +
                               " dpi, not " + std::to_string(value));
        }
    };
    dpiProblem("horizontal", options.dpi.dpiX);
    if (options.dpi.dpiY != options.dpi.dpiX) {
        dpiProblem("vertical", options.dpi.dpiY);
    }
    if (options.frames < 1 || options.frames > kMaxFrames) {
        problems.push_back("the number of frames must be 1 to " + std::to_string(kMaxFrames) +
                           ", not " + std::to_string(options.frames));
    }
    if (options.fps < kSlowestFilmSpeed || options.fps > kFastestFilmSpeed) {
        problems.push_back("the film speed must be a whole " + std::to_string(kSlowestFilmSpeed) +
                           " to " + std::to_string(kFastestFilmSpeed) + " frames per second, not " +
                           std::to_string(options.fps));
    }
    const int bits = options.deepLayout.dpxBits;
    if (bits != 8 && bits != 10 && bits != 12 && bits != 16) {
        problems.push_back("a DPX scan holds 8, 10, 12 or 16 bits per sample, not " +
                           std::to_string(bits));
    }
    if (options.longStrip && options.film != SoundtrackType::VariableArea16) {
        problems.push_back("a long strip is a 16 mm scan (--film 16va)");
    }
    if (options.signal == SignalKind::File && options.signalFile.empty()) {
        problems.push_back("no sound file given");
    }
    if (!(options.falloffPercent >= 0 && options.falloffPercent <= kMaxFalloffPercent)) {
        problems.push_back("the fall-off must be 0 to " +
                           std::to_string(static_cast<int>(kMaxFalloffPercent)) + " percent");
    }
    if (options.noiseReductionBias && options.film == SoundtrackType::VariableDensity35) {
        problems.push_back("the noise-reduction bias is drawn on variable-area film only");
    }
    if (!(options.shrinkPercent >= 0 && options.shrinkPercent <= kMaxShrinkPercent)) {
        problems.push_back("the shrink must be 0 to " +
                           std::to_string(static_cast<int>(kMaxShrinkPercent)) + " percent");
    }
    const int frameCount = options.frames * (options.longStrip ? 4 : 1);
    for (int mark : options.syncMarks) {
        if (mark < 1 || mark > frameCount) {
            problems.push_back("sync mark " + std::to_string(mark) + " is no frame of the " +
                               std::to_string(frameCount) + " rendered");
        } else if (mark - syncAdvanceOf(options) < 1) {
            problems.push_back("the burst of sync mark " + std::to_string(mark) +
                               " would be printed before the first frame: the mark must come "
                               "after the advance of " +
                               std::to_string(syncAdvanceOf(options)) + " frames");
        }
    }
    if (options.syncAdvance < -1) {
        problems.push_back("the sync advance cannot be negative");
    }
    if (!(std::abs(options.perspectiveRows) <= kMaxPerspectiveRows)) {
        problems.push_back("the perspective must be within " +
                           std::to_string(static_cast<int>(kMaxPerspectiveRows)) +
                           " rows either way");
    }
    if (options.weave < 0) {
        problems.push_back("the weave cannot be negative");
    } else if (options.weave > 0 && problems.empty() && options.fullAperture) {
        const int limit = roundHalfAway(options.dpi.dpiX / 2.54 * kMaxApertureWeaveCm);
        if (options.weave > limit) {
            problems.push_back("a weave of " + std::to_string(options.weave) +
                               " columns would take the film into the gate; these scans allow "
                               "at most " +
                               std::to_string(limit));
        }
    } else if (options.weave > 0 && problems.empty()) {
        const SynthLayout layout = chooseLayout(options).layout;
        const int limit = static_cast<int>(kMaxWeaveShareOfTrack * layout.trackWidth);
        if (options.weave > limit) {
            problems.push_back("a weave of " + std::to_string(options.weave) +
                               " columns would move the band out of the strip cutters' reach; "
                               "these scans allow at most " +
                               std::to_string(limit));
        }
    }
    if (options.jitter < 0) {
        problems.push_back("the jitter cannot be negative");
    } else if (problems.empty()) {
        const SynthLayout layout = chooseLayout(options).layout;
        if (options.jitter > layout.jitterLimit) {
            problems.push_back("a jitter of " + std::to_string(options.jitter) +
                               " rows would let the frame trim cut into the frames; these scans "
                               "allow at most " +
                               std::to_string(layout.jitterLimit));
        }
    }
    return problems;
}

SynthPlanResult planSampleScans(const SynthOptions& options) {
    SynthPlanResult result;
    const std::vector<std::string> problems = checkSynthOptions(options);
    if (!problems.empty()) {
        result.error = problems.front();
        for (std::size_t i = 1; i < problems.size(); ++i) {
            result.error += "; " + problems[i];
        }
        result.badOptions = true;
        return result;
    }

    LayoutChoice choice = chooseLayout(options);
    SynthTruth& truth = result.plan.truth;
    truth.options = options;
    truth.layout = choice.layout;
    truth.expected = choice.expected;
    truth.detected = choice.expected;
    truth.warnings = std::move(choice.warnings);
    // with fractional starts every scan is drawn from a few strip rows before
    // its first row, so the strip begins that much earlier
    const int lead = options.fractionalStarts ? kShiftLead : 0;
    truth.layout.firstFrameLine += lead;
    const SynthLayout& l = truth.layout;

    // scan starts: one step apart, each moved by up to the jitter either way
    std::mt19937 rng(0x5CA4u ^ (options.variant * 2654435761u));
    const int jitter = options.jitter;
    truth.scans.resize(static_cast<std::size_t>(options.frames));
    for (int k = 0; k < options.frames; ++k) {
        // rows -jitter .. +jitter, each equally likely (a plain mapping, the
        // same with every standard library)
        const std::uint32_t draw = rng();
        const int offset = static_cast<int>((static_cast<std::uint64_t>(draw) *
                                             static_cast<std::uint64_t>(2 * jitter + 1)) >>
                                            32) -
                           jitter;
        SynthScan& scan = truth.scans[static_cast<std::size_t>(k)];
        char name[32];
        std::snprintf(name, sizeof name, "frame_%04d%s", k + 1, scanFileExtension(options.format));
        scan.file = name;
        scan.start = lead + jitter + k * l.scanStep + offset;
        scan.startExact = scan.start;
        // frame lines that reach into the scan
        const std::int64_t firstLine =
            detail::floorDiv(scan.start - l.firstFrameLine + l.frameLineRows - 1, l.framePitch);
        for (std::int64_t j = std::max<std::int64_t>(firstLine, 0);; ++j) {
            const int lineStart =
                l.firstFrameLine + static_cast<int>(j) * l.framePitch - scan.start;
            if (lineStart >= l.scanRows) {
                break;
            }
            const int first = std::max(lineStart, 0);
            const int end = std::min(lineStart + l.frameLineRows, l.scanRows);
            if (end > first) {
                scan.frameLines.emplace_back(first, end);
            }
        }
    }
    if (options.fractionalStarts || options.weave > 0) {
        // drawn apart from the jitter, so that a render's whole starts do not
        // depend on these options
        std::mt19937 effects(0xEFFEC7u ^ (options.variant * 2246822519u));
        for (SynthScan& scan : truth.scans) {
            const std::uint32_t fractionDraw = effects();
            const std::uint32_t weaveDraw = effects();
            if (options.fractionalStarts) {
                scan.startExact = scan.start + fractionDraw * (1.0 / 4294967296.0);
            }
            scan.weave = static_cast<int>((static_cast<std::uint64_t>(weaveDraw) *
                                           static_cast<std::uint64_t>(options.weave + 1)) >>
                                          32);
        }
    }
    for (int k = 0; k + 1 < options.frames; ++k) {
        const SynthScan& scan = truth.scans[static_cast<std::size_t>(k)];
        const SynthScan& next = truth.scans[static_cast<std::size_t>(k + 1)];
        truth.joins.push_back(next.start - scan.start);
        truth.joinsExact.push_back(next.startExact - scan.startExact);
    }

    // the sound: one sample per strip row, up to the end of the last scan
    const int samples = truth.scans.back().start + l.scanRows + jitter + 1 + lead;
    std::vector<float>& signal = result.plan.signal;
    if (options.signal == SignalKind::File) {
        detail::SoundRead sound =
            detail::readSoundAtRate(options.signalFile, l.sampleRate, samples);
        if (!sound.error.empty()) {
            result.error = sound.error;
            return result;
        }
        truth.signalName = options.signalFile.filename().string();
        signal = std::move(sound.samples);
        if (static_cast<int>(signal.size()) < samples) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "the sound file lasts %.2f s but the strip holds %.2f s: the rest of "
                          "the strip is silent",
                          sound.sourceSeconds, static_cast<double>(samples) / l.sampleRate);
            truth.warnings.push_back(text);
            signal.resize(static_cast<std::size_t>(samples), 0.0f);
        }
    } else {
        truth.signalName = signalKindName(options.signal);
        signal = detail::builtInSignal(options.signal, samples, l.sampleRate,
                                       safeSignalStep(l, options.film));
    }
    if (!options.syncMarks.empty()) {
        std::vector<std::int64_t> bursts;
        for (int mark : options.syncMarks) {
            bursts.push_back(syncBurstStart(l, mark, syncAdvanceOf(options)));
        }
        truth.signalName = "sync";
        signal = detail::syncSignal(samples, l.sampleRate, safeSignalStep(l, options.film), bursts,
                                    l.framePitch);
    }
    if (options.silence) {
        for (std::size_t t = 0; t < signal.size(); ++t) {
            signal[t] =
                static_cast<float>(signal[t] * silenceLevel(static_cast<int>(t), l.sampleRate));
        }
    }
    if (options.noiseReductionBias) {
        result.plan.clearBias = noiseReductionBias(signal, l.sampleRate);
    }
    truth.signalSamples = samples;
    for (float v : signal) {
        truth.signalPeak = std::max(truth.signalPeak, std::abs(v));
    }
    return result;
}

int syncAdvanceOf(const SynthOptions& options) {
    if (options.syncAdvance >= 0) {
        return options.syncAdvance;
    }
    return options.film == SoundtrackType::VariableArea16 ? 26 : 20;
}

std::int64_t syncBurstStart(const SynthLayout& layout, int mark, int advance) {
    return layout.firstFrameLine +
           static_cast<std::int64_t>(mark - 1 - advance) * layout.framePitch + layout.frameLineRows;
}

int trimmedJoin(const SynthTruth& truth, int k, const FrameBounds& boundsK,
                const FrameBounds& boundsNext) {
    // working row 0 of a trimmed scan is the file's column `right`, which shows
    // strip row start + (file width - 1 - right)
    const int lastColumn = truth.layout.scanRows - 1;
    const int firstK = truth.scans[static_cast<std::size_t>(k)].start + lastColumn - boundsK.right;
    const int firstNext =
        truth.scans[static_cast<std::size_t>(k + 1)].start + lastColumn - boundsNext.right;
    return firstNext - firstK;
}

double trimmedStartExact(const SynthTruth& truth, int k, const FrameBounds& bounds) {
    const SynthScan& scan = truth.scans[static_cast<std::size_t>(k)];
    return scan.startExact + (truth.layout.scanRows - 1 - bounds.right);
}

double trimmedJoinExact(const SynthTruth& truth, int k, const FrameBounds& boundsK,
                        const FrameBounds& boundsNext) {
    return trimmedStartExact(truth, k + 1, boundsNext) - trimmedStartExact(truth, k, boundsK);
}

} // namespace veltrana::synth
