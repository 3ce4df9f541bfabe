// The lookup-table filters (gamma, contrast, brightness) and their table builders.
#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/FilterDetail.h"

namespace zelvik {

using filter_detail::Channels;
using filter_detail::Sample10;
using filter_detail::Wide;

namespace {

void LutBytesPortable(uint8_t* out, const uint8_t* in, size_t count, const uint8_t* table) {
    for (size_t k = 0; k < count; ++k) out[k] = table[in[k]];
}

// Table lookups over the rectangle; channels 1 (gray) or 3 (bytes/words 0..2 of a colour pixel).
void ApplyTable8(const KernelFrame& f, const uint8_t* table, uint32_t channels, const LutRows& lut) {
    if (f.dstBpp < channels || f.srcBpp < channels) return;
    const bool runs = f.dstBpp == channels && f.srcBpp == channels;
    for (int32_t r = 0; r < f.height; ++r) {
        const uint8_t* in = f.SrcRow(r);
        uint8_t* out = f.DstRow(r);
        if (runs) {
            (lut.bytes ? lut.bytes : LutBytesPortable)(out, in, static_cast<size_t>(f.width) * channels,
                                                       table);
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
            for (uint32_t k = 0; k < channels; ++k) StoreWord(out + 2 * k, table[Sample10(in + 2 * k)]);
    }
}

template <size_t kEntries>
std::vector<uint8_t> Narrowed(const uint16_t (&wide)[kEntries]) {
    return std::vector<uint8_t>(wide, wide + kEntries);
}

void Gamma8(const KernelFrame& f, int32_t g, FilterContext* ctx, uint32_t channels) {
    if (ctx) {
        ApplyTable8(f, ctx->Gamma8(g), channels, *ctx->Forms().lut);
    } else {
        uint16_t wide[256];
        BuildGammaTable(g, 255, wide);
        ApplyTable8(f, Narrowed(wide).data(), channels, *kLutRows[0]);
    }
}

void Gamma16(const KernelFrame& f, int32_t g, FilterContext* ctx, uint32_t channels) {
    if (ctx) {
        ApplyTable16(f, ctx->Gamma16(g), channels);
    } else {
        std::vector<uint16_t> table(1024);
        BuildGammaTable(g, 1023, table.data());
        ApplyTable16(f, table.data(), channels);
    }
}

void Contrast8(const KernelFrame& f, int32_t c, FilterContext* ctx, uint32_t channels) {
    if (ctx) {
        ApplyTable8(f, ctx->Contrast8(c), channels, *ctx->Forms().lut);
    } else {
        uint16_t wide[256];
        BuildContrastTable(c, ContrastRule::k8, wide);
        ApplyTable8(f, Narrowed(wide).data(), channels, *kLutRows[0]);
    }
}

void Contrast16(const KernelFrame& f, int32_t c, FilterContext* ctx, uint32_t channels, ContrastRule rule) {
    if (ctx) {
        ApplyTable16(f, rule == ContrastRule::kGray16 ? ctx->ContrastGray16(c) : ctx->ContrastColor16(c),
                     channels);
    } else {
        uint16_t table[1024];
        BuildContrastTable(c, rule, table);
        ApplyTable16(f, table, channels);
    }
}

// The brightness table is a few hundred multiplications: built per call.
void Brightness8(const KernelFrame& f, int32_t b, FilterContext* ctx, uint32_t channels) {
    uint16_t wide[256];
    BuildBrightnessTable(b, 255, wide);
    ApplyTable8(f, Narrowed(wide).data(), channels, ctx ? *ctx->Forms().lut : *kLutRows[0]);
}

void Brightness16(const KernelFrame& f, int32_t b, uint32_t channels) {
    uint16_t table[1024];
    BuildBrightnessTable(b, 1023, table);
    ApplyTable16(f, table, channels);
}

}  // namespace

void BuildGammaTable(int32_t gamma, int32_t top, uint16_t* table) {
    double h = gamma <= 100 ? gamma * 0.01 : (gamma - 100) * 0.1 + 1.0;
    if (h <= 0.001)
        h = 0.001;
    else if (h >= 99.999)
        h = 99.999;
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
        if (i < c)
            table[i] = 0;
        else if (i > top - c)
            table[i] = static_cast<uint16_t>(top);
        else
            table[i] = static_cast<uint16_t>(static_cast<int32_t>(scale * static_cast<double>(i - c)));
    }
}

void BuildBrightnessTable(int32_t brightness, int32_t top, uint16_t* table) {
    double factor = 1.0;
    if (brightness > 0)
        factor = 1.0 + brightness * 0.0392156862745098;
    else if (brightness < 0)
        factor = 1.0 - (-static_cast<double>(brightness)) * 0.00392156862745098;
    for (int32_t s = 0; s <= top; ++s) {
        const double v = std::trunc(s * factor);
        table[s] = static_cast<uint16_t>(std::clamp(v, 0.0, static_cast<double>(top)));
    }
}

void BuildToneTable(const ToneSettings& tone, int32_t top, ContrastRule rule, uint16_t* table) {
    const size_t entries = static_cast<size_t>(top) + 1;
    std::vector<uint16_t> gamma(entries), contrast(entries), brightness(entries);
    if (tone.gamma != 100) BuildGammaTable(tone.gamma, top, gamma.data());
    if (tone.contrast != 0) BuildContrastTable(tone.contrast, rule, contrast.data());
    if (tone.brightness != 0) BuildBrightnessTable(tone.brightness, top, brightness.data());
    filter_detail::ComposeTone(table, top, tone.gamma != 100 ? gamma.data() : nullptr,
                               tone.contrast != 0 ? contrast.data() : nullptr,
                               tone.brightness != 0 ? brightness.data() : nullptr);
}

int ToneCurve(const KernelFrame& f, const ToneSettings& tone, const FilterTarget& target) {
    if (tone.Neutral()) return 1;
    const uint32_t channels = Channels(target.samples);
    FilterContext* ctx = target.context;
    if (!Wide(target.samples)) {
        if (ctx) {
            ApplyTable8(f, ctx->Tone8(tone), channels, *ctx->Forms().lut);
        } else {
            uint16_t wide[256];
            BuildToneTable(tone, 255, ContrastRule::k8, wide);
            ApplyTable8(f, Narrowed(wide).data(), channels, *kLutRows[0]);
        }
        return 1;
    }
    const bool gray = channels == 1;
    if (ctx) {
        ApplyTable16(f, ctx->Tone16(tone, gray), channels);
    } else {
        std::vector<uint16_t> table(1024);
        BuildToneTable(tone, 1023, gray ? ContrastRule::kGray16 : ContrastRule::kColor16, table.data());
        ApplyTable16(f, table.data(), channels);
    }
    return 1;
}

int Gamma(const KernelFrame& f, int32_t gamma, const FilterTarget& target) {
    if (Wide(target.samples))
        Gamma16(f, gamma, target.context, Channels(target.samples));
    else
        Gamma8(f, gamma, target.context, Channels(target.samples));
    return 1;
}

int Contrast(const KernelFrame& f, int32_t contrast, const FilterTarget& target) {
    const uint32_t channels = Channels(target.samples);
    if (!Wide(target.samples))
        Contrast8(f, contrast, target.context, channels);
    else
        Contrast16(f, contrast, target.context, channels,
                   channels == 1 ? ContrastRule::kGray16 : ContrastRule::kColor16);
    return 1;
}

int Brightness(const KernelFrame& f, int32_t brightness, const FilterTarget& target) {
    if (Wide(target.samples))
        Brightness16(f, brightness, Channels(target.samples));
    else
        Brightness8(f, brightness, target.context, Channels(target.samples));
    return 1;
}

const LutRows kLutPortable{VectorForm::kPortable, nullptr};

FormTable<LutRows> kLutRows = {
    &kLutPortable,
    nullptr,
    nullptr,
#if defined(__x86_64__) || defined(__i386__)
    &kLutAvx512,
#else
    nullptr,
#endif
};

}  // namespace zelvik
