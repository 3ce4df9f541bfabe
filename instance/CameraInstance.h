// One opened camera: its device, buffers, capture geometry, settings blocks and error stack.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "include/ZelvikSdk.h"
#include "instance/Errors.h"
#include "instance/SharedSetting.h"
#include "imaging/CpuInfo.h"
#include "imaging/Kernels.h"
#include "platform/Event.h"

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

    // The stored size whose effective size is width x height becomes the capture window.
    int SetCaptureWindow(int width, int height);
    int SetCaptureWindowEx(int TH, int EHS, int EH, int TV, int EVS, int EV);
    bool IsCaptureWindowValid() const;

    // --- state (a plain record shared with the capture, settings and dialog code) ---
    CpuInfo cpu{};
    std::unique_ptr<CameraDevice> device;
    std::unique_ptr<FrameBuffer> raw8, raw16, rgb24, rgb32, rgb48, rgb64, work, display;
    CaptureWindow captureWindow;
    std::array<SharedSetting, kImageSlotCount> imageSettings{};
    std::array<SharedSetting, kAnalogSlotCount> analogSettings{};
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
    SharedSetting waitTime = 10;
    int32_t clock = 0;
    std::atomic<int32_t> imageReady{0};
    std::atomic<int32_t> frameRate{0};
    int32_t frameCount = 0;
    uint32_t rateWindowStart = 0;
    int32_t deviceTimeout = 8000;
    // Set once Initialize has loaded the filter and analog settings; teardown saves them only then.
    bool settingsLoaded = false;

    // --- capture engine (capture/): its threads, the hand-over between them and their counters ---
    // The streaming loop and the recording loop. StopCapture ends and joins them, capture thread first.
    std::thread captureThread;
    // Set to end the capture loop's wait between passes at once (a stop); reset once the thread is joined.
    ManualResetEvent captureWake;
    std::thread recordThread;
    // Held while the frame path writes the output image (from the raw copy to the last filter) and while
    // GetImage, the recorder and SaveImage copy it, so that no reader sees a half-written image.
    std::mutex outputMutex;
    // Held while the capture thread delivers a frame and while the application changes where frames go
    // (callbackWindow, appBuffer, appBufferSize, keepRowOrder): after such a change returns, the previous
    // application buffer is no longer touched.
    std::mutex deliveryMutex;
    // The colour mode the buffers were built for by the last capture setup (-1: none yet). The capture
    // thread, GetImage, the recorder and SaveImage follow it; a colour mode set later waits for the next setup.
    std::atomic<int32_t> setupColorMode{-1};
    // Kernel forms chosen from cpu at capture setup, and the filters' cached tables (used by the one
    // thread that runs the frame path).
    ImagingKernels kernels{};
    std::unique_ptr<FilterContext> filterContext;
    struct CaptureCounters {
        std::atomic<uint64_t> delivered{0};  // frames announced with MSG_CAMERA_FRAME
        std::atomic<uint64_t> failed{0};     // frames lost to a failed read or a failed copy-out
        std::atomic<uint64_t> dropped{0};    // frames discarded because the sensor window changed under them
    } captureCounters;
    // Ends the capture and recording threads (runState and recording cleared, both joined).
    void JoinCaptureThreads();

private:
    // The whole sensor at (0, 0): the fallback for a stored window that does not fit.
    void ResetCaptureWindow();

    std::mutex errorMutex_;  // reportError runs on the application's and the capture thread
    std::array<int32_t, 20> errors_{};
};

}  // namespace zelvik
