// Per-site gains: measurement, the portable form and the fast form.
#include "imaging/SiteGains.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#endif

namespace zelvik {

using detail::SiteGain;
using detail::SiteOffset;

int MeasureSiteLevels(const KernelFrame& f, SiteGainParams& params) {
    SiteGainParams* p = &params;
    uint64_t sum[2][2] = {}, count[2][2] = {};
    int32_t rp = RowPhaseOf(p->mode), cp = ColPhaseOf(p->mode);
    for (int32_t i = 0; i < f.height; ++i, rp ^= 1) {
        const uint8_t* row = f.SrcRow(i);
        for (int32_t j = 0; j < f.width; ++j, cp ^= 1) {
            sum[rp][cp] += row[static_cast<size_t>(j) * f.srcBpp];
            ++count[rp][cp];
        }
    }
    auto mean = [&](int a, int b) { return count[a][b] ? static_cast<double>(sum[a][b]) / count[a][b] : 0.0; };
    const double m00 = mean(0, 0);
    auto gainFor = [&](int a, int b) -> int32_t {
        const double m = mean(a, b);
        if (m <= 0.0) return 255;  // nothing to scale by: the largest gain the kernels accept
        return static_cast<int32_t>(std::min(std::trunc(m00 / m * 128.0), 2147483647.0));
    };
    p->gain00 = 128;
    p->gain01 = gainFor(0, 1);
    p->gain11 = gainFor(1, 1);
    p->gain10 = gainFor(1, 0);
    return 1;
}

int ApplySiteGains(const KernelFrame& f, const SiteGainParams& params) {
    const SiteGainParams* p = &params;
    int32_t rp = RowPhaseOf(p->mode), cp = ColPhaseOf(p->mode);
    for (int32_t i = 0; i < f.height; ++i, rp ^= 1) {
        const uint8_t* in = f.SrcRow(i);
        uint8_t* out = f.DstRow(i);
        for (int32_t j = 0; j < f.width; ++j, cp ^= 1) {
            const int64_t v = SiteOffset(*p, rp, cp) +
                              static_cast<int64_t>(in[static_cast<size_t>(j) * f.srcBpp]) * SiteGain(*p, rp, cp) / 128;
            out[static_cast<size_t>(j) * f.dstBpp] = static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
        }
    }
    return 1;
}

int ApplySiteGainsFast(const KernelFrame& f, const SiteGainParams& params) {
    const SiteGainParams* p = &params;
    for (int32_t i = 0; i < f.height; ++i) {
        const int32_t rp = RowPhaseOf(p->mode) ^ (i & 1);
        // Gains of the row's even and odd columns, limited to 0..255 so that in x g fits 16 bits.
        const int32_t gEven = std::clamp(SiteGain(*p, rp, ColPhaseOf(p->mode)), 0, 255);
        const int32_t gOdd = std::clamp(SiteGain(*p, rp, ColPhaseOf(p->mode) ^ 1), 0, 255);
        const uint8_t* in = f.SrcRow(i);
        uint8_t* out = f.DstRow(i);
        int32_t j = 0;
#if defined(__x86_64__) || defined(__i386__)
        if (f.srcBpp == 1 && f.dstBpp == 1) {
            // 16 samples per step: widen to 16-bit lanes whose gains alternate even/odd column.
            const __m128i gains = _mm_set1_epi32(gEven | (gOdd << 16));
            const __m128i zero = _mm_setzero_si128();
            for (; j + 16 <= f.width; j += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j));
                const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), gains), 7);
                const __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), gains), 7);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_packus_epi16(lo, hi));
            }
        }
#endif
        for (; j < f.width; ++j) {
            const int32_t g = (j & 1) ? gOdd : gEven;
            out[static_cast<size_t>(j) * f.dstBpp] =
                static_cast<uint8_t>(std::min(255, (in[static_cast<size_t>(j) * f.srcBpp] * g) >> 7));
        }
    }
    return 1;
}

}  // namespace zelvik
