#include "soundtrack/plik.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace veltrana {
namespace {

using Bytes = std::vector<unsigned char>;

void appendLe(Bytes& b, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i) {
        b.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xff));
    }
}

void appendTag(Bytes& b, const char* tag) {
    // byte by byte: a range insert into the empty vector makes GCC 12 at -O3
    // warn of an overflow that cannot happen (-Wstringop-overflow)
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<unsigned char>(tag[i]));
    }
}

// The expected file, spelled out field by field.
Bytes expectedWav(std::uint32_t rate, std::uint32_t bits, const Bytes& data) {
    Bytes b;
    b.reserve(47 + data.size());
    const auto n = static_cast<std::uint32_t>(data.size());
    appendTag(b, "RIFF");
    appendLe(b, 38 + n + (n % 2), 4);
    appendTag(b, "WAVE");
    appendTag(b, "fmt ");
    appendLe(b, 18, 4);
    appendLe(b, 1, 2);
    appendLe(b, 1, 2);
    appendLe(b, rate, 4);
    appendLe(b, rate * bits / 8, 4);
    appendLe(b, bits / 8, 2);
    appendLe(b, bits, 2);
    appendLe(b, 0, 2);
    appendTag(b, "data");
    appendLe(b, n, 4);
    b.insert(b.end(), data.begin(), data.end());
    if (n % 2 == 1) {
        b.push_back(0);
    }
    return b;
}

Bytes writeWav(const std::filesystem::path& path, std::uint32_t rate, int bits, const Bytes& data,
               bool setFormat = true) {
    Plik plik;
    if (setFormat) {
        plik.sampleRate = rate;
        plik.bitsPerSample = bits;
    }
    EXPECT_EQ(plik.Open(path), 0);
    EXPECT_EQ(plik.Write(data.data(), data.size()), static_cast<long long>(data.size()));
    EXPECT_TRUE(plik.Close());
    return test::readFileBytes(path);
}

TEST(Plik, EmptyDataGivesA46ByteFile) {
    test::TempDir dir;
    const Bytes file = writeWav(dir / "a.wav", 37775, 8, {});
    ASSERT_EQ(file.size(), 46u);
    EXPECT_EQ(file, expectedWav(37775, 8, {}));
    EXPECT_EQ(file[4], 38);
    EXPECT_EQ(file[42], 0);
}

TEST(Plik, OddDataIsPaddedWithOneZeroByte) {
    test::TempDir dir;
    const Bytes data{0x80, 0x7f, 0x01};
    const Bytes file = writeWav(dir / "a.wav", 37775, 8, data);
    ASSERT_EQ(file.size(), 50u);
    EXPECT_EQ(file, expectedWav(37775, 8, data));
    EXPECT_EQ(file[4], 42); // RIFF size counts the pad
    EXPECT_EQ(file[42], 3); // data size does not
    EXPECT_EQ(file[49], 0);
}

TEST(Plik, FormatBlockFor8BitSoundtracks) {
    test::TempDir dir;
    const Bytes file = writeWav(dir / "a.wav", 37775, 8, {1, 2});
    // samples per second = average bytes per second = 37775, block alignment 1
    EXPECT_EQ(file[24] | file[25] << 8 | file[26] << 16, 37775);
    EXPECT_EQ(file[28] | file[29] << 8 | file[30] << 16, 37775);
    EXPECT_EQ(file[32], 1);
    EXPECT_EQ(file[34], 8);
}

TEST(Plik, DefaultsAre22050HzAt16Bits) {
    test::TempDir dir;
    const Bytes file = writeWav(dir / "a.wav", 0, 0, {1, 2, 3, 4}, false);
    EXPECT_EQ(file, expectedWav(22050, 16, {1, 2, 3, 4}));
    EXPECT_EQ(file[28] | file[29] << 8, 44100);
    EXPECT_EQ(file[32], 2);
}

TEST(Plik, ReplacesAnExistingFile) {
    test::TempDir dir;
    {
        std::ofstream old(dir / "a.wav", std::ios::binary);
        old << std::string(1000, 'x');
    }
    EXPECT_EQ(writeWav(dir / "a.wav", 8000, 8, {}).size(), 46u);
}

TEST(Plik, ReportsAFileThatCannotBeCreated) {
    test::TempDir dir;
    Plik plik;
    EXPECT_EQ(plik.Open(dir / "no" / "such" / "dir.wav"), 1);
    EXPECT_FALSE(plik.isOpen());
    const unsigned char byte = 1;
    EXPECT_LT(plik.Write(&byte, 1), 0);
    EXPECT_TRUE(plik.Close());
}

TEST(Plik, SaysWhyAFileCannotBeCreated) {
    test::TempDir dir;
    Plik plik;
    const Status opened = plik.open(dir / "no" / "such" / "dir.wav");
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.message(), "the file cannot be created (No such file or directory)");
    const std::uint8_t byte = 1;
    EXPECT_EQ(plik.write({&byte, 1}).message(), "no file is open");
    EXPECT_TRUE(plik.close().ok());
}

TEST(Plik, AFullDiskIsReportedWithTheSystemsReason) {
    // /dev/full takes the open and refuses every byte written to it
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    Plik plik;
    plik.sampleRate = 22675;
    plik.bitsPerSample = 8;
    ASSERT_TRUE(plik.open("/dev/full").ok());
    const std::vector<std::uint8_t> bytes(100000, 128);
    const Status written = plik.write(bytes);
    const Status closed = plik.close();
    const std::string expected = "the disk took only part of it (No space left on device)";
    // the stream's buffer may hold the first bytes until the close
    EXPECT_EQ(written.ok() ? closed.message() : written.message(), expected);
    EXPECT_FALSE(closed.ok());
    EXPECT_EQ(closed.message(), expected);
    EXPECT_FALSE(plik.isOpen());
}

} // namespace
} // namespace veltrana
