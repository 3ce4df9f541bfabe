// Region means and white-balance measurement.
#include "imaging/Measure.h"

#include <algorithm>
#include <limits>


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

uint32_t Word(const uint8_t* p) { return LoadWord(p); }

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

int RegionMean8(const KernelFrame& f) {
    return RegionMean(f, [](const uint8_t* p) { return static_cast<uint32_t>(*p); });
}

int RegionMean16(const KernelFrame& f) {
    if (f.dstBpp < 2) return 0;
    return RegionMean(f, [](const uint8_t* p) { return (Word(p) >> 2) & 0xFF; });
}

int MeasureWhiteBalance8(const KernelFrame& f, WhiteBalanceResult& result) {
    MeasureWhiteBalance(f, &result, [](const uint8_t* p) { return static_cast<uint32_t>(*p); });
    return 1;
}

int MeasureWhiteBalance16(const KernelFrame& f, WhiteBalanceResult& result) {
    if (f.srcBpp < 2) return 1;
    MeasureWhiteBalance(f, &result, Word);
    return 1;
}

}  // namespace zelvik
