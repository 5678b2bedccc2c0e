#include "geometry/trace.h"

#include <gtest/gtest.h>

namespace veltrana {
namespace {

TEST(Trace, PrintsOnlyWhenSwitchedOn) {
    ASSERT_FALSE(traceEnabled());
    testing::internal::CaptureStdout();
    trace("x=%d y=%d\n", 1, 2);
    setTraceEnabled(true);
    trace("x=%d y=%d\n", 3, 4);
    setTraceEnabled(false);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "x=3 y=4\n");
}

} // namespace
} // namespace veltrana
