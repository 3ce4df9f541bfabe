// The hue/saturation filter: a fixed-point rotation of hue and scaling of chroma per pixel.
#include <algorithm>
#include <vector>

#include "imaging/FilterDetail.h"

namespace zelvik {

using filter_detail::Sample10;

namespace {

using HueSaturationRowFn = decltype(HueSaturationRows::row);

// One pixel of the hue/saturation adjustment on channels c[0] (blue), c[1] (green), c[2] (red) of
// 0..top. Which channels get the span (mask) and which one moves by the hue fraction (step), by sector.
struct Sector {
    bool span[3];
    int32_t stepChannel;
    int32_t stepSign;
};
constexpr Sector kSectors[6] = {
    {{true, false, true}, 0, -1},  {{false, false, true}, 1, +1}, {{false, true, true}, 2, -1},
    {{false, true, false}, 0, +1}, {{true, true, false}, 1, -1},  {{true, false, false}, 2, +1},
};

struct HueAngle {
    int32_t sector;    // qa: whole sectors of 255
    int32_t fraction;  // ra
};

HueAngle HueAngleOf(int32_t hue) {
    const int32_t h6 = (hue & 0xFF) * 6;
    const int32_t sector = ((h6 + 256) >> 9) % 3;
    int32_t shift = h6 % 512;
    if (shift >= 256) shift -= 512;
    int32_t a = sector * 510 + shift;
    if (a < 0) a += 1530;
    if (a >= 1530) a -= 1530;
    return {a / 255, a % 255};
}

// The tables as plain arrays, taken once per call.
struct HueTableView {
    const uint32_t* reciprocal;
    const int32_t* lightness;
    const int32_t* limit;
    const int32_t* chroma;
    explicit HueTableView(const HueSaturationTables& t)
        : reciprocal(t.reciprocal.data()),
          lightness(t.lightness.data()),
          limit(t.limit.data()),
          chroma(t.chroma.data()) {}
};

[[gnu::always_inline]] inline void HueSaturationPixel(int32_t c[3], const HueTableView& t, HueAngle angle) {
    int32_t mx, mn, sel, diff;
    if (c[2] >= c[1]) {
        mx = c[2], mn = c[1], sel = 1, diff = c[1] - c[0];
    } else {
        mx = c[1], mn = c[2], sel = 3, diff = c[0] - c[2];
    }
    if (c[0] > mx) mx = c[0], sel = 5, diff = c[2] - c[1];
    if (c[0] < mn) mn = c[0];
    const int32_t C = mx - mn, sum = mx + mn;
    if (diff < 0) {
        sel -= 1;
        diff += C;
    }
    const int32_t L = t.lightness[sum];
    const int32_t C2 = std::min(t.chroma[C], t.limit[sum]);
    const int32_t base = (L - C2) >> 1;
    const int32_t span = ((C2 + L) >> 1) - ((L - C2) >> 1);
    if (C == 0) {
        c[0] = c[1] = c[2] = base;
        return;
    }
    int32_t f = static_cast<int32_t>((static_cast<uint32_t>(diff) * t.reciprocal[C] + 0x8000u) >> 16);
    sel += angle.sector;
    f += angle.fraction;
    if (f >= 255) {
        f -= 255;
        sel += 1;
    }
    const Sector& s = kSectors[sel % 6];
    const int32_t step = (span * f + 128) >> 8;
    for (int k = 0; k < 3; ++k)
        c[k] = base + (s.span[k] ? span : 0) + (s.stepChannel == k ? s.stepSign * step : 0);
}

template <class Read, class Write>
int HueSaturation(const KernelFrame& f, const HueSaturationParams& params, const HueSaturationTables& tables,
                  uint32_t sampleBytes, Read read, Write write, HueSaturationRowFn vector = nullptr) {
    const HueAngle angle = HueAngleOf(params.hue);
    const HueTableView view(tables);
    // The vector rows assume the lightness-0 tables and chroma products within 31 bits.
    if (vector != nullptr && (f.srcBpp != f.dstBpp || (f.srcBpp != 3 && f.srcBpp != 4) || tables.top != 255 ||
                              tables.lightScaled != 0 ||
                              static_cast<int64_t>(tables.satScaled) * 255 + 0x8000 >= (int64_t{1} << 31)))
        vector = nullptr;
    for (int32_t r = 0; r < f.height; ++r) {
        const uint8_t* in = f.SrcRow(r);
        uint8_t* out = f.DstRow(r);
        int32_t x = 0;
        if (vector != nullptr) {
            x = vector(out, in, f.width, f.srcBpp, tables, angle.sector, angle.fraction);
            in += static_cast<size_t>(x) * f.srcBpp;
            out += static_cast<size_t>(x) * f.dstBpp;
        }
        for (; x < f.width; ++x, in += f.srcBpp, out += f.dstBpp) {
            int32_t c[3] = {read(in), read(in + sampleBytes), read(in + 2 * sampleBytes)};
            HueSaturationPixel(c, view, angle);
            for (uint32_t k = 0; k < 3; ++k) write(out + k * sampleBytes, c[k]);
        }
    }
    return 1;
}

int HueSaturation8(const KernelFrame& f, const HueSaturationParams* params, FilterContext* ctx) {
    if (f.dstBpp < 3 || f.srcBpp < 3) return 1;
    HueSaturationTables local;
    const HueSaturationTables& tables =
        ctx ? ctx->HueSaturation8(params->saturation, params->lightness)
            : (BuildHueSaturationTables(params->saturation, params->lightness, 255, local), local);
    return HueSaturation(
        f, *params, tables, 1, [](const uint8_t* p) { return static_cast<int32_t>(*p); },
        [](uint8_t* p, int32_t v) { *p = static_cast<uint8_t>(v); },
        ctx ? ctx->Forms().hueSaturation->row : nullptr);
}

int HueSaturation16(const KernelFrame& f, const HueSaturationParams* params, FilterContext* ctx) {
    if (f.dstBpp < 6 || f.srcBpp < 6) return 1;
    HueSaturationTables local;
    const HueSaturationTables& tables =
        ctx ? ctx->HueSaturation16(params->saturation, params->lightness)
            : (BuildHueSaturationTables(params->saturation, params->lightness, 1023, local), local);
    return HueSaturation(f, *params, tables, 2, Sample10, StoreWord);
}

}  // namespace

namespace {
// Below -256 the chroma would turn negative and push channels out of range; above, the product
// C x satScaled is taken in 64 bits and the limit M keeps every channel in range.
int32_t ClampSaturation(int32_t saturation) { return std::clamp(saturation, -256, 0x7FFF); }
int32_t ClampLightness(int32_t lightness) { return std::clamp(lightness, -256, 256); }

}  // namespace

bool filter_detail::HueSaturationCurrent(const HueSaturationTables& t, int32_t top, int32_t saturation,
                                         int32_t lightness) {
    return t.top == top && t.satScaled == (ClampSaturation(saturation) + 256) << 8 &&
           t.lightScaled == ClampLightness(lightness) << 8;
}

void BuildHueSaturationTables(int32_t saturation, int32_t lightness, int32_t top, HueSaturationTables& t) {
    saturation = ClampSaturation(saturation);
    lightness = ClampLightness(lightness);
    const int32_t entries = top + 1, sums = 2 * entries;
    t.top = top;
    t.satScaled = (saturation + 256) << 8;
    t.lightScaled = lightness << 8;
    t.reciprocal.assign(static_cast<size_t>(entries), 0);
    for (int32_t i = 1; i < entries; ++i)
        t.reciprocal[static_cast<size_t>(i)] = 0xFF0000u / static_cast<uint32_t>(i);
    const int32_t light = (t.lightScaled + 128) >> 8;
    const int32_t d = light > 0 ? 256 - light : light + 256;
    const int32_t e = light > 0 ? sums - 1 : 0;
    t.lightness.resize(static_cast<size_t>(sums));
    t.limit.resize(static_cast<size_t>(sums));
    for (int32_t k = 0; k < sums; ++k) {
        const int32_t L = ((d * (k ^ e) + 128) >> 8) ^ e;
        t.lightness[static_cast<size_t>(k)] = L;
        t.limit[static_cast<size_t>(k)] = L < entries ? L : sums - 1 - L;
    }
    t.chroma.resize(static_cast<size_t>(entries));
    for (int32_t j = 0; j < entries; ++j)
        t.chroma[static_cast<size_t>(j)] =
            static_cast<int32_t>((0x8000 + static_cast<int64_t>(j) * t.satScaled) >> 16);
}

int HueSaturation(const KernelFrame& f, const HueSaturationParams& params, const FilterTarget& target) {
    switch (target.samples) {
        case FilterSamples::kColor8:
            return HueSaturation8(f, &params, target.context);
        case FilterSamples::kColor16:
            return HueSaturation16(f, &params, target.context);
        default:
            return 1;
    }
}

const HueSaturationRows kHueSaturationPortable{VectorForm::kPortable, nullptr};

FormTable<HueSaturationRows> kHueSaturationRows = {
    &kHueSaturationPortable,
    nullptr,
#if defined(__x86_64__) || defined(__i386__)
    &kHueSaturationAvx2,
#else
    nullptr,
#endif
    nullptr,
};

}  // namespace zelvik
