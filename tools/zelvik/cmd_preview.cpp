// zelvik preview: the live picture in a window until the window is closed or Ctrl-C, with the delivered
// frame rate on the terminal.
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Commands.h"
#include "device/Sensor.h"

namespace zelvik_tool {
namespace {

int subsample = 0, colorBits = 24, frameLimit = 0;
std::string childOf;

int Preview(Camera& camera) {
    if (const char* display = std::getenv("DISPLAY"); display == nullptr || *display == '\0') {
        std::fprintf(stderr, "preview: no X display (DISPLAY is not set)\n");
        return 1;
    }
    ZELVIK_HWND parent = 0;
    if (!childOf.empty()) {
        char* end = nullptr;
        parent = static_cast<ZELVIK_HWND>(std::strtoull(childOf.c_str(), &end, 0));
        if (*end != '\0' || parent == 0) {
            std::fprintf(stderr, "preview: --child-of takes an X window id such as 0x1e00007\n");
            return 2;
        }
    }
    const int h = camera.handle();
    Zelvik_SetSubSample(h, subsample);
    Zelvik_SetColorMode(h, colorBits);
    const int width = zelvik::sensor::Subsampled(Zelvik_Width(h), subsample);
    const int height = zelvik::sensor::Subsampled(Zelvik_Height(h), subsample);
    // A child window fills the picture's size at the parent's corner; a top-level one takes that size anyway.
    Zelvik_SetPreviewWindow(h, parent, 0, 0, width, height);
    const ZELVIK_HWND frames = ZelvikMsg_CreateQueue();
    if (!Zelvik_CallBackPreview(h, frames, nullptr, 0, 1)) {
        ZelvikMsg_DestroyQueue(frames);
        return camera.ReportErrors("preview"), 1;
    }
    std::printf("preview of %d x %d in %s; close the window or press Ctrl-C to stop\n", width, height,
                parent ? "a child window" : "its own window");

    // Ctrl-C and SIGTERM end the loop instead of the process (poll returns early).
    InterruptGuard interrupts;
    bool windowGone = false, cameraLost = false;
    int delivered = 0, inSecond = 0, cameraRate = 0;
    const auto start = std::chrono::steady_clock::now();
    auto secondStart = start;
    pollfd fds[2] = {{ZelvikMsg_Fd(frames), POLLIN, 0}, {ZelvikMsg_Fd(camera.queue()), POLLIN, 0}};
    while (InterruptGuard::Signal() == 0 && !windowGone && !cameraLost && (frameLimit == 0 || delivered < frameLimit)) {
        ::poll(fds, 2, 200);
        ZelvikMessage m;
        while (ZelvikMsg_Get(frames, &m, 0) == 1) {
            if (m.message != MSG_CAMERA_FRAME) continue;
            if (m.lParam == 0) {
                ++delivered;
                ++inSecond;
                cameraRate = reinterpret_cast<const ZelvikFrameInfo*>(m.wParam)->frameRate;
            } else if (m.lParam == ZELVIK_ERR_CAMERA_LOST) {
                cameraLost = true;
            }
        }
        while (ZelvikMsg_Get(camera.queue(), &m, 0) == 1) {
            // The library reports the window's loss (closed, destroyed, display gone) as a window error.
            if (m.message == MSG_CAMERA_ERROR && m.lParam == ZELVIK_ERR_WINDOW) windowGone = true;
            else if (m.message == MSG_CAMERA_ERROR && m.lParam != ZELVIK_ERR_AUTO_IRIS_OFF)
                std::fprintf(stderr, "\npreview: error %s\n", ErrorText(static_cast<int>(m.lParam)).c_str());
        }
        const auto now = std::chrono::steady_clock::now();
        const double second = std::chrono::duration<double>(now - secondStart).count();
        if (second >= 1.0) {
            std::printf("\r%d frames, %.1f frames/s delivered (camera %.1f)   ", delivered, inSecond / second,
                        cameraRate / 10.0);
            std::fflush(stdout);
            inSecond = 0;
            secondStart = now;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Zelvik_Close(h);  // stops streaming, then takes the window away
    ZelvikMsg_DestroyQueue(frames);
    // Every error was shown as it arrived; the window's own loss is how a closed window ends the preview.
    for (int i = 0; i < 20; ++i) Zelvik_GetLastError(h);
    std::printf("\n%d frames in %.1f s: %.1f frames/s delivered%s\n", delivered, seconds,
                seconds > 0 ? delivered / seconds : 0.0,
                windowGone ? ", window closed" : cameraLost ? ", camera lost" : "");
    return cameraLost || (windowGone && delivered == 0) ? 1 : 0;
}

void Add(CLI::App& app, Tool& tool) {
    auto* preview = app.add_subcommand("preview", "show the live picture in a window");
    preview->add_option("--child-of", childOf, "X window id to show the picture in, as a child window");
    preview->add_option("--subsample", subsample, "0 full, 1 half, 2 quarter")->check(CLI::Range(0, 2));
    preview->add_option("--bits", colorBits, "colour mode: 8, 16, 24, 32, 48 or 64 bits")
        ->check(CLI::IsMember({8, 16, 24, 32, 48, 64}));
    preview->add_option("--frames", frameLimit, "stop after this many frames (default: run until closed)")
        ->check(CLI::NonNegativeNumber);
    tool.SetRunner(preview, Needs::Camera, [](Tool& t) { return Preview(t.camera()); });
    tool.RefuseJson(preview);
}

const CommandRegistration registration(55, Add);

}  // namespace
}  // namespace zelvik_tool
