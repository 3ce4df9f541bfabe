// Demosaic kernels against a scalar model written from their description, on random mosaics of odd
// and even sizes in every Bayer phase, plus the worked examples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/Demosaic.h"
#include "imaging/Kernels.h"
#include "ImagingTestUtil.h"

namespace zelvik {
namespace {

using test::Px;
using test::Word;

// ---- The model -------------------------------------------------------------------------------------

// Colour of a sensor site (rowPhase, colPhase).
char Site(int rp, int cp) { return rp == 0 ? (cp == 0 ? 'G' : 'B') : (cp == 0 ? 'R' : 'G'); }

enum class Arith { kPortable, kFast, kTenBit };

struct Out {
    int b, g, r;
};

using Reader = std::function<int64_t(int x, int r)>;

// Output (x, r) with phase (pr, pc): the 2 x 2 block of columns x-1, x and rows r-1, r; red and blue
// from their block sample (weight 9), the same colour two beyond the centre (3, 3) and the diagonal (1).
Out ModelPixel(const Reader& S, int x, int r, int pr, int pc, int gR, int gB, Arith arith) {
    struct Pos {
        int x, r;
        char c;
    } block[4] = {{x - 1, r - 1, Site(pr ^ 1, pc ^ 1)}, {x, r - 1, Site(pr ^ 1, pc)}, {x - 1, r, Site(pr, pc ^ 1)},
                  {x, r, Site(pr, pc)}};
    auto weighted = [&](char colour) -> int64_t {
        for (const Pos& p : block) {
            if (p.c != colour) continue;
            const int x2 = p.x == x ? x - 2 : x + 1, r2 = p.r == r ? r - 2 : r + 1;
            return 9 * S(p.x, p.r) + 3 * S(x2, p.r) + 3 * S(p.x, r2) + S(x2, r2);
        }
        ADD_FAILURE() << "block without " << colour;
        return 0;
    };
    int64_t greens = 0;
    for (const Pos& p : block)
        if (p.c == 'G') greens += S(p.x, p.r);
    auto colour = [&](int64_t s, int64_t g) -> int {
        switch (arith) {
            case Arith::kPortable: return static_cast<int>(std::min<int64_t>(255, (s * g) >> 11));
            case Arith::kFast: return static_cast<int>(std::min<int64_t>(255, ((s / 16) * g) >> 7));
            default: return s * g > 0x1FFFFF ? 1023 : static_cast<int>((s * g) >> 11);
        }
    };
    const int green = static_cast<int>(greens >> 1);
    return {colour(weighted('B'), gB), arith == Arith::kTenBit ? std::min(green, 1023) : green, colour(weighted('R'), gR)};
}

enum class Variant { kPortable, kFast8, kFast16 };
Variant ModelVariant(DemosaicVariant v) {
    return v == DemosaicVariant::kFast8 ? Variant::kFast8 : v == DemosaicVariant::kFast16 ? Variant::kFast16 : Variant::kPortable;
}

// Full expected output: interior walk (origin (2, 2)), then the four border strips with one carried walk
// and the same-colour substitutions four pixels inwards.
std::vector<Out> ModelFrame(const std::vector<int>& samples, int W, int H, const BayerParams& p, Variant variant,
                            bool tenBit, std::vector<bool>* written) {
    const int gR = FixedGain(p.redGain), gB = FixedGain(p.blueGain);
    std::vector<Out> out(static_cast<size_t>(W) * H, Out{-1, -1, -1});
    written->assign(out.size(), false);
    auto at = [&](int x, int r) -> int64_t { return samples[static_cast<size_t>(r) * W + x]; };
    const bool fastAllowed = p.redGain <= 200 && p.blueGain <= 200 && p.redGain >= 0 && p.blueGain >= 0;
    const int x0 = 16 * ((W - 4) / 16);
    int rp = p.mode & 1, cp = (p.mode >> 1) & 1;
    if (H > 4) {
        for (int i = 2; i <= H - 3; ++i, rp ^= 1) {
            for (int j = 2; j <= W - 3; ++j, cp ^= 1) {
                bool fast = false;
                if (variant == Variant::kFast8) fast = j >= 14;
                if (variant == Variant::kFast16) fast = j >= 14 && j <= x0 + 1;
                const Arith a = tenBit ? Arith::kTenBit : (fast && fastAllowed ? Arith::kFast : Arith::kPortable);
                out[static_cast<size_t>(i) * W + j] = ModelPixel(at, j, i, rp, cp, gR, gB, a);
                (*written)[static_cast<size_t>(i) * W + j] = true;
            }
        }
    }
    rp = p.mode & 1, cp = (p.mode >> 1) & 1;
    struct Strip {
        int r0, r1, c0, c1;
    } strips[4] = {{0, 1, 0, W - 1}, {H - 2, H - 1, 0, W - 1}, {0, H - 1, 0, 1}, {0, H - 1, W - 2, W - 1}};
    for (const Strip& s : strips) {
        for (int i = s.r0; i <= s.r1; ++i, rp ^= 1) {
            for (int j = s.c0; j <= s.c1; ++j, cp ^= 1) {
                // Substitutions exactly as listed for the first two and the last row / column.
                Reader sub = [&, i, j](int x, int r) -> int64_t {
                    if (i == 0 && r == -1) r = 3;
                    if (i == 0 && r == -2) r = 2;
                    if (i == 1 && r == -1) r = 3;
                    if (i == H - 1 && r == H) r = H - 4;
                    if (j == 0 && x == -1) x = 3;
                    if (j == 0 && x == -2) x = 2;
                    if (j == 1 && x == -1) x = 3;
                    if (j == W - 1 && x == W) x = W - 4;
                    EXPECT_TRUE(x >= 0 && x < W && r >= 0 && r < H) << "model read outside at " << x << "," << r;
                    return at(x, r);
                };
                out[static_cast<size_t>(i) * W + j] = ModelPixel(sub, j, i, rp, cp, gR, gB, tenBit ? Arith::kTenBit : Arith::kPortable);
                (*written)[static_cast<size_t>(i) * W + j] = true;
            }
        }
    }
    return out;
}

// ---- Running the kernels -----------------------------------------------------------------------------

// One interior variant in the vector form under test (the border runs in the same form).
struct Form {
    const char* name;
    DemosaicForm demosaic;
};

// Every vector form of the demosaic is its own case; forms this processor lacks skip.
class DemosaicForms : public testing::TestWithParam<VectorForm> {
protected:
    void SetUp() override { ZELVIK_SKIP_UNLESS_HOST_RUNS(GetParam()); }
    const detail::DemosaicRows* Rows() const { return kDemosaicRows[static_cast<size_t>(GetParam())]; }
    std::vector<Form> Forms8() const {
        return {{"interior", {DemosaicVariant::kPortable, Rows()}},
                {"fast8", {DemosaicVariant::kFast8, Rows()}},
                {"fast16", {DemosaicVariant::kFast16, Rows()}}};
    }
    Form Form16() const { return {"interior16", {DemosaicVariant::kPortable, Rows()}}; }
};

// The interior then the border, as DemosaicPass runs them, for the source's depth.
void RunForm(const Form& form, FrameBuffer& dst, FrameBuffer& src, const BayerParams& p) {
    if (src.BitsPerPixel() == 16) {
        ASSERT_EQ(dst.Apply(DemosaicInterior16, src, nullptr, 0, 0, p, form.demosaic), 1);
        ASSERT_EQ(dst.Apply(DemosaicBorder16, src, nullptr, 0, 0, p, form.demosaic), 1);
    } else {
        ASSERT_EQ(dst.Apply(DemosaicInterior, src, nullptr, 0, 0, p, form.demosaic), 1);
        ASSERT_EQ(dst.Apply(DemosaicBorder, src, nullptr, 0, 0, p, form.demosaic), 1);
    }
}

// Runs interior + border on a mosaic; returns the destination with its fourth channel checked unchanged.
void CheckAgainstModel(const Form& form, const std::vector<int>& samples, int W, int H, const BayerParams& p,
                       int destBits, std::mt19937& rng) {
    const bool ten = destBits >= 48;
    FrameBuffer src, dst;
    ASSERT_EQ(src.Create(W, H, ten ? 16 : 8), 1);
    ASSERT_EQ(dst.Create(W, H, destBits), 1);
    for (int r = 0; r < H; ++r)
        for (int x = 0; x < W; ++x) {
            const int v = samples[static_cast<size_t>(r) * W + x];
            if (ten) test::SetWord(src, x, r, 0, static_cast<uint16_t>(v));
            else *Px(src, x, r) = static_cast<uint8_t>(v);
        }
    test::FillRandom(dst, rng);  // the fourth byte/word and unwritten pixels must keep this
    FrameBuffer before;
    ASSERT_EQ(before.CreateLike(&dst), 1);
    std::copy(dst.Bits(), dst.Bits() + size_t(dst.Stride()) * H, before.Bits());

    RunForm(form, dst, src, p);

    std::vector<bool> written;
    const std::vector<Out> model = ModelFrame(samples, W, H, p, ModelVariant(form.demosaic.variant), ten, &written);
    int failures = 0;
    for (int r = 0; r < H && failures < 5; ++r) {
        for (int x = 0; x < W && failures < 5; ++x) {
            const Out& m = model[static_cast<size_t>(r) * W + x];
            const int got[4] = {ten ? Word(dst, x, r, 0) : Px(dst, x, r)[0], ten ? Word(dst, x, r, 1) : Px(dst, x, r)[1],
                                ten ? Word(dst, x, r, 2) : Px(dst, x, r)[2], 0};
            const int expect[3] = {m.b, m.g, m.r};
            for (int k = 0; k < 3; ++k) {
                const int e = written[static_cast<size_t>(r) * W + x] ? expect[k]
                              : ten ? Word(before, x, r, k) : Px(before, x, r)[k];
                if (got[k] != e) {
                    ++failures;
                    ADD_FAILURE() << form.name << " " << W << "x" << H << " mode " << p.mode << " gains " << p.redGain
                                  << "/" << p.blueGain << " dest " << destBits << ": pixel (" << x << "," << r
                                  << ") channel " << k << " got " << got[k] << " expected " << e;
                }
            }
            if (destBits == 32) {
                EXPECT_EQ(Px(dst, x, r)[3], Px(before, x, r)[3]);
            }
            if (destBits == 64) {
                EXPECT_EQ(Word(dst, x, r, 3), Word(before, x, r, 3));
            }
        }
    }
}

const int kSizes[][2] = {{4, 4}, {5, 5}, {6, 7}, {7, 6}, {17, 9}, {20, 6}, {33, 8}, {36, 5}, {48, 11}, {63, 10},
                         {100, 7}, {131, 12}, {135, 6}, {300, 6}, {517, 7}};

TEST_P(DemosaicForms, EightBitMatchesTheModel) {
    std::mt19937 rng(1234);
    for (const Form& form : Forms8()) {
        for (auto [W, H] : kSizes) {
            for (int mode = 0; mode < 4; ++mode) {
                std::vector<int> samples(static_cast<size_t>(W) * H);
                for (int& s : samples) s = std::uniform_int_distribution<int>(0, 255)(rng);
                std::uniform_int_distribution<int> gain(0, 200);
                const BayerParams p{mode, gain(rng), 100, gain(rng)};
                CheckAgainstModel(form, samples, W, H, p, 24, rng);
                if (form.demosaic.variant == DemosaicVariant::kPortable) CheckAgainstModel(form, samples, W, H, p, 32, rng);
            }
        }
        // Large gains: the limit at 255 and, beyond g = 2047, the scalar path; fast forms outside their
        // gain range give the portable result.
        for (auto gains : {std::pair{250, 1599}, std::pair{1700, 2000}}) {
            std::vector<int> samples(64 * 9);
            for (int& s : samples) s = std::uniform_int_distribution<int>(0, 255)(rng);
            CheckAgainstModel(form, samples, 64, 9, BayerParams{1, gains.first, 100, gains.second}, 24, rng);
        }
    }
}

TEST_P(DemosaicForms, SixteenBitMatchesTheModel) {
    std::mt19937 rng(99);
    {
        const Form form = Form16();
        for (auto [W, H] : kSizes) {
            for (int mode = 0; mode < 4; ++mode) {
                std::vector<int> samples(static_cast<size_t>(W) * H);
                for (int& s : samples) s = std::uniform_int_distribution<int>(0, 1023)(rng);
                const BayerParams p{mode, std::uniform_int_distribution<int>(0, 300)(rng), 100,
                                    std::uniform_int_distribution<int>(0, 300)(rng)};
                CheckAgainstModel(form, samples, W, H, p, 48, rng);
                CheckAgainstModel(form, samples, W, H, p, 64, rng);
            }
        }
        // Words above 10 bits (not from this camera) still follow the formula exactly.
        std::vector<int> samples(70 * 8);
        for (int& s : samples) s = std::uniform_int_distribution<int>(0, 1023)(rng);
        samples[3 * 70 + 40] = 65535;
        CheckAgainstModel(form, samples, 70, 8, BayerParams{2, 100, 100, 100}, 48, rng);
    }
}

// 32-bit destinations keep every pixel's own fourth byte, however it varies: mostly one value (as after
// Create), with odd ones scattered, a row of alternating values and a pixel at each row's end, on rows
// long enough for every store path.
TEST_P(DemosaicForms, ThirtyTwoBitOutputKeepsEachPixelsFourthByte) {
    const int W = 1100, H = 9;
    FrameBuffer src, dst, colours;
    ASSERT_EQ(src.Create(W, H, 8), 1);
    ASSERT_EQ(dst.Create(W, H, 32), 1);
    ASSERT_EQ(colours.Create(W, H, 24), 1);
    std::mt19937 rng(32);
    test::FillRandom(src, rng);
    std::vector<uint8_t> fourth(static_cast<size_t>(W) * H, 0xFF);
    for (size_t k = 0; k < fourth.size(); k += 97) fourth[k] = static_cast<uint8_t>(k);
    for (int x = 0; x < W; ++x) fourth[size_t(4) * W + x] = static_cast<uint8_t>(x & 1 ? 0x00 : 0xA5);
    for (int r = 0; r < H; ++r) fourth[size_t(r) * W + W - 1] = 0x12;
    for (int r = 0; r < H; ++r)
        for (int x = 0; x < W; ++x) Px(dst, x, r)[3] = fourth[size_t(r) * W + x];
    const Form form{"interior", {DemosaicVariant::kPortable, Rows()}};
    const BayerParams p{0, 130, 100, 90};
    RunForm(form, dst, src, p);
    RunForm(form, colours, src, p);  // the 24-bit result: the same three bytes
    for (int r = 0; r < H; ++r)
        for (int x = 0; x < W; ++x) {
            ASSERT_EQ(Px(dst, x, r)[3], fourth[size_t(r) * W + x]) << x << "," << r;
            ASSERT_EQ(std::memcmp(Px(dst, x, r), Px(colours, x, r), 3), 0) << x << "," << r;
        }
}

// The one-walk kernel of the frame path gives the bytes of the interior kernel followed by the border
// kernel: the border columns' phases depend on the parity of the width and the height and on the mode,
// and the destination's own bytes (the fourth of each 32-bit pixel) stay.
TEST_P(DemosaicForms, OneWalkMatchesInteriorThenBorder) {
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{5, 5}, {6, 7}, {7, 6}, {37, 11}, {70, 12}, {101, 9}};
    std::mt19937 rng(41);
    for (const Size& size : sizes) {
        FrameBuffer src;
        ASSERT_EQ(src.Create(size.w, size.h, 8), 1);
        test::FillRandom(src, rng);
        for (int bits : {24, 32}) {
            for (int mode = 0; mode < 4; ++mode) {
                for (const Form& form : Forms8()) {
                    const BayerParams p{mode, 170, 100, 90};
                    FrameBuffer one, two;
                    ASSERT_EQ(one.Create(size.w, size.h, bits), 1);
                    ASSERT_EQ(two.Create(size.w, size.h, bits), 1);
                    test::FillRandom(one, rng);
                    std::copy(one.Bits(), one.Bits() + size_t(one.Stride()) * size.h, two.Bits());
                    ASSERT_EQ(one.Apply(DemosaicFrame, src, nullptr, 0, 0, p, form.demosaic, form.demosaic), 1);
                    RunForm(form, two, src, p);
                    ASSERT_EQ(std::memcmp(one.Bits(), two.Bits(), size_t(one.Stride()) * size.h), 0)
                        << form.name << " " << size.w << "x" << size.h << " mode " << mode << " " << bits << " bits";
                }
            }
        }
    }
}

// The pass in bands of rows (each band once, top to bottom, as the frame path runs it) gives the bytes
// of the interior and border passes over the whole rectangle: bands of 1-3 rows and bands that do not
// divide the height, 8- and 16-bit sources into every destination depth, every Bayer mode, rectangles
// too small for rows of their own.
TEST_P(DemosaicForms, BandsGiveTheWholePassBytes) {
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{3, 7}, {9, 3}, {4, 4}, {5, 5}, {7, 6}, {37, 11}, {70, 13}};
    std::mt19937 rng(73);
    for (const Size& size : sizes) {
        for (int bits : {24, 32, 48, 64}) {
            const bool ten = bits >= 48;
            FrameBuffer src;
            ASSERT_EQ(src.Create(size.w, size.h, ten ? 16 : 8), 1);
            test::FillRandom(src, rng, ten ? 1023 : 255);
            const std::vector<Form> forms = ten ? std::vector<Form>{Form16()} : Forms8();
            for (int mode = 0; mode < 4; ++mode) {
                for (const Form& form : forms) {
                    const BayerParams p{mode, 170, 100, mode == 3 ? 250 : 90};
                    // Destinations start with the same random bytes: the fourth byte or word of each pixel
                    // is the destination's own and must stay.
                    FrameBuffer initial, whole;
                    ASSERT_EQ(initial.Create(size.w, size.h, bits), 1);
                    test::FillRandom(initial, rng);
                    const size_t bytes = size_t(initial.Stride()) * size.h;
                    ASSERT_EQ(whole.CreateLike(&initial), 1);
                    std::memcpy(whole.Bits(), initial.Bits(), bytes);
                    RunForm(form, whole, src, p);
                    for (int band : {1, 2, 3, 5, size.h}) {
                        FrameBuffer banded;
                        ASSERT_EQ(banded.CreateLike(&initial), 1);
                        std::memcpy(banded.Bits(), initial.Bits(), bytes);
                        for (int from = 0; from < size.h; from += band) {
                            const int to = std::min(size.h, from + band);
                            if (ten)
                                ASSERT_EQ(banded.Apply(DemosaicBand16, src, nullptr, 0, 0, p, form.demosaic, from, to), 1);
                            else
                                ASSERT_EQ(banded.Apply(DemosaicFrameBand, src, nullptr, 0, 0, p, form.demosaic,
                                                       form.demosaic, from, to),
                                          1);
                        }
                        ASSERT_EQ(std::memcmp(banded.Bits(), whole.Bits(), bytes), 0)
                            << form.name << " " << size.w << "x" << size.h << " mode " << mode << " " << bits
                            << " bits, bands of " << band;
                    }
                }
            }
        }
    }
}

// Flat fields: (v, v, v) everywhere, borders included, in every form.
TEST_P(DemosaicForms, FlatFieldsStayFlat) {
    for (const Form& form : Forms8()) {
        for (int mode = 0; mode < 4; ++mode) {
            FrameBuffer src, dst;
            ASSERT_EQ(src.Create(67, 9, 8), 1);
            ASSERT_EQ(dst.Create(67, 9, 24), 1);
            std::fill(src.Bits(), src.Bits() + src.Stride() * 9, 77);
            RunForm(form, dst, src, BayerParams{mode, 100, 100, 100});
            for (int r = 0; r < 9; ++r)
                for (int x = 0; x < 67; ++x)
                    for (int k = 0; k < 3; ++k) ASSERT_EQ(Px(dst, x, r)[k], 77) << form.name << " " << x << "," << r;
        }
    }
    // 16-bit flat 1000 with gains 120: red and blue clamp at 1023, green stays 1000.
    {
        FrameBuffer src, dst;
        ASSERT_EQ(src.Create(40, 8, 16), 1);
        ASSERT_EQ(dst.Create(40, 8, 48), 1);
        for (int r = 0; r < 8; ++r)
            for (int x = 0; x < 40; ++x) test::SetWord(src, x, r, 0, 1000);
        RunForm(Form16(), dst, src, BayerParams{3, 120, 100, 120});
        for (int r = 0; r < 8; ++r)
            for (int x = 0; x < 40; ++x) {
                ASSERT_EQ(Word(dst, x, r, 0), 1023);
                ASSERT_EQ(Word(dst, x, r, 1), 1000);
                ASSERT_EQ(Word(dst, x, r, 2), 1023);
            }
    }
}

TEST_P(DemosaicForms, FastVariantsRoundDownBeforeTheGain) {
    // Mode 0, output (16, 4) has phase (0, 0): red weight 9 at (16, 3), the others (14, 3), (16, 5), (14, 5).
    FrameBuffer src, dst;
    ASSERT_EQ(src.Create(40, 10, 8), 1);
    ASSERT_EQ(dst.Create(40, 10, 24), 1);
    std::fill(src.Bits(), src.Bits() + src.Stride() * 10, 1);
    *Px(src, 16, 3) = 2;
    const BayerParams p{0, 200, 100, 200};
    for (const Form& form : Forms8()) {
        dst.Apply(DemosaicInterior, src, nullptr, 0, 0, p, form.demosaic);
        EXPECT_EQ(Px(dst, 16, 4)[2], form.demosaic.variant == DemosaicVariant::kPortable ? 3 : 2) << form.name;
    }
}

TEST(Demosaic, GainsAreTruncatedToFixedPoint) {
    EXPECT_EQ(FixedGain(100), 128);
    EXPECT_EQ(FixedGain(99), 126);
    EXPECT_EQ(FixedGain(200), 256);
    EXPECT_EQ(FixedGain(-5), -6);
    // Flat 100 with red gain 99: 1600 x 126 >> 11 = 98 (126.72 would give 99).
    FrameBuffer src, dst;
    ASSERT_EQ(src.Create(8, 8, 8), 1);
    ASSERT_EQ(dst.Create(8, 8, 24), 1);
    std::fill(src.Bits(), src.Bits() + src.Stride() * 8, 100);
    const DemosaicForm portable{DemosaicVariant::kPortable, kDemosaicRows[0]};
    dst.Apply(DemosaicInterior, src, nullptr, 0, 0, BayerParams{0, 99, 100, 100}, portable);
    EXPECT_EQ(Px(dst, 3, 3)[2], 98);
    EXPECT_EQ(Px(dst, 3, 3)[0], 100);
}

TEST(Demosaic, LowFramesGetOnlyTheBorder) {
    for (int H : {1, 2, 3, 4}) {
        FrameBuffer src, dst;
        ASSERT_EQ(src.Create(30, H, 8), 1);
        ASSERT_EQ(dst.Create(30, H, 24), 1);
        std::fill(dst.Bits(), dst.Bits() + dst.Stride() * H, 0xEE);
        std::mt19937 rng(H);
        test::FillRandom(src, rng);
        const BayerParams p{1, 100, 100, 100};
        const DemosaicKernels kernels = ChooseImagingKernels(test::HostCpu()).demosaic;
        dst.Apply(DemosaicInterior, src, nullptr, 0, 0, p, kernels.fastInterior);
        for (size_t k = 0; k < size_t(dst.Stride()) * H; ++k) ASSERT_EQ(dst.Bits()[k], 0xEE);
        // The border pass then writes every pixel without reading outside the frame.
        dst.Apply(DemosaicBorder, src, nullptr, 0, 0, p, DemosaicForm{DemosaicVariant::kPortable, kDemosaicRows[0]});
        int untouched = 0;
        for (int r = 0; r < H; ++r)
            for (int x = 0; x < 30; ++x) untouched += Px(dst, x, r)[0] == 0xEE && Px(dst, x, r)[1] == 0xEE;
        EXPECT_LT(untouched, 2);
    }
}

TEST(Demosaic, PassChoosesByDepthAndGains) {
    const DemosaicKernels k = ChooseImagingKernels(test::HostCpu()).demosaic;
    std::mt19937 rng(5);
    FrameBuffer raw, out, ref;
    ASSERT_EQ(raw.Create(50, 12, 8), 1);
    test::FillRandom(raw, rng);
    for (int bits : {24, 32}) {
        for (int gain : {100, 201}) {
            ASSERT_EQ(out.Create(50, 12, bits), 1);
            ASSERT_EQ(ref.Create(50, 12, bits), 1);
            const BayerParams p{2, gain, 100, 100};
            EXPECT_EQ(DemosaicPass(out, raw, p, k), 1);
            const DemosaicForm& expected = SelectDemosaicInterior(k, static_cast<uint16_t>(bits), p);
            ref.Apply(DemosaicInterior, raw, nullptr, 0, 0, p, expected);
            ref.Apply(DemosaicBorder, raw, nullptr, 0, 0, p, DemosaicForm{DemosaicVariant::kPortable, kDemosaicRows[0]});
            EXPECT_EQ(test::Pixels(out), test::Pixels(ref)) << bits << " " << gain;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, DemosaicForms,
                         testing::Values(VectorForm::kPortable, VectorForm::kSse2, VectorForm::kAvx2,
                                         VectorForm::kAvx512),
                         test::FormParamName);

}  // namespace
}  // namespace zelvik
