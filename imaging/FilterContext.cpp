// The filter context: the tables cached per setting and the filters' chosen forms.
#include "imaging/FilterDetail.h"

#include <vector>

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

// Composed from the cached gamma and contrast tables, so that a change of one setting rebuilds only its
// own table (a 10-bit gamma table is the expensive one).
const uint8_t* FilterContext::Tone8(const ToneSettings& tone) {
    if (tone8_.key != tone) {
        uint16_t brightness[256];
        if (tone.brightness != 0) BuildBrightnessTable(tone.brightness, 255, brightness);
        tone8_.table.resize(256);
        filter_detail::ComposeTone(tone8_.table.data(), 255, tone.gamma != 100 ? Gamma8(tone.gamma) : nullptr,
                                   tone.contrast != 0 ? Contrast8(tone.contrast) : nullptr,
                                   tone.brightness != 0 ? brightness : nullptr);
        tone8Bytes_.assign(tone8_.table.begin(), tone8_.table.end());
        tone8_.key = tone;
    }
    return tone8Bytes_.data();
}

const uint16_t* FilterContext::Tone16(const ToneSettings& tone, bool gray) {
    CachedTone& cached = gray ? toneGray16_ : toneColor16_;
    if (cached.key != tone) {
        std::vector<uint16_t> brightness(1024);
        if (tone.brightness != 0) BuildBrightnessTable(tone.brightness, 1023, brightness.data());
        const uint16_t* contrast = nullptr;
        if (tone.contrast != 0) contrast = gray ? ContrastGray16(tone.contrast) : ContrastColor16(tone.contrast);
        cached.table.resize(1024);
        filter_detail::ComposeTone(cached.table.data(), 1023, tone.gamma != 100 ? Gamma16(tone.gamma) : nullptr,
                                   contrast, tone.brightness != 0 ? brightness.data() : nullptr);
        cached.key = tone;
    }
    return cached.table.data();
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
