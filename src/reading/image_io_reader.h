#pragma once
// DPX and OpenEXR scans, decoded by OpenImageIO from bytes in memory; for the
// scan reader.
//
// A DPX header is checked by parseDpxHeader (reading/dpx_header.h) before
// the library sees the file, and every scan's size against the limits
// before a pixel is decoded. The library decodes on the calling thread only:
// the jobs read several scans at once themselves.

#include "base/status.h"
#include "reading/sample_depth.h"
#include "reading/scan_buffers.h"
#include "reading/scan_limits.h"

#include <cstdint>
#include <span>

namespace veltrana {

// Whether the bytes start with the OpenEXR magic number.
bool isOpenExr(std::span<const std::uint8_t> bytes);

// A DPX scan of 8, 10, 12 or 16 bits, luma, RGB or RGBA, in any packing and
// either byte order, turned upright when its header says it is mirrored.
// With `buffers` the decoded samples are kept in them.
Result<DecodedScan> decodeDpx(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                              ScanBuffers* buffers = nullptr);

// An OpenEXR scan of half or single-precision samples, in scanlines or
// tiles: its R, G and B channels, or its Y channel, or its one channel.
Result<DecodedScan> decodeOpenExr(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                                  ScanBuffers* buffers = nullptr);

} // namespace veltrana
