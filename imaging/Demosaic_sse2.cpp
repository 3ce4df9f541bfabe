// Demosaic bodies in 16-pixel SSE2 groups (8 pixels for 16-bit samples).
#include "imaging/DemosaicDetail.h"
#include "imaging/Simd128.h"

namespace zelvik::detail {

namespace {
using simd::V128;
#include "imaging/DemosaicSimd.inl"
}  // namespace

extern const DemosaicRows kDemosaicSse2{VectorForm::kSse2,
                                        {demosaic_simd::DemosaicRow8<V128>, V128::kBytes},
                                        {demosaic_simd::DemosaicRow16<V128>, V128::kBytes / 2}};

}  // namespace zelvik::detail
