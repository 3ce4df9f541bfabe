// The acquisition loop, its three-slot frame ring, the frame lease and the pause guard.
#include "device/FrameRing.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/Clock.h"
#include "platform/RateMeter.h"

namespace zelvik {

namespace {

// How long a pause waits for the loop to park after the read in progress.
constexpr std::chrono::milliseconds kParkWait{1000};

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Start and stop

DeviceResult FrameRing::Start(AcquisitionState mode) {
    if (thread_.joinable()) {
        const AcquisitionState current = state_.load();
        // A loop that ended on its own (single frame stored, or a failed read) is collected here; one that
        // still runs is left alone.
        if (current != AcquisitionState::Stopping && current != AcquisitionState::Error)
            return DeviceResult::Failed;
        EndLoop();
    }
    // Buffers of an earlier acquisition are released first; the ring is sized for the current format.
    ReleaseRing();
    const FrameTransport::FrameSize size = transport_.CurrentFrameSize();
    if (size.transferBytes <= 0) return DeviceResult::Failed;
    for (Slot& slot : slots_) {
        std::unique_lock hold(slot.guard);
        slot.buffer = AlignedBuffer(static_cast<size_t>(size.transferBytes));
        if (slot.buffer.empty()) {
            hold.unlock();
            ReleaseRing();
            return DeviceResult::Failed;
        }
        // Mapped here rather than by the first frame read into each slot: the stream's first transfers
        // then cost what every later one costs. A single frame only ever uses slot 0.
        if (mode == AcquisitionState::Continuous || &slot == &slots_[0]) slot.buffer.Populate();
    }
    frameCounter_ = 0;
    lastDelivered_ = 0;
    resumedAtFrame_ = -1;
    unreadEstimate_.Reset();
    unreadTotal_ = 0;
    if (!transport_.RequestFirstFrame()) return DeviceResult::NoAnswer;
    state_ = mode;
    ringFrameBytes_ = size.frameBytes;
    try {
        thread_ = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
        state_ = AcquisitionState::Idle;
        ringFrameBytes_ = 0;
        return DeviceResult::Failed;
    }
    return DeviceResult::Done;
}

void FrameRing::Loop() {
    RateMeter rate(MillisecondClock());
    for (;;) {
        const AcquisitionState current = state_.load();
        if (current == AcquisitionState::Stopping || current == AcquisitionState::Error) break;
        // A pause asked for right after the last one ended still gets the frame it owes the stream (the
        // read in progress, or else this one) before the loop parks: back-to-back setters cannot starve
        // the stream, and none waits for a second frame.
        if (current == AcquisitionState::Paused && frameCounter_.load() != resumedAtFrame_.load()) {
            Park();
            continue;
        }
        // Fill the slot after the newest; sequence 0 marks it as being filled, so the newest complete
        // frame survives until two further frames have been stored.
        const int target = current == AcquisitionState::SingleFrame ? 0 : SlotToFill();
        Slot& slot = slots_[static_cast<size_t>(target)];
        bool stored = false;
        {
            std::lock_guard fill(slot.guard);
            slot.sequence = 0;
            const FrameTransport::FrameSize size = transport_.CurrentFrameSize();
            const int length = size.transferBytes;
            // A window larger than the ring is never read into it.
            stored = length > 0 && static_cast<size_t>(length) <= slot.buffer.size() &&
                     transport_.ReadFrameInto(slot.buffer, static_cast<size_t>(length), stopping_);
            if (stored) {
                const int64_t arrival = SteadyClockNs();
                const uint64_t unread = unreadTotal_.load(std::memory_order_relaxed) +
                                        unreadEstimate_.Next(arrival, size.periodNs);
                unreadTotal_.store(unread, std::memory_order_relaxed);
                slot.arrivalNs = arrival;
                slot.unreadTotal = unread;
                slot.sequence = ++frameCounter_;
            }
        }
        if (!stored) {
            state_ = AcquisitionState::Error;
            break;
        }
        WakeFrameWaiters();
        if (current == AcquisitionState::SingleFrame) {
            AcquisitionState expected = AcquisitionState::SingleFrame;
            state_.compare_exchange_strong(expected, AcquisitionState::Stopping);
        }
        if (rate.Count(MillisecondClock())) frameRate_ = static_cast<float>(rate.PerSecond());
    }
    {
        std::lock_guard lock(loopMutex_);
        loopEnded_ = true;
    }
    loopChanged_.notify_all();
    // A consumer waiting for a frame sees the error state at once, also when a pause set it.
    WakeFrameWaiters();
}

DeviceResult FrameRing::FinishSingleFrame(void* destination, int timeoutMs, int64_t* arrivalNs) {
    bool arrived = true;
    if (thread_.joinable()) {
        std::unique_lock lock(loopMutex_);
        arrived =
            loopChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return loopEnded_; });
    }
    // A frame that did not arrive in time does not leave the loop running: it is stopped here.
    EndLoop();
    if (!arrived) return DeviceResult::NoAnswer;
    if (destination == nullptr) return DeviceResult::Failed;
    // The loop has ended: slot 0 holds the frame, or sequence 0 when the read failed.
    Slot& slot = slots_[0];
    std::lock_guard hold(slot.guard);
    if (slot.sequence.load() == 0) return slot.buffer.empty() ? DeviceResult::Failed : DeviceResult::NoAnswer;
    std::memcpy(destination, slot.buffer.data(),
                std::min(static_cast<size_t>(CurrentFrameBytes()), slot.buffer.size()));
    lastDelivered_ = slot.sequence.load();
    if (arrivalNs != nullptr) *arrivalNs = slot.arrivalNs.load();
    return DeviceResult::Done;
}

void FrameRing::Stop() {
    EndLoop();
    ReleaseRing();
}

void FrameRing::EndLoop() {
    state_ = AcquisitionState::Stopping;
    if (thread_.joinable()) {
        // The loop leaves a transfer the camera does not finish to the drive's worker and returns.
        stopping_ = true;
        NotifyLoop();
        transport_.WakeFrameRead();
        thread_.join();
        stopping_ = false;
    }
    {
        std::lock_guard lock(loopMutex_);
        loopEnded_ = false;
    }
    ringFrameBytes_ = 0;
    state_ = AcquisitionState::Idle;
}

void FrameRing::ReleaseRing() {
    for (Slot& slot : slots_) {
        std::lock_guard hold(slot.guard);  // a consumer still copying finishes first
        slot.buffer = AlignedBuffer();
        slot.sequence = 0;
    }
}

// ---------------------------------------------------------------------------------------------------
// Slots

std::array<int, 3> FrameRing::SlotSequences() const {
    return {slots_[0].sequence.load(), slots_[1].sequence.load(), slots_[2].sequence.load()};
}

int FrameRing::NewestSlot() const {
    int newest = 0;
    int best = -1;
    for (int i = 0; i < 3; ++i) {
        const int sequence = slots_[static_cast<size_t>(i)].sequence.load();
        if (sequence > best) {
            best = sequence;
            newest = i;
        }
    }
    return newest;
}

int FrameRing::SlotToFill() const {
    const int newest = NewestSlot();
    const int leased = leasedSlot_.load();
    const int next = (newest + 1) % 3;
    // With a lease on the slot after the newest, the third slot is free.
    return next == leased ? (newest + 2) % 3 : next;
}

int FrameRing::CurrentFrameBytes() { return std::max(transport_.CurrentFrameSize().frameBytes, 0); }

// ---------------------------------------------------------------------------------------------------
// The consumer

FrameStatus FrameRing::Status() const {
    if (state_.load() == AcquisitionState::Error) return FrameStatus::Error;
    const int delivered = lastDelivered_.load();
    for (const Slot& slot : slots_) {
        if (slot.sequence.load() > delivered) return FrameStatus::NewFrame;
    }
    return FrameStatus::NoNewFrame;
}

FrameStatus FrameRing::WaitForFrame(std::chrono::milliseconds timeout,
                                    const std::function<bool()>& interrupted) {
    FrameStatus status = FrameStatus::NoNewFrame;
    std::unique_lock lock(frameWaitMutex_);
    frameArrived_.wait_for(lock, timeout, [&] {
        status = Status();
        return status != FrameStatus::NoNewFrame || interrupted();
    });
    return status;
}

void FrameRing::WakeFrameWaiters() {
    { std::lock_guard lock(frameWaitMutex_); }  // a waiter between its check and its wait is waiting now
    frameArrived_.notify_all();
}

DeviceResult FrameRing::CopyLatestFrame(void* destination) {
    if (destination == nullptr) return DeviceResult::Failed;
    const FrameLease lease = LeaseLatestFrame();
    if (!lease) return DeviceResult::Failed;  // no acquisition has allocated the ring
    std::memcpy(destination, lease.Bits(), lease.Bytes());
    return DeviceResult::Done;
}

FrameLease FrameRing::LeaseLatestFrame() {
    FrameLease lease;
    int index = 0;
    std::unique_lock<std::mutex> hold;
    for (;;) {
        index = NewestSlot();
        // Announced before the guard is taken: a loop choosing its next slot from now on passes this one by.
        leasedSlot_ = index;
        hold = std::unique_lock(slots_[static_cast<size_t>(index)].guard, std::try_to_lock);
        if (hold.owns_lock()) break;
        // A loop that chose this slot just before the announcement is filling it; waiting for that read
        // could take as long as a stalled camera keeps it. The frame it replaced is no longer the newest:
        // look again (a copy holding the guard is over in a moment).
        std::this_thread::yield();
    }
    Slot& slot = slots_[static_cast<size_t>(index)];
    if (slot.buffer.empty()) {
        leasedSlot_ = -1;
        return lease;
    }
    lease.ring_ = this;
    lease.slot_ = index;
    lease.hold_ = std::move(hold);
    lease.bits_ = slot.buffer.data();
    lease.bytes_ = std::min(static_cast<size_t>(CurrentFrameBytes()), slot.buffer.size());
    lease.sequence_ = slot.sequence.load();
    lease.arrivalNs_ = slot.arrivalNs.load();
    lease.unreadTotal_ = slot.unreadTotal.load();
    // Every frame between the one taken before and this one was replaced in the ring (a frame taken
    // again, by CopyLatestFrame, replaced none).
    lease.overwritten_ = std::max(lease.sequence_ - lastDelivered_.load() - 1, 0);
    lastDelivered_ = lease.sequence_;
    return lease;
}

FrameLease::FrameLease(FrameLease&& other) noexcept { *this = std::move(other); }

FrameLease& FrameLease::operator=(FrameLease&& other) noexcept {
    if (this != &other) {
        Return();
        ring_ = std::exchange(other.ring_, nullptr);
        slot_ = std::exchange(other.slot_, -1);
        hold_ = std::move(other.hold_);
        bits_ = std::exchange(other.bits_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
        sequence_ = std::exchange(other.sequence_, 0);
        arrivalNs_ = std::exchange(other.arrivalNs_, 0);
        overwritten_ = std::exchange(other.overwritten_, 0);
        unreadTotal_ = std::exchange(other.unreadTotal_, 0);
    }
    return *this;
}

void FrameLease::Return() {
    if (ring_ == nullptr) return;
    // Cleared while the guard is still held: the loop may take the slot again once it is released.
    int expected = slot_;
    ring_->leasedSlot_.compare_exchange_strong(expected, -1);
    if (hold_.owns_lock()) hold_.unlock();
    ring_ = nullptr;
    slot_ = -1;
    bits_ = nullptr;
    bytes_ = 0;
}

// ---------------------------------------------------------------------------------------------------
// The pause

FrameRing::Pause::Pause(FrameRing& ring) : ring_(ring) {
    AcquisitionState expected = AcquisitionState::Continuous;
    if (!ring.state_.compare_exchange_strong(expected, AcquisitionState::Paused)) return;
    failuresBefore_ = ring.transport_.FailedTransfers();
    // The loop parks after the read in progress; when it owes the stream a frame since the last pause,
    // after that frame too, so the wait allows for both.
    const bool frameOwed = ring.frameCounter_.load() == ring.resumedAtFrame_.load();
    if (ring.WaitParked(frameOwed ? 2 * kParkWait : kParkWait)) {
        outcome_ = Outcome::Paused;
        return;
    }
    // A loop that ended meanwhile (a failed read, a stop) streams no more: the registers are free.
    expected = AcquisitionState::Paused;
    if (!ring.state_.compare_exchange_strong(expected, AcquisitionState::Continuous)) return;
    // No acknowledgement: streaming goes on and the caller leaves the registers alone.
    ring.NotifyLoop();
    outcome_ = Outcome::NoAck;
}

FrameRing::Pause::~Pause() {
    if (outcome_ != Outcome::Paused) return;
    ring_.resumedAtFrame_ = ring_.frameCounter_.load();
    // Only a pause is lifted: a stop or an error that happened meanwhile stands. A transfer that failed
    // during the register traffic means the camera is gone: the stream ends as after a failed frame read.
    const bool cameraLost = ring_.transport_.FailedTransfers() != failuresBefore_;
    {
        std::lock_guard lock(ring_.loopMutex_);
        AcquisitionState expected = AcquisitionState::Paused;
        ring_.state_.compare_exchange_strong(
            expected, cameraLost ? AcquisitionState::Error : AcquisitionState::Continuous);
        // The parked loop leaves its wait even when the next pause sets Paused again before it wakes: that
        // pause is acknowledged only after the loop parked anew, with the frame it owes read.
        ++ring_.resumes_;
        ring_.parked_ = false;
    }
    ring_.loopChanged_.notify_all();
}

void FrameRing::Park() {
    std::unique_lock lock(loopMutex_);
    const uint64_t resumes = resumes_;
    parked_ = true;
    loopChanged_.notify_all();
    loopChanged_.wait(lock, [&] { return state_.load() != AcquisitionState::Paused || resumes_ != resumes; });
    parked_ = false;
}

bool FrameRing::WaitParked(std::chrono::milliseconds wait) {
    std::unique_lock lock(loopMutex_);
    loopChanged_.wait_for(lock, wait, [this] { return parked_ || loopEnded_; });
    return parked_;
}

void FrameRing::NotifyLoop() {
    { std::lock_guard lock(loopMutex_); }  // a waiter between its check and its wait is waiting now
    loopChanged_.notify_all();
}

}  // namespace zelvik
