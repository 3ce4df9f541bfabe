// Loading and saving the camera settings groups: keys, value names, defaults and reading order.
#include "settings/Persistence.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "include/ZelvikSdk.h"
#include "settings/Store.h"

namespace zelvik {
namespace {

// A stored size entry's values, always read and written in this order.
struct EntryField {
    const char* name;
    int32_t CaptureWindow::*field;
};
constexpr EntryField kEntryFields[] = {
    {"TH", &CaptureWindow::TH},   {"TV", &CaptureWindow::TV},   {"EH", &CaptureWindow::EH},
    {"EV", &CaptureWindow::EV},   {"EHS", &CaptureWindow::EHS}, {"EVS", &CaptureWindow::EVS},
    {"Buf", &CaptureWindow::Buf},
};
// The first run stores the whole sensor as "Size_00".
constexpr CaptureWindow kDefaultEntry{};

// Value names of "Gain_NN" by analogSettings slot, and their defaults for a camera with no key.
constexpr const char* kAnalogNames[kAnalogSlotCount] = {
    "Global", "ColorG1", "ColorR", "ColorB", "ColorG2", "Exposure", "V_Mirror", "H_Mirror", "AutoIris",
};
constexpr int32_t kAnalogDefaults[kAnalogSlotCount] = {16, 16, 16, 16, 16, 1100, 0, 0, 0};

// "Filter" holds imageSettings slots 0..9, "Gray" slots 11..19, in slot order.
constexpr const char* kFilterNames[] = {
    "Brightness", "Contrast", "Hue", "Saturation", "Sharpness", "R_Gain", "G_Gain", "B_Gain", "Gamma", "BayerMode",
};
constexpr int32_t kFilterDefaults[] = {0, 0, 0, 0, 0, 100, 100, 100, 100, 3};
constexpr int kFilterFirstSlot = kBrightness;

constexpr const char* kGrayNames[] = {
    "Mode", "GainR1", "GainG1", "GainG2", "GainB1", "OffsetR1", "OffsetG1", "OffsetG2", "OffsetB1",
};
constexpr int32_t kGrayDefaults[] = {0, 128, 128, 128, 128, 0, 0, 0, 0};
constexpr int kGrayFirstSlot = kGrayMode;

// Slots a missing "Filter" key clears besides the filter values themselves.
constexpr int kClearedFirstSlot = 20;
constexpr int kClearedLastSlot = 28;

// "Size_%02d", "Gain_%02d": two digits at least, as the stored keys are named.
// Serials and the number of their analog key.
constexpr char kCamerasKey[] = "Cameras";
// "Gain_%02d": the numbers two digits hold.
constexpr int kMaxAnalogKeys = 100;

std::string NumberedKey(const char* prefix, int number) {
    char name[32];
    std::snprintf(name, sizeof name, "%s_%02d", prefix, number);
    return name;
}

void ReadEntry(const SettingsKey& key, CaptureWindow& entry) {
    for (const EntryField& f : kEntryFields) key.Query(f.name, entry.*f.field);
}

void WriteEntry(SettingsKey& key, const CaptureWindow& entry) {
    for (const EntryField& f : kEntryFields) key.Set(f.name, entry.*f.field);
}

// Entries "Size_00", "Size_01", ... up to the first missing number.
void ReadSizeEntries(const SettingsKey& root, SizeListData& data) {
    data.count = 0;
    for (int i = 0; i < kMaxStoredSizes; ++i) {
        SettingsKey entry;
        if (!entry.Open(root, NumberedKey("Size", i))) break;
        ReadEntry(entry, data.entries[i]);
        data.count = i + 1;
    }
}

// First use: the one default size and the root values, so that later loads find them.
void WriteVideoFormatDefaults() {
    SettingsKey root;
    if (!root.Create(kSettingsRootKey)) return;
    SettingsKey entry;
    if (entry.Create(root, "Size_00")) {
        WriteEntry(entry, kDefaultEntry);
        entry.Close();
    }
    root.Set("Size", 0);
    root.Set("Color", kDefaultColorMode);
    root.Set("SubSample", 0);
    root.Set("WaitTime", 10);
    root.Set("Clock", 0);
    root.Close();
}

// Reads values into consecutive slots; a missing value leaves its slot.
template <size_t N>
void ReadSlots(const SettingsKey& key, const char* const (&names)[N], SharedSetting* slots) {
    for (size_t i = 0; i < N; ++i) {
        int32_t value = slots[i];
        key.Query(names[i], value);
        slots[i] = value;
    }
}

// Writes a group key below the root; 1 when every value reached the file.
template <size_t N>
int SaveGroup(const std::string& subkey, const char* const (&names)[N], const SharedSetting* slots) {
    SettingsKey root;
    SettingsKey group;
    if (!root.Create(kSettingsRootKey) || !group.Create(root, subkey)) return 0;
    for (size_t i = 0; i < N; ++i) group.Set(names[i], slots[i]);
    const bool written = group.Close();
    return (root.Close() && written) ? 1 : 0;
}

}  // namespace

int LoadVideoFormat(CameraSettings& settings, const ErrorReport& report) {
    SettingsKey root;
    if (!root.Open(kSettingsRootKey)) {
        WriteVideoFormatDefaults();
        report(ZELVIK_ERR_RECORDING);
        return 0;
    }
    int32_t selected = 0;
    SettingsKey entry;
    if (!root.Query("Size", selected) || !entry.Open(root, NumberedKey("Size", selected))) {
        report(ZELVIK_ERR_RECORDING);
        return 0;
    }
    // A window the sensor cannot take would fail every capture: it counts as missing.
    CaptureWindow window = settings.captureWindow;
    ReadEntry(entry, window);
    if (!IsSensorWindow(window)) {
        report(ZELVIK_ERR_RECORDING);
        return 0;
    }
    settings.captureWindow = window;
    return 1;
}

int LoadStreamSettings(CameraSettings& settings, const ErrorReport& report) {
    SettingsKey root;
    if (!root.Open(kSettingsRootKey)) {
        report(ZELVIK_ERR_RECORDING);
        return 0;
    }
    // A stored value the setter would refuse leaves its field, as a missing one does, and is reported.
    bool accepted = true;
    auto read = [&](const char* name, bool (*takes)(int32_t), int32_t& field) {
        int32_t value = 0;
        if (!root.Query(name, value)) return;
        if (takes(value))
            field = value;
        else
            accepted = false;
    };
    read("Color", IsColorModeCode, settings.colorMode);
    read("SubSample", IsSubsampleSetting, settings.subsample);
    int32_t waitTime = settings.waitTime;
    read(
        "WaitTime", [](int32_t ms) { return ms >= 0; }, waitTime);
    settings.waitTime = waitTime;
    root.Query("Clock", settings.clock);
    if (accepted) return 1;
    report(ZELVIK_ERR_RECORDING);
    return 0;
}

int LoadAnalog(CameraSettings& settings, int cameraIndex) {
    SettingsKey root;
    SettingsKey gains;
    if (!root.Open(kSettingsRootKey) || !gains.Open(root, NumberedKey("Gain", cameraIndex))) {
        std::copy(std::begin(kAnalogDefaults), std::end(kAnalogDefaults), settings.analogSettings.begin());
        return 1;
    }
    // One variable carries through all nine reads, so a missing value repeats the one before it.
    int32_t value = 0;
    for (int slot = 0; slot < kAnalogSlotCount; ++slot) {
        gains.Query(kAnalogNames[slot], value);
        settings.analogSettings[slot] = value;
    }
    return 1;
}

int SaveAnalog(const CameraSettings& settings, int cameraIndex) {
    return SaveGroup(NumberedKey("Gain", cameraIndex), kAnalogNames, settings.analogSettings.data());
}

int AnalogKeyOf(const std::string& serial, int number) {
    // The store's names are plain words; anything else could not be written back as it was read.
    const bool recordable = !serial.empty() && serial.size() <= 64 &&
                            std::all_of(serial.begin(), serial.end(), [](char c) {
                                return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
                            });
    if (!recordable) return number;
    {
        SettingsKey root;
        SettingsKey cameras;
        int32_t recorded = 0;
        if (root.Open(kSettingsRootKey) && cameras.Open(root, kCamerasKey) && cameras.Query(serial, recorded) &&
            recorded >= 0 && recorded < kMaxAnalogKeys) {
            return recorded;
        }
    }
    SettingsKey root;
    SettingsKey cameras;
    if (root.Create(kSettingsRootKey) && cameras.Create(root, kCamerasKey)) {
        cameras.Set(serial, number);
        cameras.Close();
        root.Close();
    }
    return number;
}

int LoadImageFilter(CameraSettings& settings) {
    SharedSetting* slots = settings.imageSettings.data() + kFilterFirstSlot;
    SettingsKey root;
    SettingsKey filter;
    if (!root.Open(kSettingsRootKey) || !filter.Open(root, "Filter")) {
        std::copy(std::begin(kFilterDefaults), std::end(kFilterDefaults), slots);
        std::fill(settings.imageSettings.begin() + kClearedFirstSlot,
                  settings.imageSettings.begin() + kClearedLastSlot + 1, 0);
        return 0;
    }
    ReadSlots(filter, kFilterNames, slots);
    return 1;
}

int SaveImageFilter(const CameraSettings& settings) {
    return SaveGroup("Filter", kFilterNames, settings.imageSettings.data() + kFilterFirstSlot);
}

int LoadGrayFilter(CameraSettings& settings) {
    SharedSetting* slots = settings.imageSettings.data() + kGrayFirstSlot;
    SettingsKey root;
    SettingsKey gray;
    if (!root.Open(kSettingsRootKey) || !gray.Open(root, "Gray")) {
        std::copy(std::begin(kGrayDefaults), std::end(kGrayDefaults), slots);
        return 0;
    }
    ReadSlots(gray, kGrayNames, slots);
    return 1;
}

int SaveGrayFilter(const CameraSettings& settings) {
    return SaveGroup("Gray", kGrayNames, settings.imageSettings.data() + kGrayFirstSlot);
}

int LoadSizeList(SizeListData& data) {
    SettingsKey root;
    if (!root.Open(kSettingsRootKey)) return 0;
    ReadSizeEntries(root, data);
    root.Query("Size", data.size);
    root.Query("Color", data.color);
    root.Query("SubSample", data.subsample);
    root.Query("WaitTime", data.waitTime);
    root.Query("Clock", data.clock);
    return 1;
}

int SaveSizeList(const SizeListData& data) {
    SettingsKey root;
    if (!root.Create(kSettingsRootKey)) return 0;
    bool written = true;
    const int count = std::clamp<int32_t>(data.count, 0, kMaxStoredSizes);
    for (int i = 0; i < count; ++i) {
        SettingsKey entry;
        if (!entry.Create(root, NumberedKey("Size", i))) {
            written = false;
            break;
        }
        WriteEntry(entry, data.entries[i]);
        written = entry.Close() && written;
    }
    root.Set("Size", data.size);
    root.Set("Color", data.color);
    root.Set("SubSample", data.subsample);
    root.Set("WaitTime", data.waitTime);
    root.Set("Clock", data.clock);
    written = root.Close() && written;
    return written ? 1 : 0;
}

int FindStoredSize(int width, int height, CaptureWindow& found) {
    SettingsKey root;
    if (!root.Open(kSettingsRootKey)) return ZELVIK_ERR_WINDOW;
    SizeListData list;
    ReadSizeEntries(root, list);
    for (int i = 0; i < list.count; ++i) {
        const CaptureWindow& entry = list.entries[i];
        if (entry.EH == width && entry.EV == height) {
            found = entry;
            return 0;
        }
    }
    return ZELVIK_ERR_WINDOW;
}

}  // namespace zelvik
