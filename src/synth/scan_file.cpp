// Writing a rendered scan in the format asked for: TIFF through the image
// library as always, 16-bit TIFF likewise, DPX by hand (so that every
// packing, byte order and descriptor scanners write can be made, and the
// reader is tested against a writer of its own), OpenEXR through
// OpenImageIO.

#include "synth/internal.h"

#include "job/safe_file.h"
#include "reading/sample_depth.h"

#include <Imath/half.h>
#include <OpenImageIO/imageio.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace veltrana::synth {

namespace {

// The image library's own TIFF compression codes; LZW is what it writes
// when given none, and is left to it so that those files stay as they were.
std::vector<int> tiffParameters(TiffCompression compression) {
    constexpr int kNone = 1;
    constexpr int kAdobeDeflate = 8;
    switch (compression) {
    case TiffCompression::None:
        return {cv::IMWRITE_TIFF_COMPRESSION, kNone};
    case TiffCompression::Deflate:
        return {cv::IMWRITE_TIFF_COMPRESSION, kAdobeDeflate};
    case TiffCompression::Lzw:
        break;
    }
    return {};
}

// Writes an encoded scan through the checked writer, so that a full disk is
// named as such. Not synced scan by scan: that doubled the time of a
// render, whose folder appears only once it is complete.
std::string writeScanBytes(const std::filesystem::path& path, std::string_view bytes) {
    const Status written = writeNewFile(path, bytes, "the scan", false);
    return written ? std::string() : written.message();
}

std::string writeTiff(const std::filesystem::path& path, const cv::Mat& image,
                      TiffCompression compression) {
    std::vector<unsigned char> bytes;
    try {
        if (!cv::imencode(".tif", image, bytes, tiffParameters(compression))) {
            return "cannot encode " + path.filename().string();
        }
    } catch (const cv::Exception& e) {
        return "cannot encode " + path.filename().string() + ": " + e.what();
    }
    return writeScanBytes(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// The codes of `bits` bits that the reader rounds to the 8-bit value v:
// [first, last].
std::pair<int, int> codesOf(int v, int bits) {
    const std::int64_t full = (std::int64_t{1} << bits) - 1;
    const std::int64_t first = v == 0 ? 0 : ((2 * v - 1) * full + 509) / 510;
    const std::int64_t last = std::min(full, ((2 * v + 1) * full) / 510);
    return {static_cast<int>(first), static_cast<int>(last)};
}

// --- DPX -----------------------------------------------------------------

constexpr std::uint32_t kDpxHeaderBytes = 2048;
constexpr std::uint8_t kPrintingDensity = 1;
constexpr int kDescriptorLuma = 6;
constexpr int kDescriptorRgb = 50;

// A DPX file's bytes, every number in the file's byte order.
class DpxBytes {
public:
    explicit DpxBytes(bool bigEndian) : big(bigEndian) {}

    void u8(std::size_t at, std::uint8_t v) { place(at, 1, v); }
    void u16(std::size_t at, std::uint16_t v) { place(at, 2, v); }
    void u32(std::size_t at, std::uint32_t v) { place(at, 4, v); }
    void r32(std::size_t at, float v) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        u32(at, bits);
    }
    void text(std::size_t at, const char* s) {
        grow(at + std::strlen(s));
        std::memcpy(bytes.data() + at, s, std::strlen(s));
    }
    // Appends one number of `size` bytes (a 16- or 32-bit word of samples).
    void append(int size, std::uint32_t v) {
        place(bytes.size(), static_cast<std::size_t>(size), v);
    }
    std::vector<std::uint8_t> bytes;

private:
    void grow(std::size_t end) {
        if (bytes.size() < end) {
            bytes.resize(end, 0);
        }
    }
    void place(std::size_t at, std::size_t size, std::uint32_t v) {
        grow(at + size);
        for (std::size_t i = 0; i < size; ++i) {
            const std::size_t shift = 8 * (big ? size - 1 - i : i);
            bytes[at + i] = static_cast<std::uint8_t>(v >> shift);
        }
    }
    bool big;
};

std::uint32_t bcdTimecode(int frame, int fps) {
    const int frames = frame % fps;
    const int seconds = (frame / fps) % 60;
    const int minutes = (frame / fps / 60) % 60;
    const int hours = (1 + frame / fps / 3600) % 24;
    const auto bcd = [](int v) { return static_cast<std::uint32_t>((v / 10) << 4 | (v % 10)); };
    return bcd(hours) << 24 | bcd(minutes) << 16 | bcd(seconds) << 8 | bcd(frames);
}

void writeDpxHeader(DpxBytes& out, int width, int height, int channels, const SynthOptions& o,
                    int index) {
    const DeepFileLayout& l = o.deepLayout;
    out.u32(0, 0x53445058u); // "SDPX" in the file's order
    out.u32(4, kDpxHeaderBytes);
    out.text(8, "V2.0");
    out.u32(20, 1);    // ditto key: each file stands alone
    out.u32(24, 1664); // generic header
    out.u32(28, 384);  // industry headers
    out.text(160, "Veltrana synth");
    out.u32(660, 0xffffffffu); // not encrypted
    out.u16(768, 0);           // left to right, top to bottom
    out.u16(770, 1);
    out.u32(772, static_cast<std::uint32_t>(width));
    out.u32(776, static_cast<std::uint32_t>(height));
    out.u32(792, static_cast<std::uint32_t>((1 << l.dpxBits) - 1)); // reference white code
    out.u8(800, static_cast<std::uint8_t>(channels == 1 ? kDescriptorLuma : kDescriptorRgb));
    out.u8(801, kPrintingDensity);
    out.u8(802, kPrintingDensity);
    out.u8(803, static_cast<std::uint8_t>(l.dpxBits));
    out.u16(804, static_cast<std::uint16_t>(l.dpxPacking));
    out.u32(808, kDpxHeaderBytes);
    out.r32(1724, static_cast<float>(o.fps));
    out.u32(1920, bcdTimecode(index, o.fps));
    out.r32(1940, static_cast<float>(o.fps));
    out.u32(kDpxHeaderBytes - 4, 0); // the header's whole length
}

// One row of codes in the layout's packing, appended to the file.
void appendDpxRow(DpxBytes& out, const std::uint16_t* codes, int count, bool luma,
                  const DeepFileLayout& l) {
    const int bits = l.dpxBits;
    if (bits == 8 || bits == 16 || (bits == 12 && l.dpxPacking != DpxPacking::Packed)) {
        const int shift = bits == 12 && l.dpxPacking == DpxPacking::FilledA ? 4 : 0;
        for (int i = 0; i < count; ++i) {
            out.append(bits == 8 ? 1 : 2, static_cast<std::uint32_t>(codes[i]) << shift);
        }
        return;
    }
    if (l.dpxPacking != DpxPacking::Packed) {
        // three 10-bit codes a word, the padding low (A) or high (B); colour
        // samples from the high bits down, luma samples from the low bits up,
        // as the decoders in use read them
        const int shift = l.dpxPacking == DpxPacking::FilledA ? 2 : 0;
        for (int i = 0; i < count; i += 3) {
            std::uint32_t word = 0;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t code = i + k < count ? codes[i + k] : 0;
                word |= code << ((luma ? 10 * k : 20 - 10 * k) + shift);
            }
            out.append(4, word);
        }
        return;
    }
    // one stream of bits from each word's lowest bit up, the row ending on a whole word
    std::uint64_t pending = 0;
    int held = 0;
    for (int i = 0; i < count; ++i) {
        pending |= static_cast<std::uint64_t>(codes[i]) << held;
        held += bits;
        if (held >= 32) {
            out.append(4, static_cast<std::uint32_t>(pending));
            pending >>= 32;
            held -= 32;
        }
    }
    if (held > 0) {
        out.append(4, static_cast<std::uint32_t>(pending));
    }
}

std::string writeDpx(const std::filesystem::path& path, const RenderedScan& scan,
                     const SynthOptions& o, int index) {
    const DeepFileLayout& l = o.deepLayout;
    cv::Mat codes = deepSamples(scan, l.dpxBits);
    if (codes.channels() == 3) {
        cv::cvtColor(codes, codes, cv::COLOR_BGR2RGB);
    }
    DpxBytes out(l.dpxBigEndian);
    writeDpxHeader(out, codes.cols, codes.rows, codes.channels(), o, index);
    for (int r = 0; r < codes.rows; ++r) {
        appendDpxRow(out, codes.ptr<std::uint16_t>(r), codes.cols * codes.channels(),
                     codes.channels() == 1, l);
    }
    out.u32(16, static_cast<std::uint32_t>(out.bytes.size()));
    return writeScanBytes(
        path, std::string_view(reinterpret_cast<const char*>(out.bytes.data()), out.bytes.size()));
}

// --- OpenEXR -------------------------------------------------------------

// The half-float nearest to v (0..1) among those the reader rounds to the
// 8-bit value `eight` (eightBitValueOfFloat): the halves of positive values
// are in the order of their bits.
float halfWithin(float v, int eight) {
    std::uint16_t bits = Imath::half(v).bits();
    for (int step = 0; step < 256; ++step) {
        Imath::half candidate;
        candidate.setBits(bits);
        const int rounded = eightBitValueOfFloat(static_cast<float>(candidate));
        if (rounded == eight) {
            return static_cast<float>(candidate);
        }
        bits = static_cast<std::uint16_t>(rounded < eight ? bits + 1 : bits - 1);
    }
    return v;
}

// Single-precision samples, 1.0 the full scale, each rounding as the reader
// rounds to the 8-bit render.
cv::Mat exrSamples(const RenderedScan& scan, bool halfFloat) {
    const cv::Mat codes = deepSamples(scan, 16);
    cv::Mat samples;
    codes.convertTo(samples, CV_32F, 1.0 / 65535.0);
    if (halfFloat) {
        for (int r = 0; r < samples.rows; ++r) {
            float* row = samples.ptr<float>(r);
            const std::uint8_t* eight = scan.image.ptr<std::uint8_t>(r);
            for (int i = 0; i < samples.cols * samples.channels(); ++i) {
                row[i] = halfWithin(row[i], eight[i]);
            }
        }
    }
    if (samples.channels() == 3) {
        cv::cvtColor(samples, samples, cv::COLOR_BGR2RGB);
    }
    return samples;
}

std::string writeOpenExr(const std::filesystem::path& path, const RenderedScan& scan,
                         const DeepFileLayout& l) {
    const cv::Mat samples = exrSamples(scan, l.exrHalf);
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path.string());
    if (!out) {
        return "cannot write " + path.filename().string() + ": no OpenEXR writer";
    }
    OIIO::ImageSpec imageFormat(samples.cols, samples.rows, samples.channels(),
                                l.exrHalf ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
    if (samples.channels() == 1) {
        imageFormat.channelnames = {"Y"};
    }
    if (l.exrTiled) {
        imageFormat.tile_width = 64;
        imageFormat.tile_height = 64;
    }
    imageFormat.attribute("compression", "zip");
    const bool written = out->open(path.string(), imageFormat) &&
                         out->write_image(OIIO::TypeDesc::FLOAT, samples.data) && out->close();
    return written ? std::string()
                   : "cannot write " + path.filename().string() + ": " + out->geterror();
}

} // namespace

cv::Mat deepSamples(const RenderedScan& scan, int bits) {
    const double full = static_cast<double>((1 << bits) - 1);
    cv::Mat codes(scan.image.size(), CV_16UC(scan.image.channels()));
    for (int r = 0; r < codes.rows; ++r) {
        const std::uint8_t* eight = scan.image.ptr<std::uint8_t>(r);
        const float* fine = scan.fine.ptr<float>(r);
        std::uint16_t* out = codes.ptr<std::uint16_t>(r);
        for (int i = 0; i < codes.cols * codes.channels(); ++i) {
            const auto [first, last] = codesOf(eight[i], bits);
            const int nearest = static_cast<int>(std::lround(fine[i] * full / 255.0));
            out[i] = static_cast<std::uint16_t>(std::clamp(nearest, first, last));
        }
    }
    return codes;
}

const char* scanFileExtension(ScanFormat format) {
    switch (format) {
    case ScanFormat::Dpx:
        return ".dpx";
    case ScanFormat::OpenExr:
        return ".exr";
    default:
        return ".tif";
    }
}

const char* scanFormatName(ScanFormat format) {
    switch (format) {
    case ScanFormat::Tiff16:
        return "tiff16";
    case ScanFormat::Dpx:
        return "dpx";
    case ScanFormat::OpenExr:
        return "exr";
    default:
        return "tiff";
    }
}

std::optional<ScanFormat> scanFormatFromName(const std::string& name) {
    for (const ScanFormat format :
         {ScanFormat::Tiff, ScanFormat::Tiff16, ScanFormat::Dpx, ScanFormat::OpenExr}) {
        if (name == scanFormatName(format)) {
            return format;
        }
    }
    return std::nullopt;
}

std::string writeScanFile(const std::filesystem::path& path, const RenderedScan& scan,
                          const SynthOptions& options, int index) {
    switch (options.format) {
    case ScanFormat::Tiff:
        return writeTiff(path, scan.image, options.compression);
    case ScanFormat::Tiff16:
        return writeTiff(path, deepSamples(scan, 16), options.compression);
    case ScanFormat::Dpx:
        return writeDpx(path, scan, options, index);
    case ScanFormat::OpenExr:
        return writeOpenExr(path, scan, options.deepLayout);
    }
    return {};
}

} // namespace veltrana::synth
