// The capture operations: capture setup, streaming start and stop, single-shot capture, GetImage, Close
// and the copy into application memory.
#include <cstring>
#include <mutex>
#include <system_error>

#include "capture/CaptureEngine.h"
#include "device/CameraDevice.h"
#include "device/Sensor.h"
#include "instance/CameraInstance.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace zelvik {
namespace {

// The capture asks the device for this frame timeout; the device accepts at most 10000 and keeps its own.
constexpr int kCaptureDeviceTimeout = 12000;
// The sensor settles around a format change.
constexpr int kFormatSettleMs = 100;

}  // namespace

CaptureEngine::CaptureEngine(CameraInstance& camera)
    : camera_(camera), framePath_(camera), rateMeter_(MillisecondClock()) {
    frameInfo_.size = sizeof(ZelvikFrameInfo);
}

CaptureEngine::~CaptureEngine() { Close(); }

FrameBuffer* CaptureEngine::CapturedOutput() {
    const int setup = setupColorMode_.load();
    const int mode = setup >= 0 ? setup : camera_.Settings().colorMode;
    if (!IsValidColorMode(mode)) return nullptr;
    return &buffers_.OutputOf(mode);
}

int CaptureEngine::RunCaptureSetup() {
    CameraDevice& device = camera_.Device();
    const CameraSettings& settings = camera_.Settings();
    // A valid camera number whose disk could not be opened (a failed selection) is no camera either.
    if (!device.IsValidDevice(device.GetDeviceIndex()) || !device.IsOpen()) {
        camera_.reportError(kErrNoCamera);
        return 0;
    }
    device.SetTimeout(kCaptureDeviceTimeout);
    if (!camera_.IsCaptureWindowValid()) {
        camera_.reportError(kErrCaptureWindow);
        return 0;
    }
    const CaptureWindow window = settings.captureWindow;
    const int width = sensor::Subsampled(window.EH, settings.subsample);
    const int height = sensor::Subsampled(window.EV, settings.subsample);
    const int mode = settings.colorMode;
    {
        std::lock_guard lock(outputMutex_);
        const bool built = buffers_.Build(mode, width, height);
        // Even a partial build changes the buffers: readers follow the new mode from here on.
        setupColorMode_ = mode;
        if (!built) {
            camera_.reportError(kErrMemory);
            return 0;
        }
    }
    if (!framePath_.Prepare()) {
        camera_.reportError(kErrMemory);
        return 0;
    }

    int clock = 0;
    device.GetClock(&clock);
    if (clock != settings.clock) device.SetClock(settings.clock);
    SleepMs(kFormatSettleMs);
    const DeviceResult format =
        device.SetFormat(window.EHS, window.EVS, window.EH, window.EV, settings.subsample);
    SleepMs(kFormatSettleMs);
    // A window the instance accepts but the sensor cannot take (narrower than 4 or lower than 3 pixels)
    // would leave the sensor on its previous window, delivering frames of another size.
    if (!Succeeded(format) || device.GetFrameBytes() != width * height) {
        camera_.reportError(kErrCaptureWindow);
        return 0;
    }
    device.SetTransferDepth(IsWideColorMode(mode));
    camera_.ApplyAnalogSettings();
    camera_.CalculateExposure();
    return 1;
}

bool CaptureEngine::CopyOutFits(const FrameBuffer& output, int size) {
    return static_cast<int64_t>(output.Stride()) * output.Height() <= size;
}

void CaptureEngine::CopyOutRows(const FrameBuffer& output, void* buffer, int rowFrom, int rowTo, int keepRowOrder) {
    const size_t stride = output.Stride();
    const size_t rows = static_cast<size_t>(output.Height());
    auto* out = static_cast<uint8_t*>(buffer);
    const uint8_t* bits = output.Bits();
    if (keepRowOrder != 0) {
        std::memcpy(out + rowFrom * stride, bits + rowFrom * stride, (rowTo - rowFrom) * stride);
    } else {
        for (size_t r = static_cast<size_t>(rowFrom); r < static_cast<size_t>(rowTo); ++r)
            std::memcpy(out + (rows - 1 - r) * stride, bits + r * stride, stride);
    }
}

int CaptureEngine::CopyOut(const FrameBuffer& output, void* buffer, int size, int keepRowOrder) {
    if (!CopyOutFits(output, size)) {
        PostFrameError(kErrMemory);
        camera_.reportError(kErrMemory);
        return 0;
    }
    CopyOutRows(output, buffer, 0, output.Height(), keepRowOrder);
    return 1;
}

void CaptureEngine::PostFrameError(int code) { PostToTarget(callbackWindow_, MSG_CAMERA_FRAME, 0, code); }

// Where frames go, changed only under the delivery lock so that the capture thread sees a whole change.
void CaptureEngine::SetDeliveryTarget(ZELVIK_HWND window, void* buffer, int size, int keepRowOrder) {
    std::lock_guard lock(deliveryMutex_);
    callbackWindow_ = window;
    appBuffer_ = buffer;
    appBufferSize_ = size;
    keepRowOrder_ = keepRowOrder;
}

// Preview and CallBackPreview: without a preview window, streaming starts alone.
int CaptureEngine::StartStreamingWithDelivery() {
    if (StartPreview()) return 1;
    Close();
    camera_.reportError(kErrTransfer);
    return 0;
}

// The access check of an operation that may set a capture up, followed by that setup when the table asks
// for it. A failed setup reports error 1 and answers Refused; every other answer passes through.
CaptureAccess CaptureEngine::CheckAndSetUp(CaptureOp op) {
    const CaptureAccess access = CheckCaptureAccess(camera_, captureMode_.load(), op);
    if (access == CaptureAccess::SetUp && !RunCaptureSetup()) {
        camera_.reportError(kErrNotAllowed);
        return CaptureAccess::Refused;
    }
    // A setup starts a stream: streaming, single frames until the stop, or a snapshot on its own.
    if (access == CaptureAccess::SetUp) {
        std::lock_guard lock(deliveryMutex_);
        accounts_.Begin(op != CaptureOp::StartPreview);
    }
    return access;
}

// A capture start's exchanges with the camera share one time-out: the setup's format and analog settings
// and the start's frame request (the acquisition's frame reads run on its own thread, outside it).
CameraDevice* CaptureEngine::DeviceIfAny() { return camera_.HasDevice() ? &camera_.Device() : nullptr; }

int CaptureEngine::StartPreview() {
    const CameraDevice::CallBudget budget(DeviceIfAny());
    const CaptureAccess access = CheckAndSetUp(CaptureOp::StartPreview);
    if (access != CaptureAccess::SetUp) return access == CaptureAccess::Done ? 1 : 0;
    runState_ = 1;
    try {
        captureThread_ = std::thread([this] { StreamingLoop(); });
    } catch (const std::system_error&) {
        StopPreview();
        camera_.reportError(kErrThread);
        return 0;
    }
    CameraDevice& device = camera_.Device();
    device.SetMode(0);
    if (!Succeeded(device.StartContinuous())) {
        StopPreview();
        camera_.reportError(kErrDevice);
        return 0;
    }
    captureMode_ = kCaptureStreaming;
    return 1;
}

int CaptureEngine::StopPreview() {
    if (CheckCaptureAccess(camera_, captureMode_.load(), CaptureOp::StopPreview) == CaptureAccess::Refused)
        return 0;
    return StopCapture();
}

void CaptureEngine::SetPreviewWindow(ZELVIK_HWND parent, int x, int y, int width, int height) {
    preview_.Place(parent, x, y, width, height);
}

int CaptureEngine::OpenPreviewWindow() {
    const CameraSettings& settings = camera_.Settings();
    const int width = sensor::Subsampled(settings.captureWindow.EH, settings.subsample);
    const int height = sensor::Subsampled(settings.captureWindow.EV, settings.subsample);
    if (preview_.Create(width, height)) return 1;
    camera_.reportError(kErrWindow);
    return 0;
}

int CaptureEngine::Preview() {
    SetDeliveryTarget(0, nullptr, 0, 0);
    if (!OpenPreviewWindow()) return 0;
    return StartStreamingWithDelivery();
}

int CaptureEngine::CallBackPreview(ZELVIK_HWND window, void* buffer, int size, int keepRowOrder) {
    SetDeliveryTarget(window, buffer, size, keepRowOrder);
    // Headless programs (no display at all) that take their frames from a queue stream without a window;
    // an X11 window as the target means a display was meant to be there.
    const bool headless = (window == 0 || IsMessageQueue(window)) && !preview_.DisplayAvailable();
    if (!headless && !OpenPreviewWindow()) return 0;
    return StartStreamingWithDelivery();
}

int CaptureEngine::Capture() {
    const CameraDevice::CallBudget budget(DeviceIfAny());
    const CaptureAccess access = CheckAndSetUp(CaptureOp::Capture);
    if (access != CaptureAccess::SetUp) return access == CaptureAccess::Done ? 1 : 0;
    captureMode_ = kCaptureSingleShot;
    return 1;
}

int CaptureEngine::SnapShot(void* buffer, int size, int keepRowOrder) {
    const CameraDevice::CallBudget budget(DeviceIfAny());
    if (CheckAndSetUp(CaptureOp::SnapShot) == CaptureAccess::Refused) return 0;
    const int mode = setupColorMode_.load();
    CameraDevice& device = camera_.Device();
    {
        std::lock_guard lock(outputMutex_);
        // In single-shot mode the window may have changed since the setup: the frame must fit the buffers.
        if (!FitBuffersToDevice(mode)) return 0;
        device.SetMode(0);
        if (!Succeeded(device.StartSingleFrame())) {
            camera_.reportError(kErrTransfer);
            return 0;
        }
        int64_t arrival = 0;
        if (!Succeeded(device.FinishSingleFrame(buffers_.Landing().Bits(), &arrival))) {
            PostFrameError(kErrTransfer);
            camera_.reportError(kErrTransfer);
            return 0;
        }
        accounts_.TookSingle(arrival);
        ArrangeLandedFrame(buffers_.Landing());
        framePath_.Process(buffers_, buffers_.Landing(), mode);
        accounts_.Processed();
    }
    const bool copy = buffer != nullptr && size != 0;
    if (copy && !CopyOut(buffers_.OutputOf(mode), buffer, size, keepRowOrder)) {
        camera_.reportError(kErrMemory);
        return 0;
    }
    {
        std::lock_guard lock(deliveryMutex_);
        accounts_.HandOut(accounts_.Output(), copy ? buffer : nullptr);
    }
    imageReady_ = 1;
    return 1;
}

int CaptureEngine::GetImage(void* buffer, int size, int keepRowOrder) {
    if (CheckCaptureAccess(camera_, captureMode_.load(), CaptureOp::GetImage) == CaptureAccess::Refused)
        return 0;
    FrameBuffer* output = CapturedOutput();
    if (output == nullptr) {
        camera_.reportError(kErrNotAllowed);
        return 0;
    }
    {
        std::lock_guard lock(outputMutex_);
        if (output->Bits() != nullptr && buffer != nullptr) {
            // Taken before the copy, so that a frame delivered during it is not lost.
            if (imageReady_.exchange(0) == 0) return 0;
            if (CopyOut(*output, buffer, size, keepRowOrder)) {
                std::lock_guard delivery(deliveryMutex_);
                accounts_.HandOut(accounts_.Output(), buffer);
                return 1;
            }
            imageReady_ = 1;
        }
    }
    camera_.reportError(kErrMemory);
    return 0;
}

int CaptureEngine::GetFrameFacts(const void* buffer, ZelvikFrameFacts* facts) {
    if (facts == nullptr || facts->size < sizeof(ZelvikFrameFacts)) return 0;
    std::lock_guard lock(deliveryMutex_);
    return accounts_.Facts(buffer, facts) ? 1 : 0;
}

int CaptureEngine::GetStreamStats(ZelvikStreamStats* stats) {
    if (stats == nullptr || stats->size < sizeof(ZelvikStreamStats)) return 0;
    ZelvikStreamStats s{};
    s.size = stats->size;
    s.streaming = captureMode_.load() != kCaptureIdle ? 1 : 0;
    // The stages before the frames read: the device's count only grows, so it never falls below them.
    accounts_.Totals(&s);
    if (accounts_.SingleFrames()) {
        s.framesRead = accounts_.SingleFramesRead();
    } else if (camera_.HasDevice()) {
        s.framesRead = static_cast<uint64_t>(camera_.Device().FramesRead());
        s.framesUnread = camera_.Device().UnreadFrames();
    }
    s.recordSkipped = recorder_.FramesSkipped();
    s.recordQueued = recorder_.FramesQueued();
    s.recordProcessed = recorder_.FramesOffered();
    s.recordWritten = recordCounters_.written.load(std::memory_order_relaxed);
    s.recording = recording_.load();
    *stats = s;
    return 1;
}

void CaptureEngine::JoinCaptureThread() {
    runState_ = 0;
    captureWake_.Set();
    if (camera_.HasDevice()) camera_.Device().WakeFrameWaiters();
    if (captureThread_.joinable()) captureThread_.join();
    captureWake_.Reset();
}

int CaptureEngine::StopCapture() {
    JoinCaptureThread();
    JoinRecordingThread();
    if (captureMode_.exchange(kCaptureIdle) != kCaptureIdle && camera_.HasDevice()) {
        CameraDevice& device = camera_.Device();
        device.SetMode(0);
        if (!Succeeded(device.StopAcquisition())) {
            camera_.reportError(kErrDevice);
            return 0;
        }
    }
    return 1;
}

int CaptureEngine::Close() {
    runState_ = 0;
    if (camera_.HasDevice()) {
        camera_.Device().SetMode(0);
        camera_.Device().SetMode(0);
    }
    StopCapture();
    // Only now that the capture thread has ended: it never draws into a window that is gone.
    preview_.Destroy();
    return 1;
}

}  // namespace zelvik
