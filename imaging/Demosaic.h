// Bayer demosaic kernels (8- and 16-bit), their processor-dependent choice and the per-frame pass.
#pragma once

#include <cstdint>

#include "imaging/Bayer.h"
#include "imaging/CpuInfo.h"
#include "imaging/FrameBuffer.h"
#include "imaging/FrameKernel.h"

namespace zelvik {

// All are FrameKernels run through Apply on the destination with the raw buffer as source; p1 is the
// address of a variable holding the address of a BayerParams. Output pixel (x, r) is the colour at the
// centre of the block of columns x-1, x and rows r-1, r. All return 1.

// Interior rows and columns 2 .. n-3, 8-bit mosaic to 24/32 bits: (S x g) >> 11, limited to 255.
int DemosaicInterior(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                     uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);
// Interior, 24-bit destination, gains <= 200: columns 14 .. W-3 computed as (floor(S/16) x g) >> 7,
// the rest as DemosaicInterior.
int DemosaicInteriorFast8(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                          uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                          void* p2);
// As Fast8 but the fast columns are 14 .. X0+1 with X0 = 16 x ((W-4) / 16).
int DemosaicInteriorFast16(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                           uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                           void* p2);
// The two outermost rows and columns, with same-colour samples four pixels inwards for missing ones.
int DemosaicBorder(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                   uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);
// 10-bit samples in 16-bit words to 48/64 bits; red and blue 1023 when S x g > 0x1FFFFF.
int DemosaicInterior16(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                       uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                       void* p2);
int DemosaicBorder16(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                     uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);

// Vector implementations with the same bytes as the kernel they are named after.
#if defined(__x86_64__) || defined(__i386__)
int DemosaicInteriorSse2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t, uint32_t,
                         uint32_t, void*, void*);
int DemosaicInteriorAvx2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t, uint32_t,
                         uint32_t, void*, void*);
int DemosaicInteriorFast8Avx2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t,
                              uint32_t, uint32_t, void*, void*);
int DemosaicInteriorFast16Avx2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t,
                               uint32_t, uint32_t, void*, void*);
int DemosaicInterior16Sse2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t,
                           uint32_t, uint32_t, void*, void*);
int DemosaicInterior16Avx2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t,
                           uint32_t, uint32_t, void*, void*);
// Masked-store forms for 32/64-bit destinations (AVX-512BW/VL); other depths as the AVX2 forms.
int DemosaicInteriorAvx512(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t, uint32_t,
                           uint32_t, void*, void*);
int DemosaicInterior16Avx512(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t,
                             uint32_t, uint32_t, void*, void*);
int DemosaicBorderSse2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t, uint32_t,
                       uint32_t, void*, void*);
int DemosaicBorderAvx2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t, uint32_t,
                       uint32_t, void*, void*);
int DemosaicBorder16Sse2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t, uint32_t,
                         uint32_t, void*, void*);
int DemosaicBorder16Avx2(uint8_t*, const uint8_t*, const Rect*, int32_t, int32_t, uint16_t, uint16_t, uint32_t,
                         uint32_t, void*, void*);
#endif

// The forms chosen once for a processor.
struct DemosaicKernels {
    FrameKernel interior;      // portable arithmetic (32-bit destinations, gains above 200)
    FrameKernel fastInterior;  // the processor's choice for 24-bit destinations with gains <= 200
    FrameKernel border;
    FrameKernel interior16;
    FrameKernel border16;
};

// Fast16 when SSE3 or SSE2 is reported and usable, else Fast8 with MMX, else the portable interior;
// each in the widest usable implementation.
DemosaicKernels ChooseDemosaicKernels(const CpuInfo& cpu);
// The interior kernel a frame takes: the portable one for 32-bit destinations or any gain above 200.
FrameKernel SelectDemosaicInterior(const DemosaicKernels& kernels, uint16_t destBitsPerPixel,
                                   const BayerParams& params);

// Demosaics source into destination: 16-bit sources through the 16-bit pair, 8-bit sources through the
// selected interior, then the border. White-balance measurement is the caller's (MeasureWhiteBalance*).
int DemosaicPass(FrameBuffer& destination, FrameBuffer& source, const BayerParams& params,
                 const DemosaicKernels& kernels);

}  // namespace zelvik
