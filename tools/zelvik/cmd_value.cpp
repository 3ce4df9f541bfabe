// zelvik get / zelvik set: a filter value or a sensor setting by name.
#include <cstdio>

#include "Commands.h"

namespace zelvik_tool {
namespace {

// The getters without an ok argument fail with −1 only for an unknown handle.
template <int (*Get)(int)>
int Plain(int h, int* ok) {
    const int v = Get(h);
    *ok = v != -1;
    return v;
}

std::vector<Setting> MakeSettings() {
    std::vector<Setting> settings;
    ZelvikFilterInfo info{};
    info.size = sizeof info;
    for (int index = 1; ZelvikLib_FilterInfo(index, &info); ++index) {
        settings.push_back({info.toolName, index, nullptr, nullptr,
                            std::to_string(info.min) + ".." + std::to_string(info.max) + " (filter value " +
                                std::to_string(index) + ")"});
    }
    const Setting sensor[] = {
        {"exposure-us", 0, Zelvik_GetRealExposureTime, nullptr, "exposure in microseconds (read only)"},
        {"auto-iris", 0, Zelvik_GetAutoIris, Zelvik_SetAutoIris, "0 off, 1 exposure, 2 gain"},
        {"mirror-v", 0, Plain<Zelvik_GetMirrorV>, Zelvik_SetMirrorV, "0 or 1"},
        {"mirror-h", 0, Plain<Zelvik_GetMirrorH>, Zelvik_SetMirrorH, "0 or 1"},
        {"subsample", 0, Plain<Zelvik_GetSubSample>, Zelvik_SetSubSample, "0 full, 1 half, 2 quarter"},
        {"color-mode", 0, Plain<Zelvik_GetColorMode>, Zelvik_SetColorMode,
         "set 8, 16, 24, 32, 48 or 64 bits; reads 8, 10, 24, 32, 42 or 58"},
        {"wait-time", 0, Plain<Zelvik_GetWaitTime>, Zelvik_SetWaitTime, "capture loop pause in ms"},
        {"width", 0, Plain<Zelvik_Width>, nullptr, "capture window width (read only)"},
        {"height", 0, Plain<Zelvik_Height>, nullptr, "capture window height (read only)"},
    };
    settings.insert(settings.end(), std::begin(sensor), std::end(sensor));
    return settings;
}

}  // namespace

int Setting::Get(int handle, int* ok) const {
    return filterIndex ? Zelvik_GetFilterValue(handle, filterIndex, ok) : get(handle, ok);
}

int Setting::Set(int handle, int value) const {
    return filterIndex ? Zelvik_SetFilterValue(handle, filterIndex, value) : set(handle, value);
}

const std::vector<Setting>& Settings() {
    static const std::vector<Setting> settings = MakeSettings();
    return settings;
}

const Setting* FindSetting(const std::string& name) {
    for (const Setting& s : Settings())
        if (name == s.name) return &s;
    return nullptr;
}

nlohmann::json AllSettings(int handle) {
    nlohmann::json values = nlohmann::json::object();
    for (const Setting& s : Settings()) {
        int ok = 0;
        const int v = s.Get(handle, &ok);
        values[s.name] = ok ? nlohmann::json(v) : nlohmann::json(nullptr);
    }
    return values;
}

namespace {

std::string name;
int value = 0;

std::string SettingNames() {
    std::string text = "Settings:\n";
    for (const Setting& s : Settings()) text += "  " + s.name + std::string(20 - s.name.size(), ' ') + s.help + "\n";
    return text;
}

int Get(Tool& tool) {
    const int h = tool.camera().handle();
    if (name.empty()) {
        const nlohmann::json all = AllSettings(h);
        if (tool.options.json) {
            Tool::PrintJson(all);
        } else {
            for (const auto& [key, v] : all.items()) std::printf("%-18s %s\n", key.c_str(), v.dump().c_str());
        }
        return kExitOk;
    }
    const Setting* s = FindSetting(name);
    int ok = 0;
    const int current = s->Get(h, &ok);
    if (!ok) return kExitFailed;
    if (tool.options.json)
        Tool::PrintJson({{"name", name}, {"value", current}});
    else
        std::printf("%s = %d\n", name.c_str(), current);
    return kExitOk;
}

int Set(Tool& tool) {
    const Setting* s = FindSetting(name);
    const int h = tool.camera().handle();
    if (!s->Set(h, value)) return kExitFailed;
    int ok = 0;
    const int current = s->Get(h, &ok);
    if (ok) std::printf("%s = %d\n", name.c_str(), current);
    return ok ? kExitOk : kExitFailed;
}

// Names are checked while parsing, so a wrong name is a usage error before any camera is opened.
std::string CheckName(const std::string& text) {
    return FindSetting(text) ? std::string() : "unknown setting '" + text + "' (see `zelvik get --help`)";
}

std::string CheckSettable(const std::string& text) {
    const Setting* s = FindSetting(text);
    if (s == nullptr) return CheckName(text);
    return s->Settable() ? std::string() : "'" + text + "' can only be read";
}

void Add(CLI::App& app, Tool& tool) {
    auto* get = app.add_subcommand("get", "read one setting by name, or all of them");
    get->add_option("name", name, "setting name; every setting when absent")->check(CheckName, "SETTING");
    get->footer(SettingNames());
    tool.SetRunner(get, Needs::Camera, Get);

    auto* set = app.add_subcommand("set", "change one setting (kept in the user's settings like every change)");
    set->add_option("name", name, "setting name")->required()->check(CheckSettable, "SETTING");
    set->add_option("value", value, "new value")->required();
    set->footer(SettingNames());
    tool.SetRunner(set, Needs::Camera, Set);
}

const CommandRegistration registration(30, Add);

}  // namespace
}  // namespace zelvik_tool
