#include "job/run_settings.h"

#include "geometry/resolution.h"

#include <utility>

namespace veltrana {

Result<FrameSequence> checkedFrameSequence(const ScanRunSettings& run) {
    Result<FrameSequence> listed = listFrameSequence(run.inputPath);
    if (!listed) {
        return listed;
    }
    if (Status range = checkFrameRange(*listed, run.startFrame, run.stopFrame); !range) {
        return range;
    }
    if (run.manualResolution) {
        if (Status manual = checkManualResolution({run.resolutionX, run.resolutionY}); !manual) {
            return manual;
        }
    }
    return listed;
}

} // namespace veltrana
