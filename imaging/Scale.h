// Row unpacking and nearest-neighbour resizing kernels.
#pragma once

#include <cstdint>

#include "imaging/FrameKernel.h"

namespace zelvik {

// In place: a frame delivered as rows of width x n bytes back to back (n = 1 or 2) is moved to the
// buffer's stride, last row and last pixel first. W and H are the rectangle's right and bottom edges.
int UnpackRows8(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);
int UnpackRows16(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                 uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);

// Nearest-neighbour resize; destination row i takes source memory row S.bottom - 1 - u, so the result
// is flipped vertically (the preview relies on it). Ratios in single precision, products in double.
int ScaleNearest8(uint8_t* dst, const uint8_t* src, const Rect* dstRect, const Rect* srcRect, int32_t dstWidth,
                  int32_t dstHeight, int32_t srcWidth, int32_t srcHeight, uint16_t dstBpp, uint16_t srcBpp,
                  uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);
// Three bytes (blue, green, red) per pixel, stepping by each buffer's pixel size.
int ScaleNearest24(uint8_t* dst, const uint8_t* src, const Rect* dstRect, const Rect* srcRect, int32_t dstWidth,
                   int32_t dstHeight, int32_t srcWidth, int32_t srcHeight, uint16_t dstBpp, uint16_t srcBpp,
                   uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);

}  // namespace zelvik
