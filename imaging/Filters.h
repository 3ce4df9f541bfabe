// Image filter kernels (hue/saturation, gamma, contrast, sharpness, brightness) and their per-instance
// context of cached tables and chosen vector forms.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/CpuInfo.h"
#include "imaging/FrameKernel.h"

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
    int32_t top = 0;             // 255 or 1023
    int32_t satScaled = 0;       // (saturation + 256) << 8
    int32_t lightScaled = 0;     // lightness << 8
    std::vector<uint32_t> reciprocal;  // 0xFF0000 / C (hue fraction in 1/255 of a sector)
    std::vector<int32_t> lightness;    // L[sum]
    std::vector<int32_t> limit;        // M[sum]: the chroma that keeps every channel in range
    std::vector<int32_t> chroma;       // (0x8000 + C x satScaled) >> 16
};

// A run of bytes through a 256-entry table: out[k] = table[in[k]] (in may equal out).
using LutBytesFn = void (*)(uint8_t* out, const uint8_t* in, size_t count, const uint8_t* table);
// Vector sharpening of one row (see SharpenSimd.inl); returns the first byte it did not do.
using SharpenRowFn = int32_t (*)(uint8_t* out, const uint8_t* center, const uint16_t* columnSums, int32_t begin,
                                 int32_t end, int32_t pitch, int32_t strength);
using ColumnSumFn = int32_t (*)(uint16_t* sums, const uint8_t* const rows[4], int32_t count);
// Vector hue/saturation of one row of 8-bit colour pixels (pitch 3 or 4); returns the pixels done.
using HueSaturationRowFn = int32_t (*)(uint8_t* out, const uint8_t* in, int32_t count, uint32_t pitch,
                                       const HueSaturationTables& tables, int32_t sector, int32_t fraction);

// Per camera instance: tables cached for the last setting of each kind (rebuilt only when the setting
// changes) and the vector forms chosen once for the processor. Passed to the filter kernels as p2 (the
// address of a variable holding its address); without it a kernel builds its tables per call and runs
// its portable form. Used by one thread at a time, like the buffers it filters.
class FilterContext {
public:
    explicit FilterContext(const CpuInfo* cpu = nullptr);

    const uint8_t* Gamma8(int32_t gamma);
    const uint16_t* Gamma16(int32_t gamma);
    const uint8_t* Contrast8(int32_t contrast);
    const uint16_t* ContrastGray16(int32_t contrast);
    const uint16_t* ContrastColor16(int32_t contrast);
    const HueSaturationTables& HueSaturation8(int32_t saturation, int32_t lightness);
    const HueSaturationTables& HueSaturation16(int32_t saturation, int32_t lightness);

    LutBytesFn lut;
    SharpenRowFn sharpenRow;  // null: portable
    ColumnSumFn columnSums;
    HueSaturationRowFn hueSaturationRow;  // null: portable
    const char* lutName;
    const char* sharpenName;
    const char* hueSaturationName;

private:
    template <class T>
    struct Cached {
        std::optional<int32_t> key;
        std::vector<T> table;
    };
    Cached<uint8_t> gamma8_, contrast8_;
    Cached<uint16_t> gamma16_, contrastGray16_, contrastColor16_;
    HueSaturationTables hueSat8_, hueSat16_;
};

// Table builders, also used when no context is given. top: 255 or 1023.
void BuildGammaTable(int32_t gamma, int32_t top, uint16_t* table);
enum class ContrastRule { k8, kGray16, kColor16 };
void BuildContrastTable(int32_t contrast, ContrastRule rule, uint16_t* table);
void BuildBrightnessTable(int32_t brightness, int32_t top, uint16_t* table);
void BuildHueSaturationTables(int32_t saturation, int32_t lightness, int32_t top, HueSaturationTables& tables);

// Filter kernels: in place (source = destination), except sharpness, whose source is the unfiltered
// copy. p1: address of a variable holding the address of the int32 setting (HueSaturationParams for
// hue/saturation); p2: the FilterContext as above, or null. Gray8/Gray16/Color8/Color16: 8-bit gray,
// 16-bit gray, 24/32-bit colour, 48/64-bit colour; 16-bit samples above 1023 count as 1023. Return 1.
#define ZELVIK_FILTER_KERNEL(name)                                                                             \
    int name(uint8_t* dst, const uint8_t* src, const Rect* rect, int32_t dstX, int32_t dstY, uint16_t dstBpp,  \
             uint16_t srcBpp, uint32_t dstStride, uint32_t srcStride, void* p1, void* p2)

ZELVIK_FILTER_KERNEL(HueSaturation8);
ZELVIK_FILTER_KERNEL(HueSaturation16);
ZELVIK_FILTER_KERNEL(GammaGray8);
ZELVIK_FILTER_KERNEL(GammaGray16);
ZELVIK_FILTER_KERNEL(GammaColor8);
ZELVIK_FILTER_KERNEL(GammaColor16);
ZELVIK_FILTER_KERNEL(ContrastGray8);
ZELVIK_FILTER_KERNEL(ContrastGray16);
ZELVIK_FILTER_KERNEL(ContrastColor8);
ZELVIK_FILTER_KERNEL(ContrastColor16);
ZELVIK_FILTER_KERNEL(SharpenGray8);
ZELVIK_FILTER_KERNEL(SharpenGray16);
ZELVIK_FILTER_KERNEL(SharpenColor8);
ZELVIK_FILTER_KERNEL(SharpenColor16);
ZELVIK_FILTER_KERNEL(BrightnessGray8);
ZELVIK_FILTER_KERNEL(BrightnessGray16);
ZELVIK_FILTER_KERNEL(BrightnessColor8);
ZELVIK_FILTER_KERNEL(BrightnessColor16);

// Vector bodies, chosen by FilterContext.
void LutBytesPortable(uint8_t* out, const uint8_t* in, size_t count, const uint8_t* table);
#if defined(__x86_64__) || defined(__i386__)
void LutBytesAvx512Vbmi(uint8_t* out, const uint8_t* in, size_t count, const uint8_t* table);
int32_t SharpenRowSse2(uint8_t*, const uint8_t*, const uint16_t*, int32_t, int32_t, int32_t, int32_t);
int32_t SharpenRowAvx2(uint8_t*, const uint8_t*, const uint16_t*, int32_t, int32_t, int32_t, int32_t);
int32_t ColumnSumsSse2(uint16_t*, const uint8_t* const rows[4], int32_t);
int32_t ColumnSumsAvx2(uint16_t*, const uint8_t* const rows[4], int32_t);
int32_t HueSaturationRowAvx2(uint8_t* out, const uint8_t* in, int32_t count, uint32_t pitch,
                             const HueSaturationTables& tables, int32_t sector, int32_t fraction);
#endif

}  // namespace zelvik
