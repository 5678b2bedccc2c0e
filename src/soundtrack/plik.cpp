#include "soundtrack/plik.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace veltrana {

namespace {

constexpr std::uint32_t kFormatBlockSize = 18;
constexpr long kDataSizeOffset = 42;
constexpr long kRiffSizeOffset = 4;
constexpr std::uint32_t kHeaderAfterRiffSize = 38; // "WAVE" + fmt chunk + data chunk header

void putLe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xff);
    p[1] = static_cast<std::uint8_t>((v >> 8) & 0xff);
}

void putLe32(std::uint8_t* p, std::uint32_t v) {
    putLe16(p, v & 0xffff);
    putLe16(p + 2, v >> 16);
}

bool writeLe32At(std::FILE* f, long offset, std::uint32_t v) {
    std::array<std::uint8_t, 4> b{};
    putLe32(b.data(), v);
    return std::fseek(f, offset, SEEK_SET) == 0 && std::fwrite(b.data(), 1, 4, f) == 4;
}

// A write that failed, with the system's reason where it gave one.
std::string shortWrite(int error) {
    std::string cause = "the disk took only part of it";
    if (error != 0) {
        cause += std::string(" (") + std::strerror(error) + ")";
    }
    return cause;
}

} // namespace

Plik::~Plik() {
    static_cast<void>(close());
}

Status Plik::open(const std::filesystem::path& fileName) {
    static_cast<void>(close());
    errno = 0;
    std::FILE* f = std::fopen(fileName.c_str(), "wb");
    if (f == nullptr) {
        return Status::failure(std::string("the file cannot be created (") + std::strerror(errno) +
                               ")");
    }
    return begin(f);
}

Status Plik::open(int descriptor) {
    static_cast<void>(close());
    errno = 0;
    const int own = ::dup(descriptor);
    std::FILE* f = own < 0 ? nullptr : ::fdopen(own, "wb");
    if (f == nullptr) {
        const int error = errno;
        if (own >= 0) {
            ::close(own);
        }
        return Status::failure(std::string("the file cannot be opened for writing (") +
                               std::strerror(error) + ")");
    }
    return begin(f);
}

Status Plik::begin(std::FILE* f) {
    // header with the sizes still zero; close() fills them in
    std::array<std::uint8_t, 46> header{};
    auto put = [&header](std::size_t at, const char* tag) {
        for (std::size_t i = 0; i < 4; ++i) {
            header[at + i] = static_cast<std::uint8_t>(tag[i]);
        }
    };
    const auto bits = static_cast<std::uint32_t>(bitsPerSample);
    put(0, "RIFF");
    put(8, "WAVE");
    put(12, "fmt ");
    putLe32(&header[16], kFormatBlockSize);
    putLe16(&header[20], 1); // PCM
    putLe16(&header[22], 1); // one channel
    putLe32(&header[24], sampleRate);
    putLe32(&header[28], sampleRate * bits / 8);
    putLe16(&header[32], (bits / 8) & 0xffff);
    putLe16(&header[34], bits & 0xffff);
    putLe16(&header[36], 0); // no extra format bytes
    put(38, "data");
    fileHandle = f;
    dataBytes = 0;
    firstError = 0;
    // the header is buffered: a failure to store it shows at the first flush,
    // which close() reports
    errno = 0;
    if (std::fwrite(header.data(), 1, header.size(), f) != header.size()) {
        firstError = errno != 0 ? errno : EIO;
    }
    return {};
}

Status Plik::write(std::span<const std::uint8_t> bytes) {
    if (fileHandle == nullptr) {
        return Status::failure("no file is open");
    }
    errno = 0;
    const std::size_t written =
        bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), fileHandle);
    dataBytes += written;
    if (written != bytes.size()) {
        if (firstError == 0) {
            firstError = errno != 0 ? errno : EIO;
        }
        return Status::failure(shortWrite(firstError));
    }
    return {};
}

long long Plik::Write(const std::uint8_t* bytes, std::size_t count) {
    if (fileHandle == nullptr) {
        return -1;
    }
    const std::uint64_t before = dataBytes;
    static_cast<void>(write(std::span<const std::uint8_t>(bytes, count)));
    return static_cast<long long>(dataBytes - before);
}

Status Plik::close() {
    if (fileHandle == nullptr) {
        return {};
    }
    std::FILE* f = fileHandle;
    fileHandle = nullptr;
    int error = firstError;
    const auto note = [&error](bool ok) {
        if (!ok && error == 0) {
            error = errno != 0 ? errno : EIO;
        }
    };
    errno = 0;
    const auto dataSize = static_cast<std::uint32_t>(dataBytes);
    if (dataBytes % 2 == 1) {
        note(std::fputc(0, f) != EOF);
    }
    const std::uint32_t riffSize = kHeaderAfterRiffSize + dataSize + (dataSize % 2);
    note(writeLe32At(f, kDataSizeOffset, dataSize));
    note(writeLe32At(f, kRiffSizeOffset, riffSize));
    note(std::fclose(f) == 0);
    if (error != 0) {
        return Status::failure(shortWrite(error));
    }
    return {};
}

} // namespace veltrana
