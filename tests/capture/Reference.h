// The finished image of each colour mode computed by running the imaging kernels directly, in the order
// the frame path runs them: the reference the capture engine's output is compared with.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "emulator/ImageFiles.h"
#include "imaging/Kernels.h"
#include "instance/CameraInstance.h"

namespace zelvik::test {

using Settings = std::array<int32_t, kImageSlotCount>;

// The instance's settings as plain numbers, for a reference run that must not change them.
inline Settings PlainSettings(const std::array<SharedSetting, kImageSlotCount>& shared) {
    Settings plain;
    std::copy(shared.begin(), shared.end(), plain.begin());
    return plain;
}

// What a buffer holds, row padding included.
inline std::vector<uint8_t> Bytes(const FrameBuffer& b) {
    return std::vector<uint8_t>(b.Bits(), b.Bits() + static_cast<size_t>(b.Stride()) * b.Height());
}

inline void Demosaic(FrameBuffer& destination, FrameBuffer& raw, Settings& s,
                     const DemosaicKernels& kernels) {
    if (s[kAutoBayerGain]) {
        WhiteBalanceResult wb{0, 0, 0, s[kBayerMode]};
        raw.Apply(raw.BitsPerPixel() == 16 ? MeasureWhiteBalance16 : MeasureWhiteBalance8, raw, nullptr, 0, 0, wb);
        s[kBayerGainRed] = std::min(wb.red, 200);
        s[kBayerGainGreen] = std::min(wb.green, 200);
        s[kBayerGainBlue] = std::min(wb.blue, 200);
    }
    DemosaicPass(destination, raw, {s[kBayerMode], s[kBayerGainRed], s[kBayerGainGreen], s[kBayerGainBlue]},
                 kernels);
}

inline void Filter(FrameBuffer& out, const FrameBuffer& source, FilterKernel kernel, int32_t setting,
                   FilterSamples samples) {
    out.Apply(kernel, source, nullptr, 0, 0, setting, FilterTarget{samples, nullptr});
}

// The finished image of colour mode `mode` (0..5) for a mosaic, from the imaging kernels alone: hot
// pixels at threshold 40, 8-bit samples widened by 2 bits for the 16-bit modes, the gray-mode step or
// the demosaic, then hue/saturation, gamma, contrast, sharpness and brightness.
inline std::vector<uint8_t> Reference(const emu::Image& mosaic, int mode, Settings s, bool mirrorH) {
    CpuInfo cpu{};
    DetectProcessor(&cpu);
    const ImagingKernels kernels = ChooseImagingKernels(cpu);
    const int w = mosaic.width, h = mosaic.height;
    FrameBuffer raw8, raw16, rgb24, out;
    raw8.Create(w, h, 8);
    for (int r = 0; r < h; ++r) {
        uint8_t* row = raw8.Bits() + static_cast<size_t>(r) * raw8.Stride();
        std::memcpy(row, &mosaic.pixels[static_cast<size_t>(r) * w], w);
        if (mirrorH) std::reverse(row, row + w);
    }
    BayerParams bayer{s[kBayerMode], s[kBayerGainRed], s[kBayerGainGreen], s[kBayerGainBlue]};
    int32_t threshold = 40;
    raw8.Apply(CorrectHotPixels, raw8, nullptr, 0, 0, bayer, threshold, *kHotPixelScreens[0]);

    const bool wide = mode == 1 || mode == 4 || mode == 5;
    if (wide) {
        raw16.Create(w, h, 16);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const uint16_t v =
                    static_cast<uint16_t>(raw8.Bits()[static_cast<size_t>(r) * raw8.Stride() + c] << 2);
                std::memcpy(raw16.Bits() + static_cast<size_t>(r) * raw16.Stride() + 2 * c, &v, 2);
            }
    }
    FrameBuffer* output = &out;
    if (mode == 0) {
        if (s[kGrayMode] == 1) {
            SiteGainParams p{s[kBayerMode],    s[kGrayGainR],    s[kGrayGainG1],
                             s[kGrayGainG2],   s[kGrayGainB],    s[kGrayOffsetR],
                             s[kGrayOffsetG1], s[kGrayOffsetG2], s[kGrayOffsetB]};
            if (s[kGrayAutoCountdown]) raw8.Apply(MeasureSiteLevels, raw8, nullptr, 0, 0, p);
            if (!SiteGainsNeutral(p)) raw8.Apply(kernels.siteGains, raw8, nullptr, 0, 0, p);
        } else if (s[kGrayMode] == 2) {
            rgb24.Create(w, h, 24);
            Demosaic(rgb24, raw8, s, kernels.demosaic);
            raw8.Apply(BgrToGray8, rgb24, nullptr, 0, 0);
        }
        output = &raw8;
    } else if (mode == 1) {
        output = &raw16;
    } else {
        static constexpr int kBits[] = {0, 0, 24, 32, 48, 64};
        out.Create(w, h, kBits[mode]);
        Demosaic(out, wide ? raw16 : raw8, s, kernels.demosaic);
    }

    const bool gray = mode <= 1;
    const bool deep = mode == 1 || mode >= 4;
    const FilterSamples samples = gray ? (deep ? FilterSamples::kGray16 : FilterSamples::kGray8)
                                       : (deep ? FilterSamples::kColor16 : FilterSamples::kColor8);
    if (!gray && (s[kHue] || s[kSaturation])) {
        HueSaturationParams hs{s[kHue], 0, s[kSaturation], 10};
        output->Apply(HueSaturation, *output, nullptr, 0, 0, hs, FilterTarget{samples, nullptr});
    }
    if (s[kGamma] != 100) Filter(*output, *output, Gamma, s[kGamma], samples);
    if (s[kContrast]) Filter(*output, *output, Contrast, s[kContrast], samples);
    if (s[kSharpness]) {
        FrameBuffer work;
        work.CreateLike(output);
        std::memcpy(work.Bits(), output->Bits(), static_cast<size_t>(output->Stride()) * output->Height());
        Filter(*output, work, Sharpen, s[kSharpness], samples);
    }
    if (s[kBrightness]) Filter(*output, *output, Brightness, s[kBrightness], samples);
    return Bytes(*output);
}

}  // namespace zelvik::test
