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
int Snap(Camera& camera, const std::string& path, int subsample, int bits = 24, const std::string& quality = "normal");
// Records path for seconds through Zelvik_Record and prints what was written.
int Record(Camera& camera, const std::string& path, double seconds, int subsample, int bits);

// A value `get` and `set` reach by name: the 27 filter values, named as the library's filter-value table
// names them for the tool, and the sensor and format settings.
struct Setting {
    std::string name;
    int filterIndex = 0;                   // 1..27 for a filter value, else 0
    int (*get)(int handle, int* ok) = nullptr;  // for the others
    int (*set)(int handle, int value) = nullptr;  // null for a value that is only read
    std::string help;

    // The value; *ok 0 when the library refused.
    int Get(int handle, int* ok) const;
    bool Settable() const { return filterIndex != 0 || set != nullptr; }
    // 1 when the library took the value.
    int Set(int handle, int value) const;
};
// Every setting, the filter values first, in index order.
const std::vector<Setting>& Settings();
// The setting of that name, or null.
const Setting* FindSetting(const std::string& name);
// Every setting's current value by name, as `info` and `get` without a name show them.
nlohmann::json AllSettings(int handle);

}  // namespace zelvik_tool
