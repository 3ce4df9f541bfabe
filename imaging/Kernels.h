// The image-processing subsystem in one include: every kernel family and the set-up that chooses the
// processor-dependent forms once per camera instance.
#pragma once

#include <string>

#include "imaging/Bayer.h"
#include "imaging/Convert.h"
#include "imaging/CpuInfo.h"
#include "imaging/Demosaic.h"
#include "imaging/Filters.h"
#include "imaging/FrameBuffer.h"
#include "imaging/Measure.h"
#include "imaging/Scale.h"
#include "imaging/SiteGains.h"

namespace zelvik {

// The kernel forms for one processor record, chosen once at set-up.
struct ImagingKernels {
    DemosaicKernels demosaic;
    FrameKernel siteGains;  // ApplySiteGainsFast or ApplySiteGains
    FrameKernel hotPixels;  // CorrectHotPixels in its widest implementation
};

ImagingKernels ChooseImagingKernels(const CpuInfo& cpu);

// The name of a kernel and, for vector implementations, their instruction set, e.g.
// "DemosaicInteriorFast16 (avx2)"; "unknown" for anything else.
const char* KernelName(FrameKernel kernel);

// One line naming every chosen form (for logs and the tools).
std::string DescribeKernels(const ImagingKernels& kernels, const FilterContext& filters);

}  // namespace zelvik
