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

// The tone table: every value 0..top through the given steps in turn (null: the step is skipped). Each
// step's table gives values within 0..top, so its output indexes the next as the sample one pass writes
// is read by the next.
template <class Gamma, class Contrast>
void ComposeTone(uint16_t* table, int32_t top, const Gamma* gamma, const Contrast* contrast, const uint16_t* brightness) {
    for (int32_t v = 0; v <= top; ++v) {
        int32_t t = v;
        if (gamma) t = std::min<int32_t>(gamma[t], top);
        if (contrast) t = std::min<int32_t>(contrast[t], top);
        if (brightness) t = std::min<int32_t>(brightness[t], top);
        table[v] = static_cast<uint16_t>(t);
    }
}

// Whether tables built for (top, saturation, lightness) would equal t: they depend only on the limited,
// scaled saturation and lightness, so a context rebuilds them only when either changes.
bool HueSaturationCurrent(const HueSaturationTables& t, int32_t top, int32_t saturation, int32_t lightness);

}  // namespace zelvik::filter_detail
