// The acquisition loop and its three-slot frame ring: the thread that reads frames from the camera, the
// lease that lends the newest frame to a consumer, and the pause that lets register traffic in between.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "device/DeviceResult.h"
#include "device/UnreadFrames.h"
#include "platform/AlignedBuffer.h"

namespace zelvik {

// What the loop holds for a consumer.
enum class FrameStatus { Error, NoNewFrame, NewFrame };

// The loop's states, numbered as the device reports them (GetState) and docs/device.md draws them.
enum class AcquisitionState {
    Idle = 0,         // no loop
    Continuous = 1,   // reading frame after frame
    SingleFrame = 2,  // reading one frame into slot 0
    Paused = 3,       // a Pause guard holds the loop between two frames
    Stopping = 4,     // the loop ends (a stop, or the single frame stored)
    Error = 5,        // a frame read failed (or a transfer during a pause): the loop has ended
};

// What the ring needs of the camera. The device implements it over its drive; tests use a fake.
class FrameTransport {
public:
    struct FrameSize {
        int frameBytes = 0;     // the current format's frame (one byte per pixel)
        int transferBytes = 0;  // the transfer that carries it (whole sectors)
        int64_t periodNs = 0;   // the sensor's frame period by its timing (0: unknown)
    };
    virtual FrameSize CurrentFrameSize() = 0;
    // The frame request an acquisition starts with; false when the camera does not take it.
    virtual bool RequestFirstFrame() = 0;
    // Reads one frame of `length` bytes into `slot`, on the loop's thread. It waits for the camera however
    // long it takes, until `stop` turns true; then it may leave the transfer behind, with the slot's buffer.
    virtual bool ReadFrameInto(AlignedBuffer& slot, size_t length, const std::atomic<bool>& stop) = 0;
    // Makes a ReadFrameInto in progress look at its stop flag.
    virtual void WakeFrameRead() = 0;
    // Transfers that have failed so far, on any thread: a pause during which one failed ends the stream.
    virtual uint64_t FailedTransfers() = 0;

protected:
    ~FrameTransport() = default;
};

class FrameRing;

// The newest finished frame of the ring, lent to the consumer in place. While the lease lives, the slot's
// guard is held and the acquisition loop fills the other two slots, so the frame stays whole and the loop
// never waits for the consumer. Moving hands the slot on; destruction returns it.
class FrameLease {
public:
    FrameLease() = default;
    FrameLease(FrameLease&& other) noexcept;
    FrameLease& operator=(FrameLease&& other) noexcept;
    FrameLease(const FrameLease&) = delete;
    FrameLease& operator=(const FrameLease&) = delete;
    ~FrameLease() { Return(); }

    explicit operator bool() const { return bits_ != nullptr; }
    // The frame's packed rows (frame bytes of the format): writable, the slot is the consumer's alone
    // until it is returned.
    uint8_t* Bits() const { return bits_; }
    size_t Bytes() const { return bytes_; }
    int Sequence() const { return sequence_; }
    // When the acquisition read of this frame finished (steady clock, nanoseconds).
    int64_t ArrivalNs() const { return arrivalNs_; }
    // Frames the loop stored after the consumer's previous frame and before this one: replaced in the
    // ring before anyone took them.
    int Overwritten() const { return overwritten_; }
    // The estimate of frames the camera finished and no read took, since the start up to this frame.
    uint64_t UnreadTotal() const { return unreadTotal_; }
    // Gives the slot back to the ring now.
    void Return();

private:
    friend class FrameRing;
    FrameRing* ring_ = nullptr;
    int slot_ = -1;
    std::unique_lock<std::mutex> hold_;
    uint8_t* bits_ = nullptr;
    size_t bytes_ = 0;
    int sequence_ = 0;
    int64_t arrivalNs_ = 0;
    int overwritten_ = 0;
    uint64_t unreadTotal_ = 0;
};

// Owns the acquisition thread and the three slots it fills. The application's thread starts and stops
// it; one consumer (the capture thread) takes frames; register traffic pauses it with a Pause guard.
class FrameRing {
public:
    explicit FrameRing(FrameTransport& transport) : transport_(transport) {}
    // Stops the loop; its owner stops it earlier when the transport goes away first.
    ~FrameRing() { Stop(); }
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;

    // Sizes the ring for the current format, sends the first frame request and starts the loop. Failed
    // while a loop still runs (one that ended on its own is collected) or when the ring cannot be had;
    // NoAnswer when the camera does not take the request (no thread is started then).
    DeviceResult StartContinuous() { return Start(AcquisitionState::Continuous); }
    DeviceResult StartSingleFrame() { return Start(AcquisitionState::SingleFrame); }
    // Waits up to timeoutMs for the single frame, stops the loop and copies the frame (frame bytes of the
    // format) and, when asked, when its read finished (steady clock, ns). NoAnswer when it did not arrive
    // in time or its read failed; the destination is then not written.
    DeviceResult FinishSingleFrame(void* destination, int timeoutMs, int64_t* arrivalNs = nullptr);
    // Ends the loop (a read the camera does not finish is left behind) and releases the ring.
    void Stop();

    AcquisitionState State() const { return state_.load(); }
    // Frame bytes the running loop's ring was sized for; 0 when no loop runs.
    int RingFrameBytes() const { return ringFrameBytes_.load(); }
    // Frames per second the loop read over its last window of a second.
    float FrameRate() const { return frameRate_.load(); }
    // The sequence number of the frame each slot holds (0: empty or being filled).
    std::array<int, 3> SlotSequences() const;
    // Frames the loop stored since the last start (the newest one's sequence number), and the estimate of
    // frames the camera finished meanwhile that no read took. Kept until the next start.
    int FramesRead() const { return frameCounter_.load(std::memory_order_relaxed); }
    uint64_t UnreadFrames() const { return unreadTotal_.load(std::memory_order_relaxed); }

    // --- the consumer ---
    FrameStatus Status() const;
    // Status() once it answers other than NoNewFrame, `interrupted` returns true or `timeout` passes,
    // whichever comes first. `interrupted` is asked under the wait's lock: a caller that makes it true and
    // then calls WakeFrameWaiters is never missed.
    FrameStatus WaitForFrame(std::chrono::milliseconds timeout, const std::function<bool()>& interrupted);
    void WakeFrameWaiters();
    // Lends the newest frame in place; an empty lease when no acquisition has allocated the ring. The
    // frame counts as delivered.
    FrameLease LeaseLatestFrame();
    // A lease and one copy (frame bytes of the format).
    DeviceResult CopyLatestFrame(void* destination);

    // Holds a continuous loop between two frames for the guard's lifetime, so that a sequence of register
    // exchanges lands there whole; a loop that is not streaming is left as it is. A transfer that fails
    // meanwhile means the camera is gone: the stream then ends in the error state, as after a failed frame
    // read.
    class Pause {
    public:
        explicit Pause(FrameRing& ring);
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;
        // False when the loop streams but did not acknowledge the pause: the caller leaves the registers
        // alone and answers NoAnswer.
        explicit operator bool() const { return outcome_ != Outcome::NoAck; }

    private:
        enum class Outcome { NotRunning, Paused, NoAck };
        FrameRing& ring_;
        Outcome outcome_ = Outcome::NotRunning;
        uint64_t failuresBefore_ = 0;
    };

private:
    friend class FrameLease;
    // Filled by the loop, read by a consumer under the slot's guard. The loop fills the slot after the
    // newest, so the guard is contended only when a copy is overtaken by two further frames; the copy
    // then waits for the fill instead of reading a torn frame.
    struct Slot {
        std::mutex guard;
        AlignedBuffer buffer;  // page-aligned so that frames go straight from a direct-I/O disk
        std::atomic<int> sequence{0};
        std::atomic<int64_t> arrivalNs{0};  // when the read that filled it finished
        std::atomic<uint64_t> unreadTotal{0};  // the loop's unreadTotal_ when it stored this frame
    };

    DeviceResult Start(AcquisitionState mode);
    void Loop();
    // Ends the loop (Stopping), joins the thread and goes back to Idle; the ring is kept.
    void EndLoop();
    void ReleaseRing();
    int NewestSlot() const;
    // The slot the loop fills next: neither the newest nor a leased one.
    int SlotToFill() const;
    int CurrentFrameBytes();
    // The loop waits, parked, while the state is Paused.
    void Park();
    // True when the loop parked within `wait`.
    bool WaitParked(std::chrono::milliseconds wait);
    // Wakes a parked loop and the pause's waits after a change of state_.
    void NotifyLoop();

    FrameTransport& transport_;
    std::array<Slot, 3> slots_;
    // The slot a FrameLease holds (-1: none). The loop fills neither it nor the newest slot.
    std::atomic<int> leasedSlot_{-1};
    // Frame bytes of the format the running acquisition's ring was sized for; 0 when no thread runs.
    std::atomic<int> ringFrameBytes_{0};
    // Written by the loop: frames stored since the start, and the measured rate.
    std::atomic<int> frameCounter_{0};
    std::atomic<float> frameRate_{0.0f};
    // The loop's estimate of frames the camera finished that no read took: per read (the loop's own) and
    // in total since the start (written by the loop, read by anyone).
    UnreadFrameEstimate unreadEstimate_;
    std::atomic<uint64_t> unreadTotal_{0};
    // Written by a pause as it ends: frameCounter_ then (-1 before any). The loop reads a frame after it
    // before it parks again.
    std::atomic<int> resumedAtFrame_{-1};
    // Written by the consumer: the sequence of the last frame it took.
    std::atomic<int> lastDelivered_{0};
    // Written by the application's thread (start, stop, pause), the loop (error, single frame stored).
    std::atomic<AcquisitionState> state_{AcquisitionState::Idle};
    // Set by a stop while the loop may wait for a transfer: the wait then ends.
    std::atomic<bool> stopping_{false};
    // WaitForFrame's wait: the loop wakes it after each stored frame and after a failed read.
    std::mutex frameWaitMutex_;
    std::condition_variable frameArrived_;
    // Whether the loop is parked, and its end, under loopMutex_: waited for by a pause and
    // FinishSingleFrame. A parked loop waits there for the state to change.
    std::mutex loopMutex_;
    std::condition_variable loopChanged_;
    bool parked_ = false;
    uint64_t resumes_ = 0;  // pauses lifted
    bool loopEnded_ = false;
    std::thread thread_;
};

}  // namespace zelvik
