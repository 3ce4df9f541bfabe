// The frame path through SnapShot on a fixed mosaic: automatic exposure/gain, white balance, the
// gray-mode measurement, and every colour mode against the imaging kernels run directly in the same order.
#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "capture/CaptureBuffers.h"
#include "capture/FramePath.h"

#include "imaging/Kernels.h"
#include "tests/capture/CaptureFixture.h"
#include "tests/capture/Reference.h"

namespace zelvik::test {
namespace {

constexpr int kModeBits[] = {8, 16, 24, 32, 48, 64};
constexpr int kWidth = 64;
constexpr int kHeight = 48;

class FramePathTest : public CaptureFixture {
protected:
    // A camera on the mosaic with the stored settings of earlier cases forgotten.
    int OpenOn(const emu::Image& mosaic) {
        ForgetSettings();
        MakeMosaicCamera(mosaic);
        const int h = Open();
        SetWindow(h, kWidth, kHeight);
        return h;
    }
};

emu::Image Uniform(uint8_t level) {
    return MakeMosaic(kWidth, kHeight, [level](int, int) { return level; });
}

TEST_F(FramePathTest, AutomaticExposureAndGainFollowTheRegionLevels) {
    struct Case {
        int mode;  // 1 exposure, 2 gain
        uint8_t level;
        int start;
        int expected;
    };
    const Case cases[] = {
        {1, 220, 1000, 250},   // factor 0.85 - 4 x 0.15 = 0.25
        {1, 30, 1000, 1500},   // 1.1 + 4 x 0.1 = 1.5
        {1, 130, 1000, 1000},  // 1.0: inside 0.6..1.2, nothing written
        {1, 30, 6000, 8192},   // 9000 is limited to 8192
        {1, 220, 12, 4},       // 3 is raised to the floor of 4
        {2, 30, 2, 4},         // trunc(3.0) = 3 is raised to 4
        {2, 30, 60, 63},       // 90 is limited to 63
        {2, 220, 40, 10},      // trunc(40 x 0.25)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "mode " << c.mode << " level " << int(c.level) << " from " << c.start);
        const int h = OpenOn(Uniform(c.level));
        ASSERT_EQ(Zelvik_SetAutoIris(h, c.mode), 1);
        ASSERT_EQ(c.mode == 1 ? Zelvik_SetExposureTime(h, c.start) : Zelvik_SetGlobalGain(h, c.start), 1);
        ASSERT_EQ(Zelvik_SnapShot(h, nullptr, 0, 1), 1);
        int ok = 0;
        if (c.mode == 1) {
            EXPECT_EQ(Zelvik_GetExposureTime(h, &ok), c.expected);
            EXPECT_EQ(Firmware().Register(9), c.expected) << "the sensor's exposure register";
        } else {
            EXPECT_EQ(Zelvik_GetGlobalGain(h, &ok), c.expected);
            EXPECT_EQ(Zelvik_GetColorGainRed(h, &ok), c.expected);
            EXPECT_EQ(Zelvik_GetColorGainBlue(h, &ok), c.expected);
            EXPECT_EQ(Firmware().Register(0x35), c.expected) << "the sensor's global gain register";
        }
        EXPECT_EQ(Errors(h), std::vector<int>{});
        Release(h);
    }
}

TEST_F(FramePathTest, AutomaticExposureOffReportsCode0OnEveryFrame) {
    const int h = OpenOn(Uniform(100));
    ASSERT_EQ(Zelvik_SetAutoIris(h, 0), 1);
    DrainMessages(Notify());
    ASSERT_EQ(Zelvik_Capture(h), 1);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Zelvik_SnapShot(h, nullptr, 0, 1), 1);
    int zeros = 0;
    ZelvikMessage m;
    while (ZelvikMsg_Get(Notify(), &m, 0) == 1) zeros += m.message == MSG_CAMERA_ERROR && m.lParam == 0;
    EXPECT_EQ(zeros, 3);
}

// Red sites (odd columns of even rows in this sensor's phase) at half the green level.
emu::Image RedAtHalf() {
    return MakeMosaic(kWidth, kHeight,
                      [](int c, int r) -> uint8_t { return (r % 2 == 0 && c % 2 == 1) ? 60 : 120; });
}

TEST_F(FramePathTest, OneShotWhiteBalanceMeasuresOnceAndClearsItsSwitches) {
    const int h = OpenOn(RedAtHalf());
    ASSERT_EQ(Zelvik_SetColorMode(h, 24), 1);
    auto& s = Instance(h).Settings().imageSettings;
    s[kAutoBayerGain] = s[kOneShot1] = s[kOneShot2] = 1;
    ASSERT_EQ(Zelvik_SnapShot(h, nullptr, 0, 1), 1);
    int ok = 0;
    EXPECT_EQ(Zelvik_GetBayerGainRed(h, &ok), 200);
    EXPECT_EQ(Zelvik_GetBayerGainGreen(h, &ok), 100);
    EXPECT_EQ(Zelvik_GetBayerGainBlue(h, &ok), 100);
    EXPECT_EQ(s[kAutoBayerGain], 0);
    EXPECT_EQ(s[kOneShot1], 0);
    EXPECT_EQ(s[kOneShot2], 0);
    // Once off, the gains stay as set.
    ASSERT_EQ(Zelvik_SetBayerGainRed(h, 150), 1);
    ASSERT_EQ(Zelvik_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Zelvik_GetBayerGainRed(h, &ok), 150);
}

TEST_F(FramePathTest, ContinuousWhiteBalanceMeasuresEveryFrame) {
    const int h = OpenOn(RedAtHalf());
    ASSERT_EQ(Zelvik_SetColorMode(h, 48), 1);
    ASSERT_EQ(Zelvik_SetBayerGainAuto(h, 1), 1);
    int ok = 0;
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_EQ(Zelvik_SetBayerGainRed(h, 100), 1);
        ASSERT_EQ(Zelvik_SnapShot(h, nullptr, 0, 1), 1);
        EXPECT_EQ(Zelvik_GetBayerGainRed(h, &ok), 200) << "frame " << frame;
        EXPECT_EQ(Zelvik_GetBayerGainAuto(h, &ok), 1);
    }
}

TEST_F(FramePathTest, SiteGainsAreMeasuredWhileTheCountdownRuns) {
    const emu::Image mosaic = MakeMosaic(kWidth, kHeight, [](int c, int r) {
        return static_cast<uint8_t>(40 + 20 * ((r & 1) * 2 + (c & 1)));
    });
    const int h = OpenOn(mosaic);
    ASSERT_EQ(Zelvik_SetColorMode(h, 8), 1);
    ASSERT_EQ(Zelvik_SetGrayMode(h, 1), 1);
    auto& s = Instance(h).Settings().imageSettings;
    s[kGrayAutoCountdown] = 1;
    // The gains the measurement kernel finds on this mosaic.
    FrameBuffer raw;
    raw.Create(kWidth, kHeight, 8);
    std::memcpy(raw.Bits(), mosaic.pixels.data(), mosaic.pixels.size());
    SiteGainParams measured{s[kBayerMode], 128, 128, 128, 128, 0, 0, 0, 0};
    raw.Apply(MeasureSiteLevels, raw, nullptr, 0, 0, measured);

    ASSERT_EQ(Zelvik_SnapShot(h, nullptr, 0, 1), 1);
    int ok = 0;
    EXPECT_EQ(Zelvik_GetGrayGainR(h, &ok), measured.gain01);
    EXPECT_EQ(Zelvik_GetGrayGainG1(h, &ok), measured.gain00);
    EXPECT_EQ(Zelvik_GetGrayGainG2(h, &ok), measured.gain11);
    EXPECT_EQ(Zelvik_GetGrayGainB(h, &ok), measured.gain10);
    EXPECT_EQ(s[kGrayAutoCountdown], 0);
    ASSERT_EQ(Zelvik_SetGrayGainR(h, 100), 1);
    ASSERT_EQ(Zelvik_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Zelvik_GetGrayGainR(h, &ok), 100) << "no measurement once the countdown is 0";
}

TEST_F(FramePathTest, SingleShotFollowsAWindowChangedAfterTheSetup) {
    const emu::Image mosaic =
        MakeMosaic(kWidth, kHeight, [](int c, int r) { return static_cast<uint8_t>(r * 5 + c % 2); });
    const int h = OpenOn(mosaic);
    ASSERT_EQ(Zelvik_SetColorMode(h, 8), 1);
    ASSERT_EQ(Zelvik_Capture(h), 1);  // buffers of 64 x 48
    SetWindow(h, 32, 24);
    std::vector<uint8_t> image(32 * 24);
    ASSERT_EQ(Zelvik_SnapShot(h, image.data(), static_cast<int>(image.size()), 1), 1);
    for (int r = 0; r < 24; ++r)
        ASSERT_EQ(0, std::memcmp(&image[static_cast<size_t>(r) * 32],
                                 &mosaic.pixels[static_cast<size_t>(r) * kWidth], 32))
            << "row " << r;
    // And back to a larger one than the setup's.
    SetWindow(h, kWidth, kHeight);
    image.assign(static_cast<size_t>(kWidth) * kHeight, 0);
    ASSERT_EQ(Zelvik_SnapShot(h, image.data(), static_cast<int>(image.size()), 1), 1);
    EXPECT_TRUE(image == mosaic.pixels);
    EXPECT_EQ(Errors(h), std::vector<int>{});
}

TEST_F(FramePathTest, EveryColourModeGivesTheKernelsOwnResult) {
    struct Case {
        const char* name;
        int bits;
        int grayMode;
        bool filters;
        bool oneShotWhiteBalance;
        bool mirrorH;
        int countdown;
    };
    const Case cases[] = {
        {"8-bit gray", 8, 0, true, false, false, 0},
        {"8-bit, site gains measured", 8, 1, false, false, false, 1},
        {"8-bit, gray from colour", 8, 2, true, false, false, 0},
        {"16-bit gray", 16, 0, true, false, false, 0},
        {"24-bit", 24, 0, true, false, false, 0},
        {"24-bit, one-shot white balance, mirrored", 24, 0, false, true, true, 0},
        {"32-bit", 32, 0, true, false, false, 0},
        {"48-bit", 48, 0, true, false, false, 0},
        {"48-bit, one-shot white balance", 48, 0, false, true, false, 0},
        {"64-bit", 64, 0, true, false, false, 0},
    };
    const emu::Image mosaic = TexturedMosaic(kWidth, kHeight);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int h = OpenOn(mosaic);
        ASSERT_EQ(Zelvik_SetColorMode(h, c.bits), 1);
        ASSERT_EQ(Zelvik_SetGrayMode(h, c.grayMode), 1);
        ASSERT_EQ(Zelvik_SetGamma(h, c.filters ? 80 : 100), 1);
        ASSERT_EQ(Zelvik_SetContrast(h, c.filters ? 20 : 0), 1);
        ASSERT_EQ(Zelvik_SetSharpness(h, c.filters ? 5 : 0), 1);
        ASSERT_EQ(Zelvik_SetBrightness(h, c.filters ? 10 : 0), 1);
        ASSERT_EQ(Zelvik_SetHue(h, c.filters ? 30 : 0), 1);
        ASSERT_EQ(Zelvik_SetSaturation(h, c.filters ? 40 : 0), 1);
        if (c.mirrorH) {
            ASSERT_EQ(Zelvik_SetMirrorH(h, 1), 1);
        }
        auto& s = Instance(h).Settings().imageSettings;
        if (c.oneShotWhiteBalance) s[kAutoBayerGain] = s[kOneShot1] = s[kOneShot2] = 1;
        s[kGrayAutoCountdown] = c.countdown;
        const int mode =
            static_cast<int>(std::find(std::begin(kModeBits), std::end(kModeBits), c.bits) - kModeBits);
        const std::vector<uint8_t> expected = Reference(mosaic, mode, PlainSettings(s), c.mirrorH);
        std::vector<uint8_t> image(expected.size());
        ASSERT_EQ(Zelvik_SnapShot(h, image.data(), static_cast<int>(image.size()), 1), 1);
        EXPECT_TRUE(image == expected);
        EXPECT_EQ(Errors(h), std::vector<int>{});
        Release(h);
    }
}

// The frame path runs its steps band by band; whatever the band, the output is that of every kernel run
// over the whole frame in turn (the reference), and the rows handed on as finished are the final ones.
// Every colour mode and gray mode, every Bayer mode, mirrored or not, sets of filters with and without
// sharpening, white balance and the site levels measured, on odd and tiny frames (the window after each
// subsample of an odd window among them) with bands of 1-3 rows, bands that do not divide the height and
// bands sized from the cache.
TEST(FramePathBands, EveryBandGivesTheWholeFramesBytes) {
    struct Config {
        const char* name;
        int mode;
        int grayMode;
        bool whiteBalance;  // one-shot, measured on the frame
        int countdown;
    };
    const Config configs[] = {
        {"8-bit gray", 0, 0, false, 0},      {"8-bit, site gains", 0, 1, false, 0},
        {"8-bit, neutral site gains", 0, 1, false, 0},
        {"8-bit, site gains measured", 0, 1, false, 1},
        {"8-bit, gray from colour", 0, 2, false, 0},
        {"8-bit, gray from balanced colour", 0, 2, true, 0},
        {"16-bit gray", 1, 0, false, 0},     {"24-bit", 2, 0, false, 0},
        {"24-bit, white balance", 2, 0, true, 0},
        {"32-bit", 3, 0, false, 0},          {"48-bit", 4, 0, false, 0},
        {"48-bit, white balance", 4, 0, true, 0},
        {"64-bit", 5, 0, false, 0},
    };
    struct Filters {
        const char* name;
        int hue, saturation, gamma, contrast, sharpness, brightness;
    };
    const Filters filterSets[] = {
        {"neutral", 0, 0, 100, 0, 0, 0},
        {"tone without sharpening", 0, 0, 80, 20, 0, 10},
        {"every filter", 30, 40, 80, 20, 5, 10},
        {"sharpen, brightness, gray saturation", 0, -256, 100, 0, 12, -40},
        {"gamma and hue", 200, 0, 150, 0, 0, 0},
    };
    struct Size {
        int w, h;
    };
    // 37 x 29 and its windows after subsample 1, 2 and 3; a frame of a few rows.
    const Size sizes[] = {{37, 29}, {18, 14}, {9, 7}, {4, 3}, {23, 5}};
    std::mt19937 rng(2024);
    for (const Size size : sizes) {
        // A dim texture with bright outliers, some of them next to each other and on band edges.
        const emu::Image mosaic = MakeMosaic(size.w, size.h, [&rng](int, int) {
            return static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 11)(rng) == 0
                                            ? std::uniform_int_distribution<int>(150, 255)(rng)
                                            : std::uniform_int_distribution<int>(60, 110)(rng));
        });
        for (const Config& config : configs) {
            for (int bayer = 0; bayer < 4; ++bayer) {
                const bool mirror = bayer % 2 == 1;
                for (const Filters& filters : filterSets) {
                    for (int band : {1, 2, 3, 5, 0}) {
                        SCOPED_TRACE(testing::Message() << size.w << "x" << size.h << " " << config.name << ", bayer "
                                                        << bayer << (mirror ? " mirrored, " : ", ") << filters.name
                                                        << ", bands of " << band);
                        CameraInstance camera;
                        auto& s = camera.Settings().imageSettings;
                        s[kBayerMode] = bayer;
                        s[kBayerGainRed] = 130, s[kBayerGainGreen] = 100, s[kBayerGainBlue] = 85;
                        s[kGrayMode] = config.grayMode;
                        s[kGrayGainR] = s[kGrayGainG1] = s[kGrayGainG2] = s[kGrayGainB] = 128;
                        if (std::strstr(config.name, "neutral") == nullptr)
                            s[kGrayGainR] = 140, s[kGrayGainB] = 90, s[kGrayOffsetG1] = 3;
                        s[kGrayAutoCountdown] = config.countdown;
                        if (config.whiteBalance) s[kAutoBayerGain] = s[kOneShot1] = s[kOneShot2] = 1;
                        s[kHue] = filters.hue, s[kSaturation] = filters.saturation, s[kGamma] = filters.gamma;
                        s[kContrast] = filters.contrast, s[kSharpness] = filters.sharpness;
                        s[kBrightness] = filters.brightness;
                        const std::vector<uint8_t> expected = Reference(mosaic, config.mode, PlainSettings(s), mirror);

                        FramePath path(camera);
                        ASSERT_TRUE(path.Prepare());
                        path.SetBandRows(band);
                        CaptureBuffers buffers;
                        ASSERT_TRUE(buffers.Build(config.mode, size.w, size.h));
                        FrameBuffer& landing = buffers.Landing();
                        for (int r = 0; r < size.h; ++r) {
                            uint8_t* row = landing.Bits() + static_cast<size_t>(r) * landing.Stride();
                            std::memcpy(row, &mosaic.pixels[static_cast<size_t>(r) * size.w], size.w);
                            if (mirror) std::reverse(row, row + size.w);
                        }
                        const FrameBuffer& output = buffers.OutputOf(config.mode);
                        std::vector<uint8_t> handedOn;
                        int nextRow = 0;
                        path.Process(buffers, landing, config.mode, [&](int from, int to) {
                            EXPECT_EQ(from, nextRow);
                            EXPECT_GT(to, from);
                            nextRow = to;
                            handedOn.insert(handedOn.end(), output.Bits() + static_cast<size_t>(from) * output.Stride(),
                                            output.Bits() + static_cast<size_t>(to) * output.Stride());
                        });
                        ASSERT_TRUE(Bytes(output) == expected);
                        ASSERT_EQ(nextRow, size.h);
                        ASSERT_TRUE(handedOn == expected) << "a band was handed on before its last step";
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace zelvik::test
