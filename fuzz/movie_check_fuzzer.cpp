// libFuzzer target: the bytes of a finished movie, read back as the film job
// reads its movie before the rename: the AVI layout walked chunk by chunk,
// then every frame decoded by FFmpeg's libraries.
//
// The bytes lie in a memory file, reached by its /proc name, so nothing is
// written to the disk. The first two bytes choose how many frames the
// movie must hold, so that both the count and the decoding are reached; the
// third whether it is the silent movie or a movie with sound, and in which
// container.

#include "movie/movie_check.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// A movie of more frames than this takes the fuzzer too long per input.
constexpr std::uint32_t kMostFrames = 64;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    veltrana::silenceMovieLibraryLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::uint32_t frames = (data[0] | (data[1] << 8)) % (kMostFrames + 1);
    const int fd = ::memfd_create("movie", MFD_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    std::size_t done = 4;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int kind = data[2] % 4;
    if (kind == 0) {
        (void)veltrana::checkFinishedMovie(path, static_cast<int>(frames));
    } else {
        veltrana::MovieExpectation expected;
        expected.container = static_cast<veltrana::MovieContainer>(kind - 1);
        expected.frames = static_cast<int>(frames);
        expected.soundSamples = static_cast<std::int64_t>(data[3]) * 1024;
        (void)veltrana::checkFinishedMovie(path, expected);
    }
    ::close(fd);
    return 0;
}
