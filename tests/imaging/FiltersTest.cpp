// Filter kernels: the worked examples, scalar models for sharpening and hue/saturation, table caching.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/Kernels.h"
#include "ImagingTestUtil.h"

namespace zelvik {
namespace {

using test::Px;
using test::Word;

// Every 8-bit sample value once: a 256 x 1 gray buffer whose output is the kernel's table.
std::vector<int> Table8(FilterKernel k, int32_t setting, FilterContext* ctx) {
    FrameBuffer b;
    EXPECT_EQ(b.Create(256, 1, 8), 1);
    for (int i = 0; i < 256; ++i) b.Bits()[i] = static_cast<uint8_t>(i);
    b.Apply(k, b, nullptr, 0, 0, setting, FilterTarget{FilterSamples::kGray8, ctx});
    return std::vector<int>(b.Bits(), b.Bits() + 256);
}

std::vector<int> Table16(FilterKernel k, int32_t setting, int bits, FilterContext* ctx) {
    FrameBuffer b;
    EXPECT_EQ(b.Create(1100, 1, bits), 1);
    const int channels = bits == 16 ? 1 : 3;
    for (int i = 0; i < 1100; ++i)
        for (int c = 0; c < channels; ++c) test::SetWord(b, i, 0, c, static_cast<uint16_t>(i));
    b.Apply(k, b, nullptr, 0, 0, setting,
            FilterTarget{channels == 1 ? FilterSamples::kGray16 : FilterSamples::kColor16, ctx});
    std::vector<int> out;
    for (int i = 0; i < 1100; ++i) {
        out.push_back(Word(b, i, 0, 0));
        for (int c = 1; c < channels; ++c) EXPECT_EQ(Word(b, i, 0, c), out.back());
    }
    return out;
}

TEST(Filters, GammaTables) {
    FilterContext ctx(test::HostFilterForms());
    for (FilterContext* c : {static_cast<FilterContext*>(nullptr), &ctx}) {
        const std::vector<int> g50 = Table8(Gamma, 50, c);
        EXPECT_EQ(g50[0], 0);
        EXPECT_EQ(g50[1], 15);
        EXPECT_EQ(g50[255], 254);
        const std::vector<int> g200 = Table8(Gamma, 200, c);
        for (int i : {1, 2, 3, 4}) EXPECT_EQ(g200[i], 1);
        EXPECT_EQ(g200[255], 254);
        const std::vector<int> g0 = Table8(Gamma, 0, c);
        for (int i = 1; i < 256; ++i) EXPECT_TRUE(g0[i] == 253 || g0[i] == 254) << i;
        // Gamma 100: x = i; the search stops at j = x for an exact integer, so i maps to i - 1 (1 -> 2).
        const std::vector<int> g100 = Table8(Gamma, 100, c);
        EXPECT_EQ(g100[1], 2);
        EXPECT_EQ(g100[100], 99);
        const std::vector<int> g16 = Table16(Gamma, 50, 16, c);
        EXPECT_EQ(g16[0], 0);
        EXPECT_EQ(g16[1023], 1022);
        EXPECT_EQ(g16[1099], g16[1023]);  // samples above 10 bits count as 1023
        EXPECT_EQ(Table16(Gamma, 50, 48, c), g16);
    }
    // The cached table is the one built for the setting, and it is rebuilt only when the setting changes.
    const uint8_t* first = ctx.Gamma8(50);
    EXPECT_EQ(ctx.Gamma8(50), first);
    EXPECT_EQ(first[1], 15);
    EXPECT_EQ(ctx.Gamma8(200)[2], 1);
}

TEST(Filters, ContrastRules) {
    FilterContext ctx(test::HostFilterForms());
    for (FilterContext* c : {static_cast<FilterContext*>(nullptr), &ctx}) {
        const std::vector<int> up = Table8(Contrast, 64, c);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(up[i], 0);
        for (int i = 192; i < 256; ++i) EXPECT_EQ(up[i], 255);
        EXPECT_EQ(up[128], 128);
        const std::vector<int> down = Table8(Contrast, -64, c);
        EXPECT_EQ(down[0], 42);
        EXPECT_EQ(down[255], 212);
        EXPECT_EQ(Table8(Contrast, 128, c), std::vector<int>(256, 0));
        // Gray16 scales the setting by 4, Color16 does not.
        const std::vector<int> gray16 = Table16(Contrast, 64, 16, c);
        const std::vector<int> colour16 = Table16(Contrast, 64, 48, c);
        EXPECT_EQ(gray16[255], 0);
        EXPECT_EQ(gray16[300], 88);
        EXPECT_EQ(gray16[768], 1023);
        EXPECT_EQ(colour16[300], 269);
        EXPECT_EQ(colour16[63], 0);
        EXPECT_EQ(colour16[960], 1023);
        EXPECT_EQ(Table16(Contrast, 128, 16, c), std::vector<int>(1100, 0));
        EXPECT_EQ(Table16(Contrast, 512, 48, c), std::vector<int>(1100, 0));
        EXPECT_EQ(Table16(Contrast, 511, 48, c)[1023], 1023);
    }
}

TEST(Filters, Brightness) {
    const std::vector<int> b25 = Table8(Brightness, 25, nullptr);
    EXPECT_EQ(b25[100], 198);
    EXPECT_EQ(b25[129], 255);
    EXPECT_EQ(b25[130], 255);
    EXPECT_EQ(Table8(Brightness, -255, nullptr), std::vector<int>(256, 0));
    EXPECT_EQ(Table8(Brightness, -128, nullptr)[200], static_cast<int>(200 * (1 - 128 * 0.00392156862745098)));
    const std::vector<int> b16 = Table16(Brightness, 25, 64, nullptr);
    EXPECT_EQ(b16[500], 990);
    EXPECT_EQ(b16[1000], 1023);
}

TEST(Filters, ColourMembersLeaveTheFourthByte) {
    FilterContext ctx(test::HostFilterForms());
    std::mt19937 rng(8);
    for (FilterKernel k : {Gamma, Contrast, Brightness}) {
        FrameBuffer b24, b32;
        ASSERT_EQ(b24.Create(37, 5, 24), 1);
        ASSERT_EQ(b32.Create(37, 5, 32), 1);
        test::FillRandom(b32, rng);
        for (int r = 0; r < 5; ++r)
            for (int x = 0; x < 37; ++x) std::memcpy(Px(b24, x, r), Px(b32, x, r), 3);
        std::vector<uint8_t> fourth;
        for (int r = 0; r < 5; ++r)
            for (int x = 0; x < 37; ++x) fourth.push_back(Px(b32, x, r)[3]);
        b24.Apply(k, b24, nullptr, 0, 0, 37, FilterTarget{FilterSamples::kColor8, &ctx});
        b32.Apply(k, b32, nullptr, 0, 0, 37, FilterTarget{FilterSamples::kColor8, nullptr});
        for (int r = 0, n = 0; r < 5; ++r)
            for (int x = 0; x < 37; ++x, ++n) {
                EXPECT_EQ(std::memcmp(Px(b24, x, r), Px(b32, x, r), 3), 0);
                EXPECT_EQ(Px(b32, x, r)[3], fourth[n]);
            }
    }
}

// Gamma, contrast and brightness as one lookup give, for every sample value (every 8-bit value, every
// 10-bit value and words above 10 bits), exactly the bytes of the three filters run in turn, each skipped
// at its neutral value as the frame path skips it: every pair of settings over their whole ranges (the
// third neutral) and a grid of all three, for gray and colour samples of each depth, with the context's
// cached tables and without a context.
TEST(Filters, ToneCurveIsTheThreeLookupsInTurn) {
    struct Member {
        FilterSamples samples;
        int bits;
        bool everyPair;  // gray 8 and colour 16 bits carry every table; the other two a grid of them
    } members[] = {{FilterSamples::kGray8, 8, true},
                   {FilterSamples::kGray16, 16, false},
                   {FilterSamples::kColor8, 32, false},
                   {FilterSamples::kColor16, 64, true}};
    for (const Member& m : members) {
        const bool wide = m.bits == 16 || m.bits == 64;
        const int channels = m.bits == 8 || m.bits == 16 ? 1 : 3;
        const int values = wide ? 1027 : 256;
        FrameBuffer input;
        ASSERT_EQ(input.Create(values, 1, m.bits), 1);
        std::mt19937 rng(m.bits);
        test::FillRandom(input, rng);  // the fourth byte or word of colour pixels must stay
        for (int v = 0; v < values; ++v)
            for (int c = 0; c < channels; ++c) {
                if (wide) test::SetWord(input, v, 0, c, static_cast<uint16_t>(v < 1024 ? v : v == 1024 ? 1024 : v == 1025 ? 4095 : 65535));
                else Px(input, v, 0)[c] = static_cast<uint8_t>(v);
            }
        const size_t bytes = input.Stride();
        FilterContext stepsContext(test::HostFilterForms()), toneContext(test::HostFilterForms());
        FrameBuffer steps, tone;
        ASSERT_EQ(steps.CreateLike(&input), 1);
        ASSERT_EQ(tone.CreateLike(&input), 1);
        int compared = 0;
        const auto check = [&](int gamma, int contrast, int brightness, bool withContext) {
            std::memcpy(steps.Bits(), input.Bits(), bytes);
            std::memcpy(tone.Bits(), input.Bits(), bytes);
            const FilterTarget stepsTarget{m.samples, withContext ? &stepsContext : nullptr};
            if (gamma != 100) steps.Apply(Gamma, steps, nullptr, 0, 0, gamma, stepsTarget);
            if (contrast != 0) steps.Apply(Contrast, steps, nullptr, 0, 0, contrast, stepsTarget);
            if (brightness != 0) steps.Apply(Brightness, steps, nullptr, 0, 0, brightness, stepsTarget);
            tone.Apply(ToneCurve, tone, nullptr, 0, 0, ToneSettings{gamma, contrast, brightness},
                       FilterTarget{m.samples, withContext ? &toneContext : nullptr});
            ++compared;
            return std::memcmp(steps.Bits(), tone.Bits(), bytes) == 0;
        };
        const int step = m.everyPair ? 1 : 9;
        // Gamma outermost: its table (the costly one at 10 bits) is built once per value in each context.
        for (int g = 0; g <= 200; g += step) {
            for (int c = -127; c <= 127; c += step)
                ASSERT_TRUE(check(g, c, 0, true)) << m.bits << " bits, gamma " << g << " contrast " << c;
            for (int b = -255; b <= 255; b += step)
                ASSERT_TRUE(check(g, 0, b, true)) << m.bits << " bits, gamma " << g << " brightness " << b;
        }
        for (int c = -127; c <= 127; c += step)
            for (int b = -255; b <= 255; b += step)
                ASSERT_TRUE(check(100, c, b, true)) << m.bits << " bits, contrast " << c << " brightness " << b;
        for (int g : {0, 1, 50, 99, 101, 137, 200})
            for (int c : {-127, -64, -1, 1, 20, 63, 64, 127})
                for (int b : {-255, -128, -1, 1, 10, 128, 255})
                    ASSERT_TRUE(check(g, c, b, true)) << m.bits << " bits: " << g << " " << c << " " << b;
        // Without a context the tables are built per call.
        for (int g : {50, 137})
            for (int c : {-64, 20})
                for (int b : {-128, 10})
                    ASSERT_TRUE(check(g, c, b, false)) << m.bits << " bits, no context: " << g << " " << c << " " << b;
        EXPECT_GT(compared, 1000);
    }
}

// Every vector form of each filter family is its own case; forms this processor lacks skip.
class FilterForm : public testing::TestWithParam<VectorForm> {
protected:
    void SetUp() override { ZELVIK_SKIP_UNLESS_HOST_RUNS(GetParam()); }
    size_t Index() const { return static_cast<size_t>(GetParam()); }
};
using LutForms = FilterForm;
using SharpenForms = FilterForm;
using HueSaturationForms = FilterForm;

// Runs of every length through the table (whole 64-byte blocks, the masked tail).
TEST_P(LutForms, LookUpEveryByteOfARun) {
    FilterForms forms;
    forms.lut = kLutRows[Index()];
    FilterContext ctx(forms);
    std::mt19937 rng(4);
    const uint8_t* table = ctx.Gamma8(70);
    for (int n : {1, 63, 64, 65, 128, 300}) {
        FrameBuffer b;
        ASSERT_EQ(b.Create(n, 2, 8), 1);
        test::FillRandom(b, rng);
        const std::vector<uint8_t> in = test::Pixels(b);
        b.Apply(Gamma, b, nullptr, 0, 0, 70, FilterTarget{FilterSamples::kGray8, &ctx});
        const std::vector<uint8_t> out = test::Pixels(b);
        for (size_t k = 0; k < in.size(); ++k) ASSERT_EQ(out[k], table[in[k]]) << n << " at " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, LutForms, testing::Values(VectorForm::kPortable, VectorForm::kAvx512),
                         test::FormParamName);

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

TEST_P(SharpenForms, MatchTheTwoPassModel) {
    FilterForms forms;
    forms.sharpen = kSharpenRows[Index()];
    FilterContext ctx(forms);
    std::mt19937 rng(21);
    struct Member {
        FilterSamples samples;
        int bits, channels, sampleBytes, top;
    } members[] = {{FilterSamples::kGray8, 8, 1, 1, 255},
                   {FilterSamples::kColor8, 24, 3, 1, 255},
                   {FilterSamples::kColor8, 32, 3, 1, 255},
                   {FilterSamples::kGray16, 16, 1, 2, 1023},
                   {FilterSamples::kColor16, 48, 3, 2, 1023}};
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
                    result.Apply(Sharpen, work, nullptr, 0, 0, s, FilterTarget{m.samples, c});
                    ASSERT_EQ(test::Pixels(result), test::Pixels(expected))
                        << "bits " << m.bits << " " << W << "x" << H << " s " << s << (c ? " vector" : " portable");
                    // In bands of rows (1-3, and bands that do not divide the height).
                    for (int band : {1, 2, 3}) {
                        std::copy(out.Bits(), out.Bits() + out.Stride() * H, result.Bits());
                        for (int from = 0; from < H; from += band)
                            result.Apply(SharpenBand, work, nullptr, 0, 0, s, FilterTarget{m.samples, c}, from,
                                         std::min(H, from + band));
                        ASSERT_EQ(test::Pixels(result), test::Pixels(expected))
                            << "bits " << m.bits << " " << W << "x" << H << " s " << s << " bands of " << band;
                    }
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
    dst.Apply(Sharpen, flat, nullptr, 0, 0, 100, FilterTarget{FilterSamples::kColor8, &ctx});
    EXPECT_EQ(test::Pixels(dst), test::Pixels(flat));
}

INSTANTIATE_TEST_SUITE_P(Rows, SharpenForms,
                         testing::Values(VectorForm::kPortable, VectorForm::kSse2, VectorForm::kAvx2),
                         test::FormParamName);

uint32_t RunHueSaturation8(const uint8_t c[3], int hue, int saturation, FilterContext* ctx) {
    FrameBuffer b;
    EXPECT_EQ(b.Create(1, 1, 32), 1);
    std::memcpy(b.Bits(), c, 3);
    b.Bits()[3] = 0x5C;
    b.Apply(HueSaturation, b, nullptr, 0, 0, HueSaturationParams{hue, 0, saturation, 10},
            FilterTarget{FilterSamples::kColor8, ctx});
    EXPECT_EQ(b.Bits()[3], 0x5C);
    return b.Bits()[0] | (b.Bits()[1] << 8) | (b.Bits()[2] << 16);
}

// Pixels worked through by hand (blue, green, red in; lightness 0): chroma C' = round(C (s + 256) / 256)
// limited to min(sum, 511 - sum), base = (sum - C') / 2, the sector's channels get base + span and the
// hue fraction moves one channel by round(span x f / 256).
TEST_P(HueSaturationForms, WorkedExamples) {
    struct Case {
        uint8_t in[3];
        int hue, saturation;
        uint8_t out[3];
    } cases[] = {
        // C 150, sum 250, f = (50 x 111411 + 0x8000) >> 16 = 85 in sector 1: unchanged.
        {{50, 100, 200}, 0, 0, {50, 100, 200}},
        // hue 43: angle 256 = sector 1 + 1; sector 2, f 86: green takes the span, red steps down 50.
        {{50, 100, 200}, 43, 0, {50, 200, 150}},
        // saturation -128: C' = 75, base 87, span 75, step 25.
        {{50, 100, 200}, 0, -128, {87, 112, 162}},
        // saturation -256: chroma 0, every channel (max + min) / 2.
        {{50, 100, 200}, 0, -256, {125, 125, 125}},
        // Blue largest: sector 5, f 90; hue 200 adds 4 sectors and 176, which wraps f to 11 in sector 4.
        {{200, 30, 90}, 200, 64, {221, 212, 8}},
        // Chroma 480 limited to 511 - 260 = 251, so green ends at 255 and no channel leaves 0..255.
        {{10, 250, 240}, 0, 256, {4, 255, 244}},
    };
    FilterForms forms;
    forms.hueSaturation = kHueSaturationRows[Index()];
    FilterContext ctx(forms);
    for (const Case& c : cases) {
        for (int bits : {24, 32}) {
            // Whole rows of the same pixel, so that the vector rows (8 pixels a step) take them too.
            FrameBuffer b;
            ASSERT_EQ(b.Create(19, 1, bits), 1);
            for (int x = 0; x < 19; ++x) {
                std::memcpy(Px(b, x, 0), c.in, 3);
                if (bits == 32) Px(b, x, 0)[3] = static_cast<uint8_t>(x);
            }
            b.Apply(HueSaturation, b, nullptr, 0, 0, HueSaturationParams{c.hue, 0, c.saturation, 10},
                    FilterTarget{FilterSamples::kColor8, &ctx});
            for (int x = 0; x < 19; ++x) {
                const uint8_t* got = Px(b, x, 0);
                EXPECT_EQ(std::vector<int>(got, got + 3), std::vector<int>(c.out, c.out + 3))
                    << "in " << int(c.in[0]) << "," << int(c.in[1]) << "," << int(c.in[2]) << " hue " << c.hue
                    << " sat " << c.saturation << " x " << x;
                if (bits == 32) {
                    EXPECT_EQ(got[3], x);
                }
            }
        }
    }
}

// Whole rows in the form under test against the portable per-pixel path, 24- and 32-bit pixels.
TEST_P(HueSaturationForms, RowsMatchThePortablePath) {
    std::mt19937 rng(23);
    FilterForms forms;
    forms.hueSaturation = kHueSaturationRows[Index()];
    FilterContext ctx(forms);
    for (int bits : {24, 32}) {
        for (int n = 0; n < 60; ++n) {
            const int W = std::uniform_int_distribution<int>(1, 70)(rng);
            FrameBuffer b, expected;
            ASSERT_EQ(b.Create(W, 3, bits), 1);
            test::FillRandom(b, rng);
            ASSERT_EQ(expected.CreateLike(&b), 1);
            std::copy(b.Bits(), b.Bits() + b.Stride() * 3, expected.Bits());
            const HueSaturationParams p{std::uniform_int_distribution<int>(-300, 300)(rng), 0,
                                        n == 0 ? 40000 : std::uniform_int_distribution<int>(-256, 400)(rng), 10};
            b.Apply(HueSaturation, b, nullptr, 0, 0, p, FilterTarget{FilterSamples::kColor8, &ctx});
            expected.Apply(HueSaturation, expected, nullptr, 0, 0, p, FilterTarget{FilterSamples::kColor8, nullptr});
            ASSERT_EQ(test::Pixels(b), test::Pixels(expected))
                << bits << " bits, hue " << p.hue << " sat " << p.saturation;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HueSaturationForms, testing::Values(VectorForm::kPortable, VectorForm::kAvx2),
                         test::FormParamName);

TEST(Filters, HueSaturationProperties) {
    std::mt19937 rng(17);
    FilterContext ctx(test::HostFilterForms());
    const uint8_t px[3] = {50, 100, 200};
    EXPECT_EQ(RunHueSaturation8(px, 0, -256, nullptr), 125u * 0x010101u);
    EXPECT_EQ(RunHueSaturation8(px, 256, 40, nullptr), RunHueSaturation8(px, 0, 40, nullptr));
    EXPECT_EQ(RunHueSaturation8(px, -1, 40, nullptr), RunHueSaturation8(px, 255, 40, nullptr));
    for (int n = 0; n < 2000; ++n) {  // hue 0, saturation 0: unchanged up to rounding
        const uint8_t c[3] = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
        const uint32_t v = RunHueSaturation8(c, 0, 0, n % 2 ? &ctx : nullptr);
        for (int k = 0; k < 3; ++k) EXPECT_LE(std::abs(int((v >> (8 * k)) & 0xFF) - c[k]), 1);
    }
    for (int n = 0; n < 2000; ++n) {  // saturation -256: gray at (max + min) / 2, whatever the hue
        const uint8_t c[3] = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
        const int gray = (std::max({c[0], c[1], c[2]}) + std::min({c[0], c[1], c[2]})) / 2;
        EXPECT_EQ(RunHueSaturation8(c, static_cast<int>(rng() % 256), -256, n % 2 ? &ctx : nullptr),
                  static_cast<uint32_t>(gray) * 0x010101u);
    }
}

TEST(Filters, HueSaturationTenBit) {
    std::mt19937 rng(2);
    FilterContext ctx(test::HostFilterForms());
    auto run = [&](const uint16_t c[3], int hue, int sat, FilterContext* context, uint16_t out[3]) {
        FrameBuffer b;
        ASSERT_EQ(b.Create(1, 1, 64), 1);
        for (int k = 0; k < 3; ++k) test::SetWord(b, 0, 0, k, c[k]);
        test::SetWord(b, 0, 0, 3, 0xBEEF);
        b.Apply(HueSaturation, b, nullptr, 0, 0, HueSaturationParams{hue, 0, sat, 10},
                FilterTarget{FilterSamples::kColor16, context});
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
    FilterContext a(test::HostFilterForms()), b(test::HostFilterForms());
    const uint8_t px[3] = {30, 140, 220};
    const uint32_t aAlone = RunHueSaturation8(px, 20, 100, nullptr);
    const uint32_t bAlone = RunHueSaturation8(px, 20, -180, nullptr);
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(RunHueSaturation8(px, 20, 100, &a), aAlone);
        EXPECT_EQ(RunHueSaturation8(px, 20, -180, &b), bAlone);
    }
    const std::vector<int> g1 = Table8(Gamma, 70, &a);
    const std::vector<int> g2 = Table8(Gamma, 130, &b);
    EXPECT_EQ(Table8(Gamma, 70, &a), g1);
    EXPECT_EQ(Table8(Gamma, 70, nullptr), g1);
    EXPECT_NE(g1, g2);
}

}  // namespace
}  // namespace zelvik
