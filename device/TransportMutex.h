// The lock that keeps exchanges with the camera disk whole, and notices a transfer that has stalled.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zelvik {

// A mutex that remembers when its holder took it. LockUnlessStalled waits only while the holder has held
// it for less than the stall limit: behind a transfer that hangs on an unresponsive camera, the first
// waiter gives up when the limit is reached and every later one at once, instead of each waiting anew.
class TransportMutex {
public:
    using Clock = std::chrono::steady_clock;

    void lock() {
        std::unique_lock guard(mutex_);
        released_.wait(guard, [this] { return !held_; });
        Take();
    }
    bool try_lock() {
        std::lock_guard guard(mutex_);
        if (held_) return false;
        Take();
        return true;
    }
    bool LockUnlessStalled(std::chrono::milliseconds stallLimit) {
        std::unique_lock guard(mutex_);
        while (held_) {
            const Clock::time_point stalledAt = heldSince_ + stallLimit;
            if (Clock::now() >= stalledAt) return false;
            released_.wait_until(guard, stalledAt);
        }
        Take();
        return true;
    }
    void unlock() {
        {
            std::lock_guard guard(mutex_);
            held_ = false;
        }
        released_.notify_one();
    }

private:
    void Take() {
        held_ = true;
        heldSince_ = Clock::now();
    }

    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    Clock::time_point heldSince_{};
};

}  // namespace zelvik
