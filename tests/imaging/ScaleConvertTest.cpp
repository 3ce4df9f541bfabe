// Row unpacking, nearest scaling with its flip, and the output conversions.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "imaging/Kernels.h"
#include "ImagingTestUtil.h"

namespace zelvik {
namespace {

using test::Px;
using test::Word;

TEST(Unpack, SpreadsPackedRowsToTheStride) {
    FrameBuffer b;
    ASSERT_EQ(b.Create(6, 2, 8), 1);  // stride 8
    std::iota(b.Bits(), b.Bits() + 12, 1);
    EXPECT_EQ(b.Apply(UnpackRows8, b, nullptr, 0, 0), 1);
    const uint8_t expected[16] = {1, 2, 3, 4, 5, 6, 7, 8, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(std::vector<uint8_t>(b.Bits(), b.Bits() + 14), std::vector<uint8_t>(expected, expected + 14));

    FrameBuffer w;
    ASSERT_EQ(w.Create(3, 3, 16), 1);  // rows of 6 bytes in a stride of 8
    std::vector<uint16_t> packed(9);
    std::iota(packed.begin(), packed.end(), 100);
    std::memcpy(w.Bits(), packed.data(), 18);
    w.Apply(UnpackRows16, w, nullptr, 0, 0);
    for (int r = 0; r < 3; ++r)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(Word(w, x, r), 100 + r * 3 + x);
}

TEST(ScaleNearest, HalvesDoublesAndFlips) {
    FrameBuffer src, half, triple;
    ASSERT_EQ(src.Create(640, 480, 8), 1);
    for (int r = 0; r < 480; ++r)
        for (int x = 0; x < 640; ++x) *Px(src, x, r) = static_cast<uint8_t>((r * 7 + x) & 0xFF);
    ASSERT_EQ(half.Create(320, 240, 8), 1);
    ASSERT_EQ(half.ApplyScaled(ScaleNearest8, src, nullptr, nullptr), 1);
    for (int i = 0; i < 240; ++i)
        for (int j = 0; j < 320; ++j) ASSERT_EQ(*Px(half, j, i), *Px(src, 2 * j, 479 - 2 * i)) << j << "," << i;

    FrameBuffer small;
    ASSERT_EQ(small.Create(100, 100, 8), 1);
    for (int r = 0; r < 100; ++r)
        for (int x = 0; x < 100; ++x) *Px(small, x, r) = static_cast<uint8_t>(r * 100 + x);
    ASSERT_EQ(triple.Create(300, 300, 8), 1);
    triple.ApplyScaled(ScaleNearest8, small, nullptr, nullptr);
    for (int i = 0; i < 300; ++i)
        for (int j = 0; j < 300; ++j) ASSERT_EQ(*Px(triple, j, i), *Px(small, j / 3, 99 - i / 3));
}

TEST(ScaleNearest, TwentyFourBitStepsByEachPixelSize) {
    FrameBuffer src, dst;
    ASSERT_EQ(src.Create(9, 6, 32), 1);
    ASSERT_EQ(dst.Create(3, 2, 24), 1);
    std::mt19937 rng(1);
    test::FillRandom(src, rng);
    Rect part{0, 0, 9, 6};
    Rect target{0, 0, 3, 2};
    ASSERT_EQ(dst.ApplyScaled(ScaleNearest24, src, &part, &target), 1);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) EXPECT_EQ(Px(dst, j, i)[k], Px(src, 3 * j, 5 - 3 * i)[k]);
}

TEST(Convert, SampleConversions) {
    struct Case {
        uint16_t in;
        uint8_t narrow;
        uint16_t gray4, colour6;
    } cases[] = {{1023, 255, 16368, 65472}, {1024, 0, 16384, 0}, {3, 0, 48, 192}, {4, 1, 64, 256}, {0xFFFF, 255, 0xFFF0, 0xFFC0}};
    for (const Case& c : cases) {
        FrameBuffer g16, g8, c48, c24, out48, out64, c64;
        ASSERT_EQ(g16.Create(2, 2, 16), 1);
        ASSERT_EQ(g8.Create(2, 2, 8), 1);
        ASSERT_EQ(c48.Create(2, 2, 48), 1);
        ASSERT_EQ(c24.Create(2, 2, 24), 1);
        ASSERT_EQ(c64.Create(2, 2, 64), 1);
        for (int r = 0; r < 2; ++r)
            for (int x = 0; x < 2; ++x) {
                test::SetWord(g16, x, r, 0, c.in);
                for (int k = 0; k < 3; ++k) test::SetWord(c48, x, r, k, static_cast<uint16_t>(c.in - k * (c.in > 2)));
                for (int k = 0; k < 4; ++k) test::SetWord(c64, x, r, k, c.in);
            }
        g8.Apply(Gray16To8, g16, nullptr, 0, 0);
        EXPECT_EQ(*Px(g8, 1, 1), c.narrow) << c.in;
        c24.Apply(Bgr48To24, c48, nullptr, 0, 0);
        EXPECT_EQ(Px(c24, 0, 0)[0], c.narrow);
        EXPECT_EQ(Px(c24, 0, 0)[2], ((c.in - 2 * (c.in > 2)) >> 2) & 0xFF);
        g16.Apply(Gray16Scale4, g16, nullptr, 0, 0);
        EXPECT_EQ(Word(g16, 0, 1), c.gray4);
        c64.Apply(Bgr64Scale6Opaque, c64, nullptr, 0, 0);
        EXPECT_EQ(Word(c64, 1, 0, 0), c.colour6);
        EXPECT_EQ(Word(c64, 1, 0, 3), 65535);
        c48.Apply(BgrToRgb48Scale6, c48, nullptr, 0, 0);  // in place: swapped and widened
        EXPECT_EQ(Word(c48, 0, 0, 2), c.colour6);
        EXPECT_EQ(Word(c48, 0, 0, 0), static_cast<uint16_t>((c.in - 2 * (c.in > 2)) << 6));
    }
}

TEST(Convert, PixelOrderAlphaGrayAndFlips) {
    FrameBuffer bgrx, out32, rgb, gray, flipped;
    ASSERT_EQ(bgrx.Create(3, 2, 32), 1);
    const uint8_t px[4] = {10, 20, 200, 5};
    for (int r = 0; r < 2; ++r)
        for (int x = 0; x < 3; ++x) std::memcpy(Px(bgrx, x, r), px, 4);
    *Px(bgrx, 0, 1) = 99;  // marks row 1
    ASSERT_EQ(out32.Create(3, 2, 32), 1);
    out32.Apply(BgrxToBgra32, bgrx, nullptr, 0, 0);
    EXPECT_EQ(Px(out32, 1, 0)[3], 250);
    EXPECT_EQ(Px(out32, 1, 0)[2], 200);
    ASSERT_EQ(rgb.Create(3, 2, 24), 1);
    rgb.Apply(BgrToRgb24, bgrx, nullptr, 0, 0);
    EXPECT_EQ(Px(rgb, 2, 0)[0], 200);
    EXPECT_EQ(Px(rgb, 2, 0)[2], 10);
    ASSERT_EQ(gray.Create(3, 2, 8), 1);
    FrameBuffer bgr;
    ASSERT_EQ(bgr.Create(3, 2, 24), 1);
    bgr.Apply(CopyBgr, bgrx, nullptr, 0, 0);
    gray.Apply(BgrToGray8, bgr, nullptr, 0, 0);
    EXPECT_EQ(*Px(gray, 1, 0), (59 * 20 + 30 * 200 + 11 * 10) / 100);
    ASSERT_EQ(flipped.Create(3, 2, 24), 1);
    flipped.Apply(CopyBgrFlipped, bgrx, nullptr, 0, 0);
    EXPECT_EQ(Px(flipped, 0, 0)[0], 99);  // source row 1 became row 0
    EXPECT_EQ(Px(flipped, 0, 1)[0], 10);
}

TEST(Convert, FlipRowsCopiesTheSmallerStride) {
    FrameBuffer narrow, wide;
    ASSERT_EQ(narrow.Create(5, 3, 8), 1);  // stride 8
    ASSERT_EQ(wide.Create(5, 3, 24), 1);   // stride 16
    for (uint32_t k = 0; k < wide.Stride() * 3; ++k) wide.Bits()[k] = static_cast<uint8_t>(k);
    narrow.Apply(FlipRows, wide, nullptr, 0, 0);
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 8; ++k) EXPECT_EQ(Px(narrow, 0, r)[k], (2 - r) * 16 + k);
    FrameBuffer back;
    ASSERT_EQ(back.Create(5, 3, 24), 1);
    std::fill(back.Bits(), back.Bits() + back.Stride() * 3, 0xCC);
    back.Apply(FlipRows, narrow, nullptr, 0, 0);
    EXPECT_EQ(Px(back, 0, 0)[7], 7);      // 8 bytes copied per row
    EXPECT_EQ(Px(back, 0, 0)[8], 0xCC);   // the rest of the wider row untouched
}

}  // namespace
}  // namespace zelvik
