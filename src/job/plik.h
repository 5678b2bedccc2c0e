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

#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace veltrana {

class Plik {
public:
    Plik() = default;
    Plik(const Plik&) = delete;
    Plik& operator=(const Plik&) = delete;
    virtual ~Plik();

    // Creates (or truncates) the file and writes the header up to the start of
    // the data. Returns 0 on success, 1 when the file cannot be created.
    int Open(const std::filesystem::path& fileName);
    // The same on a file already open for writing (the job's temporary
    // output file); the descriptor stays the caller's.
    int Open(int descriptor);

    // Appends count bytes to the data chunk; returns the number written, or a
    // negative value when no file is open.
    long long Write(const std::uint8_t* bytes, std::size_t count);

    // Completes the chunk sizes and closes the file. Returns false when the
    // file could not be completed (a write or the close failed). Does nothing
    // (and returns true) when no file is open.
    bool Close();

    bool isOpen() const { return fileHandle != nullptr; }

    std::uint32_t sampleRate = 22050;
    std::int32_t bitsPerSample = 16;

private:
    int begin(std::FILE* file);

    std::FILE* fileHandle = nullptr;
    std::uint64_t dataBytes = 0;
    bool failed = false;
};

} // namespace veltrana
