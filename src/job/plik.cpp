#include "job/plik.h"

#include <array>
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

} // namespace

Plik::~Plik() {
    Close();
}

int Plik::Open(const std::filesystem::path& fileName) {
    Close();
    std::FILE* f = std::fopen(fileName.c_str(), "wb");
    if (f == nullptr) {
        return 1;
    }
    return begin(f);
}

int Plik::Open(int descriptor) {
    Close();
    const int own = ::dup(descriptor);
    std::FILE* f = own < 0 ? nullptr : ::fdopen(own, "wb");
    if (f == nullptr) {
        if (own >= 0) {
            ::close(own);
        }
        return 1;
    }
    return begin(f);
}

int Plik::begin(std::FILE* f) {
    // header with the sizes still zero; Close fills them in
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
    failed = std::fwrite(header.data(), 1, header.size(), f) != header.size();
    return 0;
}

long long Plik::Write(const std::uint8_t* bytes, std::size_t count) {
    if (fileHandle == nullptr) {
        return -1;
    }
    const std::size_t written = count == 0 ? 0 : std::fwrite(bytes, 1, count, fileHandle);
    dataBytes += written;
    if (written != count) {
        failed = true;
    }
    return static_cast<long long>(written);
}

bool Plik::Close() {
    if (fileHandle == nullptr) {
        return true;
    }
    std::FILE* f = fileHandle;
    fileHandle = nullptr;
    bool ok = !failed;
    const auto dataSize = static_cast<std::uint32_t>(dataBytes);
    if (dataBytes % 2 == 1) {
        ok = std::fputc(0, f) != EOF && ok;
    }
    const std::uint32_t riffSize = kHeaderAfterRiffSize + dataSize + (dataSize % 2);
    ok = writeLe32At(f, kDataSizeOffset, dataSize) && ok;
    ok = writeLe32At(f, kRiffSizeOffset, riffSize) && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

} // namespace veltrana
