// Bayer demosaic kernels (8- and 16-bit), their forms and the per-frame pass.
#pragma once

#include <cstdint>

#include "imaging/Bayer.h"
#include "imaging/FrameBuffer.h"
#include "imaging/FrameKernel.h"
#include "imaging/VectorForms.h"

namespace zelvik {

namespace detail {
struct DemosaicRows;
}

// Which interior columns take the fast arithmetic (floor(S/16) x g) >> 7 instead of (S x g) >> 11:
// kFast8 columns 14 .. W-3, kFast16 columns 14 .. X0+1 with X0 = 16 x ((W-4) / 16), both only for gains
// <= 200; kPortable none.
enum class DemosaicVariant { kPortable, kFast8, kFast16 };

// What a demosaic kernel runs: the variant's arithmetic in one vector form (the same bytes in each).
struct DemosaicForm {
    DemosaicVariant variant;
    const detail::DemosaicRows* rows;  // an entry of kDemosaicRows
};

// The vector bodies of the demosaic by VectorForm (see VectorForms.h).
extern FormTable<detail::DemosaicRows> kDemosaicRows;
VectorForm FormOf(const detail::DemosaicRows& rows);

// All run through FrameBuffer::Apply on the destination with the raw buffer as source. Output pixel
// (x, r) is the colour at the centre of the block of columns x-1, x and rows r-1, r. All return 1.

// Interior rows and columns 2 .. n-3, 8-bit mosaic to 24/32 bits: (S x g) >> 11, limited to 255, in
// the columns the variant leaves to it.
int DemosaicInterior(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form);
// The two outermost rows and columns, with same-colour samples four pixels inwards for missing ones.
int DemosaicBorder(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form);
// Both of the above in one walk over the rows (the interior in its form, the border in border's), with
// the same bytes as DemosaicInterior followed by DemosaicBorder.
int DemosaicFrame(const KernelFrame& f, const BayerParams& params, const DemosaicForm& interior,
                  const DemosaicForm& border);
// Rows [rowFrom, rowTo) of DemosaicFrame, each row whole: every output row depends only on the source, so
// bands that together cover the rows give DemosaicFrame's bytes. A band reads source rows rowFrom - 2 ..
// rowTo (rows 0 and 1 read rows up to 3, rows H-2 and H-1 rows from H-4). Rectangles below 4 x 4 are done
// whole by the band that ends at their last row.
int DemosaicFrameBand(const KernelFrame& f, const BayerParams& params, const DemosaicForm& interior,
                      const DemosaicForm& border, int32_t rowFrom, int32_t rowTo);
// 10-bit samples in 16-bit words to 48/64 bits; red and blue 1023 when S x g > 0x1FFFFF.
int DemosaicInterior16(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form);
int DemosaicBorder16(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form);
// Rows [rowFrom, rowTo) of the 16-bit interior and border pair, as DemosaicFrameBand for 8 bits.
int DemosaicBand16(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form, int32_t rowFrom,
                   int32_t rowTo);

// The forms chosen once for a processor: both in its widest vector form; the fast interior's variant
// is Fast16 when SSE3 or SSE2 is reported and usable, else Fast8 with MMX, else portable.
struct DemosaicKernels {
    DemosaicForm interior;      // portable arithmetic (32-bit destinations, gains above 200), borders, 16-bit
    DemosaicForm fastInterior;  // 24-bit destinations with gains <= 200
};

// The interior form a frame takes: the portable arithmetic for 32-bit destinations or any gain above 200.
const DemosaicForm& SelectDemosaicInterior(const DemosaicKernels& kernels, uint16_t destBitsPerPixel,
                                           const BayerParams& params);

// Demosaics source into destination: 16-bit sources through the 16-bit pair, 8-bit sources through the
// selected interior, then the border. White-balance measurement is the caller's (MeasureWhiteBalance*).
int DemosaicPass(FrameBuffer& destination, FrameBuffer& source, const BayerParams& params,
                 const DemosaicKernels& kernels);
// Output rows [rowFrom, rowTo) of DemosaicPass (the same kernels, through their band forms).
int DemosaicPassBand(FrameBuffer& destination, FrameBuffer& source, const BayerParams& params,
                     const DemosaicKernels& kernels, int32_t rowFrom, int32_t rowTo);

}  // namespace zelvik
