// libFuzzer target: the outside files a run reads only to say something of
// itself: a rendered truth.json beside the scans (its film speed), and the
// delivered WAV read back for the run report's waveform. Each input is
// given to both readers.

#include "memory_file.h"

#include "job/rendered_speed.h"
#include "report/delivered_sound.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)veltrana::renderedFilmSpeedOf(
        std::string_view(reinterpret_cast<const char*>(data), size));

    const veltrana::fuzzing::MemoryFile sound(data, size);
    if (sound.ok()) {
        (void)veltrana::readDeliveredSound(sound.path(), 64);
    }
    return 0;
}
