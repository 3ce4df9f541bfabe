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
    const ColorModeInfo* info = FindColorMode(mode);
    if (!info) return false;
    // raw8 receives the camera's 8-bit frame in every mode.
    if (!raw8_.Create(width, height, 8)) return false;
    if (info->Wide() && !raw16_.Create(width, height, 16)) return false;
    if (info->NeedsRgb24() && !rgb24_.Create(width, height, 24)) return false;
    // The output, unless it is one of the buffers above.
    const ColorBuffer output = info->output;
    if (output != ColorBuffer::Raw8 && output != info->raw && output != ColorBuffer::Rgb24 &&
        !Of(output).Create(width, height, info->bits)) {
        return false;
    }
    return work_.CreateLike(&OutputOf(mode)) != 0;
}

}  // namespace zelvik
