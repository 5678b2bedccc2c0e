#include "job/soundtrack_job.h"

namespace veltrana {

// Temporary until the job lands.
SoundtrackResult runSoundtrackJob(SoundtrackJob&) {
    return {SoundtrackEnd::Refused, "not available yet"};
}

int SoundtrackWorker(SoundtrackJob* job) {
    const SoundtrackResult result = runSoundtrackJob(*job);
    return result.end == SoundtrackEnd::UnreadableFrame ? -1 : 0;
}

} // namespace veltrana
