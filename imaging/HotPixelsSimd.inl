// Internal: the vector screen of the hot-pixel correction, written once over a register type V.
// For each sample c of a group: avg = (up2 + down2 + left2 + right2) >> 2 in 16-bit lanes; the group
// needs the exact one-sample walk only when some lane has c - avg >= threshold. Since avg is at least
// the smallest of the four, c - min >= threshold must hold first: a byte test that clears most groups.
namespace hot_pixel_simd {

template <class V>
int32_t Screen(const uint8_t* row, size_t stride, int32_t j, int32_t jEnd, int32_t threshold) {
    using R = typename V::Reg;
    constexpr int32_t N = V::kBytes;
    // c - avg lies in -255..255, so thresholds beyond +-256 behave like +-256.
    const R limit = V::Set16(std::clamp(threshold, -256, 256) - 1);
    const uint8_t* up = row - 2 * stride;
    const uint8_t* down = row + 2 * stride;
    // c - min >= threshold as saturating bytes: subs(subs(c, min), threshold - 1) != 0 (threshold 1..255).
    const bool byteTest = threshold >= 1 && threshold <= 255;
    const R below = V::Set8(byteTest ? threshold - 1 : 0);
    for (; j + N <= jEnd; j += N) {
        const R c = V::Load(row + j), u = V::Load(up + j), d = V::Load(down + j);
        const R l = V::Load(row + j - 2), r = V::Load(row + j + 2);
        if (byteTest) {
            const R lowest = V::MinU8(V::MinU8(u, d), V::MinU8(l, r));
            if (!V::AnyNonZero(V::SubsU8(V::SubsU8(c, lowest), below))) continue;
        }
        const R avgLo = V::template Srli16<2>(V::Add16(V::Add16(V::WidenLo8(u), V::WidenLo8(d)),
                                                       V::Add16(V::WidenLo8(l), V::WidenLo8(r))));
        const R avgHi = V::template Srli16<2>(V::Add16(V::Add16(V::WidenHi8(u), V::WidenHi8(d)),
                                                       V::Add16(V::WidenHi8(l), V::WidenHi8(r))));
        const R hot = V::Or(V::CmpGt16(V::Sub16(V::WidenLo8(c), avgLo), limit),
                            V::CmpGt16(V::Sub16(V::WidenHi8(c), avgHi), limit));
        if (V::AnyNonZero(hot)) return j;
    }
    return j;
}

}  // namespace hot_pixel_simd
