// Output conversion kernels.
#include "imaging/Convert.h"

#include <algorithm>
#include <cstring>

#include "imaging/FrameBuffer.h"

namespace zelvik {

namespace {

uint16_t GetWord(const uint8_t* p, int k) { return LoadWord(p + 2 * k); }
void PutWord(uint8_t* p, int k, uint32_t v) { StoreWord(p + 2 * k, static_cast<int32_t>(v)); }
uint8_t Narrow(uint32_t v) { return static_cast<uint8_t>((v >> 2) & 0xFF); }

// Runs pixel(out, in) over the rectangle; reads every input of a pixel before writing it, so the
// same-size conversions may run in place. minIn/minOut: the pixel sizes the conversion needs.
template <bool kFlip, class Pixel>
int ForEachPixel(const KernelFrame& f, uint32_t minOut, uint32_t minIn, Pixel pixel) {
    if (f.dstBpp < minOut || f.srcBpp < minIn) return 1;
    for (int32_t r = 0; r < f.height; ++r) {
        const uint8_t* in = f.SrcRow(kFlip ? f.height - 1 - r : r);
        uint8_t* out = f.DstRow(r);
        for (int32_t c = 0; c < f.width; ++c, in += f.srcBpp, out += f.dstBpp) pixel(out, in);
    }
    return 1;
}

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
int Indexed8ToBgrxRows(const KernelFrame& f, const RgbQuad* table) {
    // The table as four-byte pixels, fourth byte zero, so each pixel is one 32-bit store.
    uint32_t pixels[256];
    for (uint32_t v = 0; v < 256; ++v) {
        const RgbQuad q = table ? table[v] : RgbQuad{static_cast<uint8_t>(v), static_cast<uint8_t>(v),
                                                     static_cast<uint8_t>(v), 0};
        const uint8_t bytes[4] = {q.blue, q.green, q.red, 0};
        std::memcpy(&pixels[v], bytes, 4);
    }
    return ForEachPixel<kFlip>(f, 4, 1, [&pixels](uint8_t* o, const uint8_t* i) { std::memcpy(o, &pixels[*i], 4); });
}

}  // namespace

int FlipRows(const KernelFrame& f) {
    // Whole rows: min(strides) bytes, but never past the end of either row.
    const size_t skipIn = static_cast<size_t>(f.left) * f.srcBpp, skipOut = static_cast<size_t>(f.dstX) * f.dstBpp;
    if (skipIn >= f.srcStride || skipOut >= f.dstStride) return 1;
    const size_t bytes = std::min(std::min(f.dstStride, f.srcStride), std::min(f.srcStride - skipIn, f.dstStride - skipOut));
    for (int32_t r = 0; r < f.height; ++r) std::memmove(f.DstRow(r), f.SrcRow(f.height - 1 - r), bytes);
    return 1;
}

int CopyBgr(const KernelFrame& f) {
    return ForEachPixel<false>(f, 3, 3, kCopyBgr);
}
int CopyBgrFlipped(const KernelFrame& f) {
    return ForEachPixel<true>(f, 3, 3, kCopyBgr);
}
int Gray16To8(const KernelFrame& f) {
    return ForEachPixel<false>(f, 1, 2, kGray16To8);
}
int Bgr48To24(const KernelFrame& f) {
    return ForEachPixel<false>(f, 3, 6, kBgr48To24);
}
int Bgr48To24Flipped(const KernelFrame& f) {
    return ForEachPixel<true>(f, 3, 6, kBgr48To24);
}
int BgrToRgb24(const KernelFrame& f) {
    return ForEachPixel<false>(f, 3, 3, [](uint8_t* o, const uint8_t* i) {
        const uint8_t b = i[0], g = i[1], r = i[2];
        o[0] = r;
        o[1] = g;
        o[2] = b;
    });
}
int BgrxToBgra32(const KernelFrame& f) {
    return ForEachPixel<false>(f, 4, 4, [](uint8_t* o, const uint8_t* i) {
        const uint8_t b = i[0], g = i[1], r = i[2], x = i[3];
        o[0] = b;
        o[1] = g;
        o[2] = r;
        o[3] = static_cast<uint8_t>(255 - x);
    });
}
int Gray16Scale4(const KernelFrame& f) {
    return ForEachPixel<false>(f, 2, 2, [](uint8_t* o, const uint8_t* i) { PutWord(o, 0, GetWord(i, 0) << 4); });
}
int Bgr48Scale6(const KernelFrame& f) {
    return ForEachPixel<false>(f, 6, 6, [](uint8_t* o, const uint8_t* i) {
        const uint32_t b = GetWord(i, 0), g = GetWord(i, 1), r = GetWord(i, 2);
        PutWord(o, 0, b << 6);
        PutWord(o, 1, g << 6);
        PutWord(o, 2, r << 6);
    });
}
int Bgr64Scale6Opaque(const KernelFrame& f) {
    return ForEachPixel<false>(f, 8, 8, [](uint8_t* o, const uint8_t* i) {
        const uint32_t b = GetWord(i, 0), g = GetWord(i, 1), r = GetWord(i, 2);
        PutWord(o, 0, b << 6);
        PutWord(o, 1, g << 6);
        PutWord(o, 2, r << 6);
        PutWord(o, 3, 65535);
    });
}
int BgrToRgb48Scale6(const KernelFrame& f) {
    return ForEachPixel<false>(f, 6, 6, [](uint8_t* o, const uint8_t* i) {
        const uint32_t b = GetWord(i, 0), g = GetWord(i, 1), r = GetWord(i, 2);
        PutWord(o, 0, r << 6);
        PutWord(o, 1, g << 6);
        PutWord(o, 2, b << 6);
    });
}
int BgrToRgb64Scale6Opaque(const KernelFrame& f) {
    return ForEachPixel<false>(f, 8, 8, [](uint8_t* o, const uint8_t* i) {
        const uint32_t b = GetWord(i, 0), g = GetWord(i, 1), r = GetWord(i, 2);
        PutWord(o, 0, r << 6);
        PutWord(o, 1, g << 6);
        PutWord(o, 2, b << 6);
        PutWord(o, 3, 65535);
    });
}
int BgrToGray8(const KernelFrame& f) {
    return ForEachPixel<false>(f, 1, 3, [](uint8_t* o, const uint8_t* i) {
        o[0] = static_cast<uint8_t>(std::clamp((59 * i[1] + 30 * i[2] + 11 * i[0]) / 100, 0, 255));
    });
}

int Indexed8ToBgrx(const KernelFrame& f, const RgbQuad* table) { return Indexed8ToBgrxRows<false>(f, table); }
int Indexed8ToBgrxFlipped(const KernelFrame& f, const RgbQuad* table) { return Indexed8ToBgrxRows<true>(f, table); }

}  // namespace zelvik
