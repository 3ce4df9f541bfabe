// Per-site gain kernels for raw 8-bit mosaics: measurement, portable and fast application.
#pragma once

#include <cstdint>

#include "imaging/Bayer.h"
#include "imaging/CpuInfo.h"
#include "imaging/FrameKernel.h"

namespace zelvik {

// p1: address of a variable holding the address of a SiteGainParams. All return 1.

// Per-site means m(s) over the rectangle (phase walk from its origin): gain(0,0) = 128, every other
// gain = trunc(m(0,0) / m(s) x 128). Offsets and mode are kept. A site with mean 0 gets 255.
int MeasureSiteLevels(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                      uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);
// out = offset(s) + (in x gain(s)) / 128 (truncating), limited to 0..255; phase walk from the origin.
int ApplySiteGains(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                   uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);
// out = min(255, (in x min(gain(s), 255)) >> 7), offsets not added; each sample's site from its own row
// and column parity. Column 0 is gained like every other column (see docs/imaging.md).
int ApplySiteGainsFast(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                       uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2);

// The fast form when SSE2 or MMX is reported and usable, else the portable one.
FrameKernel ChooseSiteGainKernel(const CpuInfo& cpu);
// The frame path skips the site-gain pass when this holds, whatever the offsets.
inline bool SiteGainsNeutral(const SiteGainParams& p) {
    return p.gain01 == 128 && p.gain00 == 128 && p.gain11 == 128 && p.gain10 == 128;
}

namespace detail {
// Gain and offset of site (rowPhase, colPhase).
inline int32_t SiteGain(const SiteGainParams& p, int32_t rp, int32_t cp) {
    return rp == 0 ? (cp == 0 ? p.gain00 : p.gain01) : (cp == 0 ? p.gain10 : p.gain11);
}
inline int32_t SiteOffset(const SiteGainParams& p, int32_t rp, int32_t cp) {
    return rp == 0 ? (cp == 0 ? p.offset00 : p.offset01) : (cp == 0 ? p.offset10 : p.offset11);
}
}  // namespace detail

}  // namespace zelvik
