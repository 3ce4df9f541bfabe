// The filter-value table: which setting each index reaches, its range, and what a set writes to the camera.
#include "api/FilterValues.h"

#include "device/CameraDevice.h"
#include "instance/CameraInstance.h"

namespace zelvik {
namespace {

enum class Block { Image, Analog };
enum class DeviceWrite { None, GlobalGain, ColorGain, Exposure };

struct FilterEntry {
    Block block;
    int slot;
    int min, max;
    DeviceWrite write = DeviceWrite::None;
    int gainRegister = 0;  // for DeviceWrite::ColorGain
};

// Indexed by FilterIndex - 1. Index 6 (packed Bayer gains) and 10 (auto white balance) take every
// value and are handled apart.
constexpr FilterEntry kTable[27] = {
    {Block::Image, kBrightness, -255, 255},
    {Block::Image, kContrast, -127, 127},
    {Block::Image, kHue, -360, 360},
    {Block::Image, kSaturation, -255, 255},
    {Block::Image, kSharpness, 0, 30},
    {Block::Image, kBayerGainRed, 0, 0},  // packed RGB
    {Block::Image, kBayerGainRed, 0, 200},
    {Block::Image, kBayerGainGreen, 0, 200},
    {Block::Image, kBayerGainBlue, 0, 200},
    {Block::Image, kAutoBayerGain, 0, 0},  // any value, stored as 0/1
    {Block::Image, kGamma, 0, 200},
    {Block::Image, kBayerMode, 0, 3},
    {Block::Analog, kGlobalGain, 0, 63, DeviceWrite::GlobalGain},
    {Block::Analog, kGainR, 0, 63, DeviceWrite::ColorGain, 0x2D},
    {Block::Analog, kGainG1, 0, 63, DeviceWrite::ColorGain, 0x2B},
    {Block::Analog, kGainG2, 0, 63, DeviceWrite::ColorGain, 0x2E},
    {Block::Analog, kGainB, 0, 63, DeviceWrite::ColorGain, 0x2C},
    {Block::Analog, kExposure, 0, 16383, DeviceWrite::Exposure},
    {Block::Image, kGrayMode, 0, 2},
    {Block::Image, kGrayGainR, 0, 255},
    {Block::Image, kGrayGainG1, 0, 255},
    {Block::Image, kGrayGainG2, 0, 255},
    {Block::Image, kGrayGainB, 0, 255},
    {Block::Image, kGrayOffsetR, -255, 255},
    {Block::Image, kGrayOffsetG1, -255, 255},
    {Block::Image, kGrayOffsetG2, -255, 255},
    {Block::Image, kGrayOffsetB, -255, 255},
};

SharedSetting& Slot(CameraInstance& camera, const FilterEntry& e) {
    return e.block == Block::Image ? camera.imageSettings[e.slot] : camera.analogSettings[e.slot];
}

}  // namespace

int SetFilterValue(CameraInstance& camera, int index, int value) {
    if (!camera.device) {
        camera.reportError(kErrNotAllowed);
        return 0;
    }
    if (index < 1 || index > 27) {
        camera.reportError(kErrArgument);
        return 0;
    }
    auto& image = camera.imageSettings;
    if (index == kFilterBayerGainRGB) {
        image[kBayerGainRed] = value & 0xFF;
        image[kBayerGainGreen] = (value >> 8) & 0xFF;
        image[kBayerGainBlue] = (value >> 16) & 0xFF;
        return 1;
    }
    if (index == kFilterBayerGainAuto) {
        image[kAutoBayerGain] = value != 0;
        return 1;
    }
    const FilterEntry& e = kTable[index - 1];
    if (value < e.min || value > e.max) {
        camera.reportError(kErrArgument);
        return 0;
    }
    Slot(camera, e) = value;
    // The device's answer is not looked at: the setting is what the application asked for.
    switch (e.write) {
        case DeviceWrite::None:
            break;
        case DeviceWrite::GlobalGain:
            for (int s : {kGainG1, kGainR, kGainB, kGainG2}) camera.analogSettings[s] = value;
            camera.device->SetGlobalGain(value);
            break;
        case DeviceWrite::ColorGain:
            camera.device->SetColorGain(e.gainRegister, value);
            break;
        case DeviceWrite::Exposure:
            camera.device->SetExposure(value);
            break;
    }
    return 1;
}

int GetFilterValue(CameraInstance& camera, int index, int* ok) {
    if (!camera.device) {
        if (ok) *ok = 0;
        camera.reportError(kErrNotAllowed);
        return 0;
    }
    if (index < 1 || index > 27) {
        if (ok) *ok = 0;
        camera.reportError(kErrArgument);
        return 0;
    }
    if (ok) *ok = 1;
    const auto& image = camera.imageSettings;
    if (index == kFilterBayerGainRGB)
        return (image[kBayerGainBlue] & 0xFF) << 16 | (image[kBayerGainGreen] & 0xFF) << 8 |
               (image[kBayerGainRed] & 0xFF);
    return Slot(camera, kTable[index - 1]);
}

}  // namespace zelvik
