#pragma once
// Plik: the WAV writer. One PCM channel in a RIFF/WAVE file:
//
//   "RIFF" size "WAVE" "fmt " 18 <18-byte format block> "data" N <N bytes> [pad]
//
// The format block is format tag 1, channels 1, sample rate, average bytes
// per second (rate x bits / 8, unsigned 32-bit), block alignment (bits / 8),
// bits per sample, and two zero bytes of extra format size. An odd data
// length is followed by one zero byte, counted in the RIFF size but not in
// the data size. All numbers little-endian.

#include "base/status.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>

namespace veltrana {

class Plik {
public:
    Plik() = default;
    Plik(const Plik&) = delete;
    Plik& operator=(const Plik&) = delete;
    virtual ~Plik();

    // Creates (or truncates) the file and writes the header up to the start of
    // the data.
    Status open(const std::filesystem::path& fileName);
    // The same on a file already open for writing (the job's temporary
    // output file); the descriptor stays the caller's.
    Status open(int descriptor);
    // Appends the bytes to the data chunk; fails when no file is open or the
    // disk takes only part of them.
    Status write(std::span<const std::uint8_t> bytes);
    // Completes the chunk sizes and closes the file; fails when the file could
    // not be completed (an earlier write, or this one, or the close failed).
    // Does nothing when no file is open.
    Status close();

    // The writer's long-standing interface, over the operations above:
    // Open returns 0 on success and 1 when the file cannot be created; Write
    // the number of bytes written, or a negative value when no file is open;
    // Close false when the file could not be completed.
    int Open(const std::filesystem::path& fileName) { return open(fileName) ? 0 : 1; }
    int Open(int descriptor) { return open(descriptor) ? 0 : 1; }
    long long Write(const std::uint8_t* bytes, std::size_t count);
    bool Close() { return close().ok(); }

    bool isOpen() const { return fileHandle != nullptr; }

    std::uint32_t sampleRate = 22050;
    std::int32_t bitsPerSample = 16;

private:
    Status begin(std::FILE* file);

    std::FILE* fileHandle = nullptr;
    std::uint64_t dataBytes = 0;
    int firstError = 0; // errno of the first failed write; 0 while all went well
};

} // namespace veltrana
