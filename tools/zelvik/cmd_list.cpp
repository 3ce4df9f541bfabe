// zelvik list: the cameras attached, numbered as --camera takes them, with the serial --serial takes.
#include <cstdio>

#include "Commands.h"

namespace zelvik_tool {

nlohmann::json CameraJson(const ZelvikCameraEntry& c) {
    return {{"number", c.number + 1}, {"name", c.name}, {"serial", c.serial}, {"identity", c.identity}};
}

int ListCameras(Tool& tool) {
    const std::vector<ZelvikCameraEntry> cameras = tool.Cameras();
    const int n = static_cast<int>(cameras.size());
    if (tool.options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const ZelvikCameraEntry& c : cameras) list.push_back(CameraJson(c));
        Tool::PrintJson({{"cameras", list}});
    } else {
        std::printf("%d camera(s)\n", n);
        for (const ZelvikCameraEntry& c : cameras)
            std::printf("  %d  %s  %s\n", c.number + 1, c.name, c.serial);
    }
    return n > 0 ? kExitOk : tool.NoCamera(/*printJson=*/false);
}

namespace {

void Add(CLI::App& app, Tool& tool) {
    tool.SetRunner(app.add_subcommand("list", "list the cameras attached, with their serials"), Needs::Nothing,
                   ListCameras);
}

const CommandRegistration registration(10, Add);

}  // namespace
}  // namespace zelvik_tool
