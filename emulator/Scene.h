// What the emulated sensor looks at: pluggable scene generators that give the sensor's Bayer mosaic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "emulator/ImageFiles.h"

namespace zelvik::emu {

// The sensor's colour filter sites. The active array starts with a green pixel on a red row:
//   even rows: G1 R G1 R ...
//   odd rows:  B G2 B G2 ...
// (the host's Bayer mode 3 for a window at an even row and column).
enum class Site : int { Green1 = 0, Red = 1, Blue = 2, Green2 = 3 };

inline Site SiteAt(int row, int column) {
    return static_cast<Site>(((row & 1) << 1) | (column & 1));
}

// One frame's mosaic in sensor coordinates (column 0, row 0 = the first active pixel), one byte per
// pixel. Pixels beyond width or height read as 0.
struct MosaicView {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    size_t stride = 0;
};

class Scene {
public:
    virtual ~Scene() = default;
    // The mosaic of the given frame number at unity gain; it stays valid as long as the scene.
    virtual MosaicView Frame(uint64_t frameNumber) const = 0;
    // True when frames differ from one another, so every frame is rendered afresh.
    virtual bool Animated() const { return false; }
    // True when the mosaic is delivered as it stands: gains and exposure do not change it.
    virtual bool Raw() const { return false; }
    virtual std::string Name() const = 0;
};

// Eight vertical colour bars over a gray ramp. Shared by every camera that uses it (built once).
std::shared_ptr<const Scene> ColourBarsScene();
// Hue stripes over a vertical brightness ramp that move 8 pixels to the left each frame.
std::shared_ptr<const Scene> MovingScene();
// Frame n is one level everywhere, 16 + 29 n mod 224, delivered as it stands: a picture whose rows
// differ mixes two frames.
std::shared_ptr<const Scene> CounterScene();
// The counter scene's level of frame n, and back: the frame number mod 224 of a level (-1 for a level the
// scene never gives).
inline constexpr int kCounterSceneLevels = 224;
constexpr uint8_t CounterSceneLevel(uint64_t frameNumber) {
    return static_cast<uint8_t>(16 + frameNumber % kCounterSceneLevels * 29 % kCounterSceneLevels);
}
constexpr int CounterSceneFrame(int level) {
    for (int n = 0; n < kCounterSceneLevels; ++n)
        if (CounterSceneLevel(static_cast<uint64_t>(n)) == level) return n;
    return -1;
}
// A colour picture scaled to cover the sensor (aspect kept, centred, the excess cropped), bilinear,
// then sampled on the sensor's colour filter sites.
std::shared_ptr<const Scene> PictureScene(const Image& rgb, std::string name);
// An 8-bit mosaic delivered as it stands; pixels outside it read 0.
std::shared_ptr<const Scene> MosaicScene(Image gray, std::string name);

// "bars", "moving", "counter", or a PNG/PPM file. Null and a message on failure.
std::shared_ptr<const Scene> LoadScene(const std::string& nameOrPath, std::string* error);
// An 8-bit binary PGM mosaic. Null and a message on failure.
std::shared_ptr<const Scene> LoadMosaic(const std::string& path, std::string* error);

}  // namespace zelvik::emu
