// Frame-path kernels at full sensor size (2592 x 1944), single-threaded, each next to the matching
// OpenCV operation when OpenCV is available; prints the ratio ours / OpenCV after the run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "imaging/Kernels.h"

#if ZELVIK_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace zelvik {
namespace {

constexpr int kWidth = 2592, kHeight = 1944;

// A lit, coloured scene seen through the mosaic (mode 0: G B / R G), with sensor noise and a few hot
// pixels, so that the hot-pixel screen meets what a camera delivers.
struct Scene {
    FrameBuffer raw8, raw16, rgb24, rgb32, rgb48, work24, preview24;
    CpuInfo cpu{};
    ImagingKernels kernels{};
    FilterContext* filters = nullptr;

    Scene() {
        DetectProcessor(&cpu);
        kernels = ChooseImagingKernels(cpu);
        filters = new FilterContext(kernels.filters);
        raw8.Create(kWidth, kHeight, 8);
        raw16.Create(kWidth, kHeight, 16);
        rgb24.Create(kWidth, kHeight, 24);
        rgb32.Create(kWidth, kHeight, 32);
        rgb48.Create(kWidth, kHeight, 48);
        work24.Create(kWidth, kHeight, 24);
        preview24.Create(kWidth / 2, kHeight / 2, 24);
        std::mt19937 rng(7);
        std::normal_distribution<double> noise(0.0, 3.0);
        std::uniform_int_distribution<int> hot(0, 9999);
        for (int r = 0; r < kHeight; ++r) {
            for (int x = 0; x < kWidth; ++x) {
                const int rp = r & 1, cp = x & 1;
                const double gain = rp == cp ? 1.0 : (rp == 0 ? 0.7 : 0.85);  // green, blue, red sites
                double v = gain * (110 + 70 * std::sin(x / 97.0) * std::cos(r / 61.0) + 30 * std::sin((x + r) / 23.0));
                v += noise(rng);
                if (hot(rng) == 0) v = 250;
                const int s = std::clamp(static_cast<int>(v), 0, 255);
                raw8.Bits()[static_cast<size_t>(r) * raw8.Stride() + x] = static_cast<uint8_t>(s);
                const uint16_t w = static_cast<uint16_t>(std::min(1023, s * 4 + (x & 3)));
                std::memcpy(raw16.Bits() + static_cast<size_t>(r) * raw16.Stride() + 2 * x, &w, 2);
            }
        }
        BayerParams p{0, 100, 100, 100};
        DemosaicPass(rgb24, raw8, p, kernels.demosaic);
        std::memcpy(work24.Bits(), rgb24.Bits(), size_t(rgb24.Stride()) * kHeight);
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

// "avx2 (fast16)": the vector form and the variant of a demosaic form.
std::string FormLabel(const DemosaicForm& form) {
    static const char* const kVariants[] = {"portable", "fast8", "fast16"};
    return std::string(VectorFormName(FormOf(*form.rows))) + " (" + kVariants[static_cast<int>(form.variant)] + ")";
}

#if ZELVIK_BENCH_OPENCV
cv::Mat View(FrameBuffer& b, int type) { return cv::Mat(b.Height(), b.Width(), type, b.Bits(), b.Stride()); }
#endif

// ---- Demosaic ------------------------------------------------------------------------------------------

void BM_Demosaic8To24(benchmark::State& state) {
    Scene& s = TheScene();
    const BayerParams p{0, 100, 100, 100};
    for (auto _ : state) DemosaicPass(s.rgb24, s.raw8, p, s.kernels.demosaic);
    state.SetLabel(FormLabel(SelectDemosaicInterior(s.kernels.demosaic, 24, p)));
}
BENCHMARK(BM_Demosaic8To24)->Unit(benchmark::kMillisecond);

void BM_Demosaic8To32(benchmark::State& state) {
    Scene& s = TheScene();
    const BayerParams p{0, 100, 100, 100};
    for (auto _ : state) DemosaicPass(s.rgb32, s.raw8, p, s.kernels.demosaic);
    state.SetLabel(FormLabel(SelectDemosaicInterior(s.kernels.demosaic, 32, p)));
}
BENCHMARK(BM_Demosaic8To32)->Unit(benchmark::kMillisecond);

void BM_Demosaic16To48(benchmark::State& state) {
    Scene& s = TheScene();
    const BayerParams p{0, 100, 100, 100};
    for (auto _ : state) DemosaicPass(s.rgb48, s.raw16, p, s.kernels.demosaic);
    state.SetLabel(FormLabel(s.kernels.demosaic.interior));
}
BENCHMARK(BM_Demosaic16To48)->Unit(benchmark::kMillisecond);

// Hot-pixel correction then demosaic, as the frame path runs them; the raw frame is restored between
// iterations outside the timing so that every pass meets the same hot pixels.
void BM_HotPixelsAndDemosaic8To24(benchmark::State& state) {
    Scene& s = TheScene();
    const BayerParams p{0, 100, 100, 100};
    const int32_t threshold = 40;
    std::vector<uint8_t> pristine(s.raw8.Bits(), s.raw8.Bits() + size_t(s.raw8.Stride()) * kHeight);
    int replaced = 0;
    for (auto _ : state) {
        replaced = s.raw8.Apply(CorrectHotPixels, s.raw8, nullptr, 0, 0, p, threshold, *s.kernels.hotPixels);
        DemosaicPass(s.rgb24, s.raw8, p, s.kernels.demosaic);
        state.PauseTiming();
        std::memcpy(s.raw8.Bits(), pristine.data(), pristine.size());
        state.ResumeTiming();
    }
    state.SetLabel(std::string(VectorFormName(s.kernels.hotPixels->form)) + ", " + std::to_string(replaced) + " replaced");
}
BENCHMARK(BM_HotPixelsAndDemosaic8To24)->Unit(benchmark::kMillisecond);

void BM_HotPixels(benchmark::State& state) {
    Scene& s = TheScene();
    const BayerParams p{0, 100, 100, 100};
    const int32_t threshold = 40;
    std::vector<uint8_t> pristine(s.raw8.Bits(), s.raw8.Bits() + size_t(s.raw8.Stride()) * kHeight);
    for (auto _ : state) {
        s.raw8.Apply(CorrectHotPixels, s.raw8, nullptr, 0, 0, p, threshold, *s.kernels.hotPixels);
        state.PauseTiming();
        std::memcpy(s.raw8.Bits(), pristine.data(), pristine.size());
        state.ResumeTiming();
    }
}
BENCHMARK(BM_HotPixels)->Unit(benchmark::kMillisecond);

#if ZELVIK_BENCH_OPENCV
void BM_OpenCV_Demosaic8To24(benchmark::State& state) {
    Scene& s = TheScene();
    cv::Mat raw = View(s.raw8, CV_8UC1), out = View(s.rgb24, CV_8UC3);
    for (auto _ : state) cv::cvtColor(raw, out, cv::COLOR_BayerGB2BGR);
}
BENCHMARK(BM_OpenCV_Demosaic8To24)->Unit(benchmark::kMillisecond);

void BM_OpenCV_Demosaic8To32(benchmark::State& state) {
    Scene& s = TheScene();
    cv::Mat raw = View(s.raw8, CV_8UC1), out = View(s.rgb32, CV_8UC4);
    for (auto _ : state) cv::cvtColor(raw, out, cv::COLOR_BayerGB2BGRA);
}
BENCHMARK(BM_OpenCV_Demosaic8To32)->Unit(benchmark::kMillisecond);

void BM_OpenCV_Demosaic16To48(benchmark::State& state) {
    Scene& s = TheScene();
    cv::Mat raw = View(s.raw16, CV_16UC1), out = View(s.rgb48, CV_16UC3);
    for (auto _ : state) cv::cvtColor(raw, out, cv::COLOR_BayerGB2BGR);
}
BENCHMARK(BM_OpenCV_Demosaic16To48)->Unit(benchmark::kMillisecond);
#endif

// ---- Filters on the 24-bit frame, in place ---------------------------------------------------------

template <FilterKernel kKernel>
void LutFilter(benchmark::State& state, int32_t setting) {
    Scene& s = TheScene();
    const FilterTarget target{FilterSamples::kColor8, s.filters};
    for (auto _ : state) s.rgb24.Apply(kKernel, s.rgb24, nullptr, 0, 0, setting, target);
    state.SetLabel(VectorFormName(s.filters->Forms().lut->form));
}
void BM_Gamma24(benchmark::State& state) { LutFilter<Gamma>(state, 70); }
void BM_Contrast24(benchmark::State& state) { LutFilter<Contrast>(state, 20); }
void BM_Brightness24(benchmark::State& state) { LutFilter<Brightness>(state, 10); }
BENCHMARK(BM_Gamma24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Brightness24)->Unit(benchmark::kMillisecond);

void BM_Sharpen24(benchmark::State& state) {
    Scene& s = TheScene();
    const FilterTarget target{FilterSamples::kColor8, s.filters};
    for (auto _ : state) s.rgb24.Apply(Sharpen, s.work24, nullptr, 0, 0, 20, target);
    state.SetLabel(VectorFormName(s.filters->Forms().sharpen->form));
}
BENCHMARK(BM_Sharpen24)->Unit(benchmark::kMillisecond);

void BM_HueSaturation24(benchmark::State& state) {
    Scene& s = TheScene();
    const HueSaturationParams params{30, 0, 40, 10};
    const FilterTarget target{FilterSamples::kColor8, s.filters};
    for (auto _ : state) s.rgb24.Apply(HueSaturation, s.rgb24, nullptr, 0, 0, params, target);
}
BENCHMARK(BM_HueSaturation24)->Unit(benchmark::kMillisecond);

void BM_ScaleNearest24(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) s.preview24.ApplyScaled(ScaleNearest24, s.work24, nullptr, nullptr);
}
BENCHMARK(BM_ScaleNearest24)->Unit(benchmark::kMillisecond);

#if ZELVIK_BENCH_OPENCV
void OpenCvLut(benchmark::State& state, const uint8_t* table) {
    Scene& s = TheScene();
    cv::Mat img = View(s.rgb24, CV_8UC3);
    cv::Mat lut(1, 256, CV_8UC1);
    std::memcpy(lut.data, table, 256);
    for (auto _ : state) cv::LUT(img, lut, img);
}
void BM_OpenCV_Gamma24(benchmark::State& state) { OpenCvLut(state, FilterContext().Gamma8(70)); }
void BM_OpenCV_Contrast24(benchmark::State& state) { OpenCvLut(state, FilterContext().Contrast8(20)); }
void BM_OpenCV_Brightness24(benchmark::State& state) {
    uint16_t wide[256];
    BuildBrightnessTable(10, 255, wide);
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(wide[i]);
    OpenCvLut(state, table);
}
BENCHMARK(BM_OpenCV_Gamma24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCV_Contrast24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCV_Brightness24)->Unit(benchmark::kMillisecond);

void BM_OpenCV_Sharpen24(benchmark::State& state) {
    Scene& s = TheScene();
    cv::Mat work = View(s.work24, CV_8UC3), out = View(s.rgb24, CV_8UC3), blurred;
    const double amount = 20 / 10.0;
    for (auto _ : state) {
        cv::blur(work, blurred, cv::Size(4, 4));
        cv::addWeighted(work, 1.0 + amount, blurred, -amount, 0.0, out);
    }
}
BENCHMARK(BM_OpenCV_Sharpen24)->Unit(benchmark::kMillisecond);

void BM_OpenCV_ScaleNearest24(benchmark::State& state) {
    Scene& s = TheScene();
    cv::Mat work = View(s.work24, CV_8UC3), out = View(s.preview24, CV_8UC3);
    for (auto _ : state) cv::resize(work, out, out.size(), 0, 0, cv::INTER_NEAREST);
}
BENCHMARK(BM_OpenCV_ScaleNearest24)->Unit(benchmark::kMillisecond);
#endif

// Keeps each benchmark's CPU time per iteration (the median when repeated) and prints ours / OpenCV
// after the console report. CPU time, because on a shared machine the wall clock also counts the time
// the single benchmark thread spent preempted.
class RatioReporter : public benchmark::ConsoleReporter {
public:
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
    void PrintRatios() const {
        struct Pair {
            const char *ours, *theirs, *what;
        } pairs[] = {
            {"BM_Demosaic8To24", "BM_OpenCV_Demosaic8To24", "demosaic 8 -> 24 vs cvtColor Bayer->BGR"},
            {"BM_Demosaic8To32", "BM_OpenCV_Demosaic8To32", "demosaic 8 -> 32 vs cvtColor Bayer->BGRA"},
            {"BM_Demosaic16To48", "BM_OpenCV_Demosaic16To48", "demosaic 16 -> 48 vs cvtColor Bayer->BGR 16u"},
            {"BM_HotPixelsAndDemosaic8To24", "BM_OpenCV_Demosaic8To24", "hot pixels + demosaic vs cvtColor alone"},
            {"BM_Gamma24", "BM_OpenCV_Gamma24", "gamma vs LUT"},
            {"BM_Contrast24", "BM_OpenCV_Contrast24", "contrast vs LUT"},
            {"BM_Brightness24", "BM_OpenCV_Brightness24", "brightness vs LUT"},
            {"BM_Sharpen24", "BM_OpenCV_Sharpen24", "sharpness vs blur 4x4 + addWeighted"},
            {"BM_ScaleNearest24", "BM_OpenCV_ScaleNearest24", "nearest 2592x1944 -> 1296x972 vs resize"},
        };
        std::printf("\nratio ours / OpenCV (single thread, %d x %d, CPU time, medians when repeated):\n", kWidth, kHeight);
        for (const Pair& p : pairs) {
            auto a = times_.find(p.ours), b = times_.find(p.theirs);
            if (a == times_.end() || b == times_.end()) continue;
            std::printf("  %-48s %8.3f ms / %8.3f ms = %.2f\n", p.what, a->second, b->second, a->second / b->second);
        }
    }

private:
    std::map<std::string, double> times_;
    std::map<std::string, bool> medians_;
};

}  // namespace
}  // namespace zelvik

int main(int argc, char** argv) {
#if ZELVIK_BENCH_OPENCV
    cv::setNumThreads(1);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    zelvik::Scene& scene = zelvik::TheScene();
    std::printf("kernels: %s\n", zelvik::DescribeKernelForms(scene.kernels).c_str());
    zelvik::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
