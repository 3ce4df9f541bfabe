// The Q77RX sensor as the layers above the device see it: its size, the ranges the API offers, and its
// register numbers. Nothing above device/ writes a register number.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zelvik::sensor {

constexpr int kWidth = 2592;
constexpr int kHeight = 1944;
// The smallest window the sensor takes (the instance accepts smaller ones; capture setup then fails).
constexpr int kMinWidth = 4;
constexpr int kMinHeight = 3;
constexpr int kMaxSubsample = 3;

// True for a window the sensor takes: at least the smallest window, wholly inside the sensor.
constexpr bool TakesWindow(int x, int y, int width, int height) {
    return x >= 0 && y >= 0 && width >= kMinWidth && height >= kMinHeight && int64_t{x} + width <= kWidth &&
           int64_t{y} + height <= kHeight;
}

// One side of the window after subsampling: subsample 0..3 keeps every 1st, 2nd, 4th or 8th pixel
// (values outside clamp to that range).
constexpr int Subsampled(int length, int subsample) {
    return length / (1 << std::clamp(subsample, 0, kMaxSubsample));
}

// Line timing: a line takes the window's width after subsampling plus the overhead, in clocks of the
// pixel clock.
constexpr int kLineOverheadClocks = 916;
constexpr int kPixelClockMHz = 96;

// Pixel clocks per line as the exposure read-out counts them: the width halved for subsample 1, quartered
// for 2 and whole for any other value (3 included), plus the overhead; kept in 16 bits as the read-out
// keeps it.
constexpr uint16_t LineClocks(int64_t width, int subsample) {
    const int64_t counted = subsample == 1 ? width / 2 : subsample == 2 ? width / 4 : width;
    return static_cast<uint16_t>(counted + kLineOverheadClocks);
}

// Frame timing: a frame takes the window's rows after subsampling plus the vertical blanking (which the
// device writes with every format), or the exposure when that is longer: the sensor then stretches the
// frame to it.
constexpr int kVerticalBlankLines = 48;
constexpr int64_t FrameLines(int height, int subsample, int exposureLines) {
    return std::max<int64_t>(Subsampled(height, subsample) + kVerticalBlankLines, exposureLines);
}
// The sensor's frame period in nanoseconds: lines per frame times the line as the exposure counts it.
constexpr int64_t FramePeriodNs(int width, int height, int subsample, int exposureLines) {
    return static_cast<int64_t>(LineClocks(width, subsample)) * FrameLines(height, subsample, exposureLines) *
           1000 / kPixelClockMHz;
}

// Ranges the API offers for the analog settings (GetCameraInfo, the filter values).
constexpr int kGainMin = 0;
constexpr int kGainMax = 63;
constexpr int kExposureMin = 1;
constexpr int kExposureMax = 16383;

// The four mosaic sites with a colour gain of their own, in the order of their registers.
enum class GainSite { Green1, Blue, Red, Green2 };

// Registers of the word protocol; the byte protocol addresses a 16-bit register as a pair (high byte at A).
constexpr int kChipIdRegister = 0;
constexpr int kRowStartRegister = 1;
constexpr int kColumnStartRegister = 2;
constexpr int kRowSizeRegister = 3;
constexpr int kColumnSizeRegister = 4;
constexpr int kHorizontalBlankRegister = 5;
constexpr int kVerticalBlankRegister = 6;
constexpr int kExposureRegister = 9;
constexpr int kReadModeRegister = 0x20;
constexpr uint16_t kMirrorVBit = 0x8000;
constexpr int kRowAddressModeRegister = 0x22;
constexpr int kColumnAddressModeRegister = 0x23;
// Colour gains by GainSite: green 1, blue, red, green 2 (0x2B..0x2E), and their byte-protocol pairs.
constexpr int kColorGainRegisters[] = {0x2B, 0x2C, 0x2D, 0x2E};
constexpr int kColorGainBytePairs[] = {0x26, 0x28, 0x2A, 0x2C};
constexpr int kGlobalGainRegister = 0x35;
// What the gain registers take: larger values are clamped before the write.
constexpr int kColorGainRegisterMax = 127;
constexpr int kGlobalGainRegisterMax = 63;

}  // namespace zelvik::sensor
