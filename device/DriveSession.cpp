// The drive session: the worker that performs a camera drive's transfers, and the waits for them.
#include "device/DriveSession.h"

#include <cstring>
#include <system_error>
#include <utility>

namespace zelvik {

std::shared_ptr<DriveSession> DriveSession::Start(std::unique_ptr<DiskDrive> drive) {
    if (!drive) return nullptr;
    std::shared_ptr<DriveSession> session(new (std::nothrow) DriveSession(std::move(drive)));
    if (!session) return nullptr;
    try {
        // The worker keeps the session alive for as long as it runs, so that a transfer left to it never
        // outlives the drive, the hold or the buffer it uses.
        session->worker_ = std::thread([self = session] { self->Work(); });
    } catch (const std::system_error&) {
        return nullptr;
    }
    return session;
}

// Runs on the thread that drops the last reference: the device's after Retire joined the worker, or the
// worker's own after it finished a transfer left to it (Retire detached it then).
DriveSession::~DriveSession() {
    if (worker_.joinable()) worker_.detach();
}

void DriveSession::Retire() {
    bool inKernel = false;
    {
        std::lock_guard lock(mutex_);
        if (retired_) return;
        retired_ = true;
        inKernel = running_;
    }
    jobReady_.notify_all();
    jobDone_.notify_all();
    if (!worker_.joinable()) return;
    if (inKernel || worker_.get_id() == std::this_thread::get_id())
        worker_.detach();
    else
        worker_.join();
}

void DriveSession::WakeWaiters() {
    { std::lock_guard lock(mutex_); }  // a waiter between its check and its wait is waiting afterwards
    jobDone_.notify_all();
}

void DriveSession::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        jobReady_.wait(lock, [this] { return pending_ || retired_; });
        if (retired_) {
            // A job nobody has begun is not made after the end.
            if (pending_) {
                pending_ = false;
                done_ = true;
                succeeded_ = false;
                jobDone_.notify_all();
            }
            return;
        }
        pending_ = false;
        running_ = true;
        const Job job = job_;
        lock.unlock();
        bool succeeded =
            !job.command || drive_->WriteAt(job.commandOffset, sector_.data(), protocol::kSectorSize);
        if (succeeded) {
            succeeded = job.write ? drive_->WriteAt(job.offset, job.bytes, job.length)
                                  : drive_->ReadAt(job.offset, job.bytes, job.length);
        }
        lock.lock();
        running_ = false;
        done_ = true;
        succeeded_ = succeeded;
        if (succeeded) stalled = false;  // the camera answers again
        if (!abandoned_) {
            jobDone_.notify_all();
            continue;
        }
        // Nobody waits for this transfer any more: give back what its waiter left with it.
        abandoned_ = false;
        AlignedBuffer kept = std::move(kept_);
        lock.unlock();
        kept = AlignedBuffer();
        hold_.unlock();
        lock.lock();
    }
}

DriveSession::Outcome DriveSession::Run(std::unique_lock<std::mutex>& lock, const Job& job,
                                        const Patience& patience) {
    job_ = job;
    pending_ = true;
    done_ = false;
    succeeded_ = false;
    jobReady_.notify_one();
    const auto stopped = [&] { return retired_ || (patience.stop != nullptr && patience.stop->load()); };
    for (;;) {
        if (done_) return succeeded_ ? Outcome::Done : Outcome::Failed;
        if (stopped()) {
            if (!retired_ && patience.stopGrace.count() > 0) {
                jobDone_.wait_for(lock, patience.stopGrace, [this] { return done_ || retired_; });
                if (done_) return succeeded_ ? Outcome::Done : Outcome::Failed;
            }
            break;
        }
        if (Clock::now() >= patience.stallAt) {
            stalled = true;
            if (patience.giveUpWhenStalled) break;
            jobDone_.wait(lock);
        } else {
            jobDone_.wait_until(lock, patience.stallAt);
        }
    }
    if (pending_) {
        // Not begun: nothing to hand over, and the caller keeps its hold.
        pending_ = false;
        return Outcome::Failed;
    }
    abandoned_ = true;
    if (patience.owner != nullptr) kept_ = std::move(*patience.owner);
    return Outcome::Abandoned;
}

DriveSession::Outcome DriveSession::WriteSector(uint64_t offset, const protocol::Sector& block,
                                                const Patience& patience) {
    std::unique_lock lock(mutex_);
    if (retired_ || pending_ || running_) return Outcome::Failed;
    sector_ = block;
    return Run(lock, Job{true, offset, sector_.data(), protocol::kSectorSize}, patience);
}

DriveSession::Outcome DriveSession::ReadSector(uint64_t offset, protocol::Sector& sector, const Patience& patience) {
    std::unique_lock lock(mutex_);
    if (retired_ || pending_ || running_) return Outcome::Failed;
    const Outcome outcome = Run(lock, Job{false, offset, sector_.data(), protocol::kSectorSize}, patience);
    if (outcome == Outcome::Done) sector = sector_;
    return outcome;
}

DriveSession::Outcome DriveSession::Read(uint64_t offset, void* buffer, size_t length, const Patience& patience) {
    std::unique_lock lock(mutex_);
    if (retired_ || pending_ || running_) return Outcome::Failed;
    return ReadJob(lock, Job{false, offset, nullptr, length}, buffer, patience);
}

DriveSession::Outcome DriveSession::CommandThenRead(uint64_t commandOffset, const protocol::Sector& block,
                                                    uint64_t offset, void* buffer, size_t length,
                                                    const Patience& patience) {
    std::unique_lock lock(mutex_);
    if (retired_ || pending_ || running_) return Outcome::Failed;
    sector_ = block;
    return ReadJob(lock, Job{false, offset, nullptr, length, true, commandOffset}, buffer, patience);
}

DriveSession::Outcome DriveSession::ReadJob(std::unique_lock<std::mutex>& lock, Job job, void* buffer,
                                            const Patience& patience) {
    AlignedBuffer* owner = patience.owner;
    if (owner != nullptr && buffer == owner->data() && job.length <= owner->size()) {
        job.bytes = owner->data();
        return Run(lock, job, patience);
    }
    // Memory the session does not own could be gone when an abandoned read returns: read into its own.
    if (bounce_.size() < job.length) {
        bounce_ = AlignedBuffer(job.length);
        if (bounce_.empty()) return Outcome::Failed;
    }
    job.bytes = bounce_.data();
    Patience ownBuffer = patience;
    ownBuffer.owner = nullptr;
    const Outcome outcome = Run(lock, job, ownBuffer);
    if (outcome == Outcome::Done) std::memcpy(buffer, bounce_.data(), job.length);
    return outcome;
}

}  // namespace zelvik
