// The buffers of each colour mode: which one holds the raw frame and which the output, and building them.
#pragma once

#include <cstdint>

namespace zelvik {

class CameraInstance;
class FrameBuffer;

inline constexpr int kColorModeCount = 6;

inline bool IsValidColorMode(int mode) { return mode >= 0 && mode < kColorModeCount; }
// Modes 1, 4 and 5 carry 10-bit samples in 16-bit words.
inline bool IsWideColorMode(int mode) { return mode == 1 || mode == 4 || mode == 5; }
// 8, 16, 24, 32, 48 or 64 for modes 0..5; 0 for anything else.
int BitsPerPixelOfColorMode(int mode);

// The camera delivers one byte per pixel in every mode: each frame lands in raw8, and the 16-bit modes
// widen it into raw16 in the frame path.
FrameBuffer& LandingBuffer(CameraInstance& camera);
// The mosaic the kernels of a mode work on: raw16 for modes 1, 4, 5, else raw8.
FrameBuffer& RawBufferOf(CameraInstance& camera, int mode);
// The finished image of a mode: raw8, raw16, rgb24, rgb32, rgb48 or rgb64 for modes 0..5.
FrameBuffer& OutputBufferOf(CameraInstance& camera, int mode);
// The output buffer of the colour mode of the last capture setup (the current colour mode before any
// setup); null when that mode is not 0..5 or the instance has no buffers. Readers copy it under
// camera.outputMutex.
FrameBuffer* CapturedOutput(CameraInstance& camera);

// Builds every buffer the mode needs for width x height pixels, and the work copy like the output.
// 1, or 0 at the first buffer that could not be built.
int BuildCaptureBuffers(CameraInstance& camera, int mode, int width, int height);

}  // namespace zelvik
