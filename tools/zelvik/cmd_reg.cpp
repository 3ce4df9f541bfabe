// zelvik reg: read or write one 16-bit sensor register.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "Commands.h"

namespace zelvik_tool {
namespace {

std::string addressText, valueText;
int address = 0;
std::optional<int> newValue;

// A register number or value: 0..0xFFFF, written in hexadecimal (0x..) or decimal. The library takes a
// wider int and passes on only its low 16 bits, so a larger number would reach another register.
int Parse16(const std::string& what, const std::string& text) {
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    const long long v = text.empty() || text[0] == '-' || text[0] == '+' ? -1 : std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (v < 0 || v > 0xFFFF || errno != 0 || end == nullptr || *end != '\0')
        throw UsageError("reg: " + what + " '" + text + "' is not a number from 0 to 0xFFFF (65535)");
    return static_cast<int>(v);
}

void CheckArguments() {
    address = Parse16("address", addressText);
    newValue.reset();
    if (!valueText.empty()) newValue = Parse16("value", valueText);
}

int Register(Tool& tool) {
    Camera& camera = tool.camera();
    const int h = camera.handle();
    int ok = 0;
    if (newValue && !Zelvik_WriteRegisterEx(h, address, *newValue)) return kExitFailed;
    // A write is read back: the library cannot tell which registers the sensor only reads (its chip
    // number) or keeps to fewer bits, so what the register holds afterwards is the only honest answer.
    const int v = Zelvik_ReadRegisterEx(h, address, &ok);
    if (!ok) return kExitFailed;
    const bool stuck = !newValue || v == *newValue;
    if (tool.options.json) {
        nlohmann::json result = {{"address", address}, {"value", v}};
        if (newValue) {
            result["written"] = *newValue;
            result["took"] = stuck;
        }
        Tool::PrintJson(result);
    } else {
        std::printf("register 0x%04X = 0x%04X (%d)%s\n", address, v, v, newValue && stuck ? ", written" : "");
    }
    if (stuck) return kExitOk;
    std::fprintf(stderr,
                 "zelvik: register 0x%04X did not take 0x%04X: it reads 0x%04X (a register the sensor only reads, "
                 "or one that keeps fewer bits)\n",
                 address, *newValue, v);
    return kExitFailed;
}

void Add(CLI::App& app, Tool& tool) {
    auto* reg = app.add_subcommand("reg", "read or write a 16-bit sensor register; a write is read back");
    reg->add_option("address", addressText, "register address, 0..0xFFFF (0x.. or decimal)")->required();
    reg->add_option("value", valueText, "value to write, 0..0xFFFF; read when absent");
    reg->callback(CheckArguments);
    tool.SetRunner(reg, Needs::Camera, Register);
}

const CommandRegistration registration(40, Add);

}  // namespace
}  // namespace zelvik_tool
