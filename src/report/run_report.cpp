#include "report/run_report.h"

#include "job/folder_swap.h"
#include "job/safe_file.h"
#include "reading/scan_reader.h"
#include "report/delivered_sound.h"
#include "report/report_json.h"
#include "report/svg_plot.h"
#include "soundtrack/join_evidence.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <string_view>
#include <system_error>

namespace veltrana {

namespace fs = std::filesystem;

namespace {

// The waveform overview draws from about this many min/max values in all, so
// a short run keeps a fine envelope and a long one a coarse one per frame.
constexpr int kEnvelopeValues = 4096;
constexpr int kMinBinsPerFrame = 8;
constexpr int kMaxBinsPerFrame = 256;
// Stretches of the delivered sound the waveform draws.
constexpr int kWaveformStretches = 1000;

// Shifts either side of the join found that the correlation plot covers.
constexpr int kCorrelationReach = 12;

constexpr const char* kWhat = "the run report";

// How wide the page shows a thumbnail, in pixels.
constexpr int kThumbnailWidth = 360;

// The least span of the mean level plot, in sample steps.
constexpr double kLeastLevelSpan = 4;

// Colours of the overlays, the same in the thumbnails and the legend.
const cv::Scalar kTrimBgr(60, 200, 60);
const cv::Scalar kBandBgr(0, 150, 255);
const cv::Scalar kFilmEdgeBgr(255, 200, 0);
const cv::Scalar kCutBgr(230, 200, 0);
constexpr const char* kTrimCss = "#3cc83c";
constexpr const char* kBandCss = "#ff9600";
constexpr const char* kCutCss = "#00c8e6";

constexpr const char* kBlue = "#1f5fbf";
constexpr const char* kOrange = "#e07000";
constexpr const char* kRed = "#d01c1c";
constexpr const char* kGrey = "#888888";

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string numbered(const char* stem, int frame, const char* extension) {
    char text[64];
    std::snprintf(text, sizeof text, "%s_%06d.%s", stem, frame, extension);
    return text;
}

float meanOf(const std::vector<float>& values) {
    if (values.empty()) {
        return 0;
    }
    return static_cast<float>(std::accumulate(values.begin(), values.end(), 0.0) /
                              static_cast<double>(values.size()));
}

} // namespace

// --- collecting -----------------------------------------------------------------

RunCollector::RunCollector(RunKind kind, std::vector<RunSetting> settings, int firstFrame,
                           int lastFrame) {
    run.kind = kind;
    run.settings = std::move(settings);
    run.firstFrame = firstFrame;
    run.lastFrame = std::max(firstFrame, lastFrame);
    middleFrame = run.firstFrame + (run.lastFrame - run.firstFrame) / 2;
    const int count = run.lastFrame - run.firstFrame + 1;
    binsPerFrame = std::clamp(kEnvelopeValues / count, kMinBinsPerFrame, kMaxBinsPerFrame);
}

bool RunCollector::isLandmark(int frame) const {
    return frame == run.firstFrame || frame == middleFrame || frame == run.lastFrame;
}

ShownFrame RunCollector::shownFrom(const FramePreview& p) const {
    ShownFrame s;
    s.frame = p.frame;
    s.file = p.file;
    s.path = p.path;
    s.scanSize = p.scanSize;
    s.side = p.side;
    s.bounds = p.bounds;
    s.band = p.band;
    s.filmEdge = p.filmEdge;
    s.cuts = p.cuts;
    s.join = p.join;
    s.score = p.score;
    s.flags = p.flags;
    if (p.join) {
        s.previousSamples = previousSamples;
    }
    s.samples = p.samples;
    return s;
}

void RunCollector::addFrame(const FramePreview& p) {
    if (p.resolution) {
        run.resolution = p.resolution;
    }
    if (p.scanDescription) {
        run.settings.push_back({"Scans as stored (samples used as they are)", *p.scanDescription});
    }
    if (p.advance) {
        run.advance = p.advance;
    }
    FrameNumbers n;
    n.frame = p.frame;
    n.file = p.file;
    n.bounds = p.bounds;
    n.band = p.band;
    n.join = p.join;
    n.standardJoin = p.standardJoin;
    n.preciseJoin = p.preciseJoin;
    n.score = p.score;
    n.correlation = p.correlation;
    n.overlapRms = p.overlapRms;
    n.flags = p.flags;
    n.cuts = static_cast<int>(p.cuts.size());
    n.rows = static_cast<int>(p.samples.size());
    n.meanLevel = p.level ? *p.level : meanOf(p.samples);
    if (!p.samples.empty()) {
        const int bins = std::min(binsPerFrame, n.rows);
        n.low.resize(static_cast<std::size_t>(bins));
        n.high.resize(static_cast<std::size_t>(bins));
        for (int b = 0; b < bins; ++b) {
            const auto from = p.samples.begin() + static_cast<std::ptrdiff_t>(b) * n.rows / bins;
            const auto to = p.samples.begin() + static_cast<std::ptrdiff_t>(b + 1) * n.rows / bins;
            const auto [lo, hi] = std::minmax_element(from, to);
            n.low[static_cast<std::size_t>(b)] = *lo;
            n.high[static_cast<std::size_t>(b)] = *hi;
        }
    }
    run.frames.push_back(std::move(n));

    const bool landmark = isLandmark(p.frame);
    const bool flagged = p.join.has_value() && !p.flags.empty();
    bool keep = landmark;
    if (flagged && !landmark) {
        if (flaggedShown < kMaxFlaggedPictures) {
            keep = true;
            ++flaggedShown;
        } else {
            run.flaggedUnshown.push_back(p.frame);
        }
    }
    latest.reset();
    if (keep) {
        ShownFrame s = shownFrom(p);
        if (p.frame == run.firstFrame) {
            s.reasons.push_back("first frame");
        }
        if (p.frame == middleFrame && middleFrame != run.firstFrame) {
            s.reasons.push_back("middle frame");
        }
        if (p.frame == run.lastFrame && run.lastFrame != run.firstFrame) {
            s.reasons.push_back("last frame");
        }
        run.shown.push_back(std::move(s));
    } else {
        latest = shownFrom(p);
    }
    previousSamples = p.samples;
}

void RunCollector::addPicture(const FramePreview& p, const cv::Mat& picture) {
    if (!run.shown.empty() && run.shown.back().frame == p.frame) {
        run.shown.back().picture = picture.clone();
    } else if (latest && latest->frame == p.frame) {
        latest->picture = picture.clone();
    }
}

void RunCollector::addWarning(const RunWarning& warning) {
    run.warnings.push_back(warning);
}

void RunCollector::addLostFrame(const LostFrame& lost) {
    run.lostFrames.push_back(lost);
}

void RunCollector::finish(RunEnd end) {
    run.ended = true;
    run.end = std::move(end);
    // a run that broke off: its last frame read shows where
    if (latest) {
        latest->reasons.push_back("last frame read");
        run.shown.push_back(std::move(*latest));
        latest.reset();
    }
}

std::size_t RunCollector::picturesHeld() const {
    std::size_t count = latest && !latest->picture.empty() ? 1 : 0;
    for (const ShownFrame& s : run.shown) {
        count += s.picture.empty() ? 0 : 1;
    }
    return count;
}

std::vector<double> joinCorrelation(const std::vector<float>& previous,
                                    const std::vector<float>& current, double join, int reach) {
    std::vector<double> result;
    result.reserve(static_cast<std::size_t>(2 * reach + 1));
    for (int shift = -reach; shift <= reach; ++shift) {
        result.push_back(overlapCorrelation(previous, current, join + shift)
                             .value_or(std::numeric_limits<double>::quiet_NaN()));
    }
    return result;
}

// --- writing --------------------------------------------------------------------

namespace {

// The report folder, made when missing; a link to a folder is followed.
Status folderFor(const fs::path& folder) {
    std::error_code ec;
    const fs::file_status st = fs::status(folder, ec);
    if (fs::exists(st)) {
        if (!fs::is_directory(st)) {
            return Status::failure("Cannot write " + std::string(kWhat) + " to " + folder.string() +
                                   ": it is not a folder");
        }
        return {};
    }
    if (!fs::create_directory(folder, ec) && ec) {
        return Status::failure("Cannot write " + std::string(kWhat) + " to " + folder.string() +
                               ": " + ec.message());
    }
    return {};
}

// A path as the filesystem resolves it, links followed as far as it exists.
fs::path resolvedPath(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec).lexically_normal();
    const fs::path canonical = fs::weakly_canonical(absolute, ec);
    fs::path resolved = ec ? absolute : canonical;
    return resolved.has_filename() ? resolved : resolved.parent_path();
}

// Whether `path` is `folder` or lies inside it; both resolved.
bool isWithin(const fs::path& path, const fs::path& folder) {
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (p == path.end() || *p != *f) {
            return false;
        }
    }
    return true;
}

// The preview picture with what was measured on it: the trim (the rest
// darkened), the soundtrack band and the cut regions.
// Drawn on the picture turned film-across, as the numbers are given, and
// turned back to lie as the scan does.
cv::Mat thumbnail(const ShownFrame& s) {
    cv::Mat pic;
    if (s.picture.channels() == 1) {
        cv::cvtColor(s.picture, pic, cv::COLOR_GRAY2BGR);
    } else {
        pic = s.picture.clone();
    }
    pic = ScanView(pic, s.side).measuredImage();
    const cv::Size scan = measuredSizeOf(s.side, s.scanSize);
    const double sx = scan.width > 0 ? pic.cols / static_cast<double>(scan.width) : 1;
    const double sy = scan.height > 0 ? pic.rows / static_cast<double>(scan.height) : 1;
    const auto col = [&](double x) {
        return std::clamp(static_cast<int>(std::lround(x * sx)), 0, pic.cols);
    };
    const auto row = [&](double y) {
        return std::clamp(static_cast<int>(std::lround(y * sy)), 0, pic.rows);
    };
    const auto blend = [&](const cv::Rect& area, const cv::Scalar& colour, double alpha) {
        const cv::Rect r = area & cv::Rect(0, 0, pic.cols, pic.rows);
        if (r.area() > 0) {
            cv::Mat part = pic(r);
            cv::addWeighted(part, 1 - alpha, cv::Mat(part.size(), part.type(), colour), alpha, 0,
                            part);
        }
    };
    const int left = col(s.bounds.left);
    const int right = col(s.bounds.right + 1);
    const bool trimmed = s.bounds.right > s.bounds.left;
    if (trimmed) {
        blend(cv::Rect(0, 0, left, pic.rows), cv::Scalar::all(0), 0.55);
        blend(cv::Rect(right, 0, pic.cols - right, pic.rows), cv::Scalar::all(0), 0.55);
    }
    if (s.band) {
        const int top = row(s.band->first);
        const int bottom = row(s.band->last + 1);
        const cv::Rect band(trimmed ? left : 0, top,
                            (trimmed ? right : pic.cols) - (trimmed ? left : 0),
                            std::max(1, bottom - top));
        blend(band, kBandBgr, 0.3);
        cv::rectangle(pic, band, kBandBgr, 1, cv::LINE_AA);
    }
    for (const cv::Rect& cut : s.cuts) {
        const cv::Rect r(cv::Point(col(cut.x), row(cut.y)),
                         cv::Point(col(cut.x + cut.width), row(cut.y + cut.height)));
        // an outline only: a tint would read as a colour cast of the picture
        cv::rectangle(pic, r, kCutBgr, 2, cv::LINE_AA);
    }
    if (trimmed) {
        cv::line(pic, {left, 0}, {left, pic.rows - 1}, kTrimBgr, 2, cv::LINE_AA);
        cv::line(pic, {right - 1, 0}, {right - 1, pic.rows - 1}, kTrimBgr, 2, cv::LINE_AA);
    }
    if (s.filmEdge) {
        const int edge = row(*s.filmEdge);
        cv::line(pic, {0, edge}, {pic.cols - 1, edge}, kFilmEdgeBgr, 2, cv::LINE_AA);
    }
    return storedFromMeasured(pic, s.side);
}

// "trim: columns 3 to 1200 of 1250; band: rows 10 to 120", in the file's own
// rows and columns however it lies.
std::string measuresText(const ShownFrame& s) {
    const AcrossFile trim = alongFile(s.side, s.scanSize, s.bounds.left, s.bounds.end());
    const int along = isUpright(s.side) ? s.scanSize.height : s.scanSize.width;
    std::string text = "trim: " + std::string(trim.unit) + "s " + std::to_string(trim.first) +
                       " to " + std::to_string(trim.last) + " of " + std::to_string(along);
    if (s.band) {
        const AcrossFile band = acrossFile(s.side, s.scanSize, s.band->first, s.band->last + 1);
        text += "; band: " + std::string(band.unit) + "s " + std::to_string(band.first) + " to " +
                std::to_string(band.last);
    }
    if (s.filmEdge) {
        const AcrossFile edge = acrossFile(s.side, s.scanSize, *s.filmEdge, *s.filmEdge + 1);
        text += "; film edge: " + std::string(edge.unit) + " " + std::to_string(edge.first);
    }
    return text;
}

// The scan at its full resolution around the soundtrack band: the band and
// as much again either side, across the whole scan, with the frame trim's
// columns and the band drawn as on the thumbnail, turned back to lie as the
// scan does. Empty when the scan cannot be read again or shows no band.
cv::Mat bandCrop(const ShownFrame& s) {
    if (!s.band || s.path.empty()) {
        return {};
    }
    LoadedScan scan = loadScan(s.path);
    if (!scan || scan->size() != s.scanSize) {
        return {};
    }
    const cv::Size measured = measuredSizeOf(s.side, s.scanSize);
    const int width = s.band->last - s.band->first + 1;
    const int top = std::clamp(s.band->first - width, 0, measured.height - 1);
    const int bottom = std::clamp(s.band->last + width, top, measured.height - 1);
    // the measured rows top..bottom as they lie in the file
    const cv::Mat stored =
        (*scan)(storedRectOf(s.side, s.scanSize, {0, top, measured.width, bottom - top + 1}));
    cv::Mat crop;
    if (stored.channels() == 1) {
        cv::cvtColor(stored, crop, cv::COLOR_GRAY2BGR);
    } else {
        crop = stored.clone();
    }
    crop = ScanView(crop, s.side).measuredImage();
    cv::rectangle(crop, cv::Point(s.bounds.left, s.band->first - top),
                  cv::Point(s.bounds.right, s.band->last - top), kBandBgr, 1);
    cv::line(crop, {s.bounds.left, 0}, {s.bounds.left, crop.rows - 1}, kTrimBgr, 1);
    cv::line(crop, {s.bounds.right, 0}, {s.bounds.right, crop.rows - 1}, kTrimBgr, 1);
    return storedFromMeasured(crop, s.side);
}

std::string pairPlot(const ShownFrame& s) {
    const double join = *s.join;
    // the readings that decide the join: each less its slow fall-off
    const OverlapReadings o = overlapReadings(s.previousSamples, s.samples, join);
    SvgPlot plot(620, 230, "rows of frame " + std::to_string(s.frame) + " (from its first row)",
                 "level less its fall-off (8-bit steps)");
    std::vector<PlotPoint> before;
    std::vector<PlotPoint> after;
    for (std::size_t i = 0; i < o.current.size(); ++i) {
        before.push_back({static_cast<double>(i), o.previous[i]});
        after.push_back({static_cast<double>(i), o.current[i]});
    }
    plot.note("solid: frame " + std::to_string(s.frame - 1) + " from its row " +
              format("%.2f", join) + " on;  dashed: frame " + std::to_string(s.frame) +
              " from its first row");
    if (o.current.empty()) {
        plot.note("the frames share too little film at this join");
    }
    std::vector<PlotPoint> all = before;
    all.insert(all.end(), after.begin(), after.end());
    double lo = 0, hi = 1;
    SvgPlot::fit(all, lo, hi, false);
    plot.setY(lo, hi);
    plot.setX(0, std::max(1.0, static_cast<double>(o.current.size())));
    plot.line(before, kBlue, 1.6);
    plot.line(after, kOrange, 1.6, true);
    return plot.svg();
}

std::string correlationPlot(const std::vector<double>& r) {
    SvgPlot plot(300, 230, "shift from the join found (rows)", "correlation");
    std::vector<PlotPoint> points;
    double lo = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        points.push_back({static_cast<double>(i) - kCorrelationReach, r[i]});
        if (std::isfinite(r[i])) {
            lo = std::min(lo, r[i]);
        }
    }
    plot.setX(-kCorrelationReach, kCorrelationReach);
    plot.setY(std::max(-1.0, lo - 0.05), 1.0);
    plot.horizontalMark(0, kGrey, false);
    plot.verticalMark(0, kRed);
    plot.line(points, kBlue, 1.6);
    plot.dots(points, kBlue, 2.2);
    return plot.svg();
}

std::string joinsPlot(const RunRecord& run) {
    SvgPlot plot(1100, 280, "frame", "join (rows of the previous frame)");
    std::vector<PlotPoint> all, flagged, fine;
    for (const FrameNumbers& n : run.frames) {
        if (!n.join) {
            continue;
        }
        const PlotPoint p{static_cast<double>(n.frame), *n.join};
        all.push_back(p);
        (n.flags.empty() ? fine : flagged).push_back(p);
    }
    std::vector<PlotPoint> span = all;
    if (run.advance) {
        // the frame pitch and the band either side of it where joins pass
        span.push_back({0, *run.advance - offPitchTolerance(*run.advance)});
        span.push_back({0, *run.advance + offPitchTolerance(*run.advance)});
    }
    double lo = 0, hi = 1;
    SvgPlot::fit(span, lo, hi, false);
    plot.setY(lo - 1, hi + 1);
    plot.setX(run.firstFrame, std::max(run.lastFrame, run.firstFrame + 1));
    if (run.advance) {
        plot.horizontalMark(*run.advance, kGrey);
        plot.horizontalMark(*run.advance - offPitchTolerance(*run.advance), kGrey, false);
        plot.horizontalMark(*run.advance + offPitchTolerance(*run.advance), kGrey, false);
    }
    plot.line(all, "#9db6de", 1.0);
    const double radius = all.size() > 400 ? 1.6 : 2.6;
    plot.dots(fine, kBlue, radius);
    plot.dots(flagged, kRed, radius + 1);
    return plot.svg();
}

std::string levelsPlot(const RunRecord& run) {
    SvgPlot plot(1100, 240, "frame", "mean brightness of the band (8-bit steps)");
    std::vector<PlotPoint> points;
    for (const FrameNumbers& n : run.frames) {
        if (n.rows > 0) {
            points.push_back({static_cast<double>(n.frame), n.meanLevel});
        }
    }
    double lo = 0, hi = 1;
    SvgPlot::fit(points, lo, hi, false);
    // a level steady to a fraction of a step is drawn as a flat line, not as
    // a jagged one magnified out of rounding noise
    if (hi - lo < kLeastLevelSpan) {
        const double middle = (lo + hi) / 2;
        lo = middle - kLeastLevelSpan / 2;
        hi = middle + kLeastLevelSpan / 2;
    }
    plot.setY(lo, hi);
    plot.setX(run.firstFrame, std::max(run.lastFrame, run.firstFrame + 1));
    plot.line(points, kBlue, 1.4);
    if (points.size() <= 200) {
        plot.dots(points, kBlue, 2.2);
    }
    return plot.svg();
}

// Where each frame starts in the sound, in rows of the film from the first
// frame's row 0, and the rows of the whole sound: the joins added up.
struct FrameStarts {
    std::vector<std::pair<int, double>> starts; // frame, row
    double rows = 0;
};

FrameStarts frameStarts(const RunRecord& run) {
    FrameStarts f;
    double at = 0;
    for (std::size_t k = 0; k < run.frames.size(); ++k) {
        const FrameNumbers& n = run.frames[k];
        if (k > 0) {
            at += n.join.value_or(run.frames[k - 1].rows);
        }
        f.starts.emplace_back(n.frame, at);
        f.rows = at + n.rows;
    }
    return f;
}

// The delivered sound's lowest and highest sample of each stretch over its
// time, in the file's units, with a mark where each flagged join lies.
std::string waveformPlot(const RunRecord& run, const DeliveredSound& sound) {
    const double seconds = static_cast<double>(sound.samples) / std::max(1, sound.sampleRate);
    const std::string unit = sound.bits == 8
                                 ? "8-bit sample value (0 to 255; silence 128)"
                                 : std::to_string(sound.bits) + "-bit sample value (silence 0)";
    SvgPlot plot(1100, 260, "time (seconds)", unit);
    std::vector<double> xs;
    const auto count = static_cast<double>(sound.low.size());
    for (std::size_t c = 0; c < sound.low.size(); ++c) {
        xs.push_back((static_cast<double>(c) + 0.5) * seconds / count);
    }
    const double centre = sound.bits == 8 ? 128 : 0;
    plot.setX(0, std::max(seconds, 1e-3));
    plot.setY(centre - sound.fullScale, centre + sound.fullScale - (sound.bits == 8 ? 1 : 0));
    plot.horizontalMark(centre, kGrey, false);
    const FrameStarts starts = frameStarts(run);
    for (std::size_t k = 0; k < run.frames.size(); ++k) {
        if (run.frames[k].join && !run.frames[k].flags.empty() && starts.rows > 0) {
            plot.verticalMark(starts.starts[k].second / starts.rows * seconds, kRed, false);
        }
    }
    plot.envelope(xs, sound.low, sound.high, kBlue);
    return plot.svg();
}

std::string trimPlot(const RunRecord& run) {
    SvgPlot plot(1100, 220, "frame", "scan column");
    plot.note("lower line: the first column kept;  upper line: the last");
    std::vector<PlotPoint> left, right, all;
    for (const FrameNumbers& n : run.frames) {
        left.push_back({static_cast<double>(n.frame), static_cast<double>(n.bounds.left)});
        right.push_back({static_cast<double>(n.frame), static_cast<double>(n.bounds.right)});
    }
    all = left;
    all.insert(all.end(), right.begin(), right.end());
    double lo = 0, hi = 1;
    SvgPlot::fit(all, lo, hi, false);
    plot.setY(std::min(0.0, lo), hi);
    plot.setX(run.firstFrame, std::max(run.lastFrame, run.firstFrame + 1));
    plot.line(left, kTrimCss, 1.6);
    plot.line(right, "#1c7c1c", 1.6);
    return plot.svg();
}

const char* kStyle =
    R"(body { font-family: "DejaVu Sans", Arial, sans-serif; margin: 24px; color: #222; background: #fafafa; max-width: 1180px; }
h1 { font-size: 24px; margin-bottom: 4px; }
h2 { font-size: 18px; margin-top: 32px; border-bottom: 1px solid #ccc; padding-bottom: 4px; }
h3 { font-size: 14px; margin: 4px 0; }
p.end { padding: 8px 12px; border-radius: 4px; }
p.ok { background: #e3f4e3; border: 1px solid #7ac27a; }
p.failed { background: #fbe3e3; border: 1px solid #d27a7a; }
table.settings { border-collapse: collapse; }
table.settings td { border-bottom: 1px solid #e2e2e2; padding: 3px 14px 3px 0; vertical-align: top; }
table.settings td.label { color: #555; }
div.frames { overflow: hidden; }
div.frame { float: left; width: 360px; margin: 0 12px 12px 0; background: #fff; border: 1px solid #ddd; padding: 6px; }
div.frame img { display: block; }
div.frame p { margin: 6px 0 0 0; font-size: 12px; }
span.tag { display: inline-block; padding: 0 6px; margin-right: 4px; border-radius: 3px; color: #fff; font-size: 11px; }
span.flagged { background: #d01c1c; }
div.warning { padding: 8px 12px; border-radius: 4px; background: #fff3d6; border: 1px solid #d9a441; margin: 6px 0; }
span.plain { background: #777; }
span.swatch { display: inline-block; width: 14px; height: 10px; margin: 0 4px 0 12px; border: 1px solid #666; }
div.pair { background: #fff; border: 1px solid #ddd; padding: 8px; margin-bottom: 14px; }
div.pair img { vertical-align: top; margin-right: 8px; }
div.pair p { margin: 4px 0; font-size: 12px; }
img.plot { display: block; background: #fff; border: 1px solid #ddd; }
p.note { font-size: 12px; color: #555; }
)";

std::string tags(const ShownFrame& s) {
    std::string out;
    for (const std::string& reason : s.reasons) {
        out += "<span class=\"tag plain\">" + escapeMarkup(reason) + "</span>";
    }
    // the join's flags, as report.json names them, the reason on hovering
    for (const JoinFlag& flag : s.flags) {
        out += "<span class=\"tag flagged\" title=\"" + escapeMarkup(flag.reason) + "\">" +
               escapeMarkup(joinFlagName(flag.kind)) + "</span>";
    }
    return out;
}

std::string joinText(const ShownFrame& s) {
    if (!s.join) {
        return "";
    }
    std::string text =
        "joins frame " + std::to_string(s.frame - 1) + " at its row " + format("%.2f", *s.join);
    if (s.score) {
        text += " (score " + format("%.2f", *s.score) + ")";
    }
    return text;
}

std::string image(const std::string& source, const std::string& alt, int width, int height,
                  const char* cls = nullptr) {
    std::string out = "<img src=\"" + escapeMarkup(source) + "\" alt=\"" + escapeMarkup(alt) + "\"";
    if (cls != nullptr) {
        out += " class=\"" + std::string(cls) + "\"";
    }
    return out + " width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) +
           "\">";
}

std::string runTitle(RunKind kind) {
    return kind == RunKind::Soundtrack ? "soundtrack" : "film";
}

struct PendingWrite {
    std::string name; // inside report_files
    std::string bytes;
};

const std::string kFilesRef = std::string(kReportFiles) + "/";

// What the page says of the whole run, counted once.
struct RunSummary {
    bool soundtrack = false;
    bool anySound = false;
    bool anyJoin = false;
    int joins = 0;
    int flagged = 0;
};

RunSummary summarise(const RunRecord& run) {
    RunSummary sum;
    sum.soundtrack = run.kind == RunKind::Soundtrack;
    for (const FrameNumbers& n : run.frames) {
        sum.anySound = sum.anySound || n.rows > 0;
        sum.anyJoin = sum.anyJoin || n.join.has_value();
        sum.joins += n.join ? 1 : 0;
        sum.flagged += n.join && !n.flags.empty() ? 1 : 0;
    }
    return sum;
}

std::string anchor(int frame) {
    return numbered("join", frame, "pair");
}

std::string headSection(const RunRecord& run, const RunSummary& sum) {
    std::string html = "<h1>Veltrana run report: " + runTitle(run.kind) + "</h1>\n";
    if (run.end.succeeded) {
        html += "<p class=\"end ok\">The run finished. " + escapeMarkup(run.end.ending) + "</p>\n";
    } else {
        html += "<p class=\"end failed\">The run did not finish: " + escapeMarkup(run.end.ending) +
                "</p>\n";
    }
    html += "<p>Frames " + std::to_string(run.firstFrame) + " to " + std::to_string(run.lastFrame) +
            " were asked for; " + std::to_string(run.frames.size()) + " read";
    if (!run.frames.empty()) {
        html += " (" + std::to_string(run.frames.front().frame) + " to " +
                std::to_string(run.frames.back().frame) + ")";
    }
    html += ". Resolution found: ";
    html += run.resolution ? std::to_string(run.resolution->dpiX) + " dpi across the film, " +
                                 std::to_string(run.resolution->dpiY) + " dpi along it"
                           : std::string("none");
    html += ".";
    if (sum.soundtrack && sum.anyJoin) {
        html += " Joins flagged: " + std::to_string(sum.flagged) + " of " +
                std::to_string(sum.joins) + ".";
    }
    html += "</p>\n";
    for (const RunWarning& w : run.warnings) {
        html += "<div class=\"warning\"><b>Warning:</b> " + escapeMarkup(w.reason) + "</div>\n";
    }
    return html;
}

// Scans that could not be read in a run that went on past them.
std::string lostFramesSection(const RunRecord& run) {
    if (run.lostFrames.empty()) {
        return {};
    }
    std::string html = "<h2>Frames lost</h2>\n<p class=\"note\">These scans could not be read. "
                       "Each frame's place holds silence, one frame pitch long, and the joins "
                       "beside it were not searched: they lie at the frame pitch.</p>\n"
                       "<table class=\"settings\">\n<tr><th>Frame</th><th>File</th><th>Why"
                       "</th><th>Joins not searched</th></tr>\n";
    for (const LostFrame& f : run.lostFrames) {
        std::string joins;
        for (const int j : f.joinsNotSearched) {
            joins += (joins.empty() ? "" : ", ") + std::to_string(j);
        }
        html += "<tr><td>" + std::to_string(f.frame) + "</td><td>" + escapeMarkup(f.file) +
                "</td><td>" + escapeMarkup(f.cause) + "</td><td>" + joins + "</td></tr>\n";
    }
    return html + "</table>\n";
}

std::string settingsSection(const RunRecord& run) {
    std::string html = "<h2>Settings</h2>\n<table class=\"settings\">\n";
    for (const RunSetting& s : run.settings) {
        html += "<tr><td class=\"label\">" + escapeMarkup(s.label) + "</td><td>" +
                escapeMarkup(s.value) + "</td></tr>\n";
    }
    return html + "</table>\n";
}

Result<std::string> framesSection(const RunRecord& run, const RunSummary& sum,
                                  std::vector<PendingWrite>& writes) {
    std::string html =
        "<h2>Frames worth a look</h2>\n<p class=\"note\">The first, middle and last frames";
    html += sum.soundtrack ? " and every frame whose join is flagged, " : ", ";
    html += "as scanned, with what was measured on them:<span class=\"swatch\" "
            "style=\"background: " +
            std::string(kTrimCss) + "\"></span>the frame trim (outside it darkened)";
    html += sum.soundtrack ? "<span class=\"swatch\" style=\"background: " + std::string(kBandCss) +
                                 "\"></span>the soundtrack band read as sound (and a full-aperture "
                                 "scan's film edge in light blue)"
                           : "<span class=\"swatch\" style=\"background: " + std::string(kCutCss) +
                                 "\"></span>the regions cut into movie frames";
    html += ". Beneath a picture, a link opens the band and the frame edges as scanned, at "
            "full resolution.</p>\n<div class=\"frames\">\n";
    for (const ShownFrame& s : run.shown) {
        html += "<div class=\"frame\">";
        if (!s.picture.empty()) {
            const cv::Mat thumb = thumbnail(s);
            std::vector<unsigned char> png;
            if (!cv::imencode(".png", thumb, png)) {
                return Status::failure("Cannot write " + std::string(kWhat) +
                                       ": the picture of frame " + std::to_string(s.frame) +
                                       " cannot be encoded as PNG");
            }
            const std::string name = numbered("frame", s.frame, "png");
            writes.push_back({name, std::string(png.begin(), png.end())});
            // three to a row; the link opens the picture at its full size
            const int shownWidth = std::min(thumb.cols, kThumbnailWidth);
            const int shownHeight = static_cast<int>(
                std::lround(thumb.rows * shownWidth / static_cast<double>(thumb.cols)));
            html += image(kFilesRef + name, "Frame " + std::to_string(s.frame), shownWidth,
                          shownHeight);
            const cv::Mat crop = bandCrop(s);
            std::vector<unsigned char> cropPng;
            if (!crop.empty() && cv::imencode(".png", crop, cropPng)) {
                const std::string cropName = numbered("band", s.frame, "png");
                writes.push_back({cropName, std::string(cropPng.begin(), cropPng.end())});
                html += "<a href=\"" + escapeMarkup(kFilesRef + cropName) +
                        "\">The band and the frame edges at full resolution</a>";
            }
        } else {
            html += "<p>No picture of this frame came from the run.</p>";
        }
        html += "<p><b>Frame " + std::to_string(s.frame) + "</b> " + escapeMarkup(s.file) + "<br>" +
                tags(s) + "<br>" + measuresText(s);
        if (!s.cuts.empty()) {
            html += "; " + std::to_string(s.cuts.size()) + " cut region" +
                    (s.cuts.size() == 1 ? "" : "s");
        }
        if (s.join && sum.soundtrack) {
            html += "<br><a href=\"#" + anchor(s.frame) + "\">" + joinText(s) + "</a>";
        }
        html += "</p></div>\n";
    }
    html += "</div>\n";
    if (!run.flaggedUnshown.empty()) {
        html += "<p class=\"note\">Also flagged, not pictured here (only the first " +
                std::to_string(kMaxFlaggedPictures) + " are): frames";
        for (std::size_t i = 0; i < run.flaggedUnshown.size(); ++i) {
            html += (i == 0 ? " " : ", ") + std::to_string(run.flaggedUnshown[i]);
        }
        html += ".</p>\n";
    }
    return html;
}

std::string pairsSection(const RunRecord& run, std::vector<PendingWrite>& writes) {
    std::string html =
        "<h2>The joins of these frames</h2>\n<p class=\"note\">Each frame's reading of the "
        "film from its first row (dashed) drawn over the previous frame's reading from the "
        "join used on (solid), each less the slow fall-off of the light over the film they "
        "share: the readings the join is judged by. At a right join the two lie on top of "
        "each other, and their correlation, beside, peaks at shift 0 (the red line).</p>\n";
    for (const ShownFrame& s : run.shown) {
        if (!s.join) {
            continue;
        }
        const std::string pairName = numbered("join", s.frame, "svg");
        const std::string corrName = numbered("correlation", s.frame, "svg");
        const std::vector<double> r =
            joinCorrelation(s.previousSamples, s.samples, *s.join, kCorrelationReach);
        writes.push_back({pairName, pairPlot(s)});
        writes.push_back({corrName, correlationPlot(r)});
        const double atJoin = r[static_cast<std::size_t>(kCorrelationReach)];
        int best = -1;
        for (std::size_t i = 0; i < r.size(); ++i) {
            if (std::isfinite(r[i]) && (best < 0 || r[i] > r[static_cast<std::size_t>(best)])) {
                best = static_cast<int>(i);
            }
        }
        html += "<div class=\"pair\" id=\"" + anchor(s.frame) + "\"><h3>Frame " +
                std::to_string(s.frame) + " " + escapeMarkup(joinText(s)) + " " + tags(s) + "</h3>";
        html +=
            image(kFilesRef + pairName,
                  "Frame " + std::to_string(s.frame) + " over frame " + std::to_string(s.frame - 1),
                  620, 230);
        html += image(kFilesRef + corrName, "Correlation around the join", 300, 230);
        html += "<p>Correlation at the join found: ";
        html += std::isfinite(atJoin) ? format("%.3f", atJoin)
                                      : std::string("none (too little overlap)");
        if (best >= 0) {
            html += "; highest " + format("%.3f", r[static_cast<std::size_t>(best)]) +
                    " at shift " + format("%+.0f", best - kCorrelationReach) + " rows";
        }
        html += ".</p>";
        for (const JoinFlag& flag : s.flags) {
            html += "<p>Flagged " + escapeMarkup(joinFlagName(flag.kind)) + ": " +
                    escapeMarkup(flag.reason) + ".</p>";
        }
        html += "</div>\n";
    }
    return html;
}

// A link from the report folder to a file the run wrote.
std::string linkTo(const fs::path& file, const fs::path& dir) {
    std::error_code ec;
    fs::path relative = fs::relative(file, fs::absolute(dir, ec), ec);
    if (ec || relative.empty()) {
        relative = fs::absolute(file, ec);
    }
    return "<a href=\"" + escapeMarkup(relative.generic_string()) + "\">" +
           escapeMarkup(file.filename().string()) + "</a>";
}

std::string joinsSection(const RunRecord& run, const fs::path& dir,
                         std::vector<PendingWrite>& writes) {
    writes.push_back({"joins.svg", joinsPlot(run)});
    std::string html =
        "<h2>Join positions</h2>\n" +
        image(kFilesRef + "joins.svg", "Join positions over the frames", 1100, 280, "plot") +
        "\n<p class=\"note\">Where each frame joins the previous one, in rows of the "
        "previous frame; the dashed line is the frame pitch that the resolution gives, the "
        "solid grey lines how far either side a join may lie. <span style=\"color: " +
        std::string(kRed) + "\">&#9679;</span> flagged. " + escapeMarkup(joinRuleText()) +
        " report.json lists every join with its flags and their reasons.";
    for (const fs::path& out : run.end.outputs) {
        if (out.filename() == "joins.csv") {
            html += " Every join, standard and precise, with its score: " + linkTo(out, dir) + ".";
        }
    }
    return html + "</p>\n";
}

std::string waveformSection(const RunRecord& run, std::vector<PendingWrite>& writes) {
    if (run.end.sound.empty()) {
        return "<h2>Waveform overview</h2>\n<p class=\"note\">No sound was written.</p>\n";
    }
    const Result<DeliveredSound> sound = readDeliveredSound(run.end.sound, kWaveformStretches);
    if (!sound) {
        return "<h2>Waveform overview</h2>\n<p class=\"note\">" + escapeMarkup(sound.message()) +
               "</p>\n";
    }
    writes.push_back({"waveform.svg", waveformPlot(run, *sound)});
    return "<h2>Waveform overview</h2>\n" +
           image(kFilesRef + "waveform.svg", "Waveform overview", 1100, 260, "plot") +
           "\n<p class=\"note\">The sound as delivered in " +
           escapeMarkup(run.end.sound.filename().string()) + " (" + std::to_string(sound->bits) +
           " bits at " + std::to_string(sound->sampleRate) +
           " Hz), read back from the file written; the lowest and highest sample of each stretch, "
           "in "
           "the file's units over its full scale; flagged joins are marked in red.</p>\n";
}

std::string levelsSection(const RunRecord& run, std::vector<PendingWrite>& writes) {
    writes.push_back({"levels.svg", levelsPlot(run)});
    std::string html = "<h2>Mean level per frame</h2>\n" +
                       image(kFilesRef + "levels.svg", "Mean level per frame", 1100, 240, "plot") +
                       "\n";
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -lowest;
    for (const FrameNumbers& n : run.frames) {
        if (n.rows > 0) {
            lowest = std::min(lowest, n.meanLevel);
            highest = std::max(highest, n.meanLevel);
        }
    }
    if (highest - lowest < 0.01) {
        html += "<p class=\"note\">Every frame has the same mean level, " +
                format("%.1f", (lowest + highest) / 2) + ".</p>\n";
    }
    return html;
}

std::string trimSection(const RunRecord& run, std::vector<PendingWrite>& writes) {
    writes.push_back({"trim.svg", trimPlot(run)});
    return "<h2>Frame trim</h2>\n" +
           image(kFilesRef + "trim.svg", "Frame trim over the frames", 1100, 220, "plot") +
           "\n<p class=\"note\">The scan columns each frame was trimmed to: steady lines "
           "mean the trim found the frame lines alike on every scan.</p>\n";
}

// The page or the data beside it, written under a temporary name.
Result<PendingFile> pendingPage(const fs::path& path, const std::string& bytes) {
    Result<OutputTarget> target = sideFileTarget(path, kWhat);
    if (!target) {
        return target.status();
    }
    Result<PendingFile> page = PendingFile::create(*target, kWhat);
    if (!page) {
        return page.status();
    }
    if (Status written = page->write(bytes); !written) {
        return written;
    }
    return page;
}

// The old report.json kept under a temporary name (a second link to it)
// until the new page is in place, so that a failure can put it back.
class KeptData {
public:
    explicit KeptData(const fs::path& data) : data(data) {
        std::error_code ec;
        if (fs::is_regular_file(fs::symlink_status(data, ec))) {
            const fs::path name = data.parent_path() / temporaryName();
            fs::create_hard_link(data, name, ec);
            if (!ec) {
                kept = name;
            }
        }
    }
    KeptData(const KeptData&) = delete;
    KeptData& operator=(const KeptData&) = delete;
    ~KeptData() {
        std::error_code ec;
        if (!kept.empty()) {
            fs::remove(kept, ec);
        }
    }
    // Puts the old data back, or removes the new when there was none.
    void restore() {
        std::error_code ec;
        if (!kept.empty()) {
            fs::rename(kept, data, ec);
            kept.clear();
        } else {
            fs::remove(data, ec);
        }
    }

private:
    fs::path data;
    fs::path kept;
};

// Puts the new report in place of the old one: the pictures into a new
// report_files/ swapped with the old one, then report.json, then the page,
// then the old pictures removed. A failure on the way puts the old ones back.
Status replaceReport(const fs::path& dir, const std::vector<PendingWrite>& writes,
                     const std::string& html, const std::string& json) {
    Result<FolderSwap> files = FolderSwap::create(dir / kReportFiles, kWhat);
    if (!files) {
        return files.status();
    }
    for (const PendingWrite& w : writes) {
        if (Status written = files->write(w.name, w.bytes); !written) {
            return written;
        }
    }
    Result<PendingFile> data = pendingPage(dir / kReportData, json);
    if (!data) {
        return data.status();
    }
    Result<PendingFile> page = pendingPage(dir / kReportPage, html);
    if (!page) {
        return page.status();
    }
    if (Status swapped = files->swapIn(); !swapped) {
        return swapped;
    }
    KeptData oldData(dir / kReportData);
    if (Status committed = data->commit(); !committed) {
        files->swapBack();
        return committed;
    }
    // the page last, so that it never links to a picture not yet there
    if (Status committed = page->commit(); !committed) {
        oldData.restore();
        files->swapBack();
        return committed;
    }
    files->removeOld();
    return {};
}

} // namespace

Status writeRunReport(const RunRecord& run, const fs::path& dir) {
    if (Status made = folderFor(dir); !made) {
        return made;
    }
    const RunSummary sum = summarise(run);
    std::vector<PendingWrite> writes;
    Result<std::string> frames = framesSection(run, sum, writes);
    if (!frames) {
        return frames.status();
    }
    // the overview first, then the frames and joins worth a look
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>Veltrana run report: " +
                       runTitle(run.kind) + "</title>\n<style type=\"text/css\">\n" + kStyle +
                       "</style>\n</head>\n<body>\n";
    html += headSection(run, sum);
    html += lostFramesSection(run);
    html += settingsSection(run);
    const bool joins = sum.soundtrack && sum.anyJoin;
    const bool sound = sum.soundtrack && sum.anySound;
    if (joins) {
        html += joinsSection(run, dir, writes);
    }
    if (sound) {
        html += waveformSection(run, writes);
    }
    html += *frames;
    if (joins) {
        html += pairsSection(run, writes);
    }
    if (sound) {
        html += levelsSection(run, writes);
    }
    if (!run.frames.empty()) {
        html += trimSection(run, writes);
    }
    html += "</body>\n</html>\n";

    return replaceReport(dir, writes, html, reportJson(run));
}

Status checkOutputOutsideReport(const fs::path& output, const fs::path& dir,
                                std::string_view what) {
    const fs::path report = resolvedPath(dir);
    const fs::path out = resolvedPath(output);
    const bool page = out == report / kReportPage || out == report / kReportData;
    if (!page && !isWithin(out, report / kReportFiles)) {
        return {};
    }
    return Status::failure("Cannot write " + std::string(what) + " to " + output.string() +
                           ": the run report written to " + dir.string() + " replaces " +
                           (page ? "its page there" : "its folder of pictures"));
}

Status checkScansOutsideReport(const fs::path& scansFolder, const fs::path& dir) {
    if (!isWithin(resolvedPath(scansFolder), resolvedPath(dir) / kReportFiles)) {
        return {};
    }
    return Status::failure("Cannot write " + std::string(kWhat) + " to " + dir.string() +
                           ": the scans lie in its folder of pictures, which the report "
                           "replaces");
}

} // namespace veltrana
