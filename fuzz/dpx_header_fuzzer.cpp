// libFuzzer target: the bytes of a DPX file, its header read and checked by
// our own parser (reading/dpx_header.h) before any decoder sees them; what
// it accepts is turned into the words the log and the report show.
//
// The whole reading of a DPX scan, the decoding included, is fuzzed by
// scan_fuzzer; this target spends all its time on the header's fields.

#include "job/film_speed.h"
#include "reading/dpx_header.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace veltrana;
    const Result<DpxHeader> header = parseDpxHeader(std::span<const std::uint8_t>(data, size));
    if (!header) {
        return 0;
    }
    // everything a run makes of an accepted header
    (void)dpxTransferName(header->transfer);
    if (header->timecode) {
        (void)timecodeText(*header->timecode);
        (void)secondsOfTimecode(*header->timecode, FilmSpeed(24000, 1001));
        (void)secondsOfTimecode(*header->timecode, FilmSpeed(25));
    }
    // the samples the header places must lie inside the file
    if (header->dataOffset + header->imageBytes > size) {
        __builtin_trap();
    }
    return 0;
}
