// The buffers of each colour mode and their construction at capture setup.
#include "capture/CaptureBuffers.h"

namespace zelvik {

FrameBuffer& CaptureBuffers::Of(ColorBuffer which) {
    switch (which) {
        case ColorBuffer::Raw16:
            return raw16_;
        case ColorBuffer::Rgb24:
            return rgb24_;
        case ColorBuffer::Rgb32:
            return rgb32_;
        case ColorBuffer::Rgb48:
            return rgb48_;
        case ColorBuffer::Rgb64:
            return rgb64_;
        case ColorBuffer::Raw8:
            break;
    }
    return raw8_;
}

FrameBuffer& CaptureBuffers::OutputOf(int mode) {
    const ColorModeInfo* info = FindColorMode(mode);
    return Of(info ? info->output : ColorBuffer::Raw8);
}

bool CaptureBuffers::Build(int mode, int width, int height) {
    if (!IsValidColorMode(mode)) return false;
    // raw8 receives the camera's 8-bit frame in every mode (in mode 1 it is also the preview's gray copy).
    if (!raw8_.Create(width, height, 8)) return false;
    // The output buffer of the mode; in modes 0, 1 and 3..5 rgb24 is also built, as the demosaic target of
    // gray mode 2 and the preview's colour copy. The wide modes widen into raw16.
    if (IsWideColorMode(mode) && !raw16_.Create(width, height, 16)) return false;
    if (mode != 1 && !rgb24_.Create(width, height, 24)) return false;
    const ColorBuffer output = kColorModes[mode].output;
    if (output != ColorBuffer::Raw8 && output != ColorBuffer::Raw16 && output != ColorBuffer::Rgb24 &&
        !Of(output).Create(width, height, kColorModes[mode].bits)) {
        return false;
    }
    return work_.CreateLike(&OutputOf(mode)) != 0;
}

}  // namespace zelvik
