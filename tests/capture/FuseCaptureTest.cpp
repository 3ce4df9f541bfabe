// The capture engine on the FUSE emulator: cameras found through the system root, frames read through the
// kernel's file system, faults injected through the control file.
#include <cstdlib>
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

}  // namespace
}  // namespace zelvik::test
