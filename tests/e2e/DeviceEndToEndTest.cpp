// The library on the mounted FUSE emulator: cameras found through ZELVIK_ROOT, set up through the C
// interface, frames read back through the device class, faults injected through the control file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "api/FilterValues.h"
#include "device/CameraDevice.h"
#include "emulator/ImageFiles.h"
#include "include/ZelvikSdk.h"
#include "platform/DiskSystem.h"
#include "tests/support/FuseEmulator.h"
#include "tests/support/TestEnvironment.h"

namespace zelvik::test {
namespace {

constexpr int kSensorWidth = 2592;
constexpr int kSensorHeight = 1944;
constexpr int kFullFrameBytes = kSensorWidth * kSensorHeight;
constexpr int kStateContinuous = 1;
constexpr int kStateError = 5;
constexpr int kReadModeRegister = 0x20;
constexpr int kMirrorVBit = 0x8000;

// Waits for a condition; a bound against hanging, not a timing check.
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// "" when equal, else the first differing byte (frames are too large to print).
std::string FirstDifference(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected) {
    if (actual.size() != expected.size()) {
        return "size " + std::to_string(actual.size()) + ", expected " + std::to_string(expected.size());
    }
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i]) {
            std::ostringstream text;
            text << "byte " << i << " (row " << i / kSensorWidth << ", column " << i % kSensorWidth << " of a full row): "
                 << int{actual[i]} << ", expected " << int{expected[i]};
            return text.str();
        }
    }
    return "";
}

// A sensor-sized mosaic whose rows and columns all differ, never 0 (so the zeros after a window show).
emu::Image Mosaic() {
    emu::Image image{kSensorWidth, kSensorHeight, 1, {}};
    image.pixels.resize(static_cast<size_t>(kFullFrameBytes));
    for (int r = 0; r < kSensorHeight; ++r) {
        for (int c = 0; c < kSensorWidth; ++c) image.pixels[r * kSensorWidth + c] = static_cast<uint8_t>((r * 31 + c * 7) % 251 + 1);
    }
    return image;
}

// What a full-size transfer holds for a window of the mosaic: its rows (bottom to top when mirrored),
// then zeros.
std::vector<uint8_t> WindowOf(const emu::Image& mosaic, int x, int y, int width, int height, bool mirrored) {
    std::vector<uint8_t> frame(static_cast<size_t>(kFullFrameBytes), 0);
    for (int r = 0; r < height; ++r) {
        const int source = y + (mirrored ? height - 1 - r : r);
        std::memcpy(&frame[static_cast<size_t>(r) * width], &mosaic.pixels[static_cast<size_t>(source) * kSensorWidth + x],
                    static_cast<size_t>(width));
    }
    return frame;
}

// The system's disks for a reader beside the handles: its drives never claim a camera, so it reads the
// frames of the camera a handle has open (what the handle's writes did to the picture).
class UnclaimedDisks final : public DiskSystem {
public:
    std::vector<std::string> DiskIdentities() override { return SystemDisks().DiskIdentities(); }
    std::unique_ptr<DiskDrive> OpenDrive(int number) override {
        std::unique_ptr<DiskDrive> drive = SystemDisks().OpenDrive(number);
        return drive ? std::make_unique<Unclaimed>(std::move(drive)) : nullptr;
    }

private:
    struct Unclaimed final : DiskDrive {
        explicit Unclaimed(std::unique_ptr<DiskDrive> drive) : inner(std::move(drive)) {}
        bool ReadAt(uint64_t offset, void* buffer, size_t length) override { return inner->ReadAt(offset, buffer, length); }
        bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
            return inner->WriteAt(offset, buffer, length);
        }
        bool Claim() override { return true; }
        std::unique_ptr<DiskDrive> inner;
    };
};

// Parameter: the emulated cameras' register protocol.
class DeviceEndToEnd : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const std::string unavailable = FuseEmulator::Unavailable();
        if (!unavailable.empty()) {
            GTEST_SKIP() << "SKIPPED: " << unavailable << ", so the FUSE emulator cannot be mounted";
        }
    }
    // Handles go first, so that no camera disk of the mount is open when the emulator stops.
    void TearDown() override {
        for (int h : handles_) Zelvik_Release(h);
        emulator_.reset();
    }

    // Two cameras of the protocol under test, frames not paced; ZELVIK_ROOT names the mount.
    void Mount(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"--cameras", "2", "--protocol", GetParam(), "--fps", "max"});
        emulator_.emplace(ZELVIK_EMULATOR_PATH, options, [](const std::string& fault) { ADD_FAILURE() << fault; });
        ASSERT_TRUE(emulator_->Ready()) << emulator_->Error();
        ::setenv("ZELVIK_ROOT", emulator_->Root().c_str(), 1);
    }
    void MountMosaic() {
        mosaic_ = Mosaic();
        const std::string path = (env_.dir() / "mosaic.pgm").string();
        ASSERT_TRUE(emu::SaveGrayImage(path, mosaic_));
        Mount({"--mosaic", path});
    }

    int Handle() {
        const int h = Zelvik_Initialize(0);
        handles_.push_back(h);
        while (Zelvik_GetLastError(h) != 0) {
        }
        return h;
    }

    // A device of its own on camera `index`, built as the library builds one, beside the handles.
    static std::unique_ptr<CameraDevice> Reader(int index) {
        static UnclaimedDisks disks;
        std::unique_ptr<CameraDevice> device = CreateCameraDevice(disks);
        EXPECT_EQ(device->GetDeviceCount(), 2);
        if (index != 0) {
            EXPECT_TRUE(device->SelectDevice(index));
        }
        return device;
    }

    // The first frame of a new continuous acquisition (read after every register write before it).
    static std::vector<uint8_t> Grab(CameraDevice& device) {
        std::vector<uint8_t> frame(static_cast<size_t>(device.GetFrameBytes()));
        EXPECT_EQ(device.StartContinuous(), DeviceResult::Done);
        const bool arrived = Eventually([&] { return device.GetFrameStatus() != FrameStatus::NoNewFrame; });
        EXPECT_TRUE(arrived && device.GetFrameStatus() == FrameStatus::NewFrame) << "no frame; state " << device.GetState();
        EXPECT_EQ(device.CopyLatestFrame(frame.data()), DeviceResult::Done);
        device.StopAcquisition();
        return frame;
    }

    // Starts streaming and waits for the first frame.
    static void StartStreaming(CameraDevice& device) {
        ASSERT_EQ(device.StartContinuous(), DeviceResult::Done);
        ASSERT_TRUE(Eventually([&] { return device.GetFrameStatus() == FrameStatus::NewFrame; })) << "state " << device.GetState();
    }

    TestEnvironment env_;  // private settings; its ZELVIK_ROOT is replaced by the mount
    std::optional<FuseEmulator> emulator_;
    std::vector<int> handles_;
    emu::Image mosaic_;
};

TEST_P(DeviceEndToEnd, BothCamerasAreListedAndRegisterAccessGoesToTheSelectedOne) {
    MountMosaic();
    const int h = Handle();
    std::vector<char> names(10 * 256, 'x');
    ASSERT_EQ(Zelvik_EnumDevice(h, names.data()), 2);
    EXPECT_STREQ(&names[0], "ZelvikQ77RX_01");
    EXPECT_STREQ(&names[256], "ZelvikQ77RX_02");
    EXPECT_STREQ(&names[512], "");
    char name[32] = {};
    ASSERT_EQ(Zelvik_GetDeviceName(h, 1, name, sizeof name), 1);
    EXPECT_STREQ(name, "ZelvikQ77RX_02");
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 2), 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_NO_CAMERA);

    // The mirror bit written to the second camera reads back there and flips only its picture.
    ASSERT_EQ(Zelvik_SetDeviceNumber(h, 1), 1);
    ASSERT_EQ(Zelvik_WriteRegisterEx(h, kReadModeRegister, kMirrorVBit), 1);
    int ok = 0;
    EXPECT_EQ(Zelvik_ReadRegisterEx(h, kReadModeRegister, &ok), kMirrorVBit);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(FirstDifference(Grab(*Reader(1)), WindowOf(mosaic_, 0, 0, kSensorWidth, kSensorHeight, true)), "");
    EXPECT_EQ(FirstDifference(Grab(*Reader(0)), WindowOf(mosaic_, 0, 0, kSensorWidth, kSensorHeight, false)), "");

    ASSERT_EQ(Zelvik_SetDeviceNumber(h, 0), 1);
    EXPECT_EQ(Zelvik_ReadRegisterEx(h, kReadModeRegister, &ok), 0);
    EXPECT_EQ(ok, 1);
}

TEST_P(DeviceEndToEnd, CaptureWindowAndMirrorSetThroughTheLibraryShapeTheDeliveredFrame) {
    MountMosaic();
    const int h = Handle();
    constexpr int kX = 100, kY = 50, kWidth = 640, kHeight = 480;
    ASSERT_EQ(Zelvik_SetCaptureWindowEx(h, kSensorWidth, kX, kWidth, kSensorHeight, kY, kHeight), 1);
    std::unique_ptr<CameraDevice> reader = Reader(0);  // its own format stays full size: the window, then zeros
    EXPECT_EQ(FirstDifference(Grab(*reader), WindowOf(mosaic_, kX, kY, kWidth, kHeight, false)), "");

    ASSERT_EQ(Zelvik_SetMirrorV(h, 1), 1);
    EXPECT_EQ(Zelvik_GetMirrorV(h), 1);
    EXPECT_EQ(FirstDifference(Grab(*reader), WindowOf(mosaic_, kX, kY, kWidth, kHeight, true)), "");
    ASSERT_EQ(Zelvik_SetMirrorV(h, 0), 1);
    EXPECT_EQ(FirstDifference(Grab(*reader), WindowOf(mosaic_, kX, kY, kWidth, kHeight, false)), "");
    EXPECT_EQ(Zelvik_GetLastError(h), 0);
}

TEST_P(DeviceEndToEnd, GainsAndExposureSetAsFilterValuesScaleTheSitesTheyName) {
    Mount();  // colour bars: gains and exposure apply
    const int h = Handle();
    std::unique_ptr<CameraDevice> reader = Reader(0);
    // The library's defaults (gains 16, exposure 1100) give the scene at unity.
    const std::vector<uint8_t> unity = Grab(*reader);
    auto anySite = [](int, int) { return true; };
    auto redSite = [](int row, int column) { return row % 2 == 0 && column % 2 == 1; };  // G1 R / B G2
    struct Case {
        const char* what;
        int filter, value, unityValue;
        std::function<bool(int, int)> doubled;  // sites that the value scales by 2
    };
    const Case cases[] = {
        {"red gain 48: (48 + 16) / 32", kFilterColorGainRed, 48, 16, redSite},
        {"global gain 48: (16 + 48) / 32", kFilterGlobalGain, 48, 16, anySite},
        {"exposure 2200 lines: 2200 / 1100", kFilterExposureTime, 2200, 1100, anySite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> expected = unity;
        for (int i = 0; i < kFullFrameBytes; ++i) {
            if (c.doubled(i / kSensorWidth, i % kSensorWidth)) expected[i] = static_cast<uint8_t>(std::min(255, 2 * unity[i]));
        }
        ASSERT_TRUE(expected != unity) << "the scene has no site this case can show";
        ASSERT_EQ(Zelvik_SetFilterValue(h, c.filter, c.value), 1);
        EXPECT_EQ(FirstDifference(Grab(*reader), expected), "");
        ASSERT_EQ(Zelvik_SetFilterValue(h, c.filter, c.unityValue), 1);
    }
    EXPECT_EQ(FirstDifference(Grab(*reader), unity), "");
    EXPECT_EQ(Zelvik_GetLastError(h), 0);
}

TEST_P(DeviceEndToEnd, UnplugWhileStreamingEndsTheAcquisitionInTheErrorState) {
    Mount();
    const int h = Handle();
    std::unique_ptr<CameraDevice> reader = Reader(0);
    StartStreaming(*reader);
    ASSERT_TRUE(emulator_->Control("unplug 1"));
    EXPECT_TRUE(Eventually([&] { return reader->GetFrameStatus() == FrameStatus::Error; })) << "state " << reader->GetState();
    EXPECT_EQ(reader->GetState(), kStateError);
    EXPECT_EQ(reader->StopAcquisition(), DeviceResult::Done);
    EXPECT_EQ(reader->GetState(), 0);
    // The library's own handle on the vanished camera fails and says so.
    int ok = 1;
    Zelvik_ReadRegisterEx(h, kReadModeRegister, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Zelvik_GetLastError(h), ZELVIK_ERR_DEVICE);
}

TEST_P(DeviceEndToEnd, StalledTransferMakesSetFormatGiveUpWhileStreamingGoesOn) {
    Mount();
    std::unique_ptr<CameraDevice> reader = Reader(0);
    StartStreaming(*reader);
    // The loop's next transfer blocks (20 s at most, so that a failing test still ends).
    ASSERT_TRUE(emulator_->Control("stall 1 1 20000"));
    ASSERT_TRUE(Eventually([&] {
        const std::string status = emulator_->Status();
        return status.substr(0, status.find('\n')).find("stalled 1 pending 0") != std::string::npos;
    })) << emulator_->Status();

    EXPECT_EQ(reader->SetFormat(0, 0, 640, 480, 0), DeviceResult::NoAnswer);
    EXPECT_EQ(reader->GetState(), kStateContinuous);
    EXPECT_EQ(reader->GetFrameBytes(), kFullFrameBytes) << "a refused format must change nothing";
    std::vector<uint8_t> frame(static_cast<size_t>(kFullFrameBytes));
    ASSERT_EQ(reader->CopyLatestFrame(frame.data()), DeviceResult::Done);
    EXPECT_EQ(reader->GetFrameStatus(), FrameStatus::NoNewFrame) << "no frame can arrive while the transfer is stalled";

    ASSERT_TRUE(emulator_->Control("unstall 1"));
    EXPECT_TRUE(Eventually([&] { return reader->GetFrameStatus() == FrameStatus::NewFrame; })) << "state " << reader->GetState();
    EXPECT_EQ(reader->GetState(), kStateContinuous);
    EXPECT_EQ(reader->StopAcquisition(), DeviceResult::Done);
}

INSTANTIATE_TEST_SUITE_P(Protocols, DeviceEndToEnd, ::testing::Values("word", "byte"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param) + "Protocol"; });

}  // namespace
}  // namespace zelvik::test
