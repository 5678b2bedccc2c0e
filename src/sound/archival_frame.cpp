#include "sound/archival_frame.h"

#include "geometry/profile.h"
#include "geometry/rounding.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace veltrana {

namespace {

// Luminance weights (blue, green, red), those of OpenCV's grey conversion.
constexpr double kLumaBlue = 0.114;
constexpr double kLumaGreen = 0.587;
constexpr double kLumaRed = 0.299;

// Share of the track band's pixels, per row, that stand for its clear part.
constexpr double kClearShare = 0.1;
// A reference level this bright may have clipped in the scanner.
constexpr float kClippedLevel = 250.0f;
// Perforation light: a row counts as lit when it reaches this share of the
// brightest light within a fifth of the frame around it.
constexpr float kLitShareOfLocalMaximum = 0.6f;
// Light that varies less than this share along a frame is left as it is.
constexpr float kNegligibleFalloff = 0.03f;
// Smoothing window of the search profiles' high-pass, as a share of a
// frame pitch (the rows of one frame: a long strip holds four).
constexpr double kHighPassShareOfPitch = 0.04;
constexpr int kMinHighPassWindow = 9;

bool isLongStrip16(SoundtrackType type, bool longStrip) {
    return longStrip && type == SoundtrackType::VariableArea16;
}

// Columns [first, last] of an UP frame as columns of this frame.
StripRange imageColumns(int first, int last, int width, bool rotationUp) {
    if (rotationUp) {
        return {first, last};
    }
    return {width - 1 - last, width - 1 - first};
}

// Per row, the mean of each channel over the columns of `range`.
cv::Mat channelMeansPerRow(const cv::Mat& image, StripRange range) {
    cv::Mat means;
    cv::reduce(image.colRange(range.first, range.last + 1), means, 1, cv::REDUCE_AVG, CV_32F);
    return means; // rows x 1, one float per channel
}

// The mean over the channels of every row: the brightness the search bands use.
std::vector<float> brightnessPerRow(const cv::Mat& means) {
    const int channels = means.channels();
    std::vector<float> out(static_cast<std::size_t>(means.rows));
    for (int r = 0; r < means.rows; ++r) {
        const float* m = means.ptr<float>(r);
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) {
            sum += m[c];
        }
        out[static_cast<std::size_t>(r)] = static_cast<float>(sum / channels);
    }
    return out;
}

int channelOf(ColorElement element) {
    switch (element) {
    case ColorElement::B:
        return 0;
    case ColorElement::G:
        return 1;
    case ColorElement::R:
        return 2;
    case ColorElement::Y:
        break;
    }
    return 0;
}

// The chosen colour element of a pixel given its channel values.
double elementOf(const float* bgr, int channels, ColorElement element) {
    if (channels == 1) {
        return bgr[0];
    }
    if (element == ColorElement::Y) {
        return kLumaBlue * bgr[0] + kLumaGreen * bgr[1] + kLumaRed * bgr[2];
    }
    return bgr[channelOf(element)];
}

double elementOf(const uchar* bgr, int channels, ColorElement element) {
    const float values[3] = {static_cast<float>(bgr[0]),
                             static_cast<float>(channels > 1 ? bgr[1] : 0),
                             static_cast<float>(channels > 2 ? bgr[2] : 0)};
    return elementOf(values, channels, element);
}

// Per row, the median of the brightest `share` of the pixels of `range` (at
// least three pixels, or all of a narrower range): the level of the clear
// part, unmoved by a pixel that overshoots at a sharp edge or by one only
// partly clear.
std::vector<float> brightestPerRow(const cv::Mat& image, StripRange range, ColorElement element,
                                   double share) {
    const int width = range.last - range.first + 1;
    const int count = std::min(width, std::max(3, static_cast<int>(std::ceil(share * width))));
    const int channels = image.channels();
    std::vector<float> out(static_cast<std::size_t>(image.rows));
    std::vector<float> pixels(static_cast<std::size_t>(width));
    for (int r = 0; r < image.rows; ++r) {
        const uchar* row = image.ptr<uchar>(r);
        for (int c = 0; c < width; ++c) {
            pixels[static_cast<std::size_t>(c)] = static_cast<float>(
                elementOf(row + (range.first + c) * channels, channels, element));
        }
        // the brightest `count` first, then their median
        std::nth_element(pixels.begin(), pixels.begin() + (count - 1), pixels.end(),
                         std::greater<float>());
        std::nth_element(pixels.begin(), pixels.begin() + count / 2, pixels.begin() + count,
                         std::greater<float>());
        out[static_cast<std::size_t>(r)] = pixels[static_cast<std::size_t>(count / 2)];
    }
    return out;
}

// Rows whose level may stand for the light: below clipping, and for
// perforation light only the rows that see it.
std::vector<unsigned char> usableLightRows(std::span<const float> level, bool onlyLitRows) {
    const int rows = static_cast<int>(level.size());
    std::vector<unsigned char> usable(level.size(), 0);
    cv::Mat localMaximum;
    if (onlyLitRows) {
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
            static_cast<float>(logs[static_cast<std::size_t>(i)] - mean);
    }
    return out;
}

std::vector<float> fittedIllumination(std::span<const float> level,
                                      std::span<const unsigned char> usable, bool brightRowsOnly) {
    constexpr int kTerms = 5;             // 1, x, ..., x^4
    constexpr double kKeepSigmas = 3;     // rows fitted worse than this are left out of the refit
    constexpr double kLevelFloor = 0.25;  // residuals this small are always kept (8-bit units)
    constexpr double kBrightShare = 0.04; // bright rows lie at most this share below the fit
    const int rows = static_cast<int>(level.size());
    std::vector<int> candidates;
    for (int r = 0; r < rows && r < static_cast<int>(usable.size()); ++r) {
        if (usable[static_cast<std::size_t>(r)] != 0) {
            candidates.push_back(r);
        }
    }
    if (rows < 2 || static_cast<int>(candidates.size()) < std::max(16, rows / 5)) {
        return {};
    }
    // x runs from -1 at row 0 to +1 at the last row
    auto xOf = [&](int r) { return 2.0 * r / (rows - 1) - 1.0; };
    auto powersOf = [&](int r, double* p) {
        const double x = xOf(r);
        p[0] = 1.0;
        for (int k = 1; k < kTerms; ++k) {
            p[k] = p[k - 1] * x;
        }
    };
    std::vector<int> kept = candidates;
    cv::Mat coefficients;
    for (int pass = 0; pass < (brightRowsOnly ? 4 : 3); ++pass) {
        if (static_cast<int>(kept.size()) < kTerms * 4) {
            return {};
        }
        cv::Mat design(static_cast<int>(kept.size()), kTerms, CV_64F);
        cv::Mat target(static_cast<int>(kept.size()), 1, CV_64F);
        for (int i = 0; i < static_cast<int>(kept.size()); ++i) {
            powersOf(kept[static_cast<std::size_t>(i)], design.ptr<double>(i));
            target.at<double>(i) =
                level[static_cast<std::size_t>(kept[static_cast<std::size_t>(i)])];
        }
        cv::solve(design, target, coefficients, cv::DECOMP_QR);
        // residuals of every candidate, and their robust spread
        std::vector<double> residuals(candidates.size());
        std::vector<double> fits(candidates.size());
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            double p[kTerms];
            powersOf(candidates[i], p);
            double fit = 0.0;
            for (int k = 0; k < kTerms; ++k) {
                fit += p[k] * coefficients.at<double>(k);
            }
            residuals[i] = level[static_cast<std::size_t>(candidates[i])] - fit;
            fits[i] = fit;
        }
        std::vector<double> magnitudes(residuals.size());
        std::transform(residuals.begin(), residuals.end(), magnitudes.begin(),
                       [](double v) { return std::abs(v); });
        std::nth_element(magnitudes.begin(), magnitudes.begin() + magnitudes.size() / 2,
                         magnitudes.end());
        const double sigma = 1.4826 * magnitudes[magnitudes.size() / 2];
        const double limit = std::max(kKeepSigmas * sigma, kLevelFloor);
        kept.clear();
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const bool keep = brightRowsOnly
                                  ? residuals[i] >= -kBrightShare * fits[i] && residuals[i] <= limit
                                  : std::abs(residuals[i]) <= limit;
            if (keep) {
                kept.push_back(candidates[i]);
            }
        }
    }
    // the fit over every row, relative to its mean
    std::vector<double> fit(static_cast<std::size_t>(rows));
    double sum = 0.0;
    for (int r = 0; r < rows; ++r) {
        double p[kTerms];
        powersOf(r, p);
        double v = 0.0;
        for (int k = 0; k < kTerms; ++k) {
            v += p[k] * coefficients.at<double>(k);
        }
        fit[static_cast<std::size_t>(r)] = v;
        sum += v;
    }
    const double mean = sum / rows;
    std::vector<float> relative(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        const double v = fit[static_cast<std::size_t>(r)] / mean;
        if (!(mean > 0.0) || !(v > 0.05)) {
            return {}; // a fit that reaches darkness stands for no light
        }
        relative[static_cast<std::size_t>(r)] = static_cast<float>(v);
    }
    return relative;
}

ArchivalFrame archivalFrame(const cv::Mat& workingImage, StripRange track, ColorElement element,
                            SoundtrackType type, bool rotationUp, bool longStrip) {
    ArchivalFrame frame;
    if (workingImage.empty() || workingImage.depth() != CV_8U) {
        return frame;
    }
    const int width = workingImage.cols;
    const int rows = workingImage.rows;
    const int channels = workingImage.channels();
    const StripRange band = clipStripRange(track, width);
    frame.bandWidth = band.last - band.first + 1;
    // the band in UP columns
    const StripRange up = imageColumns(band.first, band.last, width, rotationUp);

    // the track: per row, the colour element's mean across the band
    const cv::Mat trackMeans = channelMeansPerRow(workingImage, band);
    frame.samples.resize(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        frame.samples[static_cast<std::size_t>(r)] =
            static_cast<float>(elementOf(trackMeans.ptr<float>(r), channels, element));
    }

    // the search bands' profiles, high-passed
    const int framesInScan = isLongStrip16(type, longStrip) ? 4 : 1;
    int window =
        std::max(kMinHighPassWindow, roundHalfAway(kHighPassShareOfPitch * rows / framesInScan));
    window |= 1;
    frame.profileMargin = window / 2;
    auto bandProfile = [&](int firstUp, int lastUp) {
        if (lastUp < firstUp) {
            return std::vector<float>{};
        }
        const StripRange columns = imageColumns(firstUp, lastUp, width, rotationUp);
        return relativeHighPass(brightnessPerRow(channelMeansPerRow(workingImage, columns)),
                                window);
    };
    frame.profiles[static_cast<int>(SearchBand::Track)] = relativeHighPass(frame.samples, window);
    frame.profiles[static_cast<int>(SearchBand::Edge)] = bandProfile(0, up.first - 1);
    const int pictureFirst = up.last + 1;
    const int pictureColumns = width - pictureFirst;
    if (pictureColumns >= 3) {
        const int third = pictureColumns / 3;
        frame.profiles[static_cast<int>(SearchBand::PictureNear)] =
            bandProfile(pictureFirst, pictureFirst + third - 1);
        frame.profiles[static_cast<int>(SearchBand::PictureMiddle)] =
            bandProfile(pictureFirst + third, pictureFirst + 2 * third - 1);
        frame.profiles[static_cast<int>(SearchBand::PictureFar)] =
            bandProfile(pictureFirst + 2 * third, width - 1);
    }

    // the light along the frame: the clear part of a variable-area track,
    // the perforation light beside a variable-density one
    std::vector<float> illumination;
    if (type == SoundtrackType::VariableDensity35) {
        if (up.first >= 1) {
            const StripRange edge = imageColumns(0, up.first - 1, width, rotationUp);
            const std::vector<float> light =
                brightestPerRow(workingImage, edge, ColorElement::Y, 0.0);
            illumination = fittedIllumination(light, usableLightRows(light, true), true);
            frame.light = illumination.empty() ? LightReference::None : LightReference::EdgeLight;
        }
    } else {
        const std::vector<float> clear = brightestPerRow(workingImage, band, element, kClearShare);
        illumination = fittedIllumination(clear, usableLightRows(clear, false));
        frame.light = illumination.empty() ? LightReference::None : LightReference::TrackClear;
    }
    frame.illumination = illumination.empty()
                             ? std::vector<float>(static_cast<std::size_t>(rows), 1.0f)
                             : std::move(illumination);
    return frame;
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
