// zelvik get / zelvik set: a filter value or a sensor setting by name.
#include <cstdio>
#include <optional>

#include "Commands.h"

namespace zelvik_tool {
namespace {

template <int Index>
int GetFilter(int h, int* ok) {
    return Zelvik_GetFilterValue(h, Index, ok);
}
template <int Index>
int SetFilter(int h, int v) {
    return Zelvik_SetFilterValue(h, Index, v);
}
// The getters without an ok argument fail with −1 only for an unknown handle.
template <int (*Get)(int)>
int Plain(int h, int* ok) {
    const int v = Get(h);
    *ok = v != -1;
    return v;
}

#define ZELVIK_FILTER(name, index, help) {name, index, GetFilter<index>, SetFilter<index>, help}

}  // namespace

const Setting kSettings[] = {
    ZELVIK_FILTER("brightness", 1, "-255..255"),
    ZELVIK_FILTER("contrast", 2, "-127..127"),
    ZELVIK_FILTER("hue", 3, "-360..360"),
    ZELVIK_FILTER("saturation", 4, "-255..255"),
    ZELVIK_FILTER("sharpness", 5, "0..30"),
    ZELVIK_FILTER("bayer-gain-rgb", 6, "red bits 0-7, green 8-15, blue 16-23"),
    ZELVIK_FILTER("bayer-gain-red", 7, "0..200 percent"),
    ZELVIK_FILTER("bayer-gain-green", 8, "0..200 percent"),
    ZELVIK_FILTER("bayer-gain-blue", 9, "0..200 percent"),
    ZELVIK_FILTER("bayer-gain-auto", 10, "1: white balance on every frame"),
    ZELVIK_FILTER("gamma", 11, "0..200, 100 linear"),
    ZELVIK_FILTER("bayer-mode", 12, "Bayer phase 0..3"),
    ZELVIK_FILTER("global-gain", 13, "0..63, also sets the colour gains"),
    ZELVIK_FILTER("color-gain-red", 14, "0..63"),
    ZELVIK_FILTER("color-gain-green1", 15, "0..63"),
    ZELVIK_FILTER("color-gain-green2", 16, "0..63"),
    ZELVIK_FILTER("color-gain-blue", 17, "0..63"),
    ZELVIK_FILTER("exposure", 18, "0..16383 line periods"),
    ZELVIK_FILTER("gray-mode", 19, "0 Bayer, 1 Bayer convert, 2 grayscale"),
    ZELVIK_FILTER("gray-gain-r", 20, "0..255"),
    ZELVIK_FILTER("gray-gain-g1", 21, "0..255"),
    ZELVIK_FILTER("gray-gain-g2", 22, "0..255"),
    ZELVIK_FILTER("gray-gain-b", 23, "0..255"),
    ZELVIK_FILTER("gray-offset-r", 24, "-255..255"),
    ZELVIK_FILTER("gray-offset-g1", 25, "-255..255"),
    ZELVIK_FILTER("gray-offset-g2", 26, "-255..255"),
    ZELVIK_FILTER("gray-offset-b", 27, "-255..255"),
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
const int kSettingCount = static_cast<int>(std::size(kSettings));

const Setting* FindSetting(const std::string& name) {
    for (const Setting& s : kSettings)
        if (name == s.name) return &s;
    return nullptr;
}

nlohmann::json AllSettings(int handle) {
    nlohmann::json values = nlohmann::json::object();
    for (const Setting& s : kSettings) {
        int ok = 0;
        const int v = s.get(handle, &ok);
        values[s.name] = ok ? nlohmann::json(v) : nlohmann::json(nullptr);
    }
    return values;
}

namespace {

std::string name;
int value = 0;

std::string SettingNames() {
    std::string text = "Settings:\n";
    for (const Setting& s : kSettings) text += "  " + std::string(s.name) + std::string(20 - std::string(s.name).size(), ' ') + s.help + "\n";
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
    const int current = s->get(h, &ok);
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
    if (!s->set(h, value)) return kExitFailed;
    int ok = 0;
    const int current = s->get(h, &ok);
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
    return s->set ? std::string() : "'" + text + "' can only be read";
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
