// zelvik list: the cameras found, numbered as --camera takes them.
#include <cstdio>

#include "Commands.h"

namespace zelvik_tool {

int ListCameras(Tool& tool) {
    char names[10][256];
    const int n = Zelvik_EnumDevice(tool.camera().handle(), &names[0][0]);
    if (tool.options.json) {
        nlohmann::json cameras = nlohmann::json::array();
        for (int i = 0; i < n; ++i) cameras.push_back({{"number", i + 1}, {"name", names[i]}});
        Tool::PrintJson({{"cameras", cameras}});
    } else {
        std::printf("%d camera(s)\n", n);
        for (int i = 0; i < n; ++i) std::printf("  %d  %s\n", i + 1, names[i]);
    }
    return n > 0 ? kExitOk : tool.NoCamera(/*printJson=*/false);
}

namespace {

void Add(CLI::App& app, Tool& tool) {
    tool.SetRunner(app.add_subcommand("list", "list the cameras found"), Needs::Handle, ListCameras);
}

const CommandRegistration registration(10, Add);

}  // namespace
}  // namespace zelvik_tool
