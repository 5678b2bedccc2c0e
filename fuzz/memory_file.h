#pragma once
// A fuzz input's bytes in a memory file, for readers that take a path: the
// file is reached by its /proc name, so nothing is written to the disk.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltrana::fuzzing {

class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size)
        : fd(::memfd_create("fuzz-input", MFD_CLOEXEC)) {
        std::size_t done = 0;
        while (fd >= 0 && done < size) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    ~MemoryFile() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool ok() const { return fd >= 0; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }

private:
    int fd;
};

} // namespace veltrana::fuzzing
