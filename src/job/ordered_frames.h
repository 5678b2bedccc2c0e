#pragma once
// The walk over the frames of a run, shared by both jobs: each scan read and
// measured on any of the run's threads, each frame met with the one before it
// (the soundtrack's join search) as soon as both are read, and every frame
// accepted in frame order, one at a time.
//
// Frame numbers are 1-based and ranges inclusive, as in ScanRunSettings. The
// first frame of a run settles what every other frame is measured with (the
// resolution, the geometry), so a job reads and accepts it alone and walks
// the rest.
//
// Stopping: the run's stop flag is read as each frame is handed out to be
// read. Once it is set, that frame is not read: it is accepted `skipped`, in
// its turn after every frame before it, and no later frame is handed out.
// Once accept ends the run, the frames read ahead are dropped unaccepted and
// nothing more is read or met.
//
// Memory: at most framesInFlight(threads) frames are on their way at once
// (job/parallel.h); a frame's reading is let go when it has been accepted and
// the next frame has met it. Only the read step holds a whole scan, and only
// as the run's memory budget admits it (job/frame_scans.h): read lets its
// scan go before it returns.

#include "job/job_end.h"
#include "job/run_settings.h"

#include <functional>
#include <memory>
#include <optional>

namespace veltrana {

// What meeting two frames gives in a job that does not meet them.
struct NoMeeting {};

// A frame in its turn to be accepted.
template <typename Frame, typename Meeting> struct FrameInTurn {
    int number = 0;
    bool skipped = false;             // a stop was asked for before its turn: not read
    const Frame* frame = nullptr;     // what read gave; null when skipped
    const Frame* previous = nullptr;  // the frame before it, when it was walked or given
    const Meeting* meeting = nullptr; // what meeting the two gave, when both were read
};

// A job's steps.
template <typename Frame, typename Meeting = NoMeeting> struct FrameSteps {
    // Reads and measures one frame: on any thread, beside other frames, with
    // no observer call.
    std::function<Frame(int number)> read;
    // What two neighbouring frames give together: on any thread, once both
    // are read. Empty when the job does not meet its frames.
    std::function<Meeting(const Frame& previous, const Frame& frame)> meet;
    // Takes a frame in its turn; nothing to go on, or how the run ends.
    std::function<std::optional<JobEnding>(const FrameInTurn<Frame, Meeting>&)> accept;
};

namespace detail {

// The walk without the job's types.
struct WalkedFrame {
    int number = 0;
    bool skipped = false;
    std::shared_ptr<const void> frame;
    std::shared_ptr<const void> previous;
    std::shared_ptr<const void> meeting;
};

struct WalkSteps {
    std::function<std::shared_ptr<const void>(int number)> read;
    std::function<std::shared_ptr<const void>(const void* previous, const void* frame)> meet;
    std::function<std::optional<JobEnding>(const WalkedFrame&)> accept;
};

std::optional<JobEnding> walkFrames(const ScanRunSettings& run, int first, const WalkSteps& steps,
                                    std::shared_ptr<const void> before);

} // namespace detail

// Walks frames first..run.stopFrame with the run's threads and stop flag.
// `before` is the frame before `first` when the job read it already (the
// run's first frame): `first` meets it. Returns how the run ended, or
// nothing when every frame was accepted.
template <typename Frame, typename Meeting>
std::optional<JobEnding> walkFrames(const ScanRunSettings& run, int first,
                                    const FrameSteps<Frame, Meeting>& steps,
                                    std::shared_ptr<const Frame> before = nullptr) {
    detail::WalkSteps walk;
    walk.read = [&steps](int number) -> std::shared_ptr<const void> {
        return std::make_shared<const Frame>(steps.read(number));
    };
    if (steps.meet) {
        walk.meet = [&steps](const void* previous,
                             const void* frame) -> std::shared_ptr<const void> {
            return std::make_shared<const Meeting>(steps.meet(*static_cast<const Frame*>(previous),
                                                              *static_cast<const Frame*>(frame)));
        };
    }
    walk.accept = [&steps](const detail::WalkedFrame& walked) {
        FrameInTurn<Frame, Meeting> turn;
        turn.number = walked.number;
        turn.skipped = walked.skipped;
        turn.frame = static_cast<const Frame*>(walked.frame.get());
        turn.previous = static_cast<const Frame*>(walked.previous.get());
        turn.meeting = static_cast<const Meeting*>(walked.meeting.get());
        return steps.accept(turn);
    };
    return detail::walkFrames(run, first, walk, std::move(before));
}

} // namespace veltrana
