// Unsharp mask rows in 8-sample SSE2 steps; same bytes as the portable form.
#include "imaging/Filters.h"
#include "imaging/Simd128.h"

namespace zelvik {

namespace {
using simd::V128;
#include "imaging/SharpenSimd.inl"
}  // namespace

int32_t SharpenRowSse2(uint8_t* out, const uint8_t* center, const uint16_t* sums, int32_t begin, int32_t end,
                       int32_t pitch, int32_t strength) {
    return sharpen_simd::SharpenRow<V128>(out, center, sums, begin, end, pitch, strength);
}

int32_t ColumnSumsSse2(uint16_t* sums, const uint8_t* const rows[4], int32_t count) {
    return sharpen_simd::ColumnSums<V128>(sums, rows, count);
}

}  // namespace zelvik
