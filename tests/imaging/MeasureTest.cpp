// Site gains, white balance, region means and hot-pixel correction: worked examples and models.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "imaging/Kernels.h"
#include "ImagingTestUtil.h"

namespace zelvik {
namespace {

using test::Px;

// Fills an 8-bit mosaic so that site (rowPhase, colPhase) of mode holds value[rp][cp].
void FillSites(FrameBuffer& b, int mode, const int value[2][2]) {
    for (int r = 0; r < b.Height(); ++r)
        for (int x = 0; x < b.Width(); ++x)
            *Px(b, x, r) = static_cast<uint8_t>(value[(mode & 1) ^ (r & 1)][((mode >> 1) & 1) ^ (x & 1)]);
}

TEST(SiteGains, MeasureSetsGainsRelativeToSiteZeroZero) {
    for (int mode = 0; mode < 4; ++mode) {
        FrameBuffer b;
        ASSERT_EQ(b.Create(6, 4, 8), 1);
        const int v[2][2] = {{100, 50}, {200, 100}};  // (0,0), (0,1) / (1,0), (1,1)
        FillSites(b, mode, v);
        SiteGainParams p{mode, 0, 0, 0, 0, 7, 8, 9, 10};
        ASSERT_EQ(b.Apply(MeasureSiteLevels, b, nullptr, 0, 0, p), 1);
        EXPECT_EQ(p.gain00, 128);
        EXPECT_EQ(p.gain01, 256);
        EXPECT_EQ(p.gain10, 64);
        EXPECT_EQ(p.gain11, 128);
        EXPECT_EQ(p.offset01, 7);  // offsets and mode untouched
        EXPECT_EQ(p.offset10, 10);
        EXPECT_EQ(p.mode, mode);
    }
}

TEST(SiteGains, PortableArithmetic) {
    struct Case {
        int in, gain, offset, out;
    } cases[] = {{100, 128, -255, 0}, {100, 255, 200, 255}, {100, 128, 0, 100}, {100, 64, 3, 53},
                 {100, -3, 10, 8},  // (100 x -3) / 128 truncates toward zero: -2
                 {255, 129, 0, 255}};
    for (const Case& c : cases) {
        FrameBuffer b;
        ASSERT_EQ(b.Create(2, 2, 8), 1);
        std::fill(b.Bits(), b.Bits() + b.Stride() * 2, c.in);
        SiteGainParams p{0, c.gain, c.gain, c.gain, c.gain, c.offset, c.offset, c.offset, c.offset};
        b.Apply(ApplySiteGains, b, nullptr, 0, 0, p);
        for (int r = 0; r < 2; ++r)
            for (int x = 0; x < 2; ++x) EXPECT_EQ(*Px(b, x, r), c.out) << c.in << " " << c.gain << " " << c.offset;
    }
    EXPECT_TRUE(SiteGainsNeutral(SiteGainParams{0, 128, 128, 128, 128, 5, 5, 5, 5}));
    EXPECT_FALSE(SiteGainsNeutral(SiteGainParams{0, 128, 129, 128, 128, 0, 0, 0, 0}));
}

TEST(SiteGains, FastFormMatchesItsModelIncludingColumnZero) {
    std::mt19937 rng(3);
    for (auto [W, H] : {std::pair{1, 1}, {7, 3}, {16, 2}, {33, 5}, {64, 4}}) {
        for (int mode = 0; mode < 4; ++mode) {
            FrameBuffer b, original;
            ASSERT_EQ(b.Create(W, H, 8), 1);
            test::FillRandom(b, rng);
            ASSERT_EQ(original.CreateLike(&b), 1);
            std::copy(b.Bits(), b.Bits() + b.Stride() * H, original.Bits());
            // Gains outside 0..255 count as their limit; offsets are not added.
            SiteGainParams p{mode, 300, 128, 77, -4, 50, 50, 50, 50};
            b.Apply(ApplySiteGainsFast, b, nullptr, 0, 0, p);
            for (int r = 0; r < H; ++r)
                for (int x = 0; x < W; ++x) {
                    const int rp = (mode & 1) ^ (r & 1), cp = ((mode >> 1) & 1) ^ (x & 1);
                    const int g = rp == 0 ? (cp == 0 ? 128 : 255) : (cp == 0 ? 0 : 77);
                    EXPECT_EQ(*Px(b, x, r), std::min(255, (*Px(original, x, r) * g) >> 7)) << x << "," << r;
                }
        }
    }
}

TEST(WhiteBalance, NeutralAndHalfRed) {
    struct Case {
        int green, blue, red;
        int expectBlue, expectRed;
    } cases[] = {{100, 100, 100, 100, 100}, {100, 100, 50, 100, 200}, {120, 60, 240, 200, 50}, {0, 0, 0, 100, 100}};
    for (const Case& c : cases) {
        for (int mode = 0; mode < 4; ++mode) {
            FrameBuffer b;
            ASSERT_EQ(b.Create(8, 6, 8), 1);
            const int v[2][2] = {{c.green, c.blue}, {c.red, c.green}};
            FillSites(b, mode, v);
            WhiteBalanceResult w{0, 0, 0, mode};
            ASSERT_EQ(b.Apply(MeasureWhiteBalance8, b, nullptr, 0, 0, w), 1);
            EXPECT_EQ(w.green, 100);
            EXPECT_EQ(w.blue, c.expectBlue);
            EXPECT_EQ(w.red, c.expectRed);
            // The 16-bit form on the same levels, four times larger.
            FrameBuffer b16;
            ASSERT_EQ(b16.Create(8, 6, 16), 1);
            for (int r = 0; r < 6; ++r)
                for (int x = 0; x < 8; ++x) test::SetWord(b16, x, r, 0, static_cast<uint16_t>(*Px(b, x, r) * 4));
            WhiteBalanceResult w16{0, 0, 0, mode};
            b16.Apply(MeasureWhiteBalance16, b16, nullptr, 0, 0, w16);
            EXPECT_EQ(w16.blue, c.expectBlue);
            EXPECT_EQ(w16.red, c.expectRed);
        }
    }
}

TEST(RegionMean, ReadsTheRectangleItIsGiven) {
    FrameBuffer b16;
    ASSERT_EQ(b16.Create(6, 4, 16), 1);
    for (uint16_t v : {uint16_t{1023}, uint16_t{3}, uint16_t{512}}) {
        for (int r = 0; r < 4; ++r)
            for (int x = 0; x < 6; ++x) test::SetWord(b16, x, r, 0, v);
        EXPECT_EQ(b16.Apply(RegionMean16, b16, nullptr, 0, 0), (v >> 2) & 0xFF);
    }
    // A display rectangle at its own corner: rows 1..2 from the top of the display are memory rows 6..7.
    FrameBuffer b;
    ASSERT_EQ(b.Create(10, 10, 8), 1);
    for (int r = 0; r < 10; ++r)
        for (int x = 0; x < 10; ++x) *Px(b, x, r) = static_cast<uint8_t>(r * 10 + x);
    Rect region{2, 2, 4, 4};  // columns 2-3, display rows 2-3 = memory rows 6-7
    EXPECT_EQ(b.Apply(RegionMean8, b, &region, 2, 2), (62 + 63 + 72 + 73) / 4);
}

// The hot-pixel rule written from its description, walking the mosaic in memory order.
int ModelHotPixels(std::vector<int>& m, int W, int H, const BayerParams& p, int threshold) {
    auto P = [&](int x, int r) -> int& { return m[static_cast<size_t>(r) * W + x]; };
    const int gR = FixedGain(p.redGain), gB = FixedGain(p.blueGain);
    int count = 0;
    for (int r = 2; r <= H - 3; ++r) {
        for (int x = 2; x <= W - 3; ++x) {
            const int avg = (P(x, r - 2) + P(x, r + 2) + P(x - 2, r) + P(x + 2, r)) / 4;
            if (P(x, r) - avg < threshold) continue;
            const int pr = (p.mode & 1) ^ (r & 1), pc = ((p.mode >> 1) & 1) ^ (x & 1);
            // Block layouts by phase: which of (x-1,r-1), (x,r-1), (x-1,r), (x,r) is R, B.
            const int xR = pc == 0 ? x : x - 1, rR = pr == 1 ? r : r - 1;
            const int xB = pc == 1 ? x : x - 1, rB = pr == 0 ? r : r - 1;
            auto s = [&](int xs, int rs) {
                const int x2 = xs == x ? x - 2 : x + 1, r2 = rs == r ? r - 2 : r + 1;
                return 9 * P(xs, rs) + 3 * P(x2, rs) + 3 * P(xs, r2) + P(x2, r2);
            };
            const int red = std::min(255, (s(xR, rR) * gR) >> 11), blue = std::min(255, (s(xB, rB) * gB) >> 11);
            const int green = (pr == pc ? P(x, r) + P(x - 1, r - 1) : P(x - 1, r) + P(x, r - 1)) >> 1;
            const int n = (std::abs(red - green) > 30) + (std::abs(red - blue) > 30) + (std::abs(green - blue) > 30);
            if (n >= 2) {
                P(x, r) = avg;
                ++count;
            }
        }
    }
    return count;
}

// Every vector form of the hot-pixel screen is its own case; forms this processor lacks skip.
class HotPixelForms : public testing::TestWithParam<VectorForm> {
protected:
    void SetUp() override { ZELVIK_SKIP_UNLESS_HOST_RUNS(GetParam()); }
    const HotPixelScreen& Screen() const { return *kHotPixelScreens[static_cast<size_t>(GetParam())]; }
};

TEST_P(HotPixelForms, WorkedExamples) {
    // Mode 0: (10, 5) is a red site (rowPhase 1, colPhase 0).
    struct Case {
        int value;
        bool replaced;
    } cases[] = {{255, true}, {139, false}, {0, false}, {140, false}, {155, false}, {156, true}};
    for (const Case& c : cases) {
        FrameBuffer b;
        ASSERT_EQ(b.Create(40, 12, 8), 1);
        std::fill(b.Bits(), b.Bits() + b.Stride() * 12, 100);
        *Px(b, 10, 5) = static_cast<uint8_t>(c.value);
        const BayerParams p{0, 100, 100, 100};
        EXPECT_EQ(b.Apply(CorrectHotPixels, b, nullptr, 0, 0, p, 40, Screen()), c.replaced ? 1 : 0) << c.value;
        EXPECT_EQ(*Px(b, 10, 5), c.replaced ? 100 : c.value);
    }
}

TEST_P(HotPixelForms, MatchTheModel) {
    std::mt19937 rng(11);
    for (auto [W, H] : {std::pair{5, 5}, {19, 7}, {40, 9}, {67, 13}, {130, 10}}) {
        for (int mode = 0; mode < 4; ++mode) {
            for (int threshold : {40, 0, -300, 300}) {
                // A dim textured mosaic with bright outliers, some next to each other.
                std::vector<int> m(static_cast<size_t>(W) * H);
                for (int& v : m) v = std::uniform_int_distribution<int>(60, 110)(rng);
                for (int k = 0; k < W * H / 12; ++k)
                    m[std::uniform_int_distribution<size_t>(0, m.size() - 1)(rng)] = std::uniform_int_distribution<int>(150, 255)(rng);
                const BayerParams p{mode, std::uniform_int_distribution<int>(50, 250)(rng), 100,
                                    std::uniform_int_distribution<int>(50, 250)(rng)};
                std::vector<int> expected = m;
                const int expectedCount = ModelHotPixels(expected, W, H, p, threshold);
                FrameBuffer b;
                ASSERT_EQ(b.Create(W, H, 8), 1);
                for (int r = 0; r < H; ++r)
                    for (int x = 0; x < W; ++x) *Px(b, x, r) = static_cast<uint8_t>(m[size_t(r) * W + x]);
                EXPECT_EQ(b.Apply(CorrectHotPixels, b, nullptr, 0, 0, p, threshold, Screen()), expectedCount);
                for (int r = 0; r < H; ++r)
                    for (int x = 0; x < W; ++x)
                        ASSERT_EQ(*Px(b, x, r), expected[size_t(r) * W + x]) << W << "x" << H << " at " << x << "," << r;
                // Bands of rows run top to bottom, as the frame path runs them, replace the same samples:
                // a row near a band's edge reads its neighbours above as corrected and below as not yet.
                for (int band : {1, 2, 3, 4}) {
                    for (int r = 0; r < H; ++r)
                        for (int x = 0; x < W; ++x) *Px(b, x, r) = static_cast<uint8_t>(m[size_t(r) * W + x]);
                    int count = 0;
                    for (int from = 0; from < H; from += band)
                        count += b.Apply(CorrectHotPixelsBand, b, nullptr, 0, 0, p, threshold, Screen(), from,
                                         std::min(H, from + band));
                    EXPECT_EQ(count, expectedCount);
                    for (int r = 0; r < H; ++r)
                        for (int x = 0; x < W; ++x)
                            ASSERT_EQ(*Px(b, x, r), expected[size_t(r) * W + x])
                                << W << "x" << H << " bands of " << band << " at " << x << "," << r;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, HotPixelForms,
                         testing::Values(VectorForm::kPortable, VectorForm::kSse2, VectorForm::kAvx2),
                         test::FormParamName);

}  // namespace
}  // namespace zelvik
