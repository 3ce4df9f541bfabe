// FrameBuffer: geometry, pixel memory and the two kernel runners.
#include "imaging/FrameBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include <sys/mman.h>

namespace zelvik {

namespace {

bool Inside(const Rect& r, int32_t width, int32_t height) {
    return r.left >= 0 && r.top >= 0 && r.right > r.left && r.bottom > r.top && r.right <= width &&
           r.bottom <= height;
}
}  // namespace

uint32_t FrameStride(int64_t width, uint32_t bitsPerPixel) {
    const int64_t stride = (width * (bitsPerPixel / 8) + 3) & ~int64_t{3};
    if (width < 0 || stride > std::numeric_limits<uint32_t>::max()) return 0;
    return static_cast<uint32_t>(stride);
}

FrameBuffer::FrameBuffer() { ResetHeader(); }

FrameBuffer::~FrameBuffer() { Release(); }

void FrameBuffer::ResetHeader() {
    std::memset(&info_, 0, sizeof info_);
    info_.header.biSize = sizeof(BitmapInfoHeader);
}

void FrameBuffer::FillGrayTable() {
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        info_.colorTable[i] = RgbQuad{v, v, v, 0};
    }
}

int FrameBuffer::Create(int32_t width, int32_t height, int32_t bitsPerPixel) {
    if (width <= 0 || height <= 0 || bitsPerPixel <= 0 || bitsPerPixel > 0xFFFF) return 0;
    Release();
    info_.header.biWidth = width;
    info_.header.biHeight = height;
    info_.header.biPlanes = 1;
    info_.header.biBitCount = static_cast<uint16_t>(bitsPerPixel);
    info_.header.biCompression = 0;
    width_ = width;
    height_ = height;
    bitsPerPixel_ = static_cast<uint16_t>(bitsPerPixel);
    stride_ = FrameStride(width, bitsPerPixel_);
    return BuildPixels();
}

int FrameBuffer::Borrow(uint8_t* bits, int32_t width, int32_t height, int32_t bitsPerPixel) {
    Release();
    if (bits == nullptr || width <= 0 || height <= 0 || bitsPerPixel <= 0 || bitsPerPixel > 0xFFFF) return 0;
    const uint32_t stride = FrameStride(width, static_cast<uint32_t>(bitsPerPixel));
    if (stride == 0) return 0;
    info_.header.biWidth = width;
    info_.header.biHeight = height;
    info_.header.biPlanes = 1;
    info_.header.biBitCount = static_cast<uint16_t>(bitsPerPixel);
    width_ = width;
    height_ = height;
    bitsPerPixel_ = static_cast<uint16_t>(bitsPerPixel);
    stride_ = stride;
    if (bitsPerPixel_ == 8) FillGrayTable();
    bits_ = bits;
    return 1;
}

int FrameBuffer::CreateLike(const FrameBuffer* other) {
    if (other == nullptr || other->width_ <= 0 || other->height_ <= 0 || other->bitsPerPixel_ == 0) return 0;
    if (other == this) return 0;  // releasing first would destroy the model
    Release();
    info_.header = other->info_.header;
    width_ = other->width_;
    height_ = other->height_;
    stride_ = other->stride_;
    bitsPerPixel_ = other->bitsPerPixel_;
    return BuildPixels();
}

int FrameBuffer::BuildPixels() {
    if (bitsPerPixel_ == 8) FillGrayTable();
    const uint64_t bytes = static_cast<uint64_t>(stride_) * static_cast<uint64_t>(height_);
    if (stride_ == 0 || bytes > std::numeric_limits<size_t>::max() / 2) {
        Release();
        return 0;
    }
    // Pages mapped for this buffer alone (zeroed by the system): buffers are rebuilt at every capture
    // start, and memory taken from malloc's arenas would stay with the process after they go.
    heap_ = AlignedBuffer(static_cast<size_t>(bytes));
    if (heap_.empty()) {
        Release();
        return 0;
    }
    bits_ = heap_.data();
    return 1;
}

int FrameBuffer::Release() {
    heap_ = AlignedBuffer();
    bits_ = nullptr;
    width_ = height_ = 0;
    stride_ = 0;
    bitsPerPixel_ = 0;
    ResetHeader();
    return 0;
}

int FrameBuffer::ClipRects(const FrameBuffer& source, Rect& rect, int32_t& x, int32_t& y) const {
    // 64-bit throughout so that extreme rectangles cannot wrap.
    const int64_t dw = width_, dh = height_, sw = source.width_, sh = source.height_;
    const int64_t rl = rect.left, rt = rect.top, rr = rect.right, rb = rect.bottom;
    const int64_t w = rr - rl, h = rb - rt;
    auto fail = [&]() {
        rect = Rect{0, 0, 0, 0};
        x = y = 0;
        return 0;
    };
    int64_t tl = x, tt = y, tr = x + w, tb = y + h;
    if (tr <= 0 || tb <= 0 || tl >= dw || tt >= dh) return fail();
    tl = std::max<int64_t>(tl, 0);
    tt = std::max<int64_t>(tt, 0);
    tr = std::min(tr, dw);
    tb = std::min(tb, dh);
    const int64_t ulRaw = rl + tl - x, utRaw = rt + tt - y;
    const int64_t urRaw = ulRaw + tr - tl, ubRaw = utRaw + tb - tt;
    if (urRaw <= 0 || ubRaw <= 0 || ulRaw >= sw || utRaw >= sh) return fail();
    const int64_t ul = std::max<int64_t>(ulRaw, 0), ut = std::max<int64_t>(utRaw, 0);
    const int64_t ur = std::min(urRaw, sw), ub = std::min(ubRaw, sh);
    if ((rl < 0 && rl < x) || (rt < 0 && rt < y)) {
        // The source was cut on its left or top: the target moves along by the same amount, so that
        // each source pixel keeps its place (moving it the other way would reach left of column 0).
        tl += ul - ulRaw;
        tt += ut - utRaw;
        tr += ur - urRaw;
        tb += ub - ubRaw;
        if (tr <= 0 || tb <= 0 || tl >= dw || tt >= dh) return fail();
    }
    // An intersection that ended up empty (or reversed) would hand the kernel nothing to do.
    if (ur <= ul || ub <= ut || tl < 0 || tt < 0 || tl + (ur - ul) > dw || tb > dh) return fail();
    x = static_cast<int32_t>(tl);
    y = static_cast<int32_t>(dh - tb);
    rect = Rect{static_cast<int32_t>(ul), static_cast<int32_t>(sh - ub), static_cast<int32_t>(ur),
                static_cast<int32_t>(sh - ut)};
    return 1;
}

std::optional<KernelFrame> FrameBuffer::ClippedFrame(const FrameBuffer& source, const Rect* rect, int32_t x,
                                                     int32_t y) {
    Rect r = rect ? *rect : Rect{0, 0, source.width_, source.height_};
    if (ClipRects(source, r, x, y) == 0) return std::nullopt;
    return KernelFrame(bits_, source.bits_, r, x, y, BytesPerPixel(), source.BytesPerPixel(), stride_, source.stride_);
}

int FrameBuffer::ApplyScaled(ScaledFrameKernel kernel, const FrameBuffer& source, const Rect* sourceRect,
                             const Rect* destRect) {
    if (kernel == nullptr) return 0;
    Rect s = sourceRect ? *sourceRect : Rect{0, 0, source.width_, source.height_};
    Rect d = destRect ? *destRect : Rect{0, 0, width_, height_};
    // The kernels trust their rectangles; one outside its buffer would read or write out of bounds.
    if (!Inside(s, source.width_, source.height_) || !Inside(d, width_, height_)) return 0;
    return kernel(ScaledKernelFrame{bits_, source.bits_, d, s, width_, height_, source.width_, source.height_,
                                    BytesPerPixel(), source.BytesPerPixel(), stride_, source.stride_});
}

}  // namespace zelvik
