#include "soundtrack/archival_frame.h"

#include "base/vectorise.h"
#include "geometry/profile.h"
#include "geometry/rounding.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace veltrana {

namespace {

// Per working row, the element's mean across the band of a deep scan (scan
// rows band.first..band.last), in 8-bit steps: each scan column summed in
// double precision, in row order. Y is each pixel's luminance, computed in
// floating point.
std::vector<float> deepTrackMeans(const DeepScan& deep, StripRange band, ColorElement element) {
    cv::Mat rows;
    // 16-bit codes are whole numbers in single precision too
    deep.trimmedScan.rowRange(band.first, band.last + 1).convertTo(rows, CV_32F);
    if (rows.channels() == 3 && element == ColorElement::Y) {
        cv::cvtColor(rows, rows, cv::COLOR_BGR2GRAY);
    }
    const int channels = rows.channels();
    const int channel = channels == 1 ? 0 : channelOf(element);
    std::vector<double> sums(static_cast<std::size_t>(rows.cols), 0.0);
    for (int r = 0; r < rows.rows; ++r) {
        const float* row = rows.ptr<float>(r);
        for (int x = 0; x < rows.cols; ++x) {
            sums[static_cast<std::size_t>(x)] += row[x * channels + channel];
        }
    }
    std::vector<float> out(sums.size());
    const double scale = deep.stepsPerUnit / std::max(rows.rows, 1);
    for (std::size_t x = 0; x < sums.size(); ++x) {
        out[sums.size() - 1 - x] = static_cast<float>(sums[x] * scale);
    }
    return out;
}

// Brightness weights (blue, green, red) in 1/256, summing to 256, of the
// perforation light a variable-density frame's illumination is read from.
// A Y track is read otherwise, through greyPixels, as the standard path
// reads it.
constexpr int kLumaBlue256 = 29;
constexpr int kLumaGreen256 = 150;
constexpr int kLumaRed256 = 77;

// Share of the track band's pixels, per row, that stand for its clear part.
constexpr double kClearShare = 0.1;
// A reference level this bright may have clipped in the scanner.
constexpr float kClippedLevel = 250.0f;
// Perforation light: a row counts as lit when it reaches this share of the
// brightest light within a fifth of the frame around it.
constexpr float kLitShareOfLocalMaximum = 0.6f;
// Light whose fit varies less than this share along a frame is left as it
// is: on evenly lit film the fit only follows what the sound does to the
// clear part's edge pixels, and dividing by it would modulate the sound.
constexpr float kNegligibleFalloff = 0.03f;
// Smoothing window of the search profiles' high-pass, as a share of a
// frame pitch (the rows of one frame: a long strip holds four).
constexpr double kHighPassShareOfPitch = 0.04;
constexpr int kMinHighPassWindow = 9;
// The search bands away from the track read at most about this many of
// their scan rows, evenly spread: a profile is the mean of many pixels
// either way, and reading every row of a 2400 dpi colour picture would cost
// more than the rest of the frame's work together.
constexpr int kProfileRowsPerBand = 48;
// The light reference reads at most about this many scan rows of its band,
// on at most about this many working rows: the fit is a smooth curve.
constexpr int kLightScanRows = 128;
constexpr int kLightWorkingRows = 384;

// Working-image columns [first, last] of an UP frame as columns of this frame.
StripRange imageColumns(int first, int last, int width, bool rotationUp) {
    if (rotationUp) {
        return {first, last};
    }
    return {width - 1 - last, width - 1 - first};
}

// The step that reads at most about `most` of `count` rows, evenly spread.
int stepFor(int count, int most) {
    return std::max(1, (count + most - 1) / most);
}

// Per byte of a scan row (every channel of every column), the sum over scan
// rows first, first + step, ... below end. Rows are contiguous in the scan,
// so this runs along memory; 16-bit partial sums (257 rows of 255 fit) let
// the compiler widen whole vectors at a time. Compiled for AVX2 as well,
// where the machine has it: whole-number sums are the same either way.
VELTRANA_ALSO_FOR_AVX2 void addRowBytes(const cv::Mat& scan, int first, int end, int step,
                                        std::uint32_t* sums, std::uint16_t* partial) {
    const int bytes = scan.cols * scan.channels();
    constexpr int kRowsPerPartial = 257;
    int pending = 0;
    auto flush = [&] {
        for (int i = 0; i < bytes; ++i) {
            sums[i] += partial[i];
            partial[i] = 0;
        }
        pending = 0;
    };
    for (int i = 0; i < bytes; ++i) {
        partial[i] = 0;
    }
    for (int r = first; r < end; r += step) {
        const uchar* row = scan.ptr<uchar>(r);
        for (int i = 0; i < bytes; ++i) {
            partial[i] = static_cast<std::uint16_t>(partial[i] + row[i]);
        }
        if (++pending == kRowsPerPartial) {
            flush();
        }
    }
    if (pending > 0) {
        flush();
    }
}

// Sums of a range of scan rows per scan column, read every `step` rows.
struct RowSums {
    std::vector<std::uint32_t>
        bytes;     // per byte of a row: column x, channel ch at x * channels + ch
    int count = 0; // rows read
};

RowSums rowSums(const cv::Mat& scan, int first, int last, int step) {
    RowSums s;
    const std::size_t bytes = static_cast<std::size_t>(scan.cols) * scan.channels();
    s.bytes.assign(bytes, 0);
    if (last < first) {
        return s;
    }
    std::vector<std::uint16_t> partial(bytes);
    addRowBytes(scan, first, last + 1, step, s.bytes.data(), partial.data());
    s.count = (last - first) / step + 1;
    return s;
}

// Per working row, the chosen element's mean across the band from its
// sums (of a grey image for ColorElement::Y, whose channel is then 0).
// Working row r is scan column (columns - 1 - r).
std::vector<float> elementMeans(const RowSums& sums, int channels, ColorElement element) {
    const std::size_t columns = sums.bytes.size() / static_cast<std::size_t>(channels);
    const std::size_t channel = channels == 1 ? 0 : static_cast<std::size_t>(channelOf(element));
    std::vector<float> out(columns);
    const double count = std::max(sums.count, 1);
    for (std::size_t x = 0; x < columns; ++x) {
        const std::uint32_t* s = sums.bytes.data() + x * static_cast<std::size_t>(channels);
        out[columns - 1 - x] = static_cast<float>(s[channel] / count);
    }
    return out;
}

// Per working row, the mean over the channels and rows summed: the
// brightness the search bands use.
std::vector<float> brightnessMeans(const RowSums& sums, int channels) {
    const std::size_t columns = sums.bytes.size() / static_cast<std::size_t>(channels);
    std::vector<float> out(columns);
    const double count = static_cast<double>(std::max(sums.count, 1)) * channels;
    for (std::size_t x = 0; x < columns; ++x) {
        const std::uint32_t* s = sums.bytes.data() + x * static_cast<std::size_t>(channels);
        std::uint32_t total = 0;
        for (int c = 0; c < channels; ++c) {
            total += s[c];
        }
        out[columns - 1 - x] = static_cast<float>(total / count);
    }
    return out;
}

// A light reference read on some working rows: their levels and which rows.
struct LightLevels {
    std::vector<int> rows;     // working rows, ascending
    std::vector<float> levels; // one per row
};

// Per working row of a subset (every `workingStep`-th), the median of the
// brightest `share` of the element's pixels over scan rows [first, last]
// (every `scanStep`-th; at least three pixels, or all of fewer): the level
// of a clear part, unmoved by a pixel that overshoots at a sharp edge or by
// one only partly clear. Pixel values are whole 8-bit values (luminance
// rounded), so one histogram per working row finds them.
LightLevels brightestLevels(const cv::Mat& scan, int first, int last, int scanStep, int workingStep,
                            ColorElement element, double share) {
    LightLevels out;
    const int columns = scan.cols;
    const int channels = scan.channels();
    const int pixels = (last - first) / scanStep + 1;
    const int count = std::min(pixels, std::max(3, static_cast<int>(std::ceil(share * pixels))));
    const int rank = count / 2; // 0 for the brightest
    // working rows 0, step, 2 step, ... are scan columns columns - 1 - r
    for (int r = 0; r < columns; r += workingStep) {
        out.rows.push_back(r);
    }
    const std::size_t read = out.rows.size();
    std::vector<std::uint16_t> histograms(read * 256, 0);
    const bool luma = channels == 3 && element == ColorElement::Y;
    const int channel = channels == 1 ? 0 : channelOf(element);
    for (int y = first; y <= last; y += scanStep) {
        const uchar* row = scan.ptr<uchar>(y);
        for (std::size_t k = 0; k < read; ++k) {
            const uchar* p = row + (columns - 1 - out.rows[k]) * channels;
            const int v =
                luma ? (kLumaBlue256 * p[0] + kLumaGreen256 * p[1] + kLumaRed256 * p[2] + 128) >> 8
                     : p[channel];
            ++histograms[k * 256 + static_cast<std::size_t>(v)];
        }
    }
    out.levels.resize(read);
    for (std::size_t k = 0; k < read; ++k) {
        const std::uint16_t* h = histograms.data() + k * 256;
        int above = 0;
        int v = 255;
        while (v > 0 && above + h[v] <= rank) {
            above += h[v];
            --v;
        }
        out.levels[k] = static_cast<float>(v);
    }
    return out;
}

// Rows whose level may stand for the light: below clipping, and for
// perforation light only the rows that see it.
std::vector<unsigned char> usableLightRows(std::span<const float> level, bool onlyLitRows) {
    const int rows = static_cast<int>(level.size());
    std::vector<unsigned char> usable(level.size(), 0);
    cv::Mat localMaximum;
    if (onlyLitRows && rows > 0) {
        const int reach = std::max(1, rows / 10);
        const cv::Mat column(rows, 1, CV_32F, const_cast<float*>(level.data()));
        cv::dilate(column, localMaximum,
                   cv::getStructuringElement(cv::MORPH_RECT, cv::Size(1, 2 * reach + 1)),
                   cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    }
    for (int r = 0; r < rows; ++r) {
        const float v = level[static_cast<std::size_t>(r)];
        bool use = v < kClippedLevel && v > 1.0f;
        if (onlyLitRows) {
            use = use && v >= kLitShareOfLocalMaximum * localMaximum.at<float>(r);
        }
        usable[static_cast<std::size_t>(r)] = use ? 1 : 0;
    }
    return usable;
}

} // namespace

const char* searchBandName(SearchBand band) {
    switch (band) {
    case SearchBand::Track:
        return "track";
    case SearchBand::Edge:
        return "edge";
    case SearchBand::PictureNear:
        return "picture near";
    case SearchBand::PictureMiddle:
        return "picture middle";
    case SearchBand::PictureFar:
        return "picture far";
    }
    return "track";
}

std::vector<float> relativeHighPass(std::span<const float> values, int window) {
    const int n = static_cast<int>(values.size());
    std::vector<double> logs(values.size());
    std::vector<double> prefix(values.size() + 1, 0.0);
    for (int i = 0; i < n; ++i) {
        logs[static_cast<std::size_t>(i)] =
            std::log(std::max(static_cast<double>(values[static_cast<std::size_t>(i)]), 1.0));
        prefix[static_cast<std::size_t>(i + 1)] =
            prefix[static_cast<std::size_t>(i)] + logs[static_cast<std::size_t>(i)];
    }
    const int half = std::max(window, 1) / 2;
    std::vector<float> out(values.size());
    for (int i = 0; i < n; ++i) {
        const int from = std::max(0, i - half);
        const int to = std::min(n, i + half + 1);
        const double mean =
            (prefix[static_cast<std::size_t>(to)] - prefix[static_cast<std::size_t>(from)]) /
            (to - from);
        out[static_cast<std::size_t>(i)] =
            static_cast<float>(std::exp(logs[static_cast<std::size_t>(i)] - mean) - 1.0);
    }
    return out;
}

namespace {

// The illumination fit: a polynomial along the rows, refitted without the
// rows it fits worst.
constexpr int kTerms = 5;             // 1, x, ..., x^4
constexpr double kKeepSigmas = 3;     // rows fitted worse than this are left out of the refit
constexpr double kLevelFloor = 0.25;  // residuals this small are always kept (8-bit units)
constexpr double kBrightShare = 0.04; // bright rows lie at most this share below the fit
// The median absolute deviation of normal scatter times this is its
// standard deviation.
constexpr double kMedianDeviationToSigma = 1.4826;

// The polynomial's terms at row r of `rows`: x runs from -1 at row 0 to +1
// at the last row.
void powersAt(int r, int rows, double* p) {
    const double x = 2.0 * r / (rows - 1) - 1.0;
    p[0] = 1.0;
    for (int k = 1; k < kTerms; ++k) {
        p[k] = p[k - 1] * x;
    }
}

double polynomialAt(const cv::Mat& coefficients, int r, int rows) {
    double p[kTerms];
    powersAt(r, rows, p);
    double v = 0.0;
    for (int k = 0; k < kTerms; ++k) {
        v += p[k] * coefficients.at<double>(k);
    }
    return v;
}

// The least-squares polynomial through the levels of the rows `kept`
// (indices into `at` and `level`).
cv::Mat fitPolynomial(std::span<const int> at, std::span<const float> level,
                      const std::vector<int>& kept, int rows) {
    cv::Mat design(static_cast<int>(kept.size()), kTerms, CV_64F);
    cv::Mat target(static_cast<int>(kept.size()), 1, CV_64F);
    for (int i = 0; i < static_cast<int>(kept.size()); ++i) {
        powersAt(at[static_cast<std::size_t>(kept[static_cast<std::size_t>(i)])], rows,
                 design.ptr<double>(i));
        target.at<double>(i) = level[static_cast<std::size_t>(kept[static_cast<std::size_t>(i)])];
    }
    cv::Mat coefficients;
    cv::solve(design, target, coefficients, cv::DECOMP_QR);
    return coefficients;
}

// The candidates the next pass keeps: those the fit leaves within
// kKeepSigmas of the scatter of all of them.
std::vector<int> rowsFittedWell(const cv::Mat& coefficients, std::span<const int> at,
                                std::span<const float> level, const std::vector<int>& candidates,
                                int rows, bool brightRowsOnly) {
    // residuals of every candidate, and their robust spread
    std::vector<double> residuals(candidates.size());
    std::vector<double> fits(candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const double fit =
            polynomialAt(coefficients, at[static_cast<std::size_t>(candidates[i])], rows);
        residuals[i] = level[static_cast<std::size_t>(candidates[i])] - fit;
        fits[i] = fit;
    }
    std::vector<double> magnitudes(residuals.size());
    std::transform(residuals.begin(), residuals.end(), magnitudes.begin(),
                   [](double v) { return std::abs(v); });
    std::nth_element(magnitudes.begin(), magnitudes.begin() + magnitudes.size() / 2,
                     magnitudes.end());
    const double sigma = kMedianDeviationToSigma * magnitudes[magnitudes.size() / 2];
    const double limit = std::max(kKeepSigmas * sigma, kLevelFloor);
    std::vector<int> kept;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        // rows that see the full light lie no further below the fit than
        // the scatter of the rest, and never kBrightShare below it: a row
        // at a perforation's edge, lit in part, would bend the fit, most
        // where it is extrapolated past the last lit row
        const bool keep =
            brightRowsOnly
                ? residuals[i] >= -std::min(kBrightShare * fits[i], limit) && residuals[i] <= limit
                : std::abs(residuals[i]) <= limit;
        if (keep) {
            kept.push_back(candidates[i]);
        }
    }
    return kept;
}

// The fit over every row, relative to its mean; empty when it reaches
// darkness, which stands for no light.
std::vector<float> relativeFit(const cv::Mat& coefficients, int rows) {
    std::vector<double> fit(static_cast<std::size_t>(rows));
    double sum = 0.0;
    for (int r = 0; r < rows; ++r) {
        const double v = polynomialAt(coefficients, r, rows);
        fit[static_cast<std::size_t>(r)] = v;
        sum += v;
    }
    const double mean = sum / rows;
    std::vector<float> relative(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        const double v = fit[static_cast<std::size_t>(r)] / mean;
        if (!(mean > 0.0) || !(v > 0.05)) {
            return {};
        }
        relative[static_cast<std::size_t>(r)] = static_cast<float>(v);
    }
    return relative;
}

std::vector<float> fitLight(std::span<const int> at, std::span<const float> level,
                            std::span<const unsigned char> usable, int rows, bool brightRowsOnly) {
    // candidates and kept rows are indices into `at` and `level`
    const int read = static_cast<int>(std::min({at.size(), level.size(), usable.size()}));
    std::vector<int> candidates;
    for (int k = 0; k < read; ++k) {
        if (usable[static_cast<std::size_t>(k)] != 0) {
            candidates.push_back(k);
        }
    }
    if (rows < 2 || static_cast<int>(candidates.size()) < std::max(16, read / 5)) {
        return {};
    }
    std::vector<int> kept = candidates;
    cv::Mat coefficients;
    for (int pass = 0; pass < (brightRowsOnly ? 4 : 3); ++pass) {
        if (static_cast<int>(kept.size()) < kTerms * 4) {
            return {};
        }
        coefficients = fitPolynomial(at, level, kept, rows);
        kept = rowsFittedWell(coefficients, at, level, candidates, rows, brightRowsOnly);
    }
    return relativeFit(coefficients, rows);
}

} // namespace

std::vector<float> fittedIllumination(std::span<const float> level,
                                      std::span<const unsigned char> usable, bool brightRowsOnly) {
    std::vector<int> at(level.size());
    std::iota(at.begin(), at.end(), 0);
    return fitLight(at, level, usable, static_cast<int>(level.size()), brightRowsOnly);
}

namespace {

// A trimmed scan as it lies, with the frame's working geometry: working rows
// run along the scan's columns, working columns are scan rows.
struct ScanFrame {
    const cv::Mat& scan;
    bool rotationUp = true;
    int width() const { return scan.rows; } // working columns
    int rows() const { return scan.cols; }  // working rows
    int channels() const { return scan.channels(); }
    // working columns [first, last] of an UP frame as rows of this scan
    StripRange scanRows(int first, int last) const {
        return imageColumns(first, last, width(), rotationUp);
    }
};

// The smoothing window of the search profiles' high-pass, odd.
int highPassWindow(int rows, SoundtrackType type, bool longStrip) {
    const int framesInScan = isLongStrip16(type, longStrip) ? 4 : 1;
    const int window =
        std::max(kMinHighPassWindow, roundHalfAway(kHighPassShareOfPitch * rows / framesInScan));
    return window | 1;
}

// The bands' profiles, high-passed, and their columns: the track's from its
// samples, the others from their brightness. `up` is the track band in UP
// columns.
void readSearchProfiles(ArchivalFrame& frame, const ScanFrame& f, StripRange up, int window) {
    const auto setBand = [&](SearchBand band, int firstUp, int lastUp) {
        const std::size_t b = static_cast<std::size_t>(band);
        frame.bandColumns[b] = 0.5 * (firstUp + lastUp);
        if (lastUp < firstUp) {
            return;
        }
        const StripRange rows = f.scanRows(firstUp, lastUp);
        const int step = stepFor(rows.last - rows.first + 1, kProfileRowsPerBand);
        frame.profiles[b] = relativeHighPass(
            brightnessMeans(rowSums(f.scan, rows.first, rows.last, step), f.channels()), window);
    };
    frame.profiles[static_cast<int>(SearchBand::Track)] = relativeHighPass(frame.samples, window);
    frame.bandColumns[static_cast<int>(SearchBand::Track)] = 0.5 * (up.first + up.last);
    setBand(SearchBand::Edge, 0, up.first - 1);
    const int pictureFirst = up.last + 1;
    const int pictureColumns = f.width() - pictureFirst;
    if (pictureColumns >= 3) {
        const int third = pictureColumns / 3;
        setBand(SearchBand::PictureNear, pictureFirst, pictureFirst + third - 1);
        setBand(SearchBand::PictureMiddle, pictureFirst + third, pictureFirst + 2 * third - 1);
        setBand(SearchBand::PictureFar, pictureFirst + 2 * third, f.width() - 1);
    }
}

// The light along the frame, relative to its mean (empty when nothing
// usable was read): the clear part of a variable-area track, the
// perforation light beside a variable-density one.
// `track` holds the band's scan rows as the samples were read from them.
std::vector<float> readLight(ArchivalFrame& frame, const ScanFrame& f, const cv::Mat& track,
                             StripRange up, ColorElement element, SoundtrackType type) {
    const int workingStep = stepFor(f.rows(), kLightWorkingRows);
    if (type == SoundtrackType::VariableDensity35) {
        if (up.first < 1) {
            return {};
        }
        const StripRange edge = f.scanRows(0, up.first - 1);
        const LightLevels light = brightestLevels(
            f.scan, edge.first, edge.last, stepFor(edge.last - edge.first + 1, kLightScanRows),
            workingStep, ColorElement::Y, 0.0);
        frame.light = LightReference::EdgeLight;
        return fitLight(light.rows, light.levels, usableLightRows(light.levels, true), f.rows(),
                        true);
    }
    const LightLevels clear =
        brightestLevels(track, 0, track.rows - 1, stepFor(frame.bandWidth, kLightScanRows),
                        workingStep, element, kClearShare);
    frame.light = LightReference::TrackClear;
    return fitLight(clear.rows, clear.levels, usableLightRows(clear.levels, false), f.rows(),
                    false);
}

// The light to flatten by: all ones when none was read or it varies by
// less than kNegligibleFalloff.
std::vector<float> flatteningLight(std::vector<float> light, int rows) {
    if (!light.empty()) {
        const auto [low, high] = std::minmax_element(light.begin(), light.end());
        if (*high < (1.0f + kNegligibleFalloff) * *low) {
            light.clear(); // evenly lit: nothing worth flattening
        }
    }
    return light.empty() ? std::vector<float>(static_cast<std::size_t>(rows), 1.0f)
                         : std::move(light);
}

} // namespace

ArchivalFrame archivalFrameOfScan(const cv::Mat& trimmedScan, StripRange track,
                                  ColorElement element, SoundtrackType type, bool rotationUp,
                                  bool longStrip, const DeepScan* deep) {
    ArchivalFrame frame;
    const cv::Mat& scan = trimmedScan;
    if (scan.empty() || scan.depth() != CV_8U || (scan.channels() != 1 && scan.channels() != 3)) {
        return frame;
    }
    const ScanFrame f{scan, rotationUp};
    const StripRange band = clipStripRange(track, f.width());
    frame.bandWidth = band.last - band.first + 1;
    const StripRange up = f.scanRows(band.first, band.last); // the band in UP columns

    // the track: per row, the colour element's mean across every row of the
    // band. Y is each pixel's luminance, as the standard samples read it, so
    // that both paths hear the same track; the weights applied to the
    // channels' means instead would differ from it by the pixels' rounding.
    cv::Mat trackRows = scan.rowRange(band.first, band.last + 1);
    if (element == ColorElement::Y) {
        trackRows = greyPixels(trackRows);
    }
    frame.samples = deep != nullptr ? deepTrackMeans(*deep, band, element)
                                    : elementMeans(rowSums(trackRows, 0, trackRows.rows - 1, 1),
                                                   trackRows.channels(), element);
    const int window = highPassWindow(f.rows(), type, longStrip);
    frame.profileMargin = window / 2;
    readSearchProfiles(frame, f, up, window);
    std::vector<float> light = readLight(frame, f, trackRows, up, element, type);
    if (light.empty()) {
        frame.light = LightReference::None;
    }
    frame.illumination = flatteningLight(std::move(light), f.rows());
    return frame;
}

ArchivalFrame archivalFrame(const cv::Mat& workingImage, StripRange track, ColorElement element,
                            SoundtrackType type, bool rotationUp, bool longStrip) {
    // the scan as it lay before it was turned anticlockwise
    cv::Mat scan;
    if (!workingImage.empty()) {
        cv::rotate(workingImage, scan, cv::ROTATE_90_CLOCKWISE);
    }
    return archivalFrameOfScan(scan, track, element, type, rotationUp, longStrip);
}

void reverseRows(ArchivalFrame& frame) {
    // the margins are the same at both ends
    ReverseSamples(frame.samples);
    ReverseSamples(frame.illumination);
    for (std::vector<float>& profile : frame.profiles) {
        ReverseSamples(profile);
    }
}

} // namespace veltrana
