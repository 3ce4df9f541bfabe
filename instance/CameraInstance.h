// One opened camera as the API sees it: its device, its settings, its error stack and the small
// properties. The capture engine (capture/) builds on it; nothing here knows the engine.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "include/ZelvikSdk.h"
#include "instance/ColorModes.h"
#include "instance/Errors.h"
#include "instance/OpenDialogs.h"
#include "settings/CameraSettings.h"

namespace zelvik {

class CameraDevice;

// Each handle of the C API owns exactly one instance, used by one exported call at a time (the call
// frame holds the handle's lock). Operations return 1 for success, 0 for failure, and report the
// reason with reportError. Operations marked "needs the device" are reached only through the call
// frame's RequireDevice guard.
class CameraInstance {
public:
    CameraInstance();
    // Saves the analog, image and gray settings when Initialize loaded them. The capture engine of the
    // handle has ended its threads before (they write measured gains and exposure).
    ~CameraInstance();
    CameraInstance(const CameraInstance&) = delete;
    CameraInstance& operator=(const CameraInstance&) = delete;

    // Initialisation with the production device factory.
    int Initialize(ZELVIK_HWND notifyWindow);
    // The same with a device supplied by the caller (tests, the in-process emulator); null takes the
    // missing-device path.
    int InitializeWith(ZELVIK_HWND notifyWindow, std::unique_ptr<CameraDevice> device);

    // --- the device and the one "device present?" guard ---
    bool HasDevice() const { return device_ != nullptr; }
    // How a missing device is made known: pushed on the error stack and posted, or only posted (the
    // I/O-port calls).
    enum class Notice { Report, Post };
    // True when the instance has a device. Otherwise error 1 is reported (or only posted), *ok is cleared
    // and the operation must not run.
    bool RequireDevice(int* ok = nullptr, Notice notice = Notice::Report);
    // Only when HasDevice().
    CameraDevice& Device() { return *device_; }

    // --- error stack: the last twenty codes, newest first ---
    void reportError(int code);
    // Posts MSG_CAMERA_ERROR without pushing the code (the I/O-port calls do this).
    void postError(int code);
    int GetLastError();

    // --- settings ---
    // The handle's settings. The application's thread writes them between and during captures; the
    // capture thread reads them per frame and writes measured gains and exposure back (see
    // CameraSettings for which fields are atomic).
    CameraSettings& Settings() { return settings_; }
    const CameraSettings& Settings() const { return settings_; }
    // Pushes the analog settings (gains, exposure, mirrors) to the device.
    void ApplyAnalogSettings();
    // The settings dialogs open on this camera: the frame path tells them what it changed itself.
    OpenDialogs& Dialogs() { return dialogs_; }

    int SetColorMode(int bits);
    int GetColorMode() const;
    int SetMirrorV(int flag);   // needs the device
    int SetMirrorH(int flag);   // needs the device
    int GetMirrorV();           // needs the device
    int GetMirrorH();           // needs the device
    int SetSubSample(int n);
    int SetWaitTime(int ms);
    int SetAutoIris(int mode);
    int GetAutoIris(int* ok);
    int SetDeviceNumber(int n);                              // needs the device
    // Selects the attached camera whose identity has this serial (error 2 when none has, or when
    // another handle drives it).
    int SetDeviceSerial(const char* serial);                 // needs the device
    int EnumDevice(char* names);                             // needs the device
    int EnumDeviceW(wchar_t* names);                         // needs the device
    int GetDeviceName(int index, char* name, int size);      // needs the device
    int GetDeviceNameW(int index, wchar_t* name, int size);  // needs the device
    int GetCameraInfo(ZelvikCameraInfo* info);               // needs the device
    int WriteRegister(int reg, int value);                   // needs the device
    int ReadRegister(int reg, int* ok);                      // needs the device
    int ReadSromID(int address, int* ok);                    // needs the device
    int WriteSromID(int address, int value);                 // needs the device
    int SetIOPort(int value);                                // needs the device (posted notice)
    int GetIOPort(unsigned char* out);                       // needs the device (posted notice)
    int GetRealExposureTime(int* ok);
    // Runs the exposure calculation: sets the line length and clock period, returns the exposure in us.
    int CalculateExposure();
    uint16_t LineLength() const { return lineLength_; }
    double ClockPeriod() const { return clockPeriod_; }

    // The stored size whose effective size is width x height becomes the capture window.
    int SetCaptureWindow(int width, int height);             // needs the device
    int SetCaptureWindowEx(int TH, int EHS, int EH, int TV, int EVS, int EV);  // needs the device
    bool IsCaptureWindowValid() const;

private:
    // The whole sensor at (0, 0): the fallback for a stored window that does not fit.
    void ResetCaptureWindow();
    // Sends the capture window and subsample to the device.
    void ApplyCaptureWindow();
    // After a selection of camera index: its own stored analog settings, applied with the window.
    void TakeCameraSettings(int index);
    // The analog key of the camera just opened as number index (index itself when none is open).
    int AnalogKeyOfOpenCamera(int index);

    std::unique_ptr<CameraDevice> device_;
    CameraSettings settings_;
    ZELVIK_HWND notifyWindow_ = 0;
    // Set once Initialize has loaded the filter and analog settings; teardown saves them only then.
    bool settingsLoaded_ = false;
    // The camera whose analog key ("Gain_NN") the analog settings were loaded from, and whether they are
    // this handle's to save: not when another handle drove that camera and this one never opened it.
    int analogCamera_ = 0;
    bool analogOwned_ = true;
    uint16_t lineLength_ = 0;
    double clockPeriod_ = 1.0;
    int32_t realExposure_ = 0;

    OpenDialogs dialogs_;
    std::mutex errorMutex_;  // reportError runs on the application's and the capture thread
    std::array<int32_t, 20> errors_{};
};

}  // namespace zelvik
