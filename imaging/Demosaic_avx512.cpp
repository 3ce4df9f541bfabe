// Demosaic bodies whose 32- and 64-bit stores are AVX-512BW/VL byte-masked, which keeps the fourth byte or
// word without reading it back; otherwise the AVX2 bodies, with the same bytes.
#include "imaging/DemosaicDetail.h"

#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512bw,avx512vl")
#include "imaging/Simd256.h"

namespace zelvik::detail {

namespace {

struct V256Masked : simd::V256 {
    // Bytes 0-2 of every 4 (words 0-2 of every 4) are written; the rest of the destination is kept.
    static void StoreBgrx32(uint8_t* d, Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
        const Blocks blocks = Bgrx32Blocks(be, bo, ge, go, re, ro);
        PrefetchAhead(d);
        for (int i = 0; i < 4; ++i) _mm256_mask_storeu_epi8(d + 32 * i, 0x77777777u, blocks.at[i]);
    }
    static void StoreBgrx64(uint8_t* d, Reg b, Reg g, Reg r) {
        const Blocks blocks = Bgrx64Blocks(b, g, r);
        PrefetchAhead(d);
        for (int i = 0; i < 4; ++i) _mm256_mask_storeu_epi16(d + 32 * i, 0x7777, blocks.at[i]);
    }
};

#include "imaging/DemosaicSimd.inl"

}  // namespace

extern const DemosaicRows kDemosaicAvx512{VectorForm::kAvx512,
                                          {demosaic_simd::DemosaicRow8<V256Masked>, V256Masked::kBytes},
                                          {demosaic_simd::DemosaicRow16<V256Masked>, V256Masked::kBytes / 2}};

}  // namespace zelvik::detail
#pragma GCC pop_options
