#include "report/run_report.h"

#include "job/safe_file.h"
#include "report/svg_plot.h"

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

// Shifts either side of the join found that the correlation plot covers.
constexpr int kCorrelationReach = 12;
// Fewer overlapping rows than this say nothing about a join.
constexpr int kMinOverlapRows = 16;

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

// previous[] between rows, linearly; `at` within 0..size-1.
double between(const std::vector<float>& values, double at) {
    const auto k = static_cast<std::size_t>(std::floor(at));
    const double f = at - static_cast<double>(k);
    if (k + 1 >= values.size() || f == 0) {
        return values[k];
    }
    return values[k] * (1 - f) + values[k + 1] * f;
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
    s.scanSize = p.scanSize;
    s.side = p.side;
    s.bounds = p.bounds;
    s.band = p.band;
    s.filmEdge = p.filmEdge;
    s.cuts = p.cuts;
    s.join = p.join;
    s.score = p.score;
    s.weak = p.weak;
    s.outlying = p.outlying;
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
    FrameNumbers n;
    n.frame = p.frame;
    n.bounds = p.bounds;
    n.band = p.band;
    n.join = p.join;
    n.score = p.score;
    n.weak = p.weak;
    n.outlying = p.outlying;
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
    const bool flagged = p.join.has_value() && (p.weak || p.outlying);
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
        if (p.join && p.weak) {
            s.reasons.push_back("weak join");
        }
        if (p.join && p.outlying) {
            s.reasons.push_back("outlying join");
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

void RunCollector::finish(bool succeeded, std::string ending) {
    run.ended = true;
    run.succeeded = succeeded;
    run.ending = std::move(ending);
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
    const double last = static_cast<double>(previous.size()) - 1;
    for (int shift = -reach; shift <= reach; ++shift) {
        const double at = join + shift;
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        int count = 0;
        for (std::size_t i = 0; i < current.size(); ++i) {
            const double p = at + static_cast<double>(i);
            if (p < 0) {
                continue;
            }
            if (p > last) {
                break;
            }
            const double x = between(previous, p);
            const double y = current[i];
            sx += x;
            sy += y;
            sxx += x * x;
            syy += y * y;
            sxy += x * y;
            ++count;
        }
        double r = std::numeric_limits<double>::quiet_NaN();
        if (count >= kMinOverlapRows) {
            const double vx = sxx - sx * sx / count;
            const double vy = syy - sy * sy / count;
            if (vx > 1e-9 && vy > 1e-9) {
                r = (sxy - sx * sy / count) / std::sqrt(vx * vy);
            }
        }
        result.push_back(r);
    }
    return result;
}

// --- writing --------------------------------------------------------------------

namespace {

Status folderFor(const fs::path& folder, bool mayBeLink) {
    std::error_code ec;
    const fs::file_status st = mayBeLink ? fs::status(folder, ec) : fs::symlink_status(folder, ec);
    if (fs::exists(st)) {
        if (fs::is_symlink(st)) {
            return Status::failure("Cannot write " + std::string(kWhat) + " to " + folder.string() +
                                   ": it is a link, not a folder");
        }
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

std::string pairPlot(const ShownFrame& s) {
    const std::vector<float>& prev = s.previousSamples;
    const std::vector<float>& cur = s.samples;
    const double join = *s.join;
    const double overlap =
        std::min(static_cast<double>(prev.size()) - join, static_cast<double>(cur.size()));
    SvgPlot plot(620, 230, "rows of frame " + std::to_string(s.frame) + " (from its first row)",
                 "level less its mean");
    std::vector<PlotPoint> before;
    std::vector<PlotPoint> after;
    if (overlap > 1) {
        const auto first = static_cast<std::size_t>(std::max(0.0, std::ceil(join)));
        double sum = 0;
        for (std::size_t i = first; i < prev.size(); ++i) {
            sum += prev[i];
        }
        const double prevMean =
            sum / static_cast<double>(std::max<std::size_t>(1, prev.size() - first));
        const auto count = static_cast<std::size_t>(std::floor(overlap));
        double curMean = 0;
        for (std::size_t i = 0; i < count; ++i) {
            curMean += cur[i];
        }
        curMean /= static_cast<double>(std::max<std::size_t>(1, count));
        for (std::size_t i = first; i < prev.size(); ++i) {
            before.push_back({static_cast<double>(i) - join, prev[i] - prevMean});
        }
        for (std::size_t i = 0; i < count; ++i) {
            after.push_back({static_cast<double>(i), cur[i] - curMean});
        }
    }
    plot.note("solid: frame " + std::to_string(s.frame - 1) + " from its row " +
              format("%.2f", join) + " on;  dashed: frame " + std::to_string(s.frame) +
              " from its first row");
    if (overlap <= 1) {
        plot.note("the frames do not overlap at this join");
    }
    std::vector<PlotPoint> all = before;
    all.insert(all.end(), after.begin(), after.end());
    double lo = 0, hi = 1;
    SvgPlot::fit(all, lo, hi, false);
    plot.setY(lo, hi);
    plot.setX(0, std::max(1.0, overlap));
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
    std::vector<PlotPoint> all, weak, outlying, fine;
    std::vector<double> joins;
    for (const FrameNumbers& n : run.frames) {
        if (!n.join) {
            continue;
        }
        const PlotPoint p{static_cast<double>(n.frame), *n.join};
        all.push_back(p);
        joins.push_back(*n.join);
        (n.outlying ? outlying : n.weak ? weak : fine).push_back(p);
    }
    double lo = 0, hi = 1;
    SvgPlot::fit(all, lo, hi, false);
    plot.setY(lo - 1, hi + 1);
    plot.setX(run.firstFrame, std::max(run.lastFrame, run.firstFrame + 1));
    if (!joins.empty()) {
        std::nth_element(joins.begin(),
                         joins.begin() + static_cast<std::ptrdiff_t>(joins.size() / 2),
                         joins.end());
        plot.horizontalMark(joins[joins.size() / 2], kGrey);
    }
    plot.line(all, "#9db6de", 1.0);
    const double radius = all.size() > 400 ? 1.6 : 2.6;
    plot.dots(fine, kBlue, radius);
    plot.dots(weak, kOrange, radius + 1);
    plot.dots(outlying, kRed, radius + 1);
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

// The frames' envelopes laid end to end, each frame's part up to where the
// next frame joins it; frame k spans k..k+1 on the x axis.
std::string waveformPlot(const RunRecord& run) {
    constexpr int kWidth = 1100;
    constexpr int kColumns = 1000;
    SvgPlot plot(kWidth, 260, "frame (each from its first row to where the next one joins it)",
                 "sample");
    const double x0 = run.frames.front().frame;
    const double x1 = run.frames.back().frame + 1;
    std::vector<double> lows(kColumns, std::numeric_limits<double>::infinity());
    std::vector<double> highs(kColumns, -std::numeric_limits<double>::infinity());
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (std::size_t k = 0; k < run.frames.size(); ++k) {
        const FrameNumbers& n = run.frames[k];
        if (n.rows == 0) {
            continue;
        }
        double used = n.rows;
        if (k + 1 < run.frames.size() && run.frames[k + 1].join) {
            used = std::clamp(*run.frames[k + 1].join, 1.0, static_cast<double>(n.rows));
        }
        const int bins = static_cast<int>(n.low.size());
        for (int b = 0; b < bins; ++b) {
            const double start = static_cast<double>(b) * n.rows / bins;
            if (start >= used) {
                break;
            }
            const double end = std::min(used, static_cast<double>(b + 1) * n.rows / bins);
            const double xa = n.frame + start / used;
            const double xb = n.frame + end / used;
            const int ca =
                std::clamp(static_cast<int>((xa - x0) / (x1 - x0) * kColumns), 0, kColumns - 1);
            const int cb =
                std::clamp(static_cast<int>(std::ceil((xb - x0) / (x1 - x0) * kColumns)) - 1, ca,
                           kColumns - 1);
            const double l = n.low[static_cast<std::size_t>(b)];
            const double h = n.high[static_cast<std::size_t>(b)];
            for (int c = ca; c <= cb; ++c) {
                lows[static_cast<std::size_t>(c)] = std::min(lows[static_cast<std::size_t>(c)], l);
                highs[static_cast<std::size_t>(c)] =
                    std::max(highs[static_cast<std::size_t>(c)], h);
            }
            lo = std::min(lo, l);
            hi = std::max(hi, h);
        }
    }
    std::vector<double> xs, ls, hs;
    for (int c = 0; c < kColumns; ++c) {
        if (std::isfinite(lows[static_cast<std::size_t>(c)])) {
            xs.push_back(x0 + (c + 0.5) * (x1 - x0) / kColumns);
            ls.push_back(lows[static_cast<std::size_t>(c)]);
            hs.push_back(highs[static_cast<std::size_t>(c)]);
        }
    }
    plot.setX(x0, x1);
    if (std::isfinite(lo)) {
        const double pad = (hi - lo) * 0.05;
        plot.setY(lo - pad, hi + pad);
    }
    for (const FrameNumbers& n : run.frames) {
        if (n.join && (n.weak || n.outlying)) {
            plot.verticalMark(n.frame, n.outlying ? kRed : kOrange, false);
        }
    }
    plot.envelope(xs, ls, hs, kBlue);
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
span.weak { background: #e07000; }
span.outlying { background: #d01c1c; }
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
        const char* kind = reason == "weak join"       ? "weak"
                           : reason == "outlying join" ? "outlying"
                                                       : "plain";
        out += "<span class=\"tag " + std::string(kind) + "\">" + escapeMarkup(reason) + "</span>";
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
    int weak = 0;
    int outlying = 0;
};

RunSummary summarise(const RunRecord& run) {
    RunSummary sum;
    sum.soundtrack = run.kind == RunKind::Soundtrack;
    for (const FrameNumbers& n : run.frames) {
        sum.anySound = sum.anySound || n.rows > 0;
        sum.anyJoin = sum.anyJoin || n.join.has_value();
        sum.weak += n.join && n.weak ? 1 : 0;
        sum.outlying += n.join && n.outlying ? 1 : 0;
    }
    return sum;
}

std::string anchor(int frame) {
    return numbered("join", frame, "pair");
}

std::string headSection(const RunRecord& run, const RunSummary& sum) {
    std::string html = "<h1>Veltrana run report: " + runTitle(run.kind) + "</h1>\n";
    if (run.succeeded) {
        html += "<p class=\"end ok\">The run finished. " + escapeMarkup(run.ending) + "</p>\n";
    } else {
        html += "<p class=\"end failed\">The run did not finish: " + escapeMarkup(run.ending) +
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
        html += " Weak joins: " + std::to_string(sum.weak) +
                "; joins that stand out from the median: " + std::to_string(sum.outlying) + ".";
    }
    return html + "</p>\n";
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
    html += sum.soundtrack ? " and every frame whose join is weak or stands out, " : ", ";
    html += "as scanned, with what was measured on them:<span class=\"swatch\" "
            "style=\"background: " +
            std::string(kTrimCss) + "\"></span>the frame trim (outside it darkened)";
    html += sum.soundtrack ? "<span class=\"swatch\" style=\"background: " + std::string(kBandCss) +
                                 "\"></span>the soundtrack band read as sound (and a full-aperture "
                                 "scan's film edge in light blue)"
                           : "<span class=\"swatch\" style=\"background: " + std::string(kCutCss) +
                                 "\"></span>the regions cut into movie frames";
    html += ". A picture opens at its full size when clicked.</p>\n<div class=\"frames\">\n";
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
            html += "<a href=\"" + escapeMarkup(kFilesRef + name) + "\">" +
                    image(kFilesRef + name, "Frame " + std::to_string(s.frame), shownWidth,
                          shownHeight) +
                    "</a>";
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
        html += "<p class=\"note\">Also weak or standing out, not pictured here (only the first " +
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
        "join found on (solid), each less its mean over the overlap. At a right join the "
        "two lie on top of each other, and their correlation, beside, peaks at shift 0 "
        "(the red line).</p>\n";
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
        html += ".</p></div>\n";
    }
    return html;
}

std::string joinsSection(const RunRecord& run, std::vector<PendingWrite>& writes) {
    writes.push_back({"joins.svg", joinsPlot(run)});
    return "<h2>Join positions</h2>\n" +
           image(kFilesRef + "joins.svg", "Join positions over the frames", 1100, 280, "plot") +
           "\n<p class=\"note\">Where each frame joins the previous one, in rows of the "
           "previous frame; the dashed line is the median. <span style=\"color: " +
           std::string(kOrange) + "\">&#9679;</span> weak, <span style=\"color: " + kRed +
           "\">&#9679;</span> further than " + format("%.0f", kOutlyingJoinRows) +
           " rows from the median of the joins before it. A bad join stands out as a "
           "jump; but scans that start at different places along the film have joins that "
           "differ as much, so the pair plots below tell whether the frames agree "
           "there.</p>\n";
}

std::string waveformSection(const RunRecord& run, std::vector<PendingWrite>& writes) {
    writes.push_back({"waveform.svg", waveformPlot(run)});
    return "<h2>Waveform overview</h2>\n" +
           image(kFilesRef + "waveform.svg", "Waveform overview", 1100, 260, "plot") +
           "\n<p class=\"note\">The lowest and highest sample of each stretch, the frames "
           "joined at their joins (before any level correction); weak and outlying joins are "
           "marked.</p>\n";
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

} // namespace

Status writeRunReport(const RunRecord& run, const fs::path& dir) {
    if (Status made = folderFor(dir, true); !made) {
        return made;
    }
    const fs::path files = dir / kReportFiles;
    if (Status made = folderFor(files, false); !made) {
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
    html += settingsSection(run);
    const bool joins = sum.soundtrack && sum.anyJoin;
    const bool sound = sum.soundtrack && sum.anySound;
    if (joins) {
        html += joinsSection(run, writes);
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

    for (const PendingWrite& w : writes) {
        if (Status written = writeSideFile(files / w.name, w.bytes, kWhat); !written) {
            return written;
        }
    }
    // the page last, so that it never links to a picture not yet there
    return writeSideFile(dir / kReportPage, html, kWhat);
}

} // namespace veltrana
