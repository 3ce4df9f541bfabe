// Demosaic kernels in 16-pixel SSE2 groups (8 pixels for 16-bit samples).
#include "imaging/Demosaic.h"
#include "imaging/DemosaicDetail.h"
#include "imaging/Simd128.h"

namespace zelvik {

namespace {
using simd::V128;
#include "imaging/DemosaicSimd.inl"

KernelFrame Frame(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                  uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride) {
    return KernelFrame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
}
}  // namespace

int DemosaicInteriorSse2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                         uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    return detail::RunDemosaicInterior8(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                        KernelParam<BayerParams>(p1), detail::DemosaicVariant::kPortable,
                                        detail::VectorRows8{demosaic_simd::DemosaicRow8<V128>, V128::kBytes});
}

int DemosaicInteriorFast8(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                          uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    return detail::RunDemosaicInterior8(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                        KernelParam<BayerParams>(p1), detail::DemosaicVariant::kFast8,
                                        detail::VectorRows8{demosaic_simd::DemosaicRow8<V128>, V128::kBytes});
}

int DemosaicInteriorFast16(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                           uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                           void*) {
    return detail::RunDemosaicInterior8(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                        KernelParam<BayerParams>(p1), detail::DemosaicVariant::kFast16,
                                        detail::VectorRows8{demosaic_simd::DemosaicRow8<V128>, V128::kBytes});
}

int DemosaicInterior16Sse2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                           uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                           void*) {
    return detail::RunDemosaicInterior16(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                         KernelParam<BayerParams>(p1), detail::VectorRows16{demosaic_simd::DemosaicRow16<V128>, V128::kBytes / 2});
}

int DemosaicBorderSse2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                       uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    return detail::RunDemosaicBorder8(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                      KernelParam<BayerParams>(p1),
                                      detail::VectorRows8{demosaic_simd::DemosaicRow8<V128>, V128::kBytes});
}

int DemosaicBorder16Sse2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                         uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    return detail::RunDemosaicBorder16(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                       KernelParam<BayerParams>(p1),
                                       detail::VectorRows16{demosaic_simd::DemosaicRow16<V128>, V128::kBytes / 2});
}

}  // namespace zelvik
