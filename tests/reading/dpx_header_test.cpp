// The DPX header check: what it reads from a header written here field by
// field, and what it refuses, each with a message that says why.

#include "reading/dpx_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <vector>

namespace veltrana {
namespace {

// A DPX file of one element: a 2048-byte header and room for the samples.
class DpxFile {
public:
    explicit DpxFile(bool bigEndian) : bytes(2048, 0), big(bigEndian) {
        u32(0, 0x53445058u);
        u32(4, 2048);
        u16(770, 1);
        u32(772, 100); // 100 x 80 pixels
        u32(776, 80);
        bytes[800] = 50; // RGB
        bytes[801] = 1;  // printing density
        bytes[803] = 10;
        u16(804, 1); // filled, method A
        u32(808, 2048);
        u32(1920, 0xffffffffu); // no time code
        withSamples(600 * 80);  // room for 16 bits a sample
    }
    void u16(std::size_t at, std::uint16_t v) { put(at, 2, v); }
    void u32(std::size_t at, std::uint32_t v) { put(at, 4, v); }
    void r32(std::size_t at, float v) {
        std::uint32_t b = 0;
        std::memcpy(&b, &v, 4);
        u32(at, b);
    }
    void withSamples(std::size_t count) { bytes.resize(2048 + count); }
    std::vector<std::uint8_t> bytes;

private:
    void put(std::size_t at, std::size_t size, std::uint32_t v) {
        for (std::size_t i = 0; i < size; ++i) {
            bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * (big ? size - 1 - i : i)));
        }
    }
    bool big;
};

TEST(DpxHeader, ReadsTheLayoutInEitherByteOrder) {
    for (const bool big : {true, false}) {
        const DpxFile file(big);
        ASSERT_TRUE(isDpx(file.bytes));
        const Result<DpxHeader> h = parseDpxHeader(file.bytes);
        ASSERT_TRUE(h.ok()) << h.message();
        EXPECT_EQ(h->bigEndian, big);
        EXPECT_EQ(h->width, 100);
        EXPECT_EQ(h->height, 80);
        EXPECT_EQ(h->channels, 3);
        EXPECT_EQ(h->bitsPerSample, 10);
        EXPECT_EQ(h->packing, DpxPacking::FilledA);
        EXPECT_EQ(h->dataOffset, 2048u);
        EXPECT_EQ(h->rowBytes, 400u); // 300 samples, three to a word
        EXPECT_EQ(dpxTransferName(h->transfer), "printing density");
        EXPECT_FALSE(h->timecode);
        EXPECT_FALSE(h->frameRate);
    }
}

TEST(DpxHeader, ReadsTimeCodeAndFrameRate) {
    DpxFile file(true);
    file.u32(1920, 0x10203004u); // 10:20:30:04
    file.r32(1724, 23.976f);     // the film header's rate
    file.r32(1940, 25.0f);       // the television header's, second
    Result<DpxHeader> h = parseDpxHeader(file.bytes);
    ASSERT_TRUE(h.ok()) << h.message();
    ASSERT_TRUE(h->timecode);
    EXPECT_EQ(timecodeText(*h->timecode), "10:20:30:04");
    EXPECT_FALSE(h->timecode->dropFrame);
    ASSERT_TRUE(h->frameRate);
    EXPECT_FLOAT_EQ(static_cast<float>(*h->frameRate), 23.976f);

    file.u32(1920, 0x01000000u | 0x40u | 0x12u); // 01:00:00;12, drop frame
    file.u32(1724, 0xffffffffu);                 // the film header's rate undefined
    h = parseDpxHeader(file.bytes);
    ASSERT_TRUE(h.ok()) << h.message();
    EXPECT_EQ(timecodeText(*h->timecode), "01:00:00;12");
    EXPECT_DOUBLE_EQ(*h->frameRate, 25.0);

    file.u32(1920, 0x1a000000u); // not binary-coded decimal: no time code
    EXPECT_FALSE(parseDpxHeader(file.bytes)->timecode);
}

TEST(DpxHeader, RowSizesFollowThePacking) {
    struct Row {
        int bits;
        int packing;
        std::uint64_t bytes; // of 100 RGB pixels
    };
    for (const Row row : {Row{8, 0, 300}, Row{10, 0, 376}, Row{10, 2, 400}, Row{12, 0, 452},
                          Row{12, 1, 600}, Row{16, 1, 600}}) {
        DpxFile file(true);
        file.bytes[803] = static_cast<std::uint8_t>(row.bits);
        file.u16(804, static_cast<std::uint16_t>(row.packing));
        const Result<DpxHeader> h = parseDpxHeader(file.bytes);
        ASSERT_TRUE(h.ok()) << h.message();
        EXPECT_EQ(h->rowBytes, row.bytes) << row.bits << " bits, packing " << row.packing;
    }
}

struct Damage {
    const char* name;
    std::function<void(DpxFile&)> apply;
    const char* says; // a part of the message
};

void PrintTo(const Damage& d, std::ostream* out) {
    *out << d.name;
}

class DamagedDpxHeader : public testing::TestWithParam<Damage> {};

TEST_P(DamagedDpxHeader, IsRefusedWithItsCause) {
    DpxFile file(true);
    GetParam().apply(file);
    const Result<DpxHeader> h = parseDpxHeader(file.bytes);
    ASSERT_FALSE(h.ok());
    EXPECT_NE(h.message().find(GetParam().says), std::string::npos) << h.message();
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DamagedDpxHeader,
    testing::Values(
        Damage{"CutShort", [](DpxFile& f) { f.bytes.resize(1000); }, "is cut short"},
        Damage{"SizePastTheEnd", [](DpxFile& f) { f.u32(776, 121); }, "run past the end"},
        Damage{"HugeSize", [](DpxFile& f) { f.u32(772, 0x7fffffffu); }, "impossible size"},
        Damage{"NoWidth", [](DpxFile& f) { f.u32(772, 0); }, "impossible size"},
        Damage{"DataOutsideTheFile", [](DpxFile& f) { f.u32(808, 1u << 30); }, "outside the file"},
        Damage{"DataInsideTheHeader", [](DpxFile& f) { f.u32(808, 16); }, "outside the file"},
        Damage{"UnknownPacking", [](DpxFile& f) { f.u16(804, 7); }, "unknown packing 7"},
        Damage{"UnmappableDescriptor", [](DpxFile& f) { f.bytes[800] = 100; }, "descriptor 100"},
        Damage{"FloatSamples", [](DpxFile& f) { f.bytes[803] = 32; }, "32 bits per sample"},
        Damage{"RunLengthEncoded", [](DpxFile& f) { f.u16(806, 1); }, "run-length encoded"},
        Damage{"TurnedOrientation", [](DpxFile& f) { f.u16(768, 5); }, "orientation 5"},
        Damage{"NoElements", [](DpxFile& f) { f.u16(770, 0); }, "0 image elements"},
        Damage{"UserDataPastTheEnd", [](DpxFile& f) { f.u32(32, 805332602); }, "user data"}),
    [](const testing::TestParamInfo<Damage>& info) { return info.param.name; });

TEST(DpxHeader, NamesTheTransfer) {
    EXPECT_EQ(dpxTransferName(3), "logarithmic");
    EXPECT_EQ(dpxTransferName(2), "linear");
    EXPECT_EQ(dpxTransferName(200), "code 200");
}

TEST(DpxHeader, RefusesOtherFiles) {
    const std::vector<std::uint8_t> tiff = {'I', 'I', 42, 0};
    EXPECT_FALSE(isDpx(tiff));
    EXPECT_FALSE(parseDpxHeader(tiff).ok());
}

} // namespace
} // namespace veltrana
