// The buffers of the colour modes: where each frame lands, which buffer holds the raw mosaic and which
// the finished image, and building them at capture setup.
#pragma once

#include "imaging/FrameBuffer.h"
#include "instance/ColorModes.h"

namespace zelvik {

class CaptureBuffers {
public:
    // The camera delivers one byte per pixel in every mode: each frame lands in raw8, and the 16-bit
    // modes widen it into raw16 in the frame path.
    FrameBuffer& Landing() { return raw8_; }
    // The finished image of a mode (raw8, raw16, rgb24, rgb32, rgb48 or rgb64 for modes 0..5; raw8 for an
    // invalid mode).
    FrameBuffer& OutputOf(int mode);
    // rgb24: an output, or the demosaic target of the gray mode that turns the colour picture back into
    // gray.
    FrameBuffer& Rgb24() { return rgb24_; }
    FrameBuffer& Raw16() { return raw16_; }
    // A copy of the output for the filters that read the unfiltered picture (sharpening).
    FrameBuffer& Work() { return work_; }

    // Builds every buffer the mode needs for width x height pixels, and the work copy like the output.
    // False at the first buffer that could not be built (or for a mode outside 0..5).
    bool Build(int mode, int width, int height);

private:
    FrameBuffer& Of(ColorBuffer which);

    FrameBuffer raw8_, raw16_, rgb24_, rgb32_, rgb48_, rgb64_, work_;
};

}  // namespace zelvik
