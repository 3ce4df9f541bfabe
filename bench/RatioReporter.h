// A console reporter that keeps each benchmark's CPU time per iteration (the median when repeated) and
// prints the ratios of named pairs after the run. CPU time, because on a shared machine the wall clock
// also counts the time the single benchmark thread spent preempted.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace zelvik {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Pair {
        const char* ours;
        const char* theirs;
        const char* what;
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times_[name] = run.GetAdjustedCPUTime();
                medians_[name] = true;
            } else if (run.run_type == Run::RT_Iteration && !medians_[name]) {
                times_[name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Prints the title, then "what: ours / theirs = ratio" for every pair whose two benchmarks ran.
    void PrintRatios(const char* title, const std::vector<Pair>& pairs) const {
        std::printf("\n%s\n", title);
        for (const Pair& p : pairs) {
            auto a = times_.find(p.ours), b = times_.find(p.theirs);
            if (a == times_.end() || b == times_.end()) continue;
            std::printf("  %-48s %9.3f ms / %9.3f ms = %.3f\n", p.what, a->second, b->second, a->second / b->second);
        }
    }

private:
    std::map<std::string, double> times_;
    std::map<std::string, bool> medians_;
};

}  // namespace zelvik
