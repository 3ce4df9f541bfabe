// The colour modes: one table of what each mode code means to the API, the store and the capture engine.
#pragma once

#include "settings/CameraSettings.h"

namespace zelvik {

// The finished image of a mode lives in one of the capture engine's buffers.
enum class ColorBuffer { Raw8, Raw16, Rgb24, Rgb32, Rgb48, Rgb64 };

struct ColorModeInfo {
    int code;           // stored as "Color", kept in CameraSettings::colorMode
    int bits;           // what Zelvik_SetColorMode takes; bits per pixel of the output buffer
    int reportedDepth;  // what Zelvik_GetColorMode answers: the significant bits
    bool wide;          // 10-bit samples in 16-bit words (the frame path widens the camera's bytes)
    ColorBuffer output;
};

inline constexpr ColorModeInfo kColorModes[] = {
    {0, 8, 8, false, ColorBuffer::Raw8},    {1, 16, 10, true, ColorBuffer::Raw16},
    {2, 24, 24, false, ColorBuffer::Rgb24}, {3, 32, 32, false, ColorBuffer::Rgb32},
    {4, 48, 42, true, ColorBuffer::Rgb48},  {5, 64, 58, true, ColorBuffer::Rgb64},
};
inline constexpr int kColorModeCount = static_cast<int>(sizeof kColorModes / sizeof kColorModes[0]);
static_assert(kColorModeCount == kColorModeCodes, "the store checks stored codes against this table");

inline bool IsValidColorMode(int code) { return code >= 0 && code < kColorModeCount; }
// The entry of a mode code, or null.
inline const ColorModeInfo* FindColorMode(int code) { return IsValidColorMode(code) ? &kColorModes[code] : nullptr; }
// The entry whose bits per pixel are bits, or null.
inline const ColorModeInfo* ColorModeOfBits(int bits) {
    for (const ColorModeInfo& m : kColorModes)
        if (m.bits == bits) return &m;
    return nullptr;
}
inline bool IsWideColorMode(int code) { return IsValidColorMode(code) && kColorModes[code].wide; }
// 8, 16, 24, 32, 48 or 64 for modes 0..5; 0 for anything else.
inline int BitsPerPixelOfColorMode(int code) { return IsValidColorMode(code) ? kColorModes[code].bits : 0; }

}  // namespace zelvik
