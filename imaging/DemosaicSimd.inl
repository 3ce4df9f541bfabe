// Internal: the vector demosaic row bodies, written once over a register type V (V128 or V256).
// Included inside an anonymous namespace region compiled for V's instruction set.
//
// 8-bit rows: a group of V::kBytes output pixels starting at column x. Loading kBytes samples and
// reading them as 16-bit words gives the even pixels (low bytes) and the odd pixels (high bytes) of
// one row in separate registers. A colour lives on every other column, so in each row it fills either
// the even or the odd lanes; the 9-3-3-1 weights are separable:
//     V(c)  = 3 x near row + far row              (vertical, per colour column c)
//     S     = 3 x V(nearest column) + V(next column two further)
// With the colour on the even pixels (E = V at x+2k, E- = at x+2k-2, E+ = at x+2k+2):
//     even output = 3E + E-,   odd output = 3E + E+
// With the colour on the odd pixels (O = V at x+2k+1, O- = at x+2k-1):
//     odd output = 3O + O-,    even output = 3O- + O
// E- and E+ are E shifted by one lane, joined with the previous or next group's E, so each row is
// loaded once per group (the first and last group of a run load their outer neighbours instead).
// S <= 4080 fits a 16-bit lane. Then either (S x g) >> 11 = mulhi(S, g << 5)  (g <= 2047),
// or the fast form ((S >> 4) x g) >> 7 = mulhi(S & 0xFFF0, g << 5)  (16 floor(S/16) x 32 g / 65536);
// both limited to 255 by the stores. Byte splitting and halving also use the multiplier
// (mulhi(v, 256) = v >> 8, mulhi(v, 0x8000) = v >> 1), which leaves the shift and shuffle units to the
// lane shifts and the stores.

namespace demosaic_simd {

template <class V>
inline typename V::Reg Even8(typename V::Reg v) { return V::And(v, V::Set16(0x00FF)); }
template <class V>
inline typename V::Reg Odd8(typename V::Reg v) { return V::MulHiU16(v, V::Set16(256)); }
template <class V>
inline typename V::Reg Half(typename V::Reg v) { return V::MulHiU16(v, V::Set16(0x8000)); }
template <class V>
inline typename V::Reg Times3(typename V::Reg v) { return V::Add16(V::Add16(v, v), v); }

// Red or blue before the limit to 255, which the stores apply (values stay below 0x8000); g is the
// fixed gain shifted left by 5 in both forms.
template <class V, bool kFast>
inline typename V::Reg Scale8(typename V::Reg s, typename V::Reg g) {
    if constexpr (kFast) {
        return V::MulHiU16(V::And(s, V::Set16(0xFFF0)), g);
    } else {
        return V::MulHiU16(s, g);
    }
}

// kPc: column phase at jFrom (and at every group start); kPr: row phase of the row.
template <class V, int kPc, int kPr, bool kFast>
int32_t Row8(const uint8_t* const rows[4], uint8_t* out, uint32_t dstBpp, int32_t jFrom, int32_t jTo, int32_t gR,
             int32_t gB) {
    using R = typename V::Reg;
    constexpr int32_t N = V::kBytes;
    if (jTo - jFrom < N) return jFrom;
    const uint8_t* rm2 = rows[0];
    const uint8_t* rm1 = rows[1];
    const uint8_t* r0 = rows[2];
    const uint8_t* rp1 = rows[3];
    // The red row of the block is the one with row phase 1; the far red row is two beyond the centre.
    const uint8_t* redNear = kPr ? r0 : rm1;
    const uint8_t* redFar = kPr ? rm2 : rp1;
    const uint8_t* blueNear = kPr ? rm1 : r0;
    const uint8_t* blueFar = kPr ? rp1 : rm2;
    // Red sits where the column phase is 0, blue where it is 1: one fills the even lanes, one the odd.
    constexpr bool kRedEven = kPc == 0;
    const uint8_t* evenNear = kRedEven ? redNear : blueNear;
    const uint8_t* evenFar = kRedEven ? redFar : blueFar;
    const uint8_t* oddNear = kRedEven ? blueNear : redNear;
    const uint8_t* oddFar = kRedEven ? blueFar : redFar;
    auto vEven = [&](int32_t x) {
        return V::Add16(Times3<V>(Even8<V>(V::Load(evenNear + x))), Even8<V>(V::Load(evenFar + x)));
    };
    auto vOdd = [&](int32_t x) {
        return V::Add16(Times3<V>(Odd8<V>(V::Load(oddNear + x))), Odd8<V>(V::Load(oddFar + x)));
    };
    const R gainR = V::Set16(gR << 5);
    const R gainB = V::Set16(gB << 5);
    R e = vEven(jFrom), em = vEven(jFrom - 2);
    R o = vOdd(jFrom), om = vOdd(jFrom - 2);
    int32_t j = jFrom;
    for (;;) {
        const bool more = j + 2 * N <= jTo;
        R eNext = e, oNext = o, ep;
        if (more) {
            eNext = vEven(j + N);
            oNext = vOdd(j + N);
            ep = V::ShiftDown16(e, eNext);
        } else {
            ep = vEven(j + 2);
        }
        const R e3 = Times3<V>(e);
        const R evenColourE = V::Add16(e3, em), evenColourO = V::Add16(e3, ep);
        const R oddColourO = V::Add16(Times3<V>(o), om), oddColourE = V::Add16(Times3<V>(om), o);
        const R redE = kRedEven ? evenColourE : oddColourE, redO = kRedEven ? evenColourO : oddColourO;
        const R blueE = kRedEven ? oddColourE : evenColourE, blueO = kRedEven ? oddColourO : evenColourO;
        // Green: the block's diagonal through (x, r) where the pixel's phases agree, else the other one.
        R greenE, greenO;
        const R c0 = V::Load(r0 + j), c1 = V::Load(rm1 + j);
        if constexpr (kPc == kPr) {
            greenE = V::Add16(Even8<V>(c0), Odd8<V>(V::Load(rm1 + j - 2)));
            greenO = V::Add16(Even8<V>(c0), Odd8<V>(c1));
        } else {
            greenE = V::Add16(Odd8<V>(V::Load(r0 + j - 2)), Even8<V>(c1));
            greenO = V::Add16(Odd8<V>(c0), Even8<V>(c1));
        }
        greenE = Half<V>(greenE);
        greenO = Half<V>(greenO);
        const R be = Scale8<V, kFast>(blueE, gainB), bo = Scale8<V, kFast>(blueO, gainB);
        const R re = Scale8<V, kFast>(redE, gainR), ro = Scale8<V, kFast>(redO, gainR);
        uint8_t* d = out + static_cast<size_t>(j) * dstBpp;
        if (dstBpp == 3) V::StoreBgr24(d, be, bo, greenE, greenO, re, ro);
        else V::StoreBgrx32(d, be, bo, greenE, greenO, re, ro);
        j += N;
        if (!more) break;
        em = V::ShiftUp16(e, eNext);
        om = V::ShiftUp16(o, oNext);
        e = eNext;
        o = oNext;
    }
    return j;
}

template <class V>
int32_t DemosaicRow8(const uint8_t* const rows[4], uint8_t* out, uint32_t dstBpp, int32_t jFrom, int32_t jTo,
                     int32_t pr, int32_t pc, int32_t gR, int32_t gB, detail::DemosaicArith arith) {
    const bool fast = arith == detail::DemosaicArith::kFast;
    switch ((pc << 2) | (pr << 1) | (fast ? 1 : 0)) {
        case 0: return Row8<V, 0, 0, false>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        case 1: return Row8<V, 0, 0, true>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        case 2: return Row8<V, 0, 1, false>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        case 3: return Row8<V, 0, 1, true>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        case 4: return Row8<V, 1, 0, false>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        case 5: return Row8<V, 1, 0, true>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        case 6: return Row8<V, 1, 1, false>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        default: return Row8<V, 1, 1, true>(rows, out, dstBpp, jFrom, jTo, gR, gB);
    }
}

// 16-bit rows: one sample per 16-bit lane, so each lane is a pixel and the colour's columns alternate
// between lanes. For every lane both candidates are formed and the lane's phase picks one:
//     colour column:  3 V(x) + V(x-2);   other column:  3 V(x-1) + V(x+1)
// V(x-2), V(x-1) and V(x+1) are V(x) shifted by lanes across neighbouring groups. Samples must be
// 10-bit (S <= 16368); a run holding a larger sample is handed back to the scalar code.
template <class V>
inline typename V::Reg Load16(const uint8_t* row, int32_t x) {
    return V::Load(row + static_cast<ptrdiff_t>(x) * 2);
}

template <class V, int kPc, int kPr, bool kStream>
int32_t Row16(const uint8_t* const rows[4], uint8_t* out, uint32_t dstBpp, int32_t jFrom, int32_t jTo, int32_t gR,
              int32_t gB) {
    using R = typename V::Reg;
    constexpr int32_t N = V::kBytes / 2;
    if (jTo - jFrom < N) return jFrom;
    const uint8_t* rm2 = rows[0];
    const uint8_t* rm1 = rows[1];
    const uint8_t* r0 = rows[2];
    const uint8_t* rp1 = rows[3];
    const uint8_t* nearRow[2] = {kPr ? r0 : rm1, kPr ? rm1 : r0};  // red, blue
    const uint8_t* farRow[2] = {kPr ? rm2 : rp1, kPr ? rp1 : rm2};
    R seen = V::Zero();
    auto vert = [&](int c, int32_t x) {
        const R n = Load16<V>(nearRow[c], x), f = Load16<V>(farRow[c], x);
        seen = V::Or(seen, V::Or(n, f));
        return V::Add16(Times3<V>(n), f);
    };
    const R gain[2] = {V::Set16(gR << 5), V::Set16(gB << 5)};
    const R limit = V::Set16(1023), evenLanes = V::Set32(0x0000FFFF);
    R v0[2], vm1[2], vm2[2];
    for (int c = 0; c < 2; ++c) {
        v0[c] = vert(c, jFrom);
        vm1[c] = vert(c, jFrom - 1);
        vm2[c] = vert(c, jFrom - 2);
    }
    int32_t j = jFrom;
    for (;;) {
        const bool more = j + 2 * N <= jTo;
        R colour[2], next[2];
        for (int c = 0; c < 2; ++c) {
            R vp1;
            if (more) {
                next[c] = vert(c, j + N);
                vp1 = V::ShiftDown16(v0[c], next[c]);
            } else {
                vp1 = vert(c, j + 1);
            }
            const R onColumn = V::Add16(Times3<V>(v0[c]), vm2[c]);
            const R offColumn = V::Add16(Times3<V>(vm1[c]), vp1);
            // Red (c = 0) is on the lanes whose column phase is 0, blue on those where it is 1; the
            // even lanes have the group's phase kPc.
            const bool evenOnColumn = (c == 0) ? (kPc == 0) : (kPc == 1);
            const R s = evenOnColumn ? V::Select(evenLanes, onColumn, offColumn) : V::Select(evenLanes, offColumn, onColumn);
            colour[c] = V::Min16(V::MulHiU16(s, gain[c]), limit);
        }
        const R a0 = Load16<V>(r0, j), am = Load16<V>(r0, j - 1), b0 = Load16<V>(rm1, j), bm = Load16<V>(rm1, j - 1);
        seen = V::Or(seen, V::Or(am, bm));
        const R diagonal = V::Add16(a0, bm);      // (x, r) + (x-1, r-1)
        const R antiDiagonal = V::Add16(am, b0);  // (x-1, r) + (x, r-1)
        const R green = V::template Srli16<1>(kPc == kPr ? V::Select(evenLanes, diagonal, antiDiagonal)
                                                         : V::Select(evenLanes, antiDiagonal, diagonal));
        uint8_t* d = out + static_cast<size_t>(j) * dstBpp;
        if constexpr (kStream) V::StreamBgr48(d, colour[1], green, colour[0]);
        else if (dstBpp == 6) V::StoreBgr48(d, colour[1], green, colour[0]);
        else V::StoreBgrx64(d, colour[1], green, colour[0]);
        j += N;
        if (!more) break;
        for (int c = 0; c < 2; ++c) {
            vm2[c] = V::ShiftUp32(v0[c], next[c]);
            vm1[c] = V::ShiftUp16(v0[c], next[c]);
            v0[c] = next[c];
        }
    }
    if constexpr (kStream) V::StreamFence();
    if (V::AnyNonZero(V::And(seen, V::Set16(static_cast<int16_t>(0xFC00))))) return jFrom;
    return j;
}

template <class V, bool kStream>
int32_t Row16Phase(const uint8_t* const rows[4], uint8_t* out, uint32_t dstBpp, int32_t jFrom, int32_t jTo,
                   int32_t pr, int32_t pc, int32_t gR, int32_t gB) {
    switch ((pc << 1) | pr) {
        case 0: return Row16<V, 0, 0, kStream>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        case 1: return Row16<V, 0, 1, kStream>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        case 2: return Row16<V, 1, 0, kStream>(rows, out, dstBpp, jFrom, jTo, gR, gB);
        default: return Row16<V, 1, 1, kStream>(rows, out, dstBpp, jFrom, jTo, gR, gB);
    }
}

// 48-bit rows long enough to matter are written on a grid of groups whose stores are 32-byte aligned,
// with streaming stores: a frame of 48-bit pixels is far larger than the caches, and streaming skips
// reading every destination line before overwriting it. The run's first group (regular stores) covers
// the columns before the grid; groups overlap with the same bytes.
template <class V>
int32_t DemosaicRow16(const uint8_t* const rows[4], uint8_t* out, uint32_t dstBpp, int32_t jFrom, int32_t jTo,
                      int32_t pr, int32_t pc, int32_t gR, int32_t gB) {
    constexpr int32_t N = V::kBytes / 2;
    if constexpr (V::kCanStream48) {
        if (dstBpp == 6 && jTo - jFrom >= 16 * N) {
            int32_t start = jFrom + 1;
            while (start < jFrom + N && (reinterpret_cast<uintptr_t>(out + static_cast<size_t>(start) * 6) & 31) != 0)
                ++start;
            if (start < jFrom + N) {
                const int32_t head = Row16Phase<V, false>(rows, out, dstBpp, jFrom, jFrom + N, pr, pc, gR, gB);
                if (head != jFrom + N) return jFrom;  // samples above 10 bits: the caller goes one by one
                const int32_t end =
                    Row16Phase<V, true>(rows, out, dstBpp, start, jTo, pr, pc ^ ((start - jFrom) & 1), gR, gB);
                return end == start ? jFrom : end;
            }
        }
    }
    return Row16Phase<V, false>(rows, out, dstBpp, jFrom, jTo, pr, pc, gR, gB);
}

}  // namespace demosaic_simd
