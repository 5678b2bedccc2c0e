#include "soundtrack/resample.h"

#include <soxr.h>

#include <cmath>
#include <string>

namespace veltrana {

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
    std::size_t done = 0;
    const soxr_error_t error =
        soxr_oneshot(fromRate, toRate, 1, samples.data(), samples.size(), nullptr, out.data(),
                     out.size(), &done, &io, &quality, &runtime);
    if (error != nullptr) {
        return Status::failure(std::string("the sound could not be resampled: ") + error);
    }
    out.resize(done);
    return out;
}

} // namespace veltrana
