// The frame path: automatic exposure/gain, hot pixels, widening, gray modes, demosaic with white balance
// and the filters, in this fixed order, on the buffers of one colour mode.
#include "capture/FramePath.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <new>

#include "device/CameraDevice.h"
#include "device/Sensor.h"
#include "imaging/Kernels.h"
#include "instance/CameraInstance.h"

namespace zelvik {
namespace {

constexpr int32_t kHotPixelThreshold = 40;
constexpr int32_t kMaxWhiteBalanceGain = 200;
constexpr int kAutoIrisByExposure = 1;
constexpr int kAutoIrisByGain = 2;
constexpr int kGainFloor = 4;
constexpr int kExposureFloor = 4;
constexpr int kExposureCeiling = 8192;

// The five metering regions as fractions of the frame (left, top, right, bottom), in Apply coordinates.
constexpr double kIrisRegions[5][4] = {
    {0.1, 0.1, 0.2, 0.2}, {0.1, 0.8, 0.2, 0.9}, {0.45, 0.45, 0.55, 0.55},
    {0.8, 0.1, 0.9, 0.2}, {0.8, 0.8, 0.9, 0.9},
};

// Starting factor from the first region's level, then one correction per other region. The factor is
// summed in single precision: its steps then add up to the tenths the rules are written in (0.85 - 4 x 0.15
// gives 0.25 and 1000 becomes 250, where double precision gives 0.2499999... and 249).
float IrisBase(int level) {
    if (level > 200) return 0.85f;
    if (level > 160) return 0.9f;
    if (level >= 100) return 1.0f;
    if (level >= 50) return 1.05f;
    return 1.1f;
}
float IrisCorrection(int level) {
    if (level > 200) return -0.15f;
    if (level > 160) return -0.1f;
    if (level >= 100) return 0.0f;
    if (level >= 50) return 0.05f;
    return 0.1f;
}

int32_t Scaled(int32_t value, float factor) {
    return static_cast<int32_t>(std::trunc(static_cast<double>(value) * factor));
}

BayerParams CurrentBayerParams(const ImageSettings& s) {
    return {s[kBayerMode], s[kBayerGainRed], s[kBayerGainGreen], s[kBayerGainBlue]};
}

// This camera delivers 8-bit samples; the 16-bit modes carry 10-bit samples (0..1023). A sample b becomes
// b << 2, so 0..255 spans 0..1020, the demosaic's 10-bit limits and the filters' 1023-entry tables apply
// as for a 10-bit sensor, and narrowing for display ((v >> 2) & 0xFF) gives back exactly b.
void WidenTo10Bits(const FrameBuffer& raw8, FrameBuffer& raw16) {
    const int width = std::min(raw8.Width(), raw16.Width());
    const int height = std::min(raw8.Height(), raw16.Height());
    for (int r = 0; r < height; ++r) {
        const uint8_t* in = raw8.Bits() + static_cast<size_t>(r) * raw8.Stride();
        uint8_t* out = raw16.Bits() + static_cast<size_t>(r) * raw16.Stride();
        for (int c = 0; c < width; ++c) {
            const uint16_t sample = static_cast<uint16_t>(in[c] << 2);
            std::memcpy(out + 2 * static_cast<size_t>(c), &sample, sizeof sample);  // little-endian words
        }
    }
}

// The samples of a colour mode's output: gray or colour, 8 or 16 bits.
FilterSamples SamplesOf(const ColorModeInfo& mode) {
    if (mode.color) return mode.Wide() ? FilterSamples::kColor16 : FilterSamples::kColor8;
    return mode.Wide() ? FilterSamples::kGray16 : FilterSamples::kGray8;
}

}  // namespace

FramePath::FramePath(CameraInstance& camera) : camera_(camera) { DetectProcessor(&cpu_); }

FramePath::~FramePath() = default;

bool FramePath::Prepare() {
    kernels_ = ChooseImagingKernels(cpu_);
    if (filterContext_) return true;
    try {
        filterContext_ = std::make_unique<FilterContext>(kernels_.filters);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void FramePath::CorrectHotPixels(FrameBuffer& raw8) {
    BayerParams params = CurrentBayerParams(camera_.Settings().imageSettings);
    int32_t threshold = kHotPixelThreshold;
    raw8.Apply(zelvik::CorrectHotPixels, raw8, nullptr, 0, 0, params, threshold, *kernels_.hotPixels);
}

// The demosaic pass with automatic white balance: while slot 25 is set every frame is measured first and
// its gains used at once; the one-shot state (25, 26, 27 all set) ends after this measurement.
void FramePath::DemosaicWithWhiteBalance(FrameBuffer& destination, FrameBuffer& raw) {
    auto& s = camera_.Settings().imageSettings;
    if (s[kAutoBayerGain] != 0) {
        WhiteBalanceResult measured{0, 0, 0, s[kBayerMode]};
        raw.Apply(raw.BitsPerPixel() == 16 ? MeasureWhiteBalance16 : MeasureWhiteBalance8, raw, nullptr, 0, 0,
                  measured);
        s[kBayerGainRed] = std::min(measured.red, kMaxWhiteBalanceGain);
        s[kBayerGainGreen] = std::min(measured.green, kMaxWhiteBalanceGain);
        s[kBayerGainBlue] = std::min(measured.blue, kMaxWhiteBalanceGain);
        // An open image dialog shows the measured gains; told before the one-shot state ends, so whoever
        // sees it end knows the dialog has been told.
        camera_.Dialogs().ImageSettingsChanged();
        if (s[kAutoBayerGain] != 0 && s[kOneShot1] != 0 && s[kOneShot2] != 0)
            s[kAutoBayerGain] = s[kOneShot1] = s[kOneShot2] = 0;
    }
    DemosaicPass(destination, raw, CurrentBayerParams(s), kernels_.demosaic);
}

// The 8-bit gray mosaic: gray mode 1 balances the four mosaic sites (measuring them while the countdown runs),
// gray mode 2 turns the demosaiced colour picture back into gray.
void FramePath::GrayModeStep(CaptureBuffers& buffers, FrameBuffer& raw8) {
    auto& s = camera_.Settings().imageSettings;
    if (s[kGrayMode] == 1) {
        SiteGainParams block{s[kBayerMode],    s[kGrayGainR],    s[kGrayGainG1],
                             s[kGrayGainG2],   s[kGrayGainB],    s[kGrayOffsetR],
                             s[kGrayOffsetG1], s[kGrayOffsetG2], s[kGrayOffsetB]};
        if (s[kGrayAutoCountdown] != 0) {
            raw8.Apply(MeasureSiteLevels, raw8, nullptr, 0, 0, block);
            s[kGrayGainR] = block.gain01;
            s[kGrayGainG1] = block.gain00;
            s[kGrayGainG2] = block.gain11;
            s[kGrayGainB] = block.gain10;
            camera_.Dialogs().ImageSettingsChanged();
            --s[kGrayAutoCountdown];
        }
        if (!SiteGainsNeutral(block))
            raw8.Apply(kernels_.siteGains, raw8, nullptr, 0, 0, block);
    } else if (s[kGrayMode] == 2) {
        DemosaicWithWhiteBalance(buffers.Rgb24(), raw8);
        raw8.Apply(BgrToGray8, buffers.Rgb24(), nullptr, 0, 0);
    }
}

void FramePath::ApplyFilters(FrameBuffer& output, FrameBuffer& work, const ColorModeInfo& mode) {
    const auto& s = camera_.Settings().imageSettings;
    const FilterTarget target{SamplesOf(mode), filterContext_.get()};
    if (mode.color && (s[kHue] != 0 || s[kSaturation] != 0)) {
        HueSaturationParams params{s[kHue], 0, s[kSaturation], 10};
        output.Apply(HueSaturation, output, nullptr, 0, 0, params, target);
    }
    if (s[kGamma] != 100) output.Apply(Gamma, output, nullptr, 0, 0, s[kGamma], target);
    if (s[kContrast] != 0) output.Apply(Contrast, output, nullptr, 0, 0, s[kContrast], target);
    if (s[kSharpness] != 0) {
        // The blur reads the unsharpened picture.
        std::memcpy(work.Bits(), output.Bits(), static_cast<size_t>(output.Stride()) * output.Height());
        output.Apply(Sharpen, work, nullptr, 0, 0, s[kSharpness], target);
    }
    if (s[kBrightness] != 0) output.Apply(Brightness, output, nullptr, 0, 0, s[kBrightness], target);
}

int FramePath::AutoIris(FrameBuffer* raw) {
    auto& analog = camera_.Settings().analogSettings;
    const int mode = analog[kAutoIris];
    if (mode != kAutoIrisByExposure && mode != kAutoIrisByGain) {
        camera_.reportError(kErrAutoIrisOff);
        return 0;
    }
    if (raw == nullptr || raw->Bits() == nullptr || !camera_.HasDevice()) {
        camera_.reportError(kErrArgument);
        return 0;
    }
    const FrameKernelOf<> mean = raw->BitsPerPixel() == 16 ? RegionMean16 : RegionMean8;
    const double width = raw->Width();
    const double height = raw->Height();
    float factor = 0;
    for (int i = 0; i < 5; ++i) {
        const double* f = kIrisRegions[i];
        Rect region{static_cast<int32_t>(f[0] * width), static_cast<int32_t>(f[1] * height),
                    static_cast<int32_t>(f[2] * width), static_cast<int32_t>(f[3] * height)};
        const int level = raw->Apply(mean, *raw, &region, region.left, region.top);
        factor = i == 0 ? IrisBase(level) : factor + IrisCorrection(level);
    }
    if (factor > 0.6f && factor < 1.2f) return 1;

    if (mode == kAutoIrisByGain) {
        const int32_t global = analog[kGlobalGain];
        const int32_t current = global != 0 ? global : kGainFloor;
        int32_t gain = Scaled(current, factor);
        gain = factor > 1 && gain <= kGainFloor ? kGainFloor : std::clamp(gain, 0, sensor::kGainMax);
        camera_.Device().SetGlobalGain(gain);
        SetGlobalGainSlots(analog, gain);
        camera_.Dialogs().AutoIrisWrote(kGlobalGainEdit, gain);
        return 1;
    }
    int32_t exposure = static_cast<uint16_t>(Scaled(analog[kExposure], factor));
    if (factor < 1 && exposure <= kExposureFloor) {
        exposure = kExposureFloor;
    } else if (factor > 1 && exposure >= kExposureCeiling) {
        exposure = kExposureCeiling;
    } else if (exposure == 0) {
        exposure = 1;
    }
    camera_.Device().SetExposure(exposure);
    analog[kExposure] = exposure;
    camera_.Dialogs().AutoIrisWrote(kExposureEdit, exposure);
    return 1;
}

void FramePath::Process(CaptureBuffers& buffers, FrameBuffer& mosaic, int mode) {
    const ColorModeInfo* info = FindColorMode(mode);
    if (!info) return;
    // The camera's 8-bit frame is measured and corrected before any widening: the 10-bit form carries
    // the same levels, and the hot-pixel rule is defined on 8-bit samples.
    AutoIris(&mosaic);
    CorrectHotPixels(mosaic);
    if (info->Wide()) WidenTo10Bits(mosaic, buffers.Raw16());

    FrameBuffer& output = buffers.OutputOf(mode);
    if (info->HasGrayModes()) {
        GrayModeStep(buffers, mosaic);
    } else if (info->color) {
        DemosaicWithWhiteBalance(output, info->Wide() ? buffers.Raw16() : mosaic);
    }
    ApplyFilters(output, buffers.Work(), *info);
}

}  // namespace zelvik
