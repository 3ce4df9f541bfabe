// Set-up of the processor-dependent kernel forms and their names.
#include "imaging/Kernels.h"

namespace zelvik {

ImagingKernels ChooseImagingKernels(const CpuInfo& cpu) {
    return ImagingKernels{ChooseDemosaicKernels(cpu), ChooseSiteGainKernel(cpu), ChooseHotPixelKernel(cpu)};
}

#if defined(__x86_64__) || defined(__i386__)
#define ZELVIK_BASE_VECTOR " (sse2)"
#else
#define ZELVIK_BASE_VECTOR " (portable)"
#endif

const char* KernelName(FrameKernel kernel) {
    struct Entry {
        FrameKernel kernel;
        const char* name;
    };
    static const Entry kEntries[] = {
        {DemosaicInterior, "DemosaicInterior (portable)"},
        {DemosaicInteriorFast8, "DemosaicInteriorFast8" ZELVIK_BASE_VECTOR},
        {DemosaicInteriorFast16, "DemosaicInteriorFast16" ZELVIK_BASE_VECTOR},
        {DemosaicBorder, "DemosaicBorder (portable)"},
        {DemosaicInterior16, "DemosaicInterior16 (portable)"},
        {DemosaicBorder16, "DemosaicBorder16 (portable)"},
        {ApplySiteGains, "ApplySiteGains (portable)"},
        {ApplySiteGainsFast, "ApplySiteGainsFast" ZELVIK_BASE_VECTOR},
        {CorrectHotPixels, "CorrectHotPixels (portable)"},
#if defined(__x86_64__) || defined(__i386__)
        {DemosaicInteriorSse2, "DemosaicInterior (sse2)"},
        {DemosaicInteriorAvx2, "DemosaicInterior (avx2)"},
        {DemosaicInteriorFast8Avx2, "DemosaicInteriorFast8 (avx2)"},
        {DemosaicInteriorFast16Avx2, "DemosaicInteriorFast16 (avx2)"},
        {DemosaicInterior16Sse2, "DemosaicInterior16 (sse2)"},
        {DemosaicInterior16Avx2, "DemosaicInterior16 (avx2)"},
        {DemosaicInteriorAvx512, "DemosaicInterior (avx512)"},
        {DemosaicInterior16Avx512, "DemosaicInterior16 (avx512)"},
        {DemosaicBorderSse2, "DemosaicBorder (sse2)"},
        {DemosaicBorderAvx2, "DemosaicBorder (avx2)"},
        {DemosaicBorder16Sse2, "DemosaicBorder16 (sse2)"},
        {DemosaicBorder16Avx2, "DemosaicBorder16 (avx2)"},
        {CorrectHotPixelsSse2, "CorrectHotPixels (sse2)"},
        {CorrectHotPixelsAvx2, "CorrectHotPixels (avx2)"},
#endif
    };
    for (const Entry& e : kEntries)
        if (e.kernel == kernel) return e.name;
    return "unknown";
}

std::string DescribeKernels(const ImagingKernels& k, const FilterContext& filters) {
    std::string s;
    s += "demosaic8: " + std::string(KernelName(k.demosaic.fastInterior));
    s += ", demosaic8 portable: " + std::string(KernelName(k.demosaic.interior));
    s += ", demosaic16: " + std::string(KernelName(k.demosaic.interior16));
    s += ", site gains: " + std::string(KernelName(k.siteGains));
    s += ", hot pixels: " + std::string(KernelName(k.hotPixels));
    s += ", lookup tables: " + std::string(filters.lutName);
    s += ", sharpen: " + std::string(filters.sharpenName);
    s += ", hue/saturation: " + std::string(filters.hueSaturationName);
    return s;
}

}  // namespace zelvik
