// Region means, white-balance measurement and hot-pixel correction (portable forms).
#include "imaging/Measure.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "imaging/DemosaicDetail.h"

namespace zelvik {

namespace {

template <class Value>
int RegionMean(const KernelFrame& f, Value value) {
    if (f.width <= 0 || f.height <= 0) return 0;
    uint64_t sum = 0;
    for (int32_t i = 0; i < f.height; ++i) {
        const uint8_t* row = f.DstRow(i);
        for (int32_t j = 0; j < f.width; ++j) sum += value(row + static_cast<size_t>(j) * f.dstBpp);
    }
    return static_cast<int>(sum / (static_cast<uint64_t>(f.width) * static_cast<uint64_t>(f.height)));
}

uint32_t Word(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Sums per group with the carried phase walk; 64-bit sums so that no frame size can wrap them.
template <class Sample>
void MeasureWhiteBalance(const KernelFrame& f, WhiteBalanceResult* result, Sample sample) {
    uint64_t green = 0, blue = 0, red = 0, nGreen = 0, nBlue = 0, nRed = 0;
    int32_t rp = RowPhaseOf(result->mode), cp = ColPhaseOf(result->mode);
    for (int32_t i = 0; i < f.height; ++i, rp ^= 1) {
        const uint8_t* row = f.SrcRow(i);
        for (int32_t j = 0; j < f.width; ++j, cp ^= 1) {
            const uint32_t v = sample(row + static_cast<size_t>(j) * f.srcBpp);
            if (rp == cp) {
                green += v;
                ++nGreen;
            } else if (rp == 0) {
                blue += v;
                ++nBlue;
            } else {
                red += v;
                ++nRed;
            }
        }
    }
    result->green = 100;
    if (green == 0 || blue == 0 || red == 0) {
        // A group without light has no ratio; leave the balance neutral.
        result->blue = result->red = 100;
        return;
    }
    const double third = 0.3333333333333333;
    const double gm = static_cast<double>(green) / static_cast<double>(nGreen);
    const double bm = static_cast<double>(blue) / static_cast<double>(nBlue);
    const double rm = static_cast<double>(red) / static_cast<double>(nRed);
    const double t = gm + rm + bm;
    const double k = 1.0 / ((t / gm) * third);
    auto toInt = [](double v) {
        return static_cast<int32_t>(std::min(v, static_cast<double>(std::numeric_limits<int32_t>::max())));
    };
    result->blue = toInt(((t / bm) * third) * k * 100.0);
    result->red = toInt(((t / rm) * third) * k * 100.0);
}

}  // namespace

int RegionMean8(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void*, void*) {
    const KernelFrame f(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
    return RegionMean(f, [](const uint8_t* p) { return static_cast<uint32_t>(*p); });
}

int RegionMean16(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                 uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void*, void*) {
    const KernelFrame f(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
    if (dstBpp < 2) return 0;
    return RegionMean(f, [](const uint8_t* p) { return (Word(p) >> 2) & 0xFF; });
}

int MeasureWhiteBalance8(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                         uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    WhiteBalanceResult* r = KernelParam<WhiteBalanceResult>(p1);
    if (r == nullptr) return 1;
    const KernelFrame f(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
    MeasureWhiteBalance(f, r, [](const uint8_t* p) { return static_cast<uint32_t>(*p); });
    return 1;
}

int MeasureWhiteBalance16(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY,
                          uint16_t dstBpp, uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void*) {
    WhiteBalanceResult* r = KernelParam<WhiteBalanceResult>(p1);
    if (r == nullptr || srcBpp < 2) return 1;
    const KernelFrame f(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
    MeasureWhiteBalance(f, r, Word);
    return 1;
}

namespace detail {

int RunCorrectHotPixels(const KernelFrame& f, const BayerParams* params, int32_t threshold,
                        HotPixelScreenFn screen, int32_t group) {
    if (params == nullptr) return 0;
    const int32_t W = f.width, H = f.height;
    const int32_t gR = FixedGain(params->redGain), gB = FixedGain(params->blueGain);
    const size_t pitch = f.dstBpp, stride = f.dstStride;
    uint8_t* origin = f.DstRow(0);
    const DirectSampler<uint8_t> P{origin, stride, f.dstBpp};
    const bool screened = screen != nullptr && pitch == 1;
    int count = 0;
    for (int32_t i = 2; i <= H - 3; ++i) {
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

}  // namespace detail

int CorrectHotPixels(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,
                     uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2) {
    const KernelFrame f(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
    const int32_t* threshold = KernelParam<int32_t>(p2);
    if (threshold == nullptr) return 0;
    return detail::RunCorrectHotPixels(f, KernelParam<BayerParams>(p1), *threshold, nullptr, 0);
}

FrameKernel ChooseHotPixelKernel(const CpuInfo& cpu) {
#if defined(__x86_64__) || defined(__i386__)
    if (CpuHas(cpu, kCpuSse2)) return CpuHasWide(cpu, kCpuAvx2) ? CorrectHotPixelsAvx2 : CorrectHotPixelsSse2;
#else
    (void)cpu;
#endif
    return CorrectHotPixels;
}

}  // namespace zelvik
