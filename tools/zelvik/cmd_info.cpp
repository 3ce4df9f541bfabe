// zelvik info: the camera's identity, capture window and every setting.
#include <cstdio>

#include "Commands.h"

namespace zelvik_tool {

int ShowInfo(Tool& tool) {
    Camera& camera = tool.camera();
    const int h = camera.handle();
    ZelvikCameraInfo info{};
    info.size = sizeof info;
    if (!Zelvik_GetCameraInfo(h, &info)) return kExitFailed;
    char name[32] = "";
    Zelvik_GetDeviceName(h, tool.options.camera - 1, name, sizeof name);
    ZelvikCameraEntry open{};
    open.size = sizeof open;
    ZelvikCam_GetOpen(h, &open);
    int th = 0, ehs = 0, eh = 0, tv = 0, evs = 0, ev = 0, ok = 0;
    Zelvik_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev);
    const nlohmann::json settings = AllSettings(h);
    if (tool.options.json) {
        Tool::PrintJson({
            {"camera", tool.options.camera},
            {"name", name},
            {"serial", open.serial},
            {"library_version", Zelvik_GetDllVersion()},
            {"library_version_text", LibraryVersionText(Zelvik_GetDllVersion())},
            {"sensor", {{"width", info.maxWidth}, {"height", info.maxHeight}}},
            {"global_gain_range", {info.globalGainMin, info.globalGainMax}},
            {"color_gain_range", {info.colorGainMin, info.colorGainMax}},
            {"exposure_range", {info.exposureMin, info.exposureMax}},
            {"capture_window",
             {{"th", th}, {"ehs", ehs}, {"eh", eh}, {"tv", tv}, {"evs", evs}, {"ev", ev}}},
            {"settings", settings},
        });
        return kExitOk;
    }
    std::printf("camera             %d  %s  %s\n", tool.options.camera, name, open.serial);
    std::printf("library version    %s (%d)\n", LibraryVersionText(Zelvik_GetDllVersion()).c_str(),
                Zelvik_GetDllVersion());
    std::printf("kernel forms       %s\n", ZelvikLib_KernelForms());
    std::printf("sensor             %d x %d\n", info.maxWidth, info.maxHeight);
    std::printf("capture window     %d x %d at (%d, %d), subsample %d\n", eh, ev, ehs, evs,
                Zelvik_GetSubSample(h));
    std::printf("colour mode        %d bits\n", ColorModeBits(Zelvik_GetColorMode(h)));
    std::printf("exposure           %d lines = %d us\n", Zelvik_GetExposureTime(h, &ok),
                Zelvik_GetRealExposureTime(h, &ok));
    for (const auto& [key, v] : settings.items()) std::printf("%-18s %s\n", key.c_str(), v.dump().c_str());
    return kExitOk;
}

namespace {

void Add(CLI::App& app, Tool& tool) {
    tool.SetRunner(app.add_subcommand("info", "show the camera's identity and settings"), Needs::Camera, ShowInfo);
}

const CommandRegistration registration(20, Add);

}  // namespace
}  // namespace zelvik_tool
