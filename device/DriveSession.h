// One opened camera drive and the worker thread that performs its transfers, so that a caller can stop
// waiting for a transfer the camera does not answer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "device/DiskProtocol.h"
#include "device/TransportMutex.h"
#include "platform/AlignedBuffer.h"
#include "platform/DiskSystem.h"

namespace zelvik {

// A read or write blocks in the kernel for as long as the camera keeps it, and no thread can leave it. So
// every transfer runs on the session's worker, and the caller only waits for it: a register exchange until
// the stall limit, the acquisition loop until its stop. A waiter that gives up leaves the transfer to the
// worker together with everything it uses: the hold on the drive, which the worker releases when the
// kernel returns, and the buffer (the session's own sector, or a frame buffer handed over with the
// transfer).
//
// Ownership: the device, every exchange in progress and the worker thread share the session. A session
// the device has let go (Retire: Close, a new selection, the device's end) fails every later transfer at
// once; its worker is joined when idle, or else finishes the transfer in the kernel, closes the drive and
// ends on its own. Nothing of an old session is seen by the device or by a later session.
class DriveSession {
public:
    using Clock = std::chrono::steady_clock;

    enum class Outcome {
        Done,
        Failed,     // the transfer failed, or was not made (session retired, waiter gave up before it began)
        Abandoned,  // the waiter gave up while the transfer was in the kernel: the worker owns the hold now
    };
    // How a caller waits for its transfer.
    struct Patience {
        // When the transfer counts as stalled (the camera is marked stalled then).
        Clock::time_point stallAt;
        // Register exchanges give up at stallAt; the acquisition loop waits on (a slow sensor is still a
        // stream) until the transfer returns or `stop` turns true.
        bool giveUpWhenStalled = true;
        const std::atomic<bool>* stop = nullptr;
        // After a stop, the loop still waits this long for a transfer about to finish (normally the rest of
        // one frame read), so that an ordinary stop leaves nothing behind.
        std::chrono::milliseconds stopGrace{0};
        // The buffer a direct read fills; handed to the worker when the waiter gives up.
        AlignedBuffer* owner = nullptr;
    };

    // A session on `drive` with its worker started; null when the thread cannot start.
    static std::shared_ptr<DriveSession> Start(std::unique_ptr<DiskDrive> drive);
    ~DriveSession();
    DriveSession(const DriveSession&) = delete;
    DriveSession& operator=(const DriveSession&) = delete;

    // Ends the session (see above). Waits only for an idle worker.
    void Retire();
    // Wakes the waiters, so that they look at their stop flag.
    void WakeWaiters();

    // The hold for one exchange (a command block and the transfer that answers it).
    TransportMutex& Hold() { return hold_; }
    // Set when a transfer, or a wait for the drive, ran into the stall limit; cleared by the next transfer
    // that succeeds (the camera answers again). While it is set, exchanges fail without I/O.
    std::atomic<bool> stalled{false};

    // Puts what `wrap` makes of the drive in its place (a recording wrapper); only while no transfer is in
    // progress. False when the drive could not be wrapped or a transfer is in progress.
    template <class Wrap>
    bool WrapDrive(Wrap wrap) {
        std::lock_guard lock(mutex_);
        if (retired_ || pending_ || running_) return false;
        drive_ = wrap(std::move(drive_));
        return drive_ != nullptr;
    }

    // The transfers. The caller holds Hold(); on Abandoned it no longer does.
    Outcome WriteSector(uint64_t offset, const protocol::Sector& block, const Patience& patience);
    Outcome ReadSector(uint64_t offset, protocol::Sector& sector, const Patience& patience);
    // Reads straight into patience.owner's memory when `buffer` is it, otherwise through a buffer of the
    // session's own that is copied out.
    Outcome Read(uint64_t offset, void* buffer, size_t length, const Patience& patience);
    // Writes `block` at commandOffset, then reads as Read does, both in one job of the worker: a frame
    // request and the image it answers cost one hand-over instead of two.
    Outcome CommandThenRead(uint64_t commandOffset, const protocol::Sector& block, uint64_t offset,
                            void* buffer, size_t length, const Patience& patience);

private:
    struct Job {
        bool write = false;
        uint64_t offset = 0;
        uint8_t* bytes = nullptr;
        size_t length = 0;
        // A read can be preceded by the write of the session's sector (the command it answers).
        bool command = false;
        uint64_t commandOffset = 0;
    };

    explicit DriveSession(std::unique_ptr<DiskDrive> drive) : drive_(std::move(drive)) {}
    void Work();
    // Hands the job to the worker and waits as patience says; on Done the job's bytes are there to copy.
    Outcome Run(std::unique_lock<std::mutex>& lock, const Job& job, const Patience& patience);
    // Read and CommandThenRead: `job` without its bytes, which are the owner's or the bounce buffer.
    Outcome ReadJob(std::unique_lock<std::mutex>& lock, Job job, void* buffer, const Patience& patience);

    std::unique_ptr<DiskDrive> drive_;
    TransportMutex hold_;
    std::thread worker_;

    std::mutex mutex_;
    std::condition_variable jobReady_;
    std::condition_variable jobDone_;
    // Under mutex_. One job at a time: only the holder of hold_ submits, and a job given up keeps it.
    Job job_;
    bool pending_ = false;    // submitted, not yet taken by the worker
    bool running_ = false;    // in the worker's hands
    bool done_ = false;       // finished since it was submitted
    bool succeeded_ = false;
    bool abandoned_ = false;  // the waiter gave up: the worker releases hold_ and kept_ when it returns
    bool retired_ = false;
    AlignedBuffer kept_;      // a frame buffer handed over with an abandoned read
    protocol::Sector sector_;  // the bytes of sector transfers
    AlignedBuffer bounce_;     // reads into memory the session does not own
};

}  // namespace zelvik
