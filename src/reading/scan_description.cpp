#include "reading/scan_description.h"

namespace veltrana {

std::string describeScan(const ScanDescription& d) {
    std::string text = d.floatingPoint ? (d.bitsPerSample == 16 ? "half-float " : "float ")
                                       : std::to_string(d.bitsPerSample) + "-bit ";
    text += d.format;
    text += d.channels == 1 ? ", grey" : d.channels == 4 ? ", colour with alpha" : ", colour";
    if (!d.transfer.empty()) {
        text += ", transfer: " + d.transfer;
    }
    return text;
}

} // namespace veltrana
