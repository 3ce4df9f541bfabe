// The three dialog exports end to end on the in-process emulated camera: the dialog module with its own
// QApplication (offscreen), live sensor writes, undo, the capture thread's refresh, stop and restart.
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "instance/OpenDialogs.h"
#include "platform/DiskSystem.h"
#include "tests/capture/CaptureFixture.h"

namespace zelvik::test {
namespace {

// Disks that pass everything to the emulated ones and keep every write (offset and bytes) made while
// recording: the register traffic, command block by command block.
class RecordedDisks final : public DiskSystem {
public:
    using Write = std::pair<uint64_t, std::vector<uint8_t>>;

    explicit RecordedDisks(DiskSystem& disks) : disks_(disks) {}
    std::vector<std::string> DiskIdentities() override { return disks_.DiskIdentities(); }
    std::unique_ptr<DiskDrive> OpenDrive(int number) override {
        std::unique_ptr<DiskDrive> drive = disks_.OpenDrive(number);
        if (!drive) return nullptr;
        return std::make_unique<Drive>(std::move(drive), *this);
    }

    void Start() {
        std::lock_guard lock(mutex_);
        writes_.clear();
        recording_ = true;
    }
    std::vector<Write> Stop() {
        std::lock_guard lock(mutex_);
        recording_ = false;
        return std::move(writes_);
    }

private:
    class Drive final : public DiskDrive {
    public:
        Drive(std::unique_ptr<DiskDrive> drive, RecordedDisks& owner)
            : drive_(std::move(drive)), owner_(owner) {}
        bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
            return drive_->ReadAt(offset, buffer, length);
        }
        bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
            {
                std::lock_guard lock(owner_.mutex_);
                const auto* bytes = static_cast<const uint8_t*>(buffer);
                if (owner_.recording_)
                    owner_.writes_.emplace_back(offset, std::vector<uint8_t>(bytes, bytes + length));
            }
            return drive_->WriteAt(offset, buffer, length);
        }

    private:
        std::unique_ptr<DiskDrive> drive_;
        RecordedDisks& owner_;
    };

    DiskSystem& disks_;
    std::mutex mutex_;
    bool recording_ = false;
    std::vector<Write> writes_;
};

class DialogExportTest : public CaptureFixture {
protected:
    void SetUp() override { ::setenv("QT_QPA_PLATFORM", "offscreen", 1); }

    // Runs `open` on this thread while `person` acts on the open dialog from another thread, reaching it
    // as the capture thread does: person(reach), where reach(f) runs f on the open dialog's link.
    template <typename Person>
    int WhileOpen(int h, OpenDialogs::Kind kind, int (*open)(int, ZELVIK_HWND), Person person) {
        std::thread other([&] {
            OpenDialogs& dialogs = Instance(h).Dialogs();
            while (!dialogs.Visit(kind, [](DialogLink&) {})) std::this_thread::yield();
            person([&](auto f) { dialogs.Visit(kind, f); });
        });
        const int result = open(h, 0);
        other.join();
        return result;
    }
    void Stream(int h) {
        ASSERT_EQ(Zelvik_CallBackPreview(h, Queue(), nullptr, 0, 0), 1);
        ASSERT_EQ(Zelvik_StartPreview(h), 1);
        ASSERT_TRUE(WaitForFrame(Queue()));
    }
    // A handle like Open()'s whose camera traffic recorded_ can record.
    int OpenRecorded() {
        if (!disks_) MakeCamera();
        recorded_ = std::make_unique<RecordedDisks>(*disks_);
        const int h = InitializeHandle(
            [&](CameraInstance& c) { return c.InitializeWith(Notify(), CreateCameraDevice(*recorded_)); });
        handles_.push_back(h);
        Drain(h);
        return h;
    }
    std::unique_ptr<RecordedDisks> recorded_;  // outlives the handles, which TearDown releases

    // The sensor register a colour gain setter writes for `value` (read back after setting it directly).
    static int RegisterFor(int h, int reg, int (*set)(int, int), int value) {
        set(h, value);
        int ok = 0;
        return Zelvik_ReadRegister(h, reg, &ok);
    }
};

// First in the file: once a dialog has run, the process has its Qt application and needs no display.
TEST_F(DialogExportTest, WithoutADisplayTheExportsReportError4) {
    ::unsetenv("QT_QPA_PLATFORM");
    ::setenv("DISPLAY", ":4711", 1);
    const int h = Open();
    for (auto open : {Zelvik_SetCameraDlg, Zelvik_SetAnalogDlg, Zelvik_SetImageDlg}) {
        EXPECT_EQ(open(h, 0), 0);
        EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_WINDOW});
    }
}

TEST_F(DialogExportTest, AnalogGainTypedWhileStreamingReachesTheSensorAndOkKeepsIt) {
    const int h = Open();
    Stream(h);
    const int result = WhileOpen(h, OpenDialogs::kAnalog, Zelvik_SetAnalogDlg, [](auto reach) {
        reach([](DialogLink& dialog) {
            dialog.TypeValue(1015, 40);
            dialog.Close(1);
        });
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Errors(h).empty());
    int ok = 0;
    EXPECT_EQ(Zelvik_GetGlobalGain(h, &ok), 40);
    EXPECT_EQ(Zelvik_GetColorGainBlue(h, &ok), 40);
    const int written = Zelvik_ReadRegister(h, 0x2C, &ok);
    EXPECT_EQ(written, RegisterFor(h, 0x2C, Zelvik_SetColorGainBlue, 40)) << "the sensor holds gain 40";
    EXPECT_FALSE(Instance(h).Dialogs().Visit(OpenDialogs::kAnalog, [](DialogLink&) {})) << "closed";
}

TEST_F(DialogExportTest, AnalogCancelPutsTheSensorBack) {
    const int h = Open();
    int ok = 0;
    const int before = Zelvik_ReadRegister(h, 0x2B, &ok);
    const int gainBefore = Zelvik_GetColorGainGreen1(h, &ok);
    WhileOpen(h, OpenDialogs::kAnalog, Zelvik_SetAnalogDlg, [](auto reach) {
        reach([](DialogLink& dialog) {
            dialog.TypeValue(1015, 50);
            dialog.Close(2);
        });
    });
    EXPECT_EQ(Zelvik_GetColorGainGreen1(h, &ok), gainBefore);
    EXPECT_EQ(Zelvik_ReadRegister(h, 0x2B, &ok), before);
}

// A program ending on a signal cancels the open dialog from another thread, without the handle the export
// holds: the live change is undone as by Cancel, and only an open dialog is reached.
TEST_F(DialogExportTest, CancelOpenFromAnotherThreadUndoesLikeCancel) {
    const int h = Open();
    int ok = 0;
    const int before = Zelvik_ReadRegister(h, 0x2B, &ok);
    const int gainBefore = Zelvik_GetColorGainGreen1(h, &ok);
    EXPECT_EQ(ZelvikDlg_CancelOpen(), 0);
    int reached = 0;
    const int result = WhileOpen(h, OpenDialogs::kAnalog, Zelvik_SetAnalogDlg, [&](auto reach) {
        reach([](DialogLink& dialog) { dialog.TypeValue(1015, 50); });
        reached = ZelvikDlg_CancelOpen();
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(reached, 1);
    EXPECT_EQ(Zelvik_GetColorGainGreen1(h, &ok), gainBefore);
    EXPECT_EQ(Zelvik_ReadRegister(h, 0x2B, &ok), before);
    EXPECT_EQ(ZelvikDlg_CancelOpen(), 0);
}

// Cancel puts back on the sensor exactly what the analog slots held before the dialog: the global gain,
// the colour gains G1, R, B and G2, the exposure, mirror V and mirror H, in this order, and nothing else.
TEST_F(DialogExportTest, AnalogCancelWritesTheAnalogSettingsAndNothingElse) {
    const int h = OpenRecorded();
    // A value of its own in each slot, so that every write shows which slot it came from.
    auto& analog = Instance(h).Settings().analogSettings;
    const int values[kAnalogSlotCount] = {21, 22, 23, 24, 25, 1234, 1, 1, 0};
    for (int slot = 0; slot < kAnalogSlotCount; ++slot) analog[slot] = values[slot];
    const int result = WhileOpen(h, OpenDialogs::kAnalog, Zelvik_SetAnalogDlg, [&](auto reach) {
        recorded_->Start();
        reach([](DialogLink& dialog) { dialog.Close(2); });
    });
    const std::vector<RecordedDisks::Write> cancel = recorded_->Stop();
    EXPECT_EQ(result, 1);

    CameraDevice& device = Instance(h).Device();
    recorded_->Start();
    device.SetGlobalGain(values[kGlobalGain]);
    device.SetColorGain(sensor::GainSite::Green1, values[kGainG1]);
    device.SetColorGain(sensor::GainSite::Red, values[kGainR]);
    device.SetColorGain(sensor::GainSite::Blue, values[kGainB]);
    device.SetColorGain(sensor::GainSite::Green2, values[kGainG2]);
    device.SetExposure(values[kExposure]);
    device.SetMirrorV(values[kMirrorV]);
    device.SetMirrorH(values[kMirrorH]);
    const std::vector<RecordedDisks::Write> direct = recorded_->Stop();
    ASSERT_FALSE(direct.empty());
    EXPECT_TRUE(cancel == direct) << cancel.size() << " writes on Cancel, " << direct.size()
                                  << " made directly";
}

TEST_F(DialogExportTest, OneShotWhiteBalanceMeasuredWhileOpenIsWhatOkKeeps) {
    // A scene with a colour cast: the four mosaic sites at different levels.
    MakeMosaicCamera(MakeMosaic(64, 48, [](int c, int r) -> uint8_t { return 50 + 60 * (c & 1) + 30 * (r & 1); }));
    const int h = Open();
    SetWindow(h, 64, 48);
    ASSERT_EQ(Zelvik_SetColorMode(h, 24), 1);
    auto& slots = Instance(h).Settings().imageSettings;
    auto gains = [&] { return std::vector<int>{slots[kBayerGainRed], slots[kBayerGainGreen], slots[kBayerGainBlue]}; };
    Stream(h);
    const std::vector<int> before = gains();
    std::vector<int> measured;
    const int result = WhileOpen(h, OpenDialogs::kImage, Zelvik_SetImageDlg, [&](auto reach) {
        // The one-shot white balance runs on the next frame; its gains are shown in the open page, so OK,
        // which takes every slider's value from the page, keeps them.
        for (int slot : {kAutoBayerGain, kOneShot1, kOneShot2}) slots[slot] = 1;
        while (slots[kAutoBayerGain] != 0) std::this_thread::yield();
        measured = gains();
        reach([](DialogLink& dialog) { dialog.Close(1); });
    });
    EXPECT_EQ(result, 1);
    ASSERT_NE(measured, before) << "the scene's cast gives other gains than the stored ones";
    EXPECT_EQ(gains(), measured);
}

TEST_F(DialogExportTest, AutomaticExposureWhileOpenGoesThroughTheAnalogPage) {
    MakeMosaicCamera(MakeMosaic(64, 48, [](int, int) -> uint8_t { return 8; }));  // a dark scene
    const int h = Open();
    SetWindow(h, 64, 48);
    ASSERT_EQ(Zelvik_SetAutoIris(h, 1), 1);  // by exposure
    auto& analog = Instance(h).Settings().analogSettings;
    const int before = analog[kExposure];
    Stream(h);
    int adjusted = -1;
    const int result = WhileOpen(h, OpenDialogs::kAnalog, Zelvik_SetAnalogDlg, [&](auto reach) {
        while (analog[kExposure] == before) std::this_thread::yield();
        // Stop the control, and let two more frames pass so that none is still adjusting.
        analog[kAutoIris] = 0;
        const uint64_t seen = Engine(h).FrameCounters().delivered.load();
        while (Engine(h).FrameCounters().delivered.load() < seen + 2) std::this_thread::yield();
        adjusted = analog[kExposure];
        reach([](DialogLink& dialog) { dialog.Close(1); });
    });
    EXPECT_EQ(result, 1);
    EXPECT_NE(adjusted, before);
    EXPECT_EQ(analog[kExposure], adjusted) << "the page showed the control's exposure, so OK keeps it";
}

TEST_F(DialogExportTest, CameraDialogStopsTheStreamAndStartsItAgain) {
    const int h = Open();
    Stream(h);
    int modeWhileOpen = -1;
    const int result = WhileOpen(h, OpenDialogs::kCamera, Zelvik_SetCameraDlg, [&](auto reach) {
        modeWhileOpen = Engine(h).Mode();
        reach([](DialogLink& dialog) { dialog.Close(1); });
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(modeWhileOpen, kCaptureIdle);
    EXPECT_EQ(Engine(h).Mode(), kCaptureStreaming);
    DrainMessages(Queue());
    EXPECT_TRUE(WaitForFrame(Queue())) << "frames arrive again";
}

TEST_F(DialogExportTest, WithoutADeviceTheExportsReportError1) {
    const int h = InitializeHandle([&](CameraInstance& c) { return c.InitializeWith(Notify(), nullptr); });
    handles_.push_back(h);
    Drain(h);
    for (auto open : {Zelvik_SetCameraDlg, Zelvik_SetAnalogDlg, Zelvik_SetImageDlg}) {
        EXPECT_EQ(open(h, 0), 0);
        EXPECT_EQ(Errors(h), std::vector<int>{ZELVIK_ERR_NOT_ALLOWED});
    }
}

}  // namespace
}  // namespace zelvik::test
