// How the sensor registers shape a frame: window, skip, mirror, levels and timing, and the renderer
// that cuts a frame out of a scene's mosaic.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "emulator/Scene.h"

namespace zelvik::emu {

using RegisterFile = std::array<uint16_t, 0x10000>;

// The part of the active array a frame reads, after clamping the window registers to the array.
struct SensorWindow {
    int x = 0, y = 0;               // first column and row of the active array
    int width = 0, height = 0;      // before skipping
    int columnSkip = 1, rowSkip = 1;
    bool mirror = false;            // rows delivered bottom to top
    int outWidth = 0, outHeight = 0;  // width / columnSkip, height / rowSkip
    bool operator==(const SensorWindow&) const = default;

    size_t FrameBytes() const { return static_cast<size_t>(outWidth) * outHeight; }
};

SensorWindow WindowFromRegisters(const RegisterFile& registers);

// Skipping keeps the 2 x 2 colour filter blocks whole: with factor s, output column (or row) i reads
// input (i / 2) * 2s + i % 2, so 1/2 reads columns 0 1 4 5 8 9 ... and the frame stays a mosaic.
inline int SkippedIndex(int i, int skip) {
    return (i / 2) * 2 * skip + (i & 1);
}

// Pixel clocks per line, lines per frame and the frame period of the sensor's own timing.
struct SensorTiming {
    int lineClocks = 0;
    int frameLines = 0;
    double PeriodSeconds() const;
};
SensorTiming TimingFromRegisters(const RegisterFile& registers, const SensorWindow& window);

// Per-site level tables: out = min(255, round(in x (colour gain + global gain) / 32 x exposure / 1100)).
// The colour gain registers are 0x2B-0x2E in the word protocol and 0x26/0x28/0x2A/0x2C in the byte one.
struct LevelTables {
    std::array<std::array<uint8_t, 256>, 4> site;  // indexed by Site
    bool identity = true;
};
struct LevelRegisters {
    std::array<uint16_t, 4> colourGain{};  // by Site
    uint16_t globalGain = 0;
    uint16_t exposure = 0;
    bool operator==(const LevelRegisters&) const = default;
};
LevelRegisters LevelsFromRegisters(const RegisterFile& registers, bool byteProtocol);
LevelTables BuildLevelTables(const LevelRegisters& levels);

// Renders one frame: the window's pixels of the mosaic, skipped, mirrored, passed through the level
// tables (unless null), packed row after row into out (resized to the frame bytes).
void RenderFrame(const MosaicView& mosaic, const SensorWindow& window, const LevelTables* levels,
                 std::vector<uint8_t>* out);

}  // namespace zelvik::emu
