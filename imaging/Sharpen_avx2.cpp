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

extern const SharpenRows kSharpenAvx2{VectorForm::kAvx2, sharpen_simd::SharpenRow<V256>, sharpen_simd::ColumnSums<V256>};

}  // namespace zelvik
#pragma GCC pop_options
