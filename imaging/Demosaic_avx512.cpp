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
        const Reg top = _mm256_set1_epi16(255);
        be = _mm256_min_epi16(be, top), bo = _mm256_min_epi16(bo, top), re = _mm256_min_epi16(re, top);
        ro = _mm256_min_epi16(ro, top);
        const Reg we = _mm256_or_si256(be, _mm256_slli_epi16(ge, 8));
        const Reg wo = _mm256_or_si256(bo, _mm256_slli_epi16(go, 8));
        const Reg e0 = _mm256_unpacklo_epi16(we, re), e1 = _mm256_unpackhi_epi16(we, re);
        const Reg o0 = _mm256_unpacklo_epi16(wo, ro), o1 = _mm256_unpackhi_epi16(wo, ro);
        const Reg p0 = _mm256_unpacklo_epi32(e0, o0);  // pixels 0-3 | 16-19
        const Reg p1 = _mm256_unpackhi_epi32(e0, o0);  // 4-7 | 20-23
        const Reg p2 = _mm256_unpacklo_epi32(e1, o1);  // 8-11 | 24-27
        const Reg p3 = _mm256_unpackhi_epi32(e1, o1);  // 12-15 | 28-31
        const __mmask32 m = 0x77777777u;
        _mm256_mask_storeu_epi8(d, m, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_mask_storeu_epi8(d + 32, m, _mm256_permute2x128_si256(p2, p3, 0x20));
        _mm256_mask_storeu_epi8(d + 64, m, _mm256_permute2x128_si256(p0, p1, 0x31));
        _mm256_mask_storeu_epi8(d + 96, m, _mm256_permute2x128_si256(p2, p3, 0x31));
    }
    static void StoreBgrx64(uint8_t* d, Reg b, Reg g, Reg r) {
        const Reg bg0 = _mm256_unpacklo_epi16(b, g), bg1 = _mm256_unpackhi_epi16(b, g);
        const Reg r0 = _mm256_unpacklo_epi16(r, _mm256_setzero_si256());
        const Reg r1 = _mm256_unpackhi_epi16(r, _mm256_setzero_si256());
        const Reg p0 = _mm256_unpacklo_epi32(bg0, r0);  // pixels 0,1 | 8,9
        const Reg p1 = _mm256_unpackhi_epi32(bg0, r0);  // 2,3 | 10,11
        const Reg p2 = _mm256_unpacklo_epi32(bg1, r1);  // 4,5 | 12,13
        const Reg p3 = _mm256_unpackhi_epi32(bg1, r1);  // 6,7 | 14,15
        const __mmask16 m = 0x7777;
        _mm256_mask_storeu_epi16(d, m, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_mask_storeu_epi16(d + 32, m, _mm256_permute2x128_si256(p2, p3, 0x20));
        _mm256_mask_storeu_epi16(d + 64, m, _mm256_permute2x128_si256(p0, p1, 0x31));
        _mm256_mask_storeu_epi16(d + 96, m, _mm256_permute2x128_si256(p2, p3, 0x31));
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
