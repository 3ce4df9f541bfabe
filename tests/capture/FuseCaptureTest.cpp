// The capture engine on the FUSE emulator: cameras found through the system root, frames read through the
// kernel's file system, faults injected through the control file.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <optional>
#include <string>
#include <vector>

#include "tests/capture/CaptureFixture.h"
#include "tests/support/FuseEmulator.h"
#include "tests/capture/Reference.h"

#ifndef ZELVIK_EMULATOR_PATH
#define ZELVIK_EMULATOR_PATH ""
#endif

namespace zelvik::test {
namespace {

class FuseCaptureTest : public CaptureFixture {
protected:
    void SetUp() override {
        const std::string why = FuseEmulator::Unavailable();
        if (!why.empty()) GTEST_SKIP() << why;
    }
    // Handles go before the emulator, so that no file of the mount is open when it unmounts.
    void TearDown() override {
        CaptureFixture::TearDown();
        emulator_.reset();
    }
    // Starts the emulator and opens camera 0 through it as an application would.
    int OpenThrough(const std::vector<std::string>& options) {
        emulator_.emplace(ZELVIK_EMULATOR_PATH, options);
        EXPECT_TRUE(emulator_->Ready()) << "zelvik-emulator did not mount";
        ::setenv("ZELVIK_ROOT", emulator_->Root().c_str(), 1);
        const int h = Zelvik_Initialize(Notify());
        handles_.push_back(h);
        Drain(h);
        return h;
    }

    std::optional<FuseEmulator> emulator_;
};

TEST_F(FuseCaptureTest, SnapShotOfAMosaicGivesTheKernelsOwnResult) {
    constexpr int kWidth = 64, kHeight = 48;
    const emu::Image mosaic = TexturedMosaic(kWidth, kHeight);
    const std::string fixture = (env_.dir() / "fixture.pgm").string();
    ASSERT_TRUE(emu::SaveGrayImage(fixture, mosaic));
    const int h = OpenThrough({"--mosaic", fixture, "--fps", "max"});
    SetWindow(h, kWidth, kHeight);
    for (int mode : {2, 5}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(Zelvik_SetColorMode(h, mode == 2 ? 24 : 64), 1);
        ASSERT_EQ(Zelvik_SetGamma(h, 90), 1);
        ASSERT_EQ(Zelvik_SetSharpness(h, 4), 1);
        ASSERT_EQ(Zelvik_SetSaturation(h, 30), 1);
        const std::vector<uint8_t> expected =
            Reference(mosaic, mode, PlainSettings(Instance(h).Settings().imageSettings), false);
        std::vector<uint8_t> image(expected.size());
        ASSERT_EQ(Zelvik_SnapShot(h, image.data(), static_cast<int>(image.size()), 1), 1);
        EXPECT_TRUE(image == expected);
    }
    EXPECT_EQ(Errors(h), std::vector<int>{});
}

TEST_F(FuseCaptureTest, StreamsFullFramesUntilTheCameraIsUnplugged) {
    const int h = OpenThrough({});
    ASSERT_EQ(Zelvik_SetColorMode(h, 24), 1);
    const int size = 2592 * 3 * 1944;
    std::vector<uint8_t> buffer(size);
    ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), buffer.data(), size, 0), 1);
    for (int frame = 0; frame < 3; ++frame) {
        const auto message = WaitForFrame(Queue());
        ASSERT_TRUE(message);
        ASSERT_EQ(message->lParam, 0);
    }
    ASSERT_TRUE(emulator_->Control("unplug 1"));
    const auto lost = WaitFor(Queue(), [](const ZelvikMessage& m) { return m.lParam != 0; });
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->lParam, ZELVIK_ERR_CAMERA_LOST);
    EXPECT_EQ(Zelvik_StopPreview(h), 1);
    const ZelvikFrameInfo& info = Engine(h).FrameInfo();
    EXPECT_EQ(info.width, 2592);
    EXPECT_EQ(info.height, 1944);
    EXPECT_EQ(info.bitsPerPixel, 24);
    // The bars are lit: the delivered picture is not black.
    size_t lit = 0;
    for (uint8_t v : buffer) lit += v > 32;
    EXPECT_GT(lit, buffer.size() / 2);
}

// The counter scene gives every pixel of a frame its frame's level, so a picture whose rows differ was put
// together from two frames. Exposure writes pause and resume the acquisition loop all along. Cases: the
// frame path working in the ring slot itself (colour, packed rows meet the stride), and the frame copied
// into the landing buffer (gray mode, whose image is that buffer; a width the rows must be spread for).
TEST_F(FuseCaptureTest, StreamingWhileSuspendingNeverMixesTwoFrames) {
    struct Case {
        int bits, width, height;
    };
    const int h = OpenThrough({"--scene", "counter", "--fps", "max"});
    for (const Case c : {Case{24, 512, 384}, Case{8, 512, 384}, Case{24, 250, 190}}) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.width << " x " << c.height);
        SetWindow(h, c.width, c.height);
        ASSERT_EQ(Zelvik_SetColorMode(h, c.bits), 1);
        const int64_t started = static_cast<int64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
        ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 1), 1);
        std::atomic<bool> done{false};
        std::thread setter([&] {
            for (int exposure = 100; !done.load(); exposure = exposure == 100 ? 200 : 100) {
                Zelvik_SetExposureTime(h, exposure);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));  // lets the reader take the handle
            }
        });
        const size_t rowBytes = static_cast<size_t>((c.width * c.bits / 8 + 3) & ~3);
        std::vector<uint8_t> image(rowBytes * static_cast<size_t>(c.height));
        std::set<uint8_t> levels;
        int mixed = 0;
        for (int frame = 0; frame < 20; ++frame) {
            ASSERT_TRUE(WaitForFrame(Queue()));
            int64_t arrival = 0;
            ASSERT_EQ(ZelvikFrame_ArrivalTime(h, &arrival), 1);
            EXPECT_GE(arrival, started);
            if (Zelvik_GetImage(h, image.data(), static_cast<int>(image.size()), 1) != 1) continue;
            // The demosaic's two border rows and columns see fewer neighbours: the inner picture is compared.
            const size_t inner = rowBytes - 2 * 4 * static_cast<size_t>(c.bits / 8);
            const uint8_t* middle = image.data() + rowBytes * static_cast<size_t>(c.height / 2) + 2 * (c.bits / 8);
            for (int r = 2; r < c.height - 2; ++r)
                mixed += std::memcmp(image.data() + rowBytes * r + 2 * (c.bits / 8), middle, inner) != 0;
            levels.insert(middle[0]);
        }
        done = true;
        setter.join();
        ASSERT_EQ(Zelvik_StopPreview(h), 1);
        DrainMessages(Queue());
        EXPECT_EQ(mixed, 0);
        EXPECT_GE(levels.size(), 3u) << "frames kept coming while the loop was paused and resumed";
    }
}

}  // namespace
}  // namespace zelvik::test
