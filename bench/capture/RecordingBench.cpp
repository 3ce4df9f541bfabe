// Recording at full resolution: what the capture thread pays per frame for the recorder's conversion,
// and whole recordings from the FUSE emulator at the sensor's own rate (about 13.7 frames per second)
// into tmpfs and onto the disk.
//
// Run: recording_bench [--benchmark_filter=...]. ZELVIK_RECORD_DISK names the folder on disk (default:
// the current folder); /dev/shm is the tmpfs. A RecordFullResolution iteration is one whole recording of
// 10 s. Counters: processed_fps (frames the recording was offered per second of the recording),
// recorded_fps (frames written per second, the rate in the file), written, skipped, queued_left (frames
// still queued when it ended), camera_fps (the sensor timing).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/capture/StreamingSupport.h"
#include "include/ZelvikSdk.h"
#include "output/AviWriter.h"

namespace {

constexpr int kWidth = 2592, kHeight = 1944;

// The conversion the capture thread runs for every recorded frame, from an output image of each colour
// mode (bits per pixel as the argument) into the queue's bottom-up 24-bit frame.
void ConvertFullResolution(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const uint32_t stride = (static_cast<uint32_t>(kWidth * bits / 8) + 3) & ~3u;
    std::vector<uint8_t> image(size_t{stride} * kHeight);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    std::vector<zelvik::RgbQuad> gray(256);
    for (int g = 0; g < 256; ++g) gray[g] = {uint8_t(g), uint8_t(g), uint8_t(g), 0};
    const zelvik::ImageView view{image.data(), kWidth, kHeight, stride, bits, bits == 8 ? gray.data() : nullptr};
    std::vector<uint8_t> frame(size_t{kWidth} * kHeight * 3);
    for (auto _ : state) {
        if (!zelvik::ConvertToAviFrame(view, frame.data())) state.SkipWithError("conversion refused");
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(ConvertFullResolution)->ArgName("bits")->Arg(8)->Arg(16)->Arg(24)->Arg(32)->Arg(48)->Arg(64)->Unit(benchmark::kMillisecond);

ZelvikRecordStatus Status(int h) {
    ZelvikRecordStatus s{};
    s.size = sizeof s;
    ZelvikRec_GetStatus(h, &s);
    return s;
}

// Where to record: 0 tmpfs (/dev/shm), 1 the disk (ZELVIK_RECORD_DISK or the current folder).
std::filesystem::path Place(int place) {
    if (place == 0) return "/dev/shm";
    const char* disk = std::getenv("ZELVIK_RECORD_DISK");
    return disk != nullptr ? disk : std::filesystem::current_path();
}

void RecordFullResolution(benchmark::State& state) {
    const int place = static_cast<int>(state.range(0));
    const int seconds = 10;
    zelvik::bench::EmulatorRun run("zelvik-bench-config");
    if (const std::string why = run.Start({}); !why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    const int h = Zelvik_Initialize(0);
    Zelvik_SetColorMode(h, 24);
    Zelvik_SetWaitTime(h, 10);
    const std::filesystem::path file = Place(place) / "zelvik-recording-bench.avi";
    ZelvikRecordStatus s{};
    for (auto _ : state) {
        if (Zelvik_Record(h, file.c_str(), seconds * 1000, 0) != 1) {
            state.SkipWithError("the recording did not start");
            break;
        }
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(seconds + 30);
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            s = Status(h);
        } while (s.recording != 0 && std::chrono::steady_clock::now() < giveUp);
        Zelvik_StopPreview(h);
        s = Status(h);
        std::filesystem::remove(file);
        if (s.end != ZELVIK_REC_TIME_UP) state.SkipWithError("the recording did not end with its time");
    }
    const double elapsed = s.elapsedMs / 1000.0;
    state.counters["processed_fps"] = elapsed > 0 ? s.framesProcessed / elapsed : 0;
    state.counters["recorded_fps"] = s.rateHundredths / 100.0;
    state.counters["written"] = s.framesWritten;
    state.counters["skipped"] = s.framesSkipped;
    state.counters["queued_left"] = s.framesQueued;
    state.counters["camera_fps"] = 96e6 / (3508.0 * 1992.0);  // 3508 x 1992 clocks at 96 MHz
    Zelvik_Release(h);
}
BENCHMARK(RecordFullResolution)
    ->ArgName("disk")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
