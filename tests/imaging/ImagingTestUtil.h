// Shared helpers of the imaging tests: buffers filled from lists or random data, pixel access.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "imaging/CpuInfo.h"
#include "imaging/FrameBuffer.h"
#include "imaging/Kernels.h"

namespace zelvik {
// Form parameters print by name in test reports.
inline void PrintTo(VectorForm form, std::ostream* os) { *os << VectorFormName(form); }
}  // namespace zelvik

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

// Whether this processor runs a vector form; a parameterised case of a form it lacks skips visibly.
inline bool HostRuns(VectorForm form) { return form <= WidestVectorForm(HostCpu()); }
#define ZELVIK_SKIP_UNLESS_HOST_RUNS(form)                                                    \
    if (!::zelvik::test::HostRuns(form))                                                      \
    GTEST_SKIP() << "this processor has no " << ::zelvik::VectorFormName(form) << " form"

// Test names of the form parameters: "portable", "sse2", "avx2", "avx512".
inline std::string FormParamName(const testing::TestParamInfo<VectorForm>& info) {
    return VectorFormName(info.param);
}

// The filters' forms of this processor, as the camera instance gets them.
inline FilterForms HostFilterForms() { return ChooseImagingKernels(HostCpu()).filters; }

}  // namespace zelvik::test
