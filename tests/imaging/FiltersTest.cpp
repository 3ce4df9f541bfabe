// Filter kernels: the worked examples, scalar models for sharpening and hue/saturation, table caching.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "imaging/Kernels.h"
#include "ImagingTestUtil.h"

namespace zelvik {
namespace {

using test::Px;
using test::Word;

// Every 8-bit sample value once: a 256 x 1 gray buffer whose output is the kernel's table.
std::vector<int> Table8(FrameKernel k, int32_t setting, FilterContext* ctx) {
    FrameBuffer b;
    EXPECT_EQ(b.Create(256, 1, 8), 1);
    for (int i = 0; i < 256; ++i) b.Bits()[i] = static_cast<uint8_t>(i);
    test::RunKernel(k, b, b, &setting, ctx);
    return std::vector<int>(b.Bits(), b.Bits() + 256);
}

std::vector<int> Table16(FrameKernel k, int32_t setting, int bits, FilterContext* ctx) {
    FrameBuffer b;
    EXPECT_EQ(b.Create(1100, 1, bits), 1);
    const int channels = bits == 16 ? 1 : 3;
    for (int i = 0; i < 1100; ++i)
        for (int c = 0; c < channels; ++c) test::SetWord(b, i, 0, c, static_cast<uint16_t>(i));
    test::RunKernel(k, b, b, &setting, ctx);
    std::vector<int> out;
    for (int i = 0; i < 1100; ++i) {
        out.push_back(Word(b, i, 0, 0));
        for (int c = 1; c < channels; ++c) EXPECT_EQ(Word(b, i, 0, c), out.back());
    }
    return out;
}

TEST(Filters, GammaTables) {
    const CpuInfo cpu = test::HostCpu();
    FilterContext ctx(&cpu);
    for (FilterContext* c : {static_cast<FilterContext*>(nullptr), &ctx}) {
        const std::vector<int> g50 = Table8(GammaGray8, 50, c);
        EXPECT_EQ(g50[0], 0);
        EXPECT_EQ(g50[1], 15);
        EXPECT_EQ(g50[255], 254);
        const std::vector<int> g200 = Table8(GammaGray8, 200, c);
        for (int i : {1, 2, 3, 4}) EXPECT_EQ(g200[i], 1);
        EXPECT_EQ(g200[255], 254);
        const std::vector<int> g0 = Table8(GammaGray8, 0, c);
        for (int i = 1; i < 256; ++i) EXPECT_TRUE(g0[i] == 253 || g0[i] == 254) << i;
        // Gamma 100: x = i; the search stops at j = x for an exact integer, so i maps to i - 1 (1 -> 2).
        const std::vector<int> g100 = Table8(GammaGray8, 100, c);
        EXPECT_EQ(g100[1], 2);
        EXPECT_EQ(g100[100], 99);
        const std::vector<int> g16 = Table16(GammaGray16, 50, 16, c);
        EXPECT_EQ(g16[0], 0);
        EXPECT_EQ(g16[1023], 1022);
        EXPECT_EQ(g16[1099], g16[1023]);  // samples above 10 bits count as 1023
        EXPECT_EQ(Table16(GammaColor16, 50, 48, c), g16);
    }
    // The cached table is the one built for the setting, and it is rebuilt only when the setting changes.
    const uint8_t* first = ctx.Gamma8(50);
    EXPECT_EQ(ctx.Gamma8(50), first);
    EXPECT_EQ(first[1], 15);
    EXPECT_EQ(ctx.Gamma8(200)[2], 1);
}

TEST(Filters, ContrastRules) {
    const CpuInfo cpu = test::HostCpu();
    FilterContext ctx(&cpu);
    for (FilterContext* c : {static_cast<FilterContext*>(nullptr), &ctx}) {
        const std::vector<int> up = Table8(ContrastGray8, 64, c);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(up[i], 0);
        for (int i = 192; i < 256; ++i) EXPECT_EQ(up[i], 255);
        EXPECT_EQ(up[128], 128);
        const std::vector<int> down = Table8(ContrastGray8, -64, c);
        EXPECT_EQ(down[0], 42);
        EXPECT_EQ(down[255], 212);
        EXPECT_EQ(Table8(ContrastGray8, 128, c), std::vector<int>(256, 0));
        // Gray16 scales the setting by 4, Color16 does not.
        const std::vector<int> gray16 = Table16(ContrastGray16, 64, 16, c);
        const std::vector<int> colour16 = Table16(ContrastColor16, 64, 48, c);
        EXPECT_EQ(gray16[255], 0);
        EXPECT_EQ(gray16[300], 88);
        EXPECT_EQ(gray16[768], 1023);
        EXPECT_EQ(colour16[300], 269);
        EXPECT_EQ(colour16[63], 0);
        EXPECT_EQ(colour16[960], 1023);
        EXPECT_EQ(Table16(ContrastGray16, 128, 16, c), std::vector<int>(1100, 0));
        EXPECT_EQ(Table16(ContrastColor16, 512, 48, c), std::vector<int>(1100, 0));
        EXPECT_EQ(Table16(ContrastColor16, 511, 48, c)[1023], 1023);
    }
}

TEST(Filters, Brightness) {
    const std::vector<int> b25 = Table8(BrightnessGray8, 25, nullptr);
    EXPECT_EQ(b25[100], 198);
    EXPECT_EQ(b25[129], 255);
    EXPECT_EQ(b25[130], 255);
    EXPECT_EQ(Table8(BrightnessGray8, -255, nullptr), std::vector<int>(256, 0));
    EXPECT_EQ(Table8(BrightnessGray8, -128, nullptr)[200], static_cast<int>(200 * (1 - 128 * 0.00392156862745098)));
    const std::vector<int> b16 = Table16(BrightnessColor16, 25, 64, nullptr);
    EXPECT_EQ(b16[500], 990);
    EXPECT_EQ(b16[1000], 1023);
}

TEST(Filters, ColourMembersLeaveTheFourthByte) {
    const CpuInfo cpu = test::HostCpu();
    FilterContext ctx(&cpu);
    std::mt19937 rng(8);
    for (FrameKernel k : {GammaColor8, ContrastColor8, BrightnessColor8}) {
        FrameBuffer b24, b32;
        ASSERT_EQ(b24.Create(37, 5, 24), 1);
        ASSERT_EQ(b32.Create(37, 5, 32), 1);
        test::FillRandom(b32, rng);
        for (int r = 0; r < 5; ++r)
            for (int x = 0; x < 37; ++x) std::memcpy(Px(b24, x, r), Px(b32, x, r), 3);
        std::vector<uint8_t> fourth;
        for (int r = 0; r < 5; ++r)
            for (int x = 0; x < 37; ++x) fourth.push_back(Px(b32, x, r)[3]);
        int32_t setting = 37;
        test::RunKernel(k, b24, b24, &setting, &ctx);
        test::RunKernel(k, b32, b32, &setting, static_cast<FilterContext*>(nullptr));
        for (int r = 0, n = 0; r < 5; ++r)
            for (int x = 0; x < 37; ++x, ++n) {
                EXPECT_EQ(std::memcmp(Px(b24, x, r), Px(b32, x, r), 3), 0);
                EXPECT_EQ(Px(b32, x, r)[3], fourth[n]);
            }
    }
}

TEST(Filters, VectorLookupMatchesPortable) {
    const CpuInfo cpu = test::HostCpu();
    FilterContext ctx(&cpu);
    std::mt19937 rng(4);
    std::vector<uint8_t> table(256), in(300), a(300), b(300);
    for (auto& t : table) t = static_cast<uint8_t>(rng());
    for (auto& v : in) v = static_cast<uint8_t>(rng());
    for (size_t n : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{128}, size_t{300}}) {
        std::fill(a.begin(), a.end(), 0);
        std::fill(b.begin(), b.end(), 0);
        ctx.lut(a.data(), in.data(), n, table.data());
        LutBytesPortable(b.data(), in.data(), n, table.data());
        EXPECT_EQ(a, b) << n << " " << ctx.lutName;
    }
}

// The unsharp mask as described: blur pass into the destination, then the sharpen pass with the table.
void ModelSharpen(FrameBuffer& work, FrameBuffer& out, int s, int channels, int sampleBytes, int top) {
    const int W = work.Width(), H = work.Height();
    auto read = [&](FrameBuffer& b, int x, int y, int c) -> int {
        const uint8_t* p = Px(b, x, y) + c * sampleBytes;
        if (sampleBytes == 1) return *p;
        return std::min<int>(p[0] | (p[1] << 8), 1023);
    };
    auto write = [&](int x, int y, int c, int v) {
        uint8_t* p = Px(out, x, y) + c * sampleBytes;
        p[0] = static_cast<uint8_t>(v);
        if (sampleBytes == 2) p[1] = static_cast<uint8_t>(v >> 8);
    };
    std::vector<int> table(static_cast<size_t>(2 * top + 2));
    for (int k = 0; k <= 2 * top + 1; ++k) table[static_cast<size_t>(k)] = static_cast<int>((int64_t{s} * (k - top)) / 10);
    std::vector<int> blurred(static_cast<size_t>(W) * H * channels);
    for (int y = 2; y < H - 2; ++y)
        for (int x = 2; x < W - 2; ++x)
            for (int c = 0; c < channels; ++c) {
                int sum = 0;
                for (int yy = y - 2; yy <= y + 1; ++yy)
                    for (int xx = x - 2; xx <= x + 1; ++xx) sum += read(work, xx, yy, c);
                blurred[(size_t(y) * W + x) * channels + c] = sum >> 4;
            }
    for (int y = 2; y < H - 2; ++y)
        for (int x = 2; x < W - 2; ++x)
            for (int c = 0; c < channels; ++c) {
                const int o = read(work, x, y, c), b = blurred[(size_t(y) * W + x) * channels + c];
                write(x, y, c, std::clamp(o + table[static_cast<size_t>(o - b + top)], 0, top));
            }
}

TEST(Filters, SharpenMatchesTheTwoPassModel) {
    const CpuInfo cpu = test::HostCpu();
    FilterContext ctx(&cpu);
    std::mt19937 rng(21);
    struct Member {
        FrameKernel kernel;
        int bits, channels, sampleBytes, top;
    } members[] = {{SharpenGray8, 8, 1, 1, 255}, {SharpenColor8, 24, 3, 1, 255}, {SharpenColor8, 32, 3, 1, 255},
                   {SharpenGray16, 16, 1, 2, 1023}, {SharpenColor16, 48, 3, 2, 1023}};
    for (const Member& m : members) {
        for (auto [W, H] : {std::pair{5, 5}, {9, 6}, {40, 7}, {77, 9}}) {
            for (int s : {-200, -128, -7, 0, 5, 64, 128, 300}) {
                FrameBuffer work, out, expected;
                ASSERT_EQ(work.Create(W, H, m.bits), 1);
                test::FillRandom(work, rng, m.sampleBytes == 1 ? 255 : 1100);
                ASSERT_EQ(out.Create(W, H, m.bits), 1);
                test::FillRandom(out, rng);  // border and fourth byte must keep these
                ASSERT_EQ(expected.CreateLike(&out), 1);
                std::copy(out.Bits(), out.Bits() + out.Stride() * H, expected.Bits());
                ModelSharpen(work, expected, s, m.channels, m.sampleBytes, m.top);
                for (FilterContext* c : {static_cast<FilterContext*>(nullptr), &ctx}) {
                    FrameBuffer result;
                    ASSERT_EQ(result.CreateLike(&out), 1);
                    std::copy(out.Bits(), out.Bits() + out.Stride() * H, result.Bits());
                    int32_t setting = s;
                    test::RunKernel(m.kernel, result, work, &setting, c);
                    ASSERT_EQ(test::Pixels(result), test::Pixels(expected))
                        << "bits " << m.bits << " " << W << "x" << H << " s " << s << (c ? " vector" : " portable");
                }
            }
        }
    }
    // A flat field is left as it was.
    FrameBuffer flat, dst;
    ASSERT_EQ(flat.Create(20, 20, 24), 1);
    std::fill(flat.Bits(), flat.Bits() + flat.Stride() * 20, 90);
    ASSERT_EQ(dst.CreateLike(&flat), 1);
    std::copy(flat.Bits(), flat.Bits() + flat.Stride() * 20, dst.Bits());
    int32_t s = 100;
    test::RunKernel(SharpenColor8, dst, flat, &s, &ctx);
    EXPECT_EQ(test::Pixels(dst), test::Pixels(flat));
}

// Hue/saturation on one pixel exactly as described: packed 0x00RRGGBB arithmetic with masks and steps.
uint32_t ModelHueSaturation8(const uint8_t c[3], int hue, int saturation) {
    const int satScaled = (saturation + 256) << 8;
    auto L = [](int k) { return k; };  // lightness 0
    auto M = [](int k) { return k < 256 ? k : 511 - k; };
    auto chroma = [&](int j) { return static_cast<int>((0x8000 + int64_t{j} * satScaled) >> 16); };
    auto reciprocal = [](int i) { return i == 0 ? 0u : 0xFF0000u / static_cast<uint32_t>(i); };
    const int h6 = (hue & 0xFF) * 6;
    const int sector = ((h6 + 256) >> 9) % 3;
    int shift = h6 % 512;
    if (shift >= 256) shift -= 512;
    int a = sector * 510 + shift;
    if (a < 0) a += 1530;
    if (a >= 1530) a -= 1530;
    const int qa = a / 255, ra = a % 255;
    int mx, mn, sel, diff;
    if (c[2] >= c[1]) mx = c[2], mn = c[1], sel = 1, diff = c[1] - c[0];
    else mx = c[1], mn = c[2], sel = 3, diff = c[0] - c[2];
    if (c[0] > mx) mx = c[0], sel = 5, diff = c[2] - c[1];
    if (c[0] < mn) mn = c[0];
    const int C = mx - mn, sum = mx + mn;
    if (diff < 0) sel -= 1, diff += C;
    const int C2 = std::min(chroma(C), M(sum));
    const int base = (L(sum) - C2) >> 1;
    const int span = ((C2 + L(sum)) >> 1) - ((L(sum) - C2) >> 1);
    if (C == 0) return static_cast<uint32_t>(base * 0x010101);
    int f = static_cast<int>((static_cast<uint32_t>(diff) * reciprocal(C) + 0x8000u) >> 16);
    sel += qa;
    f += ra;
    if (f >= 255) f -= 255, sel += 1;
    static const uint32_t mask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
    static const int step[6] = {-1, 0x100, -0x10000, 1, -0x100, 0x10000};
    return static_cast<uint32_t>(base * 0x010101) + ((static_cast<uint32_t>(span) * 0x010101u) & mask[sel % 6]) +
           static_cast<uint32_t>(((span * f + 128) >> 8) * step[sel % 6]);
}

uint32_t RunHueSaturation8(const uint8_t c[3], int hue, int saturation, FilterContext* ctx) {
    FrameBuffer b;
    EXPECT_EQ(b.Create(1, 1, 32), 1);
    std::memcpy(b.Bits(), c, 3);
    b.Bits()[3] = 0x5C;
    HueSaturationParams p{hue, 0, saturation, 10};
    test::RunKernel(HueSaturation8, b, b, &p, ctx);
    EXPECT_EQ(b.Bits()[3], 0x5C);
    return b.Bits()[0] | (b.Bits()[1] << 8) | (b.Bits()[2] << 16);
}

TEST(Filters, HueSaturationMatchesThePackedModel) {
    std::mt19937 rng(17);
    const CpuInfo cpu = test::HostCpu();
    FilterContext ctx(&cpu);
    for (int n = 0; n < 20000; ++n) {
        const uint8_t c[3] = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
        const int hue = std::uniform_int_distribution<int>(-300, 300)(rng);
        const int sat = std::uniform_int_distribution<int>(-256, 256)(rng);
        ASSERT_EQ(RunHueSaturation8(c, hue, sat, n % 2 ? &ctx : nullptr), ModelHueSaturation8(c, hue, sat))
            << int(c[0]) << "," << int(c[1]) << "," << int(c[2]) << " hue " << hue << " sat " << sat;
    }
    const uint8_t px[3] = {50, 100, 200};
    EXPECT_EQ(RunHueSaturation8(px, 0, -256, nullptr), 125u * 0x010101u);
    EXPECT_EQ(RunHueSaturation8(px, 256, 40, nullptr), RunHueSaturation8(px, 0, 40, nullptr));
    EXPECT_EQ(RunHueSaturation8(px, -1, 40, nullptr), RunHueSaturation8(px, 255, 40, nullptr));
    for (int n = 0; n < 2000; ++n) {  // hue 0, saturation 0: unchanged up to rounding
        const uint8_t c[3] = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
        const uint32_t v = RunHueSaturation8(c, 0, 0, &ctx);
        for (int k = 0; k < 3; ++k) EXPECT_LE(std::abs(int((v >> (8 * k)) & 0xFF) - c[k]), 1);
    }
}

// Whole rows (the vector form with a context) against the packed model, 24- and 32-bit pixels.
TEST(Filters, HueSaturationRowsMatchThePackedModel) {
    std::mt19937 rng(23);
    const CpuInfo cpu = test::HostCpu();
    FilterContext ctx(&cpu);
    for (int bits : {24, 32}) {
        for (int n = 0; n < 60; ++n) {
            const int W = std::uniform_int_distribution<int>(1, 70)(rng);
            FrameBuffer b, original;
            ASSERT_EQ(b.Create(W, 3, bits), 1);
            test::FillRandom(b, rng);
            ASSERT_EQ(original.CreateLike(&b), 1);
            std::copy(b.Bits(), b.Bits() + b.Stride() * 3, original.Bits());
            HueSaturationParams p{std::uniform_int_distribution<int>(-300, 300)(rng), 0,
                                  n == 0 ? 40000 : std::uniform_int_distribution<int>(-256, 400)(rng), 10};
            test::RunKernel(HueSaturation8, b, b, &p, n % 3 ? &ctx : nullptr);
            for (int r = 0; r < 3; ++r)
                for (int x = 0; x < W; ++x) {
                    const uint32_t expected = ModelHueSaturation8(Px(original, x, r), p.hue, std::min(p.saturation, 0x7FFF));
                    const uint8_t* got = Px(b, x, r);
                    ASSERT_EQ(got[0] | (got[1] << 8) | (got[2] << 16), expected)
                        << bits << " bits, x " << x << " hue " << p.hue << " sat " << p.saturation;
                    if (bits == 32) {
                        ASSERT_EQ(got[3], Px(original, x, r)[3]);
                    }
                }
        }
    }
}

TEST(Filters, HueSaturationTenBit) {
    std::mt19937 rng(2);
    const CpuInfo cpu = test::HostCpu();
    FilterContext ctx(&cpu);
    auto run = [&](const uint16_t c[3], int hue, int sat, FilterContext* context, uint16_t out[3]) {
        FrameBuffer b;
        ASSERT_EQ(b.Create(1, 1, 64), 1);
        for (int k = 0; k < 3; ++k) test::SetWord(b, 0, 0, k, c[k]);
        test::SetWord(b, 0, 0, 3, 0xBEEF);
        HueSaturationParams p{hue, 0, sat, 10};
        test::RunKernel(HueSaturation16, b, b, &p, context);
        for (int k = 0; k < 3; ++k) out[k] = Word(b, 0, 0, k);
        EXPECT_EQ(Word(b, 0, 0, 3), 0xBEEF);
    };
    const uint16_t px[3] = {200, 400, 800};
    uint16_t out[3];
    run(px, 0, -256, nullptr, out);
    for (uint16_t v : out) EXPECT_EQ(v, 500);  // (max + min) / 2
    for (int n = 0; n < 5000; ++n) {
        const uint16_t c[3] = {static_cast<uint16_t>(rng() % 1024), static_cast<uint16_t>(rng() % 1024),
                               static_cast<uint16_t>(rng() % 1024)};
        uint16_t same[3], other[3], widened[3];
        run(c, 0, 0, &ctx, same);
        // The hue fraction is in 1/255 of a sector but applied as /256: up to span/255 - span/256 (4 at
        // 10 bits) plus rounding.
        for (int k = 0; k < 3; ++k) EXPECT_LE(std::abs(int(same[k]) - c[k]), 6);
        const int hue = int(rng() % 256), sat = int(rng() % 513) - 256;
        run(c, hue, sat, n % 2 ? &ctx : nullptr, other);
        for (uint16_t v : other) EXPECT_LE(v, 1023);
        // Same hue rotation as the 8-bit form on the samples' top 8 bits, up to the finer rounding.
        const uint8_t c8[3] = {uint8_t(c[0] >> 2), uint8_t(c[1] >> 2), uint8_t(c[2] >> 2)};
        const uint32_t v8 = RunHueSaturation8(c8, hue, sat, nullptr);
        for (int k = 0; k < 3; ++k) EXPECT_LE(std::abs(int(other[k] >> 2) - int((v8 >> (8 * k)) & 0xFF)), 3);
        (void)widened;
    }
    // Samples above 10 bits are read as 1023.
    const uint16_t big[3] = {5000, 1023, 1023};
    run(big, 0, 0, nullptr, out);
    EXPECT_EQ(out[0], 1023);
}

TEST(Filters, ContextsDoNotInterfere) {
    const CpuInfo cpu = test::HostCpu();
    FilterContext a(&cpu), b(&cpu);
    const uint8_t px[3] = {30, 140, 220};
    const uint32_t aAlone = RunHueSaturation8(px, 20, 100, nullptr);
    const uint32_t bAlone = RunHueSaturation8(px, 20, -180, nullptr);
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(RunHueSaturation8(px, 20, 100, &a), aAlone);
        EXPECT_EQ(RunHueSaturation8(px, 20, -180, &b), bAlone);
    }
    const std::vector<int> g1 = Table8(GammaGray8, 70, &a);
    const std::vector<int> g2 = Table8(GammaGray8, 130, &b);
    EXPECT_EQ(Table8(GammaGray8, 70, &a), g1);
    EXPECT_EQ(Table8(GammaGray8, 70, nullptr), g1);
    EXPECT_NE(g1, g2);
}

}  // namespace
}  // namespace zelvik
