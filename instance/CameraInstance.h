// One opened camera: its device, buffers, capture geometry, settings blocks and error stack.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "include/ZelvikSdk.h"
#include "instance/Errors.h"
#include "imaging/CpuInfo.h"

namespace zelvik {

class CameraDevice;
class FrameBuffer;

// The sensor area a capture uses: EH x EV is the picture size before subsampling.
struct CaptureWindow {
    int32_t TH = 2592, TV = 1944, EH = 2592, EV = 1944, EHS = 0, EVS = 0, Buf = 10;
};

// Slots of imageSettings (the image and gray filter settings and the white-balance switches).
enum ImageSlot : int {
    kBrightness = 0, kContrast = 1, kHue = 2, kSaturation = 3, kSharpness = 4,
    kBayerGainRed = 5, kBayerGainGreen = 6, kBayerGainBlue = 7, kGamma = 8, kBayerMode = 9,
    kGrayMode = 11, kGrayGainR = 12, kGrayGainG1 = 13, kGrayGainG2 = 14, kGrayGainB = 15,
    kGrayOffsetR = 16, kGrayOffsetG1 = 17, kGrayOffsetG2 = 18, kGrayOffsetB = 19,
    kAutoBayerGain = 25, kOneShot1 = 26, kOneShot2 = 27, kGrayAutoCountdown = 29,
    kImageSlotCount = 30
};

// Slots of analogSettings, in the order the settings store keeps them.
enum AnalogSlot : int {
    kGlobalGain = 0, kGainG1 = 1, kGainR = 2, kGainB = 3, kGainG2 = 4, kExposure = 5,
    kMirrorV = 6, kMirrorH = 7, kAutoIris = 8, kAnalogSlotCount = 9
};

enum CaptureMode : int { kCaptureIdle = 0, kCaptureStreaming = 1, kCaptureSingleShot = 2 };

// Each handle of the C API owns exactly one instance. Operations return 1 for success, 0 for failure,
// and report the reason with reportError.
class CameraInstance {
public:
    CameraInstance();
    virtual ~CameraInstance();
    CameraInstance(const CameraInstance&) = delete;
    CameraInstance& operator=(const CameraInstance&) = delete;

    // Initialisation with the production device factory.
    int Initialize(ZELVIK_HWND notifyWindow);
    // The same with a device supplied by the caller (tests, the in-process emulator); null takes the
    // missing-device path.
    int InitializeWith(ZELVIK_HWND notifyWindow, std::unique_ptr<CameraDevice> device);

    // Error stack of the last twenty codes, newest first.
    void reportError(int code);
    // Posts MSG_CAMERA_ERROR without pushing the code (the I/O-port calls do this).
    void postError(int code);
    int GetLastError();

    int SetColorMode(int bits);
    int GetColorMode() const;
    int SetMirrorV(int flag);
    int SetMirrorH(int flag);
    int GetMirrorV();
    int GetMirrorH();
    int SetSubSample(int n);
    int SetWaitTime(int ms);
    int SetAutoIris(int mode);
    int GetAutoIris(int* ok);
    int SetDeviceNumber(int n);
    int EnumDevice(char* names);
    int EnumDeviceW(wchar_t* names);
    int GetDeviceName(int index, char* name, int size);
    int GetDeviceNameW(int index, wchar_t* name, int size);
    int GetCameraInfo(ZelvikCameraInfo* info);
    int WriteRegister(int reg, int value);
    int ReadRegister(int reg, int* ok);
    int ReadSromID(int address, int* ok);
    int WriteSromID(int address, int value);
    int SetIOPort(int value);
    int GetIOPort(unsigned char* out);
    int GetRealExposureTime(int* ok);
    // Runs the exposure calculation: sets lineLength and clockPeriod, returns realExposure.
    int CalculateExposure();
    int Close();
    // Stops the capture and recording threads and the device's acquisition.
    int StopCapture();

    bool IsCaptureWindowValid() const;

    // --- state (a plain record shared with the capture, settings and dialog code) ---
    CpuInfo cpu{};
    std::unique_ptr<CameraDevice> device;
    std::unique_ptr<FrameBuffer> raw8, raw16, rgb24, rgb32, rgb48, rgb64, work, display;
    CaptureWindow captureWindow;
    std::array<int32_t, kImageSlotCount> imageSettings{};
    std::array<int32_t, kAnalogSlotCount> analogSettings{};
    uint16_t lineLength = 0;
    double clockPeriod = 1.0;
    int32_t realExposure = 0;
    std::atomic<int32_t> recording{0};
    std::atomic<int32_t> frameForRecorder{0};
    std::atomic<int32_t> runState{0};
    ZELVIK_HWND previewParent = 0;
    struct { int x = 0, y = 0, width = 2592, height = 1944; } previewRect;
    ZELVIK_HWND notifyWindow = 0;
    ZELVIK_HWND callbackWindow = 0;
    void* appBuffer = nullptr;
    int32_t appBufferSize = 0;
    int32_t keepRowOrder = 0;
    ZelvikFrameInfo frameInfo{};
    std::atomic<int32_t> captureMode{kCaptureIdle};
    int32_t colorMode = 0;
    int32_t subsample = 0;
    int32_t waitTime = 10;
    int32_t clock = 0;
    std::atomic<int32_t> imageReady{0};
    std::atomic<int32_t> frameRate{0};
    int32_t frameCount = 0;
    uint32_t rateWindowStart = 0;
    int32_t deviceTimeout = 8000;

private:
    std::mutex errorMutex_;  // reportError runs on the application's and the capture thread
    std::array<int32_t, 20> errors_{};
};

}  // namespace zelvik
