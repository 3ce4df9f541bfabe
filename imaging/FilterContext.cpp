// The filter context: the tables cached per setting and the filters' chosen forms.
#include "imaging/FilterDetail.h"

namespace zelvik {

using filter_detail::HueSaturationCurrent;

FilterContext::FilterContext(const FilterForms& forms) : forms_(forms) {}

const uint8_t* FilterContext::Gamma8(int32_t gamma) {
    if (gamma8_.key != gamma) {
        uint16_t wide[256];
        BuildGammaTable(gamma, 255, wide);
        gamma8_.table.assign(wide, wide + 256);
        gamma8_.key = gamma;
    }
    return gamma8_.table.data();
}

const uint16_t* FilterContext::Gamma16(int32_t gamma) {
    if (gamma16_.key != gamma) {
        gamma16_.table.resize(1024);
        BuildGammaTable(gamma, 1023, gamma16_.table.data());
        gamma16_.key = gamma;
    }
    return gamma16_.table.data();
}

const uint8_t* FilterContext::Contrast8(int32_t contrast) {
    if (contrast8_.key != contrast) {
        uint16_t wide[256];
        BuildContrastTable(contrast, ContrastRule::k8, wide);
        contrast8_.table.assign(wide, wide + 256);
        contrast8_.key = contrast;
    }
    return contrast8_.table.data();
}

const uint16_t* FilterContext::ContrastGray16(int32_t contrast) {
    if (contrastGray16_.key != contrast) {
        contrastGray16_.table.resize(1024);
        BuildContrastTable(contrast, ContrastRule::kGray16, contrastGray16_.table.data());
        contrastGray16_.key = contrast;
    }
    return contrastGray16_.table.data();
}

const uint16_t* FilterContext::ContrastColor16(int32_t contrast) {
    if (contrastColor16_.key != contrast) {
        contrastColor16_.table.resize(1024);
        BuildContrastTable(contrast, ContrastRule::kColor16, contrastColor16_.table.data());
        contrastColor16_.key = contrast;
    }
    return contrastColor16_.table.data();
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
