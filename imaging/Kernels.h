// The image-processing subsystem in one include: every kernel family and the one place that chooses
// their processor-dependent forms.
#pragma once

#include <string>

#include "imaging/Bayer.h"
#include "imaging/Convert.h"
#include "imaging/CpuInfo.h"
#include "imaging/Demosaic.h"
#include "imaging/Filters.h"
#include "imaging/FrameBuffer.h"
#include "imaging/HotPixels.h"
#include "imaging/Measure.h"
#include "imaging/Scale.h"
#include "imaging/SiteGains.h"
#include "imaging/VectorForms.h"

namespace zelvik {

// The kernel forms for one processor record, chosen once at set-up: every family in its widest vector
// form the processor runs, the demosaic's fast variant and the site-gain arithmetic by the classic bits.
struct ImagingKernels {
    DemosaicKernels demosaic;
    SiteGainKernel siteGains;  // ApplySiteGainsFast with SSE2 or MMX, else ApplySiteGains
    const HotPixelScreen* hotPixels;
    FilterForms filters;
};

ImagingKernels ChooseImagingKernels(const CpuInfo& cpu);

// One line naming every chosen form, e.g. "demosaic avx2 (fast16), site gains fast, hot pixels avx2,
// sharpen avx2, lookup tables portable, hue/saturation avx2".
std::string DescribeKernelForms(const ImagingKernels& kernels);

// The description for this process's processor (detected once), for the tools.
const std::string& HostKernelForms();

}  // namespace zelvik
