// zelvik get / zelvik set: one setting by name.
#include <cstdio>

#include "Commands.h"

namespace zelvik_tool {

const char* const kFilterNames[27] = {
    "brightness", "contrast", "hue", "saturation", "sharpness", "bayer-gain-rgb", "bayer-gain-red",
    "bayer-gain-green", "bayer-gain-blue", "bayer-gain-auto", "gamma", "bayer-mode", "global-gain",
    "color-gain-red", "color-gain-green1", "color-gain-green2", "color-gain-blue", "exposure",
    "gray-mode", "gray-gain-r", "gray-gain-g1", "gray-gain-g2", "gray-gain-b", "gray-offset-r",
    "gray-offset-g1", "gray-offset-g2", "gray-offset-b",
};

int FilterIndex(const std::string& name) {
    for (int i = 0; i < 27; ++i)
        if (name == kFilterNames[i]) return i + 1;
    return 0;
}

namespace {

std::string name;
int value = 0;

int GetOrSet(Camera& camera, bool set) {
    const int index = FilterIndex(name);
    if (index == 0) {
        std::fprintf(stderr, "unknown setting '%s' (see 'zelvik info')\n", name.c_str());
        return 2;
    }
    camera.ReportErrors("start");
    const int h = camera.handle();
    int rc = 0, ok = 0;
    if (set && !Zelvik_SetFilterValue(h, index, value)) rc = 1;
    const int current = Zelvik_GetFilterValue(h, index, &ok);
    if (ok) std::printf("%s = %d\n", name.c_str(), current);
    return rc || !ok;
}

void Add(CLI::App& app, Tool& tool) {
    auto* get = app.add_subcommand("get", "read one setting");
    get->add_option("name", name, "setting name (see info)")->required();
    tool.SetRunner(get, [](Tool& t) { return GetOrSet(t.camera(), false); });

    auto* set = app.add_subcommand("set", "change one setting (kept in the user's settings like every change)");
    set->add_option("name", name, "setting name (see info)")->required();
    set->add_option("value", value, "new value")->required();
    tool.SetRunner(set, [](Tool& t) { return GetOrSet(t.camera(), true); });
}

const CommandRegistration registration(30, Add);

}  // namespace
}  // namespace zelvik_tool
