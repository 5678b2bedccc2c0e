#include "report/delivered_sound.h"

#include <sndfile.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace veltrana {

namespace {

struct Closer {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

int bitsOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    default:
        return 0;
    }
}

} // namespace

Result<DeliveredSound> readDeliveredSound(const std::filesystem::path& wav, int stretches) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, Closer> file(sf_open(wav.c_str(), SFM_READ, &info));
    if (!file) {
        return Status::failure("Cannot read the sound " + wav.string() + ": " +
                               sf_strerror(nullptr));
    }
    DeliveredSound sound;
    sound.sampleRate = info.samplerate;
    sound.bits = bitsOf(info.format);
    if (info.channels != 1 || sound.bits == 0 || info.frames <= 0 || stretches <= 0) {
        return Status::failure("Cannot read the sound " + wav.string() +
                               ": it is not the mono PCM sound the run writes");
    }
    sound.samples = info.frames;
    // libsndfile gives -1..1; the file's own units are that times full scale
    const bool unsignedBytes = sound.bits == 8;
    sound.fullScale = unsignedBytes ? 128.0 : sound.bits == 16 ? 32768.0 : 8388608.0;
    const double centre = unsignedBytes ? 128.0 : 0.0;
    const auto count = static_cast<long long>(std::min<sf_count_t>(stretches, info.frames));
    sound.low.assign(static_cast<std::size_t>(count), std::numeric_limits<double>::infinity());
    sound.high.assign(static_cast<std::size_t>(count), -std::numeric_limits<double>::infinity());
    std::vector<double> chunk(1 << 15);
    long long at = 0;
    for (;;) {
        const sf_count_t got =
            sf_readf_double(file.get(), chunk.data(), static_cast<sf_count_t>(chunk.size()));
        if (got <= 0) {
            break;
        }
        for (sf_count_t i = 0; i < got; ++i, ++at) {
            const auto k = static_cast<std::size_t>(std::min(count - 1, at * count / info.frames));
            const double v = chunk[static_cast<std::size_t>(i)] * sound.fullScale + centre;
            sound.low[k] = std::min(sound.low[k], v);
            sound.high[k] = std::max(sound.high[k], v);
        }
    }
    return sound;
}

} // namespace veltrana
