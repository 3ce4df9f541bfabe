// The estimate of frames the camera finished that no read took, on arrival times made up in frame periods.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "device/UnreadFrames.h"

namespace zelvik::test {
namespace {

constexpr int64_t kPeriodNs = 72'791'500;  // the full sensor's frame period

TEST(UnreadFrames, GapsAreCountedInFramePeriods) {
    const struct Case {
        const char* what;
        int64_t sensorPeriodNs;
        std::vector<double> arrivals;  // in frame periods
        std::vector<uint32_t> unread;  // the estimate at each arrival
    } cases[] = {
        {"reads on the camera's grid lose nothing", kPeriodNs, {0, 1, 2, 3, 4, 5}, {0, 0, 0, 0, 0, 0}},
        {"read times that wobble by a tenth lose nothing", kPeriodNs, {0, 1.1, 1.95, 3.08, 3.9, 5.05},
         {0, 0, 0, 0, 0, 0}},
        // The camera finished frames at 4 and 5 while the read was held; the late read got the one of 6.
        {"a held read early in a period: exact", kPeriodNs, {0, 1, 2, 3, 6.3, 7, 8}, {0, 0, 0, 0, 2, 0, 0}},
        // The same held read, late in a period: one too many, never one too few (the next read comes
        // sooner than a period and counts nothing).
        {"a held read late in a period: one more", kPeriodNs, {0, 1, 2, 3, 6.7, 7, 8}, {0, 0, 0, 0, 3, 0, 0}},
        {"a setter's pause of two periods", kPeriodNs, {0, 1, 2, 3, 6, 7}, {0, 0, 0, 0, 2, 0}},
        {"the first intervals only show the pace", kPeriodNs, {0, 3, 4, 5, 6}, {0, 0, 0, 0, 0}},
        // A camera off its timing is judged by its pace.
        {"a camera slower than its timing", kPeriodNs, {0, 2.5, 5, 7.5, 10, 12.5, 17.5}, {0, 0, 0, 0, 0, 0, 1}},
        {"a camera faster than its timing", kPeriodNs, {0, 0.5, 1, 1.5, 2, 4, 4.5}, {0, 0, 0, 0, 0, 3, 0}},
        {"no sensor period: the pace alone", 0, {0, 1, 2, 3, 6, 7}, {0, 0, 0, 0, 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UnreadFrameEstimate estimate;
        std::vector<uint32_t> unread;
        for (const double at : c.arrivals)
            unread.push_back(estimate.Next(1'000'000'000 + std::llround(at * kPeriodNs), c.sensorPeriodNs));
        EXPECT_EQ(unread, c.unread);
    }
}

TEST(UnreadFrames, ResetStartsAfresh) {
    UnreadFrameEstimate estimate;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(estimate.Next(i * kPeriodNs, kPeriodNs), 0u);
    EXPECT_EQ(estimate.Next(8 * kPeriodNs, kPeriodNs), 4u);
    estimate.Reset();
    EXPECT_EQ(estimate.Next(50 * kPeriodNs, kPeriodNs), 0u);
    EXPECT_EQ(estimate.Next(57 * kPeriodNs, kPeriodNs), 0u) << "a stream that starts again shows its pace again";
}

}  // namespace
}  // namespace zelvik::test
