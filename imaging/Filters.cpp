// Image filter kernels, their table builders and the per-instance filter context.
#include "imaging/Filters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zelvik {

namespace {

uint16_t GetWord(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
void PutWord(uint8_t* p, int32_t v) {
    const auto w = static_cast<uint16_t>(v);
    std::memcpy(p, &w, 2);
}
// 16-bit samples carry 10 bits; anything above indexes the table's last entry.
int32_t Sample10(const uint8_t* p) { return std::min<int32_t>(GetWord(p), 1023); }

FilterContext* Context(void* p2) { return KernelParam<FilterContext>(p2); }
const int32_t* Setting(void* p1) { return KernelParam<int32_t>(p1); }

// Table lookups over the rectangle; channels 1 (gray) or 3 (bytes/words 0..2 of a colour pixel).
void ApplyTable8(const KernelFrame& f, const uint8_t* table, uint32_t channels, LutBytesFn lut) {
    if (f.dstBpp < channels || f.srcBpp < channels) return;
    const bool runs = f.dstBpp == channels && f.srcBpp == channels;
    for (int32_t r = 0; r < f.height; ++r) {
        const uint8_t* in = f.SrcRow(r);
        uint8_t* out = f.DstRow(r);
        if (runs) {
            lut(out, in, static_cast<size_t>(f.width) * channels, table);
            continue;
        }
        for (int32_t c = 0; c < f.width; ++c, in += f.srcBpp, out += f.dstBpp)
            for (uint32_t k = 0; k < channels; ++k) out[k] = table[in[k]];
    }
}

void ApplyTable16(const KernelFrame& f, const uint16_t* table, uint32_t channels) {
    if (f.dstBpp < 2 * channels || f.srcBpp < 2 * channels) return;
    for (int32_t r = 0; r < f.height; ++r) {
        const uint8_t* in = f.SrcRow(r);
        uint8_t* out = f.DstRow(r);
        for (int32_t c = 0; c < f.width; ++c, in += f.srcBpp, out += f.dstBpp)
            for (uint32_t k = 0; k < channels; ++k) PutWord(out + 2 * k, table[Sample10(in + 2 * k)]);
    }
}

#define ZELVIK_KERNEL_FRAME KernelFrame f(dst, src, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride)

template <size_t kEntries>
std::vector<uint8_t> Narrowed(const uint16_t (&wide)[kEntries]) {
    return std::vector<uint8_t>(wide, wide + kEntries);
}

int Gamma8(const KernelFrame& f, void* p1, void* p2, uint32_t channels) {
    const int32_t* g = Setting(p1);
    if (g == nullptr) return 1;
    FilterContext* ctx = Context(p2);
    if (ctx) {
        ApplyTable8(f, ctx->Gamma8(*g), channels, ctx->lut);
    } else {
        uint16_t wide[256];
        BuildGammaTable(*g, 255, wide);
        ApplyTable8(f, Narrowed(wide).data(), channels, LutBytesPortable);
    }
    return 1;
}

int Gamma16(const KernelFrame& f, void* p1, void* p2, uint32_t channels) {
    const int32_t* g = Setting(p1);
    if (g == nullptr) return 1;
    FilterContext* ctx = Context(p2);
    if (ctx) {
        ApplyTable16(f, ctx->Gamma16(*g), channels);
    } else {
        std::vector<uint16_t> table(1024);
        BuildGammaTable(*g, 1023, table.data());
        ApplyTable16(f, table.data(), channels);
    }
    return 1;
}

int Contrast8(const KernelFrame& f, void* p1, void* p2, uint32_t channels) {
    const int32_t* c = Setting(p1);
    if (c == nullptr) return 1;
    FilterContext* ctx = Context(p2);
    if (ctx) {
        ApplyTable8(f, ctx->Contrast8(*c), channels, ctx->lut);
    } else {
        uint16_t wide[256];
        BuildContrastTable(*c, ContrastRule::k8, wide);
        ApplyTable8(f, Narrowed(wide).data(), channels, LutBytesPortable);
    }
    return 1;
}

int Contrast16(const KernelFrame& f, void* p1, void* p2, uint32_t channels, ContrastRule rule) {
    const int32_t* c = Setting(p1);
    if (c == nullptr) return 1;
    FilterContext* ctx = Context(p2);
    if (ctx) {
        ApplyTable16(f, rule == ContrastRule::kGray16 ? ctx->ContrastGray16(*c) : ctx->ContrastColor16(*c), channels);
    } else {
        uint16_t table[1024];
        BuildContrastTable(*c, rule, table);
        ApplyTable16(f, table, channels);
    }
    return 1;
}

// The brightness table is a few hundred multiplications: built per call.
int Brightness8(const KernelFrame& f, void* p1, void* p2, uint32_t channels) {
    const int32_t* b = Setting(p1);
    if (b == nullptr) return 1;
    uint16_t wide[256];
    BuildBrightnessTable(*b, 255, wide);
    FilterContext* ctx = Context(p2);
    ApplyTable8(f, Narrowed(wide).data(), channels, ctx ? ctx->lut : LutBytesPortable);
    return 1;
}

int Brightness16(const KernelFrame& f, void* p1, uint32_t channels) {
    const int32_t* b = Setting(p1);
    if (b == nullptr) return 1;
    uint16_t table[1024];
    BuildBrightnessTable(*b, 1023, table);
    ApplyTable16(f, table, channels);
    return 1;
}

// Unsharp mask: blur = (sum of the 4 x 4 window at columns x-2..x+1, rows y-2..y+1) >> 4 of the
// source; out = o + (s x (o - blur)) / 10, limited to the range. The blur depends only on the source,
// so the blur and sharpen passes run fused per sample; the two outer rows and columns are not written.
template <class Read, class Write>
void SharpenPixels(const KernelFrame& f, int32_t s, uint32_t channels, int32_t top, Read read, Write write,
                   uint32_t sampleBytes) {
    for (int32_t y = 2; y < f.height - 2; ++y) {
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

int Sharpen8(const KernelFrame& f, void* p1, void* p2, uint32_t channels) {
    const int32_t* setting = Setting(p1);
    if (setting == nullptr || f.dstBpp < channels || f.srcBpp < channels || f.width <= 4 || f.height <= 4) return 1;
    const int32_t s = *setting;
    FilterContext* ctx = Context(p2);
    // Vector rows need contiguous channels (gray bytes or 24-bit pixels) and s x (o - blur) in 16 bits.
    const uint32_t pitch = f.srcBpp;
    const bool vector = ctx && ctx->sharpenRow && f.dstBpp == pitch && pitch == channels && s >= -128 && s <= 128;
    if (!vector) {
        SharpenPixels(
            f, s, channels, 255, [](const uint8_t* p) { return static_cast<int32_t>(*p); },
            [](uint8_t* p, int32_t v) { *p = static_cast<uint8_t>(v); }, 1);
        return 1;
    }
    const int32_t rowBytes = f.width * static_cast<int32_t>(pitch);
    const int32_t p = static_cast<int32_t>(pitch);
    std::vector<uint16_t> sums(static_cast<size_t>(rowBytes));
    for (int32_t y = 2; y < f.height - 2; ++y) {
        const uint8_t* rows[4] = {f.SrcRow(y - 2), f.SrcRow(y - 1), f.SrcRow(y), f.SrcRow(y + 1)};
        for (int32_t k = ctx->columnSums(sums.data(), rows, rowBytes); k < rowBytes; ++k)
            sums[static_cast<size_t>(k)] = static_cast<uint16_t>(rows[0][k] + rows[1][k] + rows[2][k] + rows[3][k]);
        const uint8_t* center = rows[2];
        uint8_t* out = f.DstRow(y);
        const int32_t end = (f.width - 2) * p;
        for (int32_t k = ctx->sharpenRow(out, center, sums.data(), 2 * p, end, p, s); k < end; ++k) {
            const int32_t blur = (sums[k - 2 * p] + sums[k - p] + sums[k] + sums[k + p]) >> 4;
            const int32_t o = center[k];
            out[k] = static_cast<uint8_t>(std::clamp(o + s * (o - blur) / 10, 0, 255));
        }
    }
    return 1;
}

int Sharpen16(const KernelFrame& f, void* p1, uint32_t channels) {
    const int32_t* setting = Setting(p1);
    if (setting == nullptr || f.dstBpp < 2 * channels || f.srcBpp < 2 * channels) return 1;
    SharpenPixels(f, *setting, channels, 1023, Sample10, PutWord, 2);
    return 1;
}

// One pixel of the hue/saturation adjustment on channels c[0] (blue), c[1] (green), c[2] (red) of
// 0..top. Which channels get the span (mask) and which one moves by the hue fraction (step), by sector.
struct Sector {
    bool span[3];
    int32_t stepChannel;
    int32_t stepSign;
};
constexpr Sector kSectors[6] = {
    {{true, false, true}, 0, -1}, {{false, false, true}, 1, +1}, {{false, true, true}, 2, -1},
    {{false, true, false}, 0, +1}, {{true, true, false}, 1, -1}, {{true, false, false}, 2, +1},
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
        : reciprocal(t.reciprocal.data()), lightness(t.lightness.data()), limit(t.limit.data()), chroma(t.chroma.data()) {}
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
    for (int k = 0; k < 3; ++k) c[k] = base + (s.span[k] ? span : 0) + (s.stepChannel == k ? s.stepSign * step : 0);
}

template <class Read, class Write>
int HueSaturation(const KernelFrame& f, const HueSaturationParams& params, const HueSaturationTables& tables,
                  uint32_t sampleBytes, Read read, Write write, HueSaturationRowFn vector = nullptr) {
    const HueAngle angle = HueAngleOf(params.hue);
    const HueTableView view(tables);
    // The vector rows assume the lightness-0 tables and chroma products within 31 bits.
    if (vector != nullptr && (f.srcBpp != f.dstBpp || (f.srcBpp != 3 && f.srcBpp != 4) || tables.top != 255 ||
                              tables.lightScaled != 0 || static_cast<int64_t>(tables.satScaled) * 255 + 0x8000 >= (int64_t{1} << 31)))
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

}  // namespace

void BuildGammaTable(int32_t gamma, int32_t top, uint16_t* table) {
    double h = gamma <= 100 ? gamma * 0.01 : (gamma - 100) * 0.1 + 1.0;
    if (h <= 0.001) h = 0.001;
    else if (h >= 99.999) h = 99.999;
    std::vector<double> lg(static_cast<size_t>(top) + 1);
    for (int32_t j = 1; j <= top; ++j) lg[static_cast<size_t>(j)] = std::log10(static_cast<double>(j));
    const double ltop = lg[static_cast<size_t>(top)];
    table[0] = 0;
    for (int32_t i = 1; i <= top; ++i) {
        const double m = ltop + h * (lg[static_cast<size_t>(i)] - ltop);  // log10 of top x (i / top)^h
        if (m < 0) {
            table[i] = 1;
            continue;
        }
        int32_t value = top;
        for (int32_t j = 3; j <= top; ++j) {
            if (lg[static_cast<size_t>(j - 2)] <= m && m <= lg[static_cast<size_t>(j)]) {
                value = j - 1;
                break;
            }
        }
        table[i] = static_cast<uint16_t>(value);
    }
}

void BuildContrastTable(int32_t contrast, ContrastRule rule, uint16_t* table) {
    const int64_t c = rule == ContrastRule::kGray16 ? 4 * static_cast<int64_t>(contrast) : contrast;
    const int32_t top = rule == ContrastRule::k8 ? 255 : 1023;
    const int64_t half = (top + 1) / 2;  // 128 or 512
    if (c > half - 1) {
        std::fill(table, table + top + 1, 0);
        return;
    }
    const double scale = (top + 1.0) / (static_cast<double>(half - c) * 2.0);
    for (int32_t i = 0; i <= top; ++i) {
        if (i < c) table[i] = 0;
        else if (i > top - c) table[i] = static_cast<uint16_t>(top);
        else table[i] = static_cast<uint16_t>(static_cast<int32_t>(scale * static_cast<double>(i - c)));
    }
}

void BuildBrightnessTable(int32_t brightness, int32_t top, uint16_t* table) {
    double factor = 1.0;
    if (brightness > 0) factor = 1.0 + brightness * 0.0392156862745098;
    else if (brightness < 0) factor = 1.0 - (-static_cast<double>(brightness)) * 0.00392156862745098;
    for (int32_t s = 0; s <= top; ++s) {
        const double v = std::trunc(s * factor);
        table[s] = static_cast<uint16_t>(std::clamp(v, 0.0, static_cast<double>(top)));
    }
}

namespace {
// Below -256 the chroma would turn negative and push channels out of range; above, the product
// C x satScaled is taken in 64 bits and the limit M keeps every channel in range.
int32_t ClampSaturation(int32_t saturation) { return std::clamp(saturation, -256, 0x7FFF); }
int32_t ClampLightness(int32_t lightness) { return std::clamp(lightness, -256, 256); }

// The tables depend only on the scaled saturation and lightness: rebuilt when either changes.
bool HueSaturationCurrent(const HueSaturationTables& t, int32_t top, int32_t saturation, int32_t lightness) {
    return t.top == top && t.satScaled == (ClampSaturation(saturation) + 256) << 8 &&
           t.lightScaled == ClampLightness(lightness) << 8;
}
}  // namespace

void BuildHueSaturationTables(int32_t saturation, int32_t lightness, int32_t top, HueSaturationTables& t) {
    saturation = ClampSaturation(saturation);
    lightness = ClampLightness(lightness);
    const int32_t entries = top + 1, sums = 2 * entries;
    t.top = top;
    t.satScaled = (saturation + 256) << 8;
    t.lightScaled = lightness << 8;
    t.reciprocal.assign(static_cast<size_t>(entries), 0);
    for (int32_t i = 1; i < entries; ++i) t.reciprocal[static_cast<size_t>(i)] = 0xFF0000u / static_cast<uint32_t>(i);
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
        t.chroma[static_cast<size_t>(j)] = static_cast<int32_t>((0x8000 + static_cast<int64_t>(j) * t.satScaled) >> 16);
}

void LutBytesPortable(uint8_t* out, const uint8_t* in, size_t count, const uint8_t* table) {
    for (size_t k = 0; k < count; ++k) out[k] = table[in[k]];
}

FilterContext::FilterContext(const CpuInfo* cpu)
    : lut(LutBytesPortable),
      sharpenRow(nullptr),
      columnSums(nullptr),
      hueSaturationRow(nullptr),
      lutName("portable"),
      sharpenName("portable"),
      hueSaturationName("portable") {
#if defined(__x86_64__) || defined(__i386__)
    if (cpu != nullptr && CpuHas(*cpu, kCpuSse2)) {
        if (CpuHasWide(*cpu, kCpuAvx512Vbmi)) {
            lut = LutBytesAvx512Vbmi;
            lutName = "avx512vbmi";
        }
        const bool avx2 = CpuHasWide(*cpu, kCpuAvx2);
        sharpenRow = avx2 ? SharpenRowAvx2 : SharpenRowSse2;
        columnSums = avx2 ? ColumnSumsAvx2 : ColumnSumsSse2;
        sharpenName = avx2 ? "avx2" : "sse2";
        if (avx2) {
            hueSaturationRow = HueSaturationRowAvx2;
            hueSaturationName = "avx2";
        }
    }
#else
    (void)cpu;
#endif
}

const uint8_t* FilterContext::Gamma8(int32_t gamma) {
    if (gamma8_.key != gamma) {
        uint16_t wide[256];
        BuildGammaTable(gamma, 255, wide);
        gamma8_.table.assign(wide, wide + 256);
        gamma8_.key = gamma;
    }
    return gamma8_.table.data();
}

const uint16_t* FilterContext::Gamma16(int32_t gamma) {
    if (gamma16_.key != gamma) {
        gamma16_.table.resize(1024);
        BuildGammaTable(gamma, 1023, gamma16_.table.data());
        gamma16_.key = gamma;
    }
    return gamma16_.table.data();
}

const uint8_t* FilterContext::Contrast8(int32_t contrast) {
    if (contrast8_.key != contrast) {
        uint16_t wide[256];
        BuildContrastTable(contrast, ContrastRule::k8, wide);
        contrast8_.table.assign(wide, wide + 256);
        contrast8_.key = contrast;
    }
    return contrast8_.table.data();
}

const uint16_t* FilterContext::ContrastGray16(int32_t contrast) {
    if (contrastGray16_.key != contrast) {
        contrastGray16_.table.resize(1024);
        BuildContrastTable(contrast, ContrastRule::kGray16, contrastGray16_.table.data());
        contrastGray16_.key = contrast;
    }
    return contrastGray16_.table.data();
}

const uint16_t* FilterContext::ContrastColor16(int32_t contrast) {
    if (contrastColor16_.key != contrast) {
        contrastColor16_.table.resize(1024);
        BuildContrastTable(contrast, ContrastRule::kColor16, contrastColor16_.table.data());
        contrastColor16_.key = contrast;
    }
    return contrastColor16_.table.data();
}

const HueSaturationTables& FilterContext::HueSaturation8(int32_t saturation, int32_t lightness) {
    if (!HueSaturationCurrent(hueSat8_, 255, saturation, lightness))
        BuildHueSaturationTables(saturation, lightness, 255, hueSat8_);
    return hueSat8_;
}

const HueSaturationTables& FilterContext::HueSaturation16(int32_t saturation, int32_t lightness) {
    if (!HueSaturationCurrent(hueSat16_, 1023, saturation, lightness))
        BuildHueSaturationTables(saturation, lightness, 1023, hueSat16_);
    return hueSat16_;
}

ZELVIK_FILTER_KERNEL(HueSaturation8) {
    const HueSaturationParams* params = KernelParam<HueSaturationParams>(p1);
    if (params == nullptr || dstBpp < 3 || srcBpp < 3) return 1;
    const ZELVIK_KERNEL_FRAME;
    FilterContext* ctx = Context(p2);
    HueSaturationTables local;
    const HueSaturationTables& tables = ctx ? ctx->HueSaturation8(params->saturation, params->lightness)
                                            : (BuildHueSaturationTables(params->saturation, params->lightness, 255, local), local);
    return HueSaturation(
        f, *params, tables, 1, [](const uint8_t* p) { return static_cast<int32_t>(*p); },
        [](uint8_t* p, int32_t v) { *p = static_cast<uint8_t>(v); }, ctx ? ctx->hueSaturationRow : nullptr);
}

ZELVIK_FILTER_KERNEL(HueSaturation16) {
    const HueSaturationParams* params = KernelParam<HueSaturationParams>(p1);
    if (params == nullptr || dstBpp < 6 || srcBpp < 6) return 1;
    const ZELVIK_KERNEL_FRAME;
    FilterContext* ctx = Context(p2);
    HueSaturationTables local;
    const HueSaturationTables& tables = ctx ? ctx->HueSaturation16(params->saturation, params->lightness)
                                            : (BuildHueSaturationTables(params->saturation, params->lightness, 1023, local), local);
    return HueSaturation(f, *params, tables, 2, Sample10, PutWord);
}

ZELVIK_FILTER_KERNEL(GammaGray8) {
    const ZELVIK_KERNEL_FRAME;
    return Gamma8(f, p1, p2, 1);
}
ZELVIK_FILTER_KERNEL(GammaColor8) {
    const ZELVIK_KERNEL_FRAME;
    return Gamma8(f, p1, p2, 3);
}
ZELVIK_FILTER_KERNEL(GammaGray16) {
    const ZELVIK_KERNEL_FRAME;
    return Gamma16(f, p1, p2, 1);
}
ZELVIK_FILTER_KERNEL(GammaColor16) {
    const ZELVIK_KERNEL_FRAME;
    return Gamma16(f, p1, p2, 3);
}
ZELVIK_FILTER_KERNEL(ContrastGray8) {
    const ZELVIK_KERNEL_FRAME;
    return Contrast8(f, p1, p2, 1);
}
ZELVIK_FILTER_KERNEL(ContrastColor8) {
    const ZELVIK_KERNEL_FRAME;
    return Contrast8(f, p1, p2, 3);
}
ZELVIK_FILTER_KERNEL(ContrastGray16) {
    const ZELVIK_KERNEL_FRAME;
    return Contrast16(f, p1, p2, 1, ContrastRule::kGray16);
}
ZELVIK_FILTER_KERNEL(ContrastColor16) {
    const ZELVIK_KERNEL_FRAME;
    return Contrast16(f, p1, p2, 3, ContrastRule::kColor16);
}
ZELVIK_FILTER_KERNEL(SharpenGray8) {
    const ZELVIK_KERNEL_FRAME;
    return Sharpen8(f, p1, p2, 1);
}
ZELVIK_FILTER_KERNEL(SharpenColor8) {
    const ZELVIK_KERNEL_FRAME;
    return Sharpen8(f, p1, p2, 3);
}
ZELVIK_FILTER_KERNEL(SharpenGray16) {
    (void)p2;
    const ZELVIK_KERNEL_FRAME;
    return Sharpen16(f, p1, 1);
}
ZELVIK_FILTER_KERNEL(SharpenColor16) {
    (void)p2;
    const ZELVIK_KERNEL_FRAME;
    return Sharpen16(f, p1, 3);
}
ZELVIK_FILTER_KERNEL(BrightnessGray8) {
    const ZELVIK_KERNEL_FRAME;
    return Brightness8(f, p1, p2, 1);
}
ZELVIK_FILTER_KERNEL(BrightnessColor8) {
    const ZELVIK_KERNEL_FRAME;
    return Brightness8(f, p1, p2, 3);
}
ZELVIK_FILTER_KERNEL(BrightnessGray16) {
    (void)p2;
    const ZELVIK_KERNEL_FRAME;
    return Brightness16(f, p1, 1);
}
ZELVIK_FILTER_KERNEL(BrightnessColor16) {
    (void)p2;
    const ZELVIK_KERNEL_FRAME;
    return Brightness16(f, p1, 3);
}

}  // namespace zelvik
