// Hue/saturation of 8-bit colour rows, 8 pixels per AVX2 step; same bytes as the per-pixel form.
#include "imaging/Filters.h"

#pragma GCC push_options
#pragma GCC target("avx2")
#include <immintrin.h>

namespace zelvik {

namespace {

// Byte shuffles that gather one channel of 8 packed 3-byte pixels from bytes 0-15 and 16-23.
struct ChannelMasks {
    alignas(16) int8_t lo[3][16];
    alignas(16) int8_t hi[3][16];
};
constexpr ChannelMasks MakeChannelMasks() {
    ChannelMasks m{};
    for (int k = 0; k < 3; ++k)
        for (int p = 0; p < 16; ++p) {
            const int idx = 3 * p + k;
            m.lo[k][p] = static_cast<int8_t>(p < 8 && idx < 16 ? idx : -128);
            m.hi[k][p] = static_cast<int8_t>(p < 8 && idx >= 16 ? idx - 16 : -128);
        }
    return m;
}
constexpr ChannelMasks kChannels = MakeChannelMasks();

__m256i Channel24(__m128i lo, __m128i hi, int k) {
    const __m128i bytes =
        _mm_or_si128(_mm_shuffle_epi8(lo, _mm_load_si128(reinterpret_cast<const __m128i*>(kChannels.lo[k]))),
                     _mm_shuffle_epi8(hi, _mm_load_si128(reinterpret_cast<const __m128i*>(kChannels.hi[k]))));
    return _mm256_cvtepu8_epi32(bytes);
}

// 32-bit lanes, one pixel each, following the per-pixel steps: channel order, chroma, fraction and
// sector; the six sectors' span masks and hue steps come from small tables indexed by the sector.
// Tables must be those of lightness 0 (L[sum] = sum, M[sum] = min(sum, 511 - sum)) with
// satScaled x 255 + 0x8000 below 2^31.
int32_t HueSaturationRowAvx2(uint8_t* out, const uint8_t* in, int32_t count, uint32_t pitch,
                             const HueSaturationTables& tables, int32_t sector, int32_t fraction) {
    const __m256i one = _mm256_set1_epi32(1), byteMask = _mm256_set1_epi32(0xFF);
    const __m256i satScaled = _mm256_set1_epi32(tables.satScaled);
    const __m256i half = _mm256_set1_epi32(0x8000), round = _mm256_set1_epi32(128);
    const __m256i qa = _mm256_set1_epi32(sector), ra = _mm256_set1_epi32(fraction);
    // sector -> channel gets the span (-1) / moves by the hue step (sign)
    const __m256i span0 = _mm256_setr_epi32(-1, 0, 0, 0, -1, -1, 0, 0);
    const __m256i span1 = _mm256_setr_epi32(0, 0, -1, -1, -1, 0, 0, 0);
    const __m256i span2 = _mm256_setr_epi32(-1, -1, -1, 0, 0, 0, 0, 0);
    const __m256i step0 = _mm256_setr_epi32(-1, 0, 0, 1, 0, 0, 0, 0);
    const __m256i step1 = _mm256_setr_epi32(0, 1, 0, 0, -1, 0, 0, 0);
    const __m256i step2 = _mm256_setr_epi32(0, 0, -1, 0, 0, 1, 0, 0);
    // B G R 0 per lane -> 12 bytes per half, then the two halves' 3 words side by side
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8,
                                          9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    const __m256i six = _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0);
    const int* reciprocal = reinterpret_cast<const int*>(tables.reciprocal.data());
    int32_t x = 0;
    for (; x + 8 <= count; x += 8, in += 8 * pitch, out += 8 * pitch) {
        __m256i c0, c1, c2, keep = _mm256_setzero_si256();
        if (pitch == 3) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
            const __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + 16));
            c0 = Channel24(lo, hi, 0), c1 = Channel24(lo, hi, 1), c2 = Channel24(lo, hi, 2);
        } else {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
            c0 = _mm256_and_si256(v, byteMask);
            c1 = _mm256_and_si256(_mm256_srli_epi32(v, 8), byteMask);
            c2 = _mm256_and_si256(_mm256_srli_epi32(v, 16), byteMask);
            keep = _mm256_andnot_si256(_mm256_set1_epi32(0xFFFFFF), v);
        }
        // green above red: max green, min red, sector 3, diff = blue - red; else max red, sector 1,
        // diff = green - blue; blue above both: max blue, sector 5, diff = red - green.
        const __m256i greenAbove = _mm256_cmpgt_epi32(c1, c2);
        __m256i mx = _mm256_blendv_epi8(c2, c1, greenAbove);
        __m256i mn = _mm256_blendv_epi8(c1, c2, greenAbove);
        __m256i sel = _mm256_blendv_epi8(one, _mm256_set1_epi32(3), greenAbove);
        __m256i diff = _mm256_blendv_epi8(_mm256_sub_epi32(c1, c0), _mm256_sub_epi32(c0, c2), greenAbove);
        const __m256i blueAbove = _mm256_cmpgt_epi32(c0, mx);
        mx = _mm256_blendv_epi8(mx, c0, blueAbove);
        sel = _mm256_blendv_epi8(sel, _mm256_set1_epi32(5), blueAbove);
        diff = _mm256_blendv_epi8(diff, _mm256_sub_epi32(c2, c1), blueAbove);
        mn = _mm256_min_epi32(mn, c0);
        const __m256i C = _mm256_sub_epi32(mx, mn), sum = _mm256_add_epi32(mx, mn);
        const __m256i negative = _mm256_cmpgt_epi32(_mm256_setzero_si256(), diff);
        sel = _mm256_add_epi32(sel, negative);
        diff = _mm256_add_epi32(diff, _mm256_and_si256(negative, C));
        // chroma limited so that no channel leaves 0..255; base and span of the output channels
        const __m256i limit = _mm256_min_epi32(sum, _mm256_sub_epi32(_mm256_set1_epi32(511), sum));
        const __m256i chroma = _mm256_srli_epi32(_mm256_add_epi32(half, _mm256_mullo_epi32(C, satScaled)), 16);
        const __m256i c2Limited = _mm256_min_epi32(chroma, limit);
        const __m256i base = _mm256_srai_epi32(_mm256_sub_epi32(sum, c2Limited), 1);
        const __m256i span = _mm256_sub_epi32(_mm256_srai_epi32(_mm256_add_epi32(c2Limited, sum), 1), base);
        // hue fraction within the sector, rotated by the hue angle
        const __m256i rec = _mm256_i32gather_epi32(reciprocal, C, 4);
        __m256i f = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(diff, rec), half), 16);
        sel = _mm256_add_epi32(sel, qa);
        f = _mm256_add_epi32(f, ra);
        const __m256i wrap = _mm256_cmpgt_epi32(f, _mm256_set1_epi32(254));
        f = _mm256_sub_epi32(f, _mm256_and_si256(wrap, _mm256_set1_epi32(255)));
        sel = _mm256_sub_epi32(sel, wrap);
        sel = _mm256_sub_epi32(sel, _mm256_and_si256(_mm256_cmpgt_epi32(sel, _mm256_set1_epi32(5)), _mm256_set1_epi32(6)));
        const __m256i t = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(span, f), round), 8);
        auto channel = [&](__m256i spanTable, __m256i stepTable) {
            return _mm256_add_epi32(_mm256_add_epi32(base, _mm256_and_si256(span, _mm256_permutevar8x32_epi32(spanTable, sel))),
                                    _mm256_sign_epi32(t, _mm256_permutevar8x32_epi32(stepTable, sel)));
        };
        const __m256i o0 = channel(span0, step0), o1 = channel(span1, step1), o2 = channel(span2, step2);
        const __m256i bgr = _mm256_or_si256(_mm256_or_si256(o0, _mm256_slli_epi32(o1, 8)), _mm256_slli_epi32(o2, 16));
        if (pitch == 3) {
            const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(bgr, pack), join);
            _mm256_maskstore_epi32(reinterpret_cast<int*>(out), six, packed);
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_or_si256(bgr, keep));
        }
    }
    return x;
}

}  // namespace

extern const HueSaturationRows kHueSaturationAvx2{VectorForm::kAvx2, HueSaturationRowAvx2};

}  // namespace zelvik
#pragma GCC pop_options
