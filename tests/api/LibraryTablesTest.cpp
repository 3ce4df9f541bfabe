// The table exports bindings read: each answers what the library then does, and refuses what it cannot fill.
#include <cmath>
#include <cstring>
#include <string>

#include "instance/Errors.h"
#include "tests/api/ApiFixture.h"

namespace zelvik::test {
namespace {

using LibraryTablesTest = ApiFixture;

std::string Text(const char* s) { return s ? s : "(null)"; }

TEST_F(LibraryTablesTest, ErrorNamesAndTextsAreThoseOfTheErrorTable) {
    const struct {
        int code;
        const char* name;
        const char* text;
    } cases[] = {
        {ZELVIK_ERR_AUTO_IRIS_OFF, "ZELVIK_ERR_AUTO_IRIS_OFF", "automatic exposure/gain control is off"},
        {ZELVIK_ERR_NO_CAMERA, "ZELVIK_ERR_NO_CAMERA", "camera not present"},
        {ZELVIK_ERR_MEMORY, "ZELVIK_ERR_MEMORY", "memory or buffer failure"},
        {ZELVIK_ERR_CAMERA_LOST, "ZELVIK_ERR_CAMERA_LOST", "camera lost during streaming"},
        {10, nullptr, nullptr},  // never reported
        {14, nullptr, nullptr},
        {-1, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(Text(ZelvikLib_ErrorName(c.code)), Text(c.name));
        EXPECT_EQ(Text(ZelvikLib_ErrorText(c.code)), Text(c.text));
    }
    int named = 0;
    for (int code = -1; code <= 64; ++code) named += ZelvikLib_ErrorName(code) != nullptr;
    EXPECT_EQ(named, static_cast<int>(std::size(kErrorTable)));
}

// Each range the export states is the one the setter enforces; the unchecked values take anything.
TEST_F(LibraryTablesTest, FilterInfoStatesTheRangeEverySetterEnforces) {
    const int h = HandleWithDevice();
    DrainErrors(h);
    int indexes = 0;
    for (int index = 1;; ++index) {
        ZelvikFilterInfo info{};
        info.size = sizeof info;
        if (!ZelvikLib_FilterInfo(index, &info)) break;
        SCOPED_TRACE(Text(info.name));
        ++indexes;
        EXPECT_EQ(info.index, index);
        ASSERT_NE(info.name, nullptr);
        ASSERT_NE(info.toolName, nullptr);
        if (!info.rangeChecked) {
            EXPECT_EQ(info.min, 0);
            EXPECT_EQ(info.max, 0);
            EXPECT_EQ(Zelvik_SetFilterValue(h, index, -123456), 1);
            continue;
        }
        EXPECT_EQ(Zelvik_SetFilterValue(h, index, info.min), 1);
        EXPECT_EQ(Zelvik_SetFilterValue(h, index, info.max), 1);
        EXPECT_EQ(Zelvik_SetFilterValue(h, index, info.min - 1), 0);
        EXPECT_EQ(Zelvik_SetFilterValue(h, index, info.max + 1), 0);
    }
    EXPECT_EQ(indexes, 27);

    const struct {
        int index;
        const char *name, *toolName;
        int checked, min, max;
    } rows[] = {
        {1, "Brightness", "brightness", 1, -255, 255},
        {6, "BayerGainRGB", "bayer-gain-rgb", 0, 0, 0},
        {10, "BayerGainAuto", "bayer-gain-auto", 0, 0, 0},
        {18, "ExposureTime", "exposure", 1, 0, 16383},
        {23, "GrayGainB", "gray-gain-b", 1, 0, 255},
    };
    for (const auto& r : rows) {
        ZelvikFilterInfo info{};
        info.size = sizeof info;
        ASSERT_EQ(ZelvikLib_FilterInfo(r.index, &info), 1);
        EXPECT_EQ(Text(info.name), r.name);
        EXPECT_EQ(Text(info.toolName), r.toolName);
        EXPECT_EQ(info.rangeChecked, r.checked);
        EXPECT_EQ(info.min, r.min);
        EXPECT_EQ(info.max, r.max);
    }
}

// A record that is missing, too small or asked for outside the table is refused and left as it was.
TEST_F(LibraryTablesTest, RecordsAreFilledOnlyWhenWholeAndKnown) {
    ZelvikFilterInfo filter;
    std::memset(&filter, 0x5A, sizeof filter);
    filter.size = sizeof filter;
    const ZelvikFilterInfo filterBefore = filter;
    EXPECT_EQ(ZelvikLib_FilterInfo(0, &filter), 0);
    EXPECT_EQ(ZelvikLib_FilterInfo(28, &filter), 0);
    filter.size = sizeof filter - 1;
    EXPECT_EQ(ZelvikLib_FilterInfo(1, &filter), 0);
    filter.size = sizeof filter;
    EXPECT_EQ(std::memcmp(&filter, &filterBefore, sizeof filter), 0);
    EXPECT_EQ(ZelvikLib_FilterInfo(1, nullptr), 0);

    ZelvikColorModeInfo mode;
    std::memset(&mode, 0x5A, sizeof mode);
    mode.size = sizeof mode;
    const ZelvikColorModeInfo modeBefore = mode;
    EXPECT_EQ(ZelvikLib_ColorMode(-1, &mode), 0);
    EXPECT_EQ(ZelvikLib_ColorMode(6, &mode), 0);
    mode.size = 4;
    EXPECT_EQ(ZelvikLib_ColorMode(0, &mode), 0);
    mode.size = sizeof mode;
    EXPECT_EQ(std::memcmp(&mode, &modeBefore, sizeof mode), 0);
    EXPECT_EQ(ZelvikLib_ColorMode(0, nullptr), 0);

    ZelvikSensorInfo sensor{};
    sensor.size = sizeof sensor - 1;
    EXPECT_EQ(ZelvikLib_SensorInfo(&sensor), 0);
    EXPECT_EQ(sensor.width, 0);
    EXPECT_EQ(ZelvikLib_SensorInfo(nullptr), 0);
}

// Each mode's bits are what Zelvik_SetColorMode takes and its depth what Zelvik_GetColorMode then answers.
TEST_F(LibraryTablesTest, ColorModesAreWhatTheColorModeCallsTakeAndAnswer) {
    const int h = HandleWithDevice();
    const struct {
        int bits, depth, color, samples, sampleBits;
    } expected[] = {{8, 8, 0, 1, 8}, {16, 10, 0, 1, 16}, {24, 24, 1, 3, 8},
                    {32, 32, 1, 4, 8}, {48, 42, 1, 3, 16}, {64, 58, 1, 4, 16}};
    for (int n = 0; n < static_cast<int>(std::size(expected)); ++n) {
        SCOPED_TRACE(n);
        ZelvikColorModeInfo info{};
        info.size = sizeof info;
        ASSERT_EQ(ZelvikLib_ColorMode(n, &info), 1);
        EXPECT_EQ(info.bits, expected[n].bits);
        EXPECT_EQ(info.reportedDepth, expected[n].depth);
        EXPECT_EQ(info.color, expected[n].color);
        EXPECT_EQ(info.samplesPerPixel, expected[n].samples);
        EXPECT_EQ(info.bitsPerSample, expected[n].sampleBits);
        ASSERT_EQ(Zelvik_SetColorMode(h, info.bits), 1);
        EXPECT_EQ(Zelvik_GetColorMode(h), info.reportedDepth);
    }
}

TEST_F(LibraryTablesTest, SensorInfoIsTheSizeTheCameraReports) {
    const int h = HandleWithDevice();
    ZelvikSensorInfo sensor{};
    sensor.size = sizeof sensor;
    ASSERT_EQ(ZelvikLib_SensorInfo(&sensor), 1);
    ZelvikCameraInfo camera{};
    camera.size = sizeof camera;
    ASSERT_EQ(Zelvik_GetCameraInfo(h, &camera), 1);
    EXPECT_EQ(sensor.width, camera.maxWidth);
    EXPECT_EQ(sensor.height, camera.maxHeight);
    EXPECT_EQ(sensor.width, 2592);
    EXPECT_EQ(sensor.height, 1944);
    EXPECT_EQ(sensor.minWidth, 4);
    EXPECT_EQ(sensor.minHeight, 3);
}

// The line period is the one the exposure read-out uses, with its subsample rule: 1 halves the width,
// 2 quarters it, any other value counts it whole.
TEST_F(LibraryTablesTest, LinePeriodIsTheExposureReadOutsLine) {
    const struct {
        int width, subsample, clocks;
    } cases[] = {
        {2592, 0, 2592 + 916}, {2592, 1, 1296 + 916}, {2592, 2, 648 + 916},
        {2592, 3, 2592 + 916}, {1001, 2, 250 + 916},  {0, 0, 916},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "/" + std::to_string(c.subsample));
        EXPECT_DOUBLE_EQ(ZelvikLib_LinePeriodUs(c.width, c.subsample), c.clocks / 96.0);
    }
    const int h = HandleWithDevice();
    for (int subsample : {0, 1, 2}) {
        ASSERT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 1000, 1944, 0, 600), 1);
        ASSERT_EQ(Zelvik_SetSubSample(h, subsample), 1);
        ASSERT_EQ(Zelvik_SetExposureTime(h, 1234), 1);
        int ok = 0;
        EXPECT_EQ(Zelvik_GetRealExposureTime(h, &ok),
                  static_cast<int>(std::trunc(1234 * ZelvikLib_LinePeriodUs(1000, subsample))));
    }
}

}  // namespace
}  // namespace zelvik::test
