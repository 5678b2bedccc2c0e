#include "job/md5.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

namespace veltrana {

namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, ContextFree>;

// A context ready to take bytes; OpenSSL only fails here when out of memory.
DigestContext startedMd5() {
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
        std::abort();
    }
    return context;
}

std::array<std::byte, 16> finishedDigest(EVP_MD_CTX* context) {
    std::array<std::byte, 16> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, reinterpret_cast<unsigned char*>(digest.data()), &length);
    return digest;
}

} // namespace

std::array<std::byte, 16> md5Digest(std::span<const std::byte> bytes) {
    const DigestContext context = startedMd5();
    EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
    return finishedDigest(context.get());
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
    const DigestContext context = startedMd5();
    std::vector<char> piece(1 << 20);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        EVP_DigestUpdate(context.get(), piece.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return Status::failure("Cannot read " + path.string() +
                               " to take its MD5: the read failed.");
    }
    return hexDigits(finishedDigest(context.get()));
}

} // namespace veltrana
