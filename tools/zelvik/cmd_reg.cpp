// zelvik reg: read or write one 16-bit sensor register.
#include <cstdio>
#include <optional>

#include "Commands.h"

namespace zelvik_tool {
namespace {

int address = 0;
std::optional<int> newValue;

int Register(Camera& camera) {
    const int h = camera.handle();
    int ok = 0;
    if (newValue) {
        ok = Zelvik_WriteRegisterEx(h, address, *newValue);
    } else {
        const int v = Zelvik_ReadRegisterEx(h, address, &ok);
        if (ok) std::printf("register 0x%04X = 0x%04X (%d)\n", address, v, v);
    }
    return !ok;
}

void Add(CLI::App& app, Tool& tool) {
    auto* reg = app.add_subcommand("reg", "read or write a 16-bit sensor register");
    reg->add_option("address", address, "register address")->required();
    reg->add_option("value", newValue, "value to write; read when absent");
    tool.SetRunner(reg, Needs::Camera, [](Tool& t) { return Register(t.camera()); });
}

const CommandRegistration registration(40, Add);

}  // namespace
}  // namespace zelvik_tool
