// The filter context: the tables cached per setting and the filters' chosen forms.
#include "imaging/FilterDetail.h"

namespace zelvik {

using filter_detail::HueSaturationCurrent;

FilterContext::FilterContext(const FilterForms& forms) : forms_(forms) {}

template <class T>
template <class Build>
const T* FilterContext::Cached<T>::For(int32_t setting, size_t entries, Build build) {
    if (key != setting) {
        uint16_t built[1024] = {};  // the builders write 16-bit entries; 8-bit tables take them narrowed
        build(built);
        table.assign(built, built + entries);
        key = setting;
    }
    return table.data();
}

const uint8_t* FilterContext::Gamma8(int32_t gamma) {
    return gamma8_.For(gamma, 256, [&](uint16_t* t) { BuildGammaTable(gamma, 255, t); });
}

const uint16_t* FilterContext::Gamma16(int32_t gamma) {
    return gamma16_.For(gamma, 1024, [&](uint16_t* t) { BuildGammaTable(gamma, 1023, t); });
}

const uint8_t* FilterContext::Contrast8(int32_t contrast) {
    return contrast8_.For(contrast, 256,
                          [&](uint16_t* t) { BuildContrastTable(contrast, ContrastRule::k8, t); });
}

const uint16_t* FilterContext::ContrastGray16(int32_t contrast) {
    return contrastGray16_.For(contrast, 1024,
                               [&](uint16_t* t) { BuildContrastTable(contrast, ContrastRule::kGray16, t); });
}

const uint16_t* FilterContext::ContrastColor16(int32_t contrast) {
    return contrastColor16_.For(
        contrast, 1024, [&](uint16_t* t) { BuildContrastTable(contrast, ContrastRule::kColor16, t); });
}

const HueSaturationTables& FilterContext::HueSaturation8(int32_t saturation, int32_t lightness) {
    if (!HueSaturationCurrent(hueSat8_, 255, saturation, lightness))
        BuildHueSaturationTables(saturation, lightness, 255, hueSat8_);
    return hueSat8_;
}

const HueSaturationTables& FilterContext::HueSaturation16(int32_t saturation, int32_t lightness) {
    if (!HueSaturationCurrent(hueSat16_, 1023, saturation, lightness))
        BuildHueSaturationTables(saturation, lightness, 1023, hueSat16_);
    return hueSat16_;
}

}  // namespace zelvik
