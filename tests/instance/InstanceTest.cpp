// The camera instance behind the exports: error stack, messages, format values, mirrors, names, registers.
#include <cwchar>

#include "tests/api/ApiFixture.h"

namespace zelvik::test {
namespace {

using InstanceTest = ApiFixture;

TEST_F(InstanceTest, ErrorStackKeepsTheLastTwentyNewestFirst) {
    const int h = HandleWithDevice();
    DrainErrors(h);
    CameraInstance& c = Instance(h);
    for (int code = 1; code <= 21; ++code) c.reportError(code);
    for (int code = 21; code >= 2; --code) EXPECT_EQ(Zelvik_GetLastError(h), code);
    EXPECT_EQ(Zelvik_GetLastError(h), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), 0);
}

TEST_F(InstanceTest, ErrorsArePostedToTheNotifyQueueWithTheCodeInLParam) {
    const int h = HandleWithDevice(std::make_unique<RegisterMapDevice>(), Queue());
    ZelvikMessage m;
    while (ZelvikMsg_Get(Queue(), &m, 0) == 1) {
    }
    EXPECT_EQ(Zelvik_SetColorMode(h, 12), 0);
    ASSERT_EQ(ZelvikMsg_Get(Queue(), &m, 1000), 1);
    EXPECT_EQ(m.message, uint32_t{MSG_CAMERA_ERROR});
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(m.lParam, ZELVIK_ERR_ARGUMENT);
    // The I/O-port calls post their codes without pushing them.
    DrainErrors(h);
    EXPECT_EQ(Zelvik_GetIOPort(h, nullptr, 0, 0), 0);
    ASSERT_EQ(ZelvikMsg_Get(Queue(), &m, 1000), 1);
    EXPECT_EQ(m.lParam, ZELVIK_ERR_ARGUMENT);
    EXPECT_EQ(Zelvik_GetLastError(h), 0);
}

TEST_F(InstanceTest, MissingDeviceReportsFiveThenOneFromDeviceOperations) {
    const int h = HandleWithoutDevice();
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_MEMORY);
    int ok = 9;
    char names[10 * 256];
    struct Case {
        const char* name;
        int result;
    } cases[] = {
        {"SetMirrorV", Zelvik_SetMirrorV(h, 1)},
        {"GetMirrorH", Zelvik_GetMirrorH(h)},
        {"SetDeviceNumber", Zelvik_SetDeviceNumber(h, 0)},
        {"EnumDevice", Zelvik_EnumDevice(h, names)},
        {"ReadRegister", Zelvik_ReadRegister(h, 1, &ok)},
        {"WriteRegisterEx", Zelvik_WriteRegisterEx(h, 1, 1)},
        {"SetBrightness", Zelvik_SetBrightness(h, 1)},
        {"SetPreviewWindow", Zelvik_SetPreviewWindow(h, 0, 0, 0, 10, 10)},
        {"StartPreview", Zelvik_StartPreview(h)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, 0) << c.name;
        EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_NOT_ALLOWED) << c.name;
    }
    EXPECT_EQ(ok, 0);
    // Calls that need no device still work.
    EXPECT_EQ(Zelvik_SetColorMode(h, 48), 1);
    EXPECT_EQ(Zelvik_SetAutoIris(h, 2), 1);
    EXPECT_EQ(Zelvik_GetAutoIris(h, &ok), 2);
    EXPECT_EQ(Zelvik_Close(h), 1);
}

TEST_F(InstanceTest, ColorModeSubsampleAndWaitTime) {
    const int h = HandleWithDevice();
    DrainErrors(h);
    const struct {
        int bits, reported;
    } modes[] = {{8, 8}, {16, 10}, {24, 24}, {32, 32}, {48, 42}, {64, 58}};
    for (auto m : modes) {
        EXPECT_EQ(Zelvik_SetColorMode(h, m.bits), 1);
        EXPECT_EQ(Zelvik_GetColorMode(h), m.reported);
    }
    EXPECT_EQ(Zelvik_SetColorMode(h, 12), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_ARGUMENT);
    EXPECT_EQ(Zelvik_GetColorMode(h), 58);  // unchanged

    EXPECT_EQ(Zelvik_SetSubSample(h, 2), 1);
    EXPECT_EQ(Zelvik_SetSubSample(h, 3), 0);
    EXPECT_EQ(Zelvik_SetSubSample(h, -1), 0);
    EXPECT_EQ(Zelvik_GetSubSample(h), 2);
    EXPECT_EQ(Zelvik_SetWaitTime(h, 0), 1);
    EXPECT_EQ(Zelvik_SetWaitTime(h, -1), 0);
    EXPECT_EQ(Zelvik_GetWaitTime(h), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), 0);  // the plain-0 setters report nothing
}

TEST_F(InstanceTest, RealExposureFollowsLineLengthAndSubsample) {
    const int h = HandleWithDevice();
    ASSERT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 2592, 1944, 0, 1944), 1);
    const struct {
        int subsample, exposure, expected;
    } cases[] = {
        {0, 1000, 36541},  // line 3508: trunc(3508000 / 96)
        {1, 1000, 23041},  // line 1296 + 916 = 2212
        {2, 1000, 16291},  // line 648 + 916 = 1564
        {0, 0, 0},
        {0, 16383, 598662},  // trunc(3508 * 16383 / 96)
    };
    for (auto c : cases) {
        Zelvik_SetSubSample(h, c.subsample);
        ASSERT_EQ(Zelvik_SetExposureTime(h, c.exposure), 1);
        int ok = 0;
        EXPECT_EQ(Zelvik_GetRealExposureTime(h, &ok), c.expected) << c.subsample << "/" << c.exposure;
        EXPECT_EQ(ok, 1);
    }
    EXPECT_EQ(Instance(h).LineLength(), 3508);
    EXPECT_DOUBLE_EQ(Instance(h).ClockPeriod(), 1.0 / 96);
}

TEST_F(InstanceTest, MirrorsMoveTheBayerPhase) {
    const int h = HandleWithDevice();
    ASSERT_EQ(Zelvik_SetBayerMode(h, 0), 1);
    struct Step {
        bool vertical;
        int flag, bayer;
    } steps[] = {{false, 1, 2}, {true, 1, 3}, {false, 0, 1}, {false, 0, 3}, {true, 0, 2}};
    for (auto s : steps) {
        EXPECT_EQ(s.vertical ? Zelvik_SetMirrorV(h, s.flag) : Zelvik_SetMirrorH(h, s.flag), 1);
        EXPECT_EQ(Zelvik_GetBayerMode(h, nullptr), s.bayer);
    }
    EXPECT_EQ(Zelvik_GetMirrorH(h), 0);
    EXPECT_EQ(Zelvik_GetMirrorV(h), 0);
    EXPECT_EQ(Device(h).mirrorWrites.back(), 0);
    // The device refusing the vertical mirror makes the call fail without an error.
    DrainErrors(h);
    Device(h).mirrorAnswer = DeviceResult::NoAnswer;
    EXPECT_EQ(Zelvik_SetMirrorV(h, 5), 0);
    EXPECT_EQ(Device(h).mirrorWrites.back(), 1);
    EXPECT_EQ(Zelvik_GetMirrorV(h), 1);
    EXPECT_EQ(Zelvik_GetLastError(h), 0);
}

TEST_F(InstanceTest, DeviceNamesCountValidCamerasWhileGetDeviceNameUsesTheIndex) {
    const int h = HandleWithDevice(std::make_unique<RegisterMapDevice>(std::set<int>{1, 3}, 4));
    DrainErrors(h);
    char names[10][256];
    std::memset(names, 'x', sizeof names);
    EXPECT_EQ(Zelvik_EnumDevice(h, &names[0][0]), 2);
    EXPECT_STREQ(names[0], "ZelvikQ77RX_01");
    EXPECT_STREQ(names[1], "ZelvikQ77RX_02");
    for (int i = 2; i < 10; ++i) EXPECT_EQ(names[i][0], '\0');

    wchar_t wide[10][256];
    EXPECT_EQ(Zelvik_EnumDeviceW(h, &wide[0][0]), 2);
    EXPECT_STREQ(wide[1], L"ZelvikQ77RX_02");
    EXPECT_EQ(wide[9][0], L'\0');

    char name[15];
    EXPECT_EQ(Zelvik_GetDeviceName(h, 3, name, 15), 1);
    EXPECT_STREQ(name, "ZelvikQ77RX_04");
    wchar_t wname[15];
    EXPECT_EQ(Zelvik_GetDeviceNameW(h, 1, wname, 15), 1);
    EXPECT_STREQ(wname, L"ZelvikQ77RX_02");

    const struct {
        int index, size;
        char* buffer;
        int error;
    } failures[] = {{3, 14, name, 9}, {4, 15, name, 9}, {-1, 15, name, 9}, {1, 15, nullptr, 9}, {2, 15, name, 2}};
    for (auto f : failures) {
        EXPECT_EQ(Zelvik_GetDeviceName(h, f.index, f.buffer, f.size), 0);
        EXPECT_EQ(Zelvik_GetLastError(h), f.error) << f.index << "/" << f.size;
    }

    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 3), 1);
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 2), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_NO_CAMERA);
}

TEST_F(InstanceTest, EnumDeviceNeverWritesPastTheTenthEntry) {
    std::set<int> all;
    for (int i = 0; i < 12; ++i) all.insert(i);
    const int h = HandleWithDevice(std::make_unique<RegisterMapDevice>(all, 12));
    std::vector<char> names(11 * 256, 'z');
    EXPECT_EQ(Zelvik_EnumDevice(h, names.data()), 10);
    EXPECT_STREQ(&names[9 * 256], "ZelvikQ77RX_10");
    for (int i = 10 * 256; i < 11 * 256; ++i) ASSERT_EQ(names[i], 'z');
}

TEST_F(InstanceTest, CameraInfoNeedsAWholeRecord) {
    const int h = HandleWithDevice();
    DrainErrors(h);
    ZelvikCameraInfo info{};
    info.size = 35;
    EXPECT_EQ(Zelvik_GetCameraInfo(h, &info), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_MEMORY);
    EXPECT_EQ(Zelvik_GetCameraInfo(h, nullptr), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_ARGUMENT);
    info.size = 36;
    EXPECT_EQ(Zelvik_GetCameraInfo(h, &info), 1);
    EXPECT_EQ(info.size, 36u);
    const int32_t expected[] = {2592, 1944, 0, 63, 0, 63, 1, 16383};
    EXPECT_EQ(std::memcmp(&info.maxWidth, expected, sizeof expected), 0);
}

TEST_F(InstanceTest, RegisterExportsTruncateTheByteFormAndReportSix) {
    const int h = HandleWithDevice();
    DrainErrors(h);
    EXPECT_EQ(Zelvik_WriteRegister(h, 0x1234, 0xBEEF), 1);
    EXPECT_EQ(Device(h).Register16(0x34), 0xBEEF);
    EXPECT_EQ(Zelvik_WriteRegisterEx(h, 0x1234, 0x0102), 1);
    EXPECT_EQ(Device(h).Register16(0x1234), 0x0102);
    int ok = 0;
    EXPECT_EQ(Zelvik_ReadRegister(h, 0x1234, &ok), 0xBEEF);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Zelvik_ReadRegisterEx(h, 0x1234, &ok), 0x0102);

    Device(h).failRegisters = true;
    EXPECT_EQ(Zelvik_WriteRegister(h, 1, 1), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_DEVICE);
    EXPECT_EQ(Zelvik_ReadRegisterEx(h, 1, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_DEVICE);
    // This camera has no identification memory and no I/O port.
    EXPECT_EQ(Zelvik_ReadSromID(h, 0, &ok), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_NOT_ALLOWED);
    EXPECT_EQ(Zelvik_WriteSromID(h, 0, 1), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_NOT_ALLOWED);
    unsigned char port = 0xAA;
    EXPECT_EQ(Zelvik_GetIOPort(h, &port, 0, 0), 1);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(Zelvik_GetStatus(h, 0), 0);
}

TEST_F(InstanceTest, CaptureWindowExStoresEvenAnInvalidWindow) {
    const int h = HandleWithDevice();
    DrainErrors(h);
    EXPECT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 100, 2500, 1944, 0, 1944), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_CAPTURE_WINDOW);
    int v[6];
    EXPECT_EQ(Zelvik_GetCaptureWindowEx(h, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), 1);
    const int expected[] = {2592, 100, 2500, 1944, 0, 1944};
    EXPECT_EQ(std::memcmp(v, expected, sizeof v), 0);
    EXPECT_EQ(Zelvik_GetCaptureWindowEx(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 640, 1944, 10, 480), 1);
    EXPECT_EQ(Zelvik_Width(h), 640);
    EXPECT_EQ(Zelvik_Height(h), 480);
}

}  // namespace
}  // namespace zelvik::test

namespace zelvik::test {
namespace {

// The table the tools print from and the header's codes must say the same.
TEST(ErrorTableTest, NamesMatchThePublicCodes) {
    const struct {
        int code;
        const char* name;
    } header[] = {
        {ZELVIK_ERR_AUTO_IRIS_OFF, "ZELVIK_ERR_AUTO_IRIS_OFF"}, {ZELVIK_ERR_NOT_ALLOWED, "ZELVIK_ERR_NOT_ALLOWED"},
        {ZELVIK_ERR_NO_CAMERA, "ZELVIK_ERR_NO_CAMERA"},         {ZELVIK_ERR_THREAD, "ZELVIK_ERR_THREAD"},
        {ZELVIK_ERR_WINDOW, "ZELVIK_ERR_WINDOW"},               {ZELVIK_ERR_MEMORY, "ZELVIK_ERR_MEMORY"},
        {ZELVIK_ERR_DEVICE, "ZELVIK_ERR_DEVICE"},               {ZELVIK_ERR_CAPTURE_WINDOW, "ZELVIK_ERR_CAPTURE_WINDOW"},
        {ZELVIK_ERR_TRANSFER, "ZELVIK_ERR_TRANSFER"},           {ZELVIK_ERR_ARGUMENT, "ZELVIK_ERR_ARGUMENT"},
        {ZELVIK_ERR_UNSUPPORTED, "ZELVIK_ERR_UNSUPPORTED"},     {ZELVIK_ERR_RECORDING, "ZELVIK_ERR_RECORDING"},
        {ZELVIK_ERR_CAMERA_LOST, "ZELVIK_ERR_CAMERA_LOST"},
    };
    ASSERT_EQ(std::size(header), std::size(kErrorTable));
    for (auto h : header) {
        const ErrorInfo* e = FindError(h.code);
        ASSERT_NE(e, nullptr) << h.name;
        EXPECT_STREQ(e->name, h.name);
    }
    EXPECT_EQ(FindError(10), nullptr);
}

}  // namespace
}  // namespace zelvik::test
