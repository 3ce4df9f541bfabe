// Drawing one finished full-resolution frame into the preview window: one-to-one (2592 x 1944) and scaled
// to 1280 x 960, through MIT-SHM and through plain image requests, next to a memcpy of the window's bytes.
//
// Run: preview_bench (needs Xvfb). It starts its own server with a 2592 x 1944 x 24 screen. An iteration
// is one whole drawing step: look at the window, fill its memory from the frame, show it and wait until
// the server has taken it. The memcpy rows copy exactly the bytes of the window's memory once.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "imaging/FrameBuffer.h"
#include "imaging/PreviewDraw.h"
#include "platform/X11Display.h"
#include "tests/support/PrivateXServer.h"

namespace {

using zelvik::FrameBuffer;
using zelvik::ScreenImage;
using zelvik::ShowResult;

constexpr int kSensorWidth = 2592, kSensorHeight = 1944;

// One server for every run; MIT-SHM is taken away from the library by option, so both forms talk to the
// same server.
zelvik::test::PrivateXServer& Server() {
    static zelvik::test::PrivateXServer server("2592x1944x24");
    return server;
}

// A finished frame of the colour mode's depth (8 or 24 bits), filled with noise so nothing compresses.
const FrameBuffer& Frame(int bits) {
    static FrameBuffer frames[2];
    FrameBuffer& f = frames[bits == 8 ? 0 : 1];
    if (f.Width() == 0) {
        f.Create(kSensorWidth, kSensorHeight, bits);
        std::mt19937 rng(bits);
        for (uint32_t i = 0; i < f.Stride() * static_cast<uint32_t>(kSensorHeight); ++i)
            f.Bits()[i] = static_cast<uint8_t>(rng());
    }
    return f;
}

// Arguments: shared memory (0/1), window width, window height, frame bits.
void DrawFrame(benchmark::State& state) {
    const bool shm = state.range(0) != 0;
    const int width = static_cast<int>(state.range(1)), height = static_cast<int>(state.range(2));
    const int bits = static_cast<int>(state.range(3));
    auto& server = Server();
    if (!server.connection()) {
        state.SkipWithError("Xvfb not available");
        return;
    }
    auto display = zelvik::X11Display::Open(server.display().c_str(), zelvik::X11Display::Options{shm});
    auto window = display ? display->CreateTopLevelWindow(width, height, "Active Window") : nullptr;
    if (!window || display->UsesSharedMemory() != shm) {
        state.SkipWithError("no window, or shared memory not as asked");
        return;
    }
    const FrameBuffer& frame = Frame(bits);
    FrameBuffer displayBuffer;
    for (auto _ : state) {
        ScreenImage image;
        if (window->BeginFrame(image) != ShowResult::kReady ||
            zelvik::DrawPreview(frame, false, displayBuffer, image) == zelvik::PreviewPath::kNone ||
            window->ShowFrame() != ShowResult::kReady) {
            state.SkipWithError("drawing failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * int64_t{width} * height * 4);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The same bytes the window's memory holds, copied once.
void Memcpy(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0)) * static_cast<size_t>(state.range(1)) * 4;
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

}  // namespace

BENCHMARK(DrawFrame)
    ->ArgNames({"shm", "width", "height", "bits"})
    ->Args({1, kSensorWidth, kSensorHeight, 24})
    ->Args({0, kSensorWidth, kSensorHeight, 24})
    ->Args({1, 1280, 960, 24})
    ->Args({0, 1280, 960, 24})
    ->Args({1, kSensorWidth, kSensorHeight, 8})
    ->Args({0, kSensorWidth, kSensorHeight, 8})
    ->Args({1, 1280, 960, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Memcpy)
    ->ArgNames({"width", "height"})
    ->Args({kSensorWidth, kSensorHeight})
    ->Args({1280, 960})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
