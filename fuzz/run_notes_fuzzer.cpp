// libFuzzer target: the outside files a run reads only to say something of
// itself: a rendered truth.json beside the scans (its film speed), and the
// delivered WAV read back for the run report's waveform. Each input is
// given to both readers.
//
// The WAV's bytes lie in a memory file, reached by its /proc name, so
// nothing is written to the disk.

#include "job/rendered_speed.h"
#include "report/delivered_sound.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)veltrana::renderedFilmSpeedOf(
        std::string_view(reinterpret_cast<const char*>(data), size));

    const int fd = ::memfd_create("sound", MFD_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    (void)veltrana::readDeliveredSound("/proc/self/fd/" + std::to_string(fd), 64);
    ::close(fd);
    return 0;
}
