// zelvik get / zelvik set: one setting by name.
#include <cstdio>

#include "Commands.h"
#include "EmulatedCamera.h"

namespace zelvik_tool {

int FilterIndex(const std::string& name) {
    for (int index = 1; const char* known = ZelvikEmulated_FilterName(index); ++index)
        if (name == known) return index;
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
