// What the dialog exports do around a dialog: check, stop or snapshot, run the dialog module, then restart,
// reload or undo.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dialogs/DialogHost.h"

namespace zelvik {

// The camera a dialog runs for: the dialog's needs plus the instance operations around it.
class DialogCamera : public DialogHost {
public:
    virtual bool HasDevice() = 0;
    virtual void ReportError(int code) = 0;
    // Stops a running capture and returns the capture mode that ran (0 when none did).
    virtual int StopCapture() = 0;
    // Starts capture mode 1 (streaming) or 2 (single shot) again; nothing for 0.
    virtual void RestartCapture(int mode) = 0;
    // Reads the stored video format and stream settings again, after the camera dialog's OK.
    virtual void ReloadVideoFormat() = 0;
    // Writes the analog slots to the sensor as a capture setup does: global gain, colour gains G1, R, B,
    // G2, exposure, mirror V, mirror H. Nothing without a device.
    virtual void ApplyAnalogSettings() = 0;

protected:
    ~DialogCamera() = default;
};

// Runs one dialog and returns a DialogResult: the dialog module, or what stands in for it in tests.
using DialogRunner = std::function<int(DialogKind, DialogHost&, uintptr_t parent)>;

// The loadable dialog module: loaded on first use (libzelvik-dialogs.so beside the library, else in the
// installed library directory), kept loaded. kDialogNoDisplay when it cannot be loaded.
int RunDialogModule(DialogKind kind, DialogHost& host, uintptr_t parent);
// Why the module could not be loaded (empty when it was, or was not tried yet).
std::string DialogModuleError();

// Every dialog open in the process, as its link: the host enters it once the dialog is shown and takes it
// out before the dialog goes.
void DialogViewOpened(DialogKind kind, DialogLink* view);
void DialogViewClosed(DialogKind kind);
// Closes every dialog open in the process as Cancel does (each only posts to the dialog's thread); the
// number of dialogs reached. Any thread may call it, also while a dialog export waits on another.
int CancelOpenDialogs();

// The three exports. Each returns 1 once its dialog has run (OK or Cancel), and 0 after reporting
// error 1 (no device, or a dialog of the same kind is open in the process) or error 4 (no display, or
// the dialog module is missing).
//
// Camera: a running capture is stopped for the dialog; after OK the stored video format and stream
// settings are read again; the capture that ran starts again either way.
int RunCameraDialog(DialogCamera& camera, uintptr_t parent, const DialogRunner& run = RunDialogModule);
// Analog: unless the dialog ends with OK, the nine analog settings and the Bayer mode return to their
// values from before, and the gains, exposure and mirrors are written to the sensor again.
int RunAnalogDialog(DialogCamera& camera, uintptr_t parent, const DialogRunner& run = RunDialogModule);
// Image: unless the dialog ends with OK, the thirty image settings return to their values from before.
int RunImageDialog(DialogCamera& camera, uintptr_t parent, const DialogRunner& run = RunDialogModule);

}  // namespace zelvik
