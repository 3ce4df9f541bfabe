// Events per second, measured over windows of just over a second.
#pragma once

#include <cstdint>

namespace zelvik {

// Counts events (frames) and closes a window with the first event more than a second after the window
// began; the rate is that window's. One thread counts; the owner publishes the rate where others read it.
class RateMeter {
public:
    explicit RateMeter(uint32_t nowMs) : windowStart_(nowMs) {}

    // Counts one event at nowMs (MillisecondClock); true when it closed a window and the rate changed.
    bool Count(uint32_t nowMs) {
        ++count_;
        const uint32_t elapsed = nowMs - windowStart_;
        if (elapsed <= kWindowMs) return false;
        closedCount_ = count_;
        closedMs_ = elapsed;
        count_ = 0;
        windowStart_ = nowMs;
        return true;
    }

    // The last closed window's events per second times `scale` (10 gives tenths); 0 before the first.
    double PerSecond(double scale = 1.0) const {
        return closedMs_ == 0 ? 0.0 : closedCount_ * (1000.0 * scale) / closedMs_;
    }

private:
    static constexpr uint32_t kWindowMs = 1000;
    uint32_t windowStart_;
    int count_ = 0;
    int closedCount_ = 0;
    uint32_t closedMs_ = 0;
};

}  // namespace zelvik
