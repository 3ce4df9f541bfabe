// CPU time of a process or of the calling thread, for the benchmarks' per-frame CPU figures.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace zelvik::bench {

// User and system CPU seconds read from a /proc stat file (a process's or a thread's), to the clock tick.
struct CpuSplit {
    double user = 0;
    double system = 0;
    double Total() const { return user + system; }
};

inline CpuSplit StatCpu(const std::string& statPath) {
    std::ifstream stat(statPath);
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');  // the command name may hold spaces
    if (end == std::string::npos) return {};
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    const auto tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    return {static_cast<double>(utime) / tick, static_cast<double>(stime) / tick};
}

// User and system CPU seconds of a process (all its threads); 0 for this process (then to the
// microsecond, from getrusage; another process's to the clock tick, from /proc).
inline double ProcessCpuSeconds(pid_t pid = 0) {
    if (pid <= 0) {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
        return seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
    return StatCpu("/proc/" + std::to_string(pid) + "/stat").Total();
}

// Seconds the threads of a process (0: this one) spent runnable but waiting for a CPU, summed over the
// threads alive now (schedstat's second field): how much the machine's other load held them up.
inline double RunQueueWaitSeconds(pid_t pid = 0) {
    const std::string tasks = "/proc/" + (pid > 0 ? std::to_string(pid) : std::string("self")) + "/task";
    double total = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(tasks, ec)) {
        std::ifstream schedstat(entry.path() / "schedstat");
        double running = 0, waiting = 0;
        if (schedstat >> running >> waiting) total += waiting / 1e9;
    }
    return total;
}

// CPU seconds of the calling thread, at the clock's full resolution (for timing one step alone).
inline double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// CLOCK_MONOTONIC in nanoseconds: the clock of the emulator's frame log and of ZelvikFrame_ArrivalTime.
inline int64_t MonotonicNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace zelvik::bench
