// The capture thread: polls the device for frames, then reads, processes, draws and delivers each one.
#include <algorithm>
#include <mutex>

#include "capture/CaptureBuffers.h"
#include "capture/CaptureInternal.h"
#include "capture/FramePath.h"
#include "capture/Preview.h"
#include "device/CameraDevice.h"
#include "imaging/FrameBuffer.h"
#include "imaging/Scale.h"
#include "instance/CameraInstance.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace zelvik {
namespace {

// GetFrameStatus answers.
constexpr int kStatusError = 1;
constexpr int kStatusNewFrame = 3;
constexpr uint32_t kRateWindowMs = 1000;

enum class Intake { Read, Failed, Dropped };

// The device's window after subsampling.
void DeviceFrameSize(CameraDevice& device, int& width, int& height) {
    int x = 0, y = 0, w = 0, h = 0, subsample = 0;
    device.GetFormat(&x, &y, &w, &h, &subsample);
    const int step = 1 << std::clamp(subsample, 0, 3);
    width = w / step;
    height = h / step;
}

// Reads the newest frame into the landing buffer. The buffers keep the size of the capture setup, as
// does the device's frame ring, which is why the device refuses a larger window while it streams: a copy
// never exceeds the landing buffer. A frame of another window is dropped instead of being misread.
Intake ReadLatestFrame(CameraInstance& camera) {
    if (!LandingMatchesDevice(camera)) return Intake::Dropped;
    if (camera.device->CopyLatestFrame(LandingBuffer(camera).Bits(), 0, 0, 1) != 0) return Intake::Failed;
    // A window change during the copy may have mixed two windows in it.
    if (!LandingMatchesDevice(camera)) return Intake::Dropped;
    ArrangeLandedFrame(camera);
    return Intake::Read;
}

// Writes a field of the frame record only when it changes: the application may be reading the record
// of the previous frame, and most fields stay the same for a whole stream.
void Update(int32_t& field, int32_t value) {
    if (field != value) field = value;
}

void MeasureFrameRate(CameraInstance& camera) {
    ++camera.frameCount;
    const uint32_t elapsed = MillisecondClock() - camera.rateWindowStart;
    if (elapsed > kRateWindowMs) {
        camera.frameRate = static_cast<int32_t>(camera.frameCount * 10000.0 / elapsed);
        camera.frameCount = 0;
        camera.rateWindowStart = MillisecondClock();
    }
}

// Copy-out into the application's buffer (when it gave one), then the frame message.
void Deliver(CameraInstance& camera, const FrameBuffer& output) {
    std::lock_guard lock(camera.deliveryMutex);
    if (camera.appBuffer != nullptr && camera.appBufferSize != 0 &&
        !CopyOut(camera, output, camera.appBuffer, camera.appBufferSize, camera.keepRowOrder)) {
        ++camera.captureCounters.failed;
        return;
    }
    if (camera.frameInfo.buffer != camera.appBuffer) camera.frameInfo.buffer = camera.appBuffer;
    PostToTarget(camera.callbackWindow, MSG_CAMERA_FRAME, reinterpret_cast<uintptr_t>(&camera.frameInfo), 0);
    camera.imageReady = 1;
    ++camera.captureCounters.delivered;
}

// One new frame, from the read to the delivery. windowReported remembers that error 7 was reported for
// the current run of frames of another window.
void StreamFrame(CameraInstance& camera, int mode, bool& windowReported) {
    {
        std::unique_lock lock(camera.outputMutex);
        switch (ReadLatestFrame(camera)) {
            case Intake::Read:
                windowReported = false;
                break;
            case Intake::Dropped:
                lock.unlock();
                ++camera.captureCounters.dropped;
                if (!windowReported) camera.reportError(kErrCaptureWindow);
                windowReported = true;
                return;
            case Intake::Failed:
                lock.unlock();
                ++camera.captureCounters.failed;
                {
                    std::lock_guard delivery(camera.deliveryMutex);
                    PostFrameError(camera, kErrTransfer);
                }
                camera.reportError(kErrTransfer);
                return;
        }
        const FrameBuffer& landing = LandingBuffer(camera);
        ZelvikFrameInfo& info = camera.frameInfo;
        Update(info.size, static_cast<int32_t>(sizeof(ZelvikFrameInfo)));
        Update(info.width, landing.Width());
        Update(info.height, landing.Height());
        Update(info.bitsPerPixel, BitsPerPixelOfColorMode(mode));
        MeasureFrameRate(camera);
        Update(info.frameRate, camera.frameRate.load());
        ProcessFrame(camera, mode);
    }
    camera.frameForRecorder = 1;
    DrawFrame(camera);
    Deliver(camera, OutputBufferOf(camera, mode));
}

}  // namespace

bool LandingMatchesDevice(CameraInstance& camera) {
    const FrameBuffer& landing = LandingBuffer(camera);
    int width = 0, height = 0;
    DeviceFrameSize(*camera.device, width, height);
    return landing.Bits() != nullptr && width == landing.Width() && height == landing.Height();
}

bool FitBuffersToDevice(CameraInstance& camera, int mode) {
    if (LandingMatchesDevice(camera)) return true;
    int width = 0, height = 0;
    DeviceFrameSize(*camera.device, width, height);
    if (!BuildCaptureBuffers(camera, mode, width, height)) {
        camera.reportError(kErrMemory);
        return false;
    }
    return true;
}

void ArrangeLandedFrame(CameraInstance& camera) {
    FrameBuffer& landing = LandingBuffer(camera);
    const int width = landing.Width();
    const int height = landing.Height();
    // The device packs rows without padding.
    if (landing.Stride() != static_cast<uint32_t>(width)) {
        landing.Apply(UnpackRows8, landing, nullptr, 0, 0, nullptr, nullptr);
    }
    if (camera.analogSettings[kMirrorH] != 0) {
        for (int r = 0; r < height; ++r) {
            uint8_t* row = landing.Bits() + static_cast<size_t>(r) * landing.Stride();
            std::reverse(row, row + width);
        }
    }
}

void StreamingLoop(CameraInstance& camera) {
    const int mode = camera.setupColorMode.load();
    bool windowReported = false;
    while (camera.runState.load() != 0) {
        // A stop ends the wait at once, however long the application made it.
        camera.captureWake.WaitFor(camera.waitTime);
        if (camera.runState.load() != 1) continue;
        const int status = camera.device->GetFrameStatus();
        if (status == kStatusError) {
            camera.runState = 0;
            {
                std::lock_guard delivery(camera.deliveryMutex);
                PostFrameError(camera, kErrCameraLost);
            }
            camera.reportError(kErrCameraLost);
            break;
        }
        if (status == kStatusNewFrame) StreamFrame(camera, mode, windowReported);
    }
}

}  // namespace zelvik
