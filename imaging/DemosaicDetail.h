// Internal: the shared demosaic row driver and the per-pixel arithmetic of every variant.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/Bayer.h"
#include "imaging/Demosaic.h"
#include "imaging/FrameKernel.h"

namespace zelvik::detail {

// Which arithmetic produces red and blue.
enum class DemosaicArith { kPortable, kFast };

// A vector body: columns [jFrom, jTo) of one output row, given the four source rows r-2, r-1, r, r+1
// (each at the rectangle's column 0; the border passes substituted rows) and the output row at the
// rectangle's column 0. pc is the column phase at jFrom. Works in whole groups and returns the first
// column it did not do.
using DemosaicRow8Fn = int32_t (*)(const uint8_t* const rows[4], uint8_t* out, uint32_t dstBpp, int32_t jFrom,
                                   int32_t jTo, int32_t pr, int32_t pc, int32_t gR, int32_t gB, DemosaicArith arith);
using DemosaicRow16Fn = int32_t (*)(const uint8_t* const rows[4], uint8_t* out, uint32_t dstBpp, int32_t jFrom,
                                    int32_t jTo, int32_t pr, int32_t pc, int32_t gR, int32_t gB);

// A vector body and the number of pixels of its groups.
template <class Fn>
struct VectorRows {
    Fn body;
    int32_t group;
};
using VectorRows8 = VectorRows<DemosaicRow8Fn>;
using VectorRows16 = VectorRows<DemosaicRow16Fn>;

// The demosaic's bodies in one vector form; null bodies (the portable form) compute pixel by pixel.
struct DemosaicRows {
    VectorForm form;
    VectorRows8 rows8;
    VectorRows16 rows16;
};
extern const DemosaicRows kDemosaicSse2, kDemosaicAvx2, kDemosaicAvx512;

// Largest fixed gain the vector bodies take: (S x g) >> 11 == mulhi(S, g << 5) needs g << 5 in 16 bits.
constexpr int32_t kMaxVectorGain = 2047;
// Fast arithmetic is defined for g <= 256 (gains <= 200), where floor(S/16) x g fits 16 bits.
constexpr int32_t kMaxFastGain = 256;

inline int32_t PortableColor8(int32_t s, int32_t g) {
    const int64_t v = (static_cast<int64_t>(s) * g) >> 11;
    return static_cast<int32_t>(std::clamp<int64_t>(v, 0, 255));
}
inline int32_t FastColor8(int32_t s, int32_t g) { return std::min(255, ((s >> 4) * g) >> 7); }
inline int32_t PortableColor16(int32_t s, int32_t g) {
    const int64_t p = static_cast<int64_t>(s) * g;
    if (p > 0x1FFFFF) return 1023;
    return p < 0 ? 0 : static_cast<int32_t>(p >> 11);
}

// Sample access relative to the rectangle's origin.
template <class T>
struct DirectSampler {
    const uint8_t* origin;
    size_t stride;
    uint32_t pitch;
    int32_t operator()(int32_t j, int32_t i) const {
        T v;
        std::memcpy(&v, origin + static_cast<ptrdiff_t>(i) * static_cast<ptrdiff_t>(stride) +
                            static_cast<ptrdiff_t>(j) * pitch,
                    sizeof v);
        return v;
    }
};

// Samples through four row pointers (rows i-2 .. i+1 of output row i).
template <class T>
struct RowsSampler {
    const uint8_t* const* rows;
    uint32_t pitch;
    int32_t i;
    int32_t operator()(int32_t j, int32_t ii) const {
        T v;
        std::memcpy(&v, rows[ii - i + 2] + static_cast<ptrdiff_t>(j) * pitch, sizeof v);
        return v;
    }
};

// The weighted sums of one output pixel at (j, i) with phase (pr, pc).
struct BlockSums {
    int32_t red;    // 9, 3, 3, 1 around the block centre
    int32_t blue;
    int32_t green;  // G1 + G2
};

template <class Sampler>
inline BlockSums ComputeBlock(const Sampler& P, int32_t j, int32_t i, int32_t pr, int32_t pc) {
    const int32_t jR = pc == 0 ? j : j - 1, jR2 = pc == 0 ? j - 2 : j + 1;
    const int32_t iR = pr == 1 ? i : i - 1, iR2 = pr == 1 ? i - 2 : i + 1;
    const int32_t jB = pc == 1 ? j : j - 1, jB2 = pc == 1 ? j - 2 : j + 1;
    const int32_t iB = pr == 0 ? i : i - 1, iB2 = pr == 0 ? i - 2 : i + 1;
    BlockSums s;
    s.red = 9 * P(jR, iR) + 3 * P(jR2, iR) + 3 * P(jR, iR2) + P(jR2, iR2);
    s.blue = 9 * P(jB, iB) + 3 * P(jB2, iB) + 3 * P(jB, iB2) + P(jB2, iB2);
    s.green = pr == pc ? P(j, i) + P(j - 1, i - 1) : P(j - 1, i) + P(j, i - 1);
    return s;
}

inline void WritePixel8(uint8_t* d, const BlockSums& s, int32_t gR, int32_t gB, DemosaicArith arith) {
    const bool fast = arith == DemosaicArith::kFast;
    d[0] = static_cast<uint8_t>(fast ? FastColor8(s.blue, gB) : PortableColor8(s.blue, gB));
    d[1] = static_cast<uint8_t>(s.green >> 1);
    d[2] = static_cast<uint8_t>(fast ? FastColor8(s.red, gR) : PortableColor8(s.red, gR));
}

inline void WritePixel16(uint8_t* d, const BlockSums& s, int32_t gR, int32_t gB) {
    const uint16_t out[3] = {static_cast<uint16_t>(PortableColor16(s.blue, gB)),
                             static_cast<uint16_t>(std::min(s.green >> 1, 1023)),
                             static_cast<uint16_t>(PortableColor16(s.red, gR))};
    std::memcpy(d, out, sizeof out);
}

}  // namespace zelvik::detail
