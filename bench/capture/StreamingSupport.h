// What the streaming benchmarks share: the emulated camera they run against, waiting for frame messages,
// the emulator's frame log (when each frame became ready in the camera), which logged frame a delivered
// picture of the counter scene is, percentiles, and the emulator's end.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "emulator/Scene.h"
#include "include/ZelvikSdk.h"
#include "tests/support/FuseEmulator.h"
#include "tests/support/TempDir.h"

#ifndef ZELVIK_EMULATOR_PATH
#define ZELVIK_EMULATOR_PATH ""
#endif

namespace zelvik::bench {

constexpr int kSensorWidth = 2592;
constexpr int kSensorHeight = 1944;
// The sensor's own rate at full resolution: 3508 x 1992 pixel clocks at 96 MHz.
constexpr double kSensorFramePeriodSeconds = 3508.0 * 1992.0 / 96e6;

// Waits for the next delivered frame; false on an error message or after 10 s.
inline bool NextFrame(ZELVIK_HWND queue) {
    ZelvikMessage m;
    while (ZelvikMsg_Get(queue, &m, 10000) == 1) {
        if (m.message != MSG_CAMERA_FRAME) continue;
        return m.lParam == 0;
    }
    return false;
}


// A line of the emulator's frame log (zelvik-emulator --frame-log).
struct ReadyFrame {
    uint64_t frame = 0;
    int64_t readyNs = 0;  // CLOCK_MONOTONIC
};

// The frames of one camera (numbered from 1) in the log, in the order they were read.
inline std::vector<ReadyFrame> ReadFrameLog(const std::string& path, int camera) {
    std::vector<ReadyFrame> frames;
    std::ifstream log(path);
    int which = 0;
    ReadyFrame f;
    while (log >> which >> f.frame >> f.readyNs) {
        if (which == camera) frames.push_back(f);
    }
    return frames;
}

// The logged frame a delivered counter-scene picture shows: the newest one ready by `receivedNs` whose
// number matches the picture's level (224 frames take 16 s at the sensor's rate, far longer than any
// frame stays on its way). Null when none matches.
inline const ReadyFrame* MatchFrame(const std::vector<ReadyFrame>& log, int level, int64_t receivedNs) {
    const int residue = emu::CounterSceneFrame(level);
    if (residue < 0) return nullptr;
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
        if (it->readyNs <= receivedNs && static_cast<int>(it->frame % 224) == residue) return &*it;
    }
    return nullptr;
}

// The frames of one camera between the first and the last delivered one: how many the camera finished
// (frame-period steps between their ready times), how many of them the host read, and how many reached
// the application. Skipped frames are finished - delivered: finished - read never left the camera (the
// read came after a newer frame was finished), read - delivered were replaced in the ring before the
// capture thread took them.
struct FrameAccount {
    int64_t finished = 0;
    int64_t read = 0;
    int64_t delivered = 0;
    int64_t Skipped() const { return finished - delivered; }
};

// delivered: the matched log entries of the delivered frames, in delivery order.
inline FrameAccount AccountFrames(const std::vector<ReadyFrame>& delivered, double periodSeconds) {
    FrameAccount account;
    if (delivered.empty()) return account;
    const ReadyFrame& first = delivered.front();
    const ReadyFrame& last = delivered.back();
    account.finished = std::llround(static_cast<double>(last.readyNs - first.readyNs) / (periodSeconds * 1e9)) + 1;
    account.read = static_cast<int64_t>(last.frame - first.frame) + 1;
    account.delivered = static_cast<int64_t>(delivered.size());
    return account;
}

// The p-th percentile (0..100) by nearest rank; 0 for no values.
inline double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// Unmounts the emulator at the end of a run: the program's exit status, 1 (the emulator's fault on stderr)
// when the emulator did not end cleanly.
inline int StopEmulator(test::FuseEmulator& emulator, const char* program) {
    const std::string fault = emulator.Stop();
    if (fault.empty()) return 0;
    std::fprintf(stderr, "%s: %s\n", program, fault.c_str());
    return 1;
}

// The camera of one run: a settings home of its own (XDG_CONFIG_HOME) in a scratch directory, and
// zelvik-emulator mounted as the library's system root (ZELVIK_ROOT). The emulator is unmounted before
// the scratch directory goes.
class EmulatorRun {
public:
    // scratchPrefix: the scratch directory's name before its random part.
    explicit EmulatorRun(const std::string& scratchPrefix) : scratch_(scratchPrefix) {
        ::setenv("XDG_CONFIG_HOME", scratch_.path().c_str(), 1);
    }

    const std::filesystem::path& Scratch() const { return scratch_.path(); }

    // Mounts the emulator with options (they may name files in Scratch()) and points the library at it.
    // Empty when it runs; otherwise why not, and FuseMissing() tells a machine without FUSE (nothing to
    // measure) from an emulator that failed.
    std::string Start(std::vector<std::string> options) {
        if (const std::string why = test::FuseEmulator::Unavailable(); !why.empty()) {
            fuseMissing_ = true;
            return "FUSE is not available here (" + why + ")";
        }
        emulator_.emplace(ZELVIK_EMULATOR_PATH, std::move(options));
        if (!emulator_->Ready()) return emulator_->Error();
        ::setenv("ZELVIK_ROOT", emulator_->Root().c_str(), 1);
        return std::string();
    }
    bool FuseMissing() const { return fuseMissing_; }

    // The emulator's process id (after a successful Start).
    pid_t Pid() const { return emulator_->Pid(); }
    // StopEmulator for this run's emulator (after a successful Start).
    int Stop(const char* program) { return StopEmulator(*emulator_, program); }

private:
    test::TempDir scratch_;
    std::optional<test::FuseEmulator> emulator_;
    bool fuseMissing_ = false;
};

}  // namespace zelvik::bench
