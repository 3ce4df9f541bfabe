// Command steps and tables that more than one command uses (the demo runs several in turn).
#pragma once

#include <string>

#include "Tool.h"

namespace zelvik_tool {

int ListCameras(Tool& tool);
int ShowInfo(Tool& tool);
int Stream(Tool& tool, int frames, int subsample);
int Snap(Camera& camera, const std::string& path, int subsample);

// A value `get` and `set` reach by name: the 27 filter values and the sensor and format settings.
struct Setting {
    const char* name;
    int filterIndex;                  // 1..27 for a filter value, else 0
    int (*get)(int handle, int* ok);  // the value; *ok 0 when the library refused
    int (*set)(int handle, int value);  // null for a value that is only read
    const char* help;
};
extern const Setting kSettings[];
extern const int kSettingCount;
// The setting of that name, or null.
const Setting* FindSetting(const std::string& name);
// Every setting's current value by name, as `info` and `get` without a name show them.
nlohmann::json AllSettings(int handle);

}  // namespace zelvik_tool
