// Hot-pixel correction with candidates screened 16 samples per SSE2 step; same result as the portable form.
#include <algorithm>

#include "imaging/Measure.h"


#include "imaging/Simd128.h"

namespace zelvik {

namespace {
using simd::V128;
#include "imaging/HotPixelsSimd.inl"
}  // namespace

int CorrectHotPixelsSse2(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                         uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2) {
    const KernelFrame f(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
    const int32_t* threshold = KernelParam<int32_t>(p2);
    if (threshold == nullptr) return 0;
    return detail::RunCorrectHotPixels(f, KernelParam<BayerParams>(p1), *threshold, hot_pixel_simd::Screen<V128>, 16);
}

}  // namespace zelvik

