// The frame path alone on a full frame, by band size: FramePath::Process with its copy into an
// application buffer, at 24 and 48 bits, with the settings a handle loads (neutral filters) or with every
// filter on. One band of the frame's height runs each step over the whole frame before the next (the
// schedule before bands); 0 takes the size the frame path chooses from the cache.
//
// Run: frame_path_bench [--benchmark_repetitions=N] (no emulator needed). An iteration is one frame; the
// mosaic is restored before each, outside the timing. Counter: cpu_ms (this thread's CPU per frame).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "bench/CpuTime.h"
#include "capture/CaptureBuffers.h"
#include "capture/FrameAccounts.h"
#include "capture/FramePath.h"
#include "instance/CameraInstance.h"
#include "settings/Persistence.h"

namespace {

using namespace zelvik;

constexpr int kWidth = 2592, kHeight = 1944;

// A smooth picture (a diagonal ramp, each colour site at its own level, a little noise) with a few
// thousand bright outliers, the same for every run: like a camera frame, most of it clears the hot-pixel
// screen.
const std::vector<uint8_t>& Mosaic() {
    static const std::vector<uint8_t> mosaic = [] {
        std::vector<uint8_t> m(static_cast<size_t>(kWidth) * kHeight);
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> noise(0, 3);
        for (int r = 0; r < kHeight; ++r)
            for (int c = 0; c < kWidth; ++c)
                m[static_cast<size_t>(r) * kWidth + c] =
                    static_cast<uint8_t>(40 + (c + r) / 32 + (r & 1) * 20 + (c & 1) * 10 + noise(rng));
        for (int k = 0; k < 2000; ++k) m[std::uniform_int_distribution<size_t>(0, m.size() - 1)(rng)] = 255;
        return m;
    }();
    return mosaic;
}

// Arguments: bits (24, 48), rows per band (0: from the cache; kHeight: one band), filters (0 neutral,
// 1 hue/saturation, gamma, contrast, brightness and sharpening on).
void FramePathByBand(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const int mode = bits == 48 ? 4 : 2;
    CameraInstance camera;
    LoadImageFilter(camera.Settings());
    LoadGrayFilter(camera.Settings());
    LoadAnalog(camera.Settings(), 0);
    auto& s = camera.Settings().imageSettings;
    if (state.range(2) != 0) {
        s[kHue] = 20, s[kSaturation] = 30, s[kGamma] = 80, s[kContrast] = 10, s[kBrightness] = 5;
        s[kSharpness] = 4;
    }
    FramePath path(camera);
    CaptureBuffers buffers;
    if (!path.Prepare() || !buffers.Build(mode, kWidth, kHeight)) {
        state.SkipWithError("buffers");
        return;
    }
    path.SetBandRows(static_cast<int>(state.range(1)));
    FrameBuffer& landing = buffers.Landing();
    const FrameBuffer& output = buffers.OutputOf(mode);
    std::vector<uint8_t> application(static_cast<size_t>(output.Stride()) * kHeight);
    const size_t stride = output.Stride();
    const FinishedRows copyOut = [&](int from, int to) {
        std::memcpy(application.data() + from * stride, output.Bits() + from * stride, (to - from) * stride);
    };
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(landing.Bits(), Mosaic().data(), Mosaic().size());
        state.ResumeTiming();
        const double start = bench::ThreadCpuSeconds();
        path.Process(buffers, landing, mode, copyOut);
        cpu += bench::ThreadCpuSeconds() - start;
        benchmark::DoNotOptimize(application.data());
    }
    state.counters["cpu_ms"] = benchmark::Counter(1e3 * cpu / static_cast<double>(state.iterations()));
}

BENCHMARK(FramePathByBand)
    ->ArgNames({"bits", "band", "filters"})
    ->ArgsProduct({{24, 48}, {kHeight, 0, 8, 16, 32, 64}, {0}})
    ->Args({24, kHeight, 1})
    ->Args({24, 0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What every frame's facts cost a delivered frame: the calls the capture thread makes for each frame
// (taken, with a frame replaced in the ring now and then; processed; handed out into a buffer) and the
// application's read of the frame's facts. Set against FramePathByBand's milliseconds per frame.
void FrameFactsPerFrame(benchmark::State& state) {
    FrameAccounts accounts;
    accounts.Begin(false);
    std::vector<uint8_t> buffer(64);
    ZelvikFrameFacts facts{};
    facts.size = sizeof facts;
    uint64_t sequence = 0;
    for (auto _ : state) {
        sequence += 1 + (sequence % 7 == 0);
        accounts.Took(sequence, static_cast<int64_t>(sequence) * 70'000'000, sequence % 7 == 1, sequence / 50);
        accounts.Processed();
        accounts.HandOut(accounts.Output(), buffer.data());
        benchmark::DoNotOptimize(accounts.Facts(buffer.data(), &facts));
        benchmark::DoNotOptimize(facts);
    }
}
BENCHMARK(FrameFactsPerFrame);

}  // namespace

BENCHMARK_MAIN();
