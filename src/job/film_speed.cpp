#include "job/film_speed.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace veltrana {

namespace {

constexpr int kNtscDenominator = 1001;
constexpr int kMostDecimals = 6;

std::optional<long long> wholeNumber(std::string_view text) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

std::optional<FilmSpeed> withinRange(long long numerator, long long denominator) {
    if (denominator <= 0 || numerator < kSlowestFilmSpeed * denominator ||
        numerator > kFastestFilmSpeed * denominator) {
        return std::nullopt;
    }
    return FilmSpeed(static_cast<int>(numerator), static_cast<int>(denominator));
}

// "23.976": the 1000/1001 rate it rounds, when it is one; otherwise the
// decimal as it stands.
std::optional<FilmSpeed> decimalSpeed(std::string_view whole, std::string_view decimals) {
    const auto units = wholeNumber(whole);
    const auto fraction = wholeNumber(decimals);
    if (!units || !fraction || decimals.size() > kMostDecimals) {
        return std::nullopt;
    }
    long long scale = 1;
    for (std::size_t i = 0; i < decimals.size(); ++i) {
        scale *= 10;
    }
    const long long value = *units * scale + *fraction; // the speed times scale
    // the whole rate it may be a 1000/1001 share of
    const long long nominal = std::llround(static_cast<double>(value) * 1.001 / scale);
    const double ntsc = static_cast<double>(nominal) * 1000.0 / kNtscDenominator;
    const bool rounded = std::llround(ntsc * static_cast<double>(scale)) == value;
    if (decimals.size() >= 2 && rounded && value % scale != 0) {
        return withinRange(nominal * 1000, kNtscDenominator);
    }
    return withinRange(value, scale);
}

} // namespace

FilmSpeed::FilmSpeed(int n, int d) {
    const int common = std::gcd(n, d);
    numerator = common > 0 ? n / common : n;
    denominator = common > 0 ? d / common : d;
}

bool FilmSpeed::givesWholeRate(int framePitch) const {
    return (static_cast<long long>(numerator) * framePitch) % denominator == 0;
}

std::optional<FilmSpeed> parseFilmSpeed(std::string_view text) {
    if (const std::size_t slash = text.find('/'); slash != std::string_view::npos) {
        const auto n = wholeNumber(text.substr(0, slash));
        const auto d = wholeNumber(text.substr(slash + 1));
        return n && d ? withinRange(*n, *d) : std::nullopt;
    }
    if (const std::size_t dot = text.find('.'); dot != std::string_view::npos) {
        return decimalSpeed(text.substr(0, dot), text.substr(dot + 1));
    }
    const auto whole = wholeNumber(text);
    return whole ? withinRange(*whole, 1) : std::nullopt;
}

std::string filmSpeedText(const FilmSpeed& speed) {
    if (speed.denominator == 1) {
        return std::to_string(speed.numerator);
    }
    // a decimal when the fraction has one of at most three places, or is a
    // 1000/1001 rate (rounded to three)
    if (1000 % speed.denominator == 0 || speed.denominator == kNtscDenominator) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", speed.perSecond());
        std::string decimal = text;
        while (decimal.back() == '0') {
            decimal.pop_back();
        }
        return decimal;
    }
    return std::to_string(speed.numerator) + "/" + std::to_string(speed.denominator);
}

double secondsOfTimecode(const DpxTimecode& t, const FilmSpeed& speed) {
    const long long base = std::llround(speed.perSecond());
    const long long minutes = t.hours * 60LL + t.minutes;
    long long frames = (minutes * 60 + t.seconds) * base + t.frames;
    if (t.dropFrame && base % 30 == 0) {
        // two frame numbers (four at 60) dropped every minute but each tenth
        const long long perMinute = 2 * (base / 30);
        frames -= perMinute * (minutes - minutes / 10);
    }
    return static_cast<double>(frames) / speed.perSecond();
}

} // namespace veltrana
