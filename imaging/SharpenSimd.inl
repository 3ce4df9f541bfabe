// Internal: vector bodies of the 8-bit unsharp mask, written once over a register type V.
// Per row: column sums of the four window rows (16-bit lanes), then for each sample k
//     blur = (sum[k-2p] + sum[k-p] + sum[k] + sum[k+p]) >> 4      (p: bytes per pixel)
//     x    = s x (o - blur)                                        (|s| <= 128: fits 16 bits)
//     q    = trunc(x / 10) = ((x * 26215) >> 18) + (x < 0)          (exact for |x| < 43690)
//     out  = min(255, max(0, o + q))
namespace sharpen_simd {

template <class V>
int32_t ColumnSums(uint16_t* sums, const uint8_t* const rows[4], int32_t count) {
    constexpr int32_t M = V::kBytes / 2;
    int32_t k = 0;
    for (; k + M <= count; k += M) {
        const typename V::Reg s = V::Add16(V::Add16(V::LoadWiden8(rows[0] + k), V::LoadWiden8(rows[1] + k)),
                                           V::Add16(V::LoadWiden8(rows[2] + k), V::LoadWiden8(rows[3] + k)));
        V::Store(sums + k, s);
    }
    return k;
}

template <class V>
int32_t SharpenRow(uint8_t* out, const uint8_t* center, const uint16_t* sums, int32_t begin, int32_t end, int32_t p,
                   int32_t strength) {
    using R = typename V::Reg;
    constexpr int32_t M = V::kBytes / 2;
    const R s = V::Set16(strength), magic = V::Set16(26215), top = V::Set16(255), zero = V::Zero();
    int32_t k = begin;
    for (; k + M <= end; k += M) {
        const R window = V::Add16(V::Add16(V::Load(sums + k - 2 * p), V::Load(sums + k - p)),
                                  V::Add16(V::Load(sums + k), V::Load(sums + k + p)));
        const R blur = V::template Srli16<4>(window);
        const R o = V::LoadWiden8(center + k);
        const R x = V::MulLo16(V::Sub16(o, blur), s);
        const R q = V::Sub16(V::template Srai16<2>(V::MulHi16(x, magic)), V::template Srai16<15>(x));
        V::StoreNarrow8(out + k, V::Max16(V::Min16(V::Add16(o, q), top), zero));
    }
    return k;
}

}  // namespace sharpen_simd
