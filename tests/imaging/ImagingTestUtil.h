// Shared helpers of the imaging tests: buffers filled from lists or random data, pixel access.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/CpuInfo.h"
#include "imaging/FrameBuffer.h"

namespace zelvik::test {

inline uint8_t* Px(FrameBuffer& b, int x, int r) {
    return b.Bits() + static_cast<size_t>(r) * b.Stride() + static_cast<size_t>(x) * b.BytesPerPixel();
}
inline uint16_t Word(FrameBuffer& b, int x, int r, int k = 0) {
    uint16_t v;
    std::memcpy(&v, Px(b, x, r) + 2 * k, 2);
    return v;
}
inline void SetWord(FrameBuffer& b, int x, int r, int k, uint16_t v) { std::memcpy(Px(b, x, r) + 2 * k, &v, 2); }

inline void FillRandom(FrameBuffer& b, std::mt19937& rng, int maxValue = 255) {
    std::uniform_int_distribution<int> d(0, maxValue);
    for (int r = 0; r < b.Height(); ++r)
        for (int x = 0; x < b.Width(); ++x) {
            if (b.BitsPerPixel() == 16) SetWord(b, x, r, 0, static_cast<uint16_t>(d(rng)));
            else
                for (int k = 0; k < b.BytesPerPixel(); ++k) Px(b, x, r)[k] = static_cast<uint8_t>(d(rng));
        }
}

// Pixel bytes of every row, without the padding.
inline std::vector<uint8_t> Pixels(FrameBuffer& b) {
    std::vector<uint8_t> v;
    for (int r = 0; r < b.Height(); ++r) v.insert(v.end(), Px(b, 0, r), Px(b, 0, r) + b.Width() * b.BytesPerPixel());
    return v;
}

inline CpuInfo HostCpu() {
    CpuInfo info{};
    DetectProcessor(&info);
    return info;
}

// Runs a kernel over whole buffers through Apply with p1/p2 in the "address of the address" form.
template <class P1, class P2 = int32_t>
int RunKernel(FrameKernel k, FrameBuffer& dst, FrameBuffer& src, P1* param, P2* param2 = nullptr) {
    P1* a = param;
    P2* b = param2;
    return dst.Apply(k, src, nullptr, 0, 0, param ? static_cast<void*>(&a) : nullptr,
                     param2 ? static_cast<void*>(&b) : nullptr);
}

}  // namespace zelvik::test
