// Output conversion kernels: row reversal, 10-bit narrowing and widening, channel reordering, alpha, gray.
#pragma once

#include <cstdint>

#include "imaging/FrameKernel.h"

namespace zelvik {

struct RgbQuad;

// Each runs through FrameBuffer::Apply and returns 1. "Flipped" kernels write source row bottom-1-r to destination
// row r. 16-bit samples carry 10-bit values: narrowed as (v >> 2) & 0xFF, widened by 4 (gray) or 6
// (colour) bits. Pixels are blue, green, red; a fourth byte or word is kept unless stated.
int FlipRows(const KernelFrame& f);                // whole rows, min(strides) bytes, reversed
int CopyBgr(const KernelFrame& f);                 // 24/32 -> 24
int CopyBgrFlipped(const KernelFrame& f);          // 24/32 -> 24, reversed
int Gray16To8(const KernelFrame& f);               // 16 -> 8
int Bgr48To24(const KernelFrame& f);               // 48/64 -> 24
int Bgr48To24Flipped(const KernelFrame& f);        // 48/64 -> 24, reversed
int BgrToRgb24(const KernelFrame& f);              // 24/32 -> 24/32, bytes 0 and 2 swapped
int BgrxToBgra32(const KernelFrame& f);            // 32 -> 32, fourth byte complemented
int Gray16Scale4(const KernelFrame& f);            // 16 -> 16, v << 4
int Bgr48Scale6(const KernelFrame& f);             // 48 -> 48, v << 6
int Bgr64Scale6Opaque(const KernelFrame& f);       // 64 -> 64, v << 6, fourth word 65535
int BgrToRgb48Scale6(const KernelFrame& f);        // 48 -> 48, swapped, v << 6
int BgrToRgb64Scale6Opaque(const KernelFrame& f);  // 64 -> 64, swapped, v << 6, fourth word 65535
int BgrToGray8(const KernelFrame& f);              // 24 -> 8, (59 G + 30 R + 11 B) / 100
// 8 -> 32 through a colour table of 256 RgbQuad entries (null: the gray ramp). Writes blue, green, red and
// a zero fourth byte.
int Indexed8ToBgrx(const KernelFrame& f, const RgbQuad* table);
int Indexed8ToBgrxFlipped(const KernelFrame& f, const RgbQuad* table);  // the same, reversed

}  // namespace zelvik
