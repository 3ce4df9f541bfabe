// The per-frame budget of the 24-bit (or 48-bit) path, step by step, and the check that streaming costs no
// more than its kernels: CPU per delivered frame <= 1.0 x (hot pixels + demosaic + copy-out timed alone).
//
// Run: frame_budget_bench [FRAMES [BITS]] (needs /dev/fuse; default 200 frames, about 15 s; BITS 24, the
// default, or 48). One emulator (the
// colour bars at the sensor's rate) serves the phases of one run:
//   1. the acquisition alone: the device streaming into its ring, a consumer polling every 10 ms (as the
//      capture thread does) and taking each frame as the capture thread lands it (the newest slot lent,
//      viewed in place): the acquisition = CPU of the process minus the consumer's, the landing = the
//      consumer's CPU around the lease;
//   2. streaming: a handle at full resolution, 24-bit (or 48-bit), callback delivery, the library's default wait
//      time; CPU of this process per delivered frame (getrusage; the median of the frames, as every step
//      is a median, and the mean over the run beside it), and per thread (/proc, means): the
//      acquisition thread (the one found blocked in the frame read), the capture thread (the busiest
//      other one) and the application's thread. After every second frame, while the capture thread
//      waits for the next one, the application's thread times the frame path's steps alone on a frame
//      of phase 1 (bench/capture/FrameSteps.h), so that both meet the same load; that CPU is left out;
//   3. the same steps after the stream, back to back and from cold caches, for comparison.
// Shares are of the streaming CPU per delivered frame; what no step accounts for is shown as the rest.
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/CpuTime.h"
#include "bench/capture/FrameSteps.h"
#include "bench/capture/StreamingSupport.h"
#include "device/CameraDevice.h"
#include "imaging/FrameBuffer.h"
#include "include/ZelvikSdk.h"
#include "platform/DiskSystem.h"

namespace {

using namespace zelvik::bench;

std::vector<pid_t> ThreadIds() {
    std::vector<pid_t> ids;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec))
        ids.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    return ids;
}

// A thread's CPU time: the total to the nanosecond (schedstat: time on the CPU), the split between user
// and system to the clock tick (stat).
struct ThreadTimes {
    double total = 0;
    CpuSplit split;
    ThreadTimes operator-(const ThreadTimes& o) const {
        return {total - o.total, {split.user - o.split.user, split.system - o.split.system}};
    }
    ThreadTimes& operator+=(const ThreadTimes& o) {
        total += o.total, split.user += o.split.user, split.system += o.split.system;
        return *this;
    }
};

ThreadTimes ThreadCpu(pid_t tid) {
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    std::ifstream schedstat(task + "/schedstat");
    double ns = 0;
    schedstat >> ns;
    return {ns / 1e9, StatCpu(task + "/stat")};
}

// True when the thread is blocked in a pread right now (the acquisition thread waiting for its frame).
bool InFrameRead(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return file >> number && number == SYS_pread64;
}

struct Streaming {
    int frames = 0;
    // CPU per delivered frame, the whole process: the mean over the run, and the median of the frames (on
    // which a moment of the machine's other load weighs less).
    double cpuMs = 0;
    double cpuMedianMs = 0;
    // Each timing of the steps alone next to the frame just before it: that frame's CPU / the steps'.
    std::vector<double> pairedRatios;
    ThreadTimes acquisition, capture, application, others;  // ms per delivered frame
};

// Phase 2: steps.Run() after every second frame, in the application's thread while the capture thread
// waits for the next frame; that thread's CPU for it is left out of the streaming figures.
bool Stream(int frames, int bits, FrameSteps& steps, Streaming& out) {
    const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    const int h = Zelvik_Initialize(0);
    Zelvik_SetColorMode(h, bits);
    std::vector<uint8_t> buffer(static_cast<size_t>(kSensorWidth) * (bits / 8) * kSensorHeight);
    bool ok = Zelvik_CallBackPreview(h, queue, buffer.data(), static_cast<int>(buffer.size()), 1) == 1;
    for (int i = 0; ok && i < 5; ++i) ok = NextFrame(queue);  // the stream settles
    // Right after a frame's message the acquisition thread waits in the read of the next frame: which
    // thread it is, found before the timing starts.
    std::map<pid_t, int> reading;
    for (int i = 0; ok && i < 10; ++i) {
        ok = NextFrame(queue);
        for (pid_t tid : ThreadIds()) reading[tid] += InFrameRead(tid) ? 1 : 0;
    }
    const pid_t self = static_cast<pid_t>(::syscall(SYS_gettid));
    std::map<pid_t, ThreadTimes> before;
    for (pid_t tid : ThreadIds()) before[tid] = ThreadCpu(tid);
    const double cpuStart = ProcessCpuSeconds();
    int received = 0;
    double inSteps = 0;
    // The process's CPU from one frame's message to the next, the steps timed in between left out.
    std::vector<double> perFrame;
    double previous = cpuStart, stepsSincePrevious = 0;
    for (; ok && received < frames; ++received) {
        ok = NextFrame(queue);
        const double now = ProcessCpuSeconds();
        perFrame.push_back(1e3 * (now - previous - stepsSincePrevious));
        previous = now;
        stepsSincePrevious = 0;
        if (ok && received % 2 == 1) {
            const double start = ThreadCpuSeconds();
            steps.Run();
            stepsSincePrevious = ThreadCpuSeconds() - start;
            inSteps += stepsSincePrevious;
            out.pairedRatios.push_back(perFrame.back() / steps.LastKernels());
        }
    }
    const double cpu = ProcessCpuSeconds() - cpuStart - inSteps;
    std::map<pid_t, ThreadTimes> used;
    for (pid_t tid : ThreadIds()) used[tid] = ThreadCpu(tid) - before[tid];
    used[self].total -= inSteps;
    Zelvik_StopPreview(h);
    Zelvik_Release(h);
    ZelvikMsg_DestroyQueue(queue);
    if (!ok || received == 0) return false;

    pid_t acquisition = 0, capture = 0;
    for (const auto& [tid, count] : reading) {
        if (tid != self && (acquisition == 0 || count > reading[acquisition])) acquisition = tid;
    }
    for (const auto& [tid, split] : used) {
        if (tid != self && tid != acquisition && (capture == 0 || split.total > used[capture].total)) capture = tid;
    }
    out.frames = received;
    out.cpuMs = 1e3 * cpu / received;
    out.cpuMedianMs = Median(perFrame);
    const double toMsPerFrame = 1e3 / received;
    for (const auto& [tid, times] : used) {
        ThreadTimes& into = tid == self ? out.application : tid == acquisition ? out.acquisition
                            : tid == capture ? out.capture : out.others;
        into += ThreadTimes{times.total * toMsPerFrame,
                            {times.split.user * toMsPerFrame, times.split.system * toMsPerFrame}};
    }
    return true;
}

struct Acquisition {
    double acquisitionMs = 0;  // per frame: the process minus the consumer
    double landingMs = 0;      // median, the consumer around the lease
    std::vector<uint8_t> frame;
};

// Phase 1.
bool AcquireAlone(int frames, Acquisition& out) {
    std::unique_ptr<zelvik::CameraDevice> device = zelvik::CreateCameraDevice(zelvik::SystemDisks());
    if (!device || device->GetDeviceCount() < 1 || !zelvik::Succeeded(device->StartContinuous())) return false;
    zelvik::FrameBuffer view;
    std::vector<double> landing;
    // The first frames fill the ring's fresh pages: timed from the fourth frame on.
    constexpr int kSettle = 3;
    double processStart = 0, consumerStart = 0;
    for (int i = 0; i < kSettle + frames; ++i) {
        if (i == kSettle) processStart = ProcessCpuSeconds(), consumerStart = ThreadCpuSeconds();
        zelvik::FrameStatus status;
        while ((status = device->GetFrameStatus()) == zelvik::FrameStatus::NoNewFrame)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (status != zelvik::FrameStatus::NewFrame) return false;
        const double start = ThreadCpuSeconds();
        zelvik::FrameLease lease = device->LeaseLatestFrame();
        const bool borrowed = lease && view.Borrow(lease.Bits(), kSensorWidth, kSensorHeight, 8) != 0;
        view.Release();
        if (i >= kSettle) landing.push_back(1e3 * (ThreadCpuSeconds() - start));
        if (!borrowed) return false;
        if (out.frame.empty()) out.frame.assign(lease.Bits(), lease.Bits() + lease.Bytes());
    }
    const double consumer = ThreadCpuSeconds() - consumerStart;
    const double process = ProcessCpuSeconds() - processStart;
    device->StopAcquisition();
    out.acquisitionMs = 1e3 * (process - consumer) / frames;
    out.landingMs = Median(landing);
    return true;
}

void PrintStep(const char* step, double ms, double total) {
    std::printf("  %-52s %8.3f %7.1f %%\n", step, ms, 100.0 * ms / total);
}

int Run(int frames, int bits) {
    const int mode = bits == 48 ? kMode48 : kMode24;
    EmulatorRun run("zelvik-budget-bench");
    if (const std::string why = run.Start({}); !why.empty()) {
        std::fprintf(stderr, "frame_budget_bench: %s\n", why.c_str());
        return run.FuseMissing() ? 0 : 1;
    }

    Streaming streaming;
    Acquisition acquisition;
    if (!AcquireAlone(std::max(20, frames / 4), acquisition) ||
        acquisition.frame.size() < static_cast<size_t>(kSensorWidth) * kSensorHeight) {
        std::fprintf(stderr, "frame_budget_bench: the acquisition alone failed\n");
        return 1;
    }
    FrameSteps interleaved(acquisition.frame, kSensorWidth, kSensorHeight, false, mode);
    if (!interleaved.Ready()) {
        std::fprintf(stderr, "frame_budget_bench: the frame path could not be set up\n");
        return 1;
    }
    if (!Stream(frames, bits, interleaved, streaming)) {
        std::fprintf(stderr, "frame_budget_bench: streaming failed\n");
        return 1;
    }
    const StepTimes steps = interleaved.Times();

    const double total = streaming.cpuMedianMs;
    const double rest = steps.framePathRest;
    const double sum = acquisition.acquisitionMs + acquisition.landingMs + steps.framePath + steps.copyOut;
    std::printf("frame_budget_bench: %d x %d, %d-bit, callback delivery, camera at the sensor's rate (%.2f frames/s),"
                " %d frames streamed\nkernels: %s\n\n",
                kSensorWidth, kSensorHeight, bits, 1.0 / kSensorFramePeriodSeconds, streaming.frames,
                ZelvikLib_KernelForms());
    std::printf("  %-52s %8s %9s\n", "step (CPU per frame, each timed alone)", "ms", "share");
    PrintStep("acquisition (the device's loop and frame read)", acquisition.acquisitionMs, total);
    PrintStep("landing (the newest slot lent, viewed in place)", acquisition.landingMs, total);
    PrintStep("hot pixels", steps.hotPixels, total);
    PrintStep(bits == 48 ? "widening to 10 bits + demosaic 16 -> 48" : "demosaic 8 -> 24", steps.demosaic, total);
    PrintStep("filters when neutral, automatic exposure off", rest, total);
    PrintStep("copy-out into the application's buffer", steps.copyOut, total);
    PrintStep("sum of the steps", sum, total);
    PrintStep("rest: polling, messages, scheduling, caches", total - sum, total);
    PrintStep("streaming: CPU of the process per delivered frame", total, total);
    std::printf("  %-52s %8.3f\n", "  (the mean over the run; the table has the median)", streaming.cpuMs);
    std::printf("\n  streaming, per thread (ms per delivered frame; user and system to the clock tick):\n");
    auto thread = [&](const char* which, const ThreadTimes& t, bool split) {
        std::printf("    %-30s %7.3f", which, t.total);
        if (split) std::printf("   (%.3f user, %.3f system)", t.split.user, t.split.system);
        std::printf("\n");
    };
    thread("acquisition thread", streaming.acquisition, true);
    thread("capture thread", streaming.capture, true);
    thread("application thread", streaming.application, false);  // without the steps timed in it
    thread("other threads", streaming.others, true);

    // The check pairs each timing of the steps alone with the frame streamed just before it, so that both
    // sides of a ratio meet the same moment of the machine's load, which changes from second to second.
    const double kernels = steps.Kernels();
    const double ratio = Median(streaming.pairedRatios);
    std::printf("\ncheck: CPU per delivered frame / (hot pixels + demosaic + copy-out alone), the median of %zu "
                "pairs = %.3f (goal <= 1.0): %s\n",
                streaming.pairedRatios.size(), ratio, ratio <= 1.0 ? "holds" : "does not hold");
    std::printf("  the medians' ratio %.3f ms / %.3f ms = %.3f; the mean frame's, %.3f\n", total, kernels,
                total / kernels, streaming.cpuMs / kernels);
    // The same steps after the stream: back to back, and each from cold caches.
    const StepTimes warm = TimeStepsAlone(acquisition.frame, kSensorWidth, kSensorHeight, 11, false, mode);
    const StepTimes cold = TimeStepsAlone(acquisition.frame, kSensorWidth, kSensorHeight, 11, true, mode);
    std::printf("hot pixels + demosaic + copy-out after the stream: back to back %.3f ms (ratio %.3f), from cold "
                "caches %.3f ms (ratio %.3f)\n",
                warm.Kernels(), total / warm.Kernels(), cold.Kernels(), total / cold.Kernels());
    return run.Stop("frame_budget_bench");
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 200;
    const int bits = argc > 2 ? std::atoi(argv[2]) : 24;
    if (frames < 1 || (bits != 24 && bits != 48)) {
        std::fprintf(stderr, "usage: frame_budget_bench [FRAMES [BITS]] (BITS 24 or 48)\n");
        return 2;
    }
    return Run(frames, bits);
}
