// The capture thread: polls the device for frames, then reads, processes, draws and delivers each one.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "capture/CaptureEngine.h"
#include "device/CameraDevice.h"
#include "device/Sensor.h"
#include "imaging/FrameBuffer.h"
#include "imaging/Scale.h"
#include "instance/CameraInstance.h"
#include "output/StillImage.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace zelvik {
namespace {

// The longest single wait for a frame; a stop wakes it at once.
constexpr std::chrono::milliseconds kFrameWaitSlice{100};

// The device's window after subsampling.
void DeviceFrameSize(CameraDevice& device, int& width, int& height) {
    int x = 0, y = 0, w = 0, h = 0, subsample = 0;
    device.GetFormat(&x, &y, &w, &h, &subsample);
    width = sensor::Subsampled(w, subsample);
    height = sensor::Subsampled(h, subsample);
}

// Writes a field of the frame record only when it changes: the application may be reading the record
// of the previous frame, and most fields stay the same for a whole stream.
void Update(int32_t& field, int32_t value) {
    if (field != value) field = value;
}

}  // namespace

// Takes the newest frame from the device's ring. The buffers keep the size of the capture setup, as does
// the ring, which is why the device refuses a larger window while it streams: a frame never exceeds the
// landing buffer. A frame of another window is dropped instead of being misread.
//
// The frame stays in its ring slot (lent by the lease until the frame path is done) whenever the mode's
// finished image is another buffer and the packed rows already meet the 4-byte row stride; it is copied
// into the landing buffer only when the mode's finished image is that buffer itself (8-bit gray: GetImage
// and the readers of whole images read it after the slot went back to the ring), and for widths that are
// not a multiple of 4, whose rows must be spread to the stride.
CaptureEngine::Intake CaptureEngine::ReadLatestFrame(int mode, FrameLease& lease, FrameBuffer*& mosaic) {
    // Taken before the window is compared, so that a frame of another window is dropped once (and
    // counted), not met again on every pass until a newer frame replaces it.
    lease = camera_.Device().LeaseLatestFrame();
    if (!lease) return Intake::Failed;
    accounts_.Took(static_cast<uint64_t>(lease.Sequence()), lease.ArrivalNs(),
                   static_cast<uint64_t>(lease.Overwritten()), lease.UnreadTotal());
    FrameBuffer& landing = buffers_.Landing();
    const size_t frameBytes = static_cast<size_t>(landing.Width()) * static_cast<size_t>(landing.Height());
    // A window changed under the stream gives frames of another size: they are dropped.
    if (!LandingMatchesDevice() || lease.Bytes() < frameBytes) return Intake::Dropped;
    landedArrivalNs_ = lease.ArrivalNs();
    const bool inPlace =
        &buffers_.OutputOf(mode) != &landing && landing.Stride() == static_cast<uint32_t>(landing.Width());
    if (inPlace && slotView_.Borrow(lease.Bits(), landing.Width(), landing.Height(), 8) != 0) {
        mosaic = &slotView_;
    } else {
        std::memcpy(landing.Bits(), lease.Bits(), frameBytes);
        lease.Return();
        mosaic = &landing;
    }
    ArrangeLandedFrame(*mosaic);
    return Intake::Read;
}

void CaptureEngine::MeasureFrameRate() {
    // The frame record holds tenths of a frame per second.
    if (rateMeter_.Count(MillisecondClock())) frameRate_ = static_cast<int32_t>(rateMeter_.PerSecond(10));
}

// The frame message, after the frame went into the application's buffer band by band (fits false: the
// buffer is too small for it, and the frame is not announced). The caller holds deliveryMutex_.
void CaptureEngine::Deliver(bool fits) {
    if (!fits) {
        PostFrameError(kErrMemory);
        camera_.reportError(kErrMemory);
        ++counters_.failed;
        return;
    }
    if (frameInfo_.buffer != appBuffer_) frameInfo_.buffer = appBuffer_;
    frameArrivalNs_ = landedArrivalNs_;
    if (PostToTarget(callbackWindow_, MSG_CAMERA_FRAME, reinterpret_cast<uintptr_t>(&frameInfo_), 0))
        accounts_.HandOut(accounts_.Output(), appBuffer_);
    imageReady_ = 1;
    ++counters_.delivered;
}

// One new frame, from the read to the delivery. windowReported remembers that error 7 was reported for
// the current run of frames of another window.
//
// The frame path hands each finished band of the output straight to the copy into the application's
// buffer, so the delivery target is held from the frame's first band to its message: the message always
// announces the buffer the frame went into, and a target changed meanwhile waits for the frame.
void CaptureEngine::StreamFrame(int mode, bool& windowReported) {
    std::unique_lock delivery(deliveryMutex_, std::defer_lock);
    const FrameBuffer& output = buffers_.OutputOf(mode);
    bool fits = true;
    {
        std::unique_lock lock(outputMutex_);
        FrameLease lease;
        FrameBuffer* mosaic = nullptr;
        switch (ReadLatestFrame(mode, lease, mosaic)) {
            case Intake::Read:
                windowReported = false;
                break;
            case Intake::Dropped:
                accounts_.Dropped();
                lock.unlock();
                ++counters_.dropped;
                if (!windowReported) camera_.reportError(kErrCaptureWindow);
                windowReported = true;
                return;
            case Intake::Failed:
                lock.unlock();
                ++counters_.failed;
                delivery.lock();
                PostFrameError(kErrTransfer);
                delivery.unlock();
                camera_.reportError(kErrTransfer);
                return;
        }
        const FrameBuffer& landing = buffers_.Landing();
        Update(frameInfo_.size, static_cast<int32_t>(sizeof(ZelvikFrameInfo)));
        Update(frameInfo_.width, landing.Width());
        Update(frameInfo_.height, landing.Height());
        Update(frameInfo_.bitsPerPixel, BitsPerPixelOfColorMode(mode));
        MeasureFrameRate();
        Update(frameInfo_.frameRate, frameRate_);
        delivery.lock();  // always after outputMutex_
        FinishedRows copyOut;
        if (appBuffer_ != nullptr && appBufferSize_ != 0) {
            fits = CopyOutFits(output, appBufferSize_);
            if (fits) copyOut = [&](int from, int to) { CopyOutRows(output, appBuffer_, from, to, keepRowOrder_); };
        }
        framePath_.Process(buffers_, *mosaic, mode, copyOut);
        accounts_.Processed();
        slotView_.Release();
    }
    // The output changes only on this thread: the recorder's conversion and the drawing read it without
    // the lock. A running recording takes its converted copy stamped with the time the frame arrived
    // (skipped, and counted, when its queue is full).
    recorder_.Offer(ViewOf(output), MillisecondClockAt(landedArrivalNs_));
    // A window that went away stops the drawing; it is reported once and frames keep being delivered.
    if (!preview_.Draw(buffers_, mode)) camera_.reportError(kErrWindow);
    Deliver(fits);
}

bool CaptureEngine::LandingMatchesDevice() {
    const FrameBuffer& landing = buffers_.Landing();
    int width = 0, height = 0;
    DeviceFrameSize(camera_.Device(), width, height);
    return landing.Bits() != nullptr && width == landing.Width() && height == landing.Height();
}

bool CaptureEngine::FitBuffersToDevice(int mode) {
    if (LandingMatchesDevice()) return true;
    int width = 0, height = 0;
    DeviceFrameSize(camera_.Device(), width, height);
    if (!buffers_.Build(mode, width, height)) {
        camera_.reportError(kErrMemory);
        return false;
    }
    return true;
}

void CaptureEngine::ArrangeLandedFrame(FrameBuffer& landing) {
    const int width = landing.Width();
    const int height = landing.Height();
    // The device packs rows without padding.
    if (landing.Stride() != static_cast<uint32_t>(width)) {
        landing.Apply(UnpackRows8, landing, nullptr, 0, 0);
    }
    if (camera_.Settings().analogSettings[kMirrorH] != 0) {
        for (int r = 0; r < height; ++r) {
            uint8_t* row = landing.Bits() + static_cast<size_t>(r) * landing.Stride();
            std::reverse(row, row + width);
        }
    }
}

void CaptureEngine::StreamingLoop() {
    const int mode = setupColorMode_.load();
    const CameraSettings& settings = camera_.Settings();
    CameraDevice& device = camera_.Device();
    bool windowReported = false;
    while (runState_.load() != 0) {
        // The pause of each pass, which keeps frames at least waitTime apart. A stop ends it at once,
        // however long the application made it.
        captureWake_.WaitFor(settings.waitTime);
        if (runState_.load() != 1) continue;
        // After it, the next frame is taken the moment it is stored rather than at the end of a later
        // pause: the wait for it adds nothing to the frame's age.
        const auto stopping = [this] { return runState_.load() != 1; };
        FrameStatus status = FrameStatus::NoNewFrame;
        while (!stopping() && (status = device.WaitForFrame(kFrameWaitSlice, stopping)) == FrameStatus::NoNewFrame) {
        }
        if (stopping()) continue;
        if (status == FrameStatus::Error) {
            runState_ = 0;
            {
                std::lock_guard delivery(deliveryMutex_);
                PostFrameError(kErrCameraLost);
            }
            camera_.reportError(kErrCameraLost);
            // A running recording ends as after a failed write: finished with what it holds, and reported.
            recorder_.EndOfFrames();
            break;
        }
        if (status == FrameStatus::NewFrame) StreamFrame(mode, windowReported);
    }
}

}  // namespace zelvik
