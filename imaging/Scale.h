// Row unpacking and nearest-neighbour resizing kernels.
#pragma once

#include <cstdint>

#include "imaging/FrameKernel.h"

namespace zelvik {

// In place: a frame delivered as rows of width x n bytes back to back (n = 1 or 2) is moved to the
// buffer's stride, last row and last pixel first. W and H are the rectangle's right and bottom edges.
int UnpackRows8(const KernelFrame& f);
int UnpackRows16(const KernelFrame& f);

// Nearest-neighbour resize; destination row i takes source memory row S.bottom - 1 - u, so the result
// is flipped vertically (the preview relies on it). Ratios in single precision, products in double.
int ScaleNearest8(const ScaledKernelFrame& f);
// Three bytes (blue, green, red) per pixel, stepping by each buffer's pixel size.
int ScaleNearest24(const ScaledKernelFrame& f);
// The same from 16-bit gray into 8 bits and from 48/64-bit colour into 24 bits, each sample narrowed as
// (v >> 2) & 0xFF on the way.
int ScaleNearest16To8(const ScaledKernelFrame& f);
int ScaleNearest48To24(const ScaledKernelFrame& f);

}  // namespace zelvik
