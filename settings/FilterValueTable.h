// The indexed filter values 1..27 behind Zelvik_SetFilterValue, Zelvik_GetFilterValue, the 54 property
// exports, the dialogs' sliders and the zelvik tool: one table gives each its index, names, settings slot,
// range and device write. Data only, so that every layer from the settings up (the dialog module too)
// reads the same table; api/FilterValues.h sets and reads the values by it.
#pragma once

#include "device/Sensor.h"
#include "settings/CameraSettings.h"

namespace zelvik {

// What a set does besides storing the value in its slot.
enum class FilterAction {
    Store,           // the slot only
    PackedRgb,       // any value: red, green and blue Bayer gains from bits 0-7, 8-15, 16-23
    Switch,          // any value, stored as 0 or 1
    GlobalGain,      // the four colour gain slots follow; the sensor's global gain is written
    ColorGainGreen1, // the sensor's colour gain of that site is written
    ColorGainRed,
    ColorGainBlue,
    ColorGainGreen2,
    Exposure,        // the sensor's exposure is written
};

// X(index, property export name (Zelvik_Set<Name>/Zelvik_Get<Name>), tool name, block (Image or Analog),
//   slot, min, max, action). Ranges of PackedRgb and Switch are not checked.
#define ZELVIK_FILTER_VALUE_TABLE(X)                                                                       \
    X(1, Brightness, "brightness", Image, kBrightness, -255, 255, Store)                                   \
    X(2, Contrast, "contrast", Image, kContrast, -127, 127, Store)                                          \
    X(3, Hue, "hue", Image, kHue, -360, 360, Store)                                                        \
    X(4, Saturation, "saturation", Image, kSaturation, -255, 255, Store)                                   \
    X(5, Sharpness, "sharpness", Image, kSharpness, 0, 30, Store)                                          \
    X(6, BayerGainRGB, "bayer-gain-rgb", Image, kBayerGainRed, 0, 0, PackedRgb)                            \
    X(7, BayerGainRed, "bayer-gain-red", Image, kBayerGainRed, 0, 200, Store)                              \
    X(8, BayerGainGreen, "bayer-gain-green", Image, kBayerGainGreen, 0, 200, Store)                        \
    X(9, BayerGainBlue, "bayer-gain-blue", Image, kBayerGainBlue, 0, 200, Store)                           \
    X(10, BayerGainAuto, "bayer-gain-auto", Image, kAutoBayerGain, 0, 0, Switch)                           \
    X(11, Gamma, "gamma", Image, kGamma, 0, 200, Store)                                                    \
    X(12, BayerMode, "bayer-mode", Image, kBayerMode, 0, 3, Store)                                         \
    X(13, GlobalGain, "global-gain", Analog, kGlobalGain, sensor::kGainMin, sensor::kGainMax, GlobalGain)  \
    X(14, ColorGainRed, "color-gain-red", Analog, kGainR, sensor::kGainMin, sensor::kGainMax, ColorGainRed) \
    X(15, ColorGainGreen1, "color-gain-green1", Analog, kGainG1, sensor::kGainMin, sensor::kGainMax,         \
      ColorGainGreen1)                                                                                      \
    X(16, ColorGainGreen2, "color-gain-green2", Analog, kGainG2, sensor::kGainMin, sensor::kGainMax,         \
      ColorGainGreen2)                                                                                      \
    X(17, ColorGainBlue, "color-gain-blue", Analog, kGainB, sensor::kGainMin, sensor::kGainMax,              \
      ColorGainBlue)                                                                                        \
    X(18, ExposureTime, "exposure", Analog, kExposure, 0, sensor::kExposureMax, Exposure)                   \
    X(19, GrayMode, "gray-mode", Image, kGrayMode, 0, 2, Store)                                            \
    X(20, GrayGainR, "gray-gain-r", Image, kGrayGainR, 0, 255, Store)                                      \
    X(21, GrayGainG1, "gray-gain-g1", Image, kGrayGainG1, 0, 255, Store)                                   \
    X(22, GrayGainG2, "gray-gain-g2", Image, kGrayGainG2, 0, 255, Store)                                   \
    X(23, GrayGainB, "gray-gain-b", Image, kGrayGainB, 0, 255, Store)                                      \
    X(24, GrayOffsetR, "gray-offset-r", Image, kGrayOffsetR, -255, 255, Store)                             \
    X(25, GrayOffsetG1, "gray-offset-g1", Image, kGrayOffsetG1, -255, 255, Store)                          \
    X(26, GrayOffsetG2, "gray-offset-g2", Image, kGrayOffsetG2, -255, 255, Store)                          \
    X(27, GrayOffsetB, "gray-offset-b", Image, kGrayOffsetB, -255, 255, Store)

// Index of each property export's value: kFilterBrightness = 1 ... kFilterGrayOffsetB = 27.
enum FilterIndex : int {
#define ZELVIK_FILTER_INDEX(index, name, tool, block, slot, min, max, action) kFilter##name = index,
    ZELVIK_FILTER_VALUE_TABLE(ZELVIK_FILTER_INDEX)
#undef ZELVIK_FILTER_INDEX
};

enum class FilterBlock { Image, Analog };

struct FilterValueInfo {
    int index;
    const char* exportName;  // Zelvik_Set<exportName>, Zelvik_Get<exportName>
    const char* toolName;    // the zelvik tool's name
    FilterBlock block;
    int slot;
    int min, max;
    FilterAction action;

    // Whether a set refuses values outside min..max: the packed gains and the switch take any value.
    constexpr bool RangeChecked() const { return action != FilterAction::PackedRgb && action != FilterAction::Switch; }
};

inline constexpr FilterValueInfo kFilterValues[] = {
#define ZELVIK_FILTER_ENTRY(index, name, tool, block, slot, min, max, action) \
    {index, #name, tool, FilterBlock::block, slot, min, max, FilterAction::action},
    ZELVIK_FILTER_VALUE_TABLE(ZELVIK_FILTER_ENTRY)
#undef ZELVIK_FILTER_ENTRY
};
inline constexpr int kFilterValueCount = static_cast<int>(sizeof kFilterValues / sizeof kFilterValues[0]);

// The entry of an index 1..27, or null.
constexpr const FilterValueInfo* FindFilterValue(int index) {
    return index >= 1 && index <= kFilterValueCount ? &kFilterValues[index - 1] : nullptr;
}

// The entry of a block's slot, or null (the packed Bayer gains share slot 5 with the red gain: the red
// gain's own entry is found).
constexpr const FilterValueInfo* FindFilterValueOfSlot(FilterBlock block, int slot) {
    for (const FilterValueInfo& e : kFilterValues)
        if (e.block == block && e.slot == slot && e.action != FilterAction::PackedRgb) return &e;
    return nullptr;
}

}  // namespace zelvik
