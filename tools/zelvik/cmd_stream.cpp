// zelvik stream: stream frames through the callback preview and report the rate.
#include <chrono>
#include <cstdio>
#include <vector>

#include "Commands.h"

namespace zelvik_tool {

int Stream(Camera& camera, int frames, int subsample) {
    const int h = camera.handle();
    Zelvik_SetSubSample(h, subsample);
    Zelvik_SetColorMode(h, 24);
    const int width = Zelvik_Width(h) >> subsample, height = Zelvik_Height(h) >> subsample;
    std::vector<unsigned char> buffer(static_cast<size_t>((width * 3 + 3) & ~3) * height);
    const ZELVIK_HWND callbacks = ZelvikMsg_CreateQueue();
    if (!Zelvik_CallBackPreview(h, callbacks, buffer.data(), static_cast<int>(buffer.size()), 1) ||
        !Zelvik_StartPreview(h)) {
        ZelvikMsg_DestroyQueue(callbacks);
        return camera.ReportErrors("stream"), 1;
    }
    const auto start = std::chrono::steady_clock::now();
    int delivered = 0, failed = 0, rate = 0;
    ZelvikMessage m;
    while (delivered + failed < frames && ZelvikMsg_Get(callbacks, &m, 5000) == 1) {
        if (m.message != MSG_CAMERA_FRAME) continue;
        if (m.lParam != 0) {
            ++failed;
            std::fprintf(stderr, "frame failed: error %s\n", ErrorText(static_cast<int>(m.lParam)).c_str());
            if (m.lParam == ZELVIK_ERR_CAMERA_LOST) break;
            continue;
        }
        rate = reinterpret_cast<const ZelvikFrameInfo*>(m.wParam)->frameRate;
        ++delivered;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Zelvik_StopPreview(h);
    ZelvikMsg_DestroyQueue(callbacks);
    std::printf("%d frame(s) of %d x %d delivered in %.2f s (%.1f frames/s; camera reports %.1f)\n", delivered,
                width, height, seconds, delivered / seconds, rate / 10.0);
    return delivered == frames ? 0 : 1;
}

namespace {

int frames = 30, subsample = 0;

void Add(CLI::App& app, Tool& tool) {
    auto* stream = app.add_subcommand("stream", "stream frames and report the rate");
    stream->add_option("--frames", frames, "frames to take")->check(CLI::PositiveNumber);
    stream->add_option("--subsample", subsample, "0 full, 1 half, 2 quarter")->check(CLI::Range(0, 2));
    tool.SetRunner(stream, [](Tool& t) { return Stream(t.camera(), frames, subsample); });
}

const CommandRegistration registration(50, Add);

}  // namespace
}  // namespace zelvik_tool
