// Unsharp mask rows in 16-sample AVX2 steps; same bytes as the portable form.
#include "imaging/Filters.h"

#pragma GCC push_options
#pragma GCC target("avx2")
#include "imaging/Simd256.h"

namespace zelvik {

namespace {
using simd::V256;
#include "imaging/SharpenSimd.inl"
}  // namespace

int32_t SharpenRowAvx2(uint8_t* out, const uint8_t* center, const uint16_t* sums, int32_t begin, int32_t end,
                       int32_t pitch, int32_t strength) {
    return sharpen_simd::SharpenRow<V256>(out, center, sums, begin, end, pitch, strength);
}

int32_t ColumnSumsAvx2(uint16_t* sums, const uint8_t* const rows[4], int32_t count) {
    return sharpen_simd::ColumnSums<V256>(sums, rows, count);
}

}  // namespace zelvik
#pragma GCC pop_options
