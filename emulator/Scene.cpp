// Scene generators of the emulated sensor: colour bars, a moving pattern, pictures and raw mosaics.
#include "emulator/Scene.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "emulator/RegisterMap.h"

namespace zelvik::emu {
namespace {

struct Rgb {
    uint8_t r, g, b;
};

inline uint8_t SiteSample(Rgb colour, int row, int column) {
    switch (SiteAt(row, column)) {
        case Site::Red: return colour.r;
        case Site::Blue: return colour.b;
        default: return colour.g;
    }
}

// A scene whose mosaic never changes.
class StillScene : public Scene {
public:
    StillScene(std::vector<uint8_t> mosaic, int width, int height, bool raw, std::string name)
        : mosaic_(std::move(mosaic)), width_(width), height_(height), raw_(raw), name_(std::move(name)) {}
    MosaicView Frame(uint64_t) const override {
        return {mosaic_.data(), width_, height_, static_cast<size_t>(width_)};
    }
    bool Raw() const override { return raw_; }
    std::string Name() const override { return name_; }

private:
    std::vector<uint8_t> mosaic_;
    int width_, height_;
    bool raw_;
    std::string name_;
};

// Samples colour(column, row) on the filter sites of a width x height mosaic.
template <typename ColourAt>
std::vector<uint8_t> Mosaic(int width, int height, ColourAt colourAt) {
    std::vector<uint8_t> mosaic(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = mosaic.data() + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) row[x] = SiteSample(colourAt(x, y), y, x);
    }
    return mosaic;
}

std::shared_ptr<const Scene> BuildColourBars() {
    static constexpr Rgb kBars[8] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                                     {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {96, 96, 96}};
    constexpr int kBarRows = kSensorHeight * 3 / 4;
    auto colourAt = [](int x, int y) -> Rgb {
        if (y < kBarRows) return kBars[x * 8 / kSensorWidth];
        const auto level = static_cast<uint8_t>(16 + x * 224 / kSensorWidth);
        return {level, level, level};
    };
    return std::make_shared<StillScene>(Mosaic(kSensorWidth, kSensorHeight, colourAt), kSensorWidth,
                                        kSensorHeight, false, "bars");
}

Rgb Hue(double hue, double value) {
    const double h = hue * 6.0;
    const int sector = static_cast<int>(h) % 6;
    const double f = h - std::floor(h);
    const auto v = static_cast<uint8_t>(value);
    const auto rising = static_cast<uint8_t>(value * f);
    const auto falling = static_cast<uint8_t>(value * (1.0 - f));
    switch (sector) {
        case 0: return {v, rising, 0};
        case 1: return {falling, v, 0};
        case 2: return {0, v, rising};
        case 3: return {0, falling, v};
        case 4: return {rising, 0, v};
        default: return {v, 0, falling};
    }
}

// The pattern repeats every kPeriod columns; the mosaic is one period wider than the sensor so that
// every frame is a window into it (an even step keeps the filter phase).
class Moving : public Scene {
public:
    static constexpr int kPeriod = 512;
    static constexpr int kStep = 8;
    static constexpr int kWidth = kSensorWidth + kPeriod;

    Moving() {
        mosaic_ = Mosaic(kWidth, kSensorHeight, [](int x, int y) {
            const double value = 60.0 + 180.0 * y / (kSensorHeight - 1);
            return Hue(static_cast<double>(x % kPeriod) / kPeriod, value);
        });
    }
    MosaicView Frame(uint64_t frameNumber) const override {
        const size_t shift = (frameNumber * kStep) % kPeriod;
        return {mosaic_.data() + shift, kSensorWidth, kSensorHeight, static_cast<size_t>(kWidth)};
    }
    bool Animated() const override { return true; }
    std::string Name() const override { return "moving"; }

private:
    std::vector<uint8_t> mosaic_;
};

// Every pixel of frame n is 16 + 29 n mod 224, delivered as it stands: every row carries its frame's
// number (mod 224; 29 and 224 share no factor, so 224 consecutive frames all differ), and a picture
// whose rows disagree was put together from more than one frame.
class Counter : public Scene {
public:
    static constexpr int kLevels = kCounterSceneLevels;

    Counter() : rows_(static_cast<size_t>(kLevels) * kSensorWidth) {
        for (int n = 0; n < kLevels; ++n) {
            std::fill_n(rows_.begin() + static_cast<ptrdiff_t>(n) * kSensorWidth, kSensorWidth,
                        CounterSceneLevel(static_cast<uint64_t>(n)));
        }
    }
    // Stride 0: one stored row serves every row of the frame.
    MosaicView Frame(uint64_t frameNumber) const override {
        const size_t row = static_cast<size_t>(frameNumber % kLevels) * kSensorWidth;
        return {rows_.data() + row, kSensorWidth, kSensorHeight, 0};
    }
    bool Animated() const override { return true; }
    bool Raw() const override { return true; }
    std::string Name() const override { return "counter"; }

private:
    std::vector<uint8_t> rows_;
};

// Built once per process and shared: every camera of a multi-camera emulator looks at the same bars.
template <typename Build>
std::shared_ptr<const Scene> Shared(std::weak_ptr<const Scene>& cache, std::mutex& mutex, Build build) {
    std::lock_guard lock(mutex);
    auto scene = cache.lock();
    if (!scene) {
        scene = build();
        cache = scene;
    }
    return scene;
}

}  // namespace

std::shared_ptr<const Scene> ColourBarsScene() {
    static std::mutex mutex;
    static std::weak_ptr<const Scene> cache;
    return Shared(cache, mutex, BuildColourBars);
}

std::shared_ptr<const Scene> MovingScene() {
    static std::mutex mutex;
    static std::weak_ptr<const Scene> cache;
    return Shared(cache, mutex, [] { return std::make_shared<Moving>(); });
}

std::shared_ptr<const Scene> CounterScene() {
    static std::mutex mutex;
    static std::weak_ptr<const Scene> cache;
    return Shared(cache, mutex, [] { return std::make_shared<Counter>(); });
}

std::shared_ptr<const Scene> PictureScene(const Image& rgb, std::string name) {
    if (rgb.channels != 3 || rgb.width <= 0 || rgb.height <= 0) return nullptr;
    // Cover the sensor: the larger of the two scale factors, the excess cropped equally on both sides.
    const double scale = std::max(static_cast<double>(kSensorWidth) / rgb.width,
                                  static_cast<double>(kSensorHeight) / rgb.height);
    const double offsetX = (rgb.width - kSensorWidth / scale) / 2.0;
    const double offsetY = (rgb.height - kSensorHeight / scale) / 2.0;
    struct Tap {
        int a, b;    // neighbouring source samples
        int weight;  // of b, in 1/256
    };
    auto taps = [scale](int count, double offset, int limit) {
        std::vector<Tap> result(count);
        for (int i = 0; i < count; ++i) {
            const double at = std::clamp((i + 0.5) / scale - 0.5 + offset, 0.0, limit - 1.0);
            const int a = static_cast<int>(at);
            result[i] = {a, std::min(a + 1, limit - 1), static_cast<int>((at - a) * 256.0)};
        }
        return result;
    };
    const std::vector<Tap> columns = taps(kSensorWidth, offsetX, rgb.width);
    const std::vector<Tap> rows = taps(kSensorHeight, offsetY, rgb.height);
    const size_t stride = static_cast<size_t>(rgb.width) * 3;
    std::vector<uint8_t> mosaic(static_cast<size_t>(kSensorWidth) * kSensorHeight);
    for (int y = 0; y < kSensorHeight; ++y) {
        const uint8_t* top = rgb.pixels.data() + rows[y].a * stride;
        const uint8_t* bottom = rgb.pixels.data() + rows[y].b * stride;
        const int wy = rows[y].weight;
        uint8_t* out = mosaic.data() + static_cast<size_t>(y) * kSensorWidth;
        for (int x = 0; x < kSensorWidth; ++x) {
            const Site site = SiteAt(y, x);
            const int channel = site == Site::Red ? 0 : site == Site::Blue ? 2 : 1;
            const int ca = columns[x].a * 3 + channel, cb = columns[x].b * 3 + channel;
            const int wx = columns[x].weight;
            const int upper = top[ca] * (256 - wx) + top[cb] * wx;
            const int lower = bottom[ca] * (256 - wx) + bottom[cb] * wx;
            out[x] = static_cast<uint8_t>((upper * (256 - wy) + lower * wy + 32768) >> 16);
        }
    }
    return std::make_shared<StillScene>(std::move(mosaic), kSensorWidth, kSensorHeight, false, std::move(name));
}

std::shared_ptr<const Scene> MosaicScene(Image gray, std::string name) {
    if (gray.channels != 1 || gray.width <= 0 || gray.height <= 0) return nullptr;
    const int width = gray.width, height = gray.height;
    return std::make_shared<StillScene>(std::move(gray.pixels), width, height, true, std::move(name));
}

std::shared_ptr<const Scene> LoadScene(const std::string& nameOrPath, std::string* error) {
    if (nameOrPath == "bars") return ColourBarsScene();
    if (nameOrPath == "moving") return MovingScene();
    if (nameOrPath == "counter") return CounterScene();
    Image rgb;
    if (!LoadColourImage(nameOrPath, &rgb, error)) return nullptr;
    return PictureScene(rgb, nameOrPath);
}

std::shared_ptr<const Scene> LoadMosaic(const std::string& path, std::string* error) {
    Image gray;
    if (!LoadGrayImage(path, &gray, error)) return nullptr;
    return MosaicScene(std::move(gray), path);
}

}  // namespace zelvik::emu
