// Hot-pixel candidates screened 16 samples per SSE2 step; the walk is the portable one.
#include <algorithm>

#include "imaging/HotPixels.h"
#include "imaging/Simd128.h"

namespace zelvik {

namespace {
using simd::V128;
#include "imaging/HotPixelsSimd.inl"
}  // namespace

extern const HotPixelScreen kHotPixelScreenSse2{VectorForm::kSse2, hot_pixel_simd::Screen<V128>,
                                                V128::kBytes};

}  // namespace zelvik
