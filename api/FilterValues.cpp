// Setting and reading the filter values by their table.
#include "api/FilterValues.h"

#include "device/CameraDevice.h"
#include "instance/CameraInstance.h"

namespace zelvik {
namespace {

static_assert(kFilterValueCount == 27);
static_assert([] {
    for (int i = 0; i < kFilterValueCount; ++i)
        if (kFilterValues[i].index != i + 1) return false;
    return true;
}(), "the filter-value table is in index order");

SharedSetting& Slot(CameraInstance& camera, const FilterValueInfo& e) {
    CameraSettings& s = camera.Settings();
    return e.block == FilterBlock::Image ? s.imageSettings[e.slot] : s.analogSettings[e.slot];
}

}  // namespace

int SetFilterValue(CameraInstance& camera, int index, int value) {
    const FilterValueInfo* e = FindFilterValue(index);
    if (!e) {
        camera.reportError(kErrArgument);
        return 0;
    }
    auto& image = camera.Settings().imageSettings;
    if (e->action == FilterAction::PackedRgb) {
        image[kBayerGainRed] = value & 0xFF;
        image[kBayerGainGreen] = (value >> 8) & 0xFF;
        image[kBayerGainBlue] = (value >> 16) & 0xFF;
        return 1;
    }
    if (e->action == FilterAction::Switch) {
        Slot(camera, *e) = value != 0;
        return 1;
    }
    if (value < e->min || value > e->max) {
        camera.reportError(kErrArgument);
        return 0;
    }
    Slot(camera, *e) = value;
    // The device's answer is not looked at: the setting is what the application asked for.
    CameraDevice& device = camera.Device();
    using sensor::GainSite;
    switch (e->action) {
        case FilterAction::GlobalGain:
            SetGlobalGainSlots(camera.Settings().analogSettings, value);
            device.SetGlobalGain(value);
            break;
        case FilterAction::ColorGainGreen1:
            device.SetColorGain(GainSite::Green1, value);
            break;
        case FilterAction::ColorGainRed:
            device.SetColorGain(GainSite::Red, value);
            break;
        case FilterAction::ColorGainBlue:
            device.SetColorGain(GainSite::Blue, value);
            break;
        case FilterAction::ColorGainGreen2:
            device.SetColorGain(GainSite::Green2, value);
            break;
        case FilterAction::Exposure:
            device.SetExposure(value);
            break;
        case FilterAction::Store:
        case FilterAction::PackedRgb:
        case FilterAction::Switch:
            break;
    }
    return 1;
}

int GetFilterValue(CameraInstance& camera, int index, int* ok) {
    const FilterValueInfo* e = FindFilterValue(index);
    if (!e) {
        if (ok) *ok = 0;
        camera.reportError(kErrArgument);
        return 0;
    }
    if (ok) *ok = 1;
    const auto& image = camera.Settings().imageSettings;
    if (e->action == FilterAction::PackedRgb)
        return (image[kBayerGainBlue] & 0xFF) << 16 | (image[kBayerGainGreen] & 0xFF) << 8 |
               (image[kBayerGainRed] & 0xFF);
    return Slot(camera, *e);
}

}  // namespace zelvik
