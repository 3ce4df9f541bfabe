// zelvik list: the attached cameras' identity strings.
#include <cstdio>

#include "Commands.h"

namespace zelvik_tool {

int ListCameras(Camera& camera) {
    char names[10][256];
    const int n = Zelvik_EnumDevice(camera.handle(), &names[0][0]);
    std::printf("%d camera(s)\n", n);
    for (int i = 0; i < n; ++i) std::printf("  %s\n", names[i]);
    return 0;
}

namespace {

void Add(CLI::App& app, Tool& tool) {
    tool.SetRunner(app.add_subcommand("list", "list the attached cameras"),
                   [](Tool& t) { return ListCameras(t.camera()); });
}

const CommandRegistration registration(10, Add);

}  // namespace
}  // namespace zelvik_tool
