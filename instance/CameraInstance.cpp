// The camera instance: initialisation, teardown, the error stack, the device guard and the small properties.
#include "instance/CameraInstance.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>

#include "device/CameraDevice.h"
#include "device/CameraIdentity.h"
#include "device/Sensor.h"
#include "platform/Messages.h"
#include "settings/Persistence.h"

namespace zelvik {
namespace {

constexpr int kEnumEntries = 10;
constexpr int kEnumEntryChars = 256;

// The Bayer phase after a vertical flip swaps the row phase (bit 0), after a horizontal flip the
// column phase (bit 1); values outside 0..3 are left alone.
int FlipBayerRows(int mode) { return (mode >= 0 && mode <= 3) ? mode ^ 1 : mode; }
int FlipBayerColumns(int mode) { return (mode >= 0 && mode <= 3) ? mode ^ 2 : mode; }

template <typename Char>
void FormatDeviceName(Char* out, int size, int number) {
    char narrow[32];
    std::snprintf(narrow, sizeof narrow, "%s_%02d", identity::kDeviceNameModel, number);
    int i = 0;
    for (; narrow[i] != '\0' && i < size - 1; ++i) out[i] = static_cast<Char>(narrow[i]);
    out[i] = 0;
}

template <typename Char>
int EnumDeviceImpl(CameraInstance& self, Char* names) {
    if (!names) {
        self.reportError(kErrArgument);
        return 0;
    }
    CameraDevice& device = self.Device();
    device.RefreshCount();
    int found = 0;
    const int count = device.GetDeviceCount();
    // Only ten entries exist: cameras past the tenth are not listed.
    for (int j = 0; j < count && found < kEnumEntries; ++j) {
        if (device.IsValidDevice(j)) {
            ++found;
            FormatDeviceName(names + (found - 1) * kEnumEntryChars, kEnumEntryChars, found);
        }
    }
    for (int i = found; i < kEnumEntries; ++i) names[i * kEnumEntryChars] = 0;
    return found;
}

template <typename Char>
int GetDeviceNameImpl(CameraInstance& self, int index, Char* name, int size) {
    CameraDevice& device = self.Device();
    device.RefreshCount();
    if (!name || size < 15 || index < 0 || index >= device.GetDeviceCount()) {
        self.reportError(kErrArgument);
        return 0;
    }
    if (!device.IsValidDevice(index)) {
        self.reportError(kErrNoCamera);
        return 0;
    }
    FormatDeviceName(name, size, index + 1);
    return 1;
}

}  // namespace

CameraInstance::CameraInstance() = default;

CameraInstance::~CameraInstance() {
    // Only settings that were loaded are saved: an instance whose initialisation failed holds zeros
    // that would overwrite the user's stored gamma and gains.
    if (settingsLoaded_) {
        if (analogOwned_) SaveAnalog(settings_, analogCamera_);
        SaveImageFilter(settings_);
        SaveGrayFilter(settings_);
    }
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
    device_ = std::move(newDevice);
    notifyWindow_ = notify;
    if (!device_) {
        reportError(kErrMemory);
        return 0;
    }
    const ErrorReport report = [this](int code) { reportError(code); };

    LoadVideoFormat(settings_, report);
    if (!IsCaptureWindowValid()) {
        reportError(kErrCaptureWindow);
        ResetCaptureWindow();
    }
    // The stored subsample is read with the stream settings below; it reaches the sensor at the next
    // capture setup.
    ApplyCaptureWindow();

    LoadImageFilter(settings_);
    LoadGrayFilter(settings_);
    // A camera another handle drives was not opened: the writes above and below reach no sensor, and
    // its stored values are that handle's to save.
    analogCamera_ = AnalogKeyOfOpenCamera(device_->GetDeviceIndex());
    LoadAnalog(settings_, analogCamera_);
    analogOwned_ = !device_->CameraInUse();
    settingsLoaded_ = true;
    ApplyAnalogSettings();

    LoadStreamSettings(settings_, report);
    return 1;
}

void CameraInstance::ApplyAnalogSettings() {
    using sensor::GainSite;
    const AnalogSettings& analog = settings_.analogSettings;
    CameraDevice& device = *device_;
    device.SetGlobalGain(analog[kGlobalGain]);
    device.SetColorGain(GainSite::Green1, analog[kGainG1]);
    device.SetColorGain(GainSite::Red, analog[kGainR]);
    device.SetColorGain(GainSite::Blue, analog[kGainB]);
    device.SetColorGain(GainSite::Green2, analog[kGainG2]);
    device.SetExposure(analog[kExposure]);
    device.SetMirrorV(analog[kMirrorV]);
    device.SetMirrorH(analog[kMirrorH]);
}

bool CameraInstance::RequireDevice(int* ok, Notice notice) {
    if (device_) return true;
    if (ok) *ok = 0;
    if (notice == Notice::Report) reportError(kErrNotAllowed);
    else postError(kErrNotAllowed);
    return false;
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
    PostToTarget(notifyWindow_, MSG_CAMERA_ERROR, 0, code);
}

int CameraInstance::GetLastError() {
    std::lock_guard lock(errorMutex_);
    const int newest = errors_[0];
    for (size_t i = 0; i + 1 < errors_.size(); ++i) errors_[i] = errors_[i + 1];
    errors_.back() = 0;
    return newest;
}

int CameraInstance::SetColorMode(int bits) {
    if (const ColorModeInfo* mode = ColorModeOfBits(bits)) {
        settings_.colorMode = mode->code;
        return 1;
    }
    reportError(kErrArgument);
    return 0;
}

int CameraInstance::GetColorMode() const {
    const ColorModeInfo* mode = FindColorMode(settings_.colorMode);
    return mode ? mode->reportedDepth : -1;
}

int CameraInstance::SetMirrorV(int flag) {
    auto& analog = settings_.analogSettings;
    auto& image = settings_.imageSettings;
    analog[kMirrorV] = flag != 0;
    image[kBayerMode] = FlipBayerRows(image[kBayerMode]);
    return Succeeded(device_->SetMirrorV(analog[kMirrorV])) ? 1 : 0;
}

int CameraInstance::SetMirrorH(int flag) {
    auto& image = settings_.imageSettings;
    settings_.analogSettings[kMirrorH] = flag != 0;
    image[kBayerMode] = FlipBayerColumns(image[kBayerMode]);
    return 1;
}

int CameraInstance::GetMirrorV() { return settings_.analogSettings[kMirrorV]; }

int CameraInstance::GetMirrorH() { return settings_.analogSettings[kMirrorH]; }

int CameraInstance::SetSubSample(int n) {
    if (!IsSubsampleSetting(n)) return 0;
    settings_.subsample = n;
    return 1;
}

int CameraInstance::SetWaitTime(int ms) {
    if (ms < 0) return 0;
    settings_.waitTime = ms;
    return 1;
}

int CameraInstance::SetAutoIris(int mode) {
    if (mode < 0 || mode > 2) {
        reportError(kErrArgument);
        return 0;
    }
    settings_.analogSettings[kAutoIris] = mode;
    return 1;
}

int CameraInstance::GetAutoIris(int* ok) {
    if (ok) *ok = 1;
    return settings_.analogSettings[kAutoIris];
}

int CameraInstance::SetDeviceNumber(int n) {
    device_->RefreshCount();  // a camera plugged in after the handle was made counts too
    if (!device_->IsValidDevice(n) || !device_->SelectDevice(n)) {
        reportError(kErrNoCamera);
        return 0;
    }
    TakeCameraSettings(n);
    return 1;
}

int CameraInstance::SetDeviceSerial(const char* serial) {
    const int index = serial != nullptr ? device_->IndexOfSerial(serial) : -1;
    if (index < 0 || !device_->SelectDevice(index)) {
        reportError(kErrNoCamera);
        return 0;
    }
    TakeCameraSettings(index);
    return 1;
}

int CameraInstance::AnalogKeyOfOpenCamera(int index) {
    if (!device_->IsOpen()) return index;
    return AnalogKeyOf(SerialOfIdentity(device_->OpenIdentity()), index);
}

void CameraInstance::TakeCameraSettings(int index) {
    // Each camera has its own analog key: the values in use go back under the camera they belong to,
    // and the newly selected camera starts with what is stored for it.
    const int key = AnalogKeyOfOpenCamera(index);
    if (key != analogCamera_) {
        if (analogOwned_) SaveAnalog(settings_, analogCamera_);
        LoadAnalog(settings_, key);
        analogCamera_ = key;
    }
    analogOwned_ = true;
    // The selected camera, just opened (a replugged one powered up afresh), works as the settings say.
    ApplyCaptureWindow();
    ApplyAnalogSettings();
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
    if (!info) {
        reportError(kErrArgument);
        return 0;
    }
    if (info->size < sizeof(ZelvikCameraInfo)) {
        reportError(kErrMemory);
        return 0;
    }
    info->maxWidth = sensor::kWidth;
    info->maxHeight = sensor::kHeight;
    info->globalGainMin = sensor::kGainMin;
    info->globalGainMax = sensor::kGainMax;
    info->colorGainMin = sensor::kGainMin;
    info->colorGainMax = sensor::kGainMax;
    info->exposureMin = sensor::kExposureMin;
    info->exposureMax = sensor::kExposureMax;
    return 1;
}

int CameraInstance::WriteRegister(int reg, int value) {
    if (Succeeded(device_->WriteRegister(reg, value))) return 1;
    reportError(kErrDevice);
    return 0;
}

int CameraInstance::ReadRegister(int reg, int* ok) {
    uint16_t value = 0;
    if (Succeeded(device_->ReadRegister(reg, &value))) {
        if (ok) *ok = 1;
        return value;
    }
    if (ok) *ok = 0;
    reportError(kErrDevice);
    return 0;
}

int CameraInstance::ReadSromID(int address, int* ok) {
    unsigned char value = 0;
    if (Succeeded(device_->ReadSromId(address, &value))) {
        if (ok) *ok = 1;
        return value;
    }
    if (ok) *ok = 0;
    reportError(kErrNotAllowed);
    return 0;
}

int CameraInstance::WriteSromID(int address, int value) {
    if (Succeeded(device_->WriteSromId(address, value))) return 1;
    reportError(kErrNotAllowed);
    return 0;
}

int CameraInstance::SetIOPort(int value) { return Succeeded(device_->SetIOPort(value & 0x0C)) ? 1 : 0; }

int CameraInstance::GetIOPort(unsigned char* out) {
    if (!out) {
        postError(kErrArgument);
        return 0;
    }
    unsigned char cell = 0;  // this camera model leaves the cell unwritten
    device_->GetIOPort(&cell);
    *out = cell;
    return 1;
}

int CameraInstance::CalculateExposure() {
    const CaptureWindow& window = settings_.captureWindow;
    clockPeriod_ = 1.0 / sensor::kPixelClockMHz;
    // A refused window is kept, so EH may be any int: the line is formed in 64 bits and kept as 16, and a
    // product beyond the int range (a stored exposure near INT_MAX) saturates instead of wrapping.
    lineLength_ = sensor::LineClocks(window.EH, settings_.subsample);
    const double exposure = std::trunc(static_cast<double>(lineLength_) * settings_.analogSettings[kExposure] /
                                       sensor::kPixelClockMHz);
    realExposure_ = static_cast<int32_t>(std::clamp(exposure, double{INT32_MIN}, double{INT32_MAX}));
    return realExposure_;
}

int CameraInstance::GetRealExposureTime(int* ok) {
    CalculateExposure();
    if (ok) *ok = 1;
    return realExposure_;
}

void CameraInstance::ResetCaptureWindow() {
    CaptureWindow& window = settings_.captureWindow;
    window.TH = window.EH = sensor::kWidth;
    window.TV = window.EV = sensor::kHeight;
    window.EHS = window.EVS = 0;
}

void CameraInstance::ApplyCaptureWindow() {
    const CaptureWindow& w = settings_.captureWindow;
    device_->SetFormat(w.EHS, w.EVS, w.EH, w.EV, settings_.subsample);
}

int CameraInstance::SetCaptureWindow(int width, int height) {
    CaptureWindow stored;
    if (const int error = FindStoredSize(width, height, stored)) {
        reportError(error);
        return 0;
    }
    settings_.captureWindow = stored;
    if (!IsCaptureWindowValid()) {
        reportError(kErrCaptureWindow);
        ResetCaptureWindow();
    }
    ApplyCaptureWindow();
    return 1;
}

int CameraInstance::SetCaptureWindowEx(int TH, int EHS, int EH, int TV, int EVS, int EV) {
    CaptureWindow& w = settings_.captureWindow;
    w.TH = TH, w.EHS = EHS, w.EH = EH, w.TV = TV, w.EVS = EVS, w.EV = EV;
    // An invalid window is kept: the next capture setup fails with error 7 until a valid one is set.
    if (!IsCaptureWindowValid()) {
        reportError(kErrCaptureWindow);
        return 0;
    }
    ApplyCaptureWindow();
    return 1;
}

bool CameraInstance::IsCaptureWindowValid() const {
    using sensor::kHeight, sensor::kWidth;
    const CaptureWindow& w = settings_.captureWindow;
    const int subsample = settings_.subsample;
    return w.EH >= 0 && w.EV >= 0 && w.EHS >= 0 && w.EVS >= 0 && w.EH <= kWidth && w.EV <= kHeight &&
           w.EHS <= kWidth && w.EVS <= kHeight && w.EH + w.EHS <= kWidth && w.EV + w.EVS <= kHeight &&
           IsSubsampleSetting(subsample);
}

}  // namespace zelvik
