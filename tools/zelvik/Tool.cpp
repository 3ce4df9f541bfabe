#include "Tool.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "EmulatedCamera.h"

namespace zelvik_tool {

std::string ErrorText(int code) {
    const char* name = ZelvikEmulated_ErrorName(code);
    return std::to_string(code) +
           (name ? std::string(" ") + name + " (" + ZelvikEmulated_ErrorMessage(code) + ")" : "");
}

Camera::Camera(bool emulated) : queue_(ZelvikMsg_CreateQueue()) {
    handle_ = emulated ? ZelvikEmulated_Initialize(queue_, 1) : Zelvik_Initialize(queue_);
}

Camera::~Camera() {
    Zelvik_Release(handle_);
    ZelvikMsg_DestroyQueue(queue_);
}

int Camera::ReportErrors(const char* what) {
    int n = 0;
    for (int code; (code = Zelvik_GetLastError(handle_)) != 0; ++n)
        std::fprintf(stderr, "%s: error %s\n", what, ErrorText(code).c_str());
    return n;
}

void Tool::SetRunner(CLI::App* command, Runner runner) { runners_.emplace_back(command, std::move(runner)); }

Camera& Tool::camera() {
    if (!camera_) camera_ = std::make_unique<Camera>(options.emulated);
    return *camera_;
}

int Tool::Run(const CLI::App&) {
    for (auto& [command, runner] : runners_) {
        if (!command->parsed()) continue;
        if (camera().handle() == 0) {
            std::fprintf(stderr, "out of memory\n");
            return 1;
        }
        int rc = runner(*this);
        if (camera().ReportErrors("zelvik")) rc = rc ? rc : 1;
        return rc;
    }
    return 1;
}

namespace {

std::vector<std::pair<int, AddCommand>>& Registry() {
    static std::vector<std::pair<int, AddCommand>> registry;
    return registry;
}

}  // namespace

CommandRegistration::CommandRegistration(int order, AddCommand add) { Registry().emplace_back(order, add); }

void AddCommands(CLI::App& app, Tool& tool) {
    auto commands = Registry();
    std::stable_sort(commands.begin(), commands.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [order, add] : commands) add(app, tool);
}

}  // namespace zelvik_tool
