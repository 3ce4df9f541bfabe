// Kernel signatures shared by every pixel operation and by the FrameBuffer runners.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelvik {

// Rectangle: columns left..right-1, rows top..bottom-1.
struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// A one-to-one pixel operation, run by FrameBuffer::Apply after clipping. The rectangle is in source
// memory rows; (dstX, dstY) is where its first pixel lands in the destination. p1 and p2 are passed
// through: by convention p1 is the address of a variable holding the address of the parameter block.
using FrameKernel = int (*)(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                            uint16_t dstBytesPerPixel, uint16_t srcBytesPerPixel, uint32_t dstStride,
                            uint32_t srcStride, void* p1, void* p2);

// A resizing operation, run by FrameBuffer::ApplyScaled with two independent rectangles.
using ScaledFrameKernel = int (*)(uint8_t* dst, const uint8_t* src, const Rect* dstRect, const Rect* srcRect,
                                  int32_t dstWidth, int32_t dstHeight, int32_t srcWidth, int32_t srcHeight,
                                  uint16_t dstBytesPerPixel, uint16_t srcBytesPerPixel, uint32_t dstStride,
                                  uint32_t srcStride, void* p1, void* p2);

// The parameter block behind a p1/p2 argument (the address of a variable holding its address).
template <class T>
T* KernelParam(void* p) {
    return p ? *static_cast<T**>(p) : nullptr;
}

// The eleven FrameKernel arguments unpacked into one geometry record.
struct KernelFrame {
    uint8_t* dst;
    const uint8_t* src;
    int32_t left, top, width, height;  // source rectangle
    int32_t dstX, dstY;
    uint32_t dstBpp, srcBpp;
    size_t dstStride, srcStride;

    KernelFrame(uint8_t* d, const uint8_t* s, const Rect* r, int32_t dx, int32_t dy, uint16_t dbpp, uint16_t sbpp,
                uint32_t dstride, uint32_t sstride)
        : dst(d), src(s), left(r->left), top(r->top), width(r->right - r->left), height(r->bottom - r->top),
          dstX(dx), dstY(dy), dstBpp(dbpp), srcBpp(sbpp), dstStride(dstride), srcStride(sstride) {}

    // Source row i of the rectangle (memory row top + i), at its first column.
    const uint8_t* SrcRow(int32_t i) const {
        return src + static_cast<size_t>(top + i) * srcStride + static_cast<size_t>(left) * srcBpp;
    }
    // Destination row that source row i lands on, at the destination column.
    uint8_t* DstRow(int32_t i) const {
        return dst + static_cast<size_t>(dstY + i) * dstStride + static_cast<size_t>(dstX) * dstBpp;
    }
};

}  // namespace zelvik
