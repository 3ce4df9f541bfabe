// Byte table lookups with AVX-512 VBMI: 64 bytes through a 256-entry table in two permutes and a blend.
#include "imaging/Filters.h"

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")
#include <immintrin.h>

namespace zelvik {

namespace {

void LutBytesAvx512Vbmi(uint8_t* out, const uint8_t* in, size_t count, const uint8_t* table) {
    // Entries 0-127 and 128-255 each fill two registers; bit 7 of the index picks the pair.
    const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
    auto lookup = [&](__m512i x) {
        const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, x, t3);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
    };
    size_t k = 0;
    for (; k + 128 <= count; k += 128) {
        const __m512i a = _mm512_loadu_si512(in + k), b = _mm512_loadu_si512(in + k + 64);
        _mm512_storeu_si512(out + k, lookup(a));
        _mm512_storeu_si512(out + k + 64, lookup(b));
    }
    for (; k < count; k += 64) {
        const size_t n = count - k;
        const __mmask64 m = n >= 64 ? ~__mmask64{0} : ((__mmask64{1} << n) - 1);
        _mm512_mask_storeu_epi8(out + k, m, lookup(_mm512_maskz_loadu_epi8(m, in + k)));
    }
}

}  // namespace

extern const LutRows kLutAvx512{VectorForm::kAvx512, LutBytesAvx512Vbmi};

}  // namespace zelvik
#pragma GCC pop_options
