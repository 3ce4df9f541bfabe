// Measurement kernels (region mean, white balance) and the hot-pixel correction of raw mosaics.
#pragma once

#include <cstdint>

#include "imaging/Bayer.h"
#include "imaging/CpuInfo.h"
#include "imaging/FrameKernel.h"

namespace zelvik {

// Mean level of the rectangle at the destination point, run with the buffer as source and destination.
// 8-bit: the byte; 16-bit: (v >> 2) & 0xFF. Returns sum / count, 0 for an empty rectangle.
int RegionMean8(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);
int RegionMean16(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                 uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);

// Result block of the white-balance kernels (p1: address of a variable holding its address).
struct WhiteBalanceResult {
    int32_t blue;
    int32_t green;
    int32_t red;
    BayerMode mode;  // input
};

// Green, blue and red means over the mosaic; blue = 100 gm / bm and red = 100 gm / rm, computed in the
// fixed order of double operations, green = 100. A frame without light in a group gives 100, 100, 100.
int MeasureWhiteBalance8(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                         uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);
int MeasureWhiteBalance16(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                          uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                          void* p2);

// Bright outliers of an 8-bit mosaic, in place on the destination rectangle: a sample at least threshold
// above the mean of its four same-colour neighbours, whose demosaiced colour differs by more than 30 in
// at least two channel pairs, becomes that mean. p1: BayerParams, p2: int32 threshold (each through the
// address of a variable holding its address). Returns the number of samples replaced.
int CorrectHotPixels(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                     uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);
#if defined(__x86_64__) || defined(__i386__)
// The same result; candidates screened 16 or 32 samples at a time.
int CorrectHotPixelsSse2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t, uint32_t,
                         uint32_t, void*, void*);
int CorrectHotPixelsAvx2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t, uint32_t,
                         uint32_t, void*, void*);
#endif
FrameKernel ChooseHotPixelKernel(const CpuInfo& cpu);

namespace detail {
// Screens [jFrom, jTo) of row i in groups; returns the first column of the first group that holds a
// candidate (or jTo's group limit), so that the caller treats from there one sample at a time.
using HotPixelScreenFn = int32_t (*)(const uint8_t* row, size_t stride, int32_t jFrom, int32_t jTo, int32_t threshold);
int RunCorrectHotPixels(const KernelFrame& f, const BayerParams* params, int32_t threshold,
                        HotPixelScreenFn screen, int32_t group);
}  // namespace detail

}  // namespace zelvik
