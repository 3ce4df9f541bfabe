// The filter-value table: ranges of every index, the packed Bayer gains, and what reaches the sensor.
#include "api/FilterValues.h"
#include "tests/api/ApiFixture.h"

namespace zelvik::test {
namespace {

using FilterValueTest = ApiFixture;

struct Range {
    int index, min, max;
    int (*set)(int, int);
    int (*get)(int, int*);
};

const Range kRanges[] = {
    {kFilterBrightness, -255, 255, Zelvik_SetBrightness, Zelvik_GetBrightness},
    {kFilterContrast, -127, 127, Zelvik_SetContrast, Zelvik_GetContrast},
    {kFilterHue, -360, 360, Zelvik_SetHue, Zelvik_GetHue},
    {kFilterSaturation, -255, 255, Zelvik_SetSaturation, Zelvik_GetSaturation},
    {kFilterSharpness, 0, 30, Zelvik_SetSharpness, Zelvik_GetSharpness},
    {kFilterBayerGainRed, 0, 200, Zelvik_SetBayerGainRed, Zelvik_GetBayerGainRed},
    {kFilterBayerGainGreen, 0, 200, Zelvik_SetBayerGainGreen, Zelvik_GetBayerGainGreen},
    {kFilterBayerGainBlue, 0, 200, Zelvik_SetBayerGainBlue, Zelvik_GetBayerGainBlue},
    {kFilterGamma, 0, 200, Zelvik_SetGamma, Zelvik_GetGamma},
    {kFilterBayerMode, 0, 3, Zelvik_SetBayerMode, Zelvik_GetBayerMode},
    {kFilterGlobalGain, 0, 63, Zelvik_SetGlobalGain, Zelvik_GetGlobalGain},
    {kFilterColorGainRed, 0, 63, Zelvik_SetColorGainRed, Zelvik_GetColorGainRed},
    {kFilterColorGainGreen1, 0, 63, Zelvik_SetColorGainGreen1, Zelvik_GetColorGainGreen1},
    {kFilterColorGainGreen2, 0, 63, Zelvik_SetColorGainGreen2, Zelvik_GetColorGainGreen2},
    {kFilterColorGainBlue, 0, 63, Zelvik_SetColorGainBlue, Zelvik_GetColorGainBlue},
    {kFilterExposureTime, 0, 16383, Zelvik_SetExposureTime, Zelvik_GetExposureTime},
    {kFilterGrayMode, 0, 2, Zelvik_SetGrayMode, Zelvik_GetGrayMode},
    {kFilterGrayGainR, 0, 255, Zelvik_SetGrayGainR, Zelvik_GetGrayGainR},
    {kFilterGrayGainG1, 0, 255, Zelvik_SetGrayGainG1, Zelvik_GetGrayGainG1},
    {kFilterGrayGainG2, 0, 255, Zelvik_SetGrayGainG2, Zelvik_GetGrayGainG2},
    {kFilterGrayGainB, 0, 255, Zelvik_SetGrayGainB, Zelvik_GetGrayGainB},
    {kFilterGrayOffsetR, -255, 255, Zelvik_SetGrayOffsetR, Zelvik_GetGrayOffsetR},
    {kFilterGrayOffsetG1, -255, 255, Zelvik_SetGrayOffsetG1, Zelvik_GetGrayOffsetG1},
    {kFilterGrayOffsetG2, -255, 255, Zelvik_SetGrayOffsetG2, Zelvik_GetGrayOffsetG2},
    {kFilterGrayOffsetB, -255, 255, Zelvik_SetGrayOffsetB, Zelvik_GetGrayOffsetB},
};

TEST_F(FilterValueTest, EveryIndexAcceptsItsRangeAndRejectsJustOutside) {
    const int h = HandleWithDevice();
    DrainErrors(h);
    for (const Range& r : kRanges) {
        SCOPED_TRACE(r.index);
        int ok = 0;
        for (int v : {r.min, r.max}) {
            EXPECT_EQ(r.set(h, v), 1);
            EXPECT_EQ(r.get(h, &ok), v);
            EXPECT_EQ(ok, 1);
            EXPECT_EQ(Zelvik_GetFilterValue(h, r.index, &ok), v);  // the property forwards to the index
        }
        for (int v : {r.min - 1, r.max + 1}) {
            EXPECT_EQ(r.set(h, v), 0);
            EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_ARGUMENT);
            EXPECT_EQ(r.get(h, &ok), r.max);  // unchanged
        }
    }
    EXPECT_EQ(Zelvik_GetLastError(h), 0);
}

TEST_F(FilterValueTest, IndexesOutsideTheTableFail) {
    const int h = HandleWithDevice();
    DrainErrors(h);
    for (int index : {0, 28, -1, 1000}) {
        int ok = 5;
        EXPECT_EQ(Zelvik_GetFilterValue(h, index, &ok), 0);
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_ARGUMENT);
        EXPECT_EQ(Zelvik_SetFilterValue(h, index, 0), 0);
        EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_ARGUMENT);
    }
    int ok = 0;
    ASSERT_EQ(Zelvik_SetBrightness(h, 0), 1);
    EXPECT_EQ(Zelvik_GetFilterValue(h, kFilterBrightness, &ok), 0);
    EXPECT_EQ(ok, 1);  // a real zero
}

TEST_F(FilterValueTest, PackedBayerGainsAndAutoWhiteBalance) {
    const int h = HandleWithDevice();
    EXPECT_EQ(Zelvik_SetBayerGainRGB(h, 0x00C86432), 1);
    EXPECT_EQ(Zelvik_GetBayerGainRed(h, nullptr), 50);
    EXPECT_EQ(Zelvik_GetBayerGainGreen(h, nullptr), 100);
    EXPECT_EQ(Zelvik_GetBayerGainBlue(h, nullptr), 200);
    EXPECT_EQ(Zelvik_GetBayerGainRGB(h, nullptr), 0x00C86432);
    EXPECT_EQ(Zelvik_SetBayerGainRGB(h, 0x01FFFFFF), 1);  // no range check on the packed form
    EXPECT_EQ(Zelvik_GetBayerGainRed(h, nullptr), 255);
    EXPECT_EQ(Zelvik_GetBayerGainRGB(h, nullptr), 0x00FFFFFF);
    EXPECT_EQ(Zelvik_SetBayerGainAuto(h, -7), 1);
    EXPECT_EQ(Zelvik_GetBayerGainAuto(h, nullptr), 1);
    EXPECT_EQ(Zelvik_SetBayerGainAuto(h, 0), 1);
    EXPECT_EQ(Zelvik_GetBayerGainAuto(h, nullptr), 0);
}

TEST_F(FilterValueTest, GainsAndExposureReachTheSensor) {
    const int h = HandleWithDevice();
    RegisterMapDevice& d = Device(h);
    EXPECT_EQ(Zelvik_SetGlobalGain(h, 20), 1);
    EXPECT_EQ(d.Register16(0x35), 20);
    for (auto get : {Zelvik_GetColorGainRed, Zelvik_GetColorGainGreen1, Zelvik_GetColorGainGreen2,
                     Zelvik_GetColorGainBlue})
        EXPECT_EQ(get(h, nullptr), 20);
    // This device speaks the byte protocol: the colour gains sit at 0x26 (G1), 0x28 (B), 0x2A (R), 0x2C (G2).
    const struct {
        int (*set)(int, int);
        int reg;
    } gains[] = {{Zelvik_SetColorGainGreen1, 0x26}, {Zelvik_SetColorGainBlue, 0x28},
                 {Zelvik_SetColorGainRed, 0x2A}, {Zelvik_SetColorGainGreen2, 0x2C}};
    int value = 30;
    for (auto g : gains) {
        EXPECT_EQ(g.set(h, value), 1);
        EXPECT_EQ(d.Register16(g.reg), value);
        ++value;
    }
    EXPECT_EQ(Zelvik_SetExposureTime(h, 16383), 1);
    EXPECT_EQ(d.Register16(9), 16383);
    EXPECT_EQ(Zelvik_SetExposureTime(h, 0), 1);
    EXPECT_EQ(d.Register16(9), 1);  // the sensor takes at least one line
    EXPECT_EQ(Zelvik_GetExposureTime(h, nullptr), 0);
    // A failed write is not looked at: the setting is stored all the same.
    d.failRegisters = true;
    EXPECT_EQ(Zelvik_SetGlobalGain(h, 5), 1);
    EXPECT_EQ(Zelvik_GetGlobalGain(h, nullptr), 5);
}

TEST_F(FilterValueTest, WithoutDeviceEveryIndexReportsOne) {
    const int h = HandleWithoutDevice();
    DrainErrors(h);
    int ok = 3;
    EXPECT_EQ(Zelvik_GetFilterValue(h, kFilterBrightness, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_NOT_ALLOWED);
    EXPECT_EQ(Zelvik_SetGamma(h, 100), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_NOT_ALLOWED);
}

}  // namespace
}  // namespace zelvik::test
