// The lock that keeps exchanges with the camera disk whole, and notices a transfer that has stalled.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zelvik {

// A mutex that remembers when its holder took it. LockUnlessStalled waits only while the holder has held
// it for less than the stall limit: behind a transfer that hangs on an unresponsive camera, the first
// waiter gives up when the limit is reached and every later one at once, instead of each waiting anew.
//
// Waiters take it in the order they came, and unlock hands it straight to the first of them: the
// acquisition loop takes it again a moment after each frame, and a register exchange waiting behind it
// would otherwise lose that race frame after frame (on a loaded machine for seconds, past its own limit).
// The holder may unlock from another thread (the drive's worker does, for a transfer left to it).
class TransportMutex {
public:
    using Clock = std::chrono::steady_clock;

    bool LockUnlessStalled(std::chrono::milliseconds stallLimit) {
        std::unique_lock guard(mutex_);
        // The queue is empty whenever the mutex is free: unlock hands it over while anyone waits.
        if (!held_) {
            held_ = true;
            heldSince_ = Clock::now();
            return true;
        }
        Waiter self;
        Append(self);
        while (!self.granted) {
            const Clock::time_point stalledAt = heldSince_ + stallLimit;
            if (Clock::now() >= stalledAt) {
                Unlink(self);
                return false;
            }
            released_.wait_until(guard, stalledAt);
        }
        return true;
    }

    void unlock() {
        {
            std::lock_guard guard(mutex_);
            if (Waiter* next = first_) {
                Unlink(*next);
                next->granted = true;
                heldSince_ = Clock::now();
            } else {
                held_ = false;
            }
        }
        released_.notify_all();
    }

    // Threads waiting for the mutex now.
    int Waiters() {
        std::lock_guard guard(mutex_);
        int count = 0;
        for (const Waiter* w = first_; w != nullptr; w = w->next) ++count;
        return count;
    }

private:
    // One waiting thread, on its own stack for as long as it waits.
    struct Waiter {
        Waiter* previous = nullptr;
        Waiter* next = nullptr;
        bool granted = false;
    };

    // The node lives on the waiting thread's stack and is unlinked before that thread returns, which GCC's
    // dangling-pointer check cannot see.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
    void Append(Waiter& w) {
        w.previous = last_;
        (last_ != nullptr ? last_->next : first_) = &w;
        last_ = &w;
    }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    void Unlink(Waiter& w) {
        (w.previous != nullptr ? w.previous->next : first_) = w.next;
        (w.next != nullptr ? w.next->previous : last_) = w.previous;
        w.previous = w.next = nullptr;
    }

    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    Clock::time_point heldSince_{};
    Waiter* first_ = nullptr;
    Waiter* last_ = nullptr;
};

}  // namespace zelvik
