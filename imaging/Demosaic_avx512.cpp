// Demosaic kernels for 32- and 64-bit destinations with AVX-512BW/VL byte-masked stores, which keep the
// fourth byte or word without reading it back; otherwise the AVX2 bodies, with the same bytes.
#include "imaging/Demosaic.h"
#include "imaging/DemosaicDetail.h"

#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512bw,avx512vl")
#include "imaging/Simd256.h"

namespace zelvik {

namespace {

struct V256Masked : simd::V256 {
    // Bytes 0-2 of every 4 (words 0-2 of every 4) are written; the rest of the destination is kept.
    static void StoreBgrx32(uint8_t* d, Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
        const Blocks blocks = Bgrx32Blocks(be, bo, ge, go, re, ro);
        for (int i = 0; i < 4; ++i) _mm256_mask_storeu_epi8(d + 32 * i, 0x77777777u, blocks.at[i]);
    }
    static void StoreBgrx64(uint8_t* d, Reg b, Reg g, Reg r) {
        const Blocks blocks = Bgrx64Blocks(b, g, r);
        for (int i = 0; i < 4; ++i) _mm256_mask_storeu_epi16(d + 32 * i, 0x7777, blocks.at[i]);
    }
};

#include "imaging/DemosaicSimd.inl"

KernelFrame Frame(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                  uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride) {
    return KernelFrame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
}

}  // namespace

int DemosaicInteriorAvx512(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                           uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    return detail::RunDemosaicInterior8(Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride),
                                        KernelParam<BayerParams>(p1), detail::DemosaicVariant::kPortable,
                                        detail::VectorRows8{demosaic_simd::DemosaicRow8<V256Masked>, V256Masked::kBytes});
}

int DemosaicInterior16Avx512(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                             uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1,
                             void*) {
    return detail::RunDemosaicInterior16(
        Frame(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride), KernelParam<BayerParams>(p1),
        detail::VectorRows16{demosaic_simd::DemosaicRow16<V256Masked>, V256Masked::kBytes / 2});
}

}  // namespace zelvik
#pragma GCC pop_options
