// The three dialog exports' operations on a handle's capture engine and camera instance.
#pragma once

#include "include/ZelvikSdk.h"

namespace zelvik {

class CaptureEngine;

// Each returns 1 once its dialog has run (OK or Cancel), or 0 after reporting error 1 (no device, or a
// dialog of the same kind already open in the process) or error 4 (no display, or no dialog module).
// They run on the application's thread, inside its exported call.

// The stream format and camera size dialog: a running capture stops for it and starts again after it;
// after OK the instance reads the stored video format and stream settings again.
int SetCameraDlg(CaptureEngine& engine, ZELVIK_HWND parent);
// The analog sheet; Cancel or closing writes the previous gains, exposure and mirrors back.
int SetAnalogDlg(CaptureEngine& engine, ZELVIK_HWND parent);
// The image sheet (with the gray page for monochrome formats); Cancel or closing restores all image slots.
int SetImageDlg(CaptureEngine& engine, ZELVIK_HWND parent);

}  // namespace zelvik
