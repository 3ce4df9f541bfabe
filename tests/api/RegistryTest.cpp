// The handle ring and the call frame around every export.
#include <thread>

#include "tests/api/ApiFixture.h"

namespace zelvik::test {
namespace {

std::shared_ptr<HandleEntry> Entry() { return std::make_shared<HandleEntry>(); }

TEST(HandleRegistryTest, LookupRotatesTheHeadToTheFoundNode) {
    HandleRegistry registry;
    const int a = registry.Insert(Entry());
    const int b = registry.Insert(Entry());
    const int c = registry.Insert(Entry());
    EXPECT_EQ(registry.HeadKey(), c);  // a new node becomes the head
    ASSERT_NE(registry.Find(a), nullptr);
    EXPECT_EQ(registry.HeadKey(), a);
    ASSERT_NE(registry.Find(b), nullptr);
    EXPECT_EQ(registry.HeadKey(), b);
    // A failed lookup makes one full turn and stops on the node before where it started (the ring
    // runs a -> c -> b -> a, each insertion going in before the head).
    int missing = 1;
    while (missing == a || missing == b || missing == c) ++missing;
    EXPECT_EQ(registry.Find(missing), nullptr);
    EXPECT_EQ(registry.HeadKey(), c);
    EXPECT_EQ(registry.Count(), 3);
}

TEST(HandleRegistryTest, RemoveUnlinksAndEmptiesTheRing) {
    HandleRegistry registry;
    const int a = registry.Insert(Entry());
    const int b = registry.Insert(Entry());
    EXPECT_TRUE(registry.Remove(a));
    EXPECT_FALSE(registry.Remove(a));
    EXPECT_EQ(registry.Count(), 1);
    EXPECT_NE(registry.Find(b), nullptr);
    EXPECT_TRUE(registry.Remove(b));
    EXPECT_EQ(registry.Count(), 0);
    EXPECT_EQ(registry.HeadKey(), 0);
    EXPECT_EQ(registry.Find(b), nullptr);
    const int c = registry.Insert(Entry());  // the ring is built afresh
    EXPECT_EQ(registry.HeadKey(), c);
    EXPECT_EQ(registry.Count(), 1);
}

TEST(HandleRegistryTest, KeysAreUniqueAndNeverZero) {
    HandleRegistry registry;
    std::set<int> keys;
    for (int i = 0; i < 500; ++i) keys.insert(registry.Insert(Entry()));
    EXPECT_EQ(keys.size(), 500u);
    EXPECT_EQ(keys.count(0), 0u);
    for (int k : keys) EXPECT_NE(registry.Find(k), nullptr);
}

using ExportFrameTest = ApiFixture;

TEST_F(ExportFrameTest, UnregisteredHandlesReturnTheFailureValueSilently) {
    const int stranger = 0x7531;
    EXPECT_EQ(Zelvik_GetColorMode(stranger), -1);
    EXPECT_EQ(Zelvik_GetSubSample(stranger), -1);
    EXPECT_EQ(Zelvik_GetWaitTime(stranger), -1);
    EXPECT_EQ(Zelvik_SetColorMode(stranger, 24), 0);
    EXPECT_EQ(Zelvik_Width(stranger), 0);
    EXPECT_EQ(Zelvik_GetLastError(stranger), 0);
    EXPECT_EQ(Zelvik_Release(stranger), 0);
    EXPECT_EQ(Zelvik_Trigger(stranger, 1, 2), 0);
    int ok = 42;
    EXPECT_EQ(Zelvik_GetBrightness(stranger, &ok), 0);
    EXPECT_EQ(Zelvik_GetHalfClock(stranger, &ok), 0);
    EXPECT_EQ(ok, 42);  // untouched
}

TEST_F(ExportFrameTest, VersionAndReleaseTwice) {
    EXPECT_EQ(Zelvik_GetDllVersion(), 19793177);
    const int h = Zelvik_Initialize(0);
    ASSERT_NE(h, 0);  // no camera attached: the handle exists all the same
    EXPECT_EQ(Zelvik_Release(h), 1);
    EXPECT_EQ(Zelvik_Release(h), 0);
    EXPECT_EQ(Zelvik_GetDllVersion(), 19793177);
}

TEST_F(ExportFrameTest, UnsupportedEntryReportsElevenOnLiveHandlesOnly) {
    const int h = HandleWithDevice();
    DrainErrors(h);
    using Unsupported = int (*)(int, ...);
    for (Unsupported f : {Zelvik_Fps, Zelvik_GetCameraType, Zelvik_SetCameraType, Zelvik_SetCrossbar,
                          Zelvik_SetHalfClock, Zelvik_SetSamplingRate, Zelvik_Trigger}) {
        EXPECT_EQ(f(h, 5, 6, 7), 0);
        EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_UNSUPPORTED);
        EXPECT_EQ(Zelvik_GetLastError(h), 0);
    }
    int ok = 7;
    EXPECT_EQ(Zelvik_GetSamplingRate(h, &ok), 0);
    EXPECT_EQ(ok, 0);
    ok = 7;
    EXPECT_EQ(Zelvik_GetVideoFormat(h, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Zelvik_GetHalfClock(h, &ok), 0);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Zelvik_GetVideoFormat(h, nullptr), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), 0);  // fixed answers report nothing
}

TEST_F(ExportFrameTest, ConcurrentCallsWithDifferentHandlesAndReleases) {
    // Each thread creates, uses and releases its own handles while the others do the same.
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures, t] {
            for (int i = 0; i < 30; ++i) {
                const int h = InitializeHandle([](CameraInstance& c) {
                    return c.InitializeWith(0, std::make_unique<RegisterMapDevice>());
                });
                for (int k = 0; k < 50; ++k) {
                    const int bits = (k + t) % 2 ? 24 : 32;
                    if (Zelvik_SetColorMode(h, bits) != 1 || Zelvik_GetColorMode(h) != bits) ++failures;
                    if (Zelvik_SetBrightness(h, k) != 1 || Zelvik_GetBrightness(h, nullptr) != k) ++failures;
                }
                if (Zelvik_Release(h) != 1) ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(ExportFrameTest, ReleaseWhileAnotherThreadCallsTheSameHandle) {
    const int h = HandleWithDevice();
    std::atomic<bool> stop{false};
    std::thread caller([&] {
        while (!stop) Zelvik_SetWaitTime(h, 5);  // returns 0 once the handle is gone; must never crash
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Zelvik_Release(h), 1);
    stop = true;
    caller.join();
    EXPECT_EQ(Zelvik_GetWaitTime(h), -1);
    handles_.clear();
}

}  // namespace
}  // namespace zelvik::test
