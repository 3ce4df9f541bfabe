// Soak runs: unplug and replug while streaming, recording, snapping and writing registers; SIGKILL during
// settings saves; a long stream with its memory sampled. Each prints its figures and fails on a crash, a
// leaked thread or file descriptor, a damaged settings file, a held lock or memory that keeps growing.
//
//   zelvik_soak unplug CYCLES [--strict]    unplug/replug cycles on the in-process emulated camera
//   zelvik_soak kill CYCLES                 SIGKILL a process in the middle of its settings saves
//   zelvik_soak stream SECONDS [--strict]   one stream, RSS sampled every second
//
// Every exported call is timed. The longest calls are reported; no export may block longer than one
// 5 s time-out plus its own documented wait, and --strict (the long form a person runs) fails a run with a
// call over 5.5 s. The short form CI runs reports them without failing, as tests here carry no timing
// assertions.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "api/Exports.h"
#include "device/CameraDevice.h"
#include "emulator/EmulatedDisks.h"
#include "include/ZelvikSdk.h"
#include "instance/CameraInstance.h"
#include "settings/Persistence.h"
#include "settings/Store.h"
#include "settings/StoreFormat.h"
#include "tests/support/ConfigHome.h"
#include "tests/support/ProcessStats.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kCallLimitSeconds = 5.5;  // one 5 s exchange time-out and a margin

int Threads() { return zelvik::test::ThreadsNow(); }
int Descriptors() { return zelvik::test::DescriptorsNow(); }
double RssMb() { return zelvik::test::ResidentMb(); }

// Durations of every exported call, by name.
class CallTimes {
public:
    int Run(const char* name, const std::function<int()>& call) {
        const auto start = Clock::now();
        const int result = call();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        Entry& e = calls_[name];
        ++e.count;
        e.longest = std::max(e.longest, seconds);
        if (seconds > kCallLimitSeconds) {
            ++over_;
            std::printf("  %s took %.2f s\n", name, seconds);
        }
        return result;
    }
    int Over() const { return over_; }
    void Print() const {
        std::printf("calls over %.1f s: %d\nlongest calls:\n", kCallLimitSeconds, over_);
        for (const auto& [name, e] : calls_) std::printf("  %-22s %7d calls, longest %.3f s\n", name.c_str(), e.count, e.longest);
    }

private:
    struct Entry {
        int count = 0;
        double longest = 0;
    };
    std::map<std::string, Entry> calls_;
    int over_ = 0;
};

// A handle on the in-process emulated camera, with its errors arriving on a queue.
struct EmulatedCamera {
    zelvik::emu::EmulatedDisks disks{1};
    ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    int handle = 0;

    EmulatedCamera() {
        handle = zelvik::InitializeHandle([this](zelvik::CameraInstance& c) {
            return c.InitializeWith(queue, zelvik::CreateCameraDevice(disks));
        });
    }
    ~EmulatedCamera() {
        Zelvik_Release(handle);
        ZelvikMsg_DestroyQueue(queue);
    }
    void Fault(const char* command) {
        std::string error;
        if (!disks.Control(command, &error)) std::fprintf(stderr, "emulator: %s\n", error.c_str());
    }
    // Waits (bounded) for a message; true when it came.
    bool WaitFor(uint32_t message, intptr_t lParam, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        ZelvikMessage m;
        while (Clock::now() < deadline) {
            if (ZelvikMsg_Get(queue, &m, 50) == 1 && m.message == message && (lParam < 0 || m.lParam == lParam)) return true;
        }
        return false;
    }
    void Drain() {
        ZelvikMessage m;
        while (ZelvikMsg_Get(queue, &m, 0) == 1) {
        }
        while (Zelvik_GetLastError(handle) != 0) {
        }
    }
};

// The frames an AVI holds as ffprobe counts them (-1 when it cannot read the file).
int ProbedFrames(const std::string& path) {
    const std::string command =
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames -of csv=p=0 '" +
        path + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    int frames = -1;
    if (std::fscanf(pipe, "%d", &frames) != 1) frames = -1;
    ::pclose(pipe);
    return frames;
}

uint32_t Le32At(const std::string& bytes, size_t at) {
    if (bytes.size() < at + 4) return 0;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return v;
}

// A recording the camera is pulled from: it must end by itself, finished, with every frame it counts in
// the file. Returns what was wrong, empty when nothing.
std::string RecordAcrossTheUnplug(EmulatedCamera& cam, CallTimes& times, const std::string& path) {
    const int h = cam.handle;
    Zelvik_SetSubSample(h, 2);  // 648 x 486: a recording of megabytes, not gigabytes
    ZelvikRecordStatus s{};
    s.size = sizeof s;
    auto waitUntil = [&](const std::function<bool()>& done) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (ZelvikRec_GetStatus(h, &s) == 1 && !done() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    std::string wrong;
    if (times.Run("Record", [&] { return Zelvik_Record(h, path.c_str(), 60000, 0); }) != 1) {
        wrong = "the recording did not start";
    } else {
        waitUntil([&] { return s.framesWritten >= 2; });
        cam.Fault("unplug 1");
        waitUntil([&] { return s.recording == 0; });
        std::ifstream in(path, std::ios::binary);
        const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (s.recording != 0)
            wrong = "still recording 10 s after the unplug";
        else if (s.end != ZELVIK_REC_CAMERA_LOST)
            wrong = "ended as " + std::to_string(s.end);
        else if (Le32At(file, 4) + 8 != file.size() || Le32At(file, 48) != s.framesWritten)
            wrong = "not finished";
        else if (ProbedFrames(path) != static_cast<int>(s.framesWritten))
            wrong = "ffprobe counts " + std::to_string(ProbedFrames(path)) + " of " +
                    std::to_string(s.framesWritten);
    }
    cam.Fault("replug 1");
    times.Run("StopPreview", [&] { return Zelvik_StopPreview(h); });
    Zelvik_SetSubSample(h, 0);
    std::filesystem::remove(path);
    return wrong;
}

int Unplug(int cycles, bool strict) {
    const zelvik::test::ConfigHome home;  // soak runs never touch the user's store
    const std::string recording = (home.Root() / "unplugged.avi").string();
    int badRecordings = 0;
    CallTimes times;
    std::vector<uint8_t> buffer(2592 * 1944 * 3);
    const int size = static_cast<int>(buffer.size());
    int baselineThreads = -1, baselineFds = -1, leaks = 0, lostReported = 0;
    double firstStreamRss = 0, peakRss = 0, lastRss = 0;
    {
        EmulatedCamera cam;
        const int h = cam.handle;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const int phase = cycle % 5;
            if (phase == 0) {
                // Streaming: the camera goes while frames arrive; the loop reports it lost.
                times.Run("CallBackPreview", [&] { return Zelvik_CallBackPreview(h, cam.queue, buffer.data(), size, 0); });
                cam.WaitFor(MSG_CAMERA_FRAME, -1, 10000);
                if (cycle == 0) firstStreamRss = RssMb();
                cam.Fault("unplug 1");
                lostReported += cam.WaitFor(MSG_CAMERA_ERROR, 13, 10000) ? 1 : 0;
                cam.Fault("replug 1");
                times.Run("StopPreview", [&] { return Zelvik_StopPreview(h); });
            } else if (phase == 1) {
                // Streaming with a setter running into the unplug.
                times.Run("StartPreview", [&] { return Zelvik_StartPreview(h); });
                cam.WaitFor(MSG_CAMERA_FRAME, -1, 2000);
                cam.Fault("unplug 1");
                times.Run("SetExposureTime", [&] { return Zelvik_SetExposureTime(h, 1000 + cycle % 100); });
                times.Run("SetGlobalGain", [&] { return Zelvik_SetGlobalGain(h, cycle % 64); });
                cam.Fault("replug 1");
                times.Run("StopPreview", [&] { return Zelvik_StopPreview(h); });
            } else if (phase == 2) {
                // Snapping across the unplug.
                times.Run("SnapShot", [&] { return Zelvik_SnapShot(h, buffer.data(), size, 0); });
                cam.Fault("unplug 1");
                times.Run("SnapShot", [&] { return Zelvik_SnapShot(h, buffer.data(), size, 0); });
                cam.Fault("replug 1");
            } else if (phase == 4) {
                // Recording: the file must be finished and playable whatever the moment of the unplug.
                const std::string wrong = RecordAcrossTheUnplug(cam, times, recording);
                if (!wrong.empty()) {
                    ++badRecordings;
                    std::printf("cycle %d: recording across the unplug: %s\n", cycle, wrong.c_str());
                }
            } else {
                // Idle register traffic across the unplug.
                times.Run("WriteRegisterEx", [&] { return Zelvik_WriteRegisterEx(h, 0x35, cycle % 64); });
                cam.Fault("unplug 1");
                times.Run("WriteRegisterEx", [&] { return Zelvik_WriteRegisterEx(h, 0x35, 8); });
                int ok = 0;
                times.Run("ReadRegisterEx", [&] { return Zelvik_ReadRegisterEx(h, 0x35, &ok); });
                cam.Fault("replug 1");
            }
            times.Run("Close", [&] { return Zelvik_Close(h); });
            times.Run("SetDeviceNumber", [&] { return Zelvik_SetDeviceNumber(h, 0); });
            cam.Drain();

            const int threads = Threads(), fds = Descriptors();
            if (baselineThreads < 0) {
                baselineThreads = threads;
                baselineFds = fds;
            } else if (threads != baselineThreads || fds != baselineFds) {
                ++leaks;
                std::printf("cycle %d: %d threads, %d descriptors (at first %d, %d)\n", cycle, threads, fds,
                            baselineThreads, baselineFds);
            }
            lastRss = RssMb();
            peakRss = std::max(peakRss, lastRss);
            if (cycle % 50 == 0 || cycle == cycles - 1)
                std::printf("cycle %4d: rss %.1f MB, threads %d, descriptors %d\n", cycle, lastRss, threads, fds);
            std::fflush(stdout);
        }
    }
    std::printf("unplug/replug cycles: %d, camera lost reported in %d of %d streaming cycles\n", cycles,
                lostReported, (cycles + 4) / 5);
    std::printf("recordings across the unplug: %d of %d not finished and playable\n", badRecordings,
                cycles / 5);
    std::printf("threads and descriptors: %d cycles differed from the first\n", leaks);
    std::printf("rss: first stream %.1f MB, peak %.1f MB, last %.1f MB, growth %.1f MB\n", firstStreamRss, peakRss,
                lastRss, peakRss - firstStreamRss);
    times.Print();
    const bool rssOk = peakRss - firstStreamRss <= 10.0;
    if (!rssOk) std::printf("FAIL: memory grew by more than 10 MB over the first stream's\n");
    if (leaks != 0) std::printf("FAIL: threads or descriptors leaked\n");
    if (badRecordings != 0)
        std::printf("FAIL: a recording ended by the unplug was not a finished, playable file\n");
    return (leaks == 0 && rssOk && badRecordings == 0 && (!strict || times.Over() == 0)) ? 0 : 1;
}

// One child saves the settings groups in a loop; the parent kills it at a random moment, then checks that
// the file reads as a good file, that no lock is left held, and that the next save works.
int Kill(int cycles) {
    const zelvik::test::ConfigHome home;  // soak runs never touch the user's store
    const std::filesystem::path file = zelvik::SettingsFilePath();
    std::mt19937 random(12345);
    int damaged = 0, lockHeld = 0, failedSaves = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const pid_t child = ::fork();
        if (child < 0) return 2;
        if (child == 0) {
            zelvik::SizeListData list;
            list.count = 1 + cycle % zelvik::kMaxStoredSizes;
            for (int i = 0; i < list.count; ++i) list.entries[i] = {2592, 1944, 4 * (i + 1), 3 * (i + 1), 0, 0, 10};
            for (int i = 0;; ++i) {
                list.waitTime = i;
                zelvik::SaveSizeList(list);
                zelvik::SettingsKey key;
                if (key.Create(std::string(zelvik::kSettingsRootKey) + "\\Gain_00")) {
                    key.Set("Exposure", i);
                    key.Close();
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 30000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        std::ifstream in(file, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!text.empty() && !zelvik::settings::ParseDocument(text)) {
            ++damaged;
            std::printf("cycle %d: the settings file is damaged\n", cycle);
        }
        if (std::filesystem::exists(file.string() + ".bak")) {
            ++damaged;
            std::printf("cycle %d: a save found a damaged file and set it aside\n", cycle);
            std::filesystem::remove(file.string() + ".bak");
        }
        const int lock = ::open((file.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
        if (lock >= 0) {
            if (::flock(lock, LOCK_EX | LOCK_NB) != 0) ++lockHeld;
            ::close(lock);
        }
        zelvik::SettingsKey key;
        if (!key.Create(std::string(zelvik::kSettingsRootKey) + "\\Soak") || !key.Set("Cycle", cycle) || !key.Close())
            ++failedSaves;
    }
    std::printf("SIGKILL during saves: %d cycles, damaged files %d, locks left held %d, saves failing after %d\n",
                cycles, damaged, lockHeld, failedSaves);
    return (damaged == 0 && lockHeld == 0 && failedSaves == 0) ? 0 : 1;
}

int Stream(int seconds, bool strict) {
    const zelvik::test::ConfigHome home;  // soak runs never touch the user's store
    CallTimes times;
    std::vector<uint8_t> buffer(2592 * 1944 * 3);
    double firstRss = 0, peakRss = 0, lastRss = 0;
    long frames = 0;
    int threads = 0, fds = 0, endThreads = 0, endFds = 0;
    {
        EmulatedCamera cam;
        threads = Threads();
        fds = Descriptors();
        times.Run("CallBackPreview", [&] {
            return Zelvik_CallBackPreview(cam.handle, cam.queue, buffer.data(), static_cast<int>(buffer.size()), 0);
        });
        const auto start = Clock::now();
        auto nextSample = start + std::chrono::seconds(1);
        ZelvikMessage m;
        while (Clock::now() - start < std::chrono::seconds(seconds)) {
            if (ZelvikMsg_Get(cam.queue, &m, 100) == 1 && m.message == MSG_CAMERA_FRAME && m.wParam != 0) ++frames;
            if (Clock::now() >= nextSample) {
                lastRss = RssMb();
                if (firstRss == 0) firstRss = lastRss;
                peakRss = std::max(peakRss, lastRss);
                const long elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
                if (elapsed % 60 == 0 || elapsed <= 1)
                    std::printf("%5ld s: rss %.1f MB, %ld frames\n", elapsed, lastRss, frames);
                std::fflush(stdout);
                nextSample += std::chrono::seconds(1);
            }
        }
        times.Run("StopPreview", [&] { return Zelvik_StopPreview(cam.handle); });
        times.Run("Close", [&] { return Zelvik_Close(cam.handle); });
        endThreads = Threads();
        endFds = Descriptors();
    }
    std::printf("stream of %d s: %ld frames (%.1f fps)\n", seconds, frames, static_cast<double>(frames) / seconds);
    std::printf("rss: first second %.1f MB, peak %.1f MB, last %.1f MB, growth %.1f MB\n", firstRss, peakRss, lastRss,
                peakRss - firstRss);
    std::printf("threads %d -> %d, descriptors %d -> %d\n", threads, endThreads, fds, endFds);
    times.Print();
    const bool ok = frames > 0 && peakRss - firstRss <= 10.0 && endThreads == threads && endFds == fds;
    return (ok && (!strict || times.Over() == 0)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s unplug CYCLES [--strict] | kill CYCLES | stream SECONDS [--strict]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const int count = std::atoi(argv[2]);
    const bool strict = argc > 3 && std::strcmp(argv[3], "--strict") == 0;
    if (mode == "unplug") return Unplug(count, strict);
    if (mode == "kill") return Kill(count);
    if (mode == "stream") return Stream(count, strict);
    std::fprintf(stderr, "unknown run %s\n", mode.c_str());
    return 2;
}
