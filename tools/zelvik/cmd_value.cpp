// zelvik get / zelvik set: a filter value or a sensor setting by name.
#include <cstdio>
#include <stdexcept>

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

// The colour mode as the bits Zelvik_SetColorMode takes, so that what `get` prints is a value.
int ColorModeGet(int h, int* ok) { return ColorModeBits(Plain<Zelvik_GetColorMode>(h, ok)); }

// Where a value that lives only as long as one handle is set instead. The library stores the stream
// format (subsample, colour mode, wait time) only from the camera dialog, and never the switch of the
// automatic white balance.
constexpr char kSubsampleHint[] =
    "use --subsample on stream, snap, record or preview; `zelvik dialog camera` stores the default";
constexpr char kColorModeHint[] =
    "use --bits on snap, record or preview (stream is 24-bit); `zelvik dialog camera` stores the default";
constexpr char kWaitTimeHint[] = "`zelvik dialog camera` stores it as the default";
constexpr char kAutoWhiteBalanceHint[] =
    "the white balance it measures is stored in bayer-gain-red, bayer-gain-green and bayer-gain-blue, which "
    "`set` takes";

std::vector<Setting> MakeSettings() {
    std::vector<Setting> settings;
    ZelvikFilterInfo info{};
    info.size = sizeof info;
    for (int index = 1; ZelvikLib_FilterInfo(index, &info); ++index) {
        Setting s{info.toolName, index, nullptr, nullptr, "", info.rangeChecked != 0, info.min, info.max, ""};
        const std::string where = " (filter value " + std::to_string(index) + ")";
        if (s.ranged) {
            s.help = s.Range() + where;
        } else if (s.name == "bayer-gain-auto") {
            s.help = "0 off, 1 on" + where;
            s.handleOnly = kAutoWhiteBalanceHint;
        } else {
            // The packed red, green and blue Bayer gains: any value, one byte each.
            s.help = "red + 256 x green + 65536 x blue, any value" + where;
        }
        settings.push_back(s);
    }
    // name, filter index, getter, setter, help, range checked, min, max, where to set a per-handle value
    const Setting sensor[] = {
        {"exposure-us", 0, Zelvik_GetRealExposureTime, nullptr, "exposure in microseconds (read only)", false, 0, 0, ""},
        {"auto-iris", 0, Zelvik_GetAutoIris, Zelvik_SetAutoIris, "0..2: 0 off, 1 exposure, 2 gain", true, 0, 2, ""},
        {"mirror-v", 0, Plain<Zelvik_GetMirrorV>, Zelvik_SetMirrorV, "0..1: 0 off, 1 on", true, 0, 1, ""},
        {"mirror-h", 0, Plain<Zelvik_GetMirrorH>, Zelvik_SetMirrorH, "0..1: 0 off, 1 on", true, 0, 1, ""},
        {"subsample", 0, Plain<Zelvik_GetSubSample>, Zelvik_SetSubSample, "0 full, 1 half, 2 quarter", true, 0, 2,
         kSubsampleHint},
        {"color-mode", 0, ColorModeGet, Zelvik_SetColorMode, "8, 16, 24, 32, 48 or 64 bits per pixel", false, 0, 0,
         kColorModeHint},
        {"wait-time", 0, Plain<Zelvik_GetWaitTime>, Zelvik_SetWaitTime, "capture loop pause in ms, 0 or more", false,
         0, 0, kWaitTimeHint},
        {"width", 0, Plain<Zelvik_Width>, nullptr, "capture window width (read only)", false, 0, 0, ""},
        {"height", 0, Plain<Zelvik_Height>, nullptr, "capture window height (read only)", false, 0, 0, ""},
    };
    settings.insert(settings.end(), std::begin(sensor), std::end(sensor));
    return settings;
}

}  // namespace

int ColorModeBits(int reportedDepth) {
    ZelvikColorModeInfo mode{};
    mode.size = sizeof mode;
    for (int n = 0; ZelvikLib_ColorMode(n, &mode); ++n)
        if (mode.reportedDepth == reportedDepth) return mode.bits;
    return reportedDepth;
}

int Setting::Get(int handle, int* ok) const {
    return filterIndex ? Zelvik_GetFilterValue(handle, filterIndex, ok) : get(handle, ok);
}

int Setting::Set(int handle, int value) const {
    return filterIndex ? Zelvik_SetFilterValue(handle, filterIndex, value) : set(handle, value);
}

std::string Setting::Range() const {
    return ranged ? std::to_string(min) + ".." + std::to_string(max) : help;
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
    std::string text = "Settings (the range is what `set` takes):\n";
    for (const Setting& s : Settings()) {
        text += "  " + s.name + std::string(20 - s.name.size(), ' ') + s.help;
        if (!s.handleOnly.empty()) text += "; lasts only for one program's handle, not set here";
        text += "\n";
    }
    return text;
}

// The value the camera holds now, as `get NAME` prints it (`set` prints it after the change).
int PrintValue(Tool& tool, int h, const Setting& s) {
    int ok = 0;
    const int current = s.Get(h, &ok);
    if (!ok) return kExitFailed;
    if (tool.options.json)
        Tool::PrintJson({{"name", name}, {"value", current}});
    else
        std::printf("%s = %d\n", name.c_str(), current);
    return kExitOk;
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
    return PrintValue(tool, h, *s);
}

int Set(Tool& tool) {
    const Setting* s = FindSetting(name);
    Camera& camera = tool.camera();
    const int h = camera.handle();
    if (!s->Set(h, value)) {
        // The tool checks the ranges the library gives; should the library refuse all the same, the
        // range is said with its error.
        camera.ReportErrors("zelvik");
        std::fprintf(stderr, "zelvik: %s %d was refused (range %s)\n", name.c_str(), value, s->Range().c_str());
        return kExitFailed;
    }
    return PrintValue(tool, h, *s);
}

// Names are checked while parsing, so a wrong name is a usage error before any camera is opened.
std::string CheckName(const std::string& text) {
    return FindSetting(text) ? std::string() : "unknown setting '" + text + "' (see `zelvik get --help`)";
}

// What `set` refuses before any camera is opened: a value that is only read, one that would last only for
// this run, one out of its range.
void CheckSet() {
    const Setting* s = FindSetting(name);
    if (s->ReadOnly()) throw UsageError(name + " can only be read");
    if (!s->handleOnly.empty())
        throw UsageError(name + " lasts only as long as one program has the camera open, so `set` would change "
                         "nothing: " + s->handleOnly);
    if (s->ranged && (value < s->min || value > s->max))
        throw UsageError(name + ": " + std::to_string(value) + " is out of range " + s->Range());
}

void Add(CLI::App& app, Tool& tool) {
    auto* get = app.add_subcommand("get", "read one setting by name, or all of them");
    get->add_option("name", name, "setting name; every setting when absent")->check(CheckName, "SETTING");
    get->footer(SettingNames());
    tool.SetRunner(get, Needs::Camera, Get);

    auto* set = app.add_subcommand("set", "change one setting; it is stored in the user's settings for every program");
    set->add_option("name", name, "setting name")->required()->check(CheckName, "SETTING");
    set->add_option("value", value, "new value, within the setting's range")->required();
    set->footer(SettingNames());
    set->callback(CheckSet);
    tool.SetRunner(set, Needs::Camera, Set);
}

const CommandRegistration registration(30, Add);

}  // namespace
}  // namespace zelvik_tool
