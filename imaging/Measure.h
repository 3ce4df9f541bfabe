// Measurement kernels: region mean and white balance.
#pragma once

#include <cstdint>

#include "imaging/Bayer.h"
#include "imaging/FrameKernel.h"

namespace zelvik {

// Mean level of the rectangle at the destination point, run with the buffer as source and destination.
// 8-bit: the byte; 16-bit: (v >> 2) & 0xFF. Returns sum / count, 0 for an empty rectangle.
int RegionMean8(const KernelFrame& f);
int RegionMean16(const KernelFrame& f);

// Result block of the white-balance kernels; the mode is their input.
struct WhiteBalanceResult {
    int32_t blue;
    int32_t green;
    int32_t red;
    BayerMode mode;  // input
};

// Green, blue and red means over the mosaic; blue = 100 gm / bm and red = 100 gm / rm, computed in the
// fixed order of double operations, green = 100. A frame without light in a group gives 100, 100, 100.
int MeasureWhiteBalance8(const KernelFrame& f, WhiteBalanceResult& result);
int MeasureWhiteBalance16(const KernelFrame& f, WhiteBalanceResult& result);

}  // namespace zelvik
