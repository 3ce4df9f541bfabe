// Four cameras streaming at once: one FUSE emulator with four cameras, four handles, each at full
// resolution, 24-bit, callback delivery into its own message queue, at the camera's rate; one
// application thread waits on the four queues' fds with poll.
//
// Run: multi_camera_bench [SECONDS [CAMERAS]] (needs /dev/fuse; default 20 s and 4 cameras).
//
// Per camera: frames delivered, frames the camera finished in the same span, read and skipped (the
// emulator's frame log and the counter scene tell which frame each picture is), and the latency from
// ready in the camera to the message received (p50, p99). For the process: CPU (user + system) per
// delivered frame; the emulator's own CPU is shown apart (it stands in for the cameras). The goal: every
// frame delivered, none skipped.
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/CpuTime.h"
#include "bench/capture/StreamingSupport.h"
#include "include/ZelvikSdk.h"

namespace {

using namespace zelvik::bench;

struct Stream {
    int handle = 0;
    ZELVIK_HWND queue = 0;
    std::vector<uint8_t> buffer;
    struct Frame {
        int64_t receivedNs;
        int level;
    };
    std::vector<Frame> frames;
    int failed = 0;
};

// Takes every waiting message of one stream; frames are recorded only while `record`.
void Drain(Stream& s, bool record) {
    ZelvikMessage m;
    while (ZelvikMsg_Get(s.queue, &m, 0) == 1) {
        if (m.message != MSG_CAMERA_FRAME) continue;
        const int64_t now = MonotonicNs();
        if (m.lParam != 0) {
            ++s.failed;
        } else if (record) {
            s.frames.push_back({now, s.buffer[0]});
        }
    }
}

// Waits on every queue's fd for `seconds`, handling messages as they come.
void Serve(std::vector<Stream>& streams, double seconds, bool record) {
    const int64_t end = MonotonicNs() + static_cast<int64_t>(seconds * 1e9);
    std::vector<pollfd> fds;
    for (const Stream& s : streams) fds.push_back({ZelvikMsg_Fd(s.queue), POLLIN, 0});
    for (int64_t now; (now = MonotonicNs()) < end;) {
        const int timeout = static_cast<int>((end - now) / 1000000) + 1;
        if (::poll(fds.data(), fds.size(), timeout) <= 0) continue;
        for (size_t i = 0; i < streams.size(); ++i) {
            if (fds[i].revents & POLLIN) Drain(streams[i], record);
        }
    }
}

int Run(double seconds, int cameras) {
    EmulatorRun run("zelvik-multi-camera-bench");
    const std::string log = (run.Scratch() / "frames.log").string();
    if (const std::string why =
            run.Start({"--cameras", std::to_string(cameras), "--scene", "counter", "--frame-log", log});
        !why.empty()) {
        std::fprintf(stderr, "multi_camera_bench: %s\n", why.c_str());
        return run.FuseMissing() ? 0 : 1;
    }

    // Every camera is opened before any streams: opening a handle writes the stored settings to the
    // first camera.
    std::vector<Stream> streams(static_cast<size_t>(cameras));
    bool ok = true;
    for (int i = 0; i < cameras; ++i) {
        Stream& s = streams[static_cast<size_t>(i)];
        s.queue = ZelvikMsg_CreateQueue();
        s.handle = Zelvik_Initialize(0);
        ok = ok && s.handle != 0 && Zelvik_SetDeviceNumber(s.handle, i) == 1 && Zelvik_SetColorMode(s.handle, 24) == 1;
        s.buffer.resize(static_cast<size_t>(kSensorWidth) * 3 * kSensorHeight);
    }
    for (Stream& s : streams) {
        ok = ok && Zelvik_CallBackPreview(s.handle, s.queue, s.buffer.data(), static_cast<int>(s.buffer.size()), 1) == 1;
    }
    if (ok) Serve(streams, 2.0, false);  // the streams settle
    const double cpuStart = ProcessCpuSeconds();
    const double emulatorStart = ProcessCpuSeconds(run.Pid());
    const double waitStart = RunQueueWaitSeconds(), emulatorWaitStart = RunQueueWaitSeconds(run.Pid());
    if (ok) Serve(streams, seconds, true);
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double emulatorCpu = ProcessCpuSeconds(run.Pid()) - emulatorStart;
    const double waited = RunQueueWaitSeconds() - waitStart;
    const double emulatorWaited = RunQueueWaitSeconds(run.Pid()) - emulatorWaitStart;
    for (Stream& s : streams) {
        Zelvik_StopPreview(s.handle);
        Zelvik_Release(s.handle);
        ZelvikMsg_DestroyQueue(s.queue);
    }
    if (!ok) {
        std::fprintf(stderr, "multi_camera_bench: the cameras could not be opened and started\n");
        return 1;
    }

    std::printf("multi_camera_bench: %d cameras at once for %.0f s, %d x %d, 24-bit, callback delivery, "
                "camera rate %.2f frames/s\n\n",
                cameras, seconds, kSensorWidth, kSensorHeight, 1.0 / kSensorFramePeriodSeconds);
    std::printf("  camera  delivered  finished     read  skipped  failed  unmatched  frames/s  latency p50/p99 ms\n");
    int64_t delivered = 0, skipped = 0;
    for (int i = 0; i < cameras; ++i) {
        const Stream& s = streams[static_cast<size_t>(i)];
        const std::vector<ReadyFrame> logged = ReadFrameLog(log, i + 1);
        std::vector<ReadyFrame> matched;
        std::vector<double> latency;
        int unmatched = 0;
        for (const Stream::Frame& f : s.frames) {
            const ReadyFrame* r = MatchFrame(logged, f.level, f.receivedNs);
            if (r == nullptr) {
                ++unmatched;
                continue;
            }
            matched.push_back(*r);
            latency.push_back(static_cast<double>(f.receivedNs - r->readyNs) / 1e6);
        }
        const FrameAccount a = AccountFrames(matched, kSensorFramePeriodSeconds);
        delivered += static_cast<int64_t>(s.frames.size());
        skipped += a.Skipped() + unmatched;
        std::printf("  %6d  %9zu  %8lld  %7lld  %7lld  %6d  %9d  %8.2f  %7.1f / %.1f\n", i + 1, s.frames.size(),
                    static_cast<long long>(a.finished), static_cast<long long>(a.read),
                    static_cast<long long>(a.Skipped()), s.failed, unmatched,
                    static_cast<double>(s.frames.size()) / seconds, Percentile(latency, 50), Percentile(latency, 99));
    }
    std::printf("\nCPU of this process: %.2f ms per delivered frame (%.2f cores); the emulator: %.2f ms per frame\n",
                delivered ? 1e3 * cpu / static_cast<double>(delivered) : 0.0, cpu / seconds,
                delivered ? 1e3 * emulatorCpu / static_cast<double>(delivered) : 0.0);
    std::printf("runnable but waiting for a CPU (the machine's other load), per delivered frame: this process %.2f ms, "
                "the emulator %.2f ms\n",
                delivered ? 1e3 * waited / static_cast<double>(delivered) : 0.0,
                delivered ? 1e3 * emulatorWaited / static_cast<double>(delivered) : 0.0);
    std::printf("goal: every frame delivered, none skipped: %s (%lld skipped)\n", skipped == 0 ? "holds" : "does not hold",
                static_cast<long long>(skipped));
    return run.Stop("multi_camera_bench");
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    const int cameras = argc > 2 ? std::atoi(argv[2]) : 4;
    if (!(seconds > 0) || cameras < 1 || cameras > 4) {
        std::fprintf(stderr, "usage: multi_camera_bench [SECONDS [CAMERAS 1..4]]\n");
        return 2;
    }
    return Run(seconds, cameras);
}
