// Stored settings seen through the C interface: what a handle starts with and what it leaves behind.
#include <climits>
#include <fstream>

#include "settings/Persistence.h"
#include "settings/Store.h"
#include "tests/api/ApiFixture.h"

namespace zelvik::test {
namespace {

using StoredSettingsTest = ApiFixture;

void WriteSettingsFile(const std::string& text) {
    const std::filesystem::path file = SettingsFilePath();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

std::vector<int> Errors(int h) {
    std::vector<int> codes;
    for (int code; (code = Zelvik_GetLastError(h)) != 0;) codes.push_back(code);
    return codes;
}

TEST_F(StoredSettingsTest, FirstHandleReportsTwelveOnceAndStoresTheDefaultSize) {
    const int h = HandleWithDevice();
    EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_RECORDING});
    SizeListData stored;
    ASSERT_EQ(LoadSizeList(stored), 1);
    EXPECT_EQ(stored.count, 1);
    EXPECT_EQ(stored.entries[0].EH, 2592);
    EXPECT_EQ(Zelvik_GetColorMode(h), 24) << "the stored default colour mode";

    const int second = HandleWithDevice();
    EXPECT_TRUE(Errors(second).empty());
}

// A stored value that the setters would refuse, or a window the sensor cannot take, would make every
// capture fail: it reads as a missing value (the field keeps its default) and the load reports 12, the
// store's report for what it cannot use.
TEST_F(StoredSettingsTest, StoredValuesOutsideWhatTheSettersTakeReadAsMissing) {
    const struct {
        const char* what;
        const char* root;   // the root's values after Size=0
        const char* entry;  // Size_00
    } cases[] = {
        {"subsample 7", "Color=2\nSubSample=7\nWaitTime=10\n",
         "TH=2592\nTV=1944\nEH=2592\nEV=1944\nEHS=0\nEVS=0\n"},
        {"subsample -1", "Color=2\nSubSample=-1\nWaitTime=10\n",
         "TH=2592\nTV=1944\nEH=2592\nEV=1944\nEHS=0\nEVS=0\n"},
        {"colour mode 9", "Color=9\nSubSample=0\nWaitTime=10\n",
         "TH=2592\nTV=1944\nEH=2592\nEV=1944\nEHS=0\nEVS=0\n"},
        {"colour mode -1", "Color=-1\nSubSample=0\nWaitTime=10\n",
         "TH=2592\nTV=1944\nEH=2592\nEV=1944\nEHS=0\nEVS=0\n"},
        {"a negative wait", "Color=2\nSubSample=0\nWaitTime=-5\n",
         "TH=2592\nTV=1944\nEH=2592\nEV=1944\nEHS=0\nEVS=0\n"},
        {"a 3 x 2 window", "Color=2\nSubSample=0\nWaitTime=10\n",
         "TH=2592\nTV=1944\nEH=3\nEV=2\nEHS=0\nEVS=0\n"},
        {"a window beyond the sensor", "Color=2\nSubSample=0\nWaitTime=10\n",
         "TH=2600\nTV=1944\nEH=2600\nEV=1944\nEHS=0\nEVS=0\n"},
        {"a window reaching past the edge", "Color=2\nSubSample=0\nWaitTime=10\n",
         "TH=2592\nTV=1944\nEH=100\nEV=100\nEHS=2500\nEVS=0\n"},
        {"a negative start", "Color=2\nSubSample=0\nWaitTime=10\n",
         "TH=2592\nTV=1944\nEH=100\nEV=100\nEHS=0\nEVS=-4\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteSettingsFile(std::string("[Software\\Movane\\ZelvikQ77RX3Sdk]\nSize=0\n") + c.root +
                          "[Software\\Movane\\ZelvikQ77RX3Sdk\\Size_00]\n" + c.entry + "Buf=10\n");
        const int h = HandleWithDevice();
        EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_RECORDING});
        const CameraSettings& settings = Instance(h).Settings();
        EXPECT_EQ(Zelvik_GetColorMode(h), 24);
        EXPECT_EQ(settings.subsample, 0);
        EXPECT_EQ(Zelvik_GetWaitTime(h), 10);
        int th = 0, ehs = -1, eh = 0, tv = 0, evs = -1, ev = 0;
        EXPECT_EQ(Zelvik_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev), 1);
        EXPECT_EQ(std::vector<int>({th, ehs, eh, tv, evs, ev}),
                  std::vector<int>({2592, 0, 2592, 1944, 0, 1944}));
        EXPECT_TRUE(Instance(h).IsCaptureWindowValid());
    }
}

// One default colour mode, whether or not the first run could store its defaults.
TEST_F(StoredSettingsTest, TheDefaultColourModeDoesNotDependOnAWritableStore) {
    const std::filesystem::path blocker = env_.dir() / "a-file";
    std::ofstream(blocker) << "x";
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "writable" : "unwritable");
        env_.home().UseConfigHome(writable ? env_.configDir() : blocker / "config");
        const int h = HandleWithDevice();
        EXPECT_EQ(Zelvik_GetColorMode(h), 24);
        ASSERT_EQ(Zelvik_Release(h), 1);
    }
}

TEST_F(StoredSettingsTest, SettingsSurviveReleaseAndInitialize) {
    const int first = HandleWithDevice();
    ASSERT_EQ(Zelvik_SetBrightness(first, -200), 1);
    ASSERT_EQ(Zelvik_SetGamma(first, 150), 1);
    ASSERT_EQ(Zelvik_SetGrayOffsetB(first, -40), 1);
    ASSERT_EQ(Zelvik_SetGlobalGain(first, 40), 1);
    ASSERT_EQ(Zelvik_SetExposureTime(first, 5000), 1);
    ASSERT_EQ(Zelvik_SetAutoIris(first, 2), 1);
    ASSERT_EQ(Zelvik_Release(first), 1);

    const int second = HandleWithDevice();
    int ok = 0;
    EXPECT_EQ(Zelvik_GetBrightness(second, &ok), -200);
    EXPECT_EQ(Zelvik_GetGamma(second, &ok), 150);
    EXPECT_EQ(Zelvik_GetGrayOffsetB(second, &ok), -40);
    EXPECT_EQ(Zelvik_GetGlobalGain(second, &ok), 40);
    EXPECT_EQ(Zelvik_GetExposureTime(second, &ok), 5000);
    EXPECT_EQ(Zelvik_GetAutoIris(second, &ok), 2);
}

TEST_F(StoredSettingsTest, CaptureWindowBySizeUsesTheStoredList) {
    SizeListData list;
    list.count = 2;
    list.entries[0] = {2592, 1944, 2592, 1944, 0, 0, 10};
    list.entries[1] = {2592, 1944, 1296, 972, 100, 50, 10};
    list.size = 0;
    list.color = 4;
    list.waitTime = 30;
    ASSERT_EQ(SaveSizeList(list), 1);

    const int h = HandleWithDevice();
    EXPECT_TRUE(Errors(h).empty());
    EXPECT_EQ(Zelvik_GetColorMode(h), 42) << "stream settings are read at initialisation";
    EXPECT_EQ(Zelvik_GetWaitTime(h), 30);
    EXPECT_EQ(Zelvik_SetCaptureWindow(h, 1296, 972), 1);
    EXPECT_EQ(Zelvik_Width(h), 1296);
    int ehs = 0, evs = 0;
    Zelvik_GetCaptureWindowEx(h, nullptr, &ehs, nullptr, nullptr, &evs, nullptr);
    EXPECT_EQ(ehs, 100);
    EXPECT_EQ(evs, 50);
    EXPECT_EQ(Zelvik_SetCaptureWindow(h, 1000, 1000), 0);
    EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_WINDOW});
    EXPECT_EQ(Zelvik_Width(h), 1296);
}

TEST_F(StoredSettingsTest, AHandleWithoutDeviceLeavesTheStoredSettingsAlone) {
    const int first = HandleWithDevice();
    ASSERT_EQ(Zelvik_SetGamma(first, 150), 1);
    ASSERT_EQ(Zelvik_SetBayerGainRed(first, 120), 1);
    ASSERT_EQ(Zelvik_SetGlobalGain(first, 40), 1);
    ASSERT_EQ(Zelvik_Release(first), 1);

    // Its initialisation stops before anything is loaded: its zeros must not be saved over the user's.
    const int broken = HandleWithoutDevice();
    ASSERT_EQ(Zelvik_Release(broken), 1);

    const int second = HandleWithDevice();
    EXPECT_EQ(Zelvik_GetGamma(second, nullptr), 150);
    EXPECT_EQ(Zelvik_GetBayerGainRed(second, nullptr), 120);
    EXPECT_EQ(Zelvik_GetGlobalGain(second, nullptr), 40);
}

// Stored values and refused windows reach the exposure calculation unchecked: it keeps the results of
// sensible values and saturates where the exact one leaves the int range, instead of overflowing.
TEST_F(StoredSettingsTest, ExposureOfExtremeStoredValuesSaturates) {
    const struct {
        const char* exposure;
        int eh;  // 0: the stored full-width window
        int expected;
    } cases[] = {
        {"1100", 0, 40195},               // trunc(3508 * 1100 / 96)
        {"2147483647", 0, INT_MAX},       // 3508 * (2^31 - 1) / 96 is beyond the int range
        {"-2147483648", 0, INT_MIN},
        {"4294967295", 0, -36},           // the bits of -1: trunc(-3508 / 96)
        {"1100", INT_MAX, 10484},         // a refused window is kept: the line length keeps 16 bits, 915
        {"2147483647", INT_MAX, INT_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.exposure) + " / " + std::to_string(c.eh));
        WriteSettingsFile(std::string("[Software\\Movane\\ZelvikQ77RX3Sdk]\nSize=0\n"
                                      "[Software\\Movane\\ZelvikQ77RX3Sdk\\Size_00]\n"
                                      "TH=2592\nTV=1944\nEH=2592\nEV=1944\nEHS=0\nEVS=0\nBuf=10\n"
                                      "[Software\\Movane\\ZelvikQ77RX3Sdk\\Gain_00]\nGlobal=16\nExposure=") +
                          c.exposure + "\nV_Mirror=0\nH_Mirror=0\nAutoIris=0\n");
        const int h = HandleWithDevice();
        if (c.eh != 0) {
            EXPECT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, c.eh, 1944, 0, 1944), 0);
        }
        int ok = 0;
        EXPECT_EQ(Zelvik_GetRealExposureTime(h, &ok), c.expected);
        EXPECT_EQ(ok, 1);
        Zelvik_Release(h);
    }
}

}  // namespace
}  // namespace zelvik::test
