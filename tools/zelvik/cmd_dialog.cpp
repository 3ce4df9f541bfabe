// zelvik dialog camera|analog|image: a settings dialog over the streaming camera; prints what changed.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"

namespace zelvik_tool {
namespace {

// Every setting a dialog can change, by name, as the public getters report it.
std::vector<std::pair<std::string, int>> Settings(int h) {
    std::vector<std::pair<std::string, int>> s = {
        {"color-mode", Zelvik_GetColorMode(h)}, {"subsample", Zelvik_GetSubSample(h)},
        {"wait-time", Zelvik_GetWaitTime(h)},   {"mirror-v", Zelvik_GetMirrorV(h)},
        {"mirror-h", Zelvik_GetMirrorH(h)},
    };
    int ok = 0;
    s.emplace_back("auto-iris", Zelvik_GetAutoIris(h, &ok));
    int window[6] = {};
    Zelvik_GetCaptureWindowEx(h, &window[0], &window[1], &window[2], &window[3], &window[4], &window[5]);
    const char* windowNames[6] = {"window-th", "window-ehs", "window-eh", "window-tv", "window-evs", "window-ev"};
    for (int i = 0; i < 6; ++i) s.emplace_back(windowNames[i], window[i]);
    ZelvikFilterInfo info{};
    info.size = sizeof info;
    for (int index = 1; ZelvikLib_FilterInfo(index, &info); ++index)
        s.emplace_back(info.toolName, Zelvik_GetFilterValue(h, index, &ok));
    return s;
}

std::string which;
std::string parentText = "0";

// Ctrl-C or SIGTERM while the dialog is open closes it as Cancel would, so its live sensor writes are
// undone before the tool ends. The dialog's export holds the handle, so the cancel comes from a thread of
// its own, through the library's process-wide cancel; it asks again until the dialog is gone, since a
// signal may come while the dialog is still being opened.
class CancelOnSignal {
public:
    CancelOnSignal()
        : watcher_([this] {
              while (!done_) {
                  if (InterruptGuard::Signal() != 0) ZelvikDlg_CancelOpen();
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~CancelOnSignal() {
        done_ = true;
        watcher_.join();
    }
    CancelOnSignal(const CancelOnSignal&) = delete;
    CancelOnSignal& operator=(const CancelOnSignal&) = delete;

private:
    InterruptGuard interrupts_;
    std::atomic<bool> done_{false};
    std::thread watcher_;
};

int RunDialog(Tool& tool) {
    Camera& camera = tool.camera();
    using DialogExport = int (*)(int, ZELVIK_HWND);
    const DialogExport open = which == "camera" ? Zelvik_SetCameraDlg
                              : which == "analog" ? Zelvik_SetAnalogDlg
                                                  : Zelvik_SetImageDlg;
    const ZELVIK_HWND parent = std::strtoull(parentText.c_str(), nullptr, 0);
    const int h = camera.handle();

    // Stream while the dialog is open: into the library's preview window when there is a display, else
    // through the callback path (its frames are not looked at).
    const char* display = std::getenv("DISPLAY");
    const bool window = display != nullptr && display[0] != '\0';
    std::vector<unsigned char> buffer;
    ZELVIK_HWND frames = 0;
    bool streaming = false;
    if (window) {
        streaming = Zelvik_Preview(h) != 0;
    } else {
        Zelvik_SetColorMode(h, 24);
        buffer.resize(static_cast<size_t>((Zelvik_Width(h) * 3 + 3) & ~3) * Zelvik_Height(h));
        frames = ZelvikMsg_CreateQueue();
        streaming = Zelvik_CallBackPreview(h, frames, buffer.data(), static_cast<int>(buffer.size()), 1) &&
                    Zelvik_StartPreview(h);
    }
    if (!streaming) camera.ReportErrors("stream");

    const auto before = Settings(h);
    if (!tool.options.json) {
        std::printf("%s dialog open%s; close it to continue (Ctrl-C cancels it)\n", which.c_str(),
                    streaming ? " over the live camera" : "");
        std::fflush(stdout);
    }
    int shown = 0, signal = 0;
    {
        CancelOnSignal cancel;
        // A signal that comes before the dialog is open cancels it as soon as it is.
        shown = open(h, parent);
        signal = InterruptGuard::Signal();
    }
    const auto after = Settings(h);
    Zelvik_StopPreview(h);
    if (frames != 0) ZelvikMsg_DestroyQueue(frames);
    if (!shown) return camera.ReportErrors("dialog"), 1;

    nlohmann::json changed = nlohmann::json::object();
    for (size_t i = 0; i < before.size(); ++i)
        if (before[i].second != after[i].second) changed[before[i].first] = {before[i].second, after[i].second};
    if (tool.options.json) {
        Tool::PrintJson({{"dialog", which}, {"cancelled_by_signal", signal != 0}, {"changed", changed}});
    } else {
        if (signal != 0)
            std::printf("%s: the dialog was cancelled and its changes undone\n", signal == SIGINT ? "Ctrl-C" : "SIGTERM");
        for (const auto& [key, v] : changed.items()) std::printf("%s: %d -> %d\n", key.c_str(), v[0].get<int>(), v[1].get<int>());
        if (changed.empty()) std::printf("nothing changed\n");
    }
    return signal != 0 ? ExitForSignal(signal) : kExitOk;
}

void Add(CLI::App& app, Tool& tool) {
    auto* dialog = app.add_subcommand("dialog", "open a settings dialog over the streaming camera; Ctrl-C cancels it");
    dialog->add_option("which", which, "camera, analog or image")
        ->required()
        ->check(CLI::IsMember({"camera", "analog", "image"}));
    dialog->add_option("--parent", parentText, "X11 window to open the dialog over (0: centred on the screen)");
    tool.SetRunner(dialog, Needs::Camera, RunDialog);
}

const CommandRegistration registration(70, Add);

}  // namespace
}  // namespace zelvik_tool
