#include "job/ordered_frames.h"

#include "job/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

namespace veltrana {
namespace {

struct Read {
    int number = 0;
};

struct Met {
    int previous = 0;
    int frame = 0;
};

using Turn = FrameInTurn<Read, Met>;

ScanRunSettings runOf(int first, int last, int threads) {
    ScanRunSettings run;
    run.startFrame = first;
    run.stopFrame = last;
    run.threads = threads;
    return run;
}

// Reads a frame as its number, counting the reads.
std::function<Read(int)> countingReader(std::atomic<int>& reads) {
    return [&reads](int n) {
        ++reads;
        return Read{n};
    };
}

std::vector<int> numbers(int first, int last) {
    std::vector<int> v(static_cast<std::size_t>(last - first + 1));
    std::iota(v.begin(), v.end(), first);
    return v;
}

// Every case on one, two and four threads: the walk must not depend on them.
class OrderedFrames : public testing::TestWithParam<int> {};

TEST_P(OrderedFrames, AcceptsEveryFrameInOrderMetWithTheOneBefore) {
    FrameSteps<Read, Met> steps;
    steps.read = [](int n) { return Read{n}; };
    steps.meet = [](const Read& previous, const Read& frame) {
        return Met{previous.number, frame.number};
    };
    std::vector<int> accepted; // accept runs one frame at a time
    steps.accept = [&](const Turn& turn) -> std::optional<JobEnding> {
        EXPECT_FALSE(turn.skipped);
        EXPECT_EQ(turn.frame->number, turn.number);
        EXPECT_EQ(turn.previous->number, turn.number - 1);
        EXPECT_EQ(turn.meeting->previous, turn.number - 1);
        EXPECT_EQ(turn.meeting->frame, turn.number);
        accepted.push_back(turn.number);
        return std::nullopt;
    };
    // frame 3 was read and accepted by the job itself: frame 4 meets it
    const auto before = std::make_shared<const Read>(Read{3});
    EXPECT_FALSE(walkFrames(runOf(3, 30, GetParam()), 4, steps, before).has_value());
    EXPECT_EQ(accepted, numbers(4, 30));
}

TEST_P(OrderedFrames, AnEndingDropsTheFramesReadAheadUnaccepted) {
    const int threads = GetParam();
    std::atomic<int> reads{0};
    FrameSteps<Read> steps;
    steps.read = countingReader(reads);
    std::vector<int> accepted;
    steps.accept = [&](const FrameInTurn<Read, NoMeeting>& turn) -> std::optional<JobEnding> {
        EXPECT_EQ(turn.meeting, nullptr); // a walk without meet meets nothing
        accepted.push_back(turn.number);
        if (turn.number == 7) {
            return JobEnding{JobEnd::UnreadableFrame, "frame 7"};
        }
        return std::nullopt;
    };
    const std::optional<JobEnding> ended = walkFrames(runOf(1, 40, threads), 2, steps);
    ASSERT_TRUE(ended.has_value());
    EXPECT_EQ(ended->end, JobEnd::UnreadableFrame);
    EXPECT_EQ(ended->message, "frame 7");
    EXPECT_EQ(accepted, numbers(2, 7));
    // no more than the frames in flight were read past it
    EXPECT_LE(reads.load(), 6 + framesInFlight(jobThreads(threads)));
}

TEST_P(OrderedFrames, AStopShowsAsOneSkippedFrameAfterEveryFrameBeforeIt) {
    std::atomic<bool> stop{false};
    ScanRunSettings run = runOf(1, 60, GetParam());
    run.stopRequested = &stop;
    FrameSteps<Read, Met> steps;
    steps.read = [&](int n) {
        if (n == 5) {
            stop.store(true);
        }
        return Read{n};
    };
    steps.meet = [](const Read& previous, const Read& frame) {
        return Met{previous.number, frame.number};
    };
    std::vector<int> accepted;
    int skipped = 0;
    steps.accept = [&](const Turn& turn) -> std::optional<JobEnding> {
        accepted.push_back(turn.number);
        if (turn.skipped) {
            ++skipped;
            EXPECT_EQ(turn.frame, nullptr);
            EXPECT_EQ(turn.meeting, nullptr);
            return JobEnding{JobEnd::Stopped, "stopped"};
        }
        return std::nullopt;
    };
    const std::optional<JobEnding> ended = walkFrames(run, 2, steps);
    ASSERT_TRUE(ended.has_value());
    EXPECT_EQ(ended->end, JobEnd::Stopped);
    EXPECT_EQ(skipped, 1);
    // frames were handed out after frame 5 only while its read was under way
    ASSERT_GE(accepted.size(), 5u);
    EXPECT_EQ(accepted, numbers(2, accepted.back()));
    EXPECT_LE(accepted.back(), 6 + framesInFlight(jobThreads(GetParam())));
}

TEST_P(OrderedFrames, AStopAskedBeforeTheWalkReadsNothing) {
    const std::atomic<bool> stop{true};
    ScanRunSettings run = runOf(1, 10, GetParam());
    run.stopRequested = &stop;
    std::atomic<int> reads{0};
    FrameSteps<Read> steps;
    steps.read = countingReader(reads);
    std::vector<int> accepted;
    steps.accept = [&](const FrameInTurn<Read, NoMeeting>& turn) -> std::optional<JobEnding> {
        accepted.push_back(turn.number);
        return JobEnding{JobEnd::Stopped, "stopped"};
    };
    EXPECT_TRUE(walkFrames(run, 2, steps).has_value());
    EXPECT_EQ(reads.load(), 0);
    EXPECT_EQ(accepted, std::vector<int>{2});
}

INSTANTIATE_TEST_SUITE_P(Threads, OrderedFrames, testing::Values(1, 2, 4));

} // namespace
} // namespace veltrana
