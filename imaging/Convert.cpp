// Output conversion kernels.
#include "imaging/Convert.h"

#include <algorithm>
#include <cstring>

#include "imaging/FrameBuffer.h"

namespace zelvik {

namespace {

uint16_t GetWord(const uint8_t* p, int k) {
    uint16_t v;
    std::memcpy(&v, p + 2 * k, 2);
    return v;
}
void PutWord(uint8_t* p, int k, uint32_t v) {
    const auto w = static_cast<uint16_t>(v);
    std::memcpy(p + 2 * k, &w, 2);
}
uint8_t Narrow(uint32_t v) { return static_cast<uint8_t>((v >> 2) & 0xFF); }

// Runs pixel(out, in) over the rectangle; reads every input of a pixel before writing it, so the
// same-size conversions may run in place. minIn/minOut: the pixel sizes the conversion needs.
template <bool kFlip, class Pixel>
int ForEachPixel(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                 uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, uint32_t minOut, uint32_t minIn,
                 Pixel pixel) {
    const KernelFrame f(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
    if (f.dstBpp < minOut || f.srcBpp < minIn) return 1;
    for (int32_t r = 0; r < f.height; ++r) {
        const uint8_t* in = f.SrcRow(kFlip ? f.height - 1 - r : r);
        uint8_t* out = f.DstRow(r);
        for (int32_t c = 0; c < f.width; ++c, in += f.srcBpp, out += f.dstBpp) pixel(out, in);
    }
    return 1;
}

#define ZELVIK_PIXELS(flip, minOut, minIn, ...) \
    ForEachPixel<flip>(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, minOut, minIn, __VA_ARGS__)

const auto kCopyBgr = [](uint8_t* o, const uint8_t* i) {
    const uint8_t b = i[0], g = i[1], r = i[2];
    o[0] = b;
    o[1] = g;
    o[2] = r;
};
const auto kGray16To8 = [](uint8_t* o, const uint8_t* i) {
    // (high byte << 6) | (low byte >> 2), kept to 8 bits
    o[0] = static_cast<uint8_t>((i[1] << 6) | (i[0] >> 2));
};
const auto kBgr48To24 = [](uint8_t* o, const uint8_t* i) {
    const uint8_t b = Narrow(GetWord(i, 0)), g = Narrow(GetWord(i, 1)), r = Narrow(GetWord(i, 2));
    o[0] = b;
    o[1] = g;
    o[2] = r;
};

template <bool kFlip>
int Indexed8ToBgrxRows(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                       uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1) {
    // The table as four-byte pixels, fourth byte zero, so each pixel is one 32-bit store.
    uint32_t pixels[256];
    const RgbQuad* table = KernelParam<const RgbQuad>(p1);
    for (uint32_t v = 0; v < 256; ++v) {
        const RgbQuad q = table ? table[v] : RgbQuad{static_cast<uint8_t>(v), static_cast<uint8_t>(v),
                                                     static_cast<uint8_t>(v), 0};
        const uint8_t bytes[4] = {q.blue, q.green, q.red, 0};
        std::memcpy(&pixels[v], bytes, 4);
    }
    return ForEachPixel<kFlip>(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, 4, 1,
                               [&pixels](uint8_t* o, const uint8_t* i) { std::memcpy(o, &pixels[*i], 4); });
}

}  // namespace

ZELVIK_FRAME_KERNEL(FlipRows) {
    (void)p1;
    (void)p2;
    const KernelFrame f(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
    // Whole rows: min(strides) bytes, but never past the end of either row.
    const size_t skipIn = static_cast<size_t>(f.left) * f.srcBpp, skipOut = static_cast<size_t>(f.dstX) * f.dstBpp;
    if (skipIn >= srcStride || skipOut >= dstStride) return 1;
    const size_t bytes = std::min<size_t>(std::min(dstStride, srcStride), std::min(srcStride - skipIn, dstStride - skipOut));
    for (int32_t r = 0; r < f.height; ++r) std::memmove(f.DstRow(r), f.SrcRow(f.height - 1 - r), bytes);
    return 1;
}

ZELVIK_FRAME_KERNEL(CopyBgr) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 3, 3, kCopyBgr);
}
ZELVIK_FRAME_KERNEL(CopyBgrFlipped) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(true, 3, 3, kCopyBgr);
}
ZELVIK_FRAME_KERNEL(Gray16To8) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 1, 2, kGray16To8);
}
ZELVIK_FRAME_KERNEL(Gray16To8Flipped) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(true, 1, 2, kGray16To8);
}
ZELVIK_FRAME_KERNEL(Bgr48To24) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 3, 6, kBgr48To24);
}
ZELVIK_FRAME_KERNEL(Bgr48To24Flipped) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(true, 3, 6, kBgr48To24);
}
ZELVIK_FRAME_KERNEL(BgrToRgb24) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 3, 3, [](uint8_t* o, const uint8_t* i) {
        const uint8_t b = i[0], g = i[1], r = i[2];
        o[0] = r;
        o[1] = g;
        o[2] = b;
    });
}
ZELVIK_FRAME_KERNEL(BgrxToBgra32) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 4, 4, [](uint8_t* o, const uint8_t* i) {
        const uint8_t b = i[0], g = i[1], r = i[2], x = i[3];
        o[0] = b;
        o[1] = g;
        o[2] = r;
        o[3] = static_cast<uint8_t>(255 - x);
    });
}
ZELVIK_FRAME_KERNEL(Gray16Scale4) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 2, 2, [](uint8_t* o, const uint8_t* i) { PutWord(o, 0, GetWord(i, 0) << 4); });
}
ZELVIK_FRAME_KERNEL(Bgr48Scale6) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 6, 6, [](uint8_t* o, const uint8_t* i) {
        const uint32_t b = GetWord(i, 0), g = GetWord(i, 1), r = GetWord(i, 2);
        PutWord(o, 0, b << 6);
        PutWord(o, 1, g << 6);
        PutWord(o, 2, r << 6);
    });
}
ZELVIK_FRAME_KERNEL(Bgr64Scale6Opaque) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 8, 8, [](uint8_t* o, const uint8_t* i) {
        const uint32_t b = GetWord(i, 0), g = GetWord(i, 1), r = GetWord(i, 2);
        PutWord(o, 0, b << 6);
        PutWord(o, 1, g << 6);
        PutWord(o, 2, r << 6);
        PutWord(o, 3, 65535);
    });
}
ZELVIK_FRAME_KERNEL(BgrToRgb48Scale6) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 6, 6, [](uint8_t* o, const uint8_t* i) {
        const uint32_t b = GetWord(i, 0), g = GetWord(i, 1), r = GetWord(i, 2);
        PutWord(o, 0, r << 6);
        PutWord(o, 1, g << 6);
        PutWord(o, 2, b << 6);
    });
}
ZELVIK_FRAME_KERNEL(BgrToRgb64Scale6Opaque) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 8, 8, [](uint8_t* o, const uint8_t* i) {
        const uint32_t b = GetWord(i, 0), g = GetWord(i, 1), r = GetWord(i, 2);
        PutWord(o, 0, r << 6);
        PutWord(o, 1, g << 6);
        PutWord(o, 2, b << 6);
        PutWord(o, 3, 65535);
    });
}
ZELVIK_FRAME_KERNEL(BgrToGray8) {
    (void)p1, (void)p2;
    return ZELVIK_PIXELS(false, 1, 3, [](uint8_t* o, const uint8_t* i) {
        o[0] = static_cast<uint8_t>(std::clamp((59 * i[1] + 30 * i[2] + 11 * i[0]) / 100, 0, 255));
    });
}

ZELVIK_FRAME_KERNEL(Indexed8ToBgrx) {
    (void)p2;
    return Indexed8ToBgrxRows<false>(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, p1);
}
ZELVIK_FRAME_KERNEL(Indexed8ToBgrxFlipped) {
    (void)p2;
    return Indexed8ToBgrxRows<true>(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, p1);
}

}  // namespace zelvik
