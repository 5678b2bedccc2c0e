#include "soundtrack/wave_md5.h"

#include "job/md5.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace veltrana {

namespace {

// Where a chunk's payload lies in the file.
struct ChunkPlace {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

std::uint32_t littleEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void putLittleEndian32(unsigned char* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

bool readAt(int descriptor, void* into, std::size_t size, std::uint64_t offset) {
    return ::pread(descriptor, into, size, static_cast<off_t>(offset)) ==
           static_cast<ssize_t>(size);
}

bool writeAt(int descriptor, const void* from, std::size_t size, std::uint64_t offset) {
    return ::pwrite(descriptor, from, size, static_cast<off_t>(offset)) ==
           static_cast<ssize_t>(size);
}

// The data chunk of a RIFF/WAVE file of `fileSize` bytes, walking its chunks.
bool findDataChunk(int descriptor, std::uint64_t fileSize, ChunkPlace* data) {
    unsigned char header[12];
    if (!readAt(descriptor, header, sizeof header, 0) || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0) {
        return false;
    }
    std::uint64_t at = 12;
    while (at + 8 <= fileSize) {
        unsigned char chunk[8];
        if (!readAt(descriptor, chunk, sizeof chunk, at)) {
            return false;
        }
        const std::uint64_t size = littleEndian32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            *data = {at + 8, std::min(size, fileSize - (at + 8))};
            return true;
        }
        at += 8 + size + (size & 1u); // chunks are padded to even lengths
    }
    return false;
}

bool digestOfPayload(int descriptor, const ChunkPlace& data, std::array<std::byte, 16>* digest) {
    Md5Stream stream;
    std::vector<std::byte> piece(1 << 20);
    for (std::uint64_t done = 0; done < data.size;) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), data.size - done));
        if (!readAt(descriptor, piece.data(), n, data.offset + done)) {
            return false;
        }
        stream.add(std::span(piece.data(), n));
        done += n;
    }
    *digest = stream.finish();
    return true;
}

} // namespace

Status appendAudioMd5Chunk(int descriptor, const std::string& name) {
    const auto failed = [&name](const std::string& cause) {
        return Status::failure("Cannot write the sound to " + name + ": " + cause + ".");
    };
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) {
        return failed("its size cannot be read");
    }
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    ChunkPlace data;
    std::array<std::byte, 16> digest{};
    if (!findDataChunk(descriptor, fileSize, &data)) {
        return failed("its data chunk cannot be found for the MD5 chunk");
    }
    if (!digestOfPayload(descriptor, data, &digest)) {
        return failed("its audio data cannot be read back for the MD5 chunk");
    }
    // a pad byte first when the last chunk ends on an odd length
    const std::uint64_t start = fileSize + (fileSize & 1u);
    const std::uint64_t end = start + 8 + digest.size();
    if (end - 8 > std::numeric_limits<std::uint32_t>::max()) {
        return failed("the file is too long for a RIFF file with its MD5 chunk");
    }
    std::array<unsigned char, 25> tail{};
    unsigned char* chunk = tail.data() + (start - fileSize);
    std::memcpy(chunk, "MD5 ", 4);
    putLittleEndian32(chunk + 4, static_cast<std::uint32_t>(digest.size()));
    std::memcpy(chunk + 8, digest.data(), digest.size());
    unsigned char riffSize[4];
    putLittleEndian32(riffSize, static_cast<std::uint32_t>(end - 8));
    if (!writeAt(descriptor, tail.data(), static_cast<std::size_t>(end - fileSize), fileSize) ||
        !writeAt(descriptor, riffSize, sizeof riffSize, 4)) {
        return failed("the MD5 chunk cannot be written");
    }
    return {};
}

} // namespace veltrana
