// How soon the library reports a camera that leaves or arrives: the emulator with two cameras, a watch on
// its root, and N unplug/replug cycles of camera 2, each message timed from the control write to its
// arrival in the queue.
//
// Run: hotplug_bench [CYCLES] (default 100; needs /dev/fuse). Prints each kind's count within 1 s, the
// median, the 95th percentile and the worst, and exits 1 when any message took longer than 1 s or never
// came (a bound of 10 s against hanging).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "include/ZelvikSdk.h"
#include "tests/support/FuseEmulator.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kGoalMs = 1000;
constexpr int kHangGuardMs = 10000;

// Milliseconds until `expected` arrives on queue; -1 when it did not within the guard.
double Await(ZELVIK_HWND queue, uint32_t expected, Clock::time_point since) {
    const auto until = since + std::chrono::milliseconds(kHangGuardMs);
    while (Clock::now() < until) {
        ZelvikMessage m{};
        if (ZelvikMsg_Get(queue, &m, 50) == 1 && m.message == expected)
            return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
    }
    return -1;
}

void Report(const char* kind, std::vector<double> ms) {
    const auto missing = std::count(ms.begin(), ms.end(), -1.0);
    std::erase(ms, -1.0);
    std::sort(ms.begin(), ms.end());
    const auto within = std::count_if(ms.begin(), ms.end(), [](double v) { return v <= kGoalMs; });
    auto at = [&](double q) { return ms.empty() ? 0.0 : ms[static_cast<size_t>(q * static_cast<double>(ms.size() - 1))]; };
    std::printf("%-8s %3ld of %zu within %d ms (%ld never came)  median %6.1f ms  p95 %6.1f ms  worst %6.1f ms\n",
                kind, static_cast<long>(within), ms.size() + static_cast<size_t>(missing), kGoalMs,
                static_cast<long>(missing), at(0.5), at(0.95), ms.empty() ? 0.0 : ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::string unavailable = zelvik::test::FuseEmulator::Unavailable();
    if (!unavailable.empty()) {
        std::fprintf(stderr, "hotplug_bench: %s\n", unavailable.c_str());
        return 77;
    }
    zelvik::test::FuseEmulator emulator(ZELVIK_EMULATOR_PATH, {"--cameras", "2", "--fps", "max"});
    if (!emulator.Ready()) {
        std::fprintf(stderr, "hotplug_bench: %s\n", emulator.Error().c_str());
        return 1;
    }
    ::setenv("ZELVIK_ROOT", emulator.Root().c_str(), 1);
    const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    if (!ZelvikCam_Watch(queue)) return 1;
    std::vector<double> removals, arrivals;
    for (int i = 0; i < cycles; ++i) {
        auto sent = Clock::now();
        emulator.Control("unplug 2");
        removals.push_back(Await(queue, MSG_CAMERA_REMOVED, sent));
        sent = Clock::now();
        emulator.Control("replug 2");
        arrivals.push_back(Await(queue, MSG_CAMERA_ARRIVED, sent));
    }
    ZelvikCam_Unwatch(queue);
    ZelvikMsg_DestroyQueue(queue);
    Report("removal", removals);
    Report("arrival", arrivals);
    auto late = [](const std::vector<double>& v) {
        return std::any_of(v.begin(), v.end(), [](double ms) { return ms < 0 || ms > kGoalMs; });
    };
    return late(removals) || late(arrivals) ? 1 : 0;
}
