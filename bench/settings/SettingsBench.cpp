// Loading and saving a settings file of growing size: the cost must grow in step with the file.
//
// Run: settings_bench [Google Benchmark flags]. The file holds the library's own keys (a size list of 100
// entries, analog, filter and gray keys) plus N sections of another program, 64 KiB to the 1 MiB limit.
// Load = the size list load (the operation that opens the most keys); save = one analog save. Time per
// byte should stay flat from the smallest file to the largest.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "settings/Persistence.h"
#include "settings/Store.h"

namespace {

namespace fs = std::filesystem;

// A private settings home holding a file of about `bytes` bytes.
class StoreOfSize {
public:
    explicit StoreOfSize(size_t bytes) {
        char pattern[] = "/tmp/zelvik-settings-bench-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        zelvik::SizeListData list;
        list.count = zelvik::kMaxStoredSizes;
        zelvik::SaveSizeList(list);
        std::string text;
        {
            std::ifstream in(zelvik::SettingsFilePath());
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        for (int i = 0; text.size() < bytes - 64; ++i)
            text += "\n[Software\\Other\\Program\\Key" + std::to_string(i) + "]\nValue=" + std::to_string(i) + "\n";
        std::ofstream(zelvik::SettingsFilePath(), std::ios::trunc) << text;
        size_ = text.size();
    }
    ~StoreOfSize() { fs::remove_all(dir_); }
    size_t Size() const { return size_; }

private:
    fs::path dir_;
    size_t size_ = 0;
};

void Load(benchmark::State& state) {
    StoreOfSize store(static_cast<size_t>(state.range(0)) << 10);
    zelvik::SizeListData list;
    for (auto _ : state) benchmark::DoNotOptimize(zelvik::LoadSizeList(list));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * store.Size()));
    state.counters["entries"] = list.count;
}
BENCHMARK(Load)->Arg(64)->Arg(256)->Arg(512)->Arg(1020)->Unit(benchmark::kMillisecond);

void Save(benchmark::State& state) {
    StoreOfSize store(static_cast<size_t>(state.range(0)) << 10);
    int value = 0;
    for (auto _ : state) {
        zelvik::SettingsKey key;
        key.Create(std::string(zelvik::kSettingsRootKey) + "\\Gain_00");
        key.Set("Exposure", ++value);
        benchmark::DoNotOptimize(key.Close());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * store.Size()));
}
BENCHMARK(Save)->Arg(64)->Arg(256)->Arg(512)->Arg(1020)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
