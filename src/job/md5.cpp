#include "job/md5.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace veltrana {

void Md5Stream::Free::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Md5Stream::Md5Stream() : context(EVP_MD_CTX_new()) {
    // OpenSSL only fails here when out of memory
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
        std::abort();
    }
}

void Md5Stream::add(std::span<const std::byte> bytes) {
    EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
}

std::array<std::byte, 16> Md5Stream::finish() {
    std::array<std::byte, 16> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char*>(digest.data()), &length);
    return digest;
}

std::array<std::byte, 16> md5Digest(std::span<const std::byte> bytes) {
    Md5Stream stream;
    stream.add(bytes);
    return stream.finish();
}

std::string hexDigits(std::span<const std::byte, 16> digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(32);
    for (const std::byte b : digest) {
        const auto value = std::to_integer<unsigned>(b);
        hex += kDigits[value >> 4];
        hex += kDigits[value & 0xfu];
    }
    return hex;
}

std::string md5Hex(std::span<const std::byte> bytes) {
    return hexDigits(md5Digest(bytes));
}

Result<std::string> md5HexOfFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Status::failure("Cannot read " + path.string() +
                               " to take its MD5: it cannot be opened.");
    }
    Md5Stream stream;
    std::vector<char> piece(1 << 20);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        stream.add(std::as_bytes(std::span(piece.data(), static_cast<std::size_t>(in.gcount()))));
    }
    if (in.bad()) {
        return Status::failure("Cannot read " + path.string() +
                               " to take its MD5: the read failed.");
    }
    return hexDigits(stream.finish());
}

} // namespace veltrana
