// A camera for the dialogs made of plain settings arrays, a sensor that records its writes, and the real
// settings store (point it at a private ConfigHome).
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dialogs/DialogSession.h"
#include "tests/support/CaptureWindowPrint.h"
#include "settings/Persistence.h"

namespace zelvik::test {

class FakeDialogCamera : public DialogCamera {
public:
    FakeDialogCamera() {
        const int analogDefaults[kAnalogSlotCount] = {16, 16, 16, 16, 16, 1100, 0, 0, 0};
        for (int i = 0; i < kAnalogSlotCount; ++i) analog[i] = analogDefaults[i];
        for (int i = kBayerGainRed; i <= kGamma; ++i) image[i] = 100;
        image[kBayerMode] = 3;
        for (int i = kGrayGainR; i <= kGrayGainB; ++i) image[i] = 128;
    }

    // Settings: atomics, since the live-refresh tests change them from another thread.
    std::array<std::atomic<int>, kAnalogSlotCount> analog{};
    std::array<std::atomic<int>, kImageSlotCount> image{};
    int AnalogSetting(int slot) override { return analog.at(slot); }
    void SetAnalogSetting(int slot, int value) override { analog.at(slot) = value; }
    int ImageSetting(int slot) override { return image.at(slot); }
    void SetImageSetting(int slot, int value) override { image.at(slot) = value; }

    // The sensor: its last written values, and every write in order.
    struct Sensor {
        int global = -1, g1 = -1, r = -1, b = -1, g2 = -1, exposure = -1, mirrorV = -1, mirrorH = -1;
    } sensor;
    std::vector<std::string> writes;
    void DeviceSetGlobalGain(int v) override { Log("global", sensor.global = v); }
    void DeviceSetColorGain(int reg, int v) override {
        int* target = reg == 0x2B ? &sensor.g1 : reg == 0x2D ? &sensor.r : reg == 0x2C ? &sensor.b
                                                 : reg == 0x2E ? &sensor.g2 : nullptr;
        if (target) *target = v;
        Log("color" + std::to_string(reg), v);
    }
    void DeviceSetExposure(int v) override { Log("exposure", sensor.exposure = v); }
    void DeviceSetMirrorV(int v) override { Log("mirrorV", sensor.mirrorV = v); }
    void DeviceSetMirrorH(int v) override { Log("mirrorH", sensor.mirrorH = v); }

    int colorMode = 2;
    ExposureTiming timing{3508, 1.0 / 96.0};
    int ColorMode() override { return colorMode; }
    ExposureTiming Exposure() override { return timing; }

    int LoadSizeList(SizeListData& data) override { return zelvik::LoadSizeList(data); }
    int SaveSizeList(const SizeListData& data) override {
        ++saves;
        return zelvik::SaveSizeList(data);
    }
    int saves = 0;

    // The open dialog, as the capture thread would reach it.
    std::mutex viewMutex;
    DialogView* view = nullptr;
    std::atomic<int> opened{0};
    // Runs as the dialog is registered: stands for the frame path changing the settings after the pages
    // read them and before it could reach the dialog.
    std::function<void()> whileRegistering;
    void DialogOpened(DialogView* v) override {
        if (whileRegistering) whileRegistering();
        std::lock_guard lock(viewMutex);
        view = v;
        ++opened;
    }
    void DialogClosed() override {
        std::lock_guard lock(viewMutex);
        view = nullptr;
    }

    // The instance operations around a dialog, recorded in order.
    bool hasDevice = true;
    int captureMode = 1;
    std::vector<int> errors;
    std::vector<std::string> events;
    bool HasDevice() override { return hasDevice; }
    void ReportError(int code) override { errors.push_back(code); }
    int StopCapture() override {
        events.push_back("stop");
        const int mode = captureMode;
        captureMode = 0;
        return mode;
    }
    void RestartCapture(int mode) override {
        events.push_back("restart " + std::to_string(mode));
        captureMode = mode;
    }
    void ReloadVideoFormat() override { events.push_back("reload"); }
    // As the instance does it: the analog slots through the sensor writes above, in its order.
    void ApplyAnalogSettings() override {
        DeviceSetGlobalGain(analog[kGlobalGain]);
        DeviceSetColorGain(0x2B, analog[kGainG1]);
        DeviceSetColorGain(0x2D, analog[kGainR]);
        DeviceSetColorGain(0x2C, analog[kGainB]);
        DeviceSetColorGain(0x2E, analog[kGainG2]);
        DeviceSetExposure(analog[kExposure]);
        DeviceSetMirrorV(analog[kMirrorV]);
        DeviceSetMirrorH(analog[kMirrorH]);
    }

private:
    void Log(const std::string& what, int v) { writes.push_back(what + " " + std::to_string(v)); }
};

}  // namespace zelvik::test
