// Output conversion kernels: row reversal, 10-bit narrowing and widening, channel reordering, alpha, gray.
#pragma once

#include <cstdint>

#include "imaging/FrameKernel.h"

namespace zelvik {

// Each is a FrameKernel and returns 1. "Flipped" kernels write source row bottom-1-r to destination
// row r. 16-bit samples carry 10-bit values: narrowed as (v >> 2) & 0xFF, widened by 4 (gray) or 6
// (colour) bits. Pixels are blue, green, red; a fourth byte or word is kept unless stated.
#define ZELVIK_FRAME_KERNEL(name)                                                                                 \
    int name(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,     \
             uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2)

ZELVIK_FRAME_KERNEL(FlipRows);                // whole rows, min(strides) bytes, reversed
ZELVIK_FRAME_KERNEL(CopyBgr);                 // 24/32 -> 24
ZELVIK_FRAME_KERNEL(CopyBgrFlipped);          // 24/32 -> 24, reversed
ZELVIK_FRAME_KERNEL(Gray16To8);               // 16 -> 8
ZELVIK_FRAME_KERNEL(Gray16To8Flipped);        // 16 -> 8, reversed
ZELVIK_FRAME_KERNEL(Bgr48To24);               // 48/64 -> 24
ZELVIK_FRAME_KERNEL(Bgr48To24Flipped);        // 48/64 -> 24, reversed
ZELVIK_FRAME_KERNEL(BgrToRgb24);              // 24/32 -> 24/32, bytes 0 and 2 swapped
ZELVIK_FRAME_KERNEL(BgrxToBgra32);            // 32 -> 32, fourth byte complemented
ZELVIK_FRAME_KERNEL(Gray16Scale4);            // 16 -> 16, v << 4
ZELVIK_FRAME_KERNEL(Bgr48Scale6);             // 48 -> 48, v << 6
ZELVIK_FRAME_KERNEL(Bgr64Scale6Opaque);       // 64 -> 64, v << 6, fourth word 65535
ZELVIK_FRAME_KERNEL(BgrToRgb48Scale6);        // 48 -> 48, swapped, v << 6
ZELVIK_FRAME_KERNEL(BgrToRgb64Scale6Opaque);  // 64 -> 64, swapped, v << 6, fourth word 65535
ZELVIK_FRAME_KERNEL(BgrToGray8);              // 24 -> 8, (59 G + 30 R + 11 B) / 100
// 8 -> 32 through a colour table: p1 holds the address of a variable holding the address of 256 RgbQuad
// entries (null: the gray ramp). Writes blue, green, red and a zero fourth byte.
ZELVIK_FRAME_KERNEL(Indexed8ToBgrx);
ZELVIK_FRAME_KERNEL(Indexed8ToBgrxFlipped);  // the same, reversed

}  // namespace zelvik
