// The frame path: automatic exposure/gain, hot pixels, widening, gray modes, demosaic with white balance
// and the filters, in this fixed order, on the buffers of one colour mode.
#include "capture/FramePath.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <new>

#include <unistd.h>

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
void WidenTo10Bits(const FrameBuffer& raw8, FrameBuffer& raw16, int rowFrom, int rowTo) {
    const int width = std::min(raw8.Width(), raw16.Width());
    const int height = std::min(raw8.Height(), raw16.Height());
    for (int r = rowFrom; r < std::min(rowTo, height); ++r) {
        const uint8_t* in = raw8.Bits() + static_cast<size_t>(r) * raw8.Stride();
        uint8_t* out = raw16.Bits() + static_cast<size_t>(r) * raw16.Stride();
        for (int c = 0; c < width; ++c) {
            const uint16_t sample = static_cast<uint16_t>(in[c] << 2);
            std::memcpy(out + 2 * static_cast<size_t>(c), &sample, sizeof sample);  // little-endian words
        }
    }
}

// Memory rows [rowFrom, rowTo) as the rectangle of Apply (whose rows count from the bottom, in bitmap
// order) and the destination row it lands on in the same buffer geometry, for the kernels that act on
// each pixel alone.
struct BandRect {
    Rect rect;
    int32_t y;
};
BandRect RowsOf(const FrameBuffer& b, int rowFrom, int rowTo) {
    const int32_t h = b.Height();
    return {Rect{0, h - rowTo, b.Width(), h - rowFrom}, h - rowTo};
}

// The site-gain kernels take the first row of their rectangle as the mosaic's row 0: a band starting on
// an odd row starts with the other row phase.
SiteGainParams SiteGainsFromRow(SiteGainParams block, int row) {
    block.mode ^= row & 1;
    return block;
}

SiteGainParams CurrentSiteGains(const ImageSettings& s) {
    return {s[kBayerMode],    s[kGrayGainR],    s[kGrayGainG1],    s[kGrayGainG2],   s[kGrayGainB],
            s[kGrayOffsetR],  s[kGrayOffsetG1], s[kGrayOffsetG2],  s[kGrayOffsetB]};
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

// One step of the banded schedule: run(from, to) finishes rows [from, to) of the step's output. lag is
// how many rows the step stays behind the rows the step before it has finished: the rows below its own
// that its neighbourhood reads (or, for a step writing in place into its source, that the earlier steps
// still read). Once the step before has finished the frame, the step finishes it too.
struct FrameBandStep {
    int lag;
    std::function<void(int, int)> run;
    // The step starts only once the step before has finished this many rows (the demosaic's first two
    // rows read the mosaic down to row 3).
    int startsAfter = 0;
    int done = 0;
};

namespace {

// Runs the steps band after band from row 0 to height, each step as far as the one before allows.
void RunBands(std::vector<FrameBandStep>& steps, int height, int bandRows) {
    for (int end = 0; end < height;) {
        end = std::min(height, end + bandRows);
        int ready = end;
        for (auto& step : steps) {
            const int target = ready == height          ? height
                               : ready < step.startsAfter ? step.done
                                                          : std::max(step.done, ready - step.lag);
            if (target > step.done) {
                step.run(step.done, target);
                step.done = target;
            }
            ready = step.done;
        }
    }
    steps.clear();
}

// The largest cache a core has to itself, in bytes (the second level where it is reported).
size_t CoreCacheBytes() {
    static const size_t bytes = [] {
        const long l2 = sysconf(_SC_LEVEL2_CACHE_SIZE);
        return l2 > 0 ? static_cast<size_t>(l2) : size_t{1} << 20;
    }();
    return bytes;
}

}  // namespace

// A band's rows in every buffer it touches take about half the core's own cache, so that the band is
// still there when the last step reads it, with room for the lookup tables and the stack.
int FramePath::BandRows(size_t rowBytes) const {
    if (bandRows_ > 0) return bandRows_;
    constexpr int kFewest = 8, kMost = 256;
    return std::clamp(static_cast<int>(CoreCacheBytes() / 2 / std::max<size_t>(rowBytes, 1)), kFewest, kMost);
}

// While slot 25 is set every frame is measured and its gains used at once; the one-shot state (25, 26, 27
// all set) ends after this measurement.
void FramePath::MeasureWhiteBalance(FrameBuffer& raw) {
    auto& s = camera_.Settings().imageSettings;
    if (s[kAutoBayerGain] == 0) return;
    WhiteBalanceResult measured{0, 0, 0, s[kBayerMode]};
    raw.Apply(raw.BitsPerPixel() == 16 ? MeasureWhiteBalance16 : MeasureWhiteBalance8, raw, nullptr, 0, 0, measured);
    s[kBayerGainRed] = std::min(measured.red, kMaxWhiteBalanceGain);
    s[kBayerGainGreen] = std::min(measured.green, kMaxWhiteBalanceGain);
    s[kBayerGainBlue] = std::min(measured.blue, kMaxWhiteBalanceGain);
    // An open image dialog shows the measured gains; told before the one-shot state ends, so whoever
    // sees it end knows the dialog has been told.
    camera_.Dialogs().ImageSettingsChanged();
    if (s[kAutoBayerGain] != 0 && s[kOneShot1] != 0 && s[kOneShot2] != 0)
        s[kAutoBayerGain] = s[kOneShot1] = s[kOneShot2] = 0;
}

// Gray mode 1 balances the four mosaic sites, measuring them while the countdown runs.
void FramePath::MeasureSites(FrameBuffer& raw8) {
    auto& s = camera_.Settings().imageSettings;
    if (s[kGrayAutoCountdown] == 0) return;
    SiteGainParams block = CurrentSiteGains(s);
    raw8.Apply(MeasureSiteLevels, raw8, nullptr, 0, 0, block);
    s[kGrayGainR] = block.gain01;
    s[kGrayGainG1] = block.gain00;
    s[kGrayGainG2] = block.gain11;
    s[kGrayGainB] = block.gain10;
    camera_.Dialogs().ImageSettingsChanged();
    --s[kGrayAutoCountdown];
}

// Hue/saturation, gamma, contrast, sharpness, brightness, in this order. Gamma, contrast and brightness
// are one lookup (the composed table gives every sample the value of the three in turn); sharpening
// comes between contrast and brightness, so with it on brightness stays a lookup of its own.
void FramePath::AddFilterSteps(std::vector<FrameBandStep>& steps, FrameBuffer& output, FrameBuffer& work,
                               const ColorModeInfo& mode) {
    const auto& s = camera_.Settings().imageSettings;
    const FilterTarget target{SamplesOf(mode), filterContext_.get()};
    if (mode.color && (s[kHue] != 0 || s[kSaturation] != 0)) {
        const HueSaturationParams params{s[kHue], 0, s[kSaturation], 10};
        steps.push_back({0, [&output, params, target](int a, int b) {
                             const BandRect rows = RowsOf(output, a, b);
                             output.Apply(HueSaturation, output, &rows.rect, 0, rows.y, params, target);
                         }});
    }
    const bool sharpen = s[kSharpness] != 0;
    const ToneSettings tone{s[kGamma], s[kContrast], sharpen ? 0 : int32_t{s[kBrightness]}};
    const auto toneStep = [&output, target](const ToneSettings& t) {
        return [&output, target, t](int a, int b) {
            const BandRect rows = RowsOf(output, a, b);
            output.Apply(ToneCurve, output, &rows.rect, 0, rows.y, t, target);
        };
    };
    if (!tone.Neutral()) steps.push_back({0, toneStep(tone)});
    if (!sharpen) return;
    // The blur reads the unsharpened picture: each band is copied before it is sharpened, and a row is
    // sharpened once the row below it is copied.
    steps.push_back({0, [&output, &work](int a, int b) {
                         const size_t stride = output.Stride();
                         std::memcpy(work.Bits() + a * stride, output.Bits() + a * stride, (b - a) * stride);
                     }});
    const int32_t strength = s[kSharpness];
    steps.push_back({1, [&output, &work, strength, target](int a, int b) {
                         output.Apply(SharpenBand, work, nullptr, 0, 0, strength, target, a, b);
                     }});
    if (s[kBrightness] != 0) steps.push_back({0, toneStep(ToneSettings{100, 0, s[kBrightness]})});
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

void FramePath::Process(CaptureBuffers& buffers, FrameBuffer& mosaic, int mode, const FinishedRows& finished) {
    const ColorModeInfo* info = FindColorMode(mode);
    if (!info) return;
    auto& s = camera_.Settings().imageSettings;
    // The camera's 8-bit frame is measured and corrected before any widening: the 10-bit form carries
    // the same levels, and the hot-pixel rule is defined on 8-bit samples.
    AutoIris(&mosaic);

    FrameBuffer& output = buffers.OutputOf(mode);
    FrameBuffer& raw = info->Wide() ? buffers.Raw16() : mosaic;
    const int height = mosaic.Height();
    const bool grayModes = info->HasGrayModes();
    const bool demosaics = info->color || (grayModes && s[kGrayMode] == 2);
    const bool sitesMeasured = grayModes && s[kGrayMode] == 1 && s[kGrayAutoCountdown] != 0;
    const bool balanceMeasured = demosaics && s[kAutoBayerGain] != 0;
    FrameBuffer& demosaiced = info->color ? output : buffers.Rgb24();
    const size_t rowBytes = mosaic.Stride() + (info->Wide() ? raw.Stride() : 0) +
                            (demosaics ? demosaiced.Stride() : 0) +
                            output.Stride() * (1 + (finished ? 1 : 0) + (s[kSharpness] != 0 ? 1 : 0));
    const int bandRows = BandRows(rowBytes);

    std::vector<FrameBandStep> steps;
    const BayerParams hotParams = CurrentBayerParams(s);
    steps.push_back({0, [&mosaic, hotParams, this](int a, int b) {
                         mosaic.Apply(CorrectHotPixelsBand, mosaic, nullptr, 0, 0, hotParams,
                                      int32_t{kHotPixelThreshold}, *kernels_.hotPixels, a, b);
                     }});
    if (info->Wide())
        steps.push_back({0, [&mosaic, &raw](int a, int b) { WidenTo10Bits(mosaic, raw, a, b); }});

    // A measurement of the whole frame: the steps before it finish the frame first.
    if (sitesMeasured || balanceMeasured) {
        RunBands(steps, height, bandRows);
        if (sitesMeasured) MeasureSites(mosaic);
        if (balanceMeasured) MeasureWhiteBalance(raw);
    }

    if (grayModes && s[kGrayMode] == 1) {
        const SiteGainParams block = CurrentSiteGains(s);
        // In place in the mosaic: two rows behind, as hot pixels read two rows below the one they correct.
        if (!SiteGainsNeutral(block))
            steps.push_back({2, [&mosaic, block, this](int a, int b) {
                                 const BandRect rows = RowsOf(mosaic, a, b);
                                 mosaic.Apply(kernels_.siteGains, mosaic, &rows.rect, 0, rows.y,
                                              SiteGainsFromRow(block, a));
                             }});
    } else if (demosaics) {
        // A demosaiced row reads the mosaic's rows down to the next one (the first two rows down to row 3).
        const BayerParams params = CurrentBayerParams(s);
        steps.push_back({2,
                         [&demosaiced, &raw, params, this](int a, int b) {
                             DemosaicPassBand(demosaiced, raw, params, kernels_.demosaic, a, b);
                         },
                         4});
        // Gray mode 2 writes the gray picture over the mosaic it came from: two rows behind the demosaic,
        // which reads two rows above the one it makes.
        if (!info->color)
            steps.push_back({2, [&mosaic, &demosaiced](int a, int b) {
                                 const BandRect rows = RowsOf(demosaiced, a, b);
                                 mosaic.Apply(BgrToGray8, demosaiced, &rows.rect, 0, rows.y);
                             }});
    }
    // 8-bit gray filters the mosaic itself, in place: two rows behind the rows hot pixels still read.
    if (&output == &mosaic) steps.push_back({2, [](int, int) {}});
    AddFilterSteps(steps, output, buffers.Work(), *info);
    if (finished) steps.push_back({0, finished});
    RunBands(steps, height, bandRows);
}

}  // namespace zelvik
