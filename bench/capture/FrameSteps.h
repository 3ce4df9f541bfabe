// The 24- or 48-bit frame path's steps timed alone on one full frame, each as the capture thread runs it:
// hot pixels, the demosaic (at 48 bits with the widening to 10-bit samples before it), the whole frame
// path (automatic exposure, hot pixels, demosaic, filters) and the copy-out into an application buffer. Times are CPU time of the calling thread per frame (ms),
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

// Colour modes 2 and 4: 24 and 48 bits per pixel.
constexpr int kMode24 = 2;
constexpr int kMode48 = 4;

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

// The steps of one full frame, each timed alone, one repetition per Run() call, so that a benchmark can
// spread the repetitions over a streaming run (between two frames) and have the machine's load weigh on
// both alike.
//
// mosaic: a frame as the camera delivered it (width x height bytes, packed). The settings are those a
// handle loads (the stored ones of the first camera, else the defaults: automatic exposure off, neutral
// filters), as in the streaming benchmarks. The application's buffer keeps the row order (one copy), as
// the benchmarks ask for it.
//
// cold: every step starts with the frame and the buffers out of the processor's caches (64 MiB written
// elsewhere first, outside the timing); otherwise the steps find what the previous one left there.
class FrameSteps {
public:
    FrameSteps(const std::vector<uint8_t>& mosaic, int width, int height, bool cold = false, int mode = kMode24)
        : mosaic_(mosaic), elsewhere_(cold ? size_t{64} << 20 : 0), mode_(mode) {
        LoadImageFilter(camera_.Settings());
        LoadGrayFilter(camera_.Settings());
        LoadAnalog(camera_.Settings(), 0);
        ready_ = path_.Prepare() && buffers_.Build(mode_, width, height) && raw_.Create(width, height, 8) != 0 &&
                 raw_.Stride() == static_cast<uint32_t>(width) && mosaic.size() >= static_cast<size_t>(width) * height;
        if (!ready_) return;
        CpuInfo cpu{};
        DetectProcessor(&cpu);
        kernels_ = ChooseImagingKernels(cpu);
        const ImageSettings& s = camera_.Settings().imageSettings;
        params_ = {s[kBayerMode], s[kBayerGainRed], s[kBayerGainGreen], s[kBayerGainBlue]};
        FrameBuffer& output = buffers_.OutputOf(mode_);
        application_.resize(static_cast<size_t>(output.Stride()) * static_cast<size_t>(output.Height()));
    }

    bool Ready() const { return ready_; }

    // One repetition of every step.
    void Run() {
        if (!ready_) return;
        FrameBuffer& output = buffers_.OutputOf(mode_);
        Restore();
        hot_.push_back(Timed([&] { raw_.Apply(CorrectHotPixels, raw_, nullptr, 0, 0, params_, int32_t{40}, *kernels_.hotPixels); }));
        Restore();
        demosaic_.push_back(Timed([&] {
            if (mode_ != kMode48) {
                DemosaicPass(output, raw_, params_, kernels_.demosaic);
                return;
            }
            FrameBuffer& raw16 = buffers_.Raw16();
            for (int r = 0; r < raw_.Height(); ++r) {
                const uint8_t* in = raw_.Bits() + static_cast<size_t>(r) * raw_.Stride();
                auto* out = reinterpret_cast<uint16_t*>(raw16.Bits() + static_cast<size_t>(r) * raw16.Stride());
                for (int c = 0; c < raw_.Width(); ++c) out[c] = static_cast<uint16_t>(in[c] << 2);
            }
            DemosaicPass(output, raw16, params_, kernels_.demosaic);
        }));
        Restore();
        whole_.push_back(Timed([&] { path_.Process(buffers_, raw_, mode_); }));
        rest_.push_back(whole_.back() - hot_.back() - demosaic_.back());
        copy_.push_back(Timed([&] { std::memcpy(application_.data(), output.Bits(), application_.size()); }));
    }

    // Hot pixels + demosaic + copy-out of the last repetition.
    double LastKernels() const { return hot_.empty() ? 0 : hot_.back() + demosaic_.back() + copy_.back(); }

    // Medians of the repetitions so far.
    StepTimes Times() const { return {Median(hot_), Median(demosaic_), Median(whole_), Median(rest_), Median(copy_)}; }

private:
    void Restore() { std::memcpy(raw_.Bits(), mosaic_.data(), static_cast<size_t>(raw_.Width()) * raw_.Height()); }

    template <typename Step>
    double Timed(Step&& step) {
        if (!elsewhere_.empty()) {
            std::memset(elsewhere_.data(), elsewhere_[0] + 1, elsewhere_.size());
            asm volatile("" : : "r"(elsewhere_.data()) : "memory");
        }
        const double start = ThreadCpuSeconds();
        step();
        return 1000.0 * (ThreadCpuSeconds() - start);
    }

    const std::vector<uint8_t>& mosaic_;
    std::vector<uint8_t> elsewhere_;
    CameraInstance camera_;
    FramePath path_{camera_};
    CaptureBuffers buffers_;
    FrameBuffer raw_;
    ImagingKernels kernels_{};
    BayerParams params_{};
    std::vector<uint8_t> application_;
    int mode_ = kMode24;
    bool ready_ = false;
    std::vector<double> hot_, demosaic_, whole_, rest_, copy_;
};

// All repetitions back to back.
inline StepTimes TimeStepsAlone(const std::vector<uint8_t>& mosaic, int width, int height, int repetitions,
                                bool cold = false, int mode = kMode24) {
    FrameSteps steps(mosaic, width, height, cold, mode);
    for (int i = 0; i < repetitions; ++i) steps.Run();
    return steps.Times();
}

}  // namespace zelvik::bench
