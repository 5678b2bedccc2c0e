#include "soundtrack/sound_file.h"

#include "soundtrack/wave_md5.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace veltrana {

namespace {

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

// Copies text into a fixed field, cut to fit (no terminating zero needed).
template <std::size_t N> void putField(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

int formatOf(int bits) {
    switch (bits) {
    case 8:
        return SF_FORMAT_PCM_U8;
    case 16:
        return SF_FORMAT_PCM_16;
    default:
        return SF_FORMAT_PCM_24;
    }
}

// The bext fields; the date and time of now where the info leaves them empty.
SF_BROADCAST_INFO bextChunk(const BroadcastInfo& info) {
    SF_BROADCAST_INFO bext{};
    putField(bext.description, info.description);
    putField(bext.originator, info.originator);
    std::string date = info.date;
    std::string time = info.time;
    if (date.empty() || time.empty()) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char text[16];
        std::strftime(text, sizeof text, "%Y-%m-%d", &local);
        date = date.empty() ? text : date;
        std::strftime(text, sizeof text, "%H:%M:%S", &local);
        time = time.empty() ? text : time;
    }
    putField(bext.origination_date, date);
    putField(bext.origination_time, time);
    bext.time_reference_low = static_cast<std::uint32_t>(info.timeReference & 0xffffffffu);
    bext.time_reference_high = static_cast<std::uint32_t>(info.timeReference >> 32);
    bext.version = 1;
    const std::size_t history = std::min(info.codingHistory.size(), sizeof bext.coding_history);
    std::memcpy(bext.coding_history, info.codingHistory.data(), history);
    bext.coding_history_size = static_cast<std::uint32_t>(history);
    return bext;
}

} // namespace

std::string codingHistoryLine(int rate, int bits, const std::string& software) {
    return "A=PCM,F=" + std::to_string(rate) + ",W=" + std::to_string(bits) +
           ",M=mono,T=" + software + "\r\n";
}

std::int32_t pcmValue(float sample, int bits, bool* clipped) {
    const double scale = bits == 8 ? 1.0 : (bits == 16 ? 256.0 : 65536.0);
    const double most = bits == 8 ? 127.0 : (bits == 16 ? 32767.0 : 8388607.0);
    const double least = -most - 1.0;
    double value = std::nearbyint(static_cast<double>(sample) * scale);
    const bool beyond = !(value >= least && value <= most); // a NaN is beyond too
    if (beyond) {
        value = std::isnan(value) ? 0.0 : std::clamp(value, least, most);
    }
    if (clipped != nullptr) {
        *clipped = beyond;
    }
    return static_cast<std::int32_t>(value);
}

Result<WaveWritten> writeBroadcastWave(int descriptor, const std::string& name,
                                       std::span<const float> samples, int rate, int bits,
                                       const BroadcastInfo& info) {
    const auto failed = [&name](const std::string& cause) {
        return Status::failure("Cannot write the sound to " + name + ": " + cause);
    };
    if (bits != 8 && bits != 16 && bits != 24) {
        return failed(std::to_string(bits) + " bits per sample are not written");
    }
    SF_INFO format{};
    format.samplerate = rate;
    format.channels = 1;
    format.format = SF_FORMAT_WAV | formatOf(bits);
    std::unique_ptr<SNDFILE, SoundFileCloser> file(sf_open_fd(descriptor, SFM_WRITE, &format, 0));
    if (!file) {
        return failed(sf_strerror(nullptr));
    }

    SF_BROADCAST_INFO bext = bextChunk(info);
    if (sf_command(file.get(), SFC_SET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE) {
        return failed("the Broadcast WAV header could not be set");
    }

    // whole units at the file's depth, in the top bits of an int as libsndfile takes them
    WaveWritten written;
    const int shift = 32 - bits;
    constexpr std::size_t kBlock = 1 << 16;
    std::vector<int> block;
    block.reserve(kBlock);
    for (std::size_t at = 0; at < samples.size(); at += kBlock) {
        const std::size_t n = std::min(kBlock, samples.size() - at);
        block.clear();
        for (std::size_t i = 0; i < n; ++i) {
            bool clipped = false;
            const std::int32_t value = pcmValue(samples[at + i], bits, &clipped);
            written.clipped += clipped ? 1 : 0;
            block.push_back(static_cast<int>(static_cast<std::uint32_t>(value) << shift));
        }
        if (sf_write_int(file.get(), block.data(), static_cast<sf_count_t>(n)) !=
            static_cast<sf_count_t>(n)) {
            return failed(sf_strerror(file.get()));
        }
        written.samples += n;
    }
    sf_write_sync(file.get());
    const int error = sf_error(file.get());
    SNDFILE* raw = file.release();
    if (error != SF_ERR_NO_ERROR || sf_close(raw) != 0) {
        return failed(error != SF_ERR_NO_ERROR ? sf_error_number(error)
                                               : "the file could not be completed");
    }
    const Status md5 = appendAudioMd5Chunk(descriptor, name);
    if (!md5) {
        return md5;
    }
    return written;
}

} // namespace veltrana
