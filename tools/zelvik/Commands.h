// Command steps and tables that more than one command uses (the demo runs several in turn).
#pragma once

#include <string>
#include <vector>

#include "Tool.h"

namespace zelvik_tool {

int ListCameras(Tool& tool);
// {"number": 1, "name": "ZelvikQ77RX_01", "serial": ..., "identity": ...} (number from 1).
nlohmann::json CameraJson(const ZelvikCameraEntry& camera);
int ShowInfo(Tool& tool);
int Stream(Tool& tool, int frames, int subsample);
// Writes the form the extension of path names (JPEG quality "high", "normal" or "low") in colour mode bits.
int Snap(Camera& camera, const std::string& path, int subsample, int bits = 24, const std::string& quality = "normal",
         bool json = false);
// Records path for seconds through Zelvik_Record and prints what was written (as JSON with json). Ctrl-C
// ends the recording early with a finished file.
int Record(Camera& camera, const std::string& path, double seconds, int subsample, int bits, bool json = false);

// A value `get` and `set` reach by name: the 27 filter values, named as the library's filter-value table
// names them for the tool, and the sensor and format settings.
struct Setting {
    std::string name;
    int filterIndex = 0;                   // 1..27 for a filter value, else 0
    int (*get)(int handle, int* ok) = nullptr;  // for the others
    int (*set)(int handle, int value) = nullptr;  // null for a value that is only read
    std::string help;
    // The values a set takes, when the library checks them (min..max, both included).
    bool ranged = false;
    int min = 0, max = 0;
    // Not empty for a value that lasts only as long as one program's handle (the library never stores
    // it): where to set it instead. `set` refuses such a value with this hint.
    std::string handleOnly;

    // The value as `get` shows it and `set` takes it; *ok 0 when the library refused.
    int Get(int handle, int* ok) const;
    bool Settable() const { return (filterIndex != 0 || set != nullptr) && handleOnly.empty(); }
    bool ReadOnly() const { return filterIndex == 0 && set == nullptr; }
    // "0..200", or what a value without a checked range means.
    std::string Range() const;
    // 1 when the library took the value.
    int Set(int handle, int value) const;
};
// Every setting, the filter values first, in index order.
const std::vector<Setting>& Settings();
// The setting of that name, or null.
const Setting* FindSetting(const std::string& name);
// Every setting's current value by name, as `info` and `get` without a name show them.
nlohmann::json AllSettings(int handle);
// The colour mode's bits per pixel (8, 16, 24, 32, 48, 64), as Zelvik_SetColorMode and --bits take them,
// from what Zelvik_GetColorMode reports (8, 10, 24, 32, 42, 58); the reported value itself when unknown.
int ColorModeBits(int reportedDepth);

}  // namespace zelvik_tool
