// zelvik dialog camera|analog|image: a settings dialog over the streaming camera; prints what changed.
#include <cstdio>
#include <cstdlib>
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

int RunDialog(Camera& camera) {
    using DialogExport = int (*)(int, ZELVIK_HWND);
    const DialogExport open = which == "camera" ? Zelvik_SetCameraDlg
                              : which == "analog" ? Zelvik_SetAnalogDlg
                                                  : Zelvik_SetImageDlg;
    const ZELVIK_HWND parent = std::strtoull(parentText.c_str(), nullptr, 0);
    camera.ReportErrors("start");
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
    std::printf("%s dialog open%s; close it to continue\n", which.c_str(), streaming ? " over the live camera" : "");
    std::fflush(stdout);
    const int shown = open(h, parent);
    const auto after = Settings(h);
    Zelvik_StopPreview(h);
    if (frames != 0) ZelvikMsg_DestroyQueue(frames);
    if (!shown) return camera.ReportErrors("dialog"), 1;

    int changed = 0;
    for (size_t i = 0; i < before.size(); ++i)
        if (before[i].second != after[i].second) {
            std::printf("%s: %d -> %d\n", before[i].first.c_str(), before[i].second, after[i].second);
            ++changed;
        }
    if (changed == 0) std::printf("nothing changed\n");
    return 0;
}

void Add(CLI::App& app, Tool& tool) {
    auto* dialog = app.add_subcommand("dialog", "open a settings dialog over the streaming camera");
    dialog->add_option("which", which, "camera, analog or image")
        ->required()
        ->check(CLI::IsMember({"camera", "analog", "image"}));
    dialog->add_option("--parent", parentText, "X11 window to open the dialog over (0: centred on the screen)");
    tool.SetRunner(dialog, Needs::Camera, [](Tool& t) { return RunDialog(t.camera()); });
}

const CommandRegistration registration(70, Add);

}  // namespace
}  // namespace zelvik_tool
