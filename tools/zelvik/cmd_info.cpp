// zelvik info: the camera's identity and every setting.
#include <cstdio>

#include "Commands.h"
#include "EmulatedCamera.h"

namespace zelvik_tool {

int ShowInfo(Camera& camera) {
    const int h = camera.handle();
    ZelvikCameraInfo info{};
    info.size = sizeof info;
    if (!Zelvik_GetCameraInfo(h, &info)) return camera.ReportErrors("info"), 1;
    int ok = 0;
    int th, ehs, eh, tv, evs, ev;
    Zelvik_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev);
    std::printf("library version    %d\n", Zelvik_GetDllVersion());
    std::printf("sensor             %d x %d\n", info.maxWidth, info.maxHeight);
    std::printf("capture window     %d x %d at (%d, %d), subsample %d\n", eh, ev, ehs, evs,
                Zelvik_GetSubSample(h));
    std::printf("colour mode        %d bits\n", Zelvik_GetColorMode(h));
    std::printf("exposure           %d lines = %d us\n", Zelvik_GetExposureTime(h, &ok),
                Zelvik_GetRealExposureTime(h, &ok));
    for (int i = 1; const char* name = ZelvikEmulated_FilterName(i); ++i)
        std::printf("%-18s %d\n", name, Zelvik_GetFilterValue(h, i, &ok));
    return 0;
}

namespace {

void Add(CLI::App& app, Tool& tool) {
    tool.SetRunner(app.add_subcommand("info", "show the first camera's identity and settings"),
                   [](Tool& t) { return ShowInfo(t.camera()); });
}

const CommandRegistration registration(20, Add);

}  // namespace
}  // namespace zelvik_tool
