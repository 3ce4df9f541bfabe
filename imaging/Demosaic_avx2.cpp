// Demosaic kernels in 32-pixel AVX2 groups (16 pixels for 16-bit samples); same bytes as SSE2.
#include "imaging/Demosaic.h"
#include "imaging/DemosaicDetail.h"

#pragma GCC push_options
#pragma GCC target("avx2")
#include "imaging/Simd256.h"

namespace zelvik {

namespace {
using simd::V256;
#include "imaging/DemosaicSimd.inl"

KernelFrame Frame(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                  uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride) {
    return KernelFrame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
}
}  // namespace

int DemosaicInteriorAvx2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                         uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    return detail::RunDemosaicInterior8(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                        KernelParam<BayerParams>(p1), detail::DemosaicVariant::kPortable,
                                        detail::VectorRows8{demosaic_simd::DemosaicRow8<V256>, V256::kBytes});
}

int DemosaicInteriorFast8Avx2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                              uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                              void*) {
    return detail::RunDemosaicInterior8(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                        KernelParam<BayerParams>(p1), detail::DemosaicVariant::kFast8,
                                        detail::VectorRows8{demosaic_simd::DemosaicRow8<V256>, V256::kBytes});
}

int DemosaicInteriorFast16Avx2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                               uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                               void*) {
    return detail::RunDemosaicInterior8(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                        KernelParam<BayerParams>(p1), detail::DemosaicVariant::kFast16,
                                        detail::VectorRows8{demosaic_simd::DemosaicRow8<V256>, V256::kBytes});
}

int DemosaicInterior16Avx2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                           uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                           void*) {
    return detail::RunDemosaicInterior16(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                         KernelParam<BayerParams>(p1), detail::VectorRows16{demosaic_simd::DemosaicRow16<V256>, V256::kBytes / 2});
}

int DemosaicBorderAvx2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                       uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    return detail::RunDemosaicBorder8(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                      KernelParam<BayerParams>(p1),
                                      detail::VectorRows8{demosaic_simd::DemosaicRow8<V256>, V256::kBytes});
}

int DemosaicBorder16Avx2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                         uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    return detail::RunDemosaicBorder16(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                       KernelParam<BayerParams>(p1),
                                       detail::VectorRows16{demosaic_simd::DemosaicRow16<V256>, V256::kBytes / 2});
}

}  // namespace zelvik
#pragma GCC pop_options
