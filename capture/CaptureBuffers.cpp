// The buffers of each colour mode and their construction at capture setup.
#include "capture/CaptureBuffers.h"

#include "imaging/FrameBuffer.h"
#include "instance/CameraInstance.h"

namespace zelvik {
namespace {

int BuildGray8(FrameBuffer& buffer, int width, int height) {
    if (!buffer.Create(width, height, 8)) return 0;
    buffer.SetColorTable(kColorTableGray, nullptr, 0, 256);
    return 1;
}

}  // namespace

int BitsPerPixelOfColorMode(int mode) {
    static constexpr int kBits[kColorModeCount] = {8, 16, 24, 32, 48, 64};
    return IsValidColorMode(mode) ? kBits[mode] : 0;
}

FrameBuffer& LandingBuffer(CameraInstance& camera) { return *camera.raw8; }

FrameBuffer& RawBufferOf(CameraInstance& camera, int mode) {
    return IsWideColorMode(mode) ? *camera.raw16 : *camera.raw8;
}

FrameBuffer& OutputBufferOf(CameraInstance& camera, int mode) {
    switch (mode) {
        case 1:
            return *camera.raw16;
        case 2:
            return *camera.rgb24;
        case 3:
            return *camera.rgb32;
        case 4:
            return *camera.rgb48;
        case 5:
            return *camera.rgb64;
        default:
            return *camera.raw8;
    }
}

FrameBuffer* CapturedOutput(CameraInstance& camera) {
    const int setup = camera.setupColorMode.load();
    const int mode = setup >= 0 ? setup : camera.colorMode;
    if (!IsValidColorMode(mode) || !camera.raw8) return nullptr;
    return &OutputBufferOf(camera, mode);
}

int BuildCaptureBuffers(CameraInstance& camera, int mode, int width, int height) {
    if (!IsValidColorMode(mode)) return 0;
    // raw8 receives the camera's 8-bit frame in every mode (in mode 1 it is also the preview's gray copy).
    if (!BuildGray8(*camera.raw8, width, height)) return 0;
    if (IsWideColorMode(mode) && !camera.raw16->Create(width, height, 16)) return 0;
    // rgb24: the output of mode 2, the demosaic target of gray mode 2 in mode 0, the preview copy otherwise.
    if (mode != 1 && !camera.rgb24->Create(width, height, 24)) return 0;
    if (mode == 3 && !camera.rgb32->Create(width, height, 32)) return 0;
    if (mode == 4 && !camera.rgb48->Create(width, height, 48)) return 0;
    if (mode == 5 && !camera.rgb64->Create(width, height, 64)) return 0;
    return camera.work->CreateLike(&OutputBufferOf(camera, mode));
}

}  // namespace zelvik
