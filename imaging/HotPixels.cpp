// Hot-pixel correction: the pixel-by-pixel walk that every form shares.
#include "imaging/HotPixels.h"

#include <algorithm>
#include <cstdlib>

#include "imaging/DemosaicDetail.h"

namespace zelvik {

using namespace detail;

int CorrectHotPixels(const KernelFrame& f, const BayerParams& bayer, int32_t threshold,
                     const HotPixelScreen& vector) {
    return CorrectHotPixelsBand(f, bayer, threshold, vector, 0, f.height);
}

int CorrectHotPixelsBand(const KernelFrame& f, const BayerParams& bayer, int32_t threshold,
                         const HotPixelScreen& vector, int32_t rowFrom, int32_t rowTo) {
    const BayerParams* params = &bayer;
    const HotPixelScreenFn screen = vector.screen;
    const int32_t group = vector.group;
    const int32_t W = f.width, H = f.height;
    const int32_t gR = FixedGain(params->redGain), gB = FixedGain(params->blueGain);
    const size_t pitch = f.dstBpp, stride = f.dstStride;
    uint8_t* origin = f.DstRow(0);
    const DirectSampler<uint8_t> P{origin, stride, f.dstBpp};
    const bool screened = screen != nullptr && pitch == 1;
    int count = 0;
    for (int32_t i = std::max(2, rowFrom); i <= std::min(H - 3, rowTo - 1); ++i) {
        uint8_t* row = origin + static_cast<size_t>(i) * stride;
        const int32_t pr = RowPhaseOf(params->mode) ^ (i & 1);
        int32_t j = 2;
        while (j <= W - 3) {
            // Skip whole groups that hold no candidate: nothing in them changes, so the samples they
            // read are the ones a pixel-by-pixel walk would read.
            if (screened) {
                j = screen(row, stride, j, W - 2, threshold);
                if (j > W - 3) break;
            }
            const int32_t end = screened ? std::min(j + group, W - 2) : W - 2;
            for (; j < end; ++j) {
                uint8_t* c = row + static_cast<size_t>(j) * pitch;
                const int32_t avg = (P(j, i - 2) + P(j, i + 2) + P(j - 2, i) + P(j + 2, i)) / 4;
                if (*c - avg < threshold) continue;
                const BlockSums s = ComputeBlock(P, j, i, pr, ColPhaseOf(params->mode) ^ (j & 1));
                const int32_t red = PortableColor8(s.red, gR), blue = PortableColor8(s.blue, gB);
                const int32_t green = s.green >> 1;
                const int differing = (std::abs(red - green) > 30) + (std::abs(red - blue) > 30) +
                                      (std::abs(green - blue) > 30);
                if (differing >= 2) {
                    *c = static_cast<uint8_t>(avg);
                    ++count;
                }
            }
        }
    }
    return count;
}

const HotPixelScreen kHotPixelScreenPortable{VectorForm::kPortable, nullptr, 0};

FormTable<HotPixelScreen> kHotPixelScreens = {
    &kHotPixelScreenPortable,
#if defined(__x86_64__) || defined(__i386__)
    &kHotPixelScreenSse2,
    &kHotPixelScreenAvx2,
    nullptr,
#else
    nullptr,
    nullptr,
    nullptr,
#endif
};

}  // namespace zelvik
