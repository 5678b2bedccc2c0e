#include "job/md5.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace veltrana {
namespace {

std::span<const std::byte> bytesOf(const std::string& text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

struct Md5Case {
    std::string input;
    std::string hex;
};

class Md5Known : public testing::TestWithParam<Md5Case> {};

// RFC 1321's own test vectors, as md5sum prints them
TEST_P(Md5Known, MatchesTheReferenceDigest) {
    EXPECT_EQ(md5Hex(bytesOf(GetParam().input)), GetParam().hex);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc1321, Md5Known,
    testing::Values(Md5Case{"", "d41d8cd98f00b204e9800998ecf8427e"},
                    Md5Case{"a", "0cc175b9c0f1b6a831c399e269772661"},
                    Md5Case{"abc", "900150983cd24fb0d6963f7d28e17f72"},
                    Md5Case{"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
                    Md5Case{
                        "12345678901234567890123456789012345678901234567890123456789012345678901234"
                        "567890",
                        "57edf4a22be3c955ac49da2e2107b67a"}));

TEST(Md5Stream, PiecesGiveTheDigestOfTheWhole) {
    Md5Stream stream;
    stream.add(bytesOf("message "));
    stream.add(bytesOf(""));
    stream.add(bytesOf("digest"));
    EXPECT_EQ(hexDigits(stream.finish()), "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(Md5OfFile, ReadsAFileLongerThanOnePieceWhole) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("veltrana-md5-" + std::to_string(::getpid()) + ".bin");
    // 3 MiB of 'a': longer than the pieces the file is read in
    const std::string content(3u << 20, 'a');
    std::ofstream(path, std::ios::binary) << content;
    const auto digest = md5HexOfFile(path);
    std::filesystem::remove(path);
    ASSERT_TRUE(digest.ok()) << digest.message();
    EXPECT_EQ(*digest, "6a11a8872b36343799a15617bea78cef");
}

TEST(Md5OfFile, AMissingFileIsNamedInTheMessage) {
    const auto digest = md5HexOfFile("/nonexistent/veltrana/scan.wav");
    ASSERT_FALSE(digest.ok());
    EXPECT_NE(digest.message().find("/nonexistent/veltrana/scan.wav"), std::string::npos);
}

} // namespace
} // namespace veltrana
