// Internal: what the filter families share: sample access and the target's layout.
#pragma once

#include <algorithm>
#include <cstdint>

#include "imaging/Filters.h"

namespace zelvik::filter_detail {

// 16-bit samples carry 10 bits; anything above indexes the table's last entry.
inline int32_t Sample10(const uint8_t* p) { return std::min<int32_t>(LoadWord(p), 1023); }

// Channels of a target's samples (1 gray, 3 colour) and whether they are 16-bit words.
inline uint32_t Channels(FilterSamples s) {
    return s == FilterSamples::kGray8 || s == FilterSamples::kGray16 ? 1 : 3;
}
inline bool Wide(FilterSamples s) { return s == FilterSamples::kGray16 || s == FilterSamples::kColor16; }

// Whether tables built for (top, saturation, lightness) would equal t: they depend only on the limited,
// scaled saturation and lightness, so a context rebuilds them only when either changes.
bool HueSaturationCurrent(const HueSaturationTables& t, int32_t top, int32_t saturation, int32_t lightness);

}  // namespace zelvik::filter_detail
