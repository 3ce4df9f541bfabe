// FrameBuffer: stride rule, lifecycle, colour table, clipping and the runners.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/FrameBuffer.h"
#include "ImagingTestUtil.h"

namespace zelvik {
namespace {

TEST(FrameBuffer, StrideRoundsRowsUpToFourBytes) {
    struct Case {
        int w, h, bpp;
        uint32_t stride;
    } cases[] = {{641, 480, 24, 1924}, {641, 480, 8, 644}, {100, 1, 16, 200}, {3, 2, 48, 20}, {1, 1, 32, 4},
                 {2592, 1944, 32, 10368}};  // a full frame: large-page memory
    for (const Case& c : cases) {
        FrameBuffer b;
        ASSERT_EQ(b.Create(c.w, c.h, c.bpp), 1);
        EXPECT_EQ(b.Stride(), c.stride) << c.w << "x" << c.h << "x" << c.bpp;
        EXPECT_EQ(b.Header().biWidth, c.w);
        EXPECT_EQ(b.Header().biHeight, c.h);
        EXPECT_EQ(b.Header().biBitCount, c.bpp);
        EXPECT_EQ(b.Header().biPlanes, 1);
        // Heap memory starts zeroed, all stride x height bytes of it.
        std::vector<uint8_t> zero(static_cast<size_t>(b.Stride()) * c.h, 0);
        EXPECT_EQ(std::memcmp(b.Bits(), zero.data(), zero.size()), 0);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b.Bits()) % 64, 0u);  // whole cache lines for the kernels
    }
}

TEST(FrameBuffer, RejectedCreateKeepsPreviousBuffer) {
    FrameBuffer b;
    ASSERT_EQ(b.Create(8, 4, 8), 1);
    b.Bits()[5] = 77;
    uint8_t* bits = b.Bits();
    for (auto args : {std::array<int, 3>{0, 480, 8}, {8, -1, 8}, {8, 4, 0}}) {
        EXPECT_EQ(b.Create(args[0], args[1], args[2]), 0);
        EXPECT_EQ(b.Bits(), bits);
        EXPECT_EQ(b.Bits()[5], 77);
        EXPECT_EQ(b.Width(), 8);
    }
}

TEST(FrameBuffer, ReleaseLeavesOnlyHeaderSize) {
    FrameBuffer b;
    ASSERT_EQ(b.Create(5, 5, 8), 1);
    EXPECT_EQ(b.Release(), 0);
    EXPECT_EQ(b.Release(), 0);
    BitmapInfo expected{};
    expected.header.biSize = 40;
    EXPECT_EQ(std::memcmp(&b.Info(), &expected, sizeof expected), 0);
    EXPECT_EQ(b.Bits(), nullptr);
    EXPECT_EQ(b.Stride(), 0u);
    EXPECT_EQ(b.BitsPerPixel(), 0);
}

TEST(FrameBuffer, EightBitBuffersGetGrayTableEvenWhenCreatedLike) {
    FrameBuffer a, b;
    ASSERT_EQ(a.Create(4, 4, 8), 1);
    ASSERT_EQ(b.CreateLike(&a), 1);
    for (int i : {0, 3, 128, 255}) {
        EXPECT_EQ(b.ColorTable()[i].blue, i);
        EXPECT_EQ(b.ColorTable()[i].red, i);
        EXPECT_EQ(b.ColorTable()[i].reserved, 0);
        EXPECT_EQ(a.ColorTable()[i].red, i);
    }
    EXPECT_EQ(b.Stride(), a.Stride());
    EXPECT_EQ(std::memcmp(&b.Header(), &a.Header(), 40), 0);
    EXPECT_EQ(b.CreateLike(nullptr), 0);
}

struct Call {
    int count = 0;
    Rect rect{};
    int32_t x = -1, y = -1;
    uint16_t dbpp = 0, sbpp = 0;
    uint32_t dstride = 0, sstride = 0;
};
int Recorder(const KernelFrame& f, Call& c) {
    c.count++;
    c.rect = f.rect;
    c.x = f.dstX;
    c.y = f.dstY;
    c.dbpp = static_cast<uint16_t>(f.dstBpp);
    c.sbpp = static_cast<uint16_t>(f.srcBpp);
    c.dstride = static_cast<uint32_t>(f.dstStride);
    c.sstride = static_cast<uint32_t>(f.srcStride);
    return 42;
}

// Apply takes a kernel's parameters with the kernel's own types: the block itself, never its address.
template <class Kernel, class... Args>
concept Appliable = requires(FrameBuffer& b, Kernel k, Args&&... args) {
    b.Apply(k, b, nullptr, 0, 0, std::forward<Args>(args)...);
};
static_assert(Appliable<decltype(&Recorder), Call&>);
static_assert(!Appliable<decltype(&Recorder), Call*>);
static_assert(!Appliable<decltype(&Recorder), Call**>);
static_assert(!Appliable<decltype(&Recorder)>);
static_assert(!Appliable<decltype(&Recorder), const Call&>);  // the kernel writes into it

TEST(FrameBuffer, ApplyClipsDisplayRectanglesToMemoryRows) {
    struct Case {
        int dw, dh, sw, sh;
        Rect rect;
        int32_t x, y;
        bool called;
        Rect expectRect;
        int32_t ex, ey;
    } cases[] = {
        {100, 100, 100, 100, {0, 0, 10, 10}, 5, 5, true, {0, 90, 10, 100}, 5, 85},
        {100, 100, 100, 100, {0, 0, 100, 100}, 0, 0, true, {0, 0, 100, 100}, 0, 0},
        {100, 100, 100, 100, {0, 0, 10, 10}, 100, 0, false, {}, 0, 0},
        {100, 100, 100, 100, {0, 0, 10, 10}, -10, 0, false, {}, 0, 0},
        // Source cut on the left: the target moves right by the cut, never left of column 0.
        {100, 100, 100, 100, {-10, 0, 10, 10}, 5, 0, true, {0, 90, 10, 100}, 15, 90},
        {20, 10, 40, 30, {0, 0, 40, 30}, 0, 0, true, {0, 20, 20, 30}, 0, 0},
    };
    for (const Case& c : cases) {
        FrameBuffer d, s;
        ASSERT_EQ(d.Create(c.dw, c.dh, 24), 1);
        ASSERT_EQ(s.Create(c.sw, c.sh, 8), 1);
        Call call;
        const int result = d.Apply(Recorder, s, &c.rect, c.x, c.y, call);
        EXPECT_EQ(call.count, c.called ? 1 : 0);
        EXPECT_EQ(result, c.called ? 42 : 0);
        if (!c.called) continue;
        EXPECT_EQ(call.rect.left, c.expectRect.left);
        EXPECT_EQ(call.rect.top, c.expectRect.top);
        EXPECT_EQ(call.rect.right, c.expectRect.right);
        EXPECT_EQ(call.rect.bottom, c.expectRect.bottom);
        EXPECT_EQ(call.x, c.ex);
        EXPECT_EQ(call.y, c.ey);
        EXPECT_EQ(call.dbpp, 3);
        EXPECT_EQ(call.sbpp, 1);
        EXPECT_EQ(call.dstride, d.Stride());
        EXPECT_EQ(call.sstride, s.Stride());
        // Whatever the clip, the kernel's rectangle and target lie inside both buffers.
        EXPECT_GE(call.x, 0);
        EXPECT_LE(call.x + call.rect.right - call.rect.left, c.dw);
        EXPECT_LE(call.y + call.rect.bottom - call.rect.top, c.dh);
    }
    FrameBuffer d, s;
    ASSERT_EQ(d.Create(4, 4, 8), 1);
    ASSERT_EQ(s.Create(4, 4, 8), 1);
    EXPECT_EQ(d.Apply(FrameKernelOf<>(nullptr), s, nullptr, 0, 0), 0);
    Rect r{1, 1, 2, 2};
    int32_t x = 9, y = 9;
    EXPECT_EQ(d.ClipRects(s, r, x, y), 0);  // failure zeroes everything
    EXPECT_EQ(r.left + r.top + r.right + r.bottom + x + y, 0);
}

int gScaled[3];
int ScaledRecorder(const ScaledKernelFrame& f) {
    gScaled[0] = f.dstRect.right;
    gScaled[1] = f.srcRect.bottom;
    gScaled[2] = f.dstWidth + f.dstHeight + f.srcWidth + f.srcHeight;
    return 7;
}

TEST(FrameBuffer, ApplyScaledPassesRectanglesAndRejectsOutsideOnes) {
    FrameBuffer d, s;
    ASSERT_EQ(d.Create(30, 20, 24), 1);
    ASSERT_EQ(s.Create(60, 40, 24), 1);
    EXPECT_EQ(d.ApplyScaled(ScaledRecorder, s, nullptr, nullptr), 7);
    EXPECT_EQ(gScaled[0], 30);
    EXPECT_EQ(gScaled[1], 40);
    EXPECT_EQ(gScaled[2], 150);
    Rect outside{0, 0, 31, 20};
    gScaled[0] = -1;
    EXPECT_EQ(d.ApplyScaled(ScaledRecorder, s, nullptr, &outside), 0);
    Rect empty{5, 5, 5, 9};
    EXPECT_EQ(d.ApplyScaled(ScaledRecorder, s, &empty, nullptr), 0);
    EXPECT_EQ(d.ApplyScaled(nullptr, s, nullptr, nullptr), 0);
    EXPECT_EQ(gScaled[0], -1);  // refused rectangles never reach the kernel
}

}  // namespace
}  // namespace zelvik
