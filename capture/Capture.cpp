// Capture setup, streaming start and stop, single-shot capture, GetImage and the copy into application
// memory.
#include "capture/Capture.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

#include "capture/CaptureAccess.h"
#include "capture/CaptureBuffers.h"
#include "capture/CaptureInternal.h"
#include "capture/FramePath.h"
#include "device/CameraDevice.h"
#include "imaging/Kernels.h"
#include "instance/CameraInstance.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace zelvik {
namespace {

// The capture asks the device for this frame timeout; the device accepts at most 10000 and keeps its own.
constexpr int kCaptureDeviceTimeout = 12000;
// The sensor settles around a format change.
constexpr int kFormatSettleMs = 100;

// Colour gain registers: green 1, red, blue, green 2.
constexpr int kGainRegisterG1 = 0x2B;
constexpr int kGainRegisterB = 0x2C;
constexpr int kGainRegisterR = 0x2D;
constexpr int kGainRegisterG2 = 0x2E;

int SubsampledSize(int size, int subsample) {
    switch (subsample) {
        case 1:
            return size / 2;
        case 2:
            return size / 4;
        case 3:
            return size / 8;
        default:
            return size;
    }
}

// Where frames go, changed only under the delivery lock so that the capture thread sees a whole change.
void SetDeliveryTarget(CameraInstance& camera, ZELVIK_HWND window, void* buffer, int size, int keepRowOrder) {
    std::lock_guard lock(camera.deliveryMutex);
    camera.callbackWindow = window;
    camera.appBuffer = buffer;
    camera.appBufferSize = size;
    camera.keepRowOrder = keepRowOrder;
}

// Preview and CallBackPreview: the window comes with the preview issue; for now streaming starts alone.
int StartStreamingWithDelivery(CameraInstance& camera) {
    if (StartPreview(camera)) return 1;
    camera.Close();
    camera.reportError(kErrTransfer);
    return 0;
}

}  // namespace

int RunCaptureSetup(CameraInstance& camera) {
    CameraDevice& device = *camera.device;
    // A valid camera number whose disk could not be opened (a failed selection) is no camera either.
    if (!device.IsValidDevice(device.GetDeviceIndex()) || !device.IsOpen()) {
        camera.reportError(kErrNoCamera);
        return 0;
    }
    camera.deviceTimeout = kCaptureDeviceTimeout;
    device.SetTimeout(kCaptureDeviceTimeout);
    if (!camera.IsCaptureWindowValid()) {
        camera.reportError(kErrCaptureWindow);
        return 0;
    }
    const CaptureWindow window = camera.captureWindow;
    const int width = SubsampledSize(window.EH, camera.subsample);
    const int height = SubsampledSize(window.EV, camera.subsample);
    const int mode = camera.colorMode;
    {
        std::lock_guard lock(camera.outputMutex);
        const int built = BuildCaptureBuffers(camera, mode, width, height);
        // Even a partial build changes the buffers: readers follow the new mode from here on.
        camera.setupColorMode = mode;
        if (!built) {
            camera.reportError(kErrMemory);
            return 0;
        }
    }
    camera.kernels = ChooseImagingKernels(camera.cpu);
    if (!camera.filterContext) {
        try {
            camera.filterContext = std::make_unique<FilterContext>(&camera.cpu);
        } catch (const std::bad_alloc&) {
            camera.reportError(kErrMemory);
            return 0;
        }
    }

    int clock = 0;
    device.GetClock(&clock);
    if (clock != camera.clock) device.SetClock(camera.clock);
    SleepMs(kFormatSettleMs);
    const int format = device.SetFormat(window.EHS, window.EVS, window.EH, window.EV, camera.subsample);
    SleepMs(kFormatSettleMs);
    // A window the instance accepts but the sensor cannot take (narrower than 4 or lower than 3 pixels)
    // would leave the sensor on its previous window, delivering frames of another size.
    if (format != 0 || device.GetFrameBytes() != width * height) {
        camera.reportError(kErrCaptureWindow);
        return 0;
    }
    device.SetTransferDepth(IsWideColorMode(mode) ? 1 : 0);

    const auto& analog = camera.analogSettings;
    device.SetMirrorV(analog[kMirrorV]);
    device.SetMirrorH(analog[kMirrorH]);
    device.SetGlobalGain(analog[kGlobalGain] & 0xFFFF);
    device.SetColorGain(kGainRegisterG1, analog[kGainG1] & 0xFFFF);
    device.SetColorGain(kGainRegisterR, analog[kGainR] & 0xFFFF);
    device.SetColorGain(kGainRegisterB, analog[kGainB] & 0xFFFF);
    device.SetColorGain(kGainRegisterG2, analog[kGainG2] & 0xFFFF);
    device.SetExposure(analog[kExposure]);
    camera.CalculateExposure();
    return 1;
}

int CopyOut(CameraInstance& camera, const FrameBuffer& output, void* buffer, int size, int keepRowOrder) {
    const size_t stride = output.Stride();
    const size_t rows = static_cast<size_t>(output.Height());
    const int64_t needed = static_cast<int64_t>(stride * rows);
    if (needed > size) {
        PostFrameError(camera, kErrMemory);
        camera.reportError(kErrMemory);
        return 0;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    const uint8_t* bits = output.Bits();
    if (keepRowOrder != 0) {
        std::memcpy(out, bits, stride * rows);
    } else {
        for (size_t r = 0; r < rows; ++r)
            std::memcpy(out + r * stride, bits + (rows - 1 - r) * stride, stride);
    }
    return 1;
}

void PostFrameError(CameraInstance& camera, int code) {
    PostToTarget(camera.callbackWindow, MSG_CAMERA_FRAME, 0, code);
}

namespace {

// The access check of an operation that may set a capture up, followed by that setup when the table asks
// for it. A failed setup reports error 1 and answers Refused; every other answer passes through.
CaptureAccess CheckAndSetUp(CameraInstance& camera, CaptureOp op) {
    const CaptureAccess access = CheckCaptureAccess(camera, op);
    if (access == CaptureAccess::SetUp && !RunCaptureSetup(camera)) {
        camera.reportError(kErrNotAllowed);
        return CaptureAccess::Refused;
    }
    return access;
}

}  // namespace

int StartPreview(CameraInstance& camera) {
    const CaptureAccess access = CheckAndSetUp(camera, CaptureOp::StartPreview);
    if (access != CaptureAccess::SetUp) return access == CaptureAccess::Done ? 1 : 0;
    camera.runState = 1;
    try {
        camera.captureThread = std::thread([&camera] { StreamingLoop(camera); });
    } catch (const std::system_error&) {
        StopPreview(camera);
        camera.reportError(kErrThread);
        return 0;
    }
    camera.device->SetMode(0);
    if (camera.device->StartContinuous() != 0) {
        StopPreview(camera);
        camera.reportError(kErrDevice);
        return 0;
    }
    camera.captureMode = kCaptureStreaming;
    return 1;
}

int StopPreview(CameraInstance& camera) {
    if (CheckCaptureAccess(camera, CaptureOp::StopPreview) == CaptureAccess::Refused) return 0;
    return camera.StopCapture();
}

int Preview(CameraInstance& camera) {
    SetDeliveryTarget(camera, 0, nullptr, 0, 0);
    return StartStreamingWithDelivery(camera);
}

int CallBackPreview(CameraInstance& camera, ZELVIK_HWND window, void* buffer, int size, int keepRowOrder) {
    SetDeliveryTarget(camera, window, buffer, size, keepRowOrder);
    return StartStreamingWithDelivery(camera);
}

int Capture(CameraInstance& camera) {
    const CaptureAccess access = CheckAndSetUp(camera, CaptureOp::Capture);
    if (access != CaptureAccess::SetUp) return access == CaptureAccess::Done ? 1 : 0;
    camera.captureMode = kCaptureSingleShot;
    return 1;
}

int SnapShot(CameraInstance& camera, void* buffer, int size, int keepRowOrder) {
    if (CheckAndSetUp(camera, CaptureOp::SnapShot) == CaptureAccess::Refused) return 0;
    const int mode = camera.setupColorMode.load();
    CameraDevice& device = *camera.device;
    {
        std::lock_guard lock(camera.outputMutex);
        // In single-shot mode the window may have changed since the setup: the frame must fit the buffers.
        if (!FitBuffersToDevice(camera, mode)) return 0;
        device.SetMode(0);
        if (device.StartSingleFrame() != 0) {
            camera.reportError(kErrTransfer);
            return 0;
        }
        if (device.FinishSingleFrame(LandingBuffer(camera).Bits(), 0, 0, 1) != 0) {
            PostFrameError(camera, kErrTransfer);
            camera.reportError(kErrTransfer);
            return 0;
        }
        ArrangeLandedFrame(camera);
        ProcessFrame(camera, mode);
    }
    if (buffer != nullptr && size != 0 &&
        !CopyOut(camera, OutputBufferOf(camera, mode), buffer, size, keepRowOrder)) {
        camera.reportError(kErrMemory);
        return 0;
    }
    camera.imageReady = 1;
    return 1;
}

int GetImage(CameraInstance& camera, void* buffer, int size, int keepRowOrder) {
    if (CheckCaptureAccess(camera, CaptureOp::GetImage) == CaptureAccess::Refused) return 0;
    FrameBuffer* output = CapturedOutput(camera);
    if (output == nullptr) {
        camera.reportError(kErrNotAllowed);
        return 0;
    }
    {
        std::lock_guard lock(camera.outputMutex);
        if (output->Bits() != nullptr && buffer != nullptr) {
            // Taken before the copy, so that a frame delivered during it is not lost.
            if (camera.imageReady.exchange(0) == 0) return 0;
            if (CopyOut(camera, *output, buffer, size, keepRowOrder)) return 1;
            camera.imageReady = 1;
        }
    }
    camera.reportError(kErrMemory);
    return 0;
}

}  // namespace zelvik
