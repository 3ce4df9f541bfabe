// The one place that knows which capture operation each capture mode allows.
#pragma once

namespace zelvik {

class CameraInstance;

enum class CaptureOp { StartPreview, Capture, SnapShot, GetImage, StopPreview };

// What an operation does in the instance's current capture mode.
enum class CaptureAccess {
    Refused,  // not allowed here (or no device): error 1 has been reported
    Done,     // already in the requested mode: the operation succeeds at once
    SetUp,    // idle: run the capture setup first
    Run,      // the buffers of the last setup serve: go ahead
};

// Reports error 1 itself when it refuses.
CaptureAccess CheckCaptureAccess(CameraInstance& camera, CaptureOp op);

}  // namespace zelvik
