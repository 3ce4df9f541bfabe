// Streaming from the FUSE emulator at full resolution with callback delivery: frames per second reaching
// the application next to the emulator's own rate, and the library's CPU time per delivered frame.
//
// Run: capture_bench (needs /dev/fuse). Each benchmark mounts its own emulator; an iteration is one
// delivered frame. Counters: app_fps (frames the application received per second), camera_fps (the
// emulator's rate), cpu_ms_per_frame (user + system time of this process per frame, from getrusage).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/CpuTime.h"
#include "bench/capture/StreamingSupport.h"
#include "include/ZelvikSdk.h"

namespace {

using zelvik::bench::EmulatorRun;
using zelvik::bench::NextFrame;
using zelvik::bench::ProcessCpuSeconds;

// Colour mode (8, 24, 48 bits) as the first argument; the second: 0 = the sensor's own timing,
// otherwise the emulator's fixed rate ("--fps N").
void StreamFullResolution(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const int fps = static_cast<int>(state.range(1));
    std::vector<std::string> options;
    if (fps > 0) options = {"--fps", std::to_string(fps)};
    EmulatorRun run("zelvik-bench-config");
    if (const std::string why = run.Start(options); !why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    const int h = Zelvik_Initialize(0);
    Zelvik_SetColorMode(h, bits);
    Zelvik_SetWaitTime(h, 10);
    const int size = 2592 * (bits / 8) * 1944;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    if (Zelvik_CallBackPreview(h, queue, buffer.data(), size, 1) != 1 || !NextFrame(queue) ||
        !NextFrame(queue)) {
        state.SkipWithError("streaming did not start");
    } else {
        const double cpuStart = ProcessCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        int64_t frames = 0;
        for (auto _ : state) {
            if (!NextFrame(queue)) {
                state.SkipWithError("a frame failed");
                break;
            }
            ++frames;
        }
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        const double cpu = ProcessCpuSeconds() - cpuStart;
        state.counters["app_fps"] = frames / wall;
        state.counters["cpu_ms_per_frame"] = frames ? 1000.0 * cpu / frames : 0;
        // The emulator's rate: the fixed one, or the sensor timing at full resolution.
        state.counters["camera_fps"] = fps > 0 ? fps : 1.0 / zelvik::bench::kSensorFramePeriodSeconds;
    }
    Zelvik_StopPreview(h);
    Zelvik_Release(h);
    ZelvikMsg_DestroyQueue(queue);
}

// The camera's own rate: the application must receive every frame.
BENCHMARK(StreamFullResolution)
    ->ArgNames({"bits", "fps"})
    ->Args({8, 0})
    ->Args({24, 0})
    ->Args({48, 0})
    ->Iterations(60)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
// A faster camera than the sensor: where the pipeline itself becomes the limit.
BENCHMARK(StreamFullResolution)
    ->ArgNames({"bits", "fps"})
    ->Args({8, 60})
    ->Args({24, 60})
    ->Args({48, 60})
    ->Iterations(120)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
