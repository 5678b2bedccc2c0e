#include "job/ordered_frames.h"

#include "job/parallel.h"

#include <atomic>
#include <utility>

#include <tbb/global_control.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

namespace veltrana::detail {

namespace {

using Slot = std::shared_ptr<WalkedFrame>;

// The keys of the walk's stages for the thread sanitizer (parallel.h).
enum Stage { kHandOut, kRead, kLink, kMeet, kAccept, kStages };

// One walk: the frames handed out so far, the last frame read in order, and
// how the run ended once it has.
class Walk {
public:
    Walk(const ScanRunSettings& run, int first, const WalkSteps& steps,
         std::shared_ptr<const void> before)
        : run(run), steps(steps), next(first), last(std::move(before)) {}

    std::optional<JobEnding> walk();

private:
    template <typename Filters> void runPipeline(int threads, const Filters& filters);
    // The next frame, in order; null once the walk is over. The memory
    // budget admits its scan only when it is read (job/frame_scans.h): only
    // there is the size of the scan and of the buffers it is read into known.
    Slot handOut(tbb::flow_control& control);
    void read(WalkedFrame& frame) const;
    void link(WalkedFrame& frame);
    void meet(WalkedFrame& frame) const;
    void accept(const WalkedFrame& frame);

    const ScanRunSettings& run;
    const WalkSteps& steps;
    int next;
    bool stopAsked = false;
    std::shared_ptr<const void> last; // the latest frame read, for the next to meet
    std::optional<JobEnding> ended;
    // set once the run has ended: nothing more is read or met
    std::atomic<bool> failed{false};
    const char stages[kStages] = {};
};

Slot Walk::handOut(tbb::flow_control& control) {
    const StageTurn turn(&stages[kHandOut]);
    if (next > run.stopFrame || stopAsked || failed.load()) {
        control.stop();
        return nullptr;
    }
    auto frame = std::make_shared<WalkedFrame>();
    frame->number = next++;
    // a stop shows at the next frame's turn; nothing more is read
    if (run.stopAsked()) {
        frame->skipped = true;
        stopAsked = true;
    }
    handOver(frame.get());
    return frame;
}

void Walk::read(WalkedFrame& frame) const {
    const StageTurn turn(&stages[kRead], &frame);
    if (!frame.skipped && !failed.load()) {
        frame.frame = steps.read(frame.number);
    }
}

void Walk::link(WalkedFrame& frame) {
    const StageTurn turn(&stages[kLink], &frame);
    frame.previous = last;
    last = frame.frame;
}

void Walk::meet(WalkedFrame& frame) const {
    const StageTurn turn(&stages[kMeet], &frame);
    if (frame.previous && frame.frame && !failed.load()) {
        frame.meeting = steps.meet(frame.previous.get(), frame.frame.get());
    }
}

void Walk::accept(const WalkedFrame& frame) {
    const StageTurn turn(&stages[kAccept], &frame);
    if (ended) {
        return;
    }
    ended = steps.accept(frame);
    if (ended) {
        failed.store(true);
    }
}

template <typename Filters> void Walk::runPipeline(int threads, const Filters& filters) {
    // more threads than cores, when asked for, without the library's complaint
    const tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism,
                                          static_cast<std::size_t>(threads));
    for (const char& stage : stages) {
        handOver(&stage);
    }
    tbb::task_arena arena(threads);
    arena.execute([&] {
        tbb::parallel_pipeline(static_cast<std::size_t>(framesInFlight(threads)), filters);
    });
    for (const char& stage : stages) {
        takeOver(&stage);
    }
}

std::optional<JobEnding> Walk::walk() {
    const int threads = jobThreads(run.threads);
    using tbb::filter_mode;
    const auto handingOut = tbb::make_filter<void, Slot>(
        filter_mode::serial_in_order, [this](tbb::flow_control& c) { return handOut(c); });
    const auto reading = tbb::make_filter<Slot, Slot>(filter_mode::parallel, [this](Slot f) {
        read(*f);
        return f;
    });
    const auto accepting =
        tbb::make_filter<Slot, void>(filter_mode::serial_in_order, [this](Slot f) { accept(*f); });
    if (!steps.meet) {
        runPipeline(threads, handingOut & reading & accepting);
        return ended;
    }
    // each frame meets the one before it, in order, then the two are met
    const auto linking = tbb::make_filter<Slot, Slot>(filter_mode::serial_in_order, [this](Slot f) {
        link(*f);
        return f;
    });
    const auto meeting = tbb::make_filter<Slot, Slot>(filter_mode::parallel, [this](Slot f) {
        meet(*f);
        return f;
    });
    runPipeline(threads, handingOut & reading & linking & meeting & accepting);
    return ended;
}

} // namespace

std::optional<JobEnding> walkFrames(const ScanRunSettings& run, int first, const WalkSteps& steps,
                                    std::shared_ptr<const void> before) {
    Walk walk(run, first, steps, std::move(before));
    return walk.walk();
}

} // namespace veltrana::detail
