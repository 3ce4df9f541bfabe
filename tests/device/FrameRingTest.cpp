// The frame ring alone, over a fake transport whose reads the test lets through one at a time: slot
// order, the lease against the loop's fills, the pause guard, single frames, failed reads and stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device/FrameRing.h"
#include "tests/device/FakeCamera.h"

namespace zelvik::test {
namespace {

constexpr int kFrameBytes = 1000, kTransfer = 1024;

// Reads wait for the test's permission (a budget of reads) or for the ring's stop. Read n fills the
// slot with the byte n, so a frame's bytes tell which read brought them.
class FakeTransport : public FrameTransport {
public:
    // Reads from this one (1-based) on fail; 0: none.
    std::atomic<int> failFrom{0};
    std::atomic<int> transferBytes{kTransfer};
    std::atomic<bool> acceptRequest{true};
    // Counted as transfers failed elsewhere (a setter's register exchange).
    std::atomic<uint64_t> failures{0};
    // How long a read lets through takes: a paced camera.
    std::atomic<int> readMs{0};

    // Lets `count` more reads through.
    void Allow(int count) {
        {
            std::lock_guard lock(mutex_);
            budget_ += count;
        }
        changed_.notify_all();
    }
    void AllowAll() { Allow(1 << 20); }
    // Holds every later read back again.
    void Hold() {
        std::lock_guard lock(mutex_);
        budget_ = 0;
    }
    int Started() {
        std::lock_guard lock(mutex_);
        return started_;
    }
    // Reads waiting for permission now.
    int Waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }
    // Reads that ended because the ring's stop reached them.
    int Stopped() {
        std::lock_guard lock(mutex_);
        return stopped_;
    }
    int Requests() const { return requests_.load(); }

    FrameSize CurrentFrameSize() override { return {kFrameBytes, transferBytes.load()}; }
    bool RequestFirstFrame() override {
        ++requests_;
        return acceptRequest.load();
    }
    bool ReadFrameInto(AlignedBuffer& slot, size_t length, const std::atomic<bool>& stop) override {
        std::unique_lock lock(mutex_);
        const int read = ++started_;
        ++waiting_;
        changed_.wait(lock, [&] { return budget_ > 0 || stop.load(); });
        --waiting_;
        if (budget_ == 0) {
            ++stopped_;
            return false;  // left behind: the ring must not count it as a frame
        }
        --budget_;
        if (const int ms = readMs.load(); ms > 0) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            lock.lock();
        }
        if (failFrom != 0 && read >= failFrom) return false;
        std::memset(slot.data(), read & 0xFF, length);
        return true;
    }
    void WakeFrameRead() override {
        { std::lock_guard lock(mutex_); }
        changed_.notify_all();
    }
    uint64_t FailedTransfers() override { return failures.load(); }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int budget_ = 0;
    int started_ = 0;
    int waiting_ = 0;
    int stopped_ = 0;
    std::atomic<int> requests_{0};
};

class FrameRingTest : public ::testing::Test {
protected:
    // Whatever a failed assertion left blocked is let through, so that the ring's stop can join.
    void TearDown() override {
        transport.AllowAll();
        ring.reset();
    }
    // Lets the read the loop waits in through and waits until the loop waits in the next one.
    void StepOneFrame() {
        ASSERT_TRUE(Eventually([&] { return transport.Waiting() == 1; }));
        const int started = transport.Started();
        transport.Allow(1);
        ASSERT_TRUE(
            Eventually([&] { return transport.Started() == started + 1 && transport.Waiting() == 1; }));
    }
    std::vector<int> Sequences() {
        const std::array<int, 3> sequences = ring->SlotSequences();
        return {sequences.begin(), sequences.end()};
    }

    FakeTransport transport;
    std::unique_ptr<FrameRing> ring = std::make_unique<FrameRing>(transport);
};

// The loop fills the slot after the newest (ties to the lower slot, so slot 1 first) and marks it 0 while
// filling; a lease keeps its slot whole, the loop filling the two others around it, and a returned slot
// is filled again.
TEST_F(FrameRingTest, LoopFillsTheSlotAfterTheNewestAndGoesAroundALease) {
    ASSERT_EQ(ring->StartContinuous(), DeviceResult::Done);
    ASSERT_TRUE(Eventually([&] { return transport.Started() == 1; }));
    EXPECT_EQ(Sequences(), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(ring->Status(), FrameStatus::NoNewFrame);

    const std::vector<std::vector<int>> unleased = {{0, 1, 0}, {0, 1, 2}, {3, 0, 2}};
    for (const auto& expected : unleased) {
        StepOneFrame();
        EXPECT_EQ(Sequences(), expected);
    }
    EXPECT_EQ(ring->Status(), FrameStatus::NewFrame);

    FrameLease lease = ring->LeaseLatestFrame();
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease.Sequence(), 3);
    EXPECT_EQ(lease.Bytes(), static_cast<size_t>(kFrameBytes)) << "the frame bytes, not the transfer";
    EXPECT_EQ(ring->Status(), FrameStatus::NoNewFrame) << "the leased frame counts as delivered";
    // Frame 4 goes to slot 1, which was being filled; then the slot after the newest is the leased one
    // every other frame, and the loop takes the third.
    const std::vector<std::vector<int>> leased = {{3, 4, 0}, {3, 0, 5}, {3, 6, 0}, {3, 0, 7}};
    for (const auto& expected : leased) {
        StepOneFrame();
        EXPECT_EQ(Sequences(), expected);
    }
    EXPECT_EQ(std::count(lease.Bits(), lease.Bits() + lease.Bytes(), 3), kFrameBytes)
        << "the leased frame stays whole";

    lease.Return();
    StepOneFrame();
    EXPECT_EQ(Sequences(), (std::vector<int>{3, 8, 0}));
    StepOneFrame();
    EXPECT_EQ(Sequences(), (std::vector<int>{0, 8, 9})) << "the returned slot is filled again";
    std::vector<uint8_t> frame(kTransfer, 0xEE);
    ASSERT_EQ(ring->CopyLatestFrame(frame.data()), DeviceResult::Done);
    EXPECT_EQ(std::count(frame.begin(), frame.begin() + kFrameBytes, 9), kFrameBytes);
    EXPECT_EQ(frame[kFrameBytes], 0xEE) << "only the frame bytes are copied";

    ring->Stop();
    EXPECT_EQ(ring->State(), AcquisitionState::Idle);
    EXPECT_FALSE(ring->LeaseLatestFrame()) << "the ring is released";
    EXPECT_EQ(ring->CopyLatestFrame(frame.data()), DeviceResult::Failed);
}

// A lease counts the frames the loop stored after the consumer's previous frame and before this one:
// replaced in the ring, never taken. A frame taken again (CopyLatestFrame) replaced none.
TEST_F(FrameRingTest, LeasesCountTheFramesReplacedBeforeThem) {
    ASSERT_EQ(ring->StartContinuous(), DeviceResult::Done);
    const struct Step {
        int framesStored;  // before the lease
        int sequence, overwritten;
    } steps[] = {{1, 1, 0}, {1, 2, 0}, {4, 6, 3}, {0, 6, 0}, {2, 8, 1}};
    for (const Step& step : steps) {
        for (int i = 0; i < step.framesStored; ++i) StepOneFrame();
        const FrameLease lease = ring->LeaseLatestFrame();
        ASSERT_TRUE(lease);
        EXPECT_EQ(lease.Sequence(), step.sequence);
        EXPECT_EQ(lease.Overwritten(), step.overwritten) << "lease of frame " << step.sequence;
        EXPECT_EQ(lease.Bits()[0], step.sequence) << "the frame of that read";
    }
    EXPECT_EQ(ring->FramesRead(), 8);
    ring->Stop();
    EXPECT_EQ(ring->FramesRead(), 8) << "kept after the stop, for the stream's statistics";
    transport.Hold();
    ASSERT_EQ(ring->StartContinuous(), DeviceResult::Done);
    EXPECT_EQ(ring->FramesRead(), 0) << "a new start counts afresh";
}

// While a Pause lives the loop reads nothing; the pause waits for the read in progress, never splits it.
// Lifting it lets the loop go on, unless a transfer failed meanwhile: then the stream ends in the error
// state, as after a failed frame read.
TEST_F(FrameRingTest, PauseHoldsTheLoopBetweenTwoReads) {
    {
        const FrameRing::Pause idle(*ring);
        EXPECT_TRUE(idle) << "no loop: nothing to pause, the registers are free";
        EXPECT_EQ(ring->State(), AcquisitionState::Idle);
    }
    for (const bool transferFails : {false, true}) {
        SCOPED_TRACE(transferFails ? "a transfer fails during the pause" : "plain pause");
        ASSERT_EQ(ring->StartContinuous(), DeviceResult::Done);
        StepOneFrame();
        const int readsBefore = transport.Started();  // the second read is in progress, held back
        std::atomic<bool> paused{false};
        std::atomic<bool> lift{false};
        std::thread setter([&] {
            const FrameRing::Pause pause(*ring);
            paused = static_cast<bool>(pause);
            while (!lift.load()) std::this_thread::yield();
            if (transferFails) ++transport.failures;
        });
        ASSERT_TRUE(Eventually([&] { return ring->State() == AcquisitionState::Paused; }));
        EXPECT_FALSE(paused.load()) << "acknowledged while the loop was still reading";
        transport.AllowAll();
        ASSERT_TRUE(Eventually([&] { return paused.load(); }));
        EXPECT_EQ(transport.Started(), readsBefore) << "the loop began a read while paused";
        const std::array<int, 3> sequences = ring->SlotSequences();
        EXPECT_EQ(*std::max_element(sequences.begin(), sequences.end()), 2)
            << "the read in progress was finished";

        lift = true;
        setter.join();
        if (transferFails) {
            EXPECT_EQ(ring->State(), AcquisitionState::Error);
            EXPECT_EQ(ring->WaitForFrame(std::chrono::seconds(60), [] { return false; }), FrameStatus::Error);
            EXPECT_EQ(transport.Started(), readsBefore) << "no read after the camera was lost";
        } else {
            EXPECT_TRUE(Eventually([&] { return transport.Started() > readsBefore + 2; }))
                << "the stream goes on";
            EXPECT_EQ(ring->State(), AcquisitionState::Continuous);
        }
        ring->Stop();
        transport.Hold();
    }
}

// Setters called back to back: between two pauses the loop reads one frame, so the stream goes on at
// the setters' pace, and a pause costs that one frame, not the frame after it too.
TEST_F(FrameRingTest, BackToBackPausesCostOneFrameEach) {
    transport.readMs = 3;
    transport.AllowAll();
    ASSERT_EQ(ring->StartContinuous(), DeviceResult::Done);
    const auto stored = [&] {
        const std::array<int, 3> sequences = ring->SlotSequences();
        return *std::max_element(sequences.begin(), sequences.end());
    };
    ASSERT_TRUE(Eventually([&] { return stored() >= 1; }));
    constexpr int kPauses = 20;
    const int before = stored();
    for (int i = 0; i < kPauses; ++i) {
        const FrameRing::Pause pause(*ring);
        ASSERT_TRUE(pause) << i;
        EXPECT_EQ(ring->State(), AcquisitionState::Paused);
    }
    const int frames = stored() - before;
    EXPECT_GE(frames, kPauses - 1) << "a frame between two pauses";
    EXPECT_LE(frames, kPauses + 1) << "a pause waited for a second frame";
    ring->Stop();
}

TEST_F(FrameRingTest, SingleFrameGoesToSlotZeroOrIsReportedMissing) {
    struct Case {
        const char* what;
        int failFrom;
        bool allow;  // false: the read hangs past the wait
        DeviceResult result;
    };
    const Case cases[] = {
        {"stored", 0, true, DeviceResult::Done},
        {"read fails", 1, true, DeviceResult::NoAnswer},
        {"read hangs", 0, false, DeviceResult::NoAnswer},
    };
    int reads = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        transport.failFrom = c.failFrom == 0 ? 0 : reads + c.failFrom;
        ASSERT_EQ(ring->StartSingleFrame(), DeviceResult::Done);
        if (c.allow) transport.Allow(1);
        std::vector<uint8_t> frame(kFrameBytes, 0xEE);
        EXPECT_EQ(ring->FinishSingleFrame(frame.data(), c.allow ? 60000 : 50), c.result);
        ++reads;
        EXPECT_EQ(transport.Started(), reads) << "one read per single frame";
        EXPECT_EQ(ring->State(), AcquisitionState::Idle) << "the loop does not run on";
        if (c.result == DeviceResult::Done) {
            EXPECT_EQ(std::count(frame.begin(), frame.end(), reads), kFrameBytes);
            EXPECT_EQ(Sequences(), (std::vector<int>{1, 0, 0}));
        } else {
            EXPECT_EQ(frame[0], 0xEE) << "nothing written without a frame";
        }
        EXPECT_EQ(ring->Status(), FrameStatus::NoNewFrame);
    }
    EXPECT_EQ(transport.Stopped(), 1) << "the hanging read was stopped";
}

// A read that fails, or a transfer grown past the ring's slots (never read into them), ends the loop in
// the error state; a waiting consumer hears of it, the newest frame stays readable, and the next start
// collects the ended loop.
TEST_F(FrameRingTest, FailedReadEndsTheLoopInTheErrorState) {
    struct Case {
        const char* what;
        int failFrom;
        int transferAfterStart;
        int readsStarted;
    };
    const Case cases[] = {
        {"third read fails", 3, kTransfer, 3},
        {"transfer outgrows the ring", 0, kTransfer + 512, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        transport.failFrom = c.failFrom;
        transport.transferBytes = kTransfer;
        transport.Hold();
        const int startedBefore = transport.Started();
        ASSERT_EQ(ring->StartContinuous(), DeviceResult::Done);
        StepOneFrame();
        transport.transferBytes = c.transferAfterStart;  // the read in progress still has the old size
        transport.Allow(2);
        std::vector<uint8_t> frame(kFrameBytes);
        FrameStatus status;
        while ((status = ring->WaitForFrame(std::chrono::seconds(60), [] { return false; })) ==
               FrameStatus::NewFrame)
            ASSERT_EQ(ring->CopyLatestFrame(frame.data()), DeviceResult::Done);
        EXPECT_EQ(status, FrameStatus::Error);
        EXPECT_EQ(ring->State(), AcquisitionState::Error);
        EXPECT_EQ(transport.Started() - startedBefore, c.readsStarted);
        EXPECT_EQ(ring->CopyLatestFrame(frame.data()), DeviceResult::Done)
            << "the newest frame stays readable";

        transport.transferBytes = kTransfer;
        transport.failFrom = 0;
        EXPECT_EQ(ring->StartContinuous(), DeviceResult::Done) << "the ended loop is collected";
        EXPECT_EQ(ring->State(), AcquisitionState::Continuous);
        ring->Stop();
    }
}

// A stop reaches a read the camera does not finish: the loop leaves it and is joined; a start the camera
// does not take starts no loop; a second start while one runs is refused.
TEST_F(FrameRingTest, StopEndsAHangingReadAndStartsAreGuarded) {
    ASSERT_EQ(ring->StartContinuous(), DeviceResult::Done);
    EXPECT_EQ(ring->StartContinuous(), DeviceResult::Failed) << "a loop runs";
    ASSERT_TRUE(Eventually([&] { return transport.Started() == 1; }));
    std::atomic<bool> stopped{false};
    std::thread application([&] {
        ring->Stop();
        stopped = true;
    });
    EXPECT_TRUE(Eventually([&] { return stopped.load(); })) << "the stop waits for the hanging read";
    if (!stopped) transport.AllowAll();
    application.join();
    EXPECT_EQ(transport.Stopped(), 1);
    EXPECT_EQ(ring->State(), AcquisitionState::Idle);
    EXPECT_EQ(ring->Status(), FrameStatus::NoNewFrame);

    transport.acceptRequest = false;
    const int requests = transport.Requests();
    EXPECT_EQ(ring->StartContinuous(), DeviceResult::NoAnswer);
    EXPECT_EQ(transport.Requests(), requests + 1);
    EXPECT_EQ(ring->State(), AcquisitionState::Idle);
    EXPECT_EQ(transport.Started(), 1) << "no loop was started";
}

}  // namespace
}  // namespace zelvik::test
