#include "report/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

namespace veltrana {

namespace {

constexpr int kLeft = 64;
constexpr int kRight = 16;
constexpr int kTop = 12;
constexpr int kNoteLine = 15; // each note takes a line above the plot area
constexpr int kBottom = 42;

std::string num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

// A tick label: as few digits as the step needs.
std::string tickLabel(double v, double step) {
    char text[32];
    const int decimals =
        step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step))));
    std::snprintf(text, sizeof text, "%.*f", decimals, std::abs(v) < step * 1e-6 ? 0.0 : v);
    return text;
}

// A round step (1, 2 or 5 times a power of ten) giving about `count` ticks.
double tickStep(double span, int count) {
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw) {
            return m * power;
        }
    }
    return 10 * power;
}

void widen(double& low, double& high) {
    if (!std::isfinite(low) || !std::isfinite(high)) {
        low = 0;
        high = 1;
    } else if (high - low < 1e-9) {
        const double pad = std::max(1.0, std::abs(low) * 0.05);
        low -= pad;
        high += pad;
    }
}

// U+FFFD, in place of bytes that are no UTF-8
constexpr std::string_view kReplacementCharacter = "\xef\xbf\xbd";

// The length of the well-formed UTF-8 sequence at text[at] (a byte of 0x80
// or above), or 0 when it is none: no overlong forms, no surrogates, nothing
// past U+10FFFF.
std::size_t utf8SequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80; // the range of the second byte
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(at + k) < 0x80 || byte(at + k) > 0xbf) {
            return 0;
        }
    }
    return length;
}

std::string dash(bool dashed) {
    return dashed ? " stroke-dasharray=\"5,4\"" : "";
}

} // namespace

std::string escapeMarkup(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x80) {
                // a file name's bytes need not be UTF-8; the page is
                const std::size_t length = utf8SequenceLength(text, i);
                out += length == 0 ? std::string(kReplacementCharacter) : text.substr(i, length);
                i += length == 0 ? 1 : length;
                continue;
            }
            out += c;
        }
        ++i;
    }
    return out;
}

SvgPlot::SvgPlot(int width, int height, std::string xLabel, std::string yLabel)
    : width(width), height(height), xLabel(std::move(xLabel)), yLabel(std::move(yLabel)) {}

void SvgPlot::setX(double low, double high) {
    widen(low, high);
    x0 = low;
    x1 = high;
}

void SvgPlot::setY(double low, double high) {
    widen(low, high);
    y0 = low;
    y1 = high;
}

void SvgPlot::fit(const std::vector<PlotPoint>& points, double& low, double& high, bool isX) {
    low = std::numeric_limits<double>::infinity();
    high = -low;
    for (const PlotPoint& p : points) {
        const double v = isX ? p.x : p.y;
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    if (!isX && std::isfinite(low) && high > low) {
        const double pad = (high - low) * 0.08;
        low -= pad;
        high += pad;
    }
}

int SvgPlot::top() const {
    return kTop + kNoteLine * static_cast<int>(notes.size());
}

double SvgPlot::px(double x) const {
    return kLeft + (x - x0) / (x1 - x0) * (width - kLeft - kRight);
}

double SvgPlot::py(double y) const {
    return height - kBottom - (y - y0) / (y1 - y0) * (height - top() - kBottom);
}

void SvgPlot::line(const std::vector<PlotPoint>& points, const std::string& colour, double w,
                   bool dashed) {
    std::string run;
    int count = 0;
    const auto flush = [&] {
        if (count > 1) {
            body += "<polyline fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"" + num(w) +
                    "\"" + dash(dashed) + " stroke-linejoin=\"round\" points=\"" + run + "\"/>\n";
        }
        run.clear();
        count = 0;
    };
    for (const PlotPoint& p : points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            flush();
            continue;
        }
        run += num(px(p.x)) + "," + num(py(p.y)) + " ";
        ++count;
    }
    flush();
}

void SvgPlot::dots(const std::vector<PlotPoint>& points, const std::string& colour, double radius) {
    for (const PlotPoint& p : points) {
        if (std::isfinite(p.x) && std::isfinite(p.y)) {
            body += "<circle cx=\"" + num(px(p.x)) + "\" cy=\"" + num(py(p.y)) + "\" r=\"" +
                    num(radius) + "\" fill=\"" + colour + "\"/>\n";
        }
    }
}

void SvgPlot::envelope(const std::vector<double>& xs, const std::vector<double>& lows,
                       const std::vector<double>& highs, const std::string& colour) {
    if (xs.empty()) {
        return;
    }
    std::string points;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        points += num(px(xs[i])) + "," + num(py(highs[i])) + " ";
    }
    for (std::size_t i = xs.size(); i-- > 0;) {
        points += num(px(xs[i])) + "," + num(py(lows[i])) + " ";
    }
    body += "<polygon fill=\"" + colour + "\" stroke=\"" + colour +
            "\" stroke-width=\"0.6\" points=\"" + points + "\"/>\n";
}

void SvgPlot::verticalMark(double x, const std::string& colour, bool dashed) {
    body += "<line x1=\"" + num(px(x)) + "\" y1=\"" + num(top()) + "\" x2=\"" + num(px(x)) +
            "\" y2=\"" + num(height - kBottom) + "\" stroke=\"" + colour +
            "\" stroke-width=\"1.2\"" + dash(dashed) + "/>\n";
}

void SvgPlot::horizontalMark(double y, const std::string& colour, bool dashed) {
    body += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(py(y)) + "\" x2=\"" +
            num(width - kRight) + "\" y2=\"" + num(py(y)) + "\" stroke=\"" + colour +
            "\" stroke-width=\"1.2\"" + dash(dashed) + "/>\n";
}

void SvgPlot::note(const std::string& text) {
    notes.push_back(text);
}

std::string SvgPlot::svg() const {
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h +
                      "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"11\">\n";
    out += "<rect x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h + "\" fill=\"#ffffff\"/>\n";
    const double right = width - kRight;
    const double bottom = height - kBottom;
    // grid and ticks
    const double xs = tickStep(x1 - x0, std::max(3, (width - kLeft - kRight) / 80));
    for (double t = std::ceil(x0 / xs) * xs; t <= x1 + xs * 1e-9; t += xs) {
        out += "<line x1=\"" + num(px(t)) + "\" y1=\"" + num(top()) + "\" x2=\"" + num(px(t)) +
               "\" y2=\"" + num(bottom) + "\" stroke=\"#e6e6e6\"/>\n";
        out += "<text x=\"" + num(px(t)) + "\" y=\"" + num(bottom + 14) +
               "\" text-anchor=\"middle\" fill=\"#444\">" + tickLabel(t, xs) + "</text>\n";
    }
    const double ys = tickStep(y1 - y0, std::max(2, (height - top() - kBottom) / 40));
    for (double t = std::ceil(y0 / ys) * ys; t <= y1 + ys * 1e-9; t += ys) {
        out += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(py(t)) + "\" x2=\"" + num(right) +
               "\" y2=\"" + num(py(t)) + "\" stroke=\"#e6e6e6\"/>\n";
        out += "<text x=\"" + num(kLeft - 5) + "\" y=\"" + num(py(t) + 4) +
               "\" text-anchor=\"end\" fill=\"#444\">" + tickLabel(t, ys) + "</text>\n";
    }
    out += body;
    out += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(top()) + "\" width=\"" + num(right - kLeft) +
           "\" height=\"" + num(bottom - top()) + "\" fill=\"none\" stroke=\"#888\"/>\n";
    out += "<text x=\"" + num((kLeft + right) / 2) + "\" y=\"" + num(height - 6) +
           "\" text-anchor=\"middle\" fill=\"#222\">" + escapeMarkup(xLabel) + "</text>\n";
    const std::string yMiddle = num((top() + bottom) / 2);
    out += "<text x=\"14\" y=\"" + yMiddle + "\" text-anchor=\"middle\" fill=\"#222\" " +
           "transform=\"rotate(-90 14 " + yMiddle + ")\">" + escapeMarkup(yLabel) + "</text>\n";
    double y = kTop + 4;
    for (const std::string& n : notes) {
        out += "<text x=\"" + num(kLeft) + "\" y=\"" + num(y) + "\" fill=\"#222\">" +
               escapeMarkup(n) + "</text>\n";
        y += kNoteLine;
    }
    out += "</svg>\n";
    return out;
}

} // namespace veltrana
