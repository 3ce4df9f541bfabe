// The camera instance: construction, initialisation, teardown, the error stack and the small properties.
#include "instance/CameraInstance.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>

#include "device/CameraDevice.h"
#include "imaging/FrameBuffer.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "settings/Persistence.h"

namespace zelvik {
namespace {

constexpr char kModelName[] = "ZelvikQ77RX";
constexpr int kEnumEntries = 10;
constexpr int kEnumEntryChars = 256;
constexpr int kSensorWidth = 2592;
constexpr int kSensorHeight = 1944;

// The Bayer phase after a vertical flip swaps the row phase (bit 0), after a horizontal flip the
// column phase (bit 1); values outside 0..3 are left alone.
int FlipBayerRows(int mode) { return (mode >= 0 && mode <= 3) ? mode ^ 1 : mode; }
int FlipBayerColumns(int mode) { return (mode >= 0 && mode <= 3) ? mode ^ 2 : mode; }

template <typename Char>
void FormatDeviceName(Char* out, int size, int number) {
    char narrow[32];
    std::snprintf(narrow, sizeof narrow, "%s_%02d", kModelName, number);
    int i = 0;
    for (; narrow[i] != '\0' && i < size - 1; ++i) out[i] = static_cast<Char>(narrow[i]);
    out[i] = 0;
}

template <typename Char>
int EnumDeviceImpl(CameraInstance& self, Char* names) {
    if (!self.device) {
        self.reportError(kErrNotAllowed);
        return 0;
    }
    if (!names) {
        self.reportError(kErrArgument);
        return 0;
    }
    int found = 0;
    const int count = self.device->GetDeviceCount();
    // Only ten entries exist: cameras past the tenth are not listed.
    for (int j = 0; j < count && found < kEnumEntries; ++j) {
        if (self.device->IsValidDevice(j)) {
            ++found;
            FormatDeviceName(names + (found - 1) * kEnumEntryChars, kEnumEntryChars, found);
        }
    }
    for (int i = found; i < kEnumEntries; ++i) names[i * kEnumEntryChars] = 0;
    return found;
}

template <typename Char>
int GetDeviceNameImpl(CameraInstance& self, int index, Char* name, int size) {
    if (!self.device) {
        self.reportError(kErrNotAllowed);
        return 0;
    }
    if (!name || size < 15 || index < 0 || index >= self.device->GetDeviceCount()) {
        self.reportError(kErrArgument);
        return 0;
    }
    if (!self.device->IsValidDevice(index)) {
        self.reportError(kErrNoCamera);
        return 0;
    }
    FormatDeviceName(name, size, index + 1);
    return 1;
}

}  // namespace

CameraInstance::CameraInstance() : rateWindowStart(MillisecondClock()) {
    frameInfo.size = sizeof(ZelvikFrameInfo);
}

CameraInstance::~CameraInstance() {
    // The capture thread rewrites gains and exposure (automatic exposure): it ends before they are saved.
    JoinCaptureThreads();
    // Only settings that were loaded are saved: an instance whose initialisation failed holds zeros
    // that would overwrite the user's stored gamma and gains.
    if (settingsLoaded) {
        SaveAnalog(*this, device->GetDeviceIndex());
        SaveImageFilter(*this);
        SaveGrayFilter(*this);
    }
    Close();
    device.reset();
    for (auto* buffer : {&raw8, &raw16, &rgb24, &rgb32, &rgb48, &rgb64, &work, &display}) buffer->reset();
}

int CameraInstance::Initialize(ZELVIK_HWND notify) {
    std::unique_ptr<CameraDevice> created;
    try {
        created = CreateCameraDevice();
    } catch (const std::bad_alloc&) {
        created.reset();
    }
    return InitializeWith(notify, std::move(created));
}

int CameraInstance::InitializeWith(ZELVIK_HWND notify, std::unique_ptr<CameraDevice> newDevice) {
    DetectProcessor(&cpu);
    device = std::move(newDevice);
    for (auto* buffer : {&raw8, &raw16, &rgb24, &rgb32, &rgb48, &rgb64, &work, &display})
        buffer->reset(new (std::nothrow) FrameBuffer());
    notifyWindow = notify;
    if (!device || !raw8 || !raw16 || !rgb24 || !rgb32 || !rgb48 || !rgb64 || !work || !display) {
        reportError(kErrMemory);
        return 0;
    }

    LoadVideoFormat(*this);
    if (!IsCaptureWindowValid()) {
        reportError(kErrCaptureWindow);
        ResetCaptureWindow();
    }
    // The stored subsample is read with the stream settings below; it reaches the sensor at the next
    // capture setup.
    device->SetFormat(captureWindow.EHS, captureWindow.EVS, captureWindow.EH, captureWindow.EV, subsample);
    previewRect = {0, 0, captureWindow.EH, captureWindow.EV};

    LoadImageFilter(*this);
    LoadGrayFilter(*this);
    LoadAnalog(*this, device->GetDeviceIndex());
    settingsLoaded = true;
    device->SetGlobalGain(analogSettings[kGlobalGain]);
    device->SetColorGain(0x2B, analogSettings[kGainG1]);
    device->SetColorGain(0x2D, analogSettings[kGainR]);
    device->SetColorGain(0x2C, analogSettings[kGainB]);
    device->SetColorGain(0x2E, analogSettings[kGainG2]);
    device->SetExposure(analogSettings[kExposure]);
    device->SetMirrorV(analogSettings[kMirrorV]);
    device->SetMirrorH(analogSettings[kMirrorH]);

    LoadStreamSettings(*this);
    return 1;
}

void CameraInstance::reportError(int code) {
    {
        std::lock_guard lock(errorMutex_);
        for (size_t i = errors_.size() - 1; i > 0; --i) errors_[i] = errors_[i - 1];
        errors_[0] = code;
    }
    postError(code);
}

void CameraInstance::postError(int code) {
    PostToTarget(notifyWindow, MSG_CAMERA_ERROR, 0, code);
}

int CameraInstance::GetLastError() {
    std::lock_guard lock(errorMutex_);
    const int newest = errors_[0];
    for (size_t i = 0; i + 1 < errors_.size(); ++i) errors_[i] = errors_[i + 1];
    errors_.back() = 0;
    return newest;
}

int CameraInstance::SetColorMode(int bits) {
    static constexpr int kBits[] = {8, 16, 24, 32, 48, 64};
    for (int code = 0; code < 6; ++code) {
        if (kBits[code] == bits) {
            colorMode = code;
            return 1;
        }
    }
    reportError(kErrArgument);
    return 0;
}

int CameraInstance::GetColorMode() const {
    static constexpr int kReported[] = {8, 10, 24, 32, 42, 58};
    return (colorMode >= 0 && colorMode <= 5) ? kReported[colorMode] : -1;
}

int CameraInstance::SetMirrorV(int flag) {
    if (!device) {
        reportError(kErrNotAllowed);
        return 0;
    }
    analogSettings[kMirrorV] = flag != 0;
    imageSettings[kBayerMode] = FlipBayerRows(imageSettings[kBayerMode]);
    return device->SetMirrorV(analogSettings[kMirrorV]) == 0 ? 1 : 0;
}

int CameraInstance::SetMirrorH(int flag) {
    if (!device) {
        reportError(kErrNotAllowed);
        return 0;
    }
    analogSettings[kMirrorH] = flag != 0;
    imageSettings[kBayerMode] = FlipBayerColumns(imageSettings[kBayerMode]);
    return 1;
}

int CameraInstance::GetMirrorV() {
    if (!device) {
        reportError(kErrNotAllowed);
        return 0;
    }
    return analogSettings[kMirrorV];
}

int CameraInstance::GetMirrorH() {
    if (!device) {
        reportError(kErrNotAllowed);
        return 0;
    }
    return analogSettings[kMirrorH];
}

int CameraInstance::SetSubSample(int n) {
    if (n < 0 || n >= 3) return 0;
    subsample = n;
    return 1;
}

int CameraInstance::SetWaitTime(int ms) {
    if (ms < 0) return 0;
    waitTime = ms;
    return 1;
}

int CameraInstance::SetAutoIris(int mode) {
    if (mode < 0 || mode > 2) {
        reportError(kErrArgument);
        return 0;
    }
    analogSettings[kAutoIris] = mode;
    return 1;
}

int CameraInstance::GetAutoIris(int* ok) {
    if (ok) *ok = 1;
    return analogSettings[kAutoIris];
}

int CameraInstance::SetDeviceNumber(int n) {
    if (!device) {
        reportError(kErrNotAllowed);
        return 0;
    }
    if (device->IsValidDevice(n) && device->SelectDevice(n) == 0) return 1;
    reportError(kErrNoCamera);
    return 0;
}

int CameraInstance::EnumDevice(char* names) { return EnumDeviceImpl(*this, names); }
int CameraInstance::EnumDeviceW(wchar_t* names) { return EnumDeviceImpl(*this, names); }

int CameraInstance::GetDeviceName(int index, char* name, int size) {
    return GetDeviceNameImpl(*this, index, name, size);
}

int CameraInstance::GetDeviceNameW(int index, wchar_t* name, int size) {
    return GetDeviceNameImpl(*this, index, name, size);
}

int CameraInstance::GetCameraInfo(ZelvikCameraInfo* info) {
    if (!device) {
        reportError(kErrNotAllowed);
        return 0;
    }
    if (!info) {
        reportError(kErrArgument);
        return 0;
    }
    if (info->size < sizeof(ZelvikCameraInfo)) {
        reportError(kErrMemory);
        return 0;
    }
    info->maxWidth = kSensorWidth;
    info->maxHeight = kSensorHeight;
    info->globalGainMin = 0;
    info->globalGainMax = 63;
    info->colorGainMin = 0;
    info->colorGainMax = 63;
    info->exposureMin = 1;
    info->exposureMax = 16383;
    return 1;
}

int CameraInstance::WriteRegister(int reg, int value) {
    if (!device) {
        reportError(kErrNotAllowed);
        return 0;
    }
    if (device->WriteRegister(reg, value)) return 1;
    reportError(kErrDevice);
    return 0;
}

int CameraInstance::ReadRegister(int reg, int* ok) {
    if (!device) {
        if (ok) *ok = 0;
        reportError(kErrNotAllowed);
        return 0;
    }
    uint16_t value = 0;
    if (device->ReadRegister(reg, &value)) {
        if (ok) *ok = 1;
        return value;
    }
    if (ok) *ok = 0;
    reportError(kErrDevice);
    return 0;
}

int CameraInstance::ReadSromID(int address, int* ok) {
    unsigned char value = 0;
    if (device && device->ReadSromId(address, &value)) {
        if (ok) *ok = 1;
        return value;
    }
    if (ok) *ok = 0;
    reportError(kErrNotAllowed);
    return 0;
}

int CameraInstance::WriteSromID(int address, int value) {
    if (device && device->WriteSromId(address, value)) return 1;
    reportError(kErrNotAllowed);
    return 0;
}

int CameraInstance::SetIOPort(int value) {
    if (!device) {
        postError(kErrNotAllowed);
        return 0;
    }
    return device->SetIOPort(value & 0x0C);
}

int CameraInstance::GetIOPort(unsigned char* out) {
    if (!device) {
        postError(kErrNotAllowed);
        return 0;
    }
    if (!out) {
        postError(kErrArgument);
        return 0;
    }
    unsigned char cell = 0;  // this camera model leaves the cell unwritten
    device->GetIOPort(&cell);
    *out = cell;
    return 1;
}

int CameraInstance::CalculateExposure() {
    clockPeriod = 1.0 / 96.0;
    // A refused window is kept, so EH may be any int: the sum is formed in 64 bits and kept as 16, and a
    // product beyond the int range (a stored exposure near INT_MAX) saturates instead of wrapping.
    const int64_t eh = captureWindow.EH;
    int64_t line = eh + 916;
    if (subsample == 1) line = eh / 2 + 916;
    if (subsample == 2) line = eh / 4 + 916;
    lineLength = static_cast<uint16_t>(line);
    const double exposure = std::trunc(static_cast<double>(lineLength) * analogSettings[kExposure] / 96.0);
    realExposure = static_cast<int32_t>(std::clamp(exposure, double{INT32_MIN}, double{INT32_MAX}));
    return realExposure;
}

int CameraInstance::GetRealExposureTime(int* ok) {
    CalculateExposure();
    if (ok) *ok = 1;
    return realExposure;
}

void CameraInstance::ResetCaptureWindow() {
    captureWindow.TH = captureWindow.EH = kSensorWidth;
    captureWindow.TV = captureWindow.EV = kSensorHeight;
    captureWindow.EHS = captureWindow.EVS = 0;
}

int CameraInstance::SetCaptureWindow(int width, int height) {
    if (!device) {
        reportError(kErrNotAllowed);
        return 0;
    }
    CaptureWindow stored;
    if (const int error = FindStoredSize(width, height, stored)) {
        reportError(error);
        return 0;
    }
    captureWindow = stored;
    if (!IsCaptureWindowValid()) {
        reportError(kErrCaptureWindow);
        ResetCaptureWindow();
    }
    device->SetFormat(captureWindow.EHS, captureWindow.EVS, captureWindow.EH, captureWindow.EV, subsample);
    return 1;
}

int CameraInstance::SetCaptureWindowEx(int TH, int EHS, int EH, int TV, int EVS, int EV) {
    if (!device) {
        reportError(kErrNotAllowed);
        return 0;
    }
    CaptureWindow& w = captureWindow;
    w.TH = TH, w.EHS = EHS, w.EH = EH, w.TV = TV, w.EVS = EVS, w.EV = EV;
    // An invalid window is kept: the next capture setup fails with error 7 until a valid one is set.
    if (!IsCaptureWindowValid()) {
        reportError(kErrCaptureWindow);
        return 0;
    }
    device->SetFormat(w.EHS, w.EVS, w.EH, w.EV, subsample);
    return 1;
}

bool CameraInstance::IsCaptureWindowValid() const {
    const CaptureWindow& w = captureWindow;
    return w.EH >= 0 && w.EV >= 0 && w.EHS >= 0 && w.EVS >= 0 && w.EH <= kSensorWidth &&
           w.EV <= kSensorHeight && w.EHS <= kSensorWidth && w.EVS <= kSensorHeight &&
           w.EH + w.EHS <= kSensorWidth && w.EV + w.EVS <= kSensorHeight && subsample >= 0 &&
           subsample <= 2;
}

void CameraInstance::JoinCaptureThreads() {
    runState = 0;
    captureWake.Set();
    if (captureThread.joinable()) captureThread.join();
    captureWake.Reset();
    recording = 0;
    if (recordThread.joinable()) recordThread.join();
}

int CameraInstance::StopCapture() {
    JoinCaptureThreads();
    if (captureMode.exchange(kCaptureIdle) != kCaptureIdle && device) {
        device->SetMode(0);
        if (device->StopAcquisition() != 0) {
            reportError(kErrDevice);
            return 0;
        }
    }
    return 1;
}

int CameraInstance::Close() {
    runState = 0;
    if (device) {
        device->SetMode(0);
        device->SetMode(0);
    }
    StopCapture();
    return 1;
}

}  // namespace zelvik
