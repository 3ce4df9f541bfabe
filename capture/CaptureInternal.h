// Steps shared by the capture operations, the capture thread and single-shot capture.
#pragma once

#include <cstdint>

namespace zelvik {

class CameraInstance;
class FrameBuffer;

// Capture setup: checks the camera and the window, builds the buffers of the current colour mode and
// programs the sensor. 1, or 0 with the code reported (2, 5 or 7).
int RunCaptureSetup(CameraInstance& camera);

// Copies the output image into application memory: stride x height bytes, rows padded as in the buffer,
// in memory order when keepRowOrder is non-zero, else last row first. A buffer smaller than that posts
// MSG_CAMERA_FRAME with code 5 to the callback target, reports 5 and returns 0.
int CopyOut(CameraInstance& camera, const FrameBuffer& output, void* buffer, int size, int keepRowOrder);

// MSG_CAMERA_FRAME with wParam 0 and an error code to the callback target.
void PostFrameError(CameraInstance& camera, int code);

// True when the device delivers frames of exactly the landing buffer's width and height.
bool LandingMatchesDevice(CameraInstance& camera);
// Single-shot mode: when the sensor window changed since the setup, rebuilds the buffers of mode at the
// device's window. True when they match (again); false with error 5 when they could not be built.
// Only while no acquisition runs: a streaming loop never resizes its buffers.
bool FitBuffersToDevice(CameraInstance& camera, int mode);

// A frame read into the landing buffer (packed rows) becomes a buffer image: rows spread to the stride,
// and reversed left to right when mirror H is set.
void ArrangeLandedFrame(CameraInstance& camera);

// The capture thread's body.
void StreamingLoop(CameraInstance& camera);

}  // namespace zelvik
