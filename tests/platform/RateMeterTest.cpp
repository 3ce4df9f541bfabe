// The rate meter of the acquisition loop and the capture thread: windows of just over a second.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/RateMeter.h"

namespace zelvik {
namespace {

TEST(RateMeter, RateOfTheLastWindowOfOverASecond) {
    RateMeter meter(1000);
    EXPECT_EQ(meter.PerSecond(), 0.0);
    // 14 frames 75 ms apart: the one at 2050 ms is the first more than a second after the start.
    for (int i = 1; i <= 13; ++i) EXPECT_FALSE(meter.Count(1000 + 75 * static_cast<uint32_t>(i))) << i;
    EXPECT_TRUE(meter.Count(2050));
    EXPECT_DOUBLE_EQ(meter.PerSecond(), 14 * 1000.0 / 1050);
    EXPECT_EQ(static_cast<int32_t>(meter.PerSecond(10)), 133) << "tenths, truncated";
    // The next window starts at the frame that closed this one; the clock may wrap meanwhile.
    RateMeter wrapping(0xFFFFFF00u);
    EXPECT_FALSE(wrapping.Count(0x00000010u));
    EXPECT_TRUE(wrapping.Count(0xFFFFFF00u + 1001));
    EXPECT_DOUBLE_EQ(wrapping.PerSecond(), 2 * 1000.0 / 1001);
}

}  // namespace
}  // namespace zelvik
