// Full-resolution continuous acquisition through the FUSE emulator next to raw reads of the same image area.
//
// Run: device_bench [Google Benchmark flags] (needs /dev/fuse). One emulator mount ("--fps max", so frames
// are not paced) serves every benchmark; an iteration is one full frame (2592 x 1944 bytes) reaching this
// process. 21 short repetitions of every benchmark are interleaved at random (the machine's other load then
// weighs on each alike) and reported by their median. The summary at the end gives frames/s and MB/s of the
// raw reads and of the acquisition path, and the path's ratio to the raw read into as many buffers as the
// ring has (the goal is at least 95 %) and to the others.
//
//   RawFrameRead/buffers:1/copy:0  the reference: the word protocol's frame read done by hand on the mount's
//                                  disk (the frame request block, then one O_DIRECT pread of the image area
//                                  at 0x20400) into one aligned buffer.
//   RawFrameRead/buffers:2/copy:0  the same read into two aligned buffers in turn: the fewest any ring that
//                                  keeps a finished frame while it reads the next can use.
//   RawFrameRead/buffers:3/copy:0  ... into three, as the device's ring (the like-for-like reference; the
//                                  summary gives the path's ratio to it and to the one-buffer read).
//   The two- and three-buffer reads are slower than the one-buffer read with no code of ours involved:
//   most likely a single 5 MB buffer is still in the processor's last-level cache when the next transfer
//   writes it, and two or three are not.
//   Every buffer is mapped before the timing starts, as the device maps its ring at StartContinuous.
//   RawFrameRead/buffers:3/copy:1  ... and each frame copied into an application buffer afterwards, as
//                                  CopyLatestFrame does (in the reading thread here).
//   AcquisitionPath/copy:0         CameraDevice::StartContinuous, then per frame WaitForFrame until a new
//                                  one is stored and LeaseLatestFrame: the slot handed over and returned,
//                                  as the capture engine takes it (the figure with the goal).
//   AcquisitionPath/copy:1         ... CopyLatestFrame into an application buffer instead.
//
// Counters: cpu_cores = CPU time of this process and of the emulator per second of wall time (how much of
// the machine the path keeps busy); loop_fps = the acquisition thread's own frame rate.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/CpuTime.h"
#include "device/CameraDevice.h"
#include "device/DiskProtocol.h"
#include "platform/AlignedBuffer.h"
#include "platform/DiskSystem.h"
#include "tests/support/FuseEmulator.h"

namespace {

using zelvik::AlignedBuffer;
namespace protocol = zelvik::protocol;

constexpr int kSensorWidth = 2592;
constexpr int kSensorHeight = 1944;
constexpr size_t kFrameBytes = size_t{kSensorWidth} * kSensorHeight;
constexpr size_t kTransferBytes =
    (kFrameBytes + protocol::kSectorSize - 1) / protocol::kSectorSize * protocol::kSectorSize;
// The consumer waits for each frame as the capture thread does (woken by the loop when it stores one).
constexpr std::chrono::milliseconds kFrameWait{100};

zelvik::test::FuseEmulator* g_emulator = nullptr;

// Frame and byte rates, and the CPU share of this process and the emulator over the timed loop.
class Accounting {
public:
    Accounting() : cpu_(Cpu()), wall_(std::chrono::steady_clock::now()) {}
    void Report(benchmark::State& state) const {
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
        state.counters["cpu_cores"] = wall > 0 ? (Cpu() - cpu_) / wall : 0;
        state.SetItemsProcessed(state.iterations());
        state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFrameBytes));
    }

private:
    static double Cpu() { return zelvik::bench::ProcessCpuSeconds() + zelvik::bench::ProcessCpuSeconds(g_emulator->Pid()); }
    double cpu_;
    std::chrono::steady_clock::time_point wall_;
};

void RawFrameRead(benchmark::State& state) {
    const auto buffers = static_cast<size_t>(state.range(0));
    const bool copy = state.range(1) != 0;
    const std::string disk = g_emulator->Path("dev/sdb").string();
    const int fd = ::open(disk.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError(("cannot open " + disk + " with O_DIRECT").c_str());
        return;
    }
    const protocol::Sector request = protocol::CommandBlock(protocol::kFrameRequest);
    std::vector<AlignedBuffer> images;
    for (size_t i = 0; i < buffers; ++i) {
        images.emplace_back(kTransferBytes);
        images.back().Populate();  // as the device maps its ring before the stream starts
    }
    std::vector<uint8_t> destination(kFrameBytes);
    size_t next = 0;
    const Accounting accounting;
    for (auto _ : state) {
        AlignedBuffer& image = images[next];
        next = (next + 1) % buffers;
        if (::pwrite(fd, request.data(), protocol::kSectorSize, protocol::kCommandOffset) !=
                static_cast<ssize_t>(protocol::kSectorSize) ||
            ::pread(fd, image.data(), kTransferBytes, protocol::kImageOffset) !=
                static_cast<ssize_t>(kTransferBytes)) {
            state.SkipWithError("a raw frame read failed");
            break;
        }
        if (copy) std::memcpy(destination.data(), image.data(), kFrameBytes);
        benchmark::DoNotOptimize(image.data());
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    accounting.Report(state);
    ::close(fd);
}

void AcquisitionPath(benchmark::State& state) {
    const bool copy = state.range(0) != 0;
    std::unique_ptr<zelvik::CameraDevice> device = zelvik::CreateCameraDevice(zelvik::SystemDisks());
    if (!device || device->GetDeviceCount() < 1 || device->GetTransferSize() != static_cast<int>(kTransferBytes)) {
        state.SkipWithError("no full-resolution camera found under ZELVIK_ROOT");
        return;
    }
    std::vector<uint8_t> destination(kFrameBytes);  // the application's buffer: ordinary memory
    if (!zelvik::Succeeded(device->StartContinuous())) {
        state.SkipWithError("StartContinuous failed");
        return;
    }
    const Accounting accounting;
    for (auto _ : state) {
        zelvik::FrameStatus status;
        while ((status = device->WaitForFrame(kFrameWait, [] { return false; })) == zelvik::FrameStatus::NoNewFrame) {
        }
        bool handed = false;
        if (status == zelvik::FrameStatus::NewFrame) {
            if (copy) {
                handed = zelvik::Succeeded(device->CopyLatestFrame(destination.data()));
            } else {
                const zelvik::FrameLease lease = device->LeaseLatestFrame();
                handed = static_cast<bool>(lease);
                if (handed) destination[0] = lease.Bits()[lease.Bytes() - 1];
            }
        }
        if (!handed) {
            state.SkipWithError("the acquisition ended");
            break;
        }
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    accounting.Report(state);
    state.counters["loop_fps"] = device->GetFrameRate();
    device->StopAcquisition();
}

void Configure(benchmark::internal::Benchmark* b) {
    b->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.3)
        ->Repetitions(21)
        ->ReportAggregatesOnly(true);
}
BENCHMARK(RawFrameRead)
    ->ArgNames({"buffers", "copy"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Args({3, 1})
    ->Apply(Configure);
BENCHMARK(AcquisitionPath)->ArgName("copy")->Arg(0)->Arg(1)->Apply(Configure);

// The console output, plus each benchmark's median time per frame for the summary.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred) {
                benchmark::BenchmarkName name = run.run_name;
                name.min_time = name.repetitions = name.time_type = "";
                secondsPerFrame[name.str()] = run.real_accumulated_time / static_cast<double>(run.iterations);
            }
        }
    }
    std::map<std::string, double> secondsPerFrame;
};

void PrintSummary(const std::map<std::string, double>& secondsPerFrame) {
    const auto raw = secondsPerFrame.find("RawFrameRead/buffers:1/copy:0");
    const auto path = secondsPerFrame.find("AcquisitionPath/copy:0");
    if (raw == secondsPerFrame.end() || path == secondsPerFrame.end()) return;
    const double mb = static_cast<double>(kFrameBytes) / 1e6;
    std::printf("\nmedians, %d x %d frames of %zu bytes:\n", kSensorWidth, kSensorHeight, kFrameBytes);
    for (const auto& [name, seconds] : secondsPerFrame) {
        std::printf("  %-32s %8.1f frames/s %8.1f MB/s %6.1f %% of the one-buffer read\n", name.c_str(),
                    1.0 / seconds, mb / seconds, 100.0 * raw->second / seconds);
    }
    // The ring reads into three buffers in turn: the raw read with as many buffers is the like-for-like figure.
    const struct {
        const char* reference;
        const char* label;
        const char* note;
    } ratios[] = {
        {"RawFrameRead/buffers:1/copy:0", "one buffer", ""},
        {"RawFrameRead/buffers:2/copy:0", "two buffers in turn (the fewest a ring can have)", ""},
        {"RawFrameRead/buffers:3/copy:0", "three buffers in turn, as the ring", " (goal: at least 95 %)"},
    };
    for (const auto& ratio : ratios) {
        const auto reference = secondsPerFrame.find(ratio.reference);
        if (reference == secondsPerFrame.end()) continue;
        std::printf("acquisition path / raw read into %s: %.1f %%%s\n", ratio.label,
                    100.0 * reference->second / path->second, ratio.note);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Interleaved repetitions unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    const std::string unavailable = zelvik::test::FuseEmulator::Unavailable();
    if (!unavailable.empty()) {
        std::fprintf(stderr, "device_bench: FUSE is not available here (%s)\n", unavailable.c_str());
        return 0;
    }
    zelvik::test::FuseEmulator emulator(ZELVIK_EMULATOR_PATH, {"--fps", "max"});
    if (!emulator.Ready()) {
        std::fprintf(stderr, "device_bench: %s\n", emulator.Error().c_str());
        return 1;
    }
    g_emulator = &emulator;
    ::setenv("ZELVIK_ROOT", emulator.Root().c_str(), 1);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintSummary(reporter.secondsPerFrame);
    g_emulator = nullptr;
    const std::string fault = emulator.Stop();
    if (!fault.empty()) {
        std::fprintf(stderr, "device_bench: %s\n", fault.c_str());
        return 1;
    }
    return 0;
}
