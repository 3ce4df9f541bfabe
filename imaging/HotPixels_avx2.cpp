// Hot-pixel candidates screened 32 samples per AVX2 step; the walk is the portable one.
#include <algorithm>

#include "imaging/HotPixels.h"

#pragma GCC push_options
#pragma GCC target("avx2")
#include "imaging/Simd256.h"

namespace zelvik {

namespace {
using simd::V256;
#include "imaging/HotPixelsSimd.inl"
}  // namespace

extern const HotPixelScreen kHotPixelScreenAvx2{VectorForm::kAvx2, hot_pixel_simd::Screen<V256>,
                                                V256::kBytes};

}  // namespace zelvik
#pragma GCC pop_options
