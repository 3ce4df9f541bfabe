// The narrow interface between the settings dialogs (a Qt module loaded on first use) and the library.
//
// The dialog module knows a camera only through DialogHost: it never includes or links the instance, the
// device or the capture engine. The library implements DialogHost over a camera instance; the tests
// implement it over plain arrays. Both sides are built together, so the interface is plain C++ with one
// C entry point (ZelvikDialogs_Run) and a version number that must match.
#pragma once

#include <cstdint>

#include "instance/OpenDialogs.h"
#include "settings/Persistence.h"

namespace zelvik {

enum class DialogKind : int { kCamera = 0, kAnalog = 1, kImage = 2 };

// Results of running a dialog. The first two are the dialogs' own results; the others say why none ran.
enum DialogResult : int {
    kDialogOk = 1,
    kDialogCancel = 2,         // Cancel, or the dialog was closed
    kDialogNoDisplay = -1,     // no display to show a window on (the library reports error 4)
    kDialogFailed = -2,        // the dialog could not be built (out of memory, a broken request)
};

// Exposure read-out of the analog page: "=%.2fms" of (exposure x lineLength - 426) x clockPeriod x 0.001.
struct ExposureTiming {
    int lineLength = 0;       // sensor line period in pixel clocks
    double clockPeriod = 1.0; // microseconds per pixel clock
};

// An open dialog, as the library's threads see it (see instance/OpenDialogs.h): every call only posts
// work to the dialog's thread. Valid from DialogHost::DialogOpened until DialogClosed returns.
using DialogView = DialogLink;

// What a dialog needs from its camera. The setting and device calls are made on the dialog's thread;
// DialogOpened and DialogClosed too.
class DialogHost {
public:
    // analogSettings (9 slots) and imageSettings (30 slots) of the camera.
    virtual int AnalogSetting(int slot) = 0;
    virtual void SetAnalogSetting(int slot, int value) = 0;
    virtual int ImageSetting(int slot) = 0;
    virtual void SetImageSetting(int slot, int value) = 0;

    // Sensor writes; results are ignored by the dialogs (a silent sensor leaves the dialog's values set).
    virtual void DeviceSetGlobalGain(int value) = 0;
    virtual void DeviceSetColorGain(int reg, int value) = 0;  // 0x2B G1, 0x2D R, 0x2C B, 0x2E G2
    virtual void DeviceSetExposure(int value) = 0;
    virtual void DeviceSetMirrorV(int flag) = 0;
    virtual void DeviceSetMirrorH(int flag) = 0;

    // The stream format's colour mode code 0..5 (chooses the image dialog's enabled controls and pages).
    virtual int ColorMode() = 0;
    virtual ExposureTiming Exposure() = 0;

    // The camera dialog's copy of the stored video format (1 read or written, 0 not).
    virtual int LoadSizeList(SizeListData& data) = 0;
    virtual int SaveSizeList(const SizeListData& data) = 0;

    virtual void DialogOpened(DialogView* view) = 0;
    virtual void DialogClosed() = 0;

protected:
    ~DialogHost() = default;
};

// The one function the dialog module exports. Runs `kind` modally over the X11 window `parent` (0: centred
// on the screen) and returns a DialogResult. An application's running QApplication is used when there is
// one; otherwise the module starts its own, once, on a thread of its own.
inline constexpr int kDialogModuleVersion = 1;
inline constexpr char kDialogModuleEntry[] = "ZelvikDialogs_Run";
using DialogModuleEntry = int (*)(int version, DialogKind kind, DialogHost* host, uintptr_t parent);

}  // namespace zelvik
