// The preview's pixel work: which path a frame takes into window memory, and what lands where.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "imaging/PreviewDraw.h"
#include "tests/imaging/ImagingTestUtil.h"

namespace zelvik::test {
namespace {

// Window memory of width x height with a stride longer than a row, so a kernel that assumed
// width x 4 would misplace rows.
struct Screen {
    std::vector<uint32_t> memory;
    ScreenImage image;
    Screen(int width, int height) : memory(static_cast<size_t>(width + 3) * height, 0xDEADBEEF) {
        image = ScreenImage{reinterpret_cast<uint8_t*>(memory.data()), static_cast<uint32_t>(width + 3) * 4, width,
                            height};
    }
    // The pixel without its fourth byte, which is not part of the picture.
    uint32_t At(int x, int y) const { return Raw(x, y) & 0xFFFFFF; }
    uint32_t Raw(int x, int y) const { return memory[static_cast<size_t>(y) * (image.width + 3) + x]; }
};

// What a source pixel looks like on the screen: blue, green, red; 10-bit samples narrowed as
// (v >> 2) & 0xFF.
uint32_t Shown(FrameBuffer& source, int x, int row) {
    const uint8_t* p = Px(source, x, row);
    const auto narrow = [&](int k) { return uint32_t{Word(source, x, row, k)} >> 2 & 0xFF; };
    switch (source.BitsPerPixel()) {
        case 8: return uint32_t{p[0]} * 0x010101u;
        case 16: return narrow(0) * 0x010101u;
        case 48:
        case 64: return narrow(2) << 16 | narrow(1) << 8 | narrow(0);
        default: return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }
}

// Every colour mode's output goes into the window memory converted once: 16-bit gray always through
// the scaled path's 8-bit picture, the other depths one-to-one at the window's size.
TEST(PreviewDrawTest, EqualSizeCopiesUprightAndForcedScalingShowsTheSame) {
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        SCOPED_TRACE(bits);
        FrameBuffer source;
        ASSERT_EQ(source.Create(7, 5, bits), 1);  // odd width: padded rows
        std::mt19937 rng(bits);
        FillRandom(source, rng);
        if (bits == 16) SetWord(source, 3, 2, 0, 0xFFFF);  // beyond 10 bits: narrowed all the same
        for (bool forced : {false, true}) {
            Screen screen(7, 5);
            FrameBuffer display;
            const bool scaled = forced || bits == 16;
            EXPECT_EQ(DrawPreview(source, forced, display, screen.image),
                      scaled ? PreviewPath::kScaled : PreviewPath::kOneToOne);
            int wrong = 0;
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 7; ++x) wrong += screen.At(x, y) != Shown(source, x, y);  // memory row 0 on top
            EXPECT_EQ(wrong, 0) << "forced " << forced;
            EXPECT_EQ(screen.Raw(7, 0), 0xDEADBEEFu);  // the stride's tail is left alone
            EXPECT_EQ(display.Width(), scaled ? 7 : 0);  // only the scaled path builds the display buffer
            if (scaled) {
                EXPECT_EQ(display.BitsPerPixel(), bits <= 16 ? 8 : 24);
            }
        }
    }
}

TEST(PreviewDrawTest, ScaledPicturesFollowTheNearestNeighbourRule) {
    // Sixteen distinct gray levels: value = 16 x memory row + column.
    FrameBuffer source;
    ASSERT_EQ(source.Create(4, 4, 8), 1);
    for (int r = 0; r < 4; ++r)
        for (int x = 0; x < 4; ++x) Px(source, x, r)[0] = static_cast<uint8_t>(16 * r + x);
    FrameBuffer display;

    // Twice the size: each pixel a 2 x 2 block, memory row 0 on top.
    Screen big(8, 8);
    ASSERT_EQ(DrawPreview(source, false, display, big.image), PreviewPath::kScaled);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(big.At(x, y), Shown(source, x / 2, y / 2)) << x << "," << y;
    EXPECT_EQ(display.BitsPerPixel(), 8);

    // Half the size: columns 0 and 2; rows are counted from the bottom, so memory rows 1 and 3.
    Screen small(2, 2);
    ASSERT_EQ(DrawPreview(source, false, display, small.image), PreviewPath::kScaled);
    EXPECT_EQ(small.At(0, 0), 0x101010u);  // memory row 1, column 0: level 16
    EXPECT_EQ(small.At(0, 0), Shown(source, 0, 1));
    EXPECT_EQ(small.At(1, 0), Shown(source, 2, 1));
    EXPECT_EQ(small.At(0, 1), Shown(source, 0, 3));
    EXPECT_EQ(small.At(1, 1), Shown(source, 2, 3));
}

TEST(PreviewDrawTest, DisplayBufferFollowsTheSourceDepthAtTheSameSize) {
    FrameBuffer colour, gray, display;
    ASSERT_EQ(colour.Create(3, 3, 24), 1);
    ASSERT_EQ(gray.Create(3, 3, 8), 1);
    std::mt19937 rng(7);
    FillRandom(colour, rng);
    FillRandom(gray, rng);
    Screen screen(6, 6);
    ASSERT_EQ(DrawPreview(colour, false, display, screen.image), PreviewPath::kScaled);
    EXPECT_EQ(display.BitsPerPixel(), 24);
    // The colour mode changed between two streams; the window kept its size.
    ASSERT_EQ(DrawPreview(gray, false, display, screen.image), PreviewPath::kScaled);
    EXPECT_EQ(display.BitsPerPixel(), 8);
    int wrong = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) wrong += screen.At(x, y) != Shown(gray, x / 2, y / 2);
    EXPECT_EQ(wrong, 0);
}

// A scaled 48-bit picture narrows the pixels it takes.
TEST(PreviewDrawTest, ScaledWidePicturesAreNarrowedOnTheWay) {
    FrameBuffer source, display;
    ASSERT_EQ(source.Create(4, 4, 48), 1);
    std::mt19937 rng(48);
    FillRandom(source, rng);
    Screen screen(8, 8);
    ASSERT_EQ(DrawPreview(source, false, display, screen.image), PreviewPath::kScaled);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(screen.At(x, y), Shown(source, x / 2, y / 2)) << x << "," << y;
}

TEST(PreviewDrawTest, NothingIsDrawnForSourcesOrTargetsItCannotShow) {
    FrameBuffer empty, colour, display;
    ASSERT_EQ(colour.Create(4, 4, 24), 1);
    Screen screen(4, 4);
    EXPECT_EQ(DrawPreview(empty, false, display, screen.image), PreviewPath::kNone);
    EXPECT_EQ(screen.Raw(0, 0), 0xDEADBEEFu);
    ScreenImage noMemory{nullptr, 16, 4, 4};
    ScreenImage shortRows{screen.image.pixels, 12, 4, 4};
    ScreenImage noArea{screen.image.pixels, 16, 0, 4};
    for (const ScreenImage& target : {noMemory, shortRows, noArea})
        EXPECT_EQ(DrawPreview(colour, false, display, target), PreviewPath::kNone);
    EXPECT_EQ(screen.Raw(0, 0), 0xDEADBEEFu);
}

}  // namespace
}  // namespace zelvik::test
