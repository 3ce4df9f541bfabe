// The 24-bit frame path's steps timed alone on one full frame, each as the capture thread runs it:
// hot pixels, the demosaic, the whole frame path (automatic exposure, hot pixels, demosaic, filters) and
// the copy-out into an application buffer. Times are CPU time of the calling thread per frame (ms),
// medians over the repetitions; the steps take turns within each repetition, so the machine's other
// load weighs on all of them alike.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/CpuTime.h"
#include "capture/CaptureBuffers.h"
#include "capture/FramePath.h"
#include "imaging/Kernels.h"
#include "instance/CameraInstance.h"
#include "settings/Persistence.h"

namespace zelvik::bench {

// Colour mode 2: 24 bits per pixel.
constexpr int kMode24 = 2;

struct StepTimes {
    double hotPixels = 0;
    double demosaic = 0;
    double framePath = 0;  // FramePath::Process as a whole
    // What the frame path does besides hot pixels and demosaic (automatic exposure, filters): the median
    // of the per-repetition differences.
    double framePathRest = 0;
    double copyOut = 0;
    // What the goals call the frame path's own work: hot pixels + demosaic + copy-out.
    double Kernels() const { return hotPixels + demosaic + copyOut; }
};

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// mosaic: a frame as the camera delivered it (width x height bytes, packed). The settings are those a
// handle loads (the stored ones of the first camera, else the defaults: automatic exposure off, neutral
// filters), as in the streaming benchmarks. The application's buffer keeps the row order (one copy), as
// the benchmarks ask for it.
inline StepTimes TimeStepsAlone(const std::vector<uint8_t>& mosaic, int width, int height, int repetitions) {
    CameraInstance camera;
    LoadImageFilter(camera.Settings());
    LoadGrayFilter(camera.Settings());
    LoadAnalog(camera.Settings(), 0);
    FramePath path(camera);
    CaptureBuffers buffers;
    FrameBuffer raw;
    if (!path.Prepare() || !buffers.Build(kMode24, width, height) || raw.Create(width, height, 8) == 0 ||
        raw.Stride() != static_cast<uint32_t>(width) || mosaic.size() < static_cast<size_t>(width) * height) {
        return {};
    }
    CpuInfo cpu{};
    DetectProcessor(&cpu);
    const ImagingKernels kernels = ChooseImagingKernels(cpu);
    const ImageSettings& s = camera.Settings().imageSettings;
    const BayerParams params{s[kBayerMode], s[kBayerGainRed], s[kBayerGainGreen], s[kBayerGainBlue]};
    FrameBuffer& output = buffers.OutputOf(kMode24);
    const size_t outputBytes = static_cast<size_t>(output.Stride()) * static_cast<size_t>(output.Height());
    std::vector<uint8_t> application(outputBytes);
    auto restore = [&] { std::memcpy(raw.Bits(), mosaic.data(), static_cast<size_t>(width) * height); };
    auto timed = [](auto&& step) {
        const double start = ThreadCpuSeconds();
        step();
        return 1000.0 * (ThreadCpuSeconds() - start);
    };
    std::vector<double> hot, demosaic, whole, rest, copy;
    for (int i = 0; i < repetitions; ++i) {
        restore();
        hot.push_back(timed([&] { raw.Apply(CorrectHotPixels, raw, nullptr, 0, 0, params, int32_t{40}, *kernels.hotPixels); }));
        restore();
        demosaic.push_back(timed([&] { DemosaicPass(output, raw, params, kernels.demosaic); }));
        restore();
        whole.push_back(timed([&] { path.Process(buffers, raw, kMode24); }));
        rest.push_back(whole.back() - hot.back() - demosaic.back());
        copy.push_back(timed([&] { std::memcpy(application.data(), output.Bits(), outputBytes); }));
    }
    return {Median(hot), Median(demosaic), Median(whole), Median(rest), Median(copy)};
}

}  // namespace zelvik::bench
