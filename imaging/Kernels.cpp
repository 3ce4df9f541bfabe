// The choice of every processor-dependent kernel form, and their names.
#include "imaging/Kernels.h"

#include "imaging/DemosaicDetail.h"

namespace zelvik {

const char* VectorFormName(VectorForm form) {
    switch (form) {
        case VectorForm::kSse2:
            return "sse2";
        case VectorForm::kAvx2:
            return "avx2";
        case VectorForm::kAvx512:
            return "avx512";
        default:
            return "portable";
    }
}

VectorForm WidestVectorForm(const CpuInfo& cpu) {
#if defined(__x86_64__) || defined(__i386__)
    if (!CpuHas(cpu, kCpuSse2)) return VectorForm::kPortable;
    if (!CpuHasWide(cpu, kCpuAvx2)) return VectorForm::kSse2;
    return CpuHasWide(cpu, kCpuAvx512Vbmi) ? VectorForm::kAvx512 : VectorForm::kAvx2;
#else
    (void)cpu;
    return VectorForm::kPortable;
#endif
}

ImagingKernels ChooseImagingKernels(const CpuInfo& cpu) {
    const VectorForm widest = WidestVectorForm(cpu);
    const detail::DemosaicRows& rows = WidestUpTo(kDemosaicRows, widest);
    // The variant follows the classic feature bits exactly; the vector form only the widest usable set.
    DemosaicVariant fast = DemosaicVariant::kPortable;
    if (CpuHas(cpu, kCpuSse3) || CpuHas(cpu, kCpuSse2))
        fast = DemosaicVariant::kFast16;
    else if (CpuHas(cpu, kCpuMmx))
        fast = DemosaicVariant::kFast8;

    ImagingKernels k{};
    k.demosaic = DemosaicKernels{{DemosaicVariant::kPortable, &rows}, {fast, &rows}};
    k.siteGains = CpuHas(cpu, kCpuSse2) || CpuHas(cpu, kCpuMmx) ? ApplySiteGainsFast : ApplySiteGains;
    k.hotPixels = &WidestUpTo(kHotPixelScreens, widest);
    k.filters.lut = &WidestUpTo(kLutRows, widest);
    k.filters.sharpen = &WidestUpTo(kSharpenRows, widest);
    k.filters.hueSaturation = &WidestUpTo(kHueSaturationRows, widest);
    return k;
}

namespace {
const char* VariantName(DemosaicVariant v) {
    switch (v) {
        case DemosaicVariant::kFast8:
            return "fast8";
        case DemosaicVariant::kFast16:
            return "fast16";
        default:
            return "portable";
    }
}
}  // namespace

std::string DescribeKernelForms(const ImagingKernels& k) {
    std::string s = "demosaic ";
    s += VectorFormName(FormOf(*k.demosaic.interior.rows));
    s += " (" + std::string(VariantName(k.demosaic.fastInterior.variant)) + ")";
    s += ", site gains " + std::string(k.siteGains == ApplySiteGainsFast ? "fast" : "portable");
    s += ", hot pixels " + std::string(VectorFormName(k.hotPixels->form));
    s += ", sharpen " + std::string(VectorFormName(k.filters.sharpen->form));
    s += ", lookup tables " + std::string(VectorFormName(k.filters.lut->form));
    s += ", hue/saturation " + std::string(VectorFormName(k.filters.hueSaturation->form));
    return s;
}

const std::string& HostKernelForms() {
    static const std::string description = [] {
        CpuInfo cpu{};
        DetectProcessor(&cpu);
        return DescribeKernelForms(ChooseImagingKernels(cpu));
    }();
    return description;
}

}  // namespace zelvik
