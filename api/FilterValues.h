// The indexed filter values 1..27 behind Zelvik_SetFilterValue, Zelvik_GetFilterValue and the 54
// property exports.
#pragma once

namespace zelvik {

class CameraInstance;

// Index of each property export's value.
enum FilterIndex : int {
    kFilterBrightness = 1, kFilterContrast, kFilterHue, kFilterSaturation, kFilterSharpness,
    kFilterBayerGainRGB, kFilterBayerGainRed, kFilterBayerGainGreen, kFilterBayerGainBlue,
    kFilterBayerGainAuto, kFilterGamma, kFilterBayerMode, kFilterGlobalGain, kFilterColorGainRed,
    kFilterColorGainGreen1, kFilterColorGainGreen2, kFilterColorGainBlue, kFilterExposureTime,
    kFilterGrayMode, kFilterGrayGainR, kFilterGrayGainG1, kFilterGrayGainG2, kFilterGrayGainB,
    kFilterGrayOffsetR, kFilterGrayOffsetG1, kFilterGrayOffsetG2, kFilterGrayOffsetB,
};

// 1 stored; 0 with error 1 (no device) or 9 (index outside 1..27, value outside its range).
int SetFilterValue(CameraInstance& camera, int index, int value);
// The value with *ok = 1; 0 with *ok = 0 and error 1 or 9 on failure.
int GetFilterValue(CameraInstance& camera, int index, int* ok);

}  // namespace zelvik
