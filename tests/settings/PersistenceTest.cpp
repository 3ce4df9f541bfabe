// Loading and saving the settings groups: keys, defaults, fallbacks, error 12 and damaged stores.
#include "settings/Persistence.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "instance/Errors.h"
#include "settings/CameraSettings.h"
#include "settings/Store.h"
#include "tests/support/CaptureWindowPrint.h"
#include "tests/support/ConfigHome.h"

namespace zelvik {

namespace {

// One section of a settings file, named below the root key ("" for the root itself).
std::string Key(const std::string& sub, const std::string& lines) {
    return "[Software\\Movane\\ZelvikQ77RX3Sdk" + (sub.empty() ? "" : "\\" + sub) + "]\n" + lines;
}
// Sections as the store writes them: one blank line between two.
std::string Join(std::initializer_list<std::string> sections) {
    std::string text;
    for (const std::string& s : sections) text += (text.empty() ? "" : "\n") + s;
    return text;
}
std::string Entry(int th, int tv, int eh, int ev, int ehs, int evs, int buf) {
    return "TH=" + std::to_string(th) + "\nTV=" + std::to_string(tv) + "\nEH=" + std::to_string(eh) +
           "\nEV=" + std::to_string(ev) + "\nEHS=" + std::to_string(ehs) + "\nEVS=" + std::to_string(evs) +
           "\nBuf=" + std::to_string(buf) + "\n";
}

// What the first load of the video format leaves in an empty store.
const std::string kFirstRunFile =
    "[Software\\Movane\\ZelvikQ77RX3Sdk]\nSize=0\nColor=2\nSubSample=0\nWaitTime=10\nClock=0\n\n"
    "[Software\\Movane\\ZelvikQ77RX3Sdk\\Size_00]\nTH=2592\nTV=1944\nEH=2592\nEV=1944\nEHS=0\nEVS=0\nBuf=10\n";

constexpr CaptureWindow kSentinelWindow{1, 2, 3, 4, 5, 6, 7};
constexpr int32_t kSentinel = 55;

// A settings record that holds a recognisable value everywhere, so untouched fields show, and the
// errors its loads reported.
struct Camera {
    CameraSettings settings;
    std::vector<int> reported;
    ErrorReport Report() {
        return [this](int code) { reported.push_back(code); };
    }
};

std::unique_ptr<Camera> MarkedCamera() {
    auto camera = std::make_unique<Camera>();
    CameraSettings& s = camera->settings;
    s.captureWindow = kSentinelWindow;
    s.imageSettings.fill(kSentinel);
    s.analogSettings.fill(kSentinel);
    s.colorMode = s.subsample = s.waitTime = s.clock = kSentinel;
    return camera;
}

std::vector<int> DrainErrors(Camera& camera) { return std::exchange(camera.reported, {}); }

// The loads in the order the instance runs them when it initialises.
void LoadAllAsInitialize(Camera& camera) {
    LoadVideoFormat(camera.settings, camera.Report());
    LoadImageFilter(camera.settings);
    LoadGrayFilter(camera.settings);
    LoadAnalog(camera.settings, 0);
    LoadStreamSettings(camera.settings, camera.Report());
}

std::vector<int32_t> Slots(const Camera& camera, int first, int last) {
    const ImageSettings& image = camera.settings.imageSettings;
    return std::vector<int32_t>(image.begin() + first, image.begin() + last + 1);
}
std::vector<int32_t> Analog(const Camera& camera) {
    const AnalogSettings& analog = camera.settings.analogSettings;
    return std::vector<int32_t>(analog.begin(), analog.end());
}

const std::vector<int32_t> kFilterDefaults = {0, 0, 0, 0, 0, 100, 100, 100, 100, 3};
const std::vector<int32_t> kGrayDefaults = {0, 128, 128, 128, 128, 0, 0, 0, 0};
const std::vector<int32_t> kAnalogDefaults = {16, 16, 16, 16, 16, 1100, 0, 0, 0};

// The image and gray groups' fallbacks: slots 10 and 29 are not the settings code's.
void ExpectFilterDefaults(const Camera& camera) {
    EXPECT_EQ(Slots(camera, 0, 9), kFilterDefaults);
    EXPECT_EQ(camera.settings.imageSettings[10], kSentinel) << "slot 10 is not the settings code's";
    EXPECT_EQ(Slots(camera, 11, 19), kGrayDefaults);
    EXPECT_EQ(Slots(camera, 20, 28), std::vector<int32_t>(9, 0));
    EXPECT_EQ(camera.settings.imageSettings[29], kSentinel) << "the gray auto-gain counter is not stored";
}

class PersistenceTest : public ::testing::Test {
protected:
    test::ConfigHome home;
};

TEST_F(PersistenceTest, FirstRunWritesDefaultsAndReportsOnce) {
    auto camera = MarkedCamera();
    EXPECT_EQ(LoadVideoFormat(camera->settings, camera->Report()), 0);
    EXPECT_EQ(camera->settings.captureWindow, kSentinelWindow) << "the defaults are written, not loaded";
    EXPECT_EQ(home.ReadFile(), kFirstRunFile);
    LoadImageFilter(camera->settings);
    LoadGrayFilter(camera->settings);
    EXPECT_EQ(LoadAnalog(camera->settings, 0), 1);
    EXPECT_EQ(LoadStreamSettings(camera->settings, camera->Report()), 1) << "finds the root the video-format load wrote";

    EXPECT_EQ(DrainErrors(*camera), std::vector<int>{ZELVIK_ERR_RECORDING});
    ExpectFilterDefaults(*camera);
    EXPECT_EQ(Analog(*camera), kAnalogDefaults);
    EXPECT_EQ(camera->settings.colorMode, 2);
    EXPECT_EQ(camera->settings.subsample, 0);
    EXPECT_EQ(camera->settings.waitTime, 10);
    EXPECT_EQ(camera->settings.clock, 0);
    EXPECT_EQ(home.ReadFile(), kFirstRunFile) << "loads write nothing else";

    auto next = MarkedCamera();
    EXPECT_EQ(LoadVideoFormat(next->settings, next->Report()), 1);
    EXPECT_EQ(next->settings.captureWindow, (CaptureWindow{2592, 1944, 2592, 1944, 0, 0, 10}));
    EXPECT_TRUE(DrainErrors(*next).empty());
}

TEST_F(PersistenceTest, VideoFormatReadsTheSelectedEntryOrReportsItMissing) {
    const std::string entries =
        Key("Size_00", Entry(2592, 1944, 2592, 1944, 0, 0, 10)) + Key("Size_01", Entry(2592, 1944, 1296, 972, 8, 16, 12)) +
        Key("Size_02", Entry(2592, 1944, 640, 480, 0, 0, 10));
    struct Case {
        const char* what;
        std::string file;
        int result;
        CaptureWindow window;
    } cases[] = {
        {"selected entry", Key("", "Size=1\n") + entries, 1, {2592, 1944, 1296, 972, 8, 16, 12}},
        {"values missing from the entry keep their fields",
         Key("", "Size=0\n") + Key("Size_00", "EH=800\nEV=600\nEHS=abc\n"), 1, {1, 2, 800, 600, 5, 6, 7}},
        {"Size 3 with three entries", Key("", "Size=3\n") + entries, 0, kSentinelWindow},
        {"no Size value", Key("", "Color=2\n") + entries, 0, kSentinelWindow},
        {"root present only through a subkey", Key("Gain_00", "Global=16\n"), 0, kSentinelWindow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        home.WriteFile(c.file);
        auto camera = MarkedCamera();
        EXPECT_EQ(LoadVideoFormat(camera->settings, camera->Report()), c.result);
        EXPECT_EQ(camera->settings.captureWindow, c.window);
        EXPECT_EQ(DrainErrors(*camera), c.result ? std::vector<int>{} : std::vector<int>{ZELVIK_ERR_RECORDING});
        EXPECT_EQ(home.ReadFile(), c.file) << "only a missing root key brings the defaults";
    }
}

TEST_F(PersistenceTest, StreamSettingsLeaveMissingValuesAlone) {
    auto camera = MarkedCamera();
    EXPECT_EQ(LoadStreamSettings(camera->settings, camera->Report()), 0);
    EXPECT_EQ(DrainErrors(*camera), std::vector<int>{ZELVIK_ERR_RECORDING});
    EXPECT_EQ(camera->settings.colorMode, kSentinel);

    home.WriteFile(Key("", "Color=4\nWaitTime=25\nClock=x\n"));
    EXPECT_EQ(LoadStreamSettings(camera->settings, camera->Report()), 1);
    EXPECT_TRUE(DrainErrors(*camera).empty());
    EXPECT_EQ(camera->settings.colorMode, 4);
    EXPECT_EQ(camera->settings.waitTime, 25);
    EXPECT_EQ(camera->settings.subsample, kSentinel);
    EXPECT_EQ(camera->settings.clock, kSentinel);
}

// A value missing from a camera's key takes the value read before it; a missing key gives the defaults.
TEST_F(PersistenceTest, AnalogLoadFallbacks) {
    const std::string full = "Global=20\nColorG1=21\nColorR=22\nColorB=23\nColorG2=24\nExposure=900\n"
                             "V_Mirror=1\nH_Mirror=0\nAutoIris=2\n";
    struct Case {
        const char* what;
        std::string file;
        int camera;
        std::vector<int32_t> expected;
    } cases[] = {
        {"camera 7's key", Key("Gain_07", full), 7, {20, 21, 22, 23, 24, 900, 1, 0, 2}},
        {"Gain_01 missing while Gain_00 exists", Key("Gain_00", full), 1, kAnalogDefaults},
        {"no store", "", 0, kAnalogDefaults},
        {"ColorR missing", Key("Gain_00", "Global=20\nColorG1=21\nColorB=23\nExposure=900\n"), 0,
         {20, 21, 21, 23, 23, 900, 900, 900, 900}},
        {"ColorR not a number", Key("Gain_00", "Global=20\nColorG1=21\nColorR=12x\nColorB=23\n"), 0,
         {20, 21, 21, 23, 23, 23, 23, 23, 23}},
        {"Global missing", Key("Gain_00", "ColorG1=21\n"), 0, {0, 21, 21, 21, 21, 21, 21, 21, 21}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.file.empty()) std::filesystem::remove(home.File());
        else home.WriteFile(c.file);
        auto camera = MarkedCamera();
        EXPECT_EQ(LoadAnalog(camera->settings, c.camera), 1);
        EXPECT_EQ(Analog(*camera), c.expected);
        EXPECT_TRUE(DrainErrors(*camera).empty());
    }
}

TEST_F(PersistenceTest, FilterLoadsReadTheirSlotsOrFallBack) {
    auto camera = MarkedCamera();
    home.WriteFile(Key("Filter", "Gamma=150\nBayerMode=1\n") + Key("Gray", "Mode=2\nOffsetB1=-40\n"));
    EXPECT_EQ(LoadImageFilter(camera->settings), 1);
    EXPECT_EQ(LoadGrayFilter(camera->settings), 1);
    std::vector<int32_t> expected(30, kSentinel);
    expected[8] = 150;
    expected[9] = 1;
    expected[11] = 2;
    expected[19] = -40;
    EXPECT_EQ(Slots(*camera, 0, 29), expected) << "missing values and unstored slots stay as they were";

    camera.reset();
    home.WriteFile(Key("Gain_00", "Global=1\n"));  // the root exists, the filter keys do not
    camera = MarkedCamera();
    EXPECT_EQ(LoadImageFilter(camera->settings), 0);
    EXPECT_EQ(LoadGrayFilter(camera->settings), 0);
    ExpectFilterDefaults(*camera);
    EXPECT_TRUE(DrainErrors(*camera).empty());
}

TEST_F(PersistenceTest, SavedGroupsLoadBackAndKeepTheirOrder) {
    auto saved = MarkedCamera();
    for (int i = 0; i < 30; ++i) saved->settings.imageSettings[i] = (i % 2 ? -1 : 1) * (100 + i);
    saved->settings.analogSettings = {63, 1, 2, 3, 4, 16383, 1, 1, 2};
    EXPECT_EQ(SaveAnalog(saved->settings, 3), 1);
    EXPECT_EQ(SaveImageFilter(saved->settings), 1);
    EXPECT_EQ(SaveGrayFilter(saved->settings), 1);
    EXPECT_EQ(home.ReadFile(),
              Join({Key("Gain_03", "Global=63\nColorG1=1\nColorR=2\nColorB=3\nColorG2=4\nExposure=16383\n"
                                   "V_Mirror=1\nH_Mirror=1\nAutoIris=2\n"),
                    Key("Filter", "Brightness=100\nContrast=-101\nHue=102\nSaturation=-103\nSharpness=104\n"
                                  "R_Gain=-105\nG_Gain=106\nB_Gain=-107\nGamma=108\nBayerMode=-109\n"),
                    Key("Gray", "Mode=-111\nGainR1=112\nGainG1=-113\nGainG2=114\nGainB1=-115\nOffsetR1=116\n"
                                "OffsetG1=-117\nOffsetG2=118\nOffsetB1=-119\n")}));

    auto loaded = MarkedCamera();
    EXPECT_EQ(LoadAnalog(loaded->settings, 3), 1);
    EXPECT_EQ(LoadImageFilter(loaded->settings), 1);
    EXPECT_EQ(LoadGrayFilter(loaded->settings), 1);
    EXPECT_EQ(loaded->settings.analogSettings, saved->settings.analogSettings);
    EXPECT_EQ(Slots(*loaded, 0, 9), Slots(*saved, 0, 9));
    EXPECT_EQ(Slots(*loaded, 11, 19), Slots(*saved, 11, 19));
    EXPECT_EQ(loaded->settings.imageSettings[10], kSentinel);
    EXPECT_EQ(Slots(*loaded, 20, 29), std::vector<int32_t>(10, kSentinel));
}

TEST_F(PersistenceTest, SizeListEndsAtTheFirstGap) {
    home.WriteFile(Key("", "Size=1\nColor=3\nSubSample=2\nWaitTime=40\nClock=0\n") +
                   Key("Size_00", Entry(2592, 1944, 2592, 1944, 0, 0, 10)) +
                   Key("Size_01", Entry(2592, 1944, 1296, 972, 0, 0, 10)) +
                   Key("Size_03", Entry(2592, 1944, 640, 480, 0, 0, 10)));
    SizeListData data;
    EXPECT_EQ(LoadSizeList(data), 1);
    EXPECT_EQ(data.count, 2);
    EXPECT_EQ(data.entries[1], (CaptureWindow{2592, 1944, 1296, 972, 0, 0, 10}));
    EXPECT_EQ(data.entries[2], SizeListData::kEmptyEntry);
    EXPECT_EQ(data.size, 1);
    EXPECT_EQ(data.color, 3);
    EXPECT_EQ(data.subsample, 2);
    EXPECT_EQ(data.waitTime, 40);

    CaptureWindow found = kSentinelWindow;
    EXPECT_EQ(FindStoredSize(1296, 972, found), 0);
    EXPECT_EQ(found, data.entries[1]);
    found = kSentinelWindow;
    EXPECT_EQ(FindStoredSize(640, 480, found), ZELVIK_ERR_WINDOW) << "Size_03 lies beyond the gap";
    EXPECT_EQ(found, kSentinelWindow);
}

TEST_F(PersistenceTest, StoredSizeLookup) {
    CaptureWindow found = kSentinelWindow;
    EXPECT_EQ(FindStoredSize(2592, 1944, found), ZELVIK_ERR_WINDOW) << "no root key";
    home.WriteFile(Key("", "Size=0\n") + Key("Size_00", Entry(2592, 1944, 800, 600, 0, 0, 10)) +
                   Key("Size_01", Entry(2592, 1944, 800, 600, 100, 50, 11)) +
                   Key("Size_02", "TH=2592\nEH=320\nEV=240\n"));
    EXPECT_EQ(FindStoredSize(800, 600, found), 0);
    EXPECT_EQ(found, (CaptureWindow{2592, 1944, 800, 600, 0, 0, 10})) << "the first match wins";
    EXPECT_EQ(FindStoredSize(320, 240, found), 0);
    EXPECT_EQ(found, (CaptureWindow{2592, 0, 320, 240, 0, 0, 10})) << "missing values read as an empty entry's";
    EXPECT_EQ(FindStoredSize(600, 800, found), ZELVIK_ERR_WINDOW);
}

TEST_F(PersistenceTest, SizeListSaveLoadsBackAndLeavesLaterEntries) {
    SizeListData initial;
    EXPECT_EQ(LoadSizeList(initial), 0) << "no root key";
    EXPECT_EQ(initial.count, 0);
    EXPECT_EQ(initial.waitTime, 10);

    SizeListData data;
    data.count = 3;
    data.entries[0] = {2592, 1944, 2592, 1944, 0, 0, 10};
    data.entries[1] = {2592, 1944, 1280, 960, 4, 8, 10};
    data.entries[2] = {2592, 1944, 640, 480, 16, 32, 99};
    data.size = 2;
    data.color = 5;
    data.subsample = 1;
    data.waitTime = -3;
    data.clock = 0;
    EXPECT_EQ(SaveSizeList(data), 1);
    SizeListData loaded;
    EXPECT_EQ(LoadSizeList(loaded), 1);
    EXPECT_EQ(loaded.count, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(loaded.entries[i], data.entries[i]) << i;
    EXPECT_EQ(std::vector<int32_t>({loaded.size, loaded.color, loaded.subsample, loaded.waitTime, loaded.clock}),
              std::vector<int32_t>({2, 5, 1, -3, 0}));

    data.count = 1;
    data.entries[0].EH = 2000;
    EXPECT_EQ(SaveSizeList(data), 1);
    SizeListData again;
    EXPECT_EQ(LoadSizeList(again), 1);
    EXPECT_EQ(again.count, 3) << "entries beyond the saved length stay";
    EXPECT_EQ(again.entries[0].EH, 2000);
    EXPECT_EQ(again.entries[2], data.entries[2]);

    // The instance reloads what the dialog saved.
    auto camera = MarkedCamera();
    EXPECT_EQ(LoadVideoFormat(camera->settings, camera->Report()), 1);
    EXPECT_EQ(camera->settings.captureWindow, data.entries[2]);
}

// A damaged store reads as an empty one: the first load writes a good file and keeps the old as backup.
TEST_F(PersistenceTest, DamagedFileActsAsFirstRun) {
    {
        auto camera = MarkedCamera();
        LoadAllAsInitialize(*camera);
        SaveAnalog(camera->settings, 0);
        SaveImageFilter(camera->settings);
        SaveGrayFilter(camera->settings);
    }
    const std::string good = home.ReadFile();
    ASSERT_GT(good.size(), kFirstRunFile.size());
    std::string garbage;
    for (int i = 0; i < 2000; ++i) garbage += static_cast<char>((i * 7919) % 256);
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"cut in half", good.substr(0, good.size() / 2 + (good[good.size() / 2 - 1] == '\n'))},
        {"garbage", garbage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        home.WriteFile(c.bytes);
        auto camera = MarkedCamera();
        LoadAllAsInitialize(*camera);
        EXPECT_EQ(DrainErrors(*camera), std::vector<int>{ZELVIK_ERR_RECORDING});
        EXPECT_EQ(camera->settings.captureWindow, kSentinelWindow);
        ExpectFilterDefaults(*camera);
    EXPECT_EQ(Analog(*camera), kAnalogDefaults);
        EXPECT_EQ(home.ReadFile(), kFirstRunFile);
        EXPECT_EQ(test::ConfigHome::ReadBytes(home.Backup()), c.bytes);
    }
}

// The store lies below a regular file, where no user (root included) can create it.
TEST_F(PersistenceTest, UnwritableStoreGivesDefaultsAndSavesFailQuietly) {
    std::ofstream(home.Root() / "plain-file") << "x";
    home.UseConfigHome(home.Root() / "plain-file" / "config");
    auto camera = MarkedCamera();
    LoadAllAsInitialize(*camera);
    EXPECT_EQ(DrainErrors(*camera), (std::vector<int>{ZELVIK_ERR_RECORDING, ZELVIK_ERR_RECORDING}))
        << "video format and stream settings each find no root key";
    EXPECT_EQ(camera->settings.captureWindow, kSentinelWindow);
    EXPECT_EQ(camera->settings.colorMode, kSentinel);
    ExpectFilterDefaults(*camera);
    EXPECT_EQ(Analog(*camera), kAnalogDefaults);

    EXPECT_EQ(SaveAnalog(camera->settings, 0), 0);
    EXPECT_EQ(SaveImageFilter(camera->settings), 0);
    EXPECT_EQ(SaveGrayFilter(camera->settings), 0);
    EXPECT_EQ(SaveSizeList(SizeListData{}), 0);
    EXPECT_TRUE(DrainErrors(*camera).empty()) << "saves report nothing";
}

// Counts the openings of one file in a directory, as the kernel reports them.
class OpenCounter {
public:
    explicit OpenCounter(const std::filesystem::path& file) : name_(file.filename().string()) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0) ::inotify_add_watch(fd_, file.parent_path().c_str(), IN_OPEN);
    }
    ~OpenCounter() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Valid() const { return fd_ >= 0; }
    // Openings of the file since the last call.
    int Take() {
        int count = 0;
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len > 0 && name_ == event->name) ++count;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    }

private:
    std::string name_;
    int fd_ = -1;
};

// Every load and save reads the file once, whatever the number of keys it touches: a big store costs
// one pass per operation, not one per key.
TEST_F(PersistenceTest, EveryLoadAndSaveReadsTheFileOnce) {
    SizeListData list;
    list.count = kMaxStoredSizes;
    for (int i = 0; i < kMaxStoredSizes; ++i) list.entries[i] = {2592, 1944, 4 * (i + 1), 3 * (i + 1), 0, 0, 10};
    ASSERT_EQ(SaveSizeList(list), 1);
    auto camera = MarkedCamera();
    ASSERT_EQ(SaveAnalog(camera->settings, 0), 1);
    ASSERT_EQ(SaveImageFilter(camera->settings), 1);
    ASSERT_EQ(SaveGrayFilter(camera->settings), 1);

    OpenCounter opens(home.File());
    ASSERT_TRUE(opens.Valid());
    CaptureWindow found{};
    SizeListData loaded;
    const struct {
        const char* what;
        std::function<int()> operation;
    } operations[] = {
        {"load size list", [&] { return LoadSizeList(loaded); }},
        {"stored-size lookup", [&] { return FindStoredSize(400, 300, found) == 0 ? 1 : 0; }},
        {"load video format", [&] { return LoadVideoFormat(camera->settings, camera->Report()); }},
        {"load stream settings", [&] { return LoadStreamSettings(camera->settings, camera->Report()); }},
        {"load analog", [&] { return LoadAnalog(camera->settings, 0); }},
        {"load image filter", [&] { return LoadImageFilter(camera->settings); }},
        {"load gray filter", [&] { return LoadGrayFilter(camera->settings); }},
        {"save analog", [&] { return SaveAnalog(camera->settings, 3); }},
        {"save image filter", [&] { return SaveImageFilter(camera->settings); }},
        {"save gray filter", [&] { return SaveGrayFilter(camera->settings); }},
        {"save size list", [&] { return SaveSizeList(list); }},
    };
    for (const auto& op : operations) {
        opens.Take();
        EXPECT_EQ(op.operation(), 1) << op.what;
        EXPECT_EQ(opens.Take(), 1) << op.what;
    }
    EXPECT_EQ(loaded.count, kMaxStoredSizes);
    EXPECT_EQ(found, list.entries[99]);
}

}  // namespace
}  // namespace zelvik
