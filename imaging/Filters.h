// Image filter kernels (hue/saturation, gamma, contrast, sharpness, brightness), their vector forms and
// the per-instance context of cached tables.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/FrameKernel.h"
#include "imaging/VectorForms.h"

namespace zelvik {

// Hue/saturation parameter block: hue (low 8 bits count), lightness (0), saturation (-256 = gray), 10.
struct HueSaturationParams {
    int32_t hue;
    int32_t lightness;
    int32_t saturation;
    int32_t reserved;
};

// The fixed-point tables of the hue/saturation adjustment for one sample depth and one setting.
struct HueSaturationTables {
    int32_t top = 0;                   // 255 or 1023
    int32_t satScaled = 0;             // (saturation + 256) << 8
    int32_t lightScaled = 0;           // lightness << 8
    std::vector<uint32_t> reciprocal;  // 0xFF0000 / C (hue fraction in 1/255 of a sector)
    std::vector<int32_t> lightness;    // L[sum]
    std::vector<int32_t> limit;        // M[sum]: the chroma that keeps every channel in range
    std::vector<int32_t> chroma;       // (0x8000 + C x satScaled) >> 16
};

// Vector forms, each family's bodies by VectorForm (null function: the portable loop).
// A run of bytes through a 256-entry table: out[k] = table[in[k]] (in may equal out).
struct LutRows {
    VectorForm form;
    void (*bytes)(uint8_t* out, const uint8_t* in, size_t count, const uint8_t* table);
};
// Sharpening of one 8-bit row (see SharpenSimd.inl) and the window's column sums; each returns the
// first byte it did not do.
struct SharpenRows {
    VectorForm form;
    int32_t (*row)(uint8_t* out, const uint8_t* center, const uint16_t* columnSums, int32_t begin,
                   int32_t end, int32_t pitch, int32_t strength);
    int32_t (*columnSums)(uint16_t* sums, const uint8_t* const rows[4], int32_t count);
};
// Hue/saturation of one row of 8-bit colour pixels (pitch 3 or 4); returns the pixels done.
struct HueSaturationRows {
    VectorForm form;
    int32_t (*row)(uint8_t* out, const uint8_t* in, int32_t count, uint32_t pitch,
                   const HueSaturationTables& tables, int32_t sector, int32_t fraction);
};
extern FormTable<LutRows> kLutRows;
extern FormTable<SharpenRows> kSharpenRows;
extern FormTable<HueSaturationRows> kHueSaturationRows;
extern const LutRows kLutAvx512;
extern const SharpenRows kSharpenSse2, kSharpenAvx2;
extern const HueSaturationRows kHueSaturationAvx2;

// The filters' forms chosen for a processor (ChooseImagingKernels); by default the portable ones.
struct FilterForms {
    const LutRows* lut = kLutRows[0];
    const SharpenRows* sharpen = kSharpenRows[0];
    const HueSaturationRows* hueSaturation = kHueSaturationRows[0];
};

// Gamma, contrast and brightness as one lookup (ToneCurve); a setting at its neutral value (gamma 100,
// contrast 0, brightness 0) takes no part, as the frame path skips that filter.
struct ToneSettings {
    int32_t gamma = 100;
    int32_t contrast = 0;
    int32_t brightness = 0;
    bool Neutral() const { return gamma == 100 && contrast == 0 && brightness == 0; }
    bool operator==(const ToneSettings&) const = default;
};

// Per camera instance: tables cached for the last setting of each kind (rebuilt only when the setting
// changes) and the filters' vector forms. Without a context a kernel builds its tables per call and runs
// its portable form. Used by one thread at a time, like the buffers it filters.
class FilterContext {
public:
    explicit FilterContext(const FilterForms& forms = FilterForms{});

    const uint8_t* Gamma8(int32_t gamma);
    const uint16_t* Gamma16(int32_t gamma);
    const uint8_t* Contrast8(int32_t contrast);
    const uint16_t* ContrastGray16(int32_t contrast);
    const uint16_t* ContrastColor16(int32_t contrast);
    // The composed tone table of the 8-bit, gray 16-bit or colour 16-bit samples (the contrast rule
    // differs between the last two).
    const uint8_t* Tone8(const ToneSettings& tone);
    const uint16_t* Tone16(const ToneSettings& tone, bool gray);
    const HueSaturationTables& HueSaturation8(int32_t saturation, int32_t lightness);
    const HueSaturationTables& HueSaturation16(int32_t saturation, int32_t lightness);

    const FilterForms& Forms() const { return forms_; }

private:
    // The table of one kind, built for the setting in key and kept until another setting is asked for.
    template <class T>
    struct Cached {
        std::optional<int32_t> key;
        std::vector<T> table;
        // The table of entries values for setting; build(uint16_t*) fills them when the setting changed.
        template <class Build>
        const T* For(int32_t setting, size_t entries, Build build);
    };
    FilterForms forms_;
    Cached<uint8_t> gamma8_, contrast8_;
    Cached<uint16_t> gamma16_, contrastGray16_, contrastColor16_;
    // The composed tone tables, each for the last settings asked for.
    struct CachedTone {
        std::optional<ToneSettings> key;
        std::vector<uint16_t> table;
    };
    CachedTone tone8_, toneGray16_, toneColor16_;
    std::vector<uint8_t> tone8Bytes_;
    HueSaturationTables hueSat8_, hueSat16_;
};

// Table builders, also used when no context is given. top: 255 or 1023.
void BuildGammaTable(int32_t gamma, int32_t top, uint16_t* table);
enum class ContrastRule { k8, kGray16, kColor16 };
void BuildContrastTable(int32_t contrast, ContrastRule rule, uint16_t* table);
void BuildBrightnessTable(int32_t brightness, int32_t top, uint16_t* table);
// Every sample value 0..top through gamma, contrast and brightness in turn (the non-neutral ones), as the
// three lookups one after the other give it: 256 or 1024 entries.
void BuildToneTable(const ToneSettings& tone, int32_t top, ContrastRule rule, uint16_t* table);
void BuildHueSaturationTables(int32_t saturation, int32_t lightness, int32_t top,
                              HueSaturationTables& tables);

// The samples a filter works on: 8-bit gray, 16-bit gray, 24/32-bit colour (bytes 0..2), 48/64-bit
// colour (words 0..2). 16-bit samples above 1023 count as 1023.
enum class FilterSamples { kGray8, kGray16, kColor8, kColor16 };
// What a filter runs on: the samples and the camera's context (null: tables per call, portable forms).
struct FilterTarget {
    FilterSamples samples;
    FilterContext* context;
};

// Filter kernels: in place (source = destination), except sharpness, whose source is the unfiltered
// copy. Each takes its setting and the target; all return 1.
using FilterKernel = FrameKernelOf<int32_t, const FilterTarget&>;
int Gamma(const KernelFrame& f, int32_t gamma, const FilterTarget& target);
int Contrast(const KernelFrame& f, int32_t contrast, const FilterTarget& target);
int Brightness(const KernelFrame& f, int32_t brightness, const FilterTarget& target);
// Gamma, then contrast, then brightness (each skipped at its neutral value) in one lookup per sample: the
// same bytes as the three kernels in turn.
int ToneCurve(const KernelFrame& f, const ToneSettings& tone, const FilterTarget& target);
int Sharpen(const KernelFrame& f, int32_t strength, const FilterTarget& target);
// Output rows [rowFrom, rowTo) of Sharpen; a row reads source rows y-2 .. y+1.
int SharpenBand(const KernelFrame& f, int32_t strength, const FilterTarget& target, int32_t rowFrom, int32_t rowTo);
// Colour samples only (gray targets are left as they are).
int HueSaturation(const KernelFrame& f, const HueSaturationParams& params, const FilterTarget& target);

}  // namespace zelvik
