// Unsharp mask rows in 8-sample SSE2 steps; same bytes as the portable form.
#include "imaging/Filters.h"
#include "imaging/Simd128.h"

namespace zelvik {

namespace {
using simd::V128;
#include "imaging/SharpenSimd.inl"
}  // namespace

extern const SharpenRows kSharpenSse2{VectorForm::kSse2, sharpen_simd::SharpenRow<V128>, sharpen_simd::ColumnSums<V128>};

}  // namespace zelvik
