// The implementations a kernel family can run in, and the choice of one from the processor record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/CpuInfo.h"

namespace zelvik {

// Ordered from narrowest to widest. kAvx512 needs AVX-512 F, BW, VL and VBMI (one CpuWideFeature bit).
enum class VectorForm : uint8_t { kPortable, kSse2, kAvx2, kAvx512 };
inline constexpr size_t kVectorFormCount = 4;

// "portable", "sse2", "avx2", "avx512".
const char* VectorFormName(VectorForm form);

// The widest form the processor runs: SSE2 when reported and usable, AVX2 (with the system saving the
// registers) above it, AVX-512 above that; portable on processors without them or other architectures.
VectorForm WidestVectorForm(const CpuInfo& cpu);

// A family's implementations by form (null where the family has none, or where it is not built for this
// architecture); every entry type starts with its VectorForm.
template <class Rows>
using FormTable = const Rows* const[kVectorFormCount];

// The family's widest implementation up to `widest`; the portable entry always exists.
template <class Rows>
const Rows& WidestUpTo(FormTable<Rows>& table, VectorForm widest) {
    for (size_t f = static_cast<size_t>(widest); f > 0; --f)
        if (table[f] != nullptr) return *table[f];
    return *table[0];
}

}  // namespace zelvik
