// The dialog exports over a handle: its camera instance and capture engine as a DialogCamera.
#include "dialogs/InstanceDialogs.h"

#include "capture/CaptureEngine.h"
#include "device/CameraDevice.h"
#include "device/Sensor.h"
#include "dialogs/DialogSession.h"
#include "instance/CameraInstance.h"
#include "settings/Persistence.h"

namespace zelvik {
namespace {

class HandleDialogCamera final : public DialogCamera {
public:
    HandleDialogCamera(CaptureEngine& engine, DialogKind kind)
        : engine_(engine), camera_(engine.Camera()), settings_(camera_.Settings()), kind_(kind) {}

    int AnalogSetting(int slot) override { return settings_.analogSettings.at(slot); }
    void SetAnalogSetting(int slot, int value) override { settings_.analogSettings.at(slot) = value; }
    int ImageSetting(int slot) override { return settings_.imageSettings.at(slot); }
    void SetImageSetting(int slot, int value) override { settings_.imageSettings.at(slot) = value; }

    // The dialogs ignore the sensor's answers: a silent sensor leaves the dialog's values set.
    void DeviceSetGlobalGain(int value) override {
        if (camera_.HasDevice()) camera_.Device().SetGlobalGain(value);
    }
    void DeviceSetColorGain(int reg, int value) override {
        if (!camera_.HasDevice()) return;
        for (int site = 0; site < 4; ++site)
            if (sensor::kColorGainRegisters[site] == reg)
                camera_.Device().SetColorGain(static_cast<sensor::GainSite>(site), value);
    }
    void DeviceSetExposure(int value) override {
        if (camera_.HasDevice()) camera_.Device().SetExposure(value);
    }
    void DeviceSetMirrorV(int flag) override {
        if (camera_.HasDevice()) camera_.Device().SetMirrorV(flag);
    }
    void DeviceSetMirrorH(int flag) override {
        if (camera_.HasDevice()) camera_.Device().SetMirrorH(flag);
    }

    int ColorMode() override { return settings_.colorMode; }
    // The line period follows the window and subsampling in use, so the read-out is calculated afresh
    // rather than taken from the last capture setup (before any, the line period would still be 0).
    ExposureTiming Exposure() override {
        camera_.CalculateExposure();
        return {camera_.LineLength(), camera_.ClockPeriod()};
    }

    int LoadSizeList(SizeListData& data) override { return zelvik::LoadSizeList(data); }
    int SaveSizeList(const SizeListData& data) override { return zelvik::SaveSizeList(data); }

    void DialogOpened(DialogView* view) override {
        DialogViewOpened(kind_, view);
        camera_.Dialogs().Open(Which(), view);
    }
    void DialogClosed() override {
        DialogViewClosed(kind_);
        camera_.Dialogs().Close(Which());
    }

    bool HasDevice() override { return camera_.HasDevice(); }
    void ReportError(int code) override { camera_.reportError(code); }
    int StopCapture() override {
        const int mode = engine_.Mode();
        if (mode == kCaptureStreaming || mode == kCaptureSingleShot) engine_.StopPreview();
        return mode;
    }
    void RestartCapture(int mode) override {
        if (mode == kCaptureStreaming) engine_.StartPreview();
        else if (mode == kCaptureSingleShot) engine_.Capture();
    }
    // The window reaches the device at the next capture setup, which checks it.
    void ReloadVideoFormat() override {
        const ErrorReport report = [this](int code) { camera_.reportError(code); };
        LoadVideoFormat(settings_, report);
        LoadStreamSettings(settings_, report);
    }
    void ApplyAnalogSettings() override {
        if (camera_.HasDevice()) camera_.ApplyAnalogSettings();
    }

private:
    OpenDialogs::Kind Which() const {
        switch (kind_) {
        case DialogKind::kCamera: return OpenDialogs::kCamera;
        case DialogKind::kAnalog: return OpenDialogs::kAnalog;
        case DialogKind::kImage: break;
        }
        return OpenDialogs::kImage;
    }

    CaptureEngine& engine_;
    CameraInstance& camera_;
    CameraSettings& settings_;
    DialogKind kind_;
};

}  // namespace

int SetCameraDlg(CaptureEngine& engine, ZELVIK_HWND parent) {
    HandleDialogCamera host(engine, DialogKind::kCamera);
    return RunCameraDialog(host, parent);
}

int SetAnalogDlg(CaptureEngine& engine, ZELVIK_HWND parent) {
    HandleDialogCamera host(engine, DialogKind::kAnalog);
    return RunAnalogDialog(host, parent);
}

int SetImageDlg(CaptureEngine& engine, ZELVIK_HWND parent) {
    HandleDialogCamera host(engine, DialogKind::kImage);
    return RunImageDialog(host, parent);
}

}  // namespace zelvik
