// Cameras on the in-process emulator behind real handles, message helpers and a mosaic fixture maker.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "api/Exports.h"
#include "api/HandleRegistry.h"
#include "capture/CaptureEngine.h"
#include "device/CameraDevice.h"
#include "emulator/EmulatedDisks.h"
#include "include/ZelvikSdk.h"
#include "instance/CameraInstance.h"
#include "tests/support/ErrorStack.h"
#include "tests/support/ProcessStats.h"
#include "tests/support/TestEnvironment.h"

namespace zelvik::test {

// A mosaic of width x height whose sample at (column c, row r) is f(c, r).
inline emu::Image MakeMosaic(int width, int height, const std::function<uint8_t(int, int)>& f) {
    emu::Image image{width, height, 1, std::vector<uint8_t>(static_cast<size_t>(width) * height)};
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) image.pixels[static_cast<size_t>(r) * width + c] = f(c, r);
    return image;
}

// A textured mosaic with a few isolated bright outliers for the hot-pixel correction.
inline emu::Image TexturedMosaic(int width, int height) {
    return MakeMosaic(width, height, [](int c, int r) -> uint8_t {
        if ((c == 10 && r == 9) || (c == 31 && r == 20) || (c == 45 && r == 33)) return 255;
        const int base = 40 + (c * 3 + r * 2) % 120;
        return static_cast<uint8_t>(base + ((r & 1) ? 30 : 0) + ((c & 1) ? 15 : 0));
    });
}

class CaptureFixture : public ::testing::Test {
protected:
    // A sanitizer runtime starts a helper thread along with the process's first thread: that happens here,
    // before any test counts threads.
    static void SetUpTestSuite() {
        std::thread([] {}).join();
    }

    void TearDown() override {
        for (int h : handles_) Zelvik_Release(h);
        handles_.clear();
        disks_.reset();
        for (ZELVIK_HWND q : {queue_, notify_})
            if (q) ZelvikMsg_DestroyQueue(q);
    }

    // One emulated camera; scene null: the colour bars.
    void MakeCamera(emu::FirmwareOptions options = {}) {
        disks_ = std::make_unique<emu::EmulatedDisks>(1, options);
    }
    void MakeMosaicCamera(emu::Image mosaic, double fps = 0) {
        emu::FirmwareOptions options;
        options.scene = emu::MosaicScene(std::move(mosaic), "fixture");
        options.paced = fps > 0;
        options.fps = fps;
        MakeCamera(options);
    }
    emu::Firmware& Firmware() { return disks_->Camera(0); }

    // A handle on the emulated camera that reports errors to Notify(); the error stack starts empty.
    int Open() {
        if (!disks_) MakeCamera();
        emu::EmulatedDisks& disks = *disks_;
        const ZELVIK_HWND notify = Notify();
        const int h = InitializeHandle(
            [&](CameraInstance& c) { return c.InitializeWith(notify, CreateCameraDevice(disks)); });
        handles_.push_back(h);
        Drain(h);
        return h;
    }
    // Removes the settings that released handles saved, so the next handle starts from the defaults.
    void ForgetSettings() {
        std::filesystem::remove_all(env_.configDir());
        std::filesystem::create_directories(env_.configDir());
    }
    // Uses the top-left width x height of the sensor.
    static void SetWindow(int h, int width, int height) {
        ASSERT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, width, 1944, 0, height), 1);
    }
    void Release(int h) {
        Zelvik_Release(h);
        std::erase(handles_, h);
    }
    CameraInstance& Instance(int h) { return *Registry().Find(h)->instance; }
    CaptureEngine& Engine(int h) { return *Registry().Find(h)->engine; }

    ZELVIK_HWND Queue() {
        if (!queue_) queue_ = ZelvikMsg_CreateQueue();
        return queue_;
    }
    ZELVIK_HWND Notify() {
        if (!notify_) notify_ = ZelvikMsg_CreateQueue();
        return notify_;
    }

    static std::vector<int> Errors(int h) { return PopErrors(h); }
    static void Drain(int h) { DrainErrors(h); }
    void DrainMessages(ZELVIK_HWND q) {
        ZelvikMessage m;
        while (ZelvikMsg_Get(q, &m, 0) == 1) {
        }
    }

    // The next message on q for which accept holds (others are skipped); none within the guard time is
    // a failure of the test, not a timing measurement.
    static std::optional<ZelvikMessage> WaitFor(ZELVIK_HWND q,
                                                const std::function<bool(const ZelvikMessage&)>& accept) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        ZelvikMessage m;
        while (std::chrono::steady_clock::now() < deadline) {
            if (ZelvikMsg_Get(q, &m, 100) == 1 && accept(m)) return m;
        }
        return std::nullopt;
    }
    static std::optional<ZelvikMessage> WaitForFrame(ZELVIK_HWND q) {
        return WaitFor(q, [](const ZelvikMessage& m) { return m.message == MSG_CAMERA_FRAME; });
    }
    // Waits until the process runs `count` threads (threads end asynchronously after a join-less stop).
    static bool WaitForThreads(int count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (ThreadsNow() == count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    TestEnvironment env_;
    std::unique_ptr<emu::EmulatedDisks> disks_;
    std::vector<int> handles_;
    ZELVIK_HWND queue_ = 0;
    ZELVIK_HWND notify_ = 0;
};

}  // namespace zelvik::test
