// The preview's pixel work: a finished frame into a window's screen memory, one-to-one or scaled.
#include "imaging/PreviewDraw.h"

#include "imaging/Convert.h"
#include "imaging/Scale.h"

namespace zelvik {

namespace {

// Copies every pixel of from into target (same size) as 32-bit pixels; flip puts memory row 0 at the
// bottom of the screen instead of the top.
void CopyToScreen(const FrameBuffer& from, const ScreenImage& target, bool flip) {
    const KernelFrame frame(target.pixels, from.Bits(), Rect{0, 0, from.Width(), from.Height()}, 0, 0, 4,
                            from.BytesPerPixel(), target.stride, from.Stride());
    switch (from.BitsPerPixel()) {
        case 8:
            (flip ? Indexed8ToBgrxFlipped : Indexed8ToBgrx)(frame, from.ColorTable());
            break;
        case 48:
        case 64:
            (flip ? Bgr48To24Flipped : Bgr48To24)(frame);
            break;
        default:
            (flip ? CopyBgrFlipped : CopyBgr)(frame);
            break;
    }
}

}  // namespace

PreviewPath DrawPreview(const FrameBuffer& source, bool forceScaled, FrameBuffer& display, const ScreenImage& target) {
    const uint16_t bits = source.BitsPerPixel();
    if ((bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 48 && bits != 64) || source.Bits() == nullptr)
        return PreviewPath::kNone;
    if (target.pixels == nullptr || target.width <= 0 || target.height <= 0 ||
        target.stride < static_cast<uint32_t>(target.width) * 4) {
        return PreviewPath::kNone;
    }
    // 16-bit gray is shown through the scaled path's 8-bit picture, even at the window's own size.
    if (!forceScaled && bits != 16 && target.width == source.Width() && target.height == source.Height()) {
        CopyToScreen(source, target, false);
        return PreviewPath::kOneToOne;
    }
    // A display of the right size but the other depth (the colour mode changed) is rebuilt too: the
    // 24-bit kernel leaves an 8-bit buffer untouched, the 8-bit one fills a byte of every 24-bit pixel.
    const bool gray = bits <= 16;
    const int32_t displayBits = gray ? 8 : 24;
    if (display.Width() != target.width || display.Height() != target.height || display.BitsPerPixel() != displayBits) {
        if (!display.Create(target.width, target.height, displayBits)) return PreviewPath::kNone;
    }
    const ScaledFrameKernel scale = bits == 8    ? ScaleNearest8
                                    : bits == 16 ? ScaleNearest16To8
                                    : bits >= 48 ? ScaleNearest48To24
                                                 : ScaleNearest24;
    const int scaled = display.ApplyScaled(scale, source, nullptr, nullptr);
    if (!scaled) return PreviewPath::kNone;
    CopyToScreen(display, target, true);
    return PreviewPath::kScaled;
}

}  // namespace zelvik
