// The estimate of frames the camera finished that no read took, from the reads' arrival times and the
// sensor's frame period (docs/capture.md has how it is made and its error).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace zelvik {

// The camera finishes frames on a fixed grid and holds only the newest: a frame finished while no read
// was waiting is gone when a later one replaces it. Fed every read's arrival in order, on one thread.
class UnreadFrameEstimate {
public:
    // Frames finished between the previous read's frame and this one's, judged from the time between the
    // two arrivals in frame periods (rounded). sensorPeriodNs is the period the sensor's timing gives
    // (0: unknown). When the recent reads came at a steady pace more than a quarter off that (registers
    // the timing does not know of, a camera on a clock of its own), their median interval is the period
    // instead. The first three intervals of a stream count nothing: they show the pace.
    uint32_t Next(int64_t arrivalNs, int64_t sensorPeriodNs) {
        if (!started_) {
            started_ = true;
            previousNs_ = arrivalNs;
            return 0;
        }
        const int64_t interval = arrivalNs - previousNs_;
        previousNs_ = arrivalNs;
        // Until a few intervals show the pace, neither it nor the timing is trusted: a camera off its
        // timing would otherwise count a gap at each of its first frames.
        const int64_t cadence = Cadence();
        int64_t period = sensorPeriodNs;
        if (period <= 0 || cadence * 4 > period * 5 || cadence * 4 < period * 3) period = cadence;
        intervals_[next_] = interval;
        next_ = (next_ + 1) % intervals_.size();
        count_ = std::min(count_ + 1, intervals_.size());
        if (cadence <= 0 || period <= 0 || interval <= 0) return 0;
        const int64_t periods = (interval + period / 2) / period;
        return periods > 1 ? static_cast<uint32_t>(std::min<int64_t>(periods - 1, UINT32_MAX)) : 0;
    }

    void Reset() { *this = UnreadFrameEstimate(); }

private:
    // The median of the recent intervals once there are enough of them to tell a pace; else 0.
    int64_t Cadence() const {
        if (count_ < kMinIntervals) return 0;
        std::array<int64_t, kIntervals> sorted = intervals_;
        const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(count_ / 2);
        std::nth_element(sorted.begin(), middle, sorted.begin() + static_cast<std::ptrdiff_t>(count_));
        return *middle;
    }

    static constexpr size_t kIntervals = 15;
    static constexpr size_t kMinIntervals = 3;
    bool started_ = false;
    int64_t previousNs_ = 0;
    std::array<int64_t, kIntervals> intervals_{};
    size_t next_ = 0;
    size_t count_ = 0;
};

}  // namespace zelvik
