#include "soundtrack/resample.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace veltrana {

namespace {

struct ResamplerDeleter {
    void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};
using Resampler = std::unique_ptr<std::remove_pointer_t<soxr_t>, ResamplerDeleter>;

// The input is fed this many samples at a time: libsoxr buffers what it is
// given, so a whole reel given at once would be held again, and more, inside
// it. Its filters keep their state from block to block, so the samples made
// are the same whatever the blocks.
constexpr std::size_t kBlockSamples = 1 << 16;

} // namespace

Result<std::vector<float>> resampleSound(std::span<const float> samples, double fromRate,
                                         double toRate) {
    if (fromRate == toRate || samples.empty() || fromRate <= 0 || toRate <= 0) {
        return std::vector<float>(samples.begin(), samples.end());
    }
    const auto outCount = static_cast<std::size_t>(
        std::llround(static_cast<double>(samples.size()) * toRate / fromRate));
    std::vector<float> out(outCount);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    // one thread: the same samples whatever the machine
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    const Resampler resampler(soxr_create(fromRate, toRate, 1, &error, &io, &quality, &runtime));
    std::size_t fed = 0;
    std::size_t made = 0;
    while (error == nullptr && made < out.size()) {
        const std::size_t block = std::min(kBlockSamples, samples.size() - fed);
        const bool last = fed + block == samples.size();
        std::size_t taken = 0;
        std::size_t given = 0;
        // a length's complement asks for the end of the input: the filters
        // are then flushed
        error = soxr_process(resampler.get(), samples.data() + fed, last ? ~block : block, &taken,
                             out.data() + made, out.size() - made, &given);
        fed += taken;
        made += given;
        if (taken == 0 && given == 0) {
            break;
        }
    }
    if (error != nullptr) {
        return Status::failure(std::string("the sound could not be resampled: ") + error);
    }
    out.resize(made);
    return out;
}

} // namespace veltrana
