#pragma once
// MD5 digests of outputs, for fixity: md5sum's check files, the Broadcast WAV
// "MD5 " chunk and the batch records. MD5 is what archives' fixity tools
// (md5sum, BWF MetaEdit) read, not a safeguard against tampering.
//
// Digests are given as 32 lowercase hex digits, as md5sum prints them.

#include "base/status.h"

#include <array>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

struct evp_md_ctx_st; // OpenSSL's digest state

namespace veltrana {

// A digest taken over bytes given in pieces: for files too long to hold.
class Md5Stream {
public:
    Md5Stream();
    void add(std::span<const std::byte> bytes);
    // The digest of everything added; the stream is then spent.
    std::array<std::byte, 16> finish();

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context;
};

// The 16 bytes of the MD5 digest of `bytes`.
std::array<std::byte, 16> md5Digest(std::span<const std::byte> bytes);

// The digest of `bytes` as 32 lowercase hex digits.
std::string md5Hex(std::span<const std::byte> bytes);

// The digest of the whole file at `path`, read in pieces, as 32 lowercase hex
// digits. Fails with a sentence naming the file when it cannot be read.
Result<std::string> md5HexOfFile(const std::filesystem::path& path);

// 16 digest bytes as 32 lowercase hex digits.
std::string hexDigits(std::span<const std::byte, 16> digest);

} // namespace veltrana
