// libFuzzer target: the batch's readers of outside data, the manifest (a
// list an archivist writes or a script generates) and a reel's record
// (ID.json, read back from shared storage by a later run). The first byte
// chooses the reader; the rest is its text.

#include "batch/manifest.h"
#include "batch/reel_record.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

// As the soundtrack command offers them: flags and options with values.
const std::vector<veltrana::batch::ManifestOption> kOptions = {
    {"film", false}, {"fps", false},  {"first", false}, {"last", false},      {"archival", true},
    {"bits", false}, {"rate", false}, {"no-dc", true},  {"long-strip", true}, {"dpi", false}};
const std::vector<std::string> kRefused = {"output", "report", "quiet", "threads", "side-files"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        const auto reels = veltrana::batch::readManifest(text, "/lists", kOptions, kRefused);
        if (reels) {
            for (const veltrana::batch::Reel& reel : *reels) {
                (void)veltrana::batch::optionArguments(reel.options);
            }
        }
    } else {
        const auto record = veltrana::batch::readRecord(text);
        if (record) {
            // what was read writes back and reads again
            (void)veltrana::batch::readRecord(veltrana::batch::recordJson(*record));
        }
    }
    return 0;
}
