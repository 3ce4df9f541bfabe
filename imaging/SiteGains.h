// Per-site gain kernels for raw 8-bit mosaics: measurement, portable and fast application.
#pragma once

#include <cstdint>

#include "imaging/Bayer.h"
#include "imaging/FrameKernel.h"

namespace zelvik {

// Kernels run through FrameBuffer::Apply with their SiteGainParams. All return 1.

// Per-site means m(s) over the rectangle (phase walk from its origin): gain(0,0) = 128, every other
// gain = trunc(m(0,0) / m(s) x 128). Offsets and mode are kept. A site with mean 0 gets 255.
int MeasureSiteLevels(const KernelFrame& f, SiteGainParams& params);
// out = offset(s) + (in x gain(s)) / 128 (truncating), limited to 0..255; phase walk from the origin.
int ApplySiteGains(const KernelFrame& f, const SiteGainParams& params);
// out = min(255, (in x min(gain(s), 255)) >> 7), offsets not added; each sample's site from its own row
// and column parity. Column 0 is gained like every other column (see docs/imaging.md).
int ApplySiteGainsFast(const KernelFrame& f, const SiteGainParams& params);
using SiteGainKernel = FrameKernelOf<const SiteGainParams&>;
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
