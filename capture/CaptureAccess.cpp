// The capture-mode guard: one table of what each operation may do in each mode.
#include "capture/CaptureAccess.h"

#include "instance/CameraInstance.h"

namespace zelvik {
namespace {

using enum CaptureAccess;

// Rows: operations in CaptureOp order; columns: idle, streaming, single-shot.
constexpr CaptureAccess kAccess[][3] = {
    /* StartPreview */ {SetUp, Done, Refused},
    /* Capture      */ {SetUp, Refused, Done},
    /* SnapShot     */ {SetUp, Refused, Run},
    /* GetImage     */ {Run, Run, Run},
    /* StopPreview  */ {Run, Run, Run},
};

}  // namespace

CaptureAccess CheckCaptureAccess(CameraInstance& camera, int captureMode, CaptureOp op) {
    if (!camera.RequireDevice()) return Refused;
    CaptureAccess access = Refused;
    if (captureMode >= kCaptureIdle && captureMode <= kCaptureSingleShot)
        access = kAccess[static_cast<int>(op)][captureMode];
    if (access == Refused) camera.reportError(kErrNotAllowed);
    return access;
}

}  // namespace zelvik
