// Frames per second and CPU time per frame at full resolution in the 24-bit mode, delivered three ways from
// one emulated camera in the same run: the C API's own callback delivery (the reference), zelviksrc !
// fakesink, and the Python package into NumPy. Then how long zelviksrc takes to post its error after the
// camera is unplugged.
//
// Run: bindings_bench [--frames N] [--rounds R] [--fps RATE] (needs /dev/fuse). Each path streams N
// frames (default 100) after a warm-up, R rounds (default 5) in turn; the medians are printed with each
// path's CPU overhead over the C path. CPU time is the process's user + system time (the library's
// threads included) per frame.
#include <gst/gst.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "include/ZelvikSdk.h"
#include "tests/support/FuseEmulator.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmup = 5;
constexpr int kWidth = 2592, kHeight = 1944;

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Result {
    double fps = 0, cpuMs = 0;
    bool ok = false;
};

// Measures from the end of the warm-up to the last frame.
struct Meter {
    double cpu = 0;
    Clock::time_point wall;
    void Start() {
        cpu = CpuSeconds();
        wall = Clock::now();
    }
    Result Stop(int frames) const {
        const double seconds = std::chrono::duration<double>(Clock::now() - wall).count();
        return {frames / seconds, 1000.0 * (CpuSeconds() - cpu) / frames, true};
    }
};

bool NextFrame(ZELVIK_HWND queue) {
    ZelvikMessage m;
    while (ZelvikMsg_Get(queue, &m, 10000) == 1) {
        if (m.message == MSG_CAMERA_FRAME) return m.lParam == 0;
    }
    return false;
}

Result CallbackPath(int frames) {
    const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    const int h = Zelvik_Initialize(0);
    Zelvik_SetColorMode(h, 24);
    const int size = kWidth * 3 * kHeight;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    Result result;
    bool ok = Zelvik_CallBackPreview(h, queue, buffer.data(), size, 1) == 1;
    for (int i = 0; ok && i < kWarmup; ++i) ok = NextFrame(queue);
    if (ok) {
        Meter meter;
        meter.Start();
        for (int i = 0; ok && i < frames; ++i) ok = NextFrame(queue);
        if (ok) result = meter.Stop(frames);
    }
    Zelvik_StopPreview(h);
    Zelvik_Release(h);
    ZelvikMsg_DestroyQueue(queue);
    return result;
}

// Counts buffers reaching fakesink and starts and stops the meter at the right ones.
struct Counter {
    std::mutex mutex;
    std::condition_variable changed;
    int seen = 0, frames = 0;
    Meter meter;
    Result result;
};

GstPadProbeReturn CountBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* counter = static_cast<Counter*>(data);
    std::lock_guard lock(counter->mutex);
    ++counter->seen;
    if (counter->seen == kWarmup) counter->meter.Start();
    if (counter->seen == kWarmup + counter->frames) {
        counter->result = counter->meter.Stop(counter->frames);
        counter->changed.notify_all();
    }
    return GST_PAD_PROBE_OK;
}

// `description` (its fakesink named "sink") playing, with `counter` counting the buffers at the sink.
GstElement* PlayCounted(const char* description, Counter& counter) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description, &error);
    if (pipeline == nullptr) {
        std::fprintf(stderr, "pipeline: %s\n", error ? error->message : "?");
        return nullptr;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, CountBuffer, &counter, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    return pipeline;
}

Result ElementPath(int frames) {
    Counter counter;
    counter.frames = frames;
    GstElement* pipeline = PlayCounted("zelviksrc ! video/x-raw,format=BGR ! fakesink name=sink sync=false", counter);
    if (pipeline == nullptr) return {};
    Result result;
    {
        std::unique_lock lock(counter.mutex);
        counter.changed.wait_for(lock, std::chrono::seconds(60), [&] { return counter.result.ok; });
        result = counter.result;
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return result;
}

Result NumpyPath(int frames) {
    const std::string command = std::string("PYTHONPATH=") + ZELVIK_PYTHON_PACKAGE + " ZELVIK_SDK_LIBRARY=" +
                                ZELVIK_SDK_LIBRARY + " " + ZELVIK_PYTHON + " " + ZELVIK_NUMPY_RATE +
                                " --frames " + std::to_string(frames) + " --warmup " + std::to_string(kWarmup);
    FILE* child = ::popen(command.c_str(), "r");
    if (child == nullptr) return {};
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, child) != nullptr;
    const int status = ::pclose(child);
    Result result;
    if (read && status == 0 && std::sscanf(line, "{\"fps\": %lf, \"cpu_ms\": %lf", &result.fps, &result.cpuMs) == 2)
        result.ok = true;
    else
        std::fprintf(stderr, "numpy_rate.py: status %d, output %s\n", status, line);
    return result;
}

// Seconds from the unplug to zelviksrc's error on the bus; negative when none came within 30 s.
double LossLatency(zelvik::test::FuseEmulator& emulator) {
    Counter counter;
    counter.frames = 1 << 30;
    GstElement* pipeline = PlayCounted("zelviksrc ! fakesink name=sink sync=false", counter);
    if (pipeline == nullptr) return -1;
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard lock(counter.mutex);
            if (counter.seen >= 3) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto unplugged = Clock::now();
    emulator.Control("unplug 1");
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* error = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND, GST_MESSAGE_ERROR);
    const double seconds = std::chrono::duration<double>(Clock::now() - unplugged).count();
    gst_object_unref(bus);
    if (error != nullptr) gst_message_unref(error);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return error != nullptr ? seconds : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 100, rounds = 5;
    std::string fps;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0) frames = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--fps") == 0) fps = argv[i + 1];
    }
    const std::string why = zelvik::test::FuseEmulator::Unavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "bindings_bench: %s\n", why.c_str());
        return 1;
    }
    char config[] = "/tmp/zelvik-bench-config-XXXXXX";
    ::setenv("XDG_CONFIG_HOME", ::mkdtemp(config), 1);
    ::setenv("GST_REGISTRY", ZELVIK_GST_REGISTRY, 1);
    gst_init(&argc, &argv);
    GstPlugin* plugin = gst_plugin_load_file(ZELVIK_GST_PLUGIN, nullptr);
    if (plugin == nullptr) {
        std::fprintf(stderr, "bindings_bench: cannot load %s\n", ZELVIK_GST_PLUGIN);
        return 1;
    }
    gst_object_unref(plugin);

    std::vector<std::string> options;
    if (!fps.empty()) options = {"--fps", fps};
    zelvik::test::FuseEmulator emulator(ZELVIK_EMULATOR_PATH, options);
    if (!emulator.Ready()) {
        std::fprintf(stderr, "bindings_bench: %s\n", emulator.Error().c_str());
        return 1;
    }
    ::setenv("ZELVIK_ROOT", emulator.Root().c_str(), 1);

    struct Path {
        const char* name;
        Result (*run)(int);
        std::vector<double> fps, cpu;
    };
    std::vector<Path> paths = {{"C callback delivery", CallbackPath, {}, {}},
                               {"zelviksrc ! fakesink", ElementPath, {}, {}},
                               {"Python into NumPy", NumpyPath, {}, {}}};
    std::printf("%d x %d, 24-bit, %d frames per path and round, %d rounds, camera at %s\n", kWidth, kHeight, frames,
                rounds, fps.empty() ? "the sensor timing (13.74 fps)" : (fps + " fps").c_str());
    for (int round = 0; round < rounds; ++round) {
        // Each round starts with another path, so that drifting load on the machine spreads over all.
        for (size_t turn = 0; turn < paths.size(); ++turn) {
            Path& path = paths[(turn + round) % paths.size()];
            const Result r = path.run(frames);
            if (!r.ok) {
                std::fprintf(stderr, "bindings_bench: %s failed\n", path.name);
                return 1;
            }
            path.fps.push_back(r.fps);
            path.cpu.push_back(r.cpuMs);
            std::printf("  round %d  %-22s %7.2f fps %7.2f ms CPU/frame\n", round + 1, path.name, r.fps, r.cpuMs);
        }
    }
    const double referenceCpu = Median(paths[0].cpu);
    std::printf("\n%-22s %10s %16s %14s\n", "path", "fps", "CPU ms/frame", "CPU overhead");
    for (const Path& path : paths) {
        const double cpu = Median(path.cpu);
        std::printf("%-22s %10.2f %16.2f %13.1f%%\n", path.name, Median(path.fps), cpu,
                    100.0 * (cpu - referenceCpu) / referenceCpu);
    }
    const double loss = LossLatency(emulator);
    std::printf("\nzelviksrc error after unplug: %s\n",
                loss < 0 ? "none within 30 s" : (std::to_string(loss * 1000.0) + " ms").c_str());
    return 0;
}
