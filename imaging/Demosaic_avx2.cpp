// Demosaic bodies in 32-pixel AVX2 groups (16 pixels for 16-bit samples); same bytes as SSE2.
#include "imaging/DemosaicDetail.h"

#pragma GCC push_options
#pragma GCC target("avx2")
#include "imaging/Simd256.h"

namespace zelvik::detail {

namespace {
using simd::V256;
#include "imaging/DemosaicSimd.inl"
}  // namespace

extern const DemosaicRows kDemosaicAvx2{VectorForm::kAvx2,
                                        {demosaic_simd::DemosaicRow8<V256>, V256::kBytes},
                                        {demosaic_simd::DemosaicRow16<V256>, V256::kBytes / 2}};

}  // namespace zelvik::detail
#pragma GCC pop_options
