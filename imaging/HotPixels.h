// Hot-pixel correction of raw 8-bit mosaics and its vector forms.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/Bayer.h"
#include "imaging/FrameKernel.h"
#include "imaging/VectorForms.h"

namespace zelvik {

// A vector screen: tests [jFrom, jTo) of the row in groups and returns the first column of the first
// group that holds a candidate (or where the whole groups end), so that the kernel treats from there one
// sample at a time. Null in the portable form.
using HotPixelScreenFn = int32_t (*)(const uint8_t* row, size_t stride, int32_t jFrom, int32_t jTo,
                                     int32_t threshold);
struct HotPixelScreen {
    VectorForm form;
    HotPixelScreenFn screen;
    int32_t group;  // samples per screened group
};
extern FormTable<HotPixelScreen> kHotPixelScreens;
extern const HotPixelScreen kHotPixelScreenSse2, kHotPixelScreenAvx2;

// Bright outliers, in place on the destination rectangle: a sample at least threshold above the mean of
// its four same-colour neighbours, whose demosaiced colour differs by more than 30 in at least two channel
// pairs, becomes that mean. Every form gives the same result. Returns the number of samples replaced.
int CorrectHotPixels(const KernelFrame& f, const BayerParams& params, int32_t threshold,
                     const HotPixelScreen& screen);
// The same for rows [rowFrom, rowTo) of the rectangle only. A row reads the two rows above it as already
// corrected and the two below as not yet: bands run top to bottom, each starting where the last one
// ended, give exactly the whole rectangle's result.
int CorrectHotPixelsBand(const KernelFrame& f, const BayerParams& params, int32_t threshold,
                         const HotPixelScreen& screen, int32_t rowFrom, int32_t rowTo);

}  // namespace zelvik
