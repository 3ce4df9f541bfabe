// Bayer mosaic parameters shared by the demosaic, site-gain, white-balance and hot-pixel kernels.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace zelvik {

// Bit 0: row phase, bit 1: column phase of the pixel at the rectangle's origin. Sites (rowPhase,
// colPhase): (0,0) green on the blue row, (0,1) blue, (1,0) red, (1,1) green on the red row.
using BayerMode = int32_t;

inline int32_t RowPhaseOf(BayerMode mode) { return mode & 1; }
inline int32_t ColPhaseOf(BayerMode mode) { return (mode >> 1) & 1; }

// Demosaic parameters; gains in percent (100 = x1). The demosaic uses red and blue.
struct BayerParams {
    BayerMode mode;
    int32_t redGain;
    int32_t greenGain;
    int32_t blueGain;
};

// Per-site gain (1/128 units) and offset, in site order (0,1), (0,0), (1,1), (1,0).
struct SiteGainParams {
    BayerMode mode;
    int32_t gain01;
    int32_t gain00;
    int32_t gain11;
    int32_t gain10;
    int32_t offset01;
    int32_t offset00;
    int32_t offset11;
    int32_t offset10;
};

// A percent gain as the fixed-point factor applied per weight unit: trunc(gain x 1.28), so that
// (weighted sum of 16 units x g) >> 11 is the gain. 100 -> 128, 99 -> 126, 200 -> 256.
inline int32_t FixedGain(int32_t gainPercent) {
    const double g = std::trunc(static_cast<double>(gainPercent) * 1.28);
    if (g >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (g <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(g);
}

}  // namespace zelvik
