// The geometry every pixel kernel receives from FrameBuffer::Apply and ApplyScaled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zelvik {

// Rectangle: columns left..right-1, rows top..bottom-1.
struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// A one-to-one pixel operation's view of its two buffers after clipping: the source rectangle in memory
// rows and the destination point its first pixel lands on. A kernel is a function
//     int Kernel(const KernelFrame&, Params...)
// run by FrameBuffer::Apply, which passes the caller's parameters through with their own types.
struct KernelFrame {
    uint8_t* dst;
    const uint8_t* src;
    Rect rect;  // source rectangle
    int32_t left, top, width, height;
    int32_t dstX, dstY;
    uint32_t dstBpp, srcBpp;  // bytes per pixel
    size_t dstStride, srcStride;

    KernelFrame(uint8_t* d, const uint8_t* s, const Rect& r, int32_t dx, int32_t dy, uint32_t dbpp,
                uint32_t sbpp, size_t dstride, size_t sstride)
        : dst(d),
          src(s),
          rect(r),
          left(r.left),
          top(r.top),
          width(r.right - r.left),
          height(r.bottom - r.top),
          dstX(dx),
          dstY(dy),
          dstBpp(dbpp),
          srcBpp(sbpp),
          dstStride(dstride),
          srcStride(sstride) {}

    // Source row i of the rectangle (memory row top + i), at its first column.
    const uint8_t* SrcRow(int32_t i) const {
        return src + static_cast<size_t>(top + i) * srcStride + static_cast<size_t>(left) * srcBpp;
    }
    // Destination row that source row i lands on, at the destination column.
    uint8_t* DstRow(int32_t i) const {
        return dst + static_cast<size_t>(dstY + i) * dstStride + static_cast<size_t>(dstX) * dstBpp;
    }
};

// A resizing operation's view: two independent rectangles inside their buffers (checked by
// FrameBuffer::ApplyScaled), run as int Kernel(const ScaledKernelFrame&).
struct ScaledKernelFrame {
    uint8_t* dst;
    const uint8_t* src;
    Rect dstRect, srcRect;
    int32_t dstWidth, dstHeight, srcWidth, srcHeight;
    uint32_t dstBpp, srcBpp;
    size_t dstStride, srcStride;
};

template <class... Params>
using FrameKernelOf = int (*)(const KernelFrame&, Params...);
using ScaledFrameKernel = int (*)(const ScaledKernelFrame&);

// Little-endian 16-bit samples, read and written without alignment assumptions.
inline uint16_t LoadWord(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void StoreWord(uint8_t* p, int32_t v) {
    const auto w = static_cast<uint16_t>(v);
    std::memcpy(p, &w, 2);
}

}  // namespace zelvik
