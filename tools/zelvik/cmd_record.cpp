// zelvik record: an AVI of the live picture for a given time, through Zelvik_Record, with a progress bar
// on a terminal (plain lines otherwise) and what was written at the end.
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "Commands.h"

namespace zelvik_tool {
namespace {

using Clock = std::chrono::steady_clock;

// A recording that has written nothing this long after its start has no frames coming.
constexpr auto kFirstFrameWait = std::chrono::seconds(10);

ZelvikRecordStatus Status(int handle) {
    ZelvikRecordStatus s{};
    s.size = sizeof s;
    ZelvikRec_GetStatus(handle, &s);
    return s;
}

void ShowProgress(const ZelvikRecordStatus& s, bool terminal, int& lastSecond) {
    const double total = s.durationMs / 1000.0, done = std::min(s.elapsedMs / 1000.0, total);
    if (terminal) {
        constexpr int kWidth = 30;
        const int filled = total > 0 ? static_cast<int>(kWidth * done / total) : kWidth;
        std::printf("\r[%s%s] %5.1f / %.1f s  %u frames  %u skipped ", std::string(filled, '#').c_str(),
                    std::string(kWidth - filled, '.').c_str(), done, total, s.framesWritten, s.framesSkipped);
        std::fflush(stdout);
    } else if (static_cast<int>(done) > lastSecond) {
        lastSecond = static_cast<int>(done);
        std::printf("%d s: %u frames written, %u skipped\n", lastSecond, s.framesWritten, s.framesSkipped);
        std::fflush(stdout);
    }
}

const char* EndText(const ZelvikRecordStatus& s) {
    switch (s.end) {
    case ZELVIK_REC_SIZE_LIMIT:
        return "stopped early: the file reached the 4 GiB an AVI can hold (about 20 s at full resolution in "
               "24-bit mode); the file is finished and plays";
    case ZELVIK_REC_WRITE_FAILED: return "stopped early: a write failed; the frames before it are finished and play";
    case ZELVIK_REC_FINISH_FAILED: return "the end of the file could not be written";
    case ZELVIK_REC_STOPPED:
        return "stopped before the time was up; the frames before are finished and play";
    case ZELVIK_REC_CAMERA_LOST:
        return "the camera was lost; the frames before are finished and play";
    default: return nullptr;
    }
}

const char* EndName(int end) {
    switch (end) {
    case ZELVIK_REC_TIME_UP: return "time-up";
    case ZELVIK_REC_SIZE_LIMIT: return "size-limit";
    case ZELVIK_REC_WRITE_FAILED: return "write-failed";
    case ZELVIK_REC_FINISH_FAILED: return "finish-failed";
    case ZELVIK_REC_STOPPED: return "stopped";
    default: return "none";
    }
}

}  // namespace

int Record(Camera& camera, const std::string& path, double seconds, int subsample, int bits, bool json) {
    const int h = camera.handle();
    Zelvik_SetSubSample(h, subsample);
    if (!Zelvik_SetColorMode(h, bits)) return camera.ReportErrors("record"), 1;
    const int durationMs = static_cast<int>(std::lround(seconds * 1000));
    // Ctrl-C ends the recording early with a finished file instead of ending the process.
    InterruptGuard interrupts;
    if (!Zelvik_Record(h, path.c_str(), durationMs, 0)) return camera.ReportErrors("record"), 1;

    const bool terminal = !json && ::isatty(STDOUT_FILENO) == 1;
    const auto started = Clock::now();
    auto finishAsked = Clock::time_point();
    int lastSecond = 0;
    ZelvikRecordStatus s = Status(h);
    bool gaveUp = false;
    while (s.recording) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        s = Status(h);
        if (!json) ShowProgress(s, terminal, lastSecond);
        const auto now = Clock::now();
        // The next frame ends the recording as its time would, and the file is finished.
        if (InterruptGuard::Signal() != 0 && finishAsked == Clock::time_point()) {
            finishAsked = now;
            ZelvikRec_Finish(h);
        }
        const auto waited = now - started;
        if (s.recording && ((s.framesWritten == 0 && waited > kFirstFrameWait) ||
                            waited > std::chrono::milliseconds(durationMs) + 2 * kFirstFrameWait ||
                            (finishAsked != Clock::time_point() && now - finishAsked > kFirstFrameWait))) {
            gaveUp = true;
            break;
        }
    }
    if (terminal) std::printf("\n");
    Zelvik_StopPreview(h);
    s = Status(h);
    if (gaveUp) std::fprintf(stderr, "record: no frames arrived; recording stopped\n");
    const int signal = InterruptGuard::Signal();
    if (signal != 0 && !gaveUp)
        std::fprintf(stderr, "record: %s ended the recording early; the file is finished\n",
                     signal == SIGINT ? "Ctrl-C" : "SIGTERM");

    const double elapsed = s.elapsedMs / 1000.0;
    if (json) {
        Tool::PrintJson({{"file", path},
                         {"frames_written", s.framesWritten},
                         {"frames_skipped", s.framesSkipped},
                         {"frames_processed", s.framesProcessed},
                         {"frames_queued", s.framesQueued},
                         {"elapsed_s", elapsed},
                         {"rate_fps", s.rateHundredths / 100.0},
                         {"end", EndName(s.end)},
                         {"interrupted", signal != 0}});
    } else {
        std::printf("%s: %u frames written, %u skipped, %.2f frames/s measured", path.c_str(), s.framesWritten,
                    s.framesSkipped, s.rateHundredths / 100.0);
        if (elapsed > 0)
            std::printf(" (%u frames processed, %.2f frames/s)", s.framesProcessed, s.framesProcessed / elapsed);
        if (s.framesQueued != 0) std::printf(", %u queued frames left unwritten", s.framesQueued);
        std::printf("\n");
        if (const char* why = EndText(s)) std::printf("%s\n", why);
    }
    if (s.error != 0) std::fprintf(stderr, "record: %s\n", std::strerror(s.error));
    if (s.end != ZELVIK_REC_TIME_UP) return kExitFailed;
    return signal != 0 ? ExitForSignal(signal) : kExitOk;
}

namespace {

std::string path = "zelvik.avi";
double seconds = 5;
int subsample = 0, bits = 24;

// The recording is an uncompressed AVI whatever the name says, so the name must say .avi.
std::string CheckAvi(const std::string& name) {
    const auto dot = name.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".avi" ? std::string() : "the recording is an uncompressed AVI: the file name must end in .avi";
}

std::string CheckSeconds(const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && v > 0 && v <= 2000000 ? std::string()
                                                                        : "the time must be more than 0 s";
}

void Add(CLI::App& app, Tool& tool) {
    auto* record = app.add_subcommand(
        "record", "record an uncompressed AVI; at full resolution in 24-bit mode a file holds about 20 s (4 GiB); "
                  "Ctrl-C ends it early with a finished file");
    record->add_option("file", path, "output file, ending in .avi")->check(CheckAvi, "FILE.avi");
    record->add_option("--seconds", seconds, "recording time, counted from the first frame")
        ->check(CheckSeconds, "SECONDS > 0");
    record->add_option("--bits", bits, "colour mode: 8, 16, 24, 32, 48 or 64 bits per pixel (the file is 24-bit)")
        ->check(CLI::IsMember({8, 16, 24, 32, 48, 64}));
    record->add_option("--subsample", subsample, "0 full, 1 half, 2 quarter")->check(CLI::Range(0, 2));
    tool.SetRunner(record, Needs::Camera,
                   [](Tool& t) { return Record(t.camera(), path, seconds, subsample, bits, t.options.json); });
}

const CommandRegistration registration(65, Add);

}  // namespace
}  // namespace zelvik_tool
