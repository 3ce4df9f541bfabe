// Capture modes end to end on the in-process emulator: the mode guard, the capture thread's life,
// delivery into application memory and the camera vanishing mid-stream.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "tests/capture/CaptureFixture.h"

namespace zelvik::test {
namespace {

// Non-zero codes of the error stack, newest first (automatic exposure off pushes a 0 per frame).
std::vector<int> Codes(int h) {
    std::vector<int> codes;
    for (int i = 0; i < 20; ++i)
        if (const int code = Zelvik_GetLastError(h)) codes.push_back(code);
    return codes;
}

class CaptureModeTest : public CaptureFixture {
protected:
    // A 64 x 48 window of the colour bars at 50 frames per second, 8-bit gray.
    int OpenSmall() {
        MakeSmallCamera();
        return MadeSmall(Open());
    }
    // The same on a device that takes the camera as stalled after stallMs instead of 5 s.
    // A time-out short enough for quick tests, long enough that a whole capture start on a loaded machine
    // (all its exchanges share one time-out) fits in it when the camera answers.
    static constexpr int kTestStallLimitMs = 2000;
    int OpenSmallWithStallLimit(int stallMs) {
        struct StallLimitDevice : Q77RXDevice {
            StallLimitDevice(DiskSystem& disks, int limitMs) : Q77RXDevice(disks) { transportStallMs = limitMs; }
        };
        MakeSmallCamera();
        emu::EmulatedDisks& disks = *disks_;
        const ZELVIK_HWND notify = Notify();
        const int h = InitializeHandle([&](CameraInstance& c) {
            return c.InitializeWith(notify, std::make_unique<StallLimitDevice>(disks, stallMs));
        });
        handles_.push_back(h);
        Drain(h);
        return MadeSmall(h);
    }
    void MakeSmallCamera() {
        emu::FirmwareOptions options;
        options.fps = 50;
        MakeCamera(options);
    }
    int MadeSmall(int h) {
        SetWindow(h, 64, 48);
        EXPECT_EQ(Zelvik_SetColorMode(h, 8), 1);
        return h;
    }
    void Control(const char* command) {
        std::string error;
        ASSERT_TRUE(disks_->Control(command, &error)) << error;
    }
    // Waits (bounded, generously: a guard against hanging, not a timing check).
    static bool Eventually(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
};

TEST_F(CaptureModeTest, StartPreviewTwiceRunsOneCaptureThread) {
    const int h = OpenSmall();
    const int base = ThreadsNow();
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrame(Queue()));
    EXPECT_EQ(ThreadsNow(), base + 2) << "the capture thread and the device's acquisition thread";
    EXPECT_EQ(Zelvik_StartPreview(h), 1);
    EXPECT_EQ(ThreadsNow(), base + 2);
    EXPECT_EQ(Codes(h), std::vector<int>{});
    EXPECT_EQ(Zelvik_StopPreview(h), 1);
    EXPECT_TRUE(WaitForThreads(base));
    EXPECT_EQ(Zelvik_StopPreview(h), 1) << "stopping an idle camera succeeds";
}

TEST_F(CaptureModeTest, OperationsRefusedInTheWrongModeReportError1) {
    struct Case {
        const char* name;
        std::function<int(int)> enter;
        std::function<int(int)> refused;
    };
    std::vector<uint8_t> buffer(64 * 48);
    const auto snapShot = [&](int h) {
        return Zelvik_SnapShot(h, buffer.data(), static_cast<int>(buffer.size()), 1);
    };
    const Case cases[] = {
        {"StartPreview in single-shot mode", Zelvik_Capture, Zelvik_StartPreview},
        {"SnapShot while streaming", Zelvik_StartPreview, snapShot},
        {"Capture while streaming", Zelvik_StartPreview, Zelvik_Capture},
    };
    const int h = OpenSmall();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.enter(h), 1);
        Drain(h);
        EXPECT_EQ(c.refused(h), 0);
        EXPECT_EQ(Codes(h), std::vector<int>{ZELVIK_ERR_NOT_ALLOWED});
        // The mode in force is kept, and stopping returns to idle, from where streaming starts.
        EXPECT_EQ(c.enter(h), 1);
        EXPECT_EQ(Zelvik_StopPreview(h), 1);
        EXPECT_EQ(Zelvik_StartPreview(h), 1);
        EXPECT_EQ(Zelvik_StopPreview(h), 1);
        EXPECT_EQ(Codes(h), std::vector<int>{});
    }
}

TEST_F(CaptureModeTest, CaptureOperationsWithoutDeviceReportError1) {
    const int h = InitializeHandle([](CameraInstance& c) { return c.InitializeWith(0, nullptr); });
    handles_.push_back(h);
    Drain(h);
    std::vector<uint8_t> buffer(16);
    EXPECT_EQ(Zelvik_StartPreview(h), 0);
    EXPECT_EQ(Zelvik_Capture(h), 0);
    EXPECT_EQ(Zelvik_SnapShot(h, buffer.data(), 16, 1), 0);
    EXPECT_EQ(Zelvik_GetImage(h, buffer.data(), 16, 1), 0);
    EXPECT_EQ(Zelvik_StopPreview(h), 0);
    EXPECT_EQ(Codes(h), std::vector<int>(5, 1));
}

TEST_F(CaptureModeTest, GetImageReturnsEachFinishedImageOnce) {
    const int h = OpenSmall();
    std::vector<uint8_t> image(64 * 48);
    const int size = static_cast<int>(image.size());

    // Single-shot mode has its buffers but no image yet: 0, and nothing reported.
    ASSERT_EQ(Zelvik_Capture(h), 1);
    ASSERT_EQ(Zelvik_SetColorMode(h, 12), 0);  // leaves a 9 on the stack
    EXPECT_EQ(Zelvik_GetImage(h, image.data(), size, 1), 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ZELVIK_ERR_ARGUMENT});
    ASSERT_EQ(Zelvik_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Zelvik_GetImage(h, image.data(), size, 1), 1);
    EXPECT_EQ(Zelvik_GetImage(h, image.data(), size, 1), 0);
    EXPECT_EQ(Zelvik_StopPreview(h), 1);

    // A streamed frame is there for GetImage once.
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrame(Queue()));
    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    Drain(h);
    EXPECT_EQ(Zelvik_GetImage(h, image.data(), size, 1), 1);
    EXPECT_EQ(Zelvik_GetImage(h, image.data(), size, 1), 0);
    // A buffer one byte short or missing is a buffer failure.
    ASSERT_EQ(Zelvik_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Zelvik_GetImage(h, image.data(), size - 1, 1), 0);
    EXPECT_EQ(Zelvik_GetImage(h, nullptr, size, 1), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{ZELVIK_ERR_MEMORY, ZELVIK_ERR_MEMORY, ZELVIK_ERR_MEMORY}));
}

TEST_F(CaptureModeTest, ApplicationBufferOneByteShortFailsEveryFrame) {
    const int h = OpenSmall();
    ASSERT_EQ(Zelvik_SetColorMode(h, 24), 1);
    const int needed = 192 * 48;  // 64 pixels x 3 bytes, already a multiple of 4
    std::vector<uint8_t> buffer(needed);
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), buffer.data(), needed - 1, 1), 1);
    for (int frame = 0; frame < 3; ++frame) {
        const auto message = WaitForFrame(Queue());
        ASSERT_TRUE(message);
        EXPECT_EQ(message->wParam, 0u);
        EXPECT_EQ(message->lParam, ZELVIK_ERR_MEMORY);
    }
    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    const std::vector<int> codes = Codes(h);
    ASSERT_GE(codes.size(), 3u);
    for (int code : codes) EXPECT_EQ(code, 5);
    EXPECT_EQ(Engine(h).FrameCounters().delivered.load(), 0u);
    EXPECT_GE(Engine(h).FrameCounters().failed.load(), 3u);
}

TEST_F(CaptureModeTest, UnpluggedCameraEndsTheStreamWithError13) {
    const int h = OpenSmall();
    const int base = ThreadsNow();
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrame(Queue()));
    Firmware().Unplug();
    const auto lost = WaitFor(Queue(), [](const ZelvikMessage& m) { return m.lParam != 0; });
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->message, static_cast<uint32_t>(MSG_CAMERA_FRAME));
    EXPECT_EQ(lost->wParam, 0u);
    EXPECT_EQ(lost->lParam, ZELVIK_ERR_CAMERA_LOST);
    EXPECT_TRUE(WaitForThreads(base)) << "capture and acquisition threads end on their own";
    EXPECT_EQ(Codes(h), std::vector<int>{ZELVIK_ERR_CAMERA_LOST});
    EXPECT_EQ(Zelvik_StopPreview(h), 1);
    EXPECT_EQ(Engine(h).Mode(), kCaptureIdle);
}

// A camera whose identification no longer matches cannot be opened: every start fails at once with
// error 2 (camera not present), and no stream starts that would report it lost a moment later.
TEST_F(CaptureModeTest, StartWithoutAnOpenedCameraFailsWithError2) {
    const int h = OpenSmall();
    std::string error;
    ASSERT_TRUE(disks_->Control("ident 1 blank", &error)) << error;
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int>{2});
    const int base = ThreadsNow();
    std::vector<uint8_t> frame(64 * 48);
    const struct {
        const char* what;
        std::function<int()> start;
    } starts[] = {
        {"CallBackPreview", [&] { return Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1); }},
        {"StartPreview", [&] { return Zelvik_StartPreview(h); }},
        {"Capture", [&] { return Zelvik_Capture(h); }},
        {"SnapShot", [&] { return Zelvik_SnapShot(h, frame.data(), static_cast<int>(frame.size()), 1); }},
    };
    for (const auto& s : starts) {
        EXPECT_EQ(s.start(), 0) << s.what;
        const std::vector<int> codes = Codes(h);
        EXPECT_NE(std::find(codes.begin(), codes.end(), 2), codes.end()) << s.what;
        EXPECT_EQ(std::find(codes.begin(), codes.end(), 13), codes.end()) << s.what;
        EXPECT_EQ(ThreadsNow(), base) << s.what << ": no capture thread runs";
        EXPECT_EQ(Engine(h).Mode(), kCaptureIdle) << s.what;
    }
}

// A stop does not sleep out the capture loop's wait. The wait here is a day: a stop that slept it out
// would hang the test until its time-out.
TEST_F(CaptureModeTest, StopsInterruptTheCaptureLoopsWait) {
    const int h = OpenSmall();
    const int base = ThreadsNow();
    const struct {
        const char* what;
        std::function<int()> stop;
    } stops[] = {
        {"StopPreview", [&] { return Zelvik_StopPreview(h); }},
        {"Close", [&] { return Zelvik_Close(h); }},
        {"Release", [&] { Release(h); return 1; }},
    };
    for (const auto& s : stops) {
        ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1) << s.what;
        ASSERT_TRUE(WaitForFrame(Queue())) << s.what;
        ASSERT_EQ(Zelvik_SetWaitTime(h, 24 * 3600 * 1000), 1);
        EXPECT_EQ(s.stop(), 1) << s.what;
        // Release also ends the thread that makes the transfers of the handle's open camera.
        EXPECT_TRUE(WaitForThreads(s.what == std::string("Release") ? base - 1 : base)) << s.what;
        if (s.what != std::string("Release")) {
            ASSERT_EQ(Zelvik_SetWaitTime(h, 10), 1);
        }
    }
}

// A frame transfer that blocks in the kernel (the camera stops answering mid-read; 20 s here) does not
// hold up a stop: StopPreview, Close and Release return while it is still blocked, and once it is over
// the camera streams again (after Close on the same handle reselected, after Release on a new handle).
TEST_F(CaptureModeTest, StopsLeaveAStalledFrameTransferBehindAndTheCameraStreamsAgain) {
    int h = OpenSmall();
    const struct {
        const char* what;
        std::function<int()> stop;
        std::function<void()> reopen;
    } stops[] = {
        {"StopPreview", [&] { return Zelvik_StopPreview(h); }, [] {}},
        {"Close", [&] { return Zelvik_Close(h); }, [&] { EXPECT_EQ(Zelvik_SetDeviceNumber(h, 0), 1); }},
        {"Release", [&] { Release(h); return 1; }, [&] { h = MadeSmall(Open()); }},
    };
    for (const auto& s : stops) {
        ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1) << s.what;
        ASSERT_TRUE(WaitForFrame(Queue())) << s.what;
        Control("stall 1 1 20000");
        ASSERT_TRUE(Eventually([&] { return Firmware().Counters().stalledNow == 1; })) << s.what;
        EXPECT_EQ(s.stop(), 1) << s.what;
        EXPECT_EQ(Firmware().Counters().stalledNow, 1) << s.what << " waited for the stalled transfer";
        Control("unstall 1");
        s.reopen();
        DrainMessages(Queue());
        ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1) << s.what;
        EXPECT_TRUE(WaitForFrame(Queue())) << s.what;
        EXPECT_EQ(Zelvik_StopPreview(h), 1) << s.what;
    }
}

// After the first exchange that times out, the camera counts as stalled: every later exchange of the
// handle fails without I/O, so CallBackPreview and Release each wait at most one time-out instead of one
// per exchange, until the camera answers again.
TEST_F(CaptureModeTest, StalledCameraFailsEveryLaterExchangeAtOnceUntilItAnswersAgain) {
    const int h = OpenSmallWithStallLimit(kTestStallLimitMs);
    // The next two transfers each block for 20 s.
    Control("stall 1 2 20000");
    EXPECT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 0);
    EXPECT_EQ(Zelvik_WriteRegister(h, 0x35, 0x20), 0);
    emu::FirmwareCounters counters = Firmware().Counters();
    EXPECT_EQ(counters.stalledNow, 1);
    EXPECT_EQ(counters.stallsPending, 1) << "only the first exchange reached the camera";

    // The stalled transfer returns: the camera answers again, and exchanges are made again.
    Control("unstall 1");
    EXPECT_TRUE(Eventually([&] { return Zelvik_WriteRegister(h, 0x35, 0x20) == 1; }));
    Drain(h);
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrame(Queue()));

    // Stalled while streaming: Release leaves the stalled frame transfer behind and tries nothing else.
    Control("stall 1 2 20000");
    ASSERT_TRUE(Eventually([&] { return Firmware().Counters().stalledNow == 1; }));
    Release(h);
    counters = Firmware().Counters();
    EXPECT_EQ(counters.stalledNow, 1) << "Release waited for the stalled transfer";
    EXPECT_EQ(counters.stallsPending, 1);
    Control("unstall 1");
}

// A camera that answers every transfer, only slowly (each exchange alone in time), holds a capture start
// no longer than one time-out: the start's exchanges share it, and the start fails once it is spent. The
// transfers that reached the camera are counted, not the time.
TEST_F(CaptureModeTest, SlowTransfersCostACaptureStartOneTimeOut) {
    const int h = OpenSmallWithStallLimit(kTestStallLimitMs);
    // Each of the next 40 transfers takes a quarter of the time-out; the start makes more than 40.
    Control("stall 1 40 500");
    EXPECT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 0);
    EXPECT_GE(Firmware().Counters().stallsPending, 36) << "the start went on after its time-out was spent";
    Control("unstall 1");
    Drain(h);
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1) << "the camera answers again";
    EXPECT_TRUE(WaitForFrame(Queue()));
    EXPECT_EQ(Zelvik_StopPreview(h), 1);
}

TEST_F(CaptureModeTest, CloseAndReleaseWhileStreamingEndEveryThread) {
    const int h = OpenSmall();
    const int base = ThreadsNow();
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrame(Queue()));
    EXPECT_EQ(Zelvik_Close(h), 1);
    EXPECT_TRUE(WaitForThreads(base));
    EXPECT_EQ(Zelvik_StopPreview(h), 1);

    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrame(Queue()));
    Release(h);
    EXPECT_TRUE(WaitForThreads(base - 1)) << "the camera's transfer thread ends with the handle";
}

TEST_F(CaptureModeTest, DeliveredRowsFollowKeepRowOrder) {
    const int width = 64, height = 48;
    const emu::Image mosaic =
        MakeMosaic(width, height, [](int c, int r) { return static_cast<uint8_t>(r * 5 + c % 2); });
    MakeMosaicCamera(mosaic, 50);
    const int h = Open();
    SetWindow(h, width, height);
    ASSERT_EQ(Zelvik_SetColorMode(h, 8), 1);
    for (int keep : {1, 0}) {
        SCOPED_TRACE(keep);
        std::vector<uint8_t> buffer(static_cast<size_t>(width) * height);
        ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), buffer.data(), static_cast<int>(buffer.size()), keep),
                  1);
        const auto message = WaitFor(Queue(), [](const ZelvikMessage& m) { return m.lParam == 0; });
        ASSERT_TRUE(message);
        ASSERT_EQ(Zelvik_StopPreview(h), 1);
        const auto* info = reinterpret_cast<const ZelvikFrameInfo*>(message->wParam);
        EXPECT_EQ(info, &Engine(h).FrameInfo());
        EXPECT_EQ(info->size, static_cast<int32_t>(sizeof(ZelvikFrameInfo)));
        EXPECT_EQ(info->width, width);
        EXPECT_EQ(info->height, height);
        EXPECT_EQ(info->bitsPerPixel, 8);
        EXPECT_EQ(info->buffer, buffer.data());
        for (int r = 0; r < height; ++r) {
            const int memoryRow = keep ? r : height - 1 - r;
            ASSERT_EQ(0, std::memcmp(&buffer[static_cast<size_t>(r) * width],
                                     &mosaic.pixels[static_cast<size_t>(memoryRow) * width], width))
                << "delivered row " << r;
        }
        DrainMessages(Queue());
    }
}

TEST_F(CaptureModeTest, WindowChangedWhileStreamingNeverReachesTheBuffers) {
    const int h = OpenSmall();
    std::vector<uint8_t> buffer(64 * 48);
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
    const auto delivered = [&] {
        return WaitFor(Queue(), [](const ZelvikMessage& m) { return m.lParam == 0; });
    };
    ASSERT_TRUE(delivered());
    const auto& counters = Engine(h).FrameCounters();

    // A larger window does not fit the running acquisition: the device keeps streaming the old one.
    EXPECT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 128, 1944, 0, 96), 1);
    DrainMessages(Queue());
    ASSERT_TRUE(delivered());
    EXPECT_EQ(counters.dropped.load(), 0u);

    // A smaller one reaches the sensor: its frames are dropped, and error 7 says so once.
    EXPECT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 32, 1944, 0, 24), 1);
    const auto waitDropped = [&](uint64_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (counters.dropped.load() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return counters.dropped.load() >= count;
    };
    ASSERT_TRUE(waitDropped(1));
    DrainMessages(Queue());
    const uint64_t deliveredBefore = counters.delivered.load();
    ASSERT_TRUE(waitDropped(counters.dropped.load() + 3));
    EXPECT_EQ(counters.delivered.load(), deliveredBefore);
    ZelvikMessage m;
    EXPECT_EQ(ZelvikMsg_Get(Queue(), &m, 0), 0) << "no frame message for dropped frames";

    // Back to the window of the setup: frames flow again.
    EXPECT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 64, 1944, 0, 48), 1);
    ASSERT_TRUE(delivered());
    ASSERT_EQ(Zelvik_StopPreview(h), 1);
    EXPECT_EQ(Codes(h), std::vector<int>{ZELVIK_ERR_CAPTURE_WINDOW});
}

TEST_F(CaptureModeTest, EveryColourModeDeliversItsSizeAndDepthAtFullResolution) {
    MakeCamera();  // the colour bars at the sensor's own frame rate
    const int h = Open();
    constexpr int kWidth = 2592, kHeight = 1944;
    std::vector<uint8_t> gray8;
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        SCOPED_TRACE(bits);
        ASSERT_EQ(Zelvik_SetColorMode(h, bits), 1);
        std::vector<uint8_t> buffer(static_cast<size_t>(kWidth) * (bits / 8) *
                                    kHeight);  // rows need no padding
        ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
        const auto message = WaitFor(Queue(), [](const ZelvikMessage& m) { return m.lParam == 0; });
        ASSERT_TRUE(message);
        ASSERT_EQ(Zelvik_StopPreview(h), 1);
        const ZelvikFrameInfo& info = Engine(h).FrameInfo();
        EXPECT_EQ(info.width, kWidth);
        EXPECT_EQ(info.height, kHeight);
        EXPECT_EQ(info.bitsPerPixel, bits);
        if (bits == 8) gray8 = buffer;
        if (bits == 16) {
            // The same scene as 10-bit samples: every camera byte b as b << 2, never a pair of bytes.
            size_t differing = 0;
            for (size_t i = 0; i < gray8.size(); ++i) {
                uint16_t sample = 0;
                std::memcpy(&sample, &buffer[2 * i], 2);
                differing += sample != (gray8[i] << 2);
            }
            EXPECT_EQ(differing, 0u);
        }
        DrainMessages(Queue());
    }
    EXPECT_EQ(Codes(h), std::vector<int>{});
}

}  // namespace
}  // namespace zelvik::test
