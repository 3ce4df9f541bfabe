// The acquisition thread: ring order, single frames, error state, pausing for register traffic, stalls.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "tests/device/FakeCamera.h"

namespace zelvik::test {
namespace {

constexpr int kWidth = 100, kHeight = 10;  // 1000 frame bytes, transferred as 1024
constexpr size_t kFrameBytes = 1000, kTransfer = 1024;

class AcquisitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeCameraDisk camera = FakeCameraDisk::Camera();
        camera.imageReadDelayMs = 2;
        disks.identities = {kCameraIdentity};
        disks.Attach(1, camera);
        device = std::make_unique<TestDevice>(disks);
        ASSERT_EQ(device->SetFormat(0, 0, kWidth, kHeight, 0), DeviceResult::Done);
        disks.ClearTransfers();
    }
    // A read left behind to the drive's worker ends on its own once unstalled; the fake disks it reads
    // from must outlive it.
    void TearDown() override {
        device.reset();
        EXPECT_TRUE(Eventually([&] { return disks.OpenHandles() == 0; }));
    }
    std::vector<int> Sequences() {
        const std::array<int, 3> sequences = device->ring.SlotSequences();
        return {sequences.begin(), sequences.end()};
    }
    int StoredFrames() {
        int newest = 0;
        for (int s : Sequences()) newest = std::max(newest, s);
        return newest;
    }

    FakeDisks disks;
    std::unique_ptr<TestDevice> device;
};

TEST_F(AcquisitionTest, RingFillsTheSlotAfterTheNewestAndAFailedReadEndsInState5) {
    disks.Change(1, [](FakeCameraDisk& d) { d.failImageReadFrom = 5; });
    ASSERT_EQ(device->StartContinuous(), DeviceResult::Done);
    ASSERT_TRUE(Eventually([&] { return device->GetState() == 5; }));

    // The loop fills the slot after the newest, ties going to the lower slot: with all sequences 0 the
    // first frame goes to slot 1. Frames 1..4 went to slots 1, 2, 0 (wrapping), 1; the failed fifth
    // read had marked slot 2 as being filled.
    EXPECT_EQ(Sequences(), (std::vector<int>{3, 4, 0}));
    EXPECT_EQ(device->GetFrameStatus(), FrameStatus::Error);
    std::vector<uint8_t> frame(kTransfer, 0xEE);
    EXPECT_EQ(device->CopyLatestFrame(frame.data()), DeviceResult::Done);
    EXPECT_EQ(std::count(frame.begin(), frame.begin() + kFrameBytes, 4), static_cast<long>(kFrameBytes));
    EXPECT_EQ(frame[kFrameBytes], 0xEE) << "only the frame bytes are copied, not the padding";

    std::vector<Transfer> expected = {Command(1, protocol::kFrameRequest, 0, 0, 0)};  // the start's request
    for (int i = 0; i < 5; ++i) {
        expected.push_back(Command(1, protocol::kFrameRequest, 0, 0, 0));
        expected.push_back(ImageRead(1, kTransfer));
    }
    EXPECT_EQ(disks.Transfers(), expected);

    EXPECT_EQ(device->StopAcquisition(), DeviceResult::Done);
    EXPECT_EQ(device->GetState(), 0);
    EXPECT_EQ(device->GetFrameStatus(), FrameStatus::NoNewFrame);
}

TEST_F(AcquisitionTest, FrameStatusReportsEachNewFrameOnce) {
    ASSERT_EQ(device->StartContinuous(), DeviceResult::Done);
    EXPECT_EQ(device->StartContinuous(), DeviceResult::Failed) << "a second start while the loop runs";
    ASSERT_TRUE(Eventually([&] { return device->GetFrameStatus() == FrameStatus::NewFrame; }));
    std::vector<uint8_t> frame(kFrameBytes);
    ASSERT_EQ(device->CopyLatestFrame(frame.data()), DeviceResult::Done);
    const int delivered = frame[0];
    EXPECT_GE(delivered, 1);
    ASSERT_TRUE(Eventually([&] { return device->GetFrameStatus() == FrameStatus::NewFrame; }));
    ASSERT_EQ(device->CopyLatestFrame(frame.data()), DeviceResult::Done);
    EXPECT_GT(frame[0], delivered);
    EXPECT_EQ(device->StopAcquisition(), DeviceResult::Done);
    EXPECT_EQ(device->GetState(), 0);
}

// WaitForFrame ends when the loop stores a frame, when a read fails and when the waiter is interrupted.
// Its time-out is far longer than any of these takes: a missed wake shows as a wait that runs it out.
TEST_F(AcquisitionTest, WaitForFrameWakesForAFrameAFailedReadAndAnInterruption) {
    using std::chrono::steady_clock;
    constexpr std::chrono::seconds kLong(60);
    const auto never = [] { return false; };
    struct Wait {
        FrameStatus status;
        steady_clock::duration took;
    };
    const auto wait = [&](const std::function<bool()>& interrupted) {
        const auto start = steady_clock::now();
        const FrameStatus status = device->WaitForFrame(kLong, interrupted);
        return Wait{status, steady_clock::now() - start};
    };
    // Acts from another thread once the waiter has had a moment to begin waiting.
    const auto soon = [](std::function<void()> act) {
        return std::thread([act] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            act();
        });
    };

    disks.Change(1, [](FakeCameraDisk& d) { d.stallImages = true; });
    ASSERT_EQ(device->StartContinuous(), DeviceResult::Done);
    disks.WaitForStall(1);

    std::atomic<bool> stop{false};
    std::thread stopper = soon([&] {
        stop = true;
        device->WakeFrameWaiters();
    });
    const Wait interrupted = wait([&] { return stop.load(); });
    stopper.join();
    EXPECT_EQ(interrupted.status, FrameStatus::NoNewFrame);
    EXPECT_LT(interrupted.took, kLong / 2);

    std::thread camera = soon([&] { disks.Unstall(1); });
    const Wait stored = wait(never);
    camera.join();
    EXPECT_EQ(stored.status, FrameStatus::NewFrame);
    EXPECT_LT(stored.took, kLong / 2);

    std::vector<uint8_t> frame(kFrameBytes);
    disks.Change(1, [](FakeCameraDisk& d) { d.failImageReadFrom = 1; });
    Wait failed;
    while ((failed = wait(never)).status == FrameStatus::NewFrame) ASSERT_EQ(device->CopyLatestFrame(frame.data()), DeviceResult::Done);
    EXPECT_EQ(failed.status, FrameStatus::Error);
    EXPECT_LT(failed.took, kLong / 2);
    EXPECT_EQ(device->StopAcquisition(), DeviceResult::Done);
}

TEST_F(AcquisitionTest, SingleFrameIsReadIntoSlotZeroAndCopied) {
    for (int shot = 1; shot <= 2; ++shot) {
        ASSERT_EQ(device->StartSingleFrame(), DeviceResult::Done);
        std::vector<uint8_t> frame(kFrameBytes, 0);
        EXPECT_EQ(device->FinishSingleFrame(frame.data()), DeviceResult::Done);
        EXPECT_EQ(std::count(frame.begin(), frame.end(), shot), static_cast<long>(kFrameBytes));
        EXPECT_EQ(device->GetState(), 0);
        EXPECT_EQ(Sequences(), (std::vector<int>{1, 0, 0}));
        EXPECT_EQ(device->GetFrameStatus(), FrameStatus::NoNewFrame);
    }
    EXPECT_EQ(disks.Inspect(1, [](FakeCameraDisk& d) { return d.imageReads; }), 2);
}

TEST_F(AcquisitionTest, SingleFrameThatFailsOrTimesOutIsReportedAndTheLoopStopped) {
    disks.Change(1, [](FakeCameraDisk& d) { d.failImageReadFrom = 1; });
    ASSERT_EQ(device->StartSingleFrame(), DeviceResult::Done);
    std::vector<uint8_t> frame(kFrameBytes, 0xEE);
    EXPECT_NE(device->FinishSingleFrame(frame.data()), DeviceResult::Done) << "no frame was stored";
    EXPECT_EQ(frame[0], 0xEE);

    disks.Change(1, [](FakeCameraDisk& d) {
        d.failImageReadFrom = 0;
        d.stallImages = true;
    });
    device->SetTimeout(50);
    ASSERT_EQ(device->StartSingleFrame(), DeviceResult::Done);
    // Once the wait has run out the loop is stopped; the stalled read is left behind, still blocked.
    disks.WaitForStall(1);
    EXPECT_NE(device->FinishSingleFrame(frame.data()), DeviceResult::Done);
    EXPECT_EQ(device->GetState(), 0) << "the loop does not run on";
    EXPECT_EQ(disks.Inspect(1, [](FakeCameraDisk& d) { return d.stalledReads; }), 1);
    disks.Unstall(1);
    EXPECT_EQ(frame[0], 0xEE);
}

TEST_F(AcquisitionTest, StalledReadMakesSettersGiveUpWhileStreamingGoesOn) {
    disks.Change(1, [](FakeCameraDisk& d) { d.stallImages = true; });
    ASSERT_EQ(device->StartContinuous(), DeviceResult::Done);
    disks.WaitForStall(1);
    disks.ClearTransfers();

    EXPECT_EQ(device->SetFormat(0, 0, 50, 10, 0), DeviceResult::NoAnswer);
    EXPECT_FALSE(Succeeded(device->SetGlobalGain(10)));
    EXPECT_EQ(device->GetState(), 1);
    EXPECT_TRUE(disks.Transfers().empty()) << "no register traffic without the loop's acknowledgement";
    int x = -1, w = -1;
    device->GetFormat(&x, nullptr, &w, nullptr, nullptr);
    EXPECT_EQ(w, kWidth);

    disks.Unstall(1);
    EXPECT_TRUE(Eventually([&] { return StoredFrames() >= 3; }));
    EXPECT_EQ(device->GetState(), 1);
    EXPECT_EQ(device->StopAcquisition(), DeviceResult::Done);
}

TEST_F(AcquisitionTest, RegisterAccessBehindAStalledTransferFailsInsteadOfHanging) {
    device->transportStallMs = 200;
    disks.Change(1, [](FakeCameraDisk& d) { d.stallImages = true; });
    ASSERT_EQ(device->StartContinuous(), DeviceResult::Done);
    disks.WaitForStall(1);
    uint16_t value = 0xAAAA;
    EXPECT_FALSE(Succeeded(device->WriteRegister(9, 5)));
    EXPECT_FALSE(Succeeded(device->ReadRegister(9, &value)));
    EXPECT_EQ(value, 0xAAAA);
    disks.Unstall(1);
    ASSERT_TRUE(Eventually([&] { return StoredFrames() >= 2; }));
    EXPECT_TRUE(Succeeded(device->WriteRegister(9, 5))) << "the camera answers again";
    EXPECT_EQ(device->GetState(), 1);
    EXPECT_EQ(device->StopAcquisition(), DeviceResult::Done);
}

// A frame read the camera never finishes (stuck in the kernel) does not hold up a stop: the loop leaves it
// to the drive session's worker, Close closes the camera, and a new selection opens it again while the
// old read is still blocked. When the old read returns at last, it closes the old drive and touches
// nothing of the new one.
TEST_F(AcquisitionTest, StopLeavesAStalledFrameReadBehindAndTheCameraReopens) {
    disks.Change(1, [](FakeCameraDisk& d) { d.stallImages = true; });
    ASSERT_EQ(device->StartContinuous(), DeviceResult::Done);
    disks.WaitForStall(1);
    std::atomic<bool> stopped{false};
    std::thread application([&] {
        device->StopAcquisition();
        device->Close();
        stopped = true;
    });
    EXPECT_TRUE(Eventually([&] { return stopped.load(); })) << "the stop waits for the stalled read";
    EXPECT_EQ(disks.Inspect(1, [](FakeCameraDisk& d) { return d.stalledReads; }), 1) << "the read was left in the kernel";
    EXPECT_FALSE(device->IsOpen());
    EXPECT_TRUE(device->SelectDevice(0)) << "a new drive opens beside the one with the stalled read";
    EXPECT_EQ(disks.OpenHandles(), 2);

    disks.Unstall(1);
    application.join();
    EXPECT_TRUE(Eventually([&] { return disks.OpenHandles() == 1; })) << "the old drive closes once its read returned";
    EXPECT_TRUE(Succeeded(device->WriteRegister(9, 7)));
    ASSERT_EQ(device->StartContinuous(), DeviceResult::Done);
    EXPECT_TRUE(Eventually([&] { return StoredFrames() >= 2; }));
    EXPECT_EQ(device->GetState(), 1);
    EXPECT_EQ(device->StopAcquisition(), DeviceResult::Done);
}

TEST_F(AcquisitionTest, SettersPauseTheLoopAndNeverSplitAFrameTransfer) {
    ASSERT_EQ(device->StartContinuous(), DeviceResult::Done);
    ASSERT_TRUE(Eventually([&] { return StoredFrames() >= 2; }));
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Succeeded(device->SetExposure(100 + i)));
    EXPECT_EQ(device->SetFormat(0, 0, kWidth + 4, kHeight, 0), DeviceResult::Failed) << "more frame bytes than the running ring";
    EXPECT_EQ(device->SetFormat(0, 0, 50, 10, 0), DeviceResult::Done) << "a smaller window is read into the same ring";
    const int framesAtChange = StoredFrames();
    ASSERT_TRUE(Eventually([&] { return StoredFrames() >= framesAtChange + 2; }));
    EXPECT_EQ(device->GetState(), 1);
    EXPECT_EQ(device->StopAcquisition(), DeviceResult::Done);

    const std::vector<Transfer> log = disks.Transfers();
    bool smallerFramesRead = false;
    for (size_t i = 1; i < log.size(); ++i) {
        const Transfer& t = log[i];
        if (t.write && t.head[0] == protocol::kFrameRequest) {
            ASSERT_LT(i + 1, log.size());
            EXPECT_EQ(log[i + 1].offset, protocol::kImageOffset)
                << "transfer " << i + 1 << ": " << log[i + 1];
        }
        if (t.offset == protocol::kImageOffset) {
            EXPECT_TRUE(t.length == kTransfer || t.length == 512) << t;
            smallerFramesRead |= t.length == 512;
        }
    }
    EXPECT_TRUE(smallerFramesRead);
    EXPECT_EQ(disks.Inspect(1, [](FakeCameraDisk& d) { return d.registers[9]; }), 104);
}

// An application's own exposure loop (or a slider) calls setters back to back: between two pauses of
// the loop at least one frame is read, so the stream goes on at the pace of the setters.
TEST_F(AcquisitionTest, BackToBackSettersLeaveAFrameBetweenTwoPauses) {
    ASSERT_TRUE(Succeeded(device->StartContinuous()));
    ASSERT_TRUE(Eventually([&] { return StoredFrames() >= 1; }));
    const struct {
        const char* what;
        std::function<DeviceResult(int)> setter;
    } setters[] = {
        {"exposure", [&](int i) { return device->SetExposure(100 + i); }},
        {"global gain", [&](int i) { return device->SetGlobalGain(i % 64); }},
        {"red gain", [&](int i) { return device->SetColorGain(sensor::GainSite::Red, i % 64); }},
    };
    for (const auto& s : setters) {
        const int before = StoredFrames();
        constexpr int kCalls = 12;
        for (int i = 0; i < kCalls; ++i) EXPECT_TRUE(Succeeded(s.setter(i))) << s.what;
        EXPECT_GE(StoredFrames() - before, kCalls - 1) << s.what;
    }
    EXPECT_TRUE(Succeeded(device->StopAcquisition()));
}

// A camera that goes during a setter's register exchange ends the stream as one lost during a frame read
// does, at once: the loop's error state, which the capture loop reports as the camera lost. (The image
// reads stall from then on, so the loop itself cannot be the one that notices.)
TEST_F(AcquisitionTest, CameraLostDuringARegisterExchangeEndsTheStream) {
    ASSERT_TRUE(Succeeded(device->StartContinuous()));
    ASSERT_TRUE(Eventually([&] { return StoredFrames() >= 1; }));
    disks.Change(1, [](FakeCameraDisk& d) { d.vanishAtRegisterWrite = true; });
    EXPECT_FALSE(Succeeded(device->SetExposure(10)));
    EXPECT_EQ(device->GetState(), 5);
    EXPECT_EQ(device->GetFrameStatus(), FrameStatus::Error);
    disks.Unstall(1);
    EXPECT_TRUE(Succeeded(device->StopAcquisition()));
}

TEST_F(AcquisitionTest, UnpluggedCameraEndsStreamingInState5) {
    ASSERT_EQ(device->StartContinuous(), DeviceResult::Done);
    ASSERT_TRUE(Eventually([&] { return StoredFrames() >= 1; }));
    disks.Change(1, [](FakeCameraDisk& d) { d.unplugged = true; });
    ASSERT_TRUE(Eventually([&] { return device->GetState() == 5; }));
    EXPECT_EQ(device->GetFrameStatus(), FrameStatus::Error);
    EXPECT_FALSE(Succeeded(device->SetExposure(10)));
    EXPECT_EQ(device->StartContinuous(), DeviceResult::NoAnswer) << "the ended loop is collected, the request cannot be written";
    EXPECT_EQ(device->GetState(), 0);
    EXPECT_EQ(device->StopAcquisition(), DeviceResult::Done);
}

}  // namespace
}  // namespace zelvik::test
