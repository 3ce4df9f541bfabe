// The camera's settings as one value record: what the settings store loads and saves and what the
// instance applies to the device. Nothing here knows the instance.
#pragma once

#include <array>
#include <cstdint>

#include "device/Sensor.h"
#include "settings/SharedSetting.h"

namespace zelvik {

// The sensor area a capture uses: EH x EV is the picture size before subsampling, at EHS, EVS; TH x TV
// the total size. Buf is the stored ring depth of a size entry (kept and written back, not used by this
// camera). The default is the whole sensor.
struct CaptureWindow {
    int32_t TH = sensor::kWidth, TV = sensor::kHeight, EH = sensor::kWidth, EV = sensor::kHeight, EHS = 0, EVS = 0,
            Buf = 10;
};

// Slots of the image settings (the image and gray filter settings and the white-balance switches).
enum ImageSlot : int {
    kBrightness = 0, kContrast = 1, kHue = 2, kSaturation = 3, kSharpness = 4,
    kBayerGainRed = 5, kBayerGainGreen = 6, kBayerGainBlue = 7, kGamma = 8, kBayerMode = 9,
    kGrayMode = 11, kGrayGainR = 12, kGrayGainG1 = 13, kGrayGainG2 = 14, kGrayGainB = 15,
    kGrayOffsetR = 16, kGrayOffsetG1 = 17, kGrayOffsetG2 = 18, kGrayOffsetB = 19,
    kAutoBayerGain = 25, kOneShot1 = 26, kOneShot2 = 27, kGrayAutoCountdown = 29,
    kImageSlotCount = 30
};

// Slots of the analog settings, in the order the settings store keeps them.
enum AnalogSlot : int {
    kGlobalGain = 0, kGainG1 = 1, kGainR = 2, kGainB = 3, kGainG2 = 4, kExposure = 5,
    kMirrorV = 6, kMirrorH = 7, kAutoIris = 8, kAnalogSlotCount = 9
};

using ImageSettings = std::array<SharedSetting, kImageSlotCount>;
using AnalogSettings = std::array<SharedSetting, kAnalogSlotCount>;

// A global gain sets the four colour gains as well: set(slot, value) for the global gain's slot, then
// for each colour gain's. Every writer of a global gain (the filter value, the automatic gain control,
// the analog dialog's defaults) goes through here.
template <typename SetSlot>
void SetGlobalGainSlots(int value, SetSlot&& set) {
    for (AnalogSlot slot : {kGlobalGain, kGainG1, kGainR, kGainB, kGainG2}) set(slot, value);
}
inline void SetGlobalGainSlots(AnalogSettings& analog, int value) {
    SetGlobalGainSlots(value, [&analog](AnalogSlot slot, int v) { analog[slot] = v; });
}

// What the setters take, and so what a stored value must be: a stored value outside is read as a
// missing one. Colour-mode codes are 0..5 (instance/ColorModes.h holds their table and checks the count);
// subsample 0..2 keeps every pixel, every 2nd or every 4th.
constexpr int kColorModeCodes = 6;
constexpr int kSubsampleSettings = 3;
// The colour mode before any store is read, and the one a first run stores: 24-bit colour.
constexpr int32_t kDefaultColorMode = 2;

inline bool IsColorModeCode(int32_t code) { return code >= 0 && code < kColorModeCodes; }
inline bool IsSubsampleSetting(int32_t subsample) { return subsample >= 0 && subsample < kSubsampleSettings; }
// A window the sensor takes at every subsample (the smallest window before subsampling, inside the sensor).
inline bool IsSensorWindow(const CaptureWindow& w) { return sensor::TakesWindow(w.EHS, w.EVS, w.EH, w.EV); }

// One handle's settings. The slots and the wait time are SharedSettings because the capture thread reads
// them while the application writes them, and the frame path writes measured gains and exposure back
// (relaxed atomics: each value stands alone). The window, colour mode, subsample and clock are written
// only by the application's thread between captures; a capture setup copies what it needs.
struct CameraSettings {
    CaptureWindow captureWindow;
    ImageSettings imageSettings{};
    AnalogSettings analogSettings{};
    int32_t colorMode = kDefaultColorMode;  // colour-mode code 0..5 (see instance/ColorModes.h)
    int32_t subsample = 0;  // 0, 1 or 2: every pixel, every 2nd, every 4th
    SharedSetting waitTime = 10;  // ms the streaming loop sleeps between device polls
    int32_t clock = 0;
};

}  // namespace zelvik
