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

CaptureAccess CheckCaptureAccess(CameraInstance& camera, CaptureOp op) {
    const int mode = camera.captureMode.load();
    CaptureAccess access = Refused;
    if (camera.device && mode >= kCaptureIdle && mode <= kCaptureSingleShot)
        access = kAccess[static_cast<int>(op)][mode];
    if (access == Refused) camera.reportError(kErrNotAllowed);
    return access;
}

}  // namespace zelvik
