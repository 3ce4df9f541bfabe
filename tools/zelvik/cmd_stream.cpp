// zelvik stream: stream frames through the callback preview with live statistics, until Ctrl-C or a
// number of frames.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "device/Sensor.h"

namespace zelvik_tool {
namespace {

// How long a stream waits for a frame before it gives up.
constexpr auto kFrameTimeout = std::chrono::seconds(5);

struct Counts {
    int delivered = 0;  // frame messages with a picture
    int errors = 0;     // frame messages with an error code, and error messages
    int skipped = 0;    // frame messages the full queue dropped
    double processedFps = 0;  // the library's own measure of the frames it processed; 0 until it has one
};

// The library measures its rate over its first whole second of frames: before that there is none to show.
nlohmann::json ProcessedJson(const Counts& c) {
    return c.processedFps > 0 ? nlohmann::json(c.processedFps) : nlohmann::json(nullptr);
}

std::string ProcessedText(const Counts& c) {
    char text[32];
    if (c.processedFps > 0) std::snprintf(text, sizeof text, "%5.1f fps", c.processedFps);
    else std::snprintf(text, sizeof text, "%9s", "-");
    return text;
}

// Where the stream's frames went, as the library counts them (all exact but the camera's unread frames).
ZelvikStreamStats StreamStats(int handle) {
    ZelvikStreamStats s{};
    s.size = sizeof s;
    ZelvikStream_GetStats(handle, &s);
    return s;
}

nlohmann::json StagesJson(const ZelvikStreamStats& s) {
    return {{"read", s.framesRead},           {"unread_estimate", s.framesUnread}, {"overwritten", s.framesOverwritten},
            {"dropped", s.framesDropped},     {"processed", s.framesProcessed},    {"handed_out", s.framesHandedOut},
            {"not_taken", s.framesNotTaken}};
}

std::string StagesText(const ZelvikStreamStats& s) {
    char text[160];
    std::snprintf(text, sizeof text, "read %llu  lost: overwritten %llu, dropped %llu, not taken %llu, unread ~%llu",
                  static_cast<unsigned long long>(s.framesRead), static_cast<unsigned long long>(s.framesOverwritten),
                  static_cast<unsigned long long>(s.framesDropped), static_cast<unsigned long long>(s.framesNotTaken),
                  static_cast<unsigned long long>(s.framesUnread));
    return text;
}

nlohmann::json CountsJson(const char* type, double seconds, double deliveredFps, const Counts& c,
                          const ZelvikStreamStats& stages) {
    return {{"type", type},           {"seconds", seconds},      {"delivered", c.delivered},
            {"delivered_fps", deliveredFps}, {"processed_fps", ProcessedJson(c)}, {"errors", c.errors},
            {"skipped", c.skipped},   {"frames", StagesJson(stages)}};
}

}  // namespace

int Stream(Tool& tool, int frames, int subsample) {
    using Clock = std::chrono::steady_clock;
    Camera& camera = tool.camera();
    const int h = camera.handle();
    Zelvik_SetSubSample(h, subsample);
    Zelvik_SetColorMode(h, 24);
    const int width = zelvik::sensor::Subsampled(Zelvik_Width(h), subsample);
    const int height = zelvik::sensor::Subsampled(Zelvik_Height(h), subsample);
    std::vector<unsigned char> buffer(static_cast<size_t>((width * 3 + 3) & ~3) * height);
    const ZELVIK_HWND callbacks = ZelvikMsg_CreateQueue();
    // Only errors of the stream itself count: what the start-up and the set-up posted is already reported.
    for (ZelvikMessage e; ZelvikMsg_Get(camera.queue(), &e, 0) == 1;) {
    }
    if (!Zelvik_CallBackPreview(h, callbacks, buffer.data(), static_cast<int>(buffer.size()), 1) ||
        !Zelvik_StartPreview(h)) {
        ZelvikMsg_DestroyQueue(callbacks);
        return kExitFailed;
    }
    InterruptGuard interrupts;
    if (!tool.options.json)
        std::printf("streaming %d x %d%s; Ctrl-C stops\n", width, height,
                    frames ? (", " + std::to_string(frames) + " frame(s)").c_str() : "");

    const auto start = Clock::now();
    auto lastReport = start, lastFrame = start;
    int reportedDelivered = 0;
    bool lost = false, stalled = false;
    Counts counts;
    ZelvikMessage m;
    while (InterruptGuard::Signal() == 0 && !lost && (frames == 0 || counts.delivered + counts.errors < frames)) {
        if (ZelvikMsg_Get(callbacks, &m, 200) == 1 && m.message == MSG_CAMERA_FRAME) {
            lastFrame = Clock::now();
            if (m.lParam != 0) {
                ++counts.errors;
                std::fprintf(stderr, "frame failed: error %s\n", ErrorText(static_cast<int>(m.lParam)).c_str());
                lost = m.lParam == ZELVIK_ERR_CAMERA_LOST;
            } else {
                counts.processedFps = reinterpret_cast<const ZelvikFrameInfo*>(m.wParam)->frameRate / 10.0;
                ++counts.delivered;
            }
        }
        // Code 0 (automatic exposure off) is announced with every processed frame: it is no error.
        for (ZelvikMessage e; ZelvikMsg_Get(camera.queue(), &e, 0) == 1;)
            if (e.message == MSG_CAMERA_ERROR && e.lParam != 0) ++counts.errors;
        counts.skipped = ZelvikMsg_Dropped(callbacks);
        const auto now = Clock::now();
        if (now - lastFrame > kFrameTimeout) {
            std::fprintf(stderr, "zelvik: no frame for %lld s\n",
                         static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kFrameTimeout).count()));
            stalled = true;
            break;
        }
        if (now - lastReport >= std::chrono::seconds(1)) {
            const double interval = std::chrono::duration<double>(now - lastReport).count();
            const double seconds = std::chrono::duration<double>(now - start).count();
            const double fps = (counts.delivered - reportedDelivered) / interval;
            const ZelvikStreamStats stages = StreamStats(h);
            if (tool.options.json)
                std::printf("%s\n", CountsJson("progress", seconds, fps, counts, stages).dump().c_str());
            else
                std::printf("%6.1f s  delivered %5.1f fps  processed %s  errors %d  skipped %d  %s\n", seconds, fps,
                            ProcessedText(counts).c_str(), counts.errors, counts.skipped, StagesText(stages).c_str());
            std::fflush(stdout);
            lastReport = now;
            reportedDelivered = counts.delivered;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Zelvik_StopPreview(h);
    const ZelvikStreamStats stages = StreamStats(h);
    counts.skipped = ZelvikMsg_Dropped(callbacks);
    ZelvikMsg_DestroyQueue(callbacks);
    const double fps = seconds > 0 ? counts.delivered / seconds : 0;
    if (tool.options.json) {
        nlohmann::json summary = CountsJson("summary", seconds, fps, counts, stages);
        summary["width"] = width;
        summary["height"] = height;
        std::printf("%s\n", summary.dump().c_str());
    } else {
        // Under a second of streaming the library has not measured its own rate yet.
        char processed[40] = "";
        if (counts.processedFps > 0)
            std::snprintf(processed, sizeof processed, "; processed %.1f frames/s", counts.processedFps);
        std::printf("%d frame(s) of %d x %d delivered in %.2f s (%.1f frames/s%s; errors %d; skipped %d)\n%s\n",
                    counts.delivered, width, height, seconds, fps, processed, counts.errors, counts.skipped,
                    StagesText(stages).c_str());
    }
    const bool complete = frames == 0 ? !lost && !stalled : counts.delivered == frames;
    return complete ? kExitOk : kExitFailed;
}

namespace {

int frames = 0, subsample = 0;

void Add(CLI::App& app, Tool& tool) {
    auto* stream = app.add_subcommand("stream", "stream frames with live statistics until Ctrl-C");
    stream->add_option("--frames", frames, "stop after this many frames (0: until Ctrl-C)")
        ->check(CLI::NonNegativeNumber);
    stream->add_option("--subsample", subsample, "0 full, 1 half, 2 quarter")->check(CLI::Range(0, 2));
    tool.SetRunner(stream, Needs::Camera, [](Tool& t) { return Stream(t, frames, subsample); });
}

const CommandRegistration registration(50, Add);

}  // namespace
}  // namespace zelvik_tool
