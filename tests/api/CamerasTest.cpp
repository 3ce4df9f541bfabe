// Several cameras and several handles: a handle never touches a camera another handle has open, each
// camera keeps its own stored settings, numbers and serials name the same camera, and cameras that come
// and go are noticed and can be selected again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/DiskSet.h"
#include "emulator/EmulatedDisks.h"
#include "emulator/RegisterMap.h"
#include "include/ZelvikSdk.h"
#include "tests/support/ErrorStack.h"
#include "tests/support/FakeSystemRoot.h"
#include "tests/support/FuseEmulator.h"
#include "tests/support/TestEnvironment.h"

namespace zelvik::test {
namespace {

using namespace std::chrono_literals;

// A bound against hanging only: the library reports within a second, a loaded machine may be slower.
constexpr int kHangGuardMs = 10000;

// The emulator's disks as the C record, with every register write command logged per camera serial.
class LoggedDisks {
public:
    explicit LoggedDisks(emu::EmulatedDisks& disks) : inner_(emu::DiskSetOf(disks)) {
        set_ = inner_;
        set_.context = this;
        set_.identity = [](void* context, int index, char* out, int size) {
            auto& self = *static_cast<LoggedDisks*>(context);
            return self.inner_.identity(self.inner_.context, index, out, size);
        };
        set_.open = [](void* context, int number) -> void* {
            auto& self = *static_cast<LoggedDisks*>(context);
            char identity[256] = "";
            self.inner_.identity(self.inner_.context, number - 1, identity, sizeof identity);
            void* drive = self.inner_.open(self.inner_.context, number);
            if (drive == nullptr) return nullptr;
            const std::string serial = std::strrchr(identity, '\\') != nullptr ? std::strrchr(identity, '\\') + 1 : "";
            return new Drive{&self, drive, serial};
        };
        set_.read = [](void* drive, uint64_t offset, void* buffer, size_t length) {
            auto* d = static_cast<Drive*>(drive);
            return d->self->inner_.read(d->inner, offset, buffer, length);
        };
        set_.write = [](void* drive, uint64_t offset, const void* buffer, size_t length) {
            auto* d = static_cast<Drive*>(drive);
            const auto* bytes = static_cast<const uint8_t*>(buffer);
            if (offset == emu::kCommandOffset && length > 0 && bytes[0] == 0x20) {
                std::lock_guard lock(d->self->mutex_);
                ++d->self->registerWrites_[d->serial];
            }
            return d->self->inner_.write(d->inner, offset, buffer, length);
        };
        set_.close = [](void* drive) {
            auto* d = static_cast<Drive*>(drive);
            d->self->inner_.close(d->inner);
            delete d;
        };
    }
    const ZelvikDiskSet& Set() const { return set_; }
    int RegisterWrites(const std::string& serial) {
        std::lock_guard lock(mutex_);
        return registerWrites_[serial];
    }

private:
    struct Drive {
        LoggedDisks* self;
        void* inner;
        std::string serial;
    };
    ZelvikDiskSet inner_;
    ZelvikDiskSet set_;
    std::mutex mutex_;
    std::map<std::string, int> registerWrites_;
};

// Waits for the next delivered frame on queue (error messages are skipped); false when none came.
bool NextFrame(ZELVIK_HWND queue) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangGuardMs);
    while (std::chrono::steady_clock::now() < until) {
        ZelvikMessage m{};
        if (ZelvikMsg_Get(queue, &m, 100) == 1 && m.message == MSG_CAMERA_FRAME && m.lParam == 0) return true;
    }
    return false;
}

int Exposure(int handle) {
    int ok = 0;
    const int value = Zelvik_GetExposureTime(handle, &ok);
    return ok == 1 ? value : -1;
}

// The sensor registers a handle writes: window, blanking, exposure, read mode, skip, gains.
std::vector<uint16_t> SensorState(emu::Firmware& camera) {
    std::vector<uint16_t> state;
    for (uint16_t reg : {1, 2, 3, 4, 5, 6, 9, 0x20, 0x22, 0x23, 0x2B, 0x2C, 0x2D, 0x2E, 0x35})
        state.push_back(camera.Register(reg));
    return state;
}

// Camera 1 streams through one handle while other handles start, select, change and release camera 2:
// camera 1's sensor sees no register write of theirs and its frames stay byte for byte the same; camera
// 2 gets the settings stored for it; a second handle on camera 1 is refused.
TEST(TwoCameras, AStreamingCameraIsNeverTouchedByOtherHandles) {
    TestEnvironment env;
    emu::FirmwareOptions options;
    options.paced = false;
    emu::EmulatedDisks disks(2, options);
    LoggedDisks logged(disks);

    const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    const int first = ZelvikDisk_Initialize(0, &logged.Set());
    ASSERT_NE(first, 0);
    ASSERT_EQ(Zelvik_SetDeviceNumber(first, 0), 1);
    ASSERT_EQ(Zelvik_SetColorMode(first, 8), 1);
    ASSERT_EQ(Zelvik_SetCaptureWindowEx(first, 2592, 16, 256, 1944, 8, 64), 1);
    ASSERT_EQ(Zelvik_SetExposureTime(first, 700), 1);
    const int frameBytes = 256 * 64;
    // The stream writes into one of two buffers. A frame is read from a buffer only after the stream was
    // moved to the other one (the move waits for a frame on its way into the buffer), so the test never
    // reads a buffer the library is writing.
    std::array<std::vector<uint8_t>, 2> buffers{std::vector<uint8_t>(frameBytes), std::vector<uint8_t>(frameBytes)};
    int current = 0;
    auto latestFrame = [&] {
        EXPECT_TRUE(NextFrame(queue));
        const int written = current;
        current = 1 - current;
        EXPECT_EQ(Zelvik_CallBackPreview(first, queue, buffers[current].data(), frameBytes, 1), 1);
        return buffers[written];
    };
    ASSERT_EQ(Zelvik_CallBackPreview(first, queue, buffers[current].data(), frameBytes, 1), 1);
    ASSERT_TRUE(NextFrame(queue));
    const std::vector<uint8_t> reference = latestFrame();
    const std::vector<uint16_t> sensor = SensorState(disks.Camera(0));
    const int writesBefore = logged.RegisterWrites("Q77RX0001");

    for (int round = 0; round < 3; ++round) {
        const int second = ZelvikDisk_Initialize(0, &logged.Set());
        ASSERT_NE(second, 0);
        DrainErrors(second);
        EXPECT_EQ(Zelvik_SetDeviceNumber(second, 0), 0) << "camera 1 is the streaming handle's";
        EXPECT_EQ(PopErrors(second), std::vector<int>{ZELVIK_ERR_NO_CAMERA});
        EXPECT_EQ(ZelvikCam_SelectSerial(second, "Q77RX0001"), 0);
        ASSERT_EQ(Zelvik_SetDeviceNumber(second, 1), 1);
        // Camera 2 starts with what is stored for it: the defaults, then what the last round left.
        EXPECT_EQ(Exposure(second), round == 0 ? 1100 : 3000 + round - 1);
        EXPECT_EQ(disks.Camera(1).Register(emu::reg::kExposure), round == 0 ? 1100 : 3000 + round - 1);
        ASSERT_EQ(Zelvik_SetExposureTime(second, 3000 + round), 1);
        ASSERT_EQ(Zelvik_SetMirrorV(second, 1), 1);
        ASSERT_EQ(Zelvik_SetColorMode(second, 8), 1);
        ASSERT_EQ(Zelvik_SetCaptureWindowEx(second, 2592, 0, 640, 1944, 0, 480), 1);
        std::vector<uint8_t> shot(640 * 480);
        EXPECT_EQ(Zelvik_SnapShot(second, shot.data(), static_cast<int>(shot.size()), 1), 1);
        EXPECT_EQ(disks.Camera(1).Register(emu::reg::kExposure), 3000 + round);
        Zelvik_SetMirrorV(second, 0);
        EXPECT_EQ(Zelvik_Release(second), 1);

        ASSERT_TRUE(NextFrame(queue));
        EXPECT_EQ(latestFrame(), reference) << "round " << round;
        EXPECT_EQ(SensorState(disks.Camera(0)), sensor) << "round " << round;
        EXPECT_EQ(logged.RegisterWrites("Q77RX0001"), writesBefore) << "round " << round;
    }
    EXPECT_EQ(Zelvik_StopPreview(first), 1);
    EXPECT_EQ(Exposure(first), 700);
    EXPECT_EQ(Zelvik_Release(first), 1);

    // Each camera's exposure was stored under its own key.
    const int again = ZelvikDisk_Initialize(0, &logged.Set());
    EXPECT_EQ(Exposure(again), 700);
    ASSERT_EQ(Zelvik_SetDeviceNumber(again, 1), 1);
    EXPECT_EQ(Exposure(again), 3002);
    ASSERT_EQ(Zelvik_SetDeviceNumber(again, 0), 1);
    EXPECT_EQ(Exposure(again), 700);
    EXPECT_EQ(Zelvik_Release(again), 1);
    ZelvikMsg_DestroyQueue(queue);
}

// A camera keeps its stored settings when another one is missing and the numbers move up.
TEST(TwoCameras, StoredSettingsFollowTheCameraNotItsNumber) {
    TestEnvironment env;
    emu::EmulatedDisks disks(2);
    const ZelvikDiskSet set = emu::DiskSetOf(disks);
    for (int number : {0, 1}) {
        const int h = ZelvikDisk_Initialize(0, &set);
        ASSERT_EQ(Zelvik_SetDeviceNumber(h, number), 1);
        ASSERT_EQ(Zelvik_SetExposureTime(h, 500 + number), 1);
        Zelvik_Release(h);
    }
    std::string error;
    ASSERT_TRUE(disks.Control("unplug 1", &error)) << error;
    const int h = ZelvikDisk_Initialize(0, &set);
    EXPECT_EQ(Exposure(h), 501) << "the second camera, now the first attached, keeps its own settings";
    EXPECT_EQ(disks.Camera(1).Register(emu::reg::kExposure), 501);
    ZelvikCameraEntry open{};
    open.size = sizeof open;
    ASSERT_EQ(ZelvikCam_GetOpen(h, &open), 1);
    EXPECT_STREQ(open.serial, "Q77RX0002");
    EXPECT_EQ(open.number, 0);
    Zelvik_Release(h);
}

// A handle made while no camera is attached selects one plugged in later; a replugged camera streams
// again through the handle that lost it once it is selected anew, with its own stored settings.
TEST(ComingAndGoing, AHandleSelectsCamerasPluggedInAfterIt) {
    TestEnvironment env;
    emu::FirmwareOptions options;
    options.paced = false;
    emu::EmulatedDisks disks(1, options);
    std::string error;
    ASSERT_TRUE(disks.Control("unplug 1", &error)) << error;
    const ZelvikDiskSet set = emu::DiskSetOf(disks);
    const int h = ZelvikDisk_Initialize(0, &set);
    ASSERT_NE(h, 0);
    DrainErrors(h);
    char names[10][256];
    EXPECT_EQ(Zelvik_EnumDevice(h, &names[0][0]), 0);
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 0), 0);

    ASSERT_TRUE(disks.Control("replug 1", &error)) << error;
    EXPECT_EQ(Zelvik_EnumDevice(h, &names[0][0]), 1);
    ASSERT_EQ(Zelvik_SetDeviceNumber(h, 0), 1);
    ASSERT_EQ(Zelvik_SetExposureTime(h, 900), 1);
    ASSERT_EQ(Zelvik_SetColorMode(h, 8), 1);
    ASSERT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 64, 1944, 0, 32), 1);
    const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    ASSERT_EQ(Zelvik_CallBackPreview(h, queue, nullptr, 0, 1), 1);
    ASSERT_TRUE(NextFrame(queue));

    // Lost while streaming: the stream ends with error 13.
    ASSERT_TRUE(disks.Control("unplug 1", &error)) << error;
    bool lost = false;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangGuardMs);
         !lost && std::chrono::steady_clock::now() < until;) {
        ZelvikMessage m{};
        lost = ZelvikMsg_Get(queue, &m, 100) == 1 && m.message == MSG_CAMERA_FRAME && m.lParam == ZELVIK_ERR_CAMERA_LOST;
    }
    ASSERT_TRUE(lost);
    Zelvik_StopPreview(h);
    ASSERT_TRUE(disks.Control("replug 1", &error)) << error;
    EXPECT_EQ(disks.Camera(0).Register(emu::reg::kExposure), 1100) << "powered up afresh";
    ASSERT_EQ(Zelvik_SetDeviceNumber(h, 0), 1);
    EXPECT_EQ(disks.Camera(0).Register(emu::reg::kExposure), 900) << "its settings again";
    DrainErrors(h);
    ASSERT_EQ(Zelvik_CallBackPreview(h, queue, nullptr, 0, 1), 1);
    EXPECT_TRUE(NextFrame(queue));
    Zelvik_StopPreview(h);
    Zelvik_Release(h);
    ZelvikMsg_DestroyQueue(queue);
}

// The system's disks: the claim is a lock on the disk node, which another process's handle meets and
// which dies with that process, however it ends.
TEST(DriveClaim, AnotherProcessHoldsTheCameraUntilItDies) {
    TestEnvironment env;
    FakeSystemRoot root(env.root());
    root.AddDisk("sdb", true, "MOVANE", "USB3.0 Q77RX", "Q77RX0001", true, std::string(1, '\0'));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int h = Zelvik_Initialize(0);
        const char answer = Zelvik_SetDeviceNumber(h, 0) == 1 ? 'y' : 'n';
        (void)!::write(ready[1], &answer, 1);
        for (;;) ::pause();
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    const int h = Zelvik_Initialize(0);
    DrainErrors(h);
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 0), 0);
    EXPECT_EQ(PopErrors(h), std::vector<int>{ZELVIK_ERR_NO_CAMERA});
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 0), 1) << "the lock died with its process";
    Zelvik_Release(h);
    ::close(ready[0]);
    ::close(ready[1]);
}

// Arrivals and removals of the system's disks arrive as messages naming the camera.
TEST(ComingAndGoing, TheWatchReportsArrivalsAndRemovals) {
    TestEnvironment env;
    FakeSystemRoot root(env.root());
    root.AddDisk("sdb", true, "MOVANE", "USB3.0 Q77RX", "Q77RX0001", true, std::string(1, '\0'));
    const ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    ASSERT_EQ(ZelvikCam_Watch(queue), 1);
    EXPECT_EQ(ZelvikCam_Watch(queue), 0) << "already watching";
    root.AddDisk("sdc", true, "MOVANE", "USB3.0 Q77RX", "Q77RX0002", true, std::string(1, '\0'));
    root.AddDisk("sdd", true, "SanDisk", "Ultra Fit", "S1", false, std::string(1, '\0'));  // no camera
    ZelvikMessage m{};
    ASSERT_EQ(ZelvikMsg_Get(queue, &m, kHangGuardMs), 1);
    EXPECT_EQ(m.message, static_cast<uint32_t>(MSG_CAMERA_ARRIVED));
    EXPECT_EQ(m.lParam, 1);
    ZelvikCameraEntry camera{};
    camera.size = sizeof camera;
    ASSERT_EQ(ZelvikCam_Describe(static_cast<int>(m.wParam), &camera), 1);
    EXPECT_STREQ(camera.serial, "Q77RX0002");
    EXPECT_STREQ(camera.name, "ZelvikQ77RX_02");
    const int arrivedId = camera.id;

    std::filesystem::remove_all(env.root() / "sys/block/sdb");
    ASSERT_EQ(ZelvikMsg_Get(queue, &m, kHangGuardMs), 1);
    EXPECT_EQ(m.message, static_cast<uint32_t>(MSG_CAMERA_REMOVED));
    EXPECT_EQ(m.lParam, 0);
    ASSERT_EQ(ZelvikCam_Describe(static_cast<int>(m.wParam), &camera), 1);
    EXPECT_STREQ(camera.serial, "Q77RX0001");
    EXPECT_EQ(camera.present, 0);

    std::array<ZelvikCameraEntry, 4> list{};
    for (ZelvikCameraEntry& e : list) e.size = sizeof e;
    ASSERT_EQ(ZelvikCam_List(0, list.data(), 4), 1);
    EXPECT_STREQ(list[0].serial, "Q77RX0002");
    EXPECT_EQ(list[0].number, 0) << "the numbers moved up";
    EXPECT_EQ(list[0].id, arrivedId) << "the id stays the camera's";
    EXPECT_EQ(ZelvikCam_Unwatch(queue), 1);
    EXPECT_EQ(ZelvikCam_Unwatch(queue), 0);
    ZelvikMsg_DestroyQueue(queue);
}

#ifdef ZELVIK_EMULATOR_PATH
// The emulator's disk nodes lock as a real disk's: a second opening is refused, and a replugged camera
// is a new device that a handle of the lost one does not hold.
TEST(DriveClaim, TheEmulatorsNodesLockAsDisksDo) {
    const std::string unavailable = FuseEmulator::Unavailable();
    if (!unavailable.empty()) GTEST_SKIP() << "SKIPPED: " << unavailable;
    TestEnvironment env;
    FuseEmulator emulator(ZELVIK_EMULATOR_PATH, {"--cameras", "2", "--fps", "max"},
                          [](const std::string& fault) { ADD_FAILURE() << fault; });
    ASSERT_TRUE(emulator.Ready()) << emulator.Error();
    ::setenv("ZELVIK_ROOT", emulator.Root().c_str(), 1);
    const int first = Zelvik_Initialize(0);
    ASSERT_EQ(Zelvik_SetDeviceNumber(first, 1), 1);
    const int second = Zelvik_Initialize(0);
    DrainErrors(second);
    ZelvikCameraEntry open{};
    open.size = sizeof open;
    ASSERT_EQ(ZelvikCam_GetOpen(second, &open), 1) << "camera 1, which the first handle let go of";
    EXPECT_STREQ(open.serial, "Q77RX0001");
    EXPECT_EQ(Zelvik_SetDeviceNumber(second, 1), 0);
    EXPECT_EQ(PopErrors(second), std::vector<int>{ZELVIK_ERR_NO_CAMERA});
    ASSERT_TRUE(emulator.Control("unplug 2; replug 2"));
    EXPECT_EQ(ZelvikCam_SelectSerial(second, "Q77RX0002"), 1) << "the lost camera's lock is not the new one's";
    Zelvik_Release(second);
    Zelvik_Release(first);
    ::setenv("ZELVIK_ROOT", env.root().c_str(), 1);
}
#endif

}  // namespace
}  // namespace zelvik::test
