// Row unpacking and nearest-neighbour resizing.
#include "imaging/Scale.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zelvik {

namespace {

int UnpackRows(uint8_t* bits, const Rect* rect, size_t stride, size_t n) {
    const int64_t W = rect->right, H = rect->bottom;
    if (W <= 0 || H <= 0) return 1;
    const size_t packed = static_cast<size_t>(W) * n;
    if (packed > stride) return 1;  // rows wider than the stride cannot come from this buffer
    // Rows move from the end backwards; within a row the target never lies below the source, so a
    // backward move (memmove) of the whole row equals the pixel-by-pixel walk from its last pixel.
    for (int64_t r = H - 1; r >= 0; --r) {
        std::memmove(bits + static_cast<size_t>(r) * stride, bits + static_cast<size_t>(r) * packed, packed);
    }
    return 1;
}

// pixel(out, in) writes one destination pixel from the source pixel it takes.
template <class Pixel>
int ScaleNearest(const ScaledKernelFrame& f, Pixel pixel) {
    const Rect* d = &f.dstRect;
    const Rect* s = &f.srcRect;
    const int32_t srcWidth = f.srcWidth, srcHeight = f.srcHeight;
    const size_t dstBpp = f.dstBpp, srcBpp = f.srcBpp;
    const int32_t dw = d->right - d->left, dh = d->bottom - d->top;
    const int32_t sw = s->right - s->left, sh = s->bottom - s->top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || srcWidth <= 0 || srcHeight <= 0) return 1;
    const float xRatio = static_cast<float>(sw) / static_cast<float>(dw);
    const float yRatio = static_cast<float>(sh) / static_cast<float>(dh);
    // Column offsets once per call; the same v for every row.
    std::vector<size_t> column(static_cast<size_t>(dw));
    for (int32_t j = 0; j < dw; ++j) {
        const int64_t v = std::clamp<int64_t>(static_cast<int64_t>(j * static_cast<double>(xRatio)), 0, srcWidth - 1);
        column[static_cast<size_t>(j)] = static_cast<size_t>(v) * srcBpp;
    }
    for (int32_t i = 0; i < dh; ++i) {
        const int64_t u = std::clamp<int64_t>(static_cast<int64_t>(i * static_cast<double>(yRatio)), 0, srcHeight - 1);
        const uint8_t* in = f.src + static_cast<size_t>(s->bottom - 1 - u) * f.srcStride;
        uint8_t* out = f.dst + static_cast<size_t>(d->top + i) * f.dstStride + static_cast<size_t>(d->left) * dstBpp;
        for (int32_t j = 0; j < dw; ++j, out += dstBpp) pixel(out, in + column[static_cast<size_t>(j)]);
    }
    return 1;
}

// 10-bit samples narrowed as (v >> 2) & 0xFF, as for display and files.
uint8_t Narrow10(const uint8_t* word) { return static_cast<uint8_t>((word[1] << 6) | (word[0] >> 2)); }

}  // namespace

int UnpackRows8(const KernelFrame& f) { return UnpackRows(f.dst, &f.rect, f.dstStride, 1); }

int UnpackRows16(const KernelFrame& f) { return UnpackRows(f.dst, &f.rect, f.dstStride, 2); }

int ScaleNearest8(const ScaledKernelFrame& f) {
    return ScaleNearest(f, [](uint8_t* out, const uint8_t* in) { *out = *in; });
}

int ScaleNearest24(const ScaledKernelFrame& f) {
    if (f.dstBpp < 3 || f.srcBpp < 3) return 1;
    return ScaleNearest(f, [](uint8_t* out, const uint8_t* in) { std::memcpy(out, in, 3); });
}

int ScaleNearest16To8(const ScaledKernelFrame& f) {
    if (f.srcBpp < 2) return 1;
    return ScaleNearest(f, [](uint8_t* out, const uint8_t* in) { *out = Narrow10(in); });
}

int ScaleNearest48To24(const ScaledKernelFrame& f) {
    if (f.dstBpp < 3 || f.srcBpp < 6) return 1;
    return ScaleNearest(f, [](uint8_t* out, const uint8_t* in) {
        out[0] = Narrow10(in), out[1] = Narrow10(in + 2), out[2] = Narrow10(in + 4);
    });
}

}  // namespace zelvik
