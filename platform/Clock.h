// Monotonic millisecond clock as a wrapping 32-bit count: differences are taken unsigned.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace zelvik {

inline uint32_t MillisecondClock() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The steady clock in nanoseconds (CLOCK_MONOTONIC on Linux): frame arrival times and their ages.
inline int64_t SteadyClockNs() {
    using namespace std::chrono;
    return static_cast<int64_t>(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

// The millisecond clock's reading at a time of the steady clock in nanoseconds (SteadyClockNs).
inline uint32_t MillisecondClockAt(int64_t steadyNs) { return static_cast<uint32_t>(steadyNs / 1000000); }

// Fuzzing builds (FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION, set by fuzz/) do not wait out the protocol's
// pauses, so that one input runs in microseconds; every other build sleeps.
inline void SleepMs(int ms) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    (void)ms;
    std::this_thread::yield();
#else
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
#endif
}

}  // namespace zelvik
