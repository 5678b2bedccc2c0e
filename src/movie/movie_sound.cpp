#include "movie/movie_sound.h"

#include "soundtrack/resample.h"
#include "soundtrack/sound_delivery.h"

#include <algorithm>
#include <cmath>

namespace veltrana {

namespace {

// One 8-bit step of the standard scale, as a share of full scale.
constexpr float kEightBitStep = 1.0f / 128.0f;

double medianOf(std::vector<double> values) {
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) {
        return upper;
    }
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return 0.5 * (lower + upper);
}

} // namespace

Result<FrameAdvance> measuredFrameAdvance(std::span<const double> joins, int framesPerScan) {
    if (joins.empty() || framesPerScan < 1) {
        return Status::failure("a reel of one scan has no join to measure the frame advance on");
    }
    const double median = medianOf({joins.begin(), joins.end()});
    // the joins around the median: a misjoin far from it counts for nothing
    double sum = 0;
    int used = 0;
    for (double join : joins) {
        if (std::abs(join - median) <= kNearMedianShare * median) {
            sum += join;
            ++used;
        }
    }
    FrameAdvance advance;
    advance.rows = (sum / used) / framesPerScan;
    advance.joinsUsed = used;
    advance.joinsCounted = static_cast<int>(joins.size());
    return advance;
}

Result<std::vector<float>> movieSoundSamples(std::span<const float> stream,
                                             const SoundPlacement& p) {
    const double fps = p.pictureRate.perSecond();
    if (p.rowsPerFrame <= 0 || fps <= 0 || p.sampleRate <= 0 || p.advance < 0) {
        return Status::failure("the sound cannot be timed against the pictures");
    }
    // the first whole row at or after the first frame line
    const auto firstRow = static_cast<std::size_t>(
        std::clamp(std::ceil(p.firstFrameLine), 0.0, static_cast<double>(stream.size())));
    // when that row plays: the advance, and the row's fraction past the line
    const double streamRate = fps * p.rowsPerFrame;
    const double firstRowSeconds =
        p.advance / fps + (static_cast<double>(firstRow) - p.firstFrameLine) / streamRate;
    const auto silence = static_cast<std::size_t>(std::llround(firstRowSeconds * p.sampleRate));
    Result<std::vector<float>> played =
        resampleSound(stream.subspan(firstRow), streamRate, p.sampleRate);
    if (!played) {
        return played.status();
    }
    std::vector<float> samples(silence, 0.0f);
    samples.insert(samples.end(), played->begin(), played->end());
    for (float& s : samples) {
        s = std::clamp(s, -1.0f, 1.0f);
    }
    return samples;
}

int picturesCovering(std::int64_t soundSamples, int sampleRate, FrameRate pictureRate,
                     int pictures) {
    if (sampleRate <= 0) {
        return pictures;
    }
    // pictures x denominator / numerator seconds against samples / rate
    const std::int64_t needed =
        (soundSamples * pictureRate.numerator +
         static_cast<std::int64_t>(sampleRate) * pictureRate.denominator - 1) /
        (static_cast<std::int64_t>(sampleRate) * pictureRate.denominator);
    return std::max(pictures, static_cast<int>(needed));
}

std::vector<float> movieSoundLevels(std::span<const float> stream, bool centredOnZero,
                                    bool removeDc) {
    std::vector<float> levels(stream.size());
    if (centredOnZero) {
        std::transform(stream.begin(), stream.end(), levels.begin(),
                       [](float s) { return std::clamp(s * kEightBitStep, -1.0f, 1.0f); });
        return levels;
    }
    const std::vector<std::uint8_t> bytes = soundtrackBytes(stream, removeDc);
    std::transform(bytes.begin(), bytes.end(), levels.begin(),
                   [](std::uint8_t b) { return (static_cast<float>(b) - 128.0f) * kEightBitStep; });
    return levels;
}

} // namespace veltrana
