// The exported C functions: each looks its handle up and runs one operation of that handle's instance.
#include "api/Exports.h"

#include <cwchar>
#include <new>

#include "api/CallFrame.h"
#include "api/FilterValues.h"
#include "api/HandleRegistry.h"
#include "capture/CaptureEngine.h"
#include "dialogs/DialogSession.h"
#include "dialogs/InstanceDialogs.h"
#include "instance/CameraInstance.h"
#include "platform/Messages.h"

namespace zelvik {
namespace {

constexpr int kDllVersion = 0x012E0519;

}  // namespace

int InitializeHandle(const std::function<int(CameraInstance&)>& init) {
    return InitializeEntry([&init](HandleEntry& e) { return init(*e.instance); });
}

int InitializeEntry(const std::function<int(HandleEntry&)>& init) {
    std::shared_ptr<HandleEntry> entry;
    try {
        entry = std::make_shared<HandleEntry>();
    } catch (...) {
        return 0;
    }
    if (!entry->Create()) return 0;
    const int key = Registry().Insert(entry);
    std::lock_guard lock(entry->calls);
    try {
        init(*entry);  // its result reaches the application only through the error stack
    } catch (const std::bad_alloc&) {
        entry->instance->reportError(kErrMemory);
    } catch (...) {
    }
    return key;
}

}  // namespace zelvik

using zelvik::CameraInstance;
using zelvik::CaptureEngine;
using zelvik::WithDevice;
using zelvik::WithEngine;
using zelvik::WithInstance;

extern "C" {

// ---- Library and instances ----
ZELVIK_API int Zelvik_GetDllVersion(void) { return zelvik::kDllVersion; }

ZELVIK_API int Zelvik_Initialize(ZELVIK_HWND notifyWindow) {
    return zelvik::InitializeHandle([notifyWindow](CameraInstance& c) { return c.Initialize(notifyWindow); });
}

ZELVIK_API int Zelvik_Release(int handle) {
    std::shared_ptr<zelvik::HandleEntry> entry = zelvik::Registry().Find(handle);
    if (!entry) return 0;
    {
        std::lock_guard lock(entry->calls);
        entry->Release();
    }
    return zelvik::Registry().Remove(handle) ? 1 : 0;
}

ZELVIK_API int Zelvik_GetLastError(int handle) {
    return WithInstance(handle, 0, [](CameraInstance& c) { return c.GetLastError(); });
}

// ---- Capture ----
ZELVIK_API int Zelvik_Preview(int handle) {
    return WithEngine(handle, 0, [](CaptureEngine& e) { return e.Preview(); });
}
ZELVIK_API int Zelvik_CallBackPreview(int handle, ZELVIK_HWND window, void* buffer, int size, int keepRowOrder) {
    return WithEngine(handle, 0,
                      [=](CaptureEngine& e) { return e.CallBackPreview(window, buffer, size, keepRowOrder); });
}
ZELVIK_API int Zelvik_Record(int handle, const char* path, int durationMs, int showWindow) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return e.Record(path, durationMs, showWindow); });
}
ZELVIK_API int Zelvik_RecordW(int handle, const wchar_t* path, int durationMs, int showWindow) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return e.RecordW(path, durationMs, showWindow); });
}
ZELVIK_API int Zelvik_SnapShot(int handle, void* buffer, int size, int keepRowOrder) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return e.SnapShot(buffer, size, keepRowOrder); });
}
ZELVIK_API int Zelvik_Capture(int handle) {
    return WithEngine(handle, 0, [](CaptureEngine& e) { return e.Capture(); });
}
ZELVIK_API int Zelvik_StartPreview(int handle) {
    return WithEngine(handle, 0, [](CaptureEngine& e) { return e.StartPreview(); });
}
ZELVIK_API int Zelvik_StopPreview(int handle) {
    return WithEngine(handle, 0, [](CaptureEngine& e) { return e.StopPreview(); });
}
ZELVIK_API int Zelvik_Close(int handle) {
    return WithEngine(handle, 0, [](CaptureEngine& e) { return e.Close(); });
}
ZELVIK_API int Zelvik_GetImage(int handle, void* buffer, int size, int keepRowOrder) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return e.GetImage(buffer, size, keepRowOrder); });
}

// ---- Still images ----
ZELVIK_API int Zelvik_SaveImage(int handle, const char* fileName, int format) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return e.SaveImage(fileName, format); });
}
ZELVIK_API int Zelvik_SaveImageW(int handle, const wchar_t* fileName, int format) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return e.SaveImageW(fileName, format); });
}

// ---- Window and geometry ----
// Where the next preview window goes; needs the device like the other window operations.
ZELVIK_API int Zelvik_SetPreviewWindow(int handle, ZELVIK_HWND parent, int x, int y, int width, int height) {
    return zelvik::WithEntry(handle, 0, [=](zelvik::HandleEntry& e) {
        if (!e.instance->RequireDevice()) return 0;
        e.engine->SetPreviewWindow(parent, x, y, width, height);
        return 1;
    });
}

ZELVIK_API int Zelvik_SetCaptureWindow(int handle, int width, int height) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.SetCaptureWindow(width, height); });
}

ZELVIK_API int Zelvik_SetCaptureWindowEx(int handle, int TH, int EHS, int EH, int TV, int EVS, int EV) {
    return WithDevice(handle, 0,
                      [=](CameraInstance& c) { return c.SetCaptureWindowEx(TH, EHS, EH, TV, EVS, EV); });
}

ZELVIK_API int Zelvik_GetCaptureWindowEx(int handle, int* TH, int* EHS, int* EH, int* TV, int* EVS, int* EV) {
    return WithInstance(handle, 0, [=](CameraInstance& c) {
        const zelvik::CaptureWindow& w = c.Settings().captureWindow;
        if (TH) *TH = w.TH;
        if (EHS) *EHS = w.EHS;
        if (EH) *EH = w.EH;
        if (TV) *TV = w.TV;
        if (EVS) *EVS = w.EVS;
        if (EV) *EV = w.EV;
        return 1;
    });
}

ZELVIK_API int Zelvik_Width(int handle) {
    return WithInstance(handle, 0, [](CameraInstance& c) { return int{c.Settings().captureWindow.EH}; });
}
ZELVIK_API int Zelvik_Height(int handle) {
    return WithInstance(handle, 0, [](CameraInstance& c) { return int{c.Settings().captureWindow.EV}; });
}

// ---- Format and timing ----
ZELVIK_API int Zelvik_SetColorMode(int handle, int bits) {
    return WithInstance(handle, 0, [=](CameraInstance& c) { return c.SetColorMode(bits); });
}
ZELVIK_API int Zelvik_GetColorMode(int handle) {
    return WithInstance(handle, -1, [](CameraInstance& c) { return c.GetColorMode(); });
}
ZELVIK_API int Zelvik_SetSubSample(int handle, int n) {
    return WithInstance(handle, 0, [=](CameraInstance& c) { return c.SetSubSample(n); });
}
ZELVIK_API int Zelvik_GetSubSample(int handle) {
    return WithInstance(handle, -1, [](CameraInstance& c) { return int{c.Settings().subsample}; });
}
ZELVIK_API int Zelvik_SetWaitTime(int handle, int ms) {
    return WithInstance(handle, 0, [=](CameraInstance& c) { return c.SetWaitTime(ms); });
}
ZELVIK_API int Zelvik_GetWaitTime(int handle) {
    return WithInstance(handle, -1, [](CameraInstance& c) { return int{c.Settings().waitTime}; });
}
ZELVIK_API int Zelvik_GetRealExposureTime(int handle, int* ok) {
    return WithInstance(handle, 0, [=](CameraInstance& c) { return c.GetRealExposureTime(ok); });
}

// ---- Camera selection and information ----
ZELVIK_API int Zelvik_SetDeviceNumber(int handle, int number) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.SetDeviceNumber(number); });
}
ZELVIK_API int Zelvik_EnumDevice(int handle, char* names) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.EnumDevice(names); });
}
ZELVIK_API int Zelvik_EnumDeviceW(int handle, wchar_t* names) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.EnumDeviceW(names); });
}
ZELVIK_API int Zelvik_GetDeviceName(int handle, int index, char* name, int size) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.GetDeviceName(index, name, size); });
}
ZELVIK_API int Zelvik_GetDeviceNameW(int handle, int index, wchar_t* name, int size) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.GetDeviceNameW(index, name, size); });
}
ZELVIK_API int Zelvik_GetCameraInfo(int handle, ZelvikCameraInfo* info) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.GetCameraInfo(info); });
}
ZELVIK_API int Zelvik_GetStatus(int handle, int) {
    return WithInstance(handle, 0, [](CameraInstance&) { return 0; });
}

// ---- Settings dialogs ----
ZELVIK_API int Zelvik_SetCameraDlg(int handle, ZELVIK_HWND parent) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return zelvik::SetCameraDlg(e, parent); });
}
ZELVIK_API int Zelvik_SetImageDlg(int handle, ZELVIK_HWND parent) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return zelvik::SetImageDlg(e, parent); });
}
ZELVIK_API int Zelvik_SetAnalogDlg(int handle, ZELVIK_HWND parent) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return zelvik::SetAnalogDlg(e, parent); });
}

// ---- Mirror and automatic control ----
ZELVIK_API int Zelvik_SetMirrorV(int handle, int on) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.SetMirrorV(on); });
}
ZELVIK_API int Zelvik_GetMirrorV(int handle) {
    return WithDevice(handle, 0, [](CameraInstance& c) { return c.GetMirrorV(); });
}
ZELVIK_API int Zelvik_SetMirrorH(int handle, int on) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.SetMirrorH(on); });
}
ZELVIK_API int Zelvik_GetMirrorH(int handle) {
    return WithDevice(handle, 0, [](CameraInstance& c) { return c.GetMirrorH(); });
}
ZELVIK_API int Zelvik_SetAutoIris(int handle, int mode) {
    return WithInstance(handle, 0, [=](CameraInstance& c) { return c.SetAutoIris(mode); });
}
ZELVIK_API int Zelvik_GetAutoIris(int handle, int* ok) {
    return WithInstance(handle, 0, [=](CameraInstance& c) { return c.GetAutoIris(ok); });
}

// ---- Registers and camera memory ----
ZELVIK_API int Zelvik_WriteRegister(int handle, int reg, int value) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.WriteRegister(reg & 0xFF, value); });
}
ZELVIK_API int Zelvik_ReadRegister(int handle, int reg, int* ok) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.ReadRegister(reg & 0xFF, ok); }, ok);
}
ZELVIK_API int Zelvik_WriteRegisterEx(int handle, int reg, int value) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.WriteRegister(reg, value); });
}
ZELVIK_API int Zelvik_ReadRegisterEx(int handle, int reg, int* ok) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.ReadRegister(reg, ok); }, ok);
}
ZELVIK_API int Zelvik_WriteSromID(int handle, int address, int value) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.WriteSromID(address, value); });
}
ZELVIK_API int Zelvik_ReadSromID(int handle, int address, int* ok) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.ReadSromID(address, ok); }, ok);
}
ZELVIK_API int Zelvik_SetIOPort(int handle, int value) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.SetIOPort(value); }, nullptr,
                      CameraInstance::Notice::Post);
}
ZELVIK_API int Zelvik_GetIOPort(int handle, unsigned char* value, int, int) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return c.GetIOPort(value); }, nullptr,
                      CameraInstance::Notice::Post);
}

// ---- Filter values and the property exports that forward to them ----
ZELVIK_API int Zelvik_SetFilterValue(int handle, int index, int value) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return zelvik::SetFilterValue(c, index, value); });
}
ZELVIK_API int Zelvik_GetFilterValue(int handle, int index, int* ok) {
    return WithDevice(handle, 0, [=](CameraInstance& c) { return zelvik::GetFilterValue(c, index, ok); }, ok);
}

// Zelvik_Set<Name> and Zelvik_Get<Name> of every filter value, from the filter-value table.
#define ZELVIK_PROPERTY(index, Name, tool, block, slot, min, max, action)                    \
    ZELVIK_API int Zelvik_Set##Name(int handle, int value) {                                  \
        return Zelvik_SetFilterValue(handle, index, value);                                   \
    }                                                                                         \
    ZELVIK_API int Zelvik_Get##Name(int handle, int* ok) { return Zelvik_GetFilterValue(handle, index, ok); }

ZELVIK_FILTER_VALUE_TABLE(ZELVIK_PROPERTY)
#undef ZELVIK_PROPERTY

// ---- Answered without action: several names bound to one entry each ----
// External (but hidden) linkage: clang gives internal functions of an extern "C" block mangled names, which
// an alias cannot name.
__attribute__((visibility("hidden"))) int ZelvikUnsupportedEntry(int handle, ...) {
    return WithInstance(handle, 0, [](CameraInstance& c) {
        c.reportError(zelvik::kErrUnsupported);
        return 0;
    });
}
ZELVIK_API int Zelvik_Fps(int handle, ...) __attribute__((alias("ZelvikUnsupportedEntry")));
ZELVIK_API int Zelvik_GetCameraType(int handle, ...) __attribute__((alias("ZelvikUnsupportedEntry")));
ZELVIK_API int Zelvik_SetCameraType(int handle, ...) __attribute__((alias("ZelvikUnsupportedEntry")));
ZELVIK_API int Zelvik_SetCrossbar(int handle, ...) __attribute__((alias("ZelvikUnsupportedEntry")));
ZELVIK_API int Zelvik_SetHalfClock(int handle, ...) __attribute__((alias("ZelvikUnsupportedEntry")));
ZELVIK_API int Zelvik_SetSamplingRate(int handle, ...) __attribute__((alias("ZelvikUnsupportedEntry")));
ZELVIK_API int Zelvik_Trigger(int handle, ...) __attribute__((alias("ZelvikUnsupportedEntry")));

__attribute__((visibility("hidden"))) int ZelvikFixedZeroEntry(int handle, int* ok) {
    return WithInstance(handle, 0, [=](CameraInstance&) {
        if (ok) *ok = 0;
        return 0;
    });
}
ZELVIK_API int Zelvik_GetSamplingRate(int handle, int* ok) __attribute__((alias("ZelvikFixedZeroEntry")));
ZELVIK_API int Zelvik_GetVideoFormat(int handle, int* ok) __attribute__((alias("ZelvikFixedZeroEntry")));

ZELVIK_API int Zelvik_GetHalfClock(int handle, int* ok) {
    return WithInstance(handle, 0, [=](CameraInstance&) {
        if (ok) *ok = 1;
        return 0;
    });
}

// ---- Extension: message queues ----
ZELVIK_API ZELVIK_HWND ZelvikMsg_CreateQueue(void) { return zelvik::CreateMessageQueue(); }
ZELVIK_API int ZelvikMsg_Get(ZELVIK_HWND queue, ZelvikMessage* out, int timeoutMs) {
    return zelvik::GetMessage(queue, out, timeoutMs);
}
ZELVIK_API int ZelvikMsg_Fd(ZELVIK_HWND queue) { return zelvik::MessageQueueFd(queue); }
ZELVIK_API int ZelvikMsg_Dropped(ZELVIK_HWND queue) { return zelvik::MessageQueueDropped(queue); }
ZELVIK_API int ZelvikMsg_DestroyQueue(ZELVIK_HWND queue) { return zelvik::DestroyMessageQueue(queue); }

// ---- Extension: recording status ----
ZELVIK_API int ZelvikRec_GetStatus(int handle, ZelvikRecordStatus* status) {
    return WithEngine(handle, 0, [=](CaptureEngine& e) { return e.GetRecordStatus(status); });
}

ZELVIK_API int ZelvikRec_Finish(int handle) {
    return WithEngine(handle, 0, [](CaptureEngine& e) { return e.FinishRecording(); });
}

// ---- Extension: settings dialogs ----
// Takes no handle lock: the export that opened the dialog holds its handle's while the dialog is open.
ZELVIK_API int ZelvikDlg_CancelOpen(void) {
    try {
        return zelvik::CancelOpenDialogs();
    } catch (...) {
        return 0;
    }
}

// ---- Extension: frame timing ----
ZELVIK_API int ZelvikFrame_ArrivalTime(int handle, int64_t* nanoseconds) {
    if (nanoseconds == nullptr) return 0;
    return zelvik::WithEntry(handle, 0, [nanoseconds](zelvik::HandleEntry& e) {
        const int64_t arrival = e.engine->FrameArrivalNs();
        if (arrival == 0) return 0;
        *nanoseconds = arrival;
        return 1;
    });
}

// ---- Extension: frame facts and stream statistics ----
ZELVIK_API int ZelvikFrame_GetFacts(int handle, const void* buffer, ZelvikFrameFacts* facts) {
    return zelvik::WithEntry(handle, 0, [=](zelvik::HandleEntry& e) { return e.engine->GetFrameFacts(buffer, facts); });
}

ZELVIK_API int ZelvikStream_GetStats(int handle, ZelvikStreamStats* stats) {
    return zelvik::WithEntry(handle, 0, [=](zelvik::HandleEntry& e) { return e.engine->GetStreamStats(stats); });
}

}  // extern "C"
