// Internal: 256-bit AVX2 register helpers; include only inside a region compiled for AVX2.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace zelvik::simd {
namespace {

struct MaskTable {
    alignas(32) int8_t place[2][3][32];    // [layout][plane]
    alignas(32) int8_t pick[2][3][2][32];  // [layout][chunk][green, red]
};
constexpr int PlaneOf(int layout, int chunk, int m) {
    return layout == 0 ? (16 * chunk + m) % 3 : ((16 * chunk + m) / 2) % 3;
}
constexpr MaskTable MakeMasks() {
    MaskTable t{};
    for (int layout = 0; layout < 2; ++layout)
        for (int b = 0; b < 32; ++b) {
            const int m = b % 16;
            for (int plane = 0; plane < 3; ++plane) {
                int chunk = 0;
                while (PlaneOf(layout, chunk, m) != plane) ++chunk;
                const int g = 16 * chunk + m;
                const int source = layout == 0 ? ((g / 3) % 2 ? 8 + g / 6 : g / 6) : 2 * (g / 6) + g % 2;
                t.place[layout][plane][b] = static_cast<int8_t>(source);
            }
            for (int chunk = 0; chunk < 3; ++chunk) {
                t.pick[layout][chunk][0][b] = static_cast<int8_t>(PlaneOf(layout, chunk, m) == 1 ? -128 : 0);
                t.pick[layout][chunk][1][b] = static_cast<int8_t>(PlaneOf(layout, chunk, m) == 2 ? -128 : 0);
            }
        }
    return t;
}
constexpr MaskTable kMasks = MakeMasks();

// Every operation is lane-local like its 128-bit counterpart; only the stores reorder the two
// 128-bit halves into memory order.
struct V256 {
    using Reg = __m256i;
    static constexpr int kBytes = 32;

    static Reg Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void Store(void* p, Reg v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static Reg Zero() { return _mm256_setzero_si256(); }
    static Reg Set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
    static Reg Set32(int v) { return _mm256_set1_epi32(v); }
    static Reg Add16(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg Sub16(Reg a, Reg b) { return _mm256_sub_epi16(a, b); }
    static Reg And(Reg a, Reg b) { return _mm256_and_si256(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm256_or_si256(a, b); }
    static Reg AndNot(Reg a, Reg b) { return _mm256_andnot_si256(a, b); }
    template <int n>
    static Reg Srli16(Reg a) { return _mm256_srli_epi16(a, n); }
    template <int n>
    static Reg Slli16(Reg a) { return _mm256_slli_epi16(a, n); }
    template <int n>
    static Reg Srai16(Reg a) { return _mm256_srai_epi16(a, n); }
    static Reg MulLo16(Reg a, Reg b) { return _mm256_mullo_epi16(a, b); }
    static Reg MulHiU16(Reg a, Reg b) { return _mm256_mulhi_epu16(a, b); }
    static Reg MulHi16(Reg a, Reg b) { return _mm256_mulhi_epi16(a, b); }
    static Reg Min16(Reg a, Reg b) { return _mm256_min_epi16(a, b); }
    static Reg Max16(Reg a, Reg b) { return _mm256_max_epi16(a, b); }
    static Reg CmpGt16(Reg a, Reg b) { return _mm256_cmpgt_epi16(a, b); }
    static Reg CmpEq16(Reg a, Reg b) { return _mm256_cmpeq_epi16(a, b); }
    static Reg Select(Reg mask, Reg a, Reg b) { return _mm256_blendv_epi8(b, a, mask); }
    static bool AnyNonZero(Reg v) { return !_mm256_testz_si256(v, v); }
    static Reg MinU8(Reg a, Reg b) { return _mm256_min_epu8(a, b); }
    static Reg SubsU8(Reg a, Reg b) { return _mm256_subs_epu8(a, b); }
    static Reg Set8(int v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    // Lane shifts across neighbouring groups (see V128); the halves are joined with one cross-lane move.
    static Reg ShiftUp16(Reg prev, Reg cur) {
        return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 14);
    }
    static Reg ShiftUp32(Reg prev, Reg cur) {
        return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 12);
    }
    static Reg ShiftDown16(Reg cur, Reg next) {
        return _mm256_alignr_epi8(_mm256_permute2x128_si256(cur, next, 0x21), cur, 2);
    }
    // Bytes to 16-bit lanes within each half: (bytes 0-7 | 16-23), (8-15 | 24-31); Narrow8 undoes it.
    static Reg WidenLo8(Reg v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
    static Reg WidenHi8(Reg v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }
    static Reg Narrow8(Reg lo, Reg hi) { return _mm256_packus_epi16(lo, hi); }
    // kBytes / 2 bytes to as many 16-bit lanes, in memory order; and back (values 0..255).
    static Reg LoadWiden8(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static void StoreNarrow8(uint8_t* p, Reg v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                         _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
    }

    // Three planes to interleaved triples, per 128-bit half: 48 output bytes = 3 chunks of 16. Every
    // output byte position m belongs to a different plane in each chunk, so one shuffle per plane
    // (place) puts all of its bytes in place for all three chunks, and two blends per chunk pick the
    // plane each byte comes from (pick). kLayout 0: byte planes as packed by packus from even and odd
    // pixels (pixel p at p/2, or 8 + p/2 when odd); 1: 16-bit word planes in pixel order.
    static Reg M(const int8_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }
    // Streaming stores for 32-byte aligned destinations: large outputs skip the read for ownership.
    static void StoreStream(void* p, Reg v) { _mm256_stream_si256(static_cast<__m256i*>(p), v); }
    template <int kLayout, bool kStream = false>
    static void StoreInterleaved(uint8_t* d, Reg b, Reg g, Reg r) {
        const Reg pb = _mm256_shuffle_epi8(b, M(kMasks.place[kLayout][0]));
        const Reg pg = _mm256_shuffle_epi8(g, M(kMasks.place[kLayout][1]));
        const Reg pr = _mm256_shuffle_epi8(r, M(kMasks.place[kLayout][2]));
        auto chunk = [&](int c) {
            return _mm256_blendv_epi8(_mm256_blendv_epi8(pb, pg, M(kMasks.pick[kLayout][c][0])), pr,
                                      M(kMasks.pick[kLayout][c][1]));
        };
        // yK = chunk K of the low half's 48 bytes | chunk K of the high half's
        const Reg y0 = chunk(0), y1 = chunk(1), y2 = chunk(2);
        const Reg out[3] = {_mm256_permute2x128_si256(y0, y1, 0x20), _mm256_permute2x128_si256(y2, y0, 0x30),
                            _mm256_permute2x128_si256(y1, y2, 0x31)};
        if constexpr (kStream) {
            StoreStream(d, out[0]), StoreStream(d + 32, out[1]), StoreStream(d + 64, out[2]);
        } else {
            Store(d, out[0]), Store(d + 32, out[1]), Store(d + 64, out[2]);
        }
    }
    // Even/odd pixel lanes (values up to 0x7FFF, limited to 255 here) to 32 pixels of 3 bytes.
    static void StoreBgr24(uint8_t* d, Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
        StoreInterleaved<0>(d, _mm256_packus_epi16(be, bo), _mm256_packus_epi16(ge, go), _mm256_packus_epi16(re, ro));
    }
    // Stores v, keeping the destination's bits under keep.
    static void KeepStore(uint8_t* d, Reg v, Reg keep) { Store(d, _mm256_or_si256(v, _mm256_and_si256(Load(d), keep))); }
    // The four 32-byte destination blocks of 32 BGRx pixels from even/odd pixel lanes (values up to
    // 0x7FFF, limited to 255); the fourth byte of every pixel is 0, for the caller's store to keep.
    struct Blocks {
        Reg at[4];  // destination offsets 0, 32, 64, 96
    };
    static Blocks Bgrx32Blocks(Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
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
        return {{_mm256_permute2x128_si256(p0, p1, 0x20), _mm256_permute2x128_si256(p2, p3, 0x20),
                 _mm256_permute2x128_si256(p0, p1, 0x31), _mm256_permute2x128_si256(p2, p3, 0x31)}};
    }
    // The four 32-byte destination blocks of 16 BGRx pixels of 16-bit words; the fourth word is 0.
    static Blocks Bgrx64Blocks(Reg b, Reg g, Reg r) {
        const Reg bg0 = _mm256_unpacklo_epi16(b, g), bg1 = _mm256_unpackhi_epi16(b, g);
        const Reg r0 = _mm256_unpacklo_epi16(r, _mm256_setzero_si256());
        const Reg r1 = _mm256_unpackhi_epi16(r, _mm256_setzero_si256());
        const Reg p0 = _mm256_unpacklo_epi32(bg0, r0);  // pixels 0,1 | 8,9
        const Reg p1 = _mm256_unpackhi_epi32(bg0, r0);  // 2,3 | 10,11
        const Reg p2 = _mm256_unpacklo_epi32(bg1, r1);  // 4,5 | 12,13
        const Reg p3 = _mm256_unpackhi_epi32(bg1, r1);  // 6,7 | 14,15
        return {{_mm256_permute2x128_si256(p0, p1, 0x20), _mm256_permute2x128_si256(p2, p3, 0x20),
                 _mm256_permute2x128_si256(p0, p1, 0x31), _mm256_permute2x128_si256(p2, p3, 0x31)}};
    }
    // A frame is written front to back faster than the hardware fetches the lines that keep-stores go to
    // (reading the fourth bytes back, or masked): each 128-byte group asks for its lines 4 KiB ahead.
    // Among 1, 2, 4 and 8 KiB, 4 was the best: the 8 -> 32 demosaic went from about 1.6 to 1.25 ms. A
    // prefetch past the end of the buffer is only a hint and never faults.
    static void PrefetchAhead(const uint8_t* d) {
        _mm_prefetch(reinterpret_cast<const char*>(d + 4096), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(d + 4096 + 64), _MM_HINT_T0);
    }
    static void StoreBgrx32(uint8_t* d, Reg be, Reg bo, Reg ge, Reg go, Reg re, Reg ro) {
        const Blocks blocks = Bgrx32Blocks(be, bo, ge, go, re, ro);
        const Reg keep = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
        PrefetchAhead(d);
        for (int i = 0; i < 4; ++i) KeepStore(d + 32 * i, blocks.at[i], keep);
    }
    static void StoreBgr48(uint8_t* d, Reg b, Reg g, Reg r) { StoreInterleaved<1>(d, b, g, r); }
    static constexpr bool kCanStream48 = true;
    static void StreamBgr48(uint8_t* d, Reg b, Reg g, Reg r) { StoreInterleaved<1, true>(d, b, g, r); }
    static void StreamFence() { _mm_sfence(); }
    static void StoreBgrx64(uint8_t* d, Reg b, Reg g, Reg r) {
        const Blocks blocks = Bgrx64Blocks(b, g, r);
        const Reg keep = _mm256_set1_epi64x(static_cast<long long>(0xFFFF000000000000ull));
        PrefetchAhead(d);
        for (int i = 0; i < 4; ++i) KeepStore(d + 32 * i, blocks.at[i], keep);
    }
};

}  // namespace
}  // namespace zelvik::simd
