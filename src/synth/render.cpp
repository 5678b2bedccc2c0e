// Rendering one scan: the strip rows it covers, drawn row by row in the
// working orientation (each row is one sample of the sound), then the
// scanner's optics and noise, then the turn into the file's orientation.

#include "synth/internal.h"

#include "soundtrack/fractional_shift.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace veltrana::synth {

namespace {

using detail::kClear;
using detail::kLight;
using detail::kOpaque;

constexpr int kShapes = 4;
constexpr int kPosts = 3;
constexpr double kGrainLevels = 3.0;  // film grain, standard deviation in 8-bit levels
constexpr double kSensorLevels = 1.5; // scanner noise
constexpr int kSyncWhite = 240;       // a sync mark's picture

double uniform(std::mt19937& rng) {
    return static_cast<double>(rng()) * (1.0 / 4294967296.0);
}

double between(std::mt19937& rng, double low, double high) {
    return low + (high - low) * uniform(rng);
}

// What a variant's pictures show: a landscape of soft shapes drifting from
// frame to frame, a horizon that rises and falls, and posts standing along
// the film. Everything is smooth along the film (tens of rows at least), so
// the pictures add no edges of their own to the frame-edge searches: the
// frame lines are the only sharp changes along the film.
struct Scene {
    double basePhase = 0;
    double gradientPhase = 0;
    double castPhase = 0;
    double horizonPhase = 0;
    struct Shape {
        double amplitude = 0;
        std::array<double, 3> tint{}; // blue, green, red share of the amplitude, about 1
        double rowPhase = 0, rowSpeed = 0, columnPhase = 0, columnSpeed = 0;
        double sigmaRows = 0, sigmaColumns = 0; // shares of the picture's height and width
    };
    std::array<Shape, kShapes> shapes;
    struct Post {
        double amplitude = 0, phase = 0, speed = 0;
    };
    std::array<Post, kPosts> posts;
};

Scene sceneFor(std::uint32_t variant) {
    std::mt19937 rng(0xF11A5u + variant * 0x9E3779B9u);
    Scene scene;
    scene.basePhase = between(rng, 0, 6.283);
    scene.gradientPhase = between(rng, 0, 6.283);
    scene.castPhase = between(rng, 0, 6.283);
    scene.horizonPhase = between(rng, 0, 6.283);
    for (int i = 0; i < kShapes; ++i) {
        Scene::Shape& s = scene.shapes[static_cast<std::size_t>(i)];
        // alternately brighter and darker than the background
        s.amplitude = (i % 2 == 0 ? 1.0 : -1.0) * between(rng, 40, 75);
        s.tint = {1.0 + between(rng, -0.3, 0.3), 1.0 + between(rng, -0.8, 0.8),
                  1.0 + between(rng, -0.8, 0.8)};
        s.rowPhase = between(rng, 0, 6.283);
        s.rowSpeed = between(rng, 0.12, 0.45);
        s.columnPhase = between(rng, 0, 6.283);
        s.columnSpeed = between(rng, 0.12, 0.45);
        s.sigmaRows = between(rng, 0.07, 0.16);
        s.sigmaColumns = between(rng, 0.05, 0.14);
    }
    for (int i = 0; i < kPosts; ++i) {
        Scene::Post& s = scene.posts[static_cast<std::size_t>(i)];
        s.amplitude = -between(rng, 30, 55);
        s.phase = between(rng, 0, 6.283);
        s.speed = between(rng, 0.05, 0.15);
    }
    return scene;
}

// One frame's picture, held as separable parts: a term per column and
// channel, a term per row and channel (the horizon), and per shape a profile
// across the film scaled by a weight per row. A picture row then costs a few
// multiply-adds per pixel.
struct FramePicture {
    std::int64_t frame = 0;
    std::array<std::vector<float>, 3> columnTerm;
    double horizonRow = 0, horizonSoftness = 1;
    std::array<double, 3> horizonStep{}; // sky above, ground below
    struct ShapeTerm {
        std::array<float, 3> amplitude{};
        double centreRow = 0, sigmaRows = 1;
        std::vector<float> across;
    };
    std::array<ShapeTerm, kShapes> shapes;
};

FramePicture framePicture(const Scene& scene, std::int64_t frame, int columns, int rows,
                          int channels) {
    FramePicture p;
    p.frame = frame;
    const double j = static_cast<double>(frame);
    const double base = 150.0 + 10.0 * std::sin(0.17 * j + scene.basePhase);
    const double gradient = 12.0 * std::sin(0.11 * j + scene.gradientPhase);
    // colour cast per channel (blue, green, red): a slow warm-cool drift
    const double drift = std::sin(0.07 * j + scene.castPhase);
    const std::array<double, 3> cast{-6.0 * drift, 2.0, 8.0 * drift};
    for (int c = 0; c < channels; ++c) {
        std::vector<float>& term = p.columnTerm[static_cast<std::size_t>(c)];
        term.resize(static_cast<std::size_t>(columns));
        const double offset = channels == 3 ? cast[static_cast<std::size_t>(c)] : 0.0;
        for (int v = 0; v < columns; ++v) {
            double value = base + offset + gradient * (2.0 * v / columns - 1.0);
            // posts stand in the right three quarters, clear of the picture's
            // first columns, whose rise the density cutter looks for
            for (const Scene::Post& s : scene.posts) {
                const double centre = columns * (0.6 + 0.3 * std::sin(s.phase + s.speed * j));
                const double sigma = 0.015 * columns;
                const double x = (v - centre) / sigma;
                value += s.amplitude * std::exp(-0.5 * x * x);
            }
            term[static_cast<std::size_t>(v)] = static_cast<float>(value);
        }
    }
    p.horizonRow = rows * (0.45 + 0.2 * std::sin(0.09 * j + scene.horizonPhase));
    p.horizonSoftness = std::max(1.0, 0.06 * rows);
    p.horizonStep = channels == 3 ? std::array<double, 3>{45.0, 25.0, 12.0}
                                  : std::array<double, 3>{30.0, 0.0, 0.0};
    for (int i = 0; i < kShapes; ++i) {
        const Scene::Shape& s = scene.shapes[static_cast<std::size_t>(i)];
        FramePicture::ShapeTerm& t = p.shapes[static_cast<std::size_t>(i)];
        for (int c = 0; c < 3; ++c) {
            t.amplitude[static_cast<std::size_t>(c)] = static_cast<float>(
                s.amplitude * (channels == 3 ? s.tint[static_cast<std::size_t>(c)] : 1.0));
        }
        t.centreRow = rows * (0.5 + 0.35 * std::sin(s.rowPhase + s.rowSpeed * j));
        t.sigmaRows = std::max(1.0, s.sigmaRows * rows);
        const double centreColumn =
            columns * (0.5 + 0.38 * std::sin(s.columnPhase + s.columnSpeed * j));
        const double sigmaColumns = std::max(1.0, s.sigmaColumns * columns);
        t.across.resize(static_cast<std::size_t>(columns));
        for (int v = 0; v < columns; ++v) {
            const double x = (v - centreColumn) / sigmaColumns;
            t.across[static_cast<std::size_t>(v)] = static_cast<float>(std::exp(-0.5 * x * x));
        }
    }
    return p;
}

// An approximately normal value (mean 0, deviation 1) from 64 random bits:
// the sum of four 16-bit uniforms.
inline float normalFromBits(std::uint64_t bits) {
    const std::uint64_t sum =
        (bits & 0xFFFF) + ((bits >> 16) & 0xFFFF) + ((bits >> 32) & 0xFFFF) + (bits >> 48);
    return static_cast<float>((static_cast<double>(sum) - 131070.0) / 37837.0);
}

// Halves away from zero, clipped to 8 bits. The value is made non-negative
// first, so truncating v + 0.5 (exact in double) is the rounding.
inline uchar toByte(float v) {
    const float clipped = std::min(std::max(v, 0.0f), 255.0f);
    return static_cast<uchar>(static_cast<int>(static_cast<double>(clipped) + 0.5));
}

// The same value before the rounding: what a deeper scan stores.
inline float unrounded(float v) {
    return std::min(std::max(v, 0.0f), 255.0f);
}

// Paints [first, end) (fractional column edges) with `value` over `row`,
// edge pixels in proportion to how much of them the span covers.
void paintSpan(std::vector<float>& row, double first, double end, float value) {
    const int width = static_cast<int>(row.size());
    if (!(end > first)) {
        return;
    }
    const int from = std::max(0, static_cast<int>(std::floor(first)));
    const int to = std::min(width, static_cast<int>(std::ceil(end)));
    for (int c = from; c < to; ++c) {
        const double covered = std::min<double>(c + 1, end) - std::max<double>(c, first);
        float& pixel = row[static_cast<std::size_t>(c)];
        pixel = static_cast<float>(pixel + (value - pixel) * std::clamp(covered, 0.0, 1.0));
    }
}

// The binomial 1-4-6-4-1 blur along both axes (about one pixel of
// deviation), in integers so that it gives the same bytes everywhere.
// Borders repeat the edge pixel.
void blurInPlace(cv::Mat& image) {
    const int rows = image.rows;
    const int channels = image.channels();
    const int width = image.cols * channels;
    const int columns = image.cols;
    cv::Mat across(rows, width, CV_16UC1);
    for (int r = 0; r < rows; ++r) {
        const uchar* in = image.ptr<uchar>(r);
        std::uint16_t* out = across.ptr<std::uint16_t>(r);
        // element i belongs to pixel i / channels; at the borders the
        // neighbours are clamped to the first or last pixel, same channel
        auto pixel = [&](int p, int ch) {
            return static_cast<int>(in[std::clamp(p, 0, columns - 1) * channels + ch]);
        };
        for (int i = 0; i < width; ++i) {
            const int p = i / channels;
            const int ch = i % channels;
            int sum = 0;
            if (p >= 2 && p + 2 < columns) {
                sum = in[i - 2 * channels] + 4 * in[i - channels] + 6 * in[i] +
                      4 * in[i + channels] + in[i + 2 * channels];
            } else {
                sum = pixel(p - 2, ch) + 4 * pixel(p - 1, ch) + 6 * pixel(p, ch) +
                      4 * pixel(p + 1, ch) + pixel(p + 2, ch);
            }
            out[i] = static_cast<std::uint16_t>(sum);
        }
    }
    for (int r = 0; r < rows; ++r) {
        const std::uint16_t* a = across.ptr<std::uint16_t>(std::max(r - 2, 0));
        const std::uint16_t* b = across.ptr<std::uint16_t>(std::max(r - 1, 0));
        const std::uint16_t* c = across.ptr<std::uint16_t>(r);
        const std::uint16_t* d = across.ptr<std::uint16_t>(std::min(r + 1, rows - 1));
        const std::uint16_t* e = across.ptr<std::uint16_t>(std::min(r + 2, rows - 1));
        uchar* out = image.ptr<uchar>(r);
        for (int i = 0; i < width; ++i) {
            const int sum = a[i] + 4 * b[i] + 6 * c[i] + 4 * d[i] + e[i];
            out[i] = static_cast<uchar>((sum + 128) >> 8);
        }
    }
}

// blurInPlace before its rounding, of a floating-point image.
void blurUnrounded(cv::Mat& fine) {
    const cv::Mat kernel = (cv::Mat_<float>(5, 1) << 1.0f, 4.0f, 6.0f, 4.0f, 1.0f) / 16.0f;
    cv::sepFilter2D(fine, fine, CV_32F, kernel, kernel, cv::Point(-1, -1), 0.0,
                    cv::BORDER_REPLICATE);
}

// The scanner lamp's fall-off along a scan: cos^4 vignetting, 1 in the middle
// and 1 - percent / 100 at the first and last rows.
std::vector<double> falloffAlongScan(int rows, double percent) {
    std::vector<double> light(static_cast<std::size_t>(rows), 1.0);
    if (percent <= 0.0 || rows < 2) {
        return light;
    }
    // 1 / (1 + k^2 x^2)^2 at x = 1 must be 1 - percent / 100
    const double k2 = 1.0 / std::sqrt(1.0 - percent / 100.0) - 1.0;
    for (int r = 0; r < rows; ++r) {
        const double x = 2.0 * r / (rows - 1) - 1.0;
        const double q = 1.0 + k2 * x * x;
        light[static_cast<std::size_t>(r)] = 1.0 / (q * q);
    }
    return light;
}

// The scan as the scanner sees the film when it does not sit on whole strip
// rows, weaves sideways or is lit unevenly: the strip rows around the scan
// drawn first, each scan row read `fraction` of a row past its strip row by
// the windowed sinc, the film moved `weave` columns away from the band's edge
// (the columns it leaves see the edge pixel's light), then the lamp's
// fall-off, then the rounding.
template <typename DrawRow>
void renderEffects(cv::Mat& image, cv::Mat* fine, DrawRow& drawRow, int start, double fraction,
                   int weave, double falloffPercent) {
    const int height = image.rows;
    const int channels = image.channels();
    const int elements = image.cols * channels;
    const int lead = fraction != 0.0 ? kShiftKernelReach + 1 : 0;
    cv::Mat strip(height + 2 * lead, elements, CV_32F);
    for (int i = 0; i < strip.rows; ++i) {
        drawRow(static_cast<std::int64_t>(start) - lead + i, strip.ptr<float>(i));
    }
    const std::vector<double> kernel =
        fraction != 0.0 ? shiftKernel(fraction) : std::vector<double>{};
    const std::vector<double> light = falloffAlongScan(height, falloffPercent);
    std::vector<double> row(static_cast<std::size_t>(elements));
    for (int r = 0; r < height; ++r) {
        if (kernel.empty()) {
            const float* in = strip.ptr<float>(r + lead);
            std::copy(in, in + elements, row.begin());
        } else {
            std::fill(row.begin(), row.end(), 0.0);
            const int first = r + lead - kShiftKernelReach + 1;
            for (int k = 0; k < 2 * kShiftKernelReach; ++k) {
                const float* in = strip.ptr<float>(first + k);
                const double w = kernel[static_cast<std::size_t>(k)];
                for (int i = 0; i < elements; ++i) {
                    row[static_cast<std::size_t>(i)] += w * in[i];
                }
            }
        }
        uchar* out = image.ptr<uchar>(r);
        float* fineOut = fine != nullptr ? fine->ptr<float>(r) : nullptr;
        const double lit = light[static_cast<std::size_t>(r)];
        for (int i = 0; i < elements; ++i) {
            const int from = std::max(i - weave * channels, i % channels);
            const float v = static_cast<float>(row[static_cast<std::size_t>(from)] * lit);
            out[i] = toByte(v);
            if (fineOut != nullptr) {
                fineOut[i] = unrounded(v);
            }
        }
    }
}

// Whether strip row t of a full-aperture scan shows a perforation hole in
// the row beyond the window (35 mm: four to a frame, as at the window's
// edge; 16 mm: one, on the frame line).
bool farPerforation(const SynthLayout& l, bool film35, std::int64_t t) {
    const std::int64_t fromFirstLine = t - l.firstFrameLine;
    if (film35) {
        const std::int64_t quarter =
            fromFirstLine * 4 - detail::floorDiv(fromFirstLine * 4, l.framePitch) * l.framePitch;
        const std::int64_t holeFirst = (l.framePitch - 4 * l.perforationRows) / 2;
        return quarter >= holeFirst && quarter < holeFirst + 4 * l.perforationRows;
    }
    const std::int64_t within =
        fromFirstLine - detail::floorDiv(fromFirstLine, l.framePitch) * l.framePitch;
    const std::int64_t centre = l.frameLineRows / 2;
    const std::int64_t half = l.aperture.holeRows16 / 2;
    const std::int64_t distance =
        std::min(std::abs(within - centre), std::abs(within - centre - l.framePitch));
    return distance <= half;
}

// One row of a full-aperture scan from the window's row: the gate, the light
// between it and the film's edge, the film beyond the window (margins,
// perforations, the rest of the picture mirrored from the window's) and the
// window itself, the film `weave` columns further from the band's side.
void drawAperture(const SynthLayout& l, const SynthOptions& o, std::int64_t t, int weave,
                  const std::vector<float>& window, float* values, int channels) {
    const SynthAperture& a = l.aperture;
    const bool film35 = is35mm(o.film);
    const bool perforated = farPerforation(l, film35, t);
    // the picture's rows are those whose window columns past the picture's
    // start are not all frame-line black
    const std::int64_t fromFirstLine = t - l.firstFrameLine;
    const std::int64_t within =
        fromFirstLine - detail::floorDiv(fromFirstLine, l.framePitch) * l.framePitch;
    const bool inPicture = within >= l.frameLineRows;
    for (int x = 0; x < l.apertureColumns; ++x) {
        const int u = x - l.windowFirstColumn - weave; // window column
        float value = static_cast<float>(kOpaque);
        int from = -1; // a window column to take
        if (x < a.gateColumns || x >= l.apertureColumns - a.gateColumns) {
            value = static_cast<float>(detail::kGate);
        } else if (u >= 0 && u < l.scanColumns) {
            from = u; // 16 mm: the light beside the edge in it too
        } else if (u < a.edgeColumn || u >= a.farEdgeColumn) {
            value = static_cast<float>(kLight);
        } else if (u < 0) {
            // 35 mm: the perforation whose inner end the window begins with
            // (lit where the window's first column is)
            if (film35 && u >= a.holeColumn) {
                from = 0;
            }
        } else if (u < a.pictureEndColumn) {
            from = inPicture ? std::max(l.pictureFirstColumn, 2 * l.scanColumns - 1 - u)
                             : l.scanColumns - 1;
        } else if (u >= a.farHoleFirst && u < a.farHoleEnd && perforated) {
            value = static_cast<float>(kLight);
        }
        for (int ch = 0; ch < channels; ++ch) {
            values[x * channels + ch] =
                from >= 0 ? window[static_cast<std::size_t>(from * channels + ch)] : value;
        }
    }
}

// Per working column of an UP scan `columns` wide whose window (the
// standard scan) begins at column `windowFirst`, how much further along the
// film than at the track's centre a scan row reads per row from the scan's
// middle: zero at the track's centre, perspectiveRows / pitch at the
// picture's, and on along the same line beyond the window.
std::vector<double> slantAcross(const SynthLayout& l, double perspectiveRows, int columns,
                                int windowFirst) {
    const double trackCentre = 0.5 * (l.trackFirstColumn + l.trackEndColumn);
    const double pictureCentre = 0.5 * (l.pictureFirstColumn + l.scanColumns);
    std::vector<double> slant(static_cast<std::size_t>(columns), 0.0);
    if (perspectiveRows == 0.0 || !(pictureCentre > trackCentre) || l.framePitch <= 0) {
        return slant;
    }
    const double perRow = perspectiveRows / l.framePitch;
    for (int c = 0; c < columns; ++c) {
        slant[static_cast<std::size_t>(c)] =
            perRow * (c - windowFirst - trackCentre) / (pictureCentre - trackCentre);
    }
    return slant;
}

// The windowed-sinc weights for fractions on a grid of 1/kSlantSteps of a row,
// made as they are first asked for.
constexpr int kSlantSteps = 1024;

class KernelTable {
public:
    const std::vector<double>& operator()(int step) {
        std::vector<double>& k = kernels[static_cast<std::size_t>(step)];
        if (k.empty()) {
            k = shiftKernel(static_cast<double>(step) / kSlantSteps);
        }
        return k;
    }

private:
    std::vector<std::vector<double>> kernels =
        std::vector<std::vector<double>>(static_cast<std::size_t>(kSlantSteps));
};

// renderEffects for a slanted (photographed) frame: every column read at its
// own position along the film, `slant` (per output column) times the row's
// distance from the scan's middle past the scan's fractional start. The
// positions are taken to 1/1024 of a row.
template <typename DrawRow>
void renderSlanted(cv::Mat& image, cv::Mat* fine, DrawRow& drawRow, int start, double fraction,
                   int weave, double falloffPercent, const std::vector<double>& slant) {
    const int height = image.rows;
    const int channels = image.channels();
    const int elements = image.cols * channels;
    double steepest = 0.0;
    for (double s : slant) {
        steepest = std::max(steepest, std::abs(s));
    }
    const int lead = kShiftKernelReach + 2 + static_cast<int>(std::ceil(steepest * height / 2.0));
    cv::Mat strip(height + 2 * lead, elements, CV_32F);
    for (int i = 0; i < strip.rows; ++i) {
        drawRow(static_cast<std::int64_t>(start) - lead + i, strip.ptr<float>(i));
    }
    const std::vector<double> light = falloffAlongScan(height, falloffPercent);
    const double middle = 0.5 * (height - 1);
    KernelTable kernels;
    for (int r = 0; r < height; ++r) {
        uchar* out = image.ptr<uchar>(r);
        float* fineOut = fine != nullptr ? fine->ptr<float>(r) : nullptr;
        const double lit = light[static_cast<std::size_t>(r)];
        for (int c = 0; c < image.cols; ++c) {
            const double position =
                r + lead + fraction + (r - middle) * slant[static_cast<std::size_t>(c)];
            int base = static_cast<int>(std::floor(position));
            int step = static_cast<int>(std::lround((position - base) * kSlantSteps));
            if (step == kSlantSteps) {
                ++base;
                step = 0;
            }
            const int source = std::max(c - weave, 0);
            for (int ch = 0; ch < channels; ++ch) {
                const int element = source * channels + ch;
                double value = strip.ptr<float>(base)[element];
                if (step != 0) {
                    const std::vector<double>& w = kernels(step);
                    const int first = base - kShiftKernelReach + 1;
                    value = 0.0;
                    for (int k = 0; k < 2 * kShiftKernelReach; ++k) {
                        value +=
                            w[static_cast<std::size_t>(k)] * strip.ptr<float>(first + k)[element];
                    }
                }
                const float v = static_cast<float>(value * lit);
                out[c * channels + ch] = toByte(v);
                if (fineOut != nullptr) {
                    fineOut[c * channels + ch] = unrounded(v);
                }
            }
        }
    }
}

// Scan k in the working orientation; with `fine`, also every sample before
// its roundings (see RenderedScan).
cv::Mat renderWorking(const SynthPlan& plan, int scan, cv::Mat* fine) {
    const SynthTruth& truth = plan.truth;
    const SynthLayout& l = truth.layout;
    const SynthOptions& o = truth.options;
    if (scan < 0 || scan >= static_cast<int>(truth.scans.size())) {
        return {};
    }
    const int width = l.scanColumns;
    const int height = l.scanRows;
    const int channels = o.color ? 3 : 1;
    const bool film35 = is35mm(o.film);
    const bool density = o.film == SoundtrackType::VariableDensity35;
    const SynthScan& placed = truth.scans[static_cast<std::size_t>(scan)];
    const int start = placed.start;
    const double fraction = placed.startExact - start;
    const int pictureColumns = std::max(0, width - l.pictureFirstColumn);
    const int pictureRows = l.framePitch - l.frameLineRows;
    const Scene scene = sceneFor(o.variant);
    const std::uint64_t grainKey = detail::mix64(0x67A1Full ^ o.variant);

    // a sync mark's picture is white (frames counted from 0 on the strip)
    const auto isSyncMark = [&o](std::int64_t frame) {
        return std::find(o.syncMarks.begin(), o.syncMarks.end(), frame + 1) != o.syncMarks.end();
    };
    std::vector<FramePicture> pictures; // the few frames this scan shows
    std::vector<float> film(static_cast<std::size_t>(width));
    std::vector<float> grain(static_cast<std::size_t>(width), 0.0f);
    std::vector<float> picture(static_cast<std::size_t>(pictureColumns));

    // Strip row t as the film shows it, before rounding: width x channels
    // values, interleaved.
    auto drawRow = [&](std::int64_t t, float* values) {
        const bool onStrip = t >= 0 && t < static_cast<std::int64_t>(plan.signal.size());
        const float s = onStrip ? plan.signal[static_cast<std::size_t>(t)] : 0.0f;
        const std::int64_t fromFirstLine = t - l.firstFrameLine;

        // the film outside the picture: print black, the sliver, the band
        std::fill(film.begin(), film.end(), static_cast<float>(kOpaque));
        bool light = !film35; // past the film edge on 16 mm
        if (film35 && l.perforationRows > 0) {
            // four perforations per frame, each centred in its quarter pitch
            const std::int64_t quarter =
                fromFirstLine * 4 -
                detail::floorDiv(fromFirstLine * 4, l.framePitch) * l.framePitch;
            const std::int64_t holeFirst = (l.framePitch - 4 * l.perforationRows) / 2;
            light = quarter >= holeFirst && quarter < holeFirst + 4 * l.perforationRows;
        }
        if (light) {
            std::fill(film.begin(), film.begin() + std::min(l.sliverColumns, width),
                      static_cast<float>(kLight));
        }
        if (density) {
            const double transmittance = detail::kDensityMean + detail::kDensitySwing * s;
            paintSpan(film, l.trackFirstColumn, l.trackEndColumn,
                      static_cast<float>(kOpaque + (kClear - kOpaque) * transmittance));
        } else {
            paintSpan(film, l.trackFirstColumn, l.trackEndColumn,
                      static_cast<float>(detail::kTrackArea));
            double resting = 0.5 * (l.bandHalfWidthMin + l.bandHalfWidthMax);
            if (!plan.clearBias.empty() && onStrip) {
                // noise reduction: the band's resting width shrinks when quiet
                resting *= plan.clearBias[static_cast<std::size_t>(t)];
            }
            const double half = resting + 0.5 * (l.bandHalfWidthMax - l.bandHalfWidthMin) * s;
            paintSpan(film, l.bandCentre - half, l.bandCentre + half, static_cast<float>(kClear));
        }

        // which frame, and whether this row is picture or frame line
        const std::int64_t frame = detail::floorDiv(fromFirstLine, l.framePitch);
        const int withinFrame = static_cast<int>(fromFirstLine - frame * l.framePitch);
        const bool inPicture = withinFrame >= l.frameLineRows && pictureColumns > 0;
        const FramePicture* current = nullptr;
        if (inPicture) {
            auto found = std::find_if(pictures.begin(), pictures.end(),
                                      [&](const FramePicture& p) { return p.frame == frame; });
            if (found == pictures.end()) {
                pictures.push_back(
                    framePicture(scene, frame, pictureColumns, pictureRows, channels));
                found = pictures.end() - 1;
            }
            current = &*found;
        }

        if (o.noise) {
            // grain belongs to the film: the same strip row shows the same
            // grain in every scan that covers it
            const std::uint64_t rowKey = detail::mix64(grainKey ^ static_cast<std::uint64_t>(t));
            for (int c = 0; c < width; ++c) {
                grain[static_cast<std::size_t>(c)] =
                    static_cast<float>(kGrainLevels) *
                    normalFromBits(detail::mix64(rowKey + static_cast<std::uint64_t>(c)));
            }
        }

        for (int ch = 0; ch < channels; ++ch) {
            if (current != nullptr) {
                const double u = withinFrame - l.frameLineRows; // picture row
                const std::vector<float>& term = current->columnTerm[static_cast<std::size_t>(ch)];
                // sky above the horizon, ground below
                const float horizon = static_cast<float>(
                    current->horizonStep[static_cast<std::size_t>(ch)] *
                    std::tanh((current->horizonRow - u) / current->horizonSoftness));
                for (int v = 0; v < pictureColumns; ++v) {
                    picture[static_cast<std::size_t>(v)] =
                        term[static_cast<std::size_t>(v)] + horizon;
                }
                for (const FramePicture::ShapeTerm& shape : current->shapes) {
                    const double x = (u - shape.centreRow) / shape.sigmaRows;
                    const float weight = static_cast<float>(
                        shape.amplitude[static_cast<std::size_t>(ch)] * std::exp(-0.5 * x * x));
                    if (std::abs(weight) < 1e-3f) {
                        continue;
                    }
                    for (int v = 0; v < pictureColumns; ++v) {
                        picture[static_cast<std::size_t>(v)] +=
                            weight * shape.across[static_cast<std::size_t>(v)];
                    }
                }
            }
            if (current != nullptr && isSyncMark(frame)) {
                std::fill(picture.begin(), picture.end(), static_cast<float>(kSyncWhite));
            }
            // the film up to the picture, then the picture (or the frame line)
            const int split = current != nullptr ? std::min(l.pictureFirstColumn, width) : width;
            for (int c = 0; c < split; ++c) {
                values[c * channels + ch] =
                    film[static_cast<std::size_t>(c)] + grain[static_cast<std::size_t>(c)];
            }
            for (int c = split; c < width; ++c) {
                values[c * channels + ch] = picture[static_cast<std::size_t>(c - split)] +
                                            grain[static_cast<std::size_t>(c)];
            }
        }
    };

    // a full-aperture scan: the window drawn above, within the whole film
    // and the gate beyond it
    std::vector<float> window(static_cast<std::size_t>(width * channels));
    auto drawApertureRow = [&](std::int64_t t, float* values) {
        drawRow(t, window.data());
        drawAperture(l, o, t, placed.weave, window, values, channels);
    };
    const bool full = o.fullAperture;
    const int imageWidth = full ? l.apertureColumns : width;
    cv::Mat image(height, imageWidth, channels == 3 ? CV_8UC3 : CV_8UC1);
    if (fine != nullptr) {
        fine->create(height, imageWidth, CV_32FC(channels));
    }
    const int elements = imageWidth * channels;
    if (o.perspectiveRows != 0.0 && full) {
        // the film weaves within the gate: drawApertureRow places it
        renderSlanted(
            image, fine, drawApertureRow, start, fraction, 0, o.falloffPercent,
            slantAcross(l, o.perspectiveRows, imageWidth, l.windowFirstColumn + placed.weave));
    } else if (o.perspectiveRows != 0.0) {
        renderSlanted(image, fine, drawRow, start, fraction, placed.weave, o.falloffPercent,
                      slantAcross(l, o.perspectiveRows, width, 0));
    } else if (fraction == 0.0 && (placed.weave == 0 || full) && o.falloffPercent == 0.0) {
        // each strip row straight into its scan row
        std::vector<float> values(static_cast<std::size_t>(elements));
        for (int r = 0; r < height; ++r) {
            if (full) {
                drawApertureRow(static_cast<std::int64_t>(start) + r, values.data());
            } else {
                drawRow(static_cast<std::int64_t>(start) + r, values.data());
            }
            uchar* out = image.ptr<uchar>(r);
            for (int i = 0; i < elements; ++i) {
                out[i] = toByte(values[static_cast<std::size_t>(i)]);
            }
            if (fine != nullptr) {
                std::transform(values.begin(), values.end(), fine->ptr<float>(r), unrounded);
            }
        }
    } else if (full) {
        // the film weaves within the gate: drawApertureRow places it
        renderEffects(image, fine, drawApertureRow, start, fraction, 0, o.falloffPercent);
    } else {
        renderEffects(image, fine, drawRow, start, fraction, placed.weave, o.falloffPercent);
    }

    if (o.blur) {
        blurInPlace(image);
        if (fine != nullptr) {
            blurUnrounded(*fine);
        }
    }
    if (o.noise) {
        // the scanner's own noise, different in every scan
        const std::uint64_t scanKey =
            detail::mix64(0x5E45ull ^ (static_cast<std::uint64_t>(o.variant) << 32) ^
                          static_cast<std::uint64_t>(scan));
        // counted from the standard window's first column, so that a
        // full-aperture scan's window holds the noise of its narrow twin
        const std::int64_t first =
            full ? static_cast<std::int64_t>(l.windowFirstColumn + placed.weave) * channels : 0;
        for (int r = 0; r < height; ++r) {
            const std::uint64_t rowKey = detail::mix64(scanKey + static_cast<std::uint64_t>(r));
            uchar* out = image.ptr<uchar>(r);
            float* fineOut = fine != nullptr ? fine->ptr<float>(r) : nullptr;
            for (int i = 0; i < elements; ++i) {
                const float noise = static_cast<float>(kSensorLevels) *
                                    normalFromBits(detail::mix64(
                                        rowKey ^ (static_cast<std::uint64_t>(i - first) << 20)));
                out[i] = toByte(static_cast<float>(out[i]) + noise);
                if (fineOut != nullptr) {
                    fineOut[i] = unrounded(fineOut[i] + noise);
                }
            }
        }
    }
    if (!o.rotationUp) {
        cv::flip(image, image, 1);
        if (fine != nullptr) {
            cv::flip(*fine, *fine, 1);
        }
    }
    return image;
}

// The working orientation turned into the file's: the inverse of the job's
// quarter turn anticlockwise, or none for upright scans (a DOWN working
// image is mirrored already: the band at the right).
cv::Mat asInFile(const cv::Mat& working, bool upright) {
    if (upright) {
        return working;
    }
    cv::Mat file;
    if (!working.empty()) {
        cv::rotate(working, file, cv::ROTATE_90_CLOCKWISE);
    }
    return file;
}

} // namespace

TrackSide trackSideOf(const SynthOptions& o) {
    if (o.upright) {
        return o.rotationUp ? TrackSide::Left : TrackSide::Right;
    }
    return o.rotationUp ? TrackSide::Top : TrackSide::Bottom;
}

cv::Mat renderWorkingImage(const SynthPlan& plan, int scan) {
    return renderWorking(plan, scan, nullptr);
}

cv::Mat renderScan(const SynthPlan& plan, int scan) {
    return asInFile(renderWorkingImage(plan, scan), plan.truth.options.upright);
}

RenderedScan renderScanAtDepth(const SynthPlan& plan, int scan) {
    cv::Mat fine;
    RenderedScan rendered;
    const bool upright = plan.truth.options.upright;
    rendered.image = asInFile(renderWorking(plan, scan, &fine), upright);
    rendered.fine = asInFile(fine, upright);
    return rendered;
}

} // namespace veltrana::synth
