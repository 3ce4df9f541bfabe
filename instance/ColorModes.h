// The colour modes: one table of what each mode code means to the API, the store and the capture engine.
#pragma once

#include "settings/CameraSettings.h"

namespace zelvik {

// The capture engine's buffers a mode's mosaic and finished image live in.
enum class ColorBuffer { Raw8, Raw16, Rgb24, Rgb32, Rgb48, Rgb64 };

struct ColorModeInfo {
    int code;           // stored as "Color", kept in CameraSettings::colorMode
    int bits;           // what Zelvik_SetColorMode takes; bits per pixel of the output buffer
    int reportedDepth;  // what Zelvik_GetColorMode answers: the significant bits
    // The mosaic the frame path works on: raw16 holds 10-bit samples in 16-bit words, which the frame path
    // widens from the camera's bytes; raw8 is the camera's frame itself.
    ColorBuffer raw;
    ColorBuffer output;
    bool color;  // the output is the demosaiced colour picture; else it is the gray mosaic itself

    // 16-bit samples: the camera is switched to its wide transfer and the frame path widens the frame.
    constexpr bool Wide() const { return raw == ColorBuffer::Raw16; }
    // The gray modes (site gains, luminance) act on the 8-bit gray mosaic only.
    constexpr bool HasGrayModes() const { return !color && raw == ColorBuffer::Raw8; }
    // rgb24 is built as the output, or as the demosaic target of the gray mode that turns the colour
    // picture back into gray. (The preview converts each output straight into its window memory.)
    constexpr bool NeedsRgb24() const { return output == ColorBuffer::Rgb24 || HasGrayModes(); }
};

inline constexpr ColorModeInfo kColorModes[] = {
    {0, 8, 8, ColorBuffer::Raw8, ColorBuffer::Raw8, false},
    {1, 16, 10, ColorBuffer::Raw16, ColorBuffer::Raw16, false},
    {2, 24, 24, ColorBuffer::Raw8, ColorBuffer::Rgb24, true},
    {3, 32, 32, ColorBuffer::Raw8, ColorBuffer::Rgb32, true},
    {4, 48, 42, ColorBuffer::Raw16, ColorBuffer::Rgb48, true},
    {5, 64, 58, ColorBuffer::Raw16, ColorBuffer::Rgb64, true},
};
inline constexpr int kColorModeCount = static_cast<int>(sizeof kColorModes / sizeof kColorModes[0]);
static_assert([] {
    for (int i = 0; i < kColorModeCount; ++i)
        if (kColorModes[i].code != i) return false;
    return true;
}(), "a mode's code is its place in the table");
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
inline bool IsWideColorMode(int code) { return IsValidColorMode(code) && kColorModes[code].Wide(); }
// 8, 16, 24, 32, 48 or 64 for modes 0..5; 0 for anything else.
inline int BitsPerPixelOfColorMode(int code) { return IsValidColorMode(code) ? kColorModes[code].bits : 0; }

}  // namespace zelvik
