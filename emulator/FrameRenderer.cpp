// How the sensor registers shape a frame, and the renderer that cuts frames out of a scene's mosaic.
#include "emulator/FrameRenderer.h"

#include <algorithm>
#include <cstring>

#include "emulator/RegisterMap.h"

namespace zelvik::emu {

SensorWindow WindowFromRegisters(const RegisterFile& registers) {
    SensorWindow w;
    w.x = std::clamp(static_cast<int>(registers[reg::kColumnStart]) - kColumnOrigin, 0, kSensorWidth - 1);
    w.y = std::clamp(static_cast<int>(registers[reg::kRowStart]) - kRowOrigin, 0, kSensorHeight - 1);
    w.width = std::min(static_cast<int>(registers[reg::kColumnSize]) + 1, kSensorWidth - w.x);
    w.height = std::min(static_cast<int>(registers[reg::kRowSize]) + 1, kSensorHeight - w.y);
    w.columnSkip = (registers[reg::kColumnMode] & kSkipMask) + 1;
    w.rowSkip = (registers[reg::kRowMode] & kSkipMask) + 1;
    w.mirror = (registers[reg::kReadMode] & kMirrorVerticalBit) != 0;
    w.outWidth = w.width / w.columnSkip;
    w.outHeight = w.height / w.rowSkip;
    return w;
}

double SensorTiming::PeriodSeconds() const {
    return static_cast<double>(lineClocks) * frameLines / kPixelClockHz;
}

SensorTiming TimingFromRegisters(const RegisterFile& registers, const SensorWindow& window) {
    SensorTiming t;
    t.lineClocks = window.outWidth + kLineOverhead + registers[reg::kHorizontalBlank];
    // An exposure longer than the readout stretches the frame.
    t.frameLines = std::max({window.outHeight + static_cast<int>(registers[reg::kVerticalBlank]),
                             static_cast<int>(registers[reg::kExposure]), 1});
    return t;
}

LevelRegisters LevelsFromRegisters(const RegisterFile& registers, bool byteProtocol) {
    LevelRegisters l;
    auto site = [&l](Site s) -> uint16_t& { return l.colourGain[static_cast<int>(s)]; };
    site(Site::Green1) = registers[byteProtocol ? reg::kByteGainGreen1 : reg::kWordGainGreen1];
    site(Site::Red) = registers[byteProtocol ? reg::kByteGainRed : reg::kWordGainRed];
    site(Site::Blue) = registers[byteProtocol ? reg::kByteGainBlue : reg::kWordGainBlue];
    site(Site::Green2) = registers[byteProtocol ? reg::kByteGainGreen2 : reg::kWordGainGreen2];
    l.globalGain = registers[reg::kGlobalGain];
    l.exposure = registers[reg::kExposure];
    return l;
}

LevelTables BuildLevelTables(const LevelRegisters& levels) {
    LevelTables t;
    const uint64_t denominator = static_cast<uint64_t>(kUnityGainSum) * kUnityExposure;
    for (int s = 0; s < 4; ++s) {
        const uint64_t numerator = (static_cast<uint64_t>(levels.colourGain[s]) + levels.globalGain) * levels.exposure;
        if (numerator != denominator) t.identity = false;
        for (uint64_t v = 0; v < 256; ++v) {
            t.site[s][v] = static_cast<uint8_t>(std::min<uint64_t>(255, (v * numerator + denominator / 2) / denominator));
        }
    }
    return t;
}

void RenderFrame(const MosaicView& mosaic, const SensorWindow& window, const LevelTables* levels,
                 std::vector<uint8_t>* out) {
    const int width = window.outWidth;
    out->resize(window.FrameBytes());
    const bool applyLevels = levels != nullptr && !levels->identity;
    for (int r = 0; r < window.outHeight; ++r) {
        const int readRow = window.mirror ? window.outHeight - 1 - r : r;
        const int sensorRow = window.y + SkippedIndex(readRow, window.rowSkip);
        uint8_t* dst = out->data() + static_cast<size_t>(r) * width;
        if (sensorRow >= mosaic.height) {
            std::memset(dst, 0, width);
            continue;
        }
        const uint8_t* src = mosaic.data + static_cast<size_t>(sensorRow) * mosaic.stride;
        if (window.columnSkip == 1) {
            const int copied = std::clamp(mosaic.width - window.x, 0, width);
            std::memcpy(dst, src + window.x, copied);
            std::memset(dst + copied, 0, width - copied);
        } else {
            for (int c = 0; c < width; ++c) {
                const int column = window.x + SkippedIndex(c, window.columnSkip);
                dst[c] = column < mosaic.width ? src[column] : 0;
            }
        }
        if (applyLevels) {
            // Skipping keeps column parity, so the sites alternate from the window's first column.
            const int rowSites = (sensorRow & 1) << 1;
            const uint8_t* even = levels->site[rowSites | (window.x & 1)].data();
            const uint8_t* odd = levels->site[rowSites | ((window.x + 1) & 1)].data();
            int c = 0;
            for (; c + 1 < width; c += 2) {
                dst[c] = even[dst[c]];
                dst[c + 1] = odd[dst[c + 1]];
            }
            if (c < width) dst[c] = even[dst[c]];
        }
    }
}

}  // namespace zelvik::emu
