// Bayer demosaic: portable interior and border kernels, the row driver, the variant choice and the pass.
#include "imaging/Demosaic.h"

#include "imaging/DemosaicDetail.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace zelvik {

namespace detail {

namespace {

// Column phase at interior column 2 of interior row i. The walk flips the column phase after every
// visited pixel and never resets it, so with an odd count of interior columns it alternates by row.
int32_t InteriorRowColPhase(BayerMode mode, int32_t width, int32_t i) {
    return ColPhaseOf(mode) ^ (((i - 2) & 1) & ((width - 4) & 1));
}

bool VectorGains(int32_t gR, int32_t gB) { return gR >= 0 && gR <= kMaxVectorGain && gB >= 0 && gB <= kMaxVectorGain; }

// One output row: the four source rows, the output row and the phases of the row.
struct RowJob {
    const uint8_t* rows[4];
    uint8_t* out;
    uint32_t dstBpp, srcBpp;
    int32_t i;       // row index the scalar sampler is relative to
    int32_t pr;
    int32_t pcBase;  // column phase at column 0 of the walk's parity (pc(j) = pcBase ^ (j & 1))
    int32_t gR, gB;
    int32_t PcAt(int32_t j) const { return pcBase ^ (j & 1); }
};

void ScalarPixels8(const RowJob& job, int32_t from, int32_t to, DemosaicArith arith) {
    const RowsSampler<uint8_t> P{job.rows, job.srcBpp, job.i};
    for (int32_t j = from; j < to; ++j)
        WritePixel8(job.out + static_cast<size_t>(j) * job.dstBpp, ComputeBlock(P, j, job.i, job.pr, job.PcAt(j)),
                    job.gR, job.gB, arith);
}

void ScalarPixels16(const RowJob& job, int32_t from, int32_t to) {
    const RowsSampler<uint16_t> P{job.rows, job.srcBpp, job.i};
    for (int32_t j = from; j < to; ++j)
        WritePixel16(job.out + static_cast<size_t>(j) * job.dstBpp, ComputeBlock(P, j, job.i, job.pr, job.PcAt(j)),
                     job.gR, job.gB);
}

// Columns [a, b) with one arithmetic: whole groups, then one more group ending at b (it overlaps the
// previous one and writes the same bytes), and single pixels only when the run is shorter than a group.
void Segment8(const RowJob& job, int32_t a, int32_t b, DemosaicArith arith, const VectorRows8* vec) {
    int32_t j = a;
    if (vec != nullptr && b - a >= vec->group) {
        j = vec->body(job.rows, job.out, job.dstBpp, a, b, job.pr, job.PcAt(a), job.gR, job.gB, arith);
        if (j < b) j = vec->body(job.rows, job.out, job.dstBpp, b - vec->group, b, job.pr, job.PcAt(b - vec->group),
                                 job.gR, job.gB, arith) == b ? b : j;
    }
    ScalarPixels8(job, j, b, arith);
}

void Segment16(const RowJob& job, int32_t a, int32_t b, const VectorRows16* vec) {
    int32_t j = a;
    if (vec != nullptr && b - a >= vec->group) {
        j = vec->body(job.rows, job.out, job.dstBpp, a, b, job.pr, job.PcAt(a), job.gR, job.gB);
        // A body that met samples above 10 bits hands the whole run back.
        if (j > a && j < b)
            j = vec->body(job.rows, job.out, job.dstBpp, b - vec->group, b, job.pr, job.PcAt(b - vec->group), job.gR,
                          job.gB) == b ? b : a;
    }
    ScalarPixels16(job, j, b);
}

RowJob InteriorRow(const KernelFrame& f, const BayerParams& p, int32_t i, int32_t gR, int32_t gB) {
    RowJob job{{f.SrcRow(i - 2), f.SrcRow(i - 1), f.SrcRow(i), f.SrcRow(i + 1)}, f.DstRow(i), f.dstBpp, f.srcBpp, i,
               RowPhaseOf(p.mode) ^ ((i - 2) & 1), InteriorRowColPhase(p.mode, f.width, i), gR, gB};
    return job;  // column 2 is even, so the row's phase at column 2 is also its parity base
}

// The four border rows 0, 1, H-2, H-1 with their substituted source rows (same colour four rows away),
// as visited by the first two strips: strip row s has row phase rp0 ^ (s & 1) and its column phase
// continues from s x W visited pixels.
RowJob BorderRow(const KernelFrame& f, const BayerParams& p, int32_t s, int32_t gR, int32_t gB) {
    const int32_t H = f.height;
    static constexpr int32_t kRows[4][4] = {{2, 3, 0, 1}, {3, 0, 1, 2}, {-4, -3, -2, -1}, {-3, -2, -1, -4}};
    RowJob job{};
    for (int k = 0; k < 4; ++k) {
        const int32_t r = kRows[s][k] < 0 ? H + kRows[s][k] : kRows[s][k];
        job.rows[k] = f.SrcRow(r);
    }
    job.i = s < 2 ? s : H - 4 + s;
    job.out = f.DstRow(job.i);
    job.dstBpp = f.dstBpp;
    job.srcBpp = f.srcBpp;
    job.pr = RowPhaseOf(p.mode) ^ (s & 1);
    job.pcBase = ColPhaseOf(p.mode) ^ ((s & f.width) & 1);
    job.gR = gR;
    job.gB = gB;
    return job;
}

// Border sampling: a sample outside the rectangle is read four rows or columns inwards, where the same
// colour sits. Rectangles narrower or lower than 4 pixels have no such sample; there the coordinate is
// held at the edge so that nothing outside the rectangle is ever read.
int32_t Fold(int32_t v, int32_t n) {
    if (v < 0) v += 4;
    else if (v >= n) v -= 4;
    return std::clamp(v, 0, n - 1);
}

// The 4 x 4 neighbourhood of (j, i) with its rows and columns already folded.
template <class T>
struct FoldedSampler {
    const uint8_t* rows[4];
    size_t cols[4];
    int32_t j, i;
    int32_t operator()(int32_t jj, int32_t ii) const {
        T v;
        std::memcpy(&v, rows[ii - i + 2] + cols[jj - j + 2], sizeof v);
        return v;
    }
};

// Four strips in order: rows 0-1, rows H-2..H-1 (full width), columns 0-1, columns W-2..W-1 (full
// height); each row by row from its left column. One phase walk runs through all of them. With
// firstStrip = 2 the two row strips are taken as done (their columns 2..W-3 by the vector rows);
// two full-width strips of two rows flip both phases an even number of times.
template <class T, class Write>
void RunBorderStrips(const KernelFrame& f, BayerMode mode, int firstStrip, Write write) {
    const int32_t W = f.width, H = f.height;
    struct Strip {
        int32_t row0, row1, col0, col1;  // inclusive
    };
    const Strip strips[4] = {{0, 1, 0, W - 1}, {H - 2, H - 1, 0, W - 1}, {0, H - 1, 0, 1}, {0, H - 1, W - 2, W - 1}};
    int32_t pr = RowPhaseOf(mode), pc = ColPhaseOf(mode);
    for (int s = firstStrip; s < 4; ++s) {
        const Strip& strip = strips[s];
        // Folded column offsets of every column of the strip, once per strip.
        const int32_t columns = strip.col1 - strip.col0 + 1;
        std::vector<std::array<size_t, 4>> cols(static_cast<size_t>(std::max(columns, 0)));
        for (int32_t j = strip.col0; j <= strip.col1; ++j)
            for (int k = 0; k < 4; ++k)
                cols[static_cast<size_t>(j - strip.col0)][k] = static_cast<size_t>(Fold(j - 2 + k, W)) * f.srcBpp;
        for (int32_t i = strip.row0; i <= strip.row1; ++i, pr ^= 1) {
            if (i < 0 || i >= H) continue;  // a strip row outside a very low rectangle: no pixel visited
            FoldedSampler<T> P{};
            P.i = i;
            for (int k = 0; k < 4; ++k) P.rows[k] = f.SrcRow(Fold(i - 2 + k, H));
            uint8_t* out = f.DstRow(i);
            for (int32_t j = strip.col0; j <= strip.col1; ++j) {
                if (j < 0 || j >= W) continue;
                P.j = j;
                const std::array<size_t, 4>& c = cols[static_cast<size_t>(j - strip.col0)];
                P.cols[0] = c[0], P.cols[1] = c[1], P.cols[2] = c[2], P.cols[3] = c[3];
                write(out + static_cast<size_t>(j) * f.dstBpp, ComputeBlock(P, j, i, pr, pc));
                pc ^= 1;
            }
        }
    }
}


// afterRow(i) runs once each interior row i is done (the whole pass does the row's border columns there).
// Only the interior rows in [rowFrom, rowTo) are done; each row's bytes do not depend on the others.
template <class AfterRow>
int RunDemosaicInterior8(const KernelFrame& f, const BayerParams* params, DemosaicVariant variant, VectorRows8 vec,
                         AfterRow afterRow, int32_t rowFrom = 0, int32_t rowTo = INT32_MAX) {
    const int32_t W = f.width, H = f.height;
    if (H <= 4 || W <= 4 || f.dstBpp < 3) return 1;
    const int32_t gR = FixedGain(params->redGain), gB = FixedGain(params->blueGain);
    const bool fastGains = gR >= 0 && gR <= kMaxFastGain && gB >= 0 && gB <= kMaxFastGain;
    int32_t fastTo = 0;  // exclusive; outside their gain range the fast forms give the portable result
    if (variant == DemosaicVariant::kFast8) fastTo = W - 2;
    if (variant == DemosaicVariant::kFast16) fastTo = 16 * ((W - 4) / 16) + 2;
    const bool fast = fastGains && fastTo > 14;
    const VectorRows8* v = vec.body != nullptr && f.srcBpp == 1 && (f.dstBpp == 3 || f.dstBpp == 4) &&
                                   VectorGains(gR, gB)
                               ? &vec
                               : nullptr;
    for (int32_t i = std::max(2, rowFrom); i <= std::min(H - 3, rowTo - 1); ++i) {
        const RowJob job = InteriorRow(f, *params, i, gR, gB);
        if (!fast) {
            Segment8(job, 2, W - 2, DemosaicArith::kPortable, v);
            afterRow(i);
            continue;
        }
        // Portable columns 2..13 and fastTo..W-3 first, as whole groups where the row allows (they may
        // spill into fast columns), then the fast columns over them.
        if (v != nullptr && W - 4 >= v->group) {
            v->body(job.rows, job.out, job.dstBpp, 2, 2 + v->group, job.pr, job.PcAt(2), gR, gB, DemosaicArith::kPortable);
            if (fastTo < W - 2)
                v->body(job.rows, job.out, job.dstBpp, W - 2 - v->group, W - 2, job.pr, job.PcAt(W - 2 - v->group), gR,
                        gB, DemosaicArith::kPortable);
        } else {
            ScalarPixels8(job, 2, 14, DemosaicArith::kPortable);
            ScalarPixels8(job, fastTo, W - 2, DemosaicArith::kPortable);
        }
        Segment8(job, 14, fastTo, DemosaicArith::kFast, v);
        afterRow(i);
    }
    return 1;
}

int RunDemosaicInterior16(const KernelFrame& f, const BayerParams* params, VectorRows16 vec, int32_t rowFrom = 0,
                          int32_t rowTo = INT32_MAX) {
    const int32_t W = f.width, H = f.height;
    if (H <= 4 || W <= 4 || f.dstBpp < 6 || f.srcBpp < 2) return 1;
    const int32_t gR = FixedGain(params->redGain), gB = FixedGain(params->blueGain);
    const VectorRows16* v =
        vec.body != nullptr && f.srcBpp == 2 && (f.dstBpp == 6 || f.dstBpp == 8) && VectorGains(gR, gB) ? &vec : nullptr;
    for (int32_t i = std::max(2, rowFrom); i <= std::min(H - 3, rowTo - 1); ++i)
        Segment16(InteriorRow(f, *params, i, gR, gB), 2, W - 2, v);
    return 1;
}

// The two outermost rows at each end, columns 2 .. W-3, by the vector rows (W and H at least 4).
void DemosaicBorderRows8(const KernelFrame& f, const BayerParams* params, VectorRows8 vec, int32_t gR, int32_t gB) {
    const VectorRows8* v = f.srcBpp == 1 && (f.dstBpp == 3 || f.dstBpp == 4) && VectorGains(gR, gB) ? &vec : nullptr;
    for (int32_t s = 0; s < 4; ++s)
        Segment8(BorderRow(f, *params, s, gR, gB), 2, f.width - 2, DemosaicArith::kPortable, v);
}

int RunDemosaicBorder8(const KernelFrame& f, const BayerParams* params, VectorRows8 vec) {
    if (f.dstBpp < 3) return 1;
    const int32_t gR = FixedGain(params->redGain), gB = FixedGain(params->blueGain);
    auto write = [&](uint8_t* d, const BlockSums& s) { WritePixel8(d, s, gR, gB, DemosaicArith::kPortable); };
    const bool rowsByVector = vec.body != nullptr && f.width >= 4 && f.height >= 4;
    if (rowsByVector) DemosaicBorderRows8(f, params, vec, gR, gB);
    RunBorderStrips<uint8_t>(f, params->mode, rowsByVector ? 2 : 0, write);
    return 1;
}

// Row i's pixels of the column strips (columns 0, 1, W-2, W-1) as RunBorderStrips gives them after the
// vector rows (W and H at least 4): each strip row visits two pixels, so the column phase starts every row
// at the mode's; the row phase flips with every row, and the right strip's continues from the left
// strip's H rows. A walk of all four strips (no vector rows) ends its two row strips with the same phases
// and writes these pixels last, so its bytes are the same.
template <class T, class Write>
void BorderColumnsOfRow(const KernelFrame& f, BayerMode mode, int32_t i, Write write) {
    const int32_t W = f.width, H = f.height;
    FoldedSampler<T> P{};
    P.i = i;
    for (int k = 0; k < 4; ++k) P.rows[k] = f.SrcRow(Fold(i - 2 + k, H));
    uint8_t* out = f.DstRow(i);
    const int32_t prLeft = RowPhaseOf(mode) ^ (i & 1), prRight = prLeft ^ (H & 1), pc = ColPhaseOf(mode);
    const int32_t columns[4] = {0, 1, W - 2, W - 1};
    for (int n = 0; n < 4; ++n) {
        const int32_t j = columns[n];
        P.j = j;
        for (int k = 0; k < 4; ++k) P.cols[k] = static_cast<size_t>(Fold(j - 2 + k, W)) * f.srcBpp;
        write(out + static_cast<size_t>(j) * f.dstBpp, ComputeBlock(P, j, i, n < 2 ? prLeft : prRight, pc ^ (n & 1)));
    }
}

void BorderColumnsOfRow8(const KernelFrame& f, BayerMode mode, int32_t i, int32_t gR, int32_t gB) {
    BorderColumnsOfRow<uint8_t>(f, mode, i, [&](uint8_t* d, const BlockSums& s) {
        WritePixel8(d, s, gR, gB, DemosaicArith::kPortable);
    });
}

// Interior and border in one walk over the rows: each row's border columns are done while its lines are
// still in the cache (a separate walk down the columns misses on every row). The same bytes as the
// interior kernel followed by the border kernel; frames without vector rows or too small for them take
// exactly that way.
int RunDemosaicFrame8(const KernelFrame& f, const BayerParams* params, const DemosaicForm& interior,
                      VectorRows8 border) {
    const int32_t W = f.width, H = f.height;
    if (border.body == nullptr || W <= 4 || H <= 4 || f.dstBpp < 3) {
        RunDemosaicInterior8(f, params, interior.variant, interior.rows->rows8, [](int32_t) {});
        return RunDemosaicBorder8(f, params, border);
    }
    const int32_t gR = FixedGain(params->redGain), gB = FixedGain(params->blueGain);
    const BayerMode mode = params->mode;
    BorderColumnsOfRow8(f, mode, 0, gR, gB);
    BorderColumnsOfRow8(f, mode, 1, gR, gB);
    RunDemosaicInterior8(f, params, interior.variant, interior.rows->rows8,
                         [&](int32_t i) { BorderColumnsOfRow8(f, mode, i, gR, gB); });
    BorderColumnsOfRow8(f, mode, H - 2, gR, gB);
    BorderColumnsOfRow8(f, mode, H - 1, gR, gB);
    DemosaicBorderRows8(f, params, border, gR, gB);
    return 1;
}

// Rows [rowFrom, rowTo) of the whole pass, each row complete (interior, border columns, and for rows 0, 1,
// H-2, H-1 the border rows): rows are independent of each other, so any split of the rows gives the bytes
// of RunDemosaicFrame8. A rectangle below 4 x 4 has no such rows and is done whole by the band that
// reaches its last row.
int RunDemosaicBand8(const KernelFrame& f, const BayerParams* params, const DemosaicForm& interior,
                     VectorRows8 border, int32_t rowFrom, int32_t rowTo) {
    const int32_t W = f.width, H = f.height;
    rowFrom = std::max(rowFrom, 0);
    rowTo = std::min(rowTo, H);
    if (rowFrom >= rowTo || f.dstBpp < 3) return 1;
    if (W < 4 || H < 4) {
        if (rowTo == H) RunDemosaicFrame8(f, params, interior, border);
        return 1;
    }
    const int32_t gR = FixedGain(params->redGain), gB = FixedGain(params->blueGain);
    const BayerMode mode = params->mode;
    const VectorRows8* v =
        border.body != nullptr && f.srcBpp == 1 && (f.dstBpp == 3 || f.dstBpp == 4) && VectorGains(gR, gB) ? &border
                                                                                                             : nullptr;
    const auto borderRow = [&](int32_t i) {
        const int32_t s = i < 2 ? i : i - (H - 4);
        Segment8(BorderRow(f, *params, s, gR, gB), 2, W - 2, DemosaicArith::kPortable, v);
        BorderColumnsOfRow8(f, mode, i, gR, gB);
    };
    for (int32_t i = rowFrom; i < std::min(rowTo, 2); ++i) borderRow(i);
    RunDemosaicInterior8(f, params, interior.variant, interior.rows->rows8,
                         [&](int32_t i) { BorderColumnsOfRow8(f, mode, i, gR, gB); }, rowFrom, rowTo);
    for (int32_t i = std::max(rowFrom, H - 2); i < rowTo; ++i) borderRow(i);
    return 1;
}

int RunDemosaicBorder16(const KernelFrame& f, const BayerParams* params, VectorRows16 vec) {
    if (f.dstBpp < 6 || f.srcBpp < 2) return 1;
    const int32_t gR = FixedGain(params->redGain), gB = FixedGain(params->blueGain);
    auto write = [&](uint8_t* d, const BlockSums& s) { WritePixel16(d, s, gR, gB); };
    const bool rowsByVector = vec.body != nullptr && f.width >= 4 && f.height >= 4;
    if (rowsByVector) {
        const VectorRows16* v = f.srcBpp == 2 && (f.dstBpp == 6 || f.dstBpp == 8) && VectorGains(gR, gB) ? &vec : nullptr;
        for (int32_t s = 0; s < 4; ++s) Segment16(BorderRow(f, *params, s, gR, gB), 2, f.width - 2, v);
    }
    RunBorderStrips<uint16_t>(f, params->mode, rowsByVector ? 2 : 0, write);
    return 1;
}

// The same for 10-bit samples: rows [rowFrom, rowTo) of the interior and border pair.
int RunDemosaicBand16(const KernelFrame& f, const BayerParams* params, VectorRows16 vec, int32_t rowFrom,
                      int32_t rowTo) {
    const int32_t W = f.width, H = f.height;
    rowFrom = std::max(rowFrom, 0);
    rowTo = std::min(rowTo, H);
    if (rowFrom >= rowTo || f.dstBpp < 6 || f.srcBpp < 2) return 1;
    if (W < 4 || H < 4) {
        if (rowTo == H) {
            RunDemosaicInterior16(f, params, vec);
            RunDemosaicBorder16(f, params, vec);
        }
        return 1;
    }
    const int32_t gR = FixedGain(params->redGain), gB = FixedGain(params->blueGain);
    const BayerMode mode = params->mode;
    const VectorRows16* v =
        vec.body != nullptr && f.srcBpp == 2 && (f.dstBpp == 6 || f.dstBpp == 8) && VectorGains(gR, gB) ? &vec
                                                                                                         : nullptr;
    const auto columns = [&](int32_t i) {
        BorderColumnsOfRow<uint16_t>(f, mode, i, [&](uint8_t* d, const BlockSums& s) { WritePixel16(d, s, gR, gB); });
    };
    const auto borderRow = [&](int32_t i) {
        Segment16(BorderRow(f, *params, i < 2 ? i : i - (H - 4), gR, gB), 2, W - 2, v);
        columns(i);
    };
    for (int32_t i = rowFrom; i < std::min(rowTo, 2); ++i) borderRow(i);
    RunDemosaicInterior16(f, params, vec, rowFrom, rowTo);
    for (int32_t i = std::max(rowFrom, 2); i < std::min(rowTo, H - 2); ++i) columns(i);
    for (int32_t i = std::max(rowFrom, H - 2); i < rowTo; ++i) borderRow(i);
    return 1;
}

}  // namespace

extern const DemosaicRows kDemosaicPortable{VectorForm::kPortable, {nullptr, 0}, {nullptr, 0}};

}  // namespace detail

FormTable<detail::DemosaicRows> kDemosaicRows = {
    &detail::kDemosaicPortable,
#if defined(__x86_64__) || defined(__i386__)
    &detail::kDemosaicSse2, &detail::kDemosaicAvx2, &detail::kDemosaicAvx512,
#else
    nullptr, nullptr, nullptr,
#endif
};

VectorForm FormOf(const detail::DemosaicRows& rows) { return rows.form; }

int DemosaicInterior(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form) {
    return detail::RunDemosaicInterior8(f, &params, form.variant, form.rows->rows8, [](int32_t) {});
}

int DemosaicBorder(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form) {
    return detail::RunDemosaicBorder8(f, &params, form.rows->rows8);
}
int DemosaicFrame(const KernelFrame& f, const BayerParams& params, const DemosaicForm& interior,
                  const DemosaicForm& border) {
    return detail::RunDemosaicFrame8(f, &params, interior, border.rows->rows8);
}

int DemosaicFrameBand(const KernelFrame& f, const BayerParams& params, const DemosaicForm& interior,
                      const DemosaicForm& border, int32_t rowFrom, int32_t rowTo) {
    return detail::RunDemosaicBand8(f, &params, interior, border.rows->rows8, rowFrom, rowTo);
}

int DemosaicBand16(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form, int32_t rowFrom,
                   int32_t rowTo) {
    return detail::RunDemosaicBand16(f, &params, form.rows->rows16, rowFrom, rowTo);
}

int DemosaicInterior16(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form) {
    return detail::RunDemosaicInterior16(f, &params, form.rows->rows16);
}

int DemosaicBorder16(const KernelFrame& f, const BayerParams& params, const DemosaicForm& form) {
    return detail::RunDemosaicBorder16(f, &params, form.rows->rows16);
}

const DemosaicForm& SelectDemosaicInterior(const DemosaicKernels& kernels, uint16_t destBitsPerPixel,
                                           const BayerParams& params) {
    if (destBitsPerPixel == 32 || params.redGain > 200 || params.greenGain > 200 || params.blueGain > 200)
        return kernels.interior;
    return kernels.fastInterior;
}

int DemosaicPass(FrameBuffer& destination, FrameBuffer& source, const BayerParams& params,
                 const DemosaicKernels& kernels) {
    if (source.BitsPerPixel() == 16) {
        destination.Apply(DemosaicInterior16, source, nullptr, 0, 0, params, kernels.interior);
        destination.Apply(DemosaicBorder16, source, nullptr, 0, 0, params, kernels.interior);
    } else {
        const DemosaicForm& interior = SelectDemosaicInterior(kernels, destination.BitsPerPixel(), params);
        destination.Apply(DemosaicFrame, source, nullptr, 0, 0, params, interior, kernels.interior);
    }
    return 1;
}

int DemosaicPassBand(FrameBuffer& destination, FrameBuffer& source, const BayerParams& params,
                     const DemosaicKernels& kernels, int32_t rowFrom, int32_t rowTo) {
    if (source.BitsPerPixel() == 16) {
        destination.Apply(DemosaicBand16, source, nullptr, 0, 0, params, kernels.interior, rowFrom, rowTo);
    } else {
        const DemosaicForm& interior = SelectDemosaicInterior(kernels, destination.BitsPerPixel(), params);
        destination.Apply(DemosaicFrameBand, source, nullptr, 0, 0, params, interior, kernels.interior, rowFrom, rowTo);
    }
    return 1;
}

}  // namespace zelvik
