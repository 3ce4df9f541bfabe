// Sensor-to-application latency through the FUSE emulator: from the moment a frame is ready in the camera
// to the moment the application holds its frame message, at full resolution, 24-bit, callback delivery
// (Zelvik_CallBackPreview into a message queue that the application waits on with poll, as
// examples/headless_stream.c does).
//
// Run: latency_bench [FRAMES [WAIT_MS]] (needs /dev/fuse; default 300 frames, about 22 s, and the
// library's default wait time of 10 ms between the capture thread's polls).
//
// The emulator runs the counter scene (every pixel of frame n is 16 + 29 n mod 224) and logs when each
// frame it hands out became ready (--frame-log). Each delivered picture is matched to its logged frame by
// its level; ZelvikFrame_ArrivalTime splits the way into the read (ready -> read finished) and the frame's
// age when the message is taken (read finished -> received). The goal: p99 at most one frame period plus
// the frame path's own time (hot pixels + demosaic + copy-out, timed alone in the same run).
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/CpuTime.h"
#include "bench/capture/FrameSteps.h"
#include "bench/capture/StreamingSupport.h"
#include "include/ZelvikSdk.h"

namespace {

using namespace zelvik::bench;

struct Sample {
    int64_t receivedNs = 0;
    int64_t arrivalNs = 0;
    int level = -1;
    bool whole = true;  // the first and the last row show the same frame
};

void PrintRow(const char* what, const std::vector<double>& ms) {
    std::printf("  %-44s %8.2f %8.2f %8.2f\n", what, Percentile(ms, 50), Percentile(ms, 99), Percentile(ms, 100));
}

int Run(int frames, int waitMs) {
    EmulatorRun run("zelvik-latency-bench");
    const std::string log = (run.Scratch() / "frames.log").string();
    if (const std::string why = run.Start({"--scene", "counter", "--frame-log", log}); !why.empty()) {
        std::fprintf(stderr, "latency_bench: %s\n", why.c_str());
        return run.FuseMissing() ? 0 : 1;
    }

    const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    const int h = Zelvik_Initialize(0);
    Zelvik_SetColorMode(h, 24);
    Zelvik_SetWaitTime(h, waitMs);
    const size_t stride = kSensorWidth * 3;  // a multiple of 4: no row padding
    std::vector<uint8_t> buffer(stride * kSensorHeight);
    std::vector<Sample> samples;
    samples.reserve(static_cast<size_t>(frames));
    bool ok = Zelvik_CallBackPreview(h, queue, buffer.data(), static_cast<int>(buffer.size()), 1) == 1;
    for (int i = 0; ok && i < 5; ++i) ok = NextFrame(queue);  // the stream settles
    const double cpuStart = ProcessCpuSeconds();
    const double waitStart = RunQueueWaitSeconds(), emulatorWaitStart = RunQueueWaitSeconds(run.Pid());
    while (ok && static_cast<int>(samples.size()) < frames) {
        pollfd fd{ZelvikMsg_Fd(queue), POLLIN, 0};
        if (::poll(&fd, 1, 10000) <= 0) {
            ok = false;
            break;
        }
        ZelvikMessage m;
        if (ZelvikMsg_Get(queue, &m, 0) != 1) continue;
        Sample s;
        s.receivedNs = MonotonicNs();
        if (m.message != MSG_CAMERA_FRAME || m.lParam != 0 || ZelvikFrame_ArrivalTime(h, &s.arrivalNs) != 1) {
            ok = false;
            break;
        }
        s.level = buffer[0];
        s.whole = buffer[buffer.size() - 1] == buffer[0] && buffer[1] == buffer[0] && buffer[2] == buffer[0];
        samples.push_back(s);
    }
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double waited = RunQueueWaitSeconds() - waitStart;
    const double emulatorWaited = RunQueueWaitSeconds(run.Pid()) - emulatorWaitStart;
    Zelvik_StopPreview(h);
    Zelvik_Release(h);
    ZelvikMsg_DestroyQueue(queue);
    if (!ok) {
        std::fprintf(stderr, "latency_bench: streaming failed after %zu frames\n", samples.size());
        return 1;
    }

    // Each picture to its logged frame; times in ms.
    const std::vector<ReadyFrame> logged = ReadFrameLog(log, 1);
    std::vector<ReadyFrame> matched;
    std::vector<double> latency, read, age;
    int unmatched = 0, disordered = 0, torn = 0;
    for (const Sample& s : samples) {
        torn += s.whole ? 0 : 1;
        const ReadyFrame* f = MatchFrame(logged, s.level, s.receivedNs);
        if (f == nullptr) {
            ++unmatched;
            continue;
        }
        // The read cannot finish before the frame was ready, nor the message come before the read.
        if (s.arrivalNs < f->readyNs || s.receivedNs < s.arrivalNs) ++disordered;
        matched.push_back(*f);
        latency.push_back(static_cast<double>(s.receivedNs - f->readyNs) / 1e6);
        read.push_back(static_cast<double>(s.arrivalNs - f->readyNs) / 1e6);
        age.push_back(static_cast<double>(s.receivedNs - s.arrivalNs) / 1e6);
    }
    const FrameAccount account = AccountFrames(matched, kSensorFramePeriodSeconds);

    const std::vector<uint8_t> mosaic(static_cast<size_t>(kSensorWidth) * kSensorHeight, static_cast<uint8_t>(samples.back().level));
    const StepTimes steps = TimeStepsAlone(mosaic, kSensorWidth, kSensorHeight, 15);
    const double periodMs = kSensorFramePeriodSeconds * 1e3;
    const double goalMs = periodMs + steps.Kernels();
    const double p99 = Percentile(latency, 99);

    std::printf("latency_bench: %zu frames, %d x %d, 24-bit, callback delivery to a message queue (poll on its fd),\n"
                "wait time %d ms, camera at the sensor's rate (%.2f frames/s)\n\n",
                samples.size(), kSensorWidth, kSensorHeight, waitMs, 1.0 / kSensorFramePeriodSeconds);
    std::printf("  %-44s %8s %8s %8s\n", "ms", "p50", "p99", "max");
    PrintRow("sensor to application (ready -> received)", latency);
    PrintRow("  ready in the camera -> read finished", read);
    PrintRow("  read finished -> received (frame age)", age);
    std::printf("\nframes: %lld finished by the camera, %lld read, %lld delivered, %lld skipped; "
                "%d unmatched, %d out of order, %d torn\n",
                static_cast<long long>(account.finished), static_cast<long long>(account.read),
                static_cast<long long>(account.delivered), static_cast<long long>(account.Skipped()), unmatched,
                disordered, torn);
    std::printf("CPU of this process per delivered frame: %.2f ms\n", 1e3 * cpu / static_cast<double>(samples.size()));
    std::printf("runnable but waiting for a CPU (the machine's other load), per frame: this process %.2f ms, "
                "the emulator %.2f ms\n",
                1e3 * waited / static_cast<double>(samples.size()), 1e3 * emulatorWaited / static_cast<double>(samples.size()));
    std::printf("frame path alone (median CPU): hot pixels %.2f + demosaic %.2f + copy-out %.2f = %.2f ms\n",
                steps.hotPixels, steps.demosaic, steps.copyOut, steps.Kernels());
    std::printf("goal: p99 %.2f ms <= frame period %.2f ms + frame path %.2f ms = %.2f ms: %s\n", p99, periodMs,
                steps.Kernels(), goalMs, p99 <= goalMs ? "holds" : "does not hold");
    return run.Stop("latency_bench");
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    const int waitMs = argc > 2 ? std::atoi(argv[2]) : 10;
    if (frames < 1 || waitMs < 0) {
        std::fprintf(stderr, "usage: latency_bench [FRAMES [WAIT_MS]]\n");
        return 2;
    }
    return Run(frames, waitMs);
}
