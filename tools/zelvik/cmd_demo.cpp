// zelvik demo: list, show, stream and snap on the built-in emulated camera.
#include <cstdio>

#include "Commands.h"

namespace zelvik_tool {
namespace {

int frames = 30;
std::string path = "zelvik.ppm";

int Demo(Tool& tool) {
    std::printf("== the built-in emulated camera ==\n");
    for (int rc : {ListCameras(tool), ShowInfo(tool), Stream(tool, frames, 1), Snap(tool.camera(), path, 1)})
        if (rc != kExitOk) return rc;
    return kExitOk;
}

void Add(CLI::App& app, Tool& tool) {
    auto* demo = app.add_subcommand("demo", "list, show, stream and snap on the built-in emulated camera");
    demo->add_option("--frames", frames, "frames to stream")->check(CLI::PositiveNumber);
    demo->add_option("--save", path, "where the snapshot goes");
    demo->parse_complete_callback([&tool] { tool.options.emulated = true; });
    tool.SetRunner(demo, Needs::Camera, Demo);
    tool.RefuseJson(demo);
}

const CommandRegistration registration(90, Add);

}  // namespace
}  // namespace zelvik_tool
