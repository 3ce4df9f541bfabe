// The sharpness filter: a 4 x 4 unsharp mask.
#include <algorithm>
#include <vector>

#include "imaging/FilterDetail.h"

namespace zelvik {

using filter_detail::Channels;
using filter_detail::Sample10;
using filter_detail::Wide;

namespace {

// Unsharp mask: blur = (sum of the 4 x 4 window at columns x-2..x+1, rows y-2..y+1) >> 4 of the
// source; out = o + (s x (o - blur)) / 10, limited to the range. The blur depends only on the source,
// so the blur and sharpen passes run fused per sample; the two outer rows and columns are not written.
template <class Read, class Write>
void SharpenPixels(const KernelFrame& f, int32_t s, uint32_t channels, int32_t top, Read read, Write write,
                   uint32_t sampleBytes, int32_t rowFrom, int32_t rowTo) {
    for (int32_t y = std::max(2, rowFrom); y < std::min(f.height - 2, rowTo); ++y) {
        uint8_t* out = f.DstRow(y);
        for (int32_t x = 2; x < f.width - 2; ++x) {
            for (uint32_t ch = 0; ch < channels; ++ch) {
                int32_t sum = 0;
                for (int32_t yy = y - 2; yy <= y + 1; ++yy) {
                    const uint8_t* row = f.SrcRow(yy);
                    for (int32_t xx = x - 2; xx <= x + 1; ++xx)
                        sum += read(row + static_cast<size_t>(xx) * f.srcBpp + ch * sampleBytes);
                }
                const int32_t o = read(f.SrcRow(y) + static_cast<size_t>(x) * f.srcBpp + ch * sampleBytes);
                const int64_t v = o + static_cast<int64_t>(s) * (o - (sum >> 4)) / 10;
                write(out + static_cast<size_t>(x) * f.dstBpp + ch * sampleBytes,
                      static_cast<int32_t>(std::clamp<int64_t>(v, 0, top)));
            }
        }
    }
}

void Sharpen8(const KernelFrame& f, int32_t s, FilterContext* ctx, uint32_t channels, int32_t rowFrom, int32_t rowTo) {
    if (f.dstBpp < channels || f.srcBpp < channels || f.width <= 4 || f.height <= 4) return;
    const SharpenRows* rows = ctx ? ctx->Forms().sharpen : nullptr;
    // Vector rows need contiguous channels (gray bytes or 24-bit pixels) and s x (o - blur) in 16 bits.
    const uint32_t pitch = f.srcBpp;
    const bool vector = rows && rows->row && f.dstBpp == pitch && pitch == channels && s >= -128 && s <= 128;
    if (!vector) {
        SharpenPixels(
            f, s, channels, 255, [](const uint8_t* p) { return static_cast<int32_t>(*p); },
            [](uint8_t* p, int32_t v) { *p = static_cast<uint8_t>(v); }, 1, rowFrom, rowTo);
        return;
    }
    const int32_t rowBytes = f.width * static_cast<int32_t>(pitch);
    const int32_t p = static_cast<int32_t>(pitch);
    std::vector<uint16_t> sums(static_cast<size_t>(rowBytes));
    for (int32_t y = std::max(2, rowFrom); y < std::min(f.height - 2, rowTo); ++y) {
        const uint8_t* window[4] = {f.SrcRow(y - 2), f.SrcRow(y - 1), f.SrcRow(y), f.SrcRow(y + 1)};
        for (int32_t k = rows->columnSums(sums.data(), window, rowBytes); k < rowBytes; ++k)
            sums[static_cast<size_t>(k)] =
                static_cast<uint16_t>(window[0][k] + window[1][k] + window[2][k] + window[3][k]);
        const uint8_t* center = window[2];
        uint8_t* out = f.DstRow(y);
        const int32_t end = (f.width - 2) * p;
        for (int32_t k = rows->row(out, center, sums.data(), 2 * p, end, p, s); k < end; ++k) {
            const int32_t blur = (sums[k - 2 * p] + sums[k - p] + sums[k] + sums[k + p]) >> 4;
            const int32_t o = center[k];
            out[k] = static_cast<uint8_t>(std::clamp(o + s * (o - blur) / 10, 0, 255));
        }
    }
}

void Sharpen16(const KernelFrame& f, int32_t s, uint32_t channels, int32_t rowFrom, int32_t rowTo) {
    if (f.dstBpp < 2 * channels || f.srcBpp < 2 * channels) return;
    SharpenPixels(f, s, channels, 1023, Sample10, StoreWord, 2, rowFrom, rowTo);
}

}  // namespace

int Sharpen(const KernelFrame& f, int32_t strength, const FilterTarget& target) {
    return SharpenBand(f, strength, target, 0, f.height);
}

int SharpenBand(const KernelFrame& f, int32_t strength, const FilterTarget& target, int32_t rowFrom, int32_t rowTo) {
    if (Wide(target.samples))
        Sharpen16(f, strength, Channels(target.samples), rowFrom, rowTo);
    else
        Sharpen8(f, strength, target.context, Channels(target.samples), rowFrom, rowTo);
    return 1;
}

const SharpenRows kSharpenPortable{VectorForm::kPortable, nullptr, nullptr};

FormTable<SharpenRows> kSharpenRows = {
    &kSharpenPortable,
#if defined(__x86_64__) || defined(__i386__)
    &kSharpenSse2,
    &kSharpenAvx2,
#else
    nullptr,
    nullptr,
#endif
    nullptr,
};

}  // namespace zelvik
