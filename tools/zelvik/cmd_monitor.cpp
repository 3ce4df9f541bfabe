// zelvik monitor: one line (or one JSON object) per camera that arrives or leaves, until Ctrl-C.
#include <atomic>
#include <csignal>
#include <cstdio>

#include "Commands.h"

namespace zelvik_tool {
namespace {

std::atomic<bool> interrupted{false};
extern "C" void OnMonitorInterrupt(int) { interrupted = true; }

// How often the wait looks at Ctrl-C.
constexpr int kWakeMs = 200;

int Monitor(Tool& tool, int events) {
    if (tool.options.emulated) {
        std::fprintf(stderr, "zelvik: monitor watches the system's disks; the emulated camera never comes or goes\n");
        return kExitUsage;
    }
    const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    if (queue == 0 || !ZelvikCam_Watch(queue)) {
        std::fprintf(stderr, "zelvik: cannot watch the cameras\n");
        ZelvikMsg_DestroyQueue(queue);
        return kExitFailed;
    }
    auto* previousInt = std::signal(SIGINT, OnMonitorInterrupt);
    auto* previousTerm = std::signal(SIGTERM, OnMonitorInterrupt);
    if (!tool.options.json) {
        std::printf("watching; Ctrl-C stops\n");
        std::fflush(stdout);
    }
    for (int seen = 0; !interrupted && (events == 0 || seen < events);) {
        ZelvikMessage message{};
        if (ZelvikMsg_Get(queue, &message, kWakeMs) != 1) continue;
        if (message.message != MSG_CAMERA_ARRIVED && message.message != MSG_CAMERA_REMOVED) continue;
        ++seen;
        ZelvikCameraEntry camera{};
        camera.size = sizeof camera;
        ZelvikCam_Describe(static_cast<int>(message.wParam), &camera);
        const bool arrived = message.message == MSG_CAMERA_ARRIVED;
        const int number = static_cast<int>(message.lParam) + 1;
        if (tool.options.json) {
            nlohmann::json line = {{"event", arrived ? "arrived" : "removed"}, {"number", number},
                                   {"serial", camera.serial}, {"identity", camera.identity}};
            std::printf("%s\n", line.dump().c_str());
        } else {
            std::printf("%-8s %d  %s\n", arrived ? "arrived" : "removed", number, camera.serial);
        }
        std::fflush(stdout);
    }
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    ZelvikCam_Unwatch(queue);
    ZelvikMsg_DestroyQueue(queue);
    return kExitOk;
}

void Add(CLI::App& app, Tool& tool) {
    static int events = 0;
    CLI::App* monitor = app.add_subcommand(
        "monitor", "report each camera that arrives or leaves (number then, serial) until Ctrl-C");
    monitor->add_option("--events", events, "stop after this many arrivals and removals (0: until Ctrl-C)")
        ->check(CLI::NonNegativeNumber);
    tool.SetRunner(monitor, Needs::Nothing, [](Tool& t) { return Monitor(t, events); });
}

const CommandRegistration registration(15, Add);

}  // namespace
}  // namespace zelvik_tool
