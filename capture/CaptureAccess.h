// The one place that knows which capture operation each capture mode allows.
#pragma once

namespace zelvik {

class CameraInstance;

enum CaptureMode : int { kCaptureIdle = 0, kCaptureStreaming = 1, kCaptureSingleShot = 2 };

enum class CaptureOp { StartPreview, Capture, SnapShot, GetImage, StopPreview };

// What an operation does in the engine's current capture mode.
enum class CaptureAccess {
    Refused,  // not allowed here (or no device): error 1 has been reported
    Done,     // already in the requested mode: the operation succeeds at once
    SetUp,    // idle: run the capture setup first
    Run,      // the buffers of the last setup serve: go ahead
};

// Reports error 1 itself when it refuses (through the instance's device guard when there is no device).
CaptureAccess CheckCaptureAccess(CameraInstance& camera, int captureMode, CaptureOp op);

}  // namespace zelvik
