// zelvik demo: list, show, stream and snap on the built-in emulated camera.
#include <cstdio>

#include "Commands.h"

namespace zelvik_tool {
namespace {

int frames = 30;
std::string path = "zelvik.ppm";

int Demo(Camera& camera) {
    std::printf("== the built-in emulated camera ==\n");
    // A first run finds no stored settings: the library stores the defaults and reports code 12.
    for (int code; (code = Zelvik_GetLastError(camera.handle())) != 0;) {
        if (code == ZELVIK_ERR_RECORDING)
            std::printf("no stored settings yet: the defaults were stored\n");
        else
            std::fprintf(stderr, "start: error %s\n", ErrorText(code).c_str());
    }
    return ListCameras(camera) | ShowInfo(camera) | Stream(camera, frames, 1) | Snap(camera, path, 1);
}

void Add(CLI::App& app, Tool& tool) {
    auto* demo = app.add_subcommand("demo", "list, show, stream and snap on the built-in emulated camera");
    demo->add_option("--frames", frames, "frames to stream")->check(CLI::PositiveNumber);
    demo->add_option("--save", path, "where the snapshot goes");
    demo->parse_complete_callback([&tool] { tool.options.emulated = true; });
    tool.SetRunner(demo, [](Tool& t) { return Demo(t.camera()); });
}

const CommandRegistration registration(90, Add);

}  // namespace
}  // namespace zelvik_tool
