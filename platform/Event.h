// A manual-reset event: once set it stays signalled until reset, and wakes every waiter.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zelvik {

class ManualResetEvent {
public:
    void Set() {
        { std::lock_guard lock(mutex_); signalled_ = true; }
        cv_.notify_all();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }
    // Waits without limit.
    void Wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return signalled_; });
    }
    // True when signalled within timeoutMs.
    bool WaitFor(int timeoutMs) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace zelvik
