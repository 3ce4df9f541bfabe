// The frame path: turns the raw frame of the landing buffer into the finished image of a colour mode.
#pragma once

namespace zelvik {

class CameraInstance;
class FrameBuffer;

// Runs, in this order: automatic exposure/gain, hot-pixel correction, (16-bit modes) widening of the
// 8-bit frame to 10-bit samples, the gray-mode step (mode 0) or the demosaic with white balance
// (modes 2..5), then the filters on the output buffer of mode. The caller holds camera.outputMutex.
void ProcessFrame(CameraInstance& camera, int mode);

// Automatic exposure/gain from the mean levels of five regions of raw (8-bit levels). 1 when it ran
// (adjusting or not); 0 with error 0 while the mode is off, or 9 without a frame or device.
int AutoIris(CameraInstance& camera, FrameBuffer* raw);

}  // namespace zelvik
