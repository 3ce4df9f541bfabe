// Internal: 128-bit SSE2 register helpers and the planar-to-BGR stores of the vector kernels.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace zelvik::simd {
namespace {

// Samples travel in 16-bit lanes; 8-bit kernels split each 16-byte group into even and odd pixels.
struct V128 {
    using Reg = __m128i;
    static constexpr int kBytes = 16;

    static Reg Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void Store(void* p, Reg v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static Reg Zero() { return _mm_setzero_si128(); }
    static Reg Set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
    static Reg Set32(int v) { return _mm_set1_epi32(v); }
    static Reg Add16(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg Sub16(Reg a, Reg b) { return _mm_sub_epi16(a, b); }
    static Reg And(Reg a, Reg b) { return _mm_and_si128(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm_or_si128(a, b); }
    static Reg AndNot(Reg a, Reg b) { return _mm_andnot_si128(a, b); }  // ~a & b
    template <int n>
    static Reg Srli16(Reg a) { return _mm_srli_epi16(a, n); }
    template <int n>
    static Reg Slli16(Reg a) { return _mm_slli_epi16(a, n); }
    template <int n>
    static Reg Srai16(Reg a) { return _mm_srai_epi16(a, n); }
    static Reg MulLo16(Reg a, Reg b) { return _mm_mullo_epi16(a, b); }
    static Reg MulHiU16(Reg a, Reg b) { return _mm_mulhi_epu16(a, b); }
    static Reg MulHi16(Reg a, Reg b) { return _mm_mulhi_epi16(a, b); }
    static Reg Min16(Reg a, Reg b) { return _mm_min_epi16(a, b); }
    static Reg Max16(Reg a, Reg b) { return _mm_max_epi16(a, b); }
    static Reg CmpGt16(Reg a, Reg b) { return _mm_cmpgt_epi16(a, b); }
    static Reg CmpEq16(Reg a, Reg b) { return _mm_cmpeq_epi16(a, b); }
    // mask ? a : b, per bit
    static Reg Select(Reg mask, Reg a, Reg b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); }
    static bool AnyNonZero(Reg v) { return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) != 0xFFFF; }
    static Reg MinU8(Reg a, Reg b) { return _mm_min_epu8(a, b); }
    static Reg SubsU8(Reg a, Reg b) { return _mm_subs_epu8(a, b); }
    static Reg Set8(int v) { return _mm_set1_epi8(static_cast<char>(v)); }
    // Lane shifts across neighbouring groups: out[k] = cur[k-1] (out[0] = prev[last]), by one or two
    // 16-bit lanes; ShiftDown16: out[k] = cur[k+1] (out[last] = next[0]).
    static Reg ShiftUp16(Reg prev, Reg cur) { return _mm_or_si128(_mm_slli_si128(cur, 2), _mm_srli_si128(prev, 14)); }
    static Reg ShiftUp32(Reg prev, Reg cur) { return _mm_or_si128(_mm_slli_si128(cur, 4), _mm_srli_si128(prev, 12)); }
    static Reg ShiftDown16(Reg cur, Reg next) { return _mm_or_si128(_mm_srli_si128(cur, 2), _mm_slli_si128(next, 14)); }
    // Bytes to 16-bit lanes: low half, high half.
    static Reg WidenLo8(Reg v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
    static Reg WidenHi8(Reg v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }
    // 16-bit lanes (0..255) back to bytes.
    static Reg Narrow8(Reg lo, Reg hi) { return _mm_packus_epi16(lo, hi); }
    // kBytes / 2 bytes to as many 16-bit lanes, in memory order; and back (values 0..255).
    static Reg LoadWiden8(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    }
    static void StoreNarrow8(uint8_t* p, Reg v) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
    }

    // Four 4-byte pixels whose fourth byte (or two 8-byte pixels whose fourth word) is zero, packed to
    // their first 12 bytes: each 64-bit half keeps 6 bytes, the high half moves down by 2.
    static Reg Pack6Per64(Reg q) {
        return _mm_or_si128(_mm_and_si128(q, _mm_set_epi64x(0, -1)),
                            _mm_srli_si128(_mm_and_si128(q, _mm_set_epi64x(-1, 0)), 2));
    }
    // Four 4-byte pixels B G R 0 to their 12 bytes: B G R 0 | B G R 0 per 64 bits -> 6 bytes per 64 bits.
    static Reg Pack12(Reg p) {
        return Pack6Per64(_mm_or_si128(_mm_and_si128(p, _mm_set1_epi64x(0xFFFFFFFF)), _mm_slli_epi64(_mm_srli_epi64(p, 32), 24)));
    }
    // Four 12-byte pieces to 48 consecutive bytes.
    static void Store4x12(uint8_t* d, Reg c0, Reg c1, Reg c2, Reg c3) {
        Store(d, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
        Store(d + 16, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
        Store(d + 32, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
    }

    // Even/odd pixel lanes (values up to 0x7FFF, limited to 255 here) to four registers of 4-byte
    // pixels B, G, R, 0.
    static void ToBgrx(Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro, Reg p[4]) {
        const Reg top = _mm_set1_epi16(255);
        be = _mm_min_epi16(be, top), bo = _mm_min_epi16(bo, top), re = _mm_min_epi16(re, top), ro = _mm_min_epi16(ro, top);
        const Reg we = _mm_or_si128(be, _mm_slli_epi16(ge, 8));  // even pixels: B | G << 8
        const Reg wo = _mm_or_si128(bo, _mm_slli_epi16(go, 8));
        const Reg e0 = _mm_unpacklo_epi16(we, re), e1 = _mm_unpackhi_epi16(we, re);  // B G R 0, even pixels
        const Reg o0 = _mm_unpacklo_epi16(wo, ro), o1 = _mm_unpackhi_epi16(wo, ro);
        p[0] = _mm_unpacklo_epi32(e0, o0);  // pixels 0..3
        p[1] = _mm_unpackhi_epi32(e0, o0);  // 4..7
        p[2] = _mm_unpacklo_epi32(e1, o1);  // 8..11
        p[3] = _mm_unpackhi_epi32(e1, o1);  // 12..15
    }
    // 16 pixels of 3 bytes.
    static void StoreBgr24(uint8_t* d, Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
        Reg p[4];
        ToBgrx(be, bo, ge, go, re, ro, p);
        Store4x12(d, Pack12(p[0]), Pack12(p[1]), Pack12(p[2]), Pack12(p[3]));
    }
    // 16 pixels of 4 bytes; the fourth byte keeps what the destination held.
    static void StoreBgrx32(uint8_t* d, Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
        Reg p[4];
        ToBgrx(be, bo, ge, go, re, ro, p);
        const Reg keep = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        _mm_prefetch(reinterpret_cast<const char*>(d + 4096), _MM_HINT_T0);  // as V256::PrefetchAhead
        for (int k = 0; k < 4; ++k) Store(d + 16 * k, _mm_or_si128(p[k], _mm_and_si128(Load(d + 16 * k), keep)));
    }
    // 8 pixels of 16-bit B, G, R to four registers of two 8-byte pixels B G R 0.
    static void ToBgrx16(Reg b, Reg g, Reg r, Reg p[4]) {
        const Reg bg0 = _mm_unpacklo_epi16(b, g), bg1 = _mm_unpackhi_epi16(b, g);
        const Reg r0 = _mm_unpacklo_epi16(r, _mm_setzero_si128()), r1 = _mm_unpackhi_epi16(r, _mm_setzero_si128());
        p[0] = _mm_unpacklo_epi32(bg0, r0);  // pixels 0, 1
        p[1] = _mm_unpackhi_epi32(bg0, r0);  // 2, 3
        p[2] = _mm_unpacklo_epi32(bg1, r1);  // 4, 5
        p[3] = _mm_unpackhi_epi32(bg1, r1);  // 6, 7
    }
    static void StoreBgr48(uint8_t* d, Reg b, Reg g, Reg r) {
        Reg p[4];
        ToBgrx16(b, g, r, p);
        Store4x12(d, Pack6Per64(p[0]), Pack6Per64(p[1]), Pack6Per64(p[2]), Pack6Per64(p[3]));
    }
    static constexpr bool kCanStream48 = false;
    static void StreamBgr48(uint8_t* d, Reg b, Reg g, Reg r) { StoreBgr48(d, b, g, r); }
    static void StreamFence() {}
    static void StoreBgrx64(uint8_t* d, Reg b, Reg g, Reg r) {
        Reg p[4];
        ToBgrx16(b, g, r, p);
        const Reg keep = _mm_set1_epi64x(static_cast<long long>(0xFFFF000000000000ull));
        for (int k = 0; k < 4; ++k) Store(d + 16 * k, _mm_or_si128(p[k], _mm_and_si128(Load(d + 16 * k), keep)));
    }
};

}  // namespace
}  // namespace zelvik::simd
