#include "soundtrack/sound_delivery.h"

#include "geometry/trace.h"
#include "soundtrack/plik.h"
#include "soundtrack/resample.h"
#include "soundtrack/sound_file.h"

#include <algorithm>
#include <cmath>

namespace veltrana {

namespace {

constexpr int kStandardBits = 8;

// The standard file, byte for byte.
Result<SoundWritten> writeStandardWav(int descriptor, const std::string& name,
                                      std::span<const float> stream,
                                      const SoundDelivery& delivery) {
    Plik plik;
    plik.sampleRate = static_cast<std::uint32_t>(delivery.filmRate);
    plik.bitsPerSample = kStandardBits;
    const std::vector<std::uint8_t> bytes = soundtrackBytes(stream, delivery.removeDc);
    Status written = plik.open(descriptor);
    if (written) {
        written = plik.write(bytes);
        if (!written) {
            trace("Data lost");
        }
        // the sizes are completed even after a short write, as always
        const Status closed = plik.close();
        if (written) {
            written = closed;
        }
    }
    if (!written) {
        return Status::failure("Cannot write the sound to " + name + ": " + written.message());
    }
    SoundWritten done;
    done.sampleRate = plik.sampleRate;
    done.samples = stream.size();
    return done;
}

// A Broadcast WAV, of samples centred on 0 in 8-bit steps.
Result<SoundWritten> writeBroadcastSound(int descriptor, const std::string& name,
                                         std::vector<float> sound, const SoundDelivery& delivery) {
    if (!delivery.centredOnZero) {
        // standard levels, centred as the byte conversion expects them
        const float offset = delivery.removeDc ? 128.0f : -128.0f;
        for (float& v : sound) {
            v += offset;
        }
    }
    const double filmRate = delivery.filmRate;
    const SoundFormat& format = delivery.format;
    double rate = filmRate;
    if (format.outputRate > 0 && format.outputRate != filmRate) {
        Result<std::vector<float>> resampled = resampleSound(sound, filmRate, format.outputRate);
        if (!resampled) {
            return Status::failure("Cannot write the sound to " + name + ": " +
                                   resampled.message());
        }
        sound = std::move(resampled).value();
        rate = format.outputRate;
    }
    // a film rate that is no whole number never reaches the file unresampled
    const int fileRate = static_cast<int>(rate);
    BroadcastInfo info;
    info.description = delivery.description;
    info.codingHistory = codingHistoryLine(static_cast<int>(std::lround(filmRate)), 32,
                                           "Veltrana " VELTRANA_VERSION " film scan");
    info.codingHistory +=
        codingHistoryLine(fileRate, format.bitsPerSample, "Veltrana " VELTRANA_VERSION);
    info.timeReference =
        static_cast<std::uint64_t>(std::llround(delivery.secondsSinceMidnight * fileRate));
    const Result<WaveWritten> written =
        writeBroadcastWave(descriptor, name, sound, fileRate, format.bitsPerSample, info);
    if (!written) {
        return written.status();
    }
    SoundWritten done;
    done.sampleRate = static_cast<std::uint32_t>(fileRate);
    done.bitsPerSample = format.bitsPerSample;
    done.broadcastWave = true;
    done.samples = written->samples;
    done.clipped = written->clipped;
    return done;
}

} // namespace

WavKind wavKindFor(const SoundFormat& format, bool centredOnZero) {
    const bool standard =
        format.bitsPerSample == kStandardBits && format.outputRate == 0 && !centredOnZero;
    return standard ? WavKind::Standard : WavKind::Broadcast;
}

std::uint8_t sampleToByte(float sample) {
    // values beyond int cannot reach here after saturation; keep the cast defined anyway
    const float limited =
        std::isnan(sample) ? 0.0f : std::clamp(sample, -2147483520.0f, 2147483520.0f);
    return static_cast<std::uint8_t>(static_cast<unsigned>(static_cast<int>(limited)) & 0xffu);
}

std::vector<std::uint8_t> soundtrackBytes(std::span<const float> stream, bool removeDc) {
    const float low = removeDc ? -256.0f : 0.0f;
    const float high = removeDc ? -1.0f : 255.0f;
    std::vector<std::uint8_t> bytes(stream.size());
    for (std::size_t i = 0; i < stream.size(); ++i) {
        bytes[i] = sampleToByte(std::clamp(stream[i], low, high));
    }
    return bytes;
}

Result<SoundWritten> writeSound(int descriptor, const std::string& name, std::vector<float> stream,
                                const SoundDelivery& delivery) {
    if (wavKindFor(delivery.format, delivery.centredOnZero) == WavKind::Standard) {
        return writeStandardWav(descriptor, name, stream, delivery);
    }
    return writeBroadcastSound(descriptor, name, std::move(stream), delivery);
}

} // namespace veltrana
