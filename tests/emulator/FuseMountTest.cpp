// The zelvik-emulator program end to end: mount, discovery entries, sector I/O, faults, clean unmount.
#include <fcntl.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/ImageFiles.h"
#include "emulator/RegisterMap.h"
#include "platform/AlignedBuffer.h"
#include "tests/support/FuseEmulator.h"

namespace zelvik::emu::test {
namespace {

namespace fs = std::filesystem;

// As large as the sensor, so that a full-resolution frame (which FUSE passes on in several requests)
// is compared byte for byte.
constexpr int kFixtureWidth = kSensorWidth, kFixtureHeight = kSensorHeight;

std::string ReadTrimmed(const std::string& path) {
    std::ifstream file(path);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

// An open camera disk of the mount, spoken to as the host does (O_DIRECT where accepted).
class Disk {
public:
    explicit Disk(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_DIRECT);
        if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDWR);
    }
    ~Disk() {
        if (fd_ >= 0) ::close(fd_);
    }
    Disk(const Disk&) = delete;
    Disk& operator=(const Disk&) = delete;
    bool IsOpen() const { return fd_ >= 0; }

    ssize_t ReadStatus(uint8_t* sector) {
        if (sector == nullptr) return -1;  // an empty AlignedBuffer (allocation failed)
        return ::pread(fd_, sector, 512, static_cast<off_t>(kStatusOffset));
    }
    bool Command(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
        AlignedBuffer block(512);
        if (block.empty()) return false;
        block.data()[0] = b0, block.data()[1] = b1, block.data()[2] = b2, block.data()[3] = b3;
        return ::pwrite(fd_, block.data(), 512, static_cast<off_t>(kCommandOffset)) == 512;
    }
    void WriteWord(uint16_t address, uint16_t value) {
        ASSERT_TRUE(Command(kCmdWrite, 0, address >> 8, address & 0xFF));
        ASSERT_TRUE(Command(kCmdWrite, 1, value >> 8, value & 0xFF));
    }
    int ReadWord(uint16_t address) {
        AlignedBuffer status(512);
        if (!Command(kCmdRead, 0, address >> 8, address & 0xFF) || ReadStatus(status.data()) != 512) return -1;
        return status.data()[259] << 8 | status.data()[258];
    }
    ssize_t ReadFrame(uint8_t* buffer, size_t length) {
        if (buffer == nullptr || !Command(kCmdFrameRequest, 0, 0, 0)) return -1;
        return ::pread(fd_, buffer, length, static_cast<off_t>(kImageOffset));
    }

private:
    int fd_ = -1;
};

class EmulatorMount : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string unavailable = zelvik::test::FuseEmulator::Unavailable();
        if (!unavailable.empty()) {
            GTEST_SKIP() << "SKIPPED: FUSE is not available here (" << unavailable
                         << "), so the mounted emulator cannot be tested";
        }
        ASSERT_FALSE(tempDir_.path().empty());
        dir_ = tempDir_.path().string();
        fixture_ = Image{kFixtureWidth, kFixtureHeight, 1, {}};
        for (int i = 0; i < kFixtureWidth * kFixtureHeight; ++i) fixture_.pixels.push_back(static_cast<uint8_t>(i % 253 + 1));
        ASSERT_TRUE(SaveGrayImage(dir_ + "/mosaic.pgm", fixture_));
        emulator_ = std::make_unique<zelvik::test::FuseEmulator>(
            ZELVIK_EMULATOR_PATH,
            std::vector<std::string>{"--cameras", "2", "--mosaic", dir_ + "/mosaic.pgm", "--fps", "max",
                                     "--frame-log", dir_ + "/frames.log"},
            [](const std::string& fault) { ADD_FAILURE() << fault; });
        ASSERT_TRUE(emulator_->Ready()) << emulator_->Error();
        mount_ = emulator_->Root().string();
    }

    void TearDown() override {
        emulator_.reset();
    }

    // SIGTERM, then the program must exit with 0 and leave nothing mounted.
    void StopAndExpectCleanUnmount() { EXPECT_EQ(emulator_->Stop(), ""); }

    std::string Path(const std::string& relative) const { return mount_ + "/" + relative; }

    zelvik::test::TempDir tempDir_{"zelvik-emulator-test"};
    std::unique_ptr<zelvik::test::FuseEmulator> emulator_;
    std::string dir_, mount_;
    Image fixture_;
};

TEST_F(EmulatorMount, ServesDiscoveryEntriesSectorsAndFramesThenUnmountsCleanly) {
    // The entries discovery reads: a relative block link, a device directory below a usb* directory,
    // identity files and the serial of the USB device.
    const fs::path block = fs::read_symlink(Path("sys/block/sdb"));
    EXPECT_TRUE(block.is_relative()) << block;
    const std::string device = fs::canonical(Path("sys/block/sdb/device")).string();
    const std::string root = fs::canonical(mount_).string();
    ASSERT_EQ(device.rfind(root + "/", 0), 0u) << device;
    EXPECT_NE(device.find("/usb2/"), std::string::npos) << device;
    const std::string identity = "USBSTOR\\Disk&Ven_" + ReadTrimmed(device + "/vendor") + "&Prod_" +
                                 ReadTrimmed(device + "/model") + "&Rev_" + ReadTrimmed(device + "/rev") + "\\" +
                                 ReadTrimmed(device + "/../../../../serial");
    EXPECT_EQ(identity, "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0 Q77RX&Rev_1.00\\Q77RX0001");
    EXPECT_TRUE(fs::exists(Path("dev/sdc")));
    EXPECT_GE(fs::file_size(Path("dev/sdb")), 5171200u);

    Disk disk(Path("dev/sdb"));
    ASSERT_TRUE(disk.IsOpen());
    AlignedBuffer status(512);
    ASSERT_EQ(disk.ReadStatus(status.data()), 512);
    EXPECT_EQ(std::memcmp(status.data(), "MOVANE USB 3.0 Camera V1.0", 26), 0);
    EXPECT_EQ(status.data()[26], 0x50);
    EXPECT_EQ(status.data()[27], 0x02);
    EXPECT_EQ(disk.ReadWord(reg::kChipId), kWordChipId);

    // An 8 x 6 window at (2, 2) of the mosaic fixture, exactly.
    disk.WriteWord(reg::kRowStart, 2 + kRowOrigin);
    disk.WriteWord(reg::kColumnStart, 2 + kColumnOrigin);
    disk.WriteWord(reg::kRowSize, 5);
    disk.WriteWord(reg::kColumnSize, 7);
    EXPECT_EQ(disk.ReadWord(reg::kRowStart), 2 + kRowOrigin);
    AlignedBuffer frame(5039104);
    ASSERT_FALSE(frame.empty());
    ASSERT_EQ(disk.ReadFrame(frame.data(), 512), 512);
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 8; ++c) {
            ASSERT_EQ(frame.data()[r * 8 + c], fixture_.pixels[(r + 2) * kFixtureWidth + c + 2]) << r << "," << c;
        }
    }

    // A full-resolution frame in one read.
    disk.WriteWord(reg::kRowStart, kRowOrigin);
    disk.WriteWord(reg::kColumnStart, kColumnOrigin);
    disk.WriteWord(reg::kRowSize, kSensorHeight - 1);
    disk.WriteWord(reg::kColumnSize, kSensorWidth - 1);
    ASSERT_EQ(disk.ReadFrame(frame.data(), 5039104), 5039104);
    EXPECT_EQ(std::memcmp(frame.data(), fixture_.pixels.data(), fixture_.pixels.size()), 0);
    EXPECT_TRUE(std::all_of(frame.data() + fixture_.pixels.size(), frame.data() + 5039104, [](uint8_t b) { return b == 0; }));

    // The frame log: both frames read, camera 1, numbered in order, ready (unpaced: when read) on
    // CLOCK_MONOTONIC before now.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::ifstream log(dir_ + "/frames.log");
    std::vector<std::array<long long, 3>> lines;
    for (std::array<long long, 3> line{}; log >> line[0] >> line[1] >> line[2];) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0][0], 1);
    EXPECT_EQ(lines[0][1], 1);
    EXPECT_EQ(lines[1][1], 2);
    EXPECT_LE(lines[0][2], lines[1][2]);
    EXPECT_LE(lines[1][2], now.tv_sec * 1000000000LL + now.tv_nsec);
    EXPECT_GT(lines[0][2], 0);

    StopAndExpectCleanUnmount();
}

TEST_F(EmulatorMount, ControlFileUnplugsAndReplugsACamera) {
    Disk before(Path("dev/sdb"));
    ASSERT_TRUE(before.IsOpen());
    AlignedBuffer status(512);
    ASSERT_EQ(before.ReadStatus(status.data()), 512);

    int error = 0;
    ASSERT_TRUE(emulator_->Control("unplug 1", &error)) << std::strerror(error);
    errno = 0;
    EXPECT_EQ(before.ReadStatus(status.data()), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(fs::exists(Path("dev/sdb")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("sys/block/sdb"))));
    EXPECT_TRUE(fs::exists(Path("dev/sdc")));

    EXPECT_FALSE(emulator_->Control("unplug 9", &error));
    EXPECT_EQ(error, EINVAL);

    ASSERT_TRUE(emulator_->Control("replug 1", &error)) << std::strerror(error);
    EXPECT_TRUE(fs::exists(Path("dev/sdb")));
    EXPECT_EQ(before.ReadStatus(status.data()), -1) << "a handle from before the unplug stays dead";
    Disk after(Path("dev/sdb"));
    ASSERT_TRUE(after.IsOpen());
    EXPECT_EQ(after.ReadStatus(status.data()), 512);
    EXPECT_NE(emulator_->Status().find("camera 1 sdb Q77RX0001 plugged"), std::string::npos);

    // A transfer stalled for an hour must not hold up SIGTERM: it ends with an error and the program
    // unmounts cleanly.
    Disk other(Path("dev/sdc"));
    ASSERT_TRUE(other.IsOpen());
    ASSERT_TRUE(emulator_->Control("stall 2 1 3600000", &error)) << std::strerror(error);
    std::atomic<ssize_t> stalledResult{0};
    std::thread reader([&] {
        AlignedBuffer sector(512);
        stalledResult = other.ReadStatus(sector.data());
    });
    bool blocked = false;
    for (int i = 0; i < 3000 && !blocked; ++i) {  // a bound against hanging only
        const std::string control = emulator_->Status();
        blocked = control.find("camera 2 sdc Q77RX0002 plugged") != std::string::npos &&
                  control.find("stalled 1 pending 0") != std::string::npos;
        if (!blocked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(blocked);
    StopAndExpectCleanUnmount();
    reader.join();
    EXPECT_EQ(stalledResult.load(), -1);
}

// A second emulator on a mount point that one already serves would stack a mount over it, and one on the
// stale mount a killed emulator left cannot serve: both are refused with what to do, and the served mount
// goes on serving.
TEST_F(EmulatorMount, AServedOrStaleMountPointIsRefused) {
    const std::string err = dir_ + "/second.err";
    const auto second = [&] {
        const int status = std::system((std::string(ZELVIK_EMULATOR_PATH) + " " + mount_ + " >/dev/null 2>'" + err +
                                        "' </dev/null").c_str());
        std::ifstream in(err);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                              std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    };
    const auto [servedExit, servedSays] = second();
    EXPECT_EQ(servedExit, 1);
    EXPECT_NE(servedSays.find("already mounted"), std::string::npos) << servedSays;
    EXPECT_TRUE(std::filesystem::exists(Path("sys/block/sdb"))) << "the first emulator still serves";

    ::kill(emulator_->Pid(), SIGKILL);
    struct stat st {};
    for (int i = 0; i < 200 && ::stat(mount_.c_str(), &st) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto [staleExit, staleSays] = second();
    EXPECT_EQ(staleExit, 1);
    EXPECT_NE(staleSays.find("fusermount3 -u " + mount_), std::string::npos) << staleSays;
    // The killed emulator's status is this test's doing, not a fault: Stop reaps it and detaches the mount.
    emulator_->Stop();
}

}  // namespace
}  // namespace zelvik::emu::test

// A wrong command line is refused with status 2 before anything is mounted; --help and --version answer 0.
TEST(EmulatorCommandLine, WrongArgumentsExitTwoAndNothingIsMounted) {
    zelvik::test::TempDir dir{"zelvik-emulator-args"};
    ASSERT_FALSE(dir.path().empty());
    const std::string mount = (dir.path() / "root").string(), program = ZELVIK_EMULATOR_PATH;
    std::filesystem::create_directory(mount);
    const auto run = [&](const std::string& arguments) {
        const int status = std::system((program + " " + arguments + " >/dev/null 2>&1 </dev/null").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    for (const std::string arguments :
         {"", "--cameras 5", "--cameras two", "--protocol nibble", "--fps 0", "--fps fast", "--usb-speed 0",
          "--plain-disk nocolon", "--plain-disk :model", "-P a:1 -P a:2 -P a:3 -P a:4",
          "--scene bars --mosaic none.pgm", "--bogus"}) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(run(arguments + (arguments.empty() ? "" : " " + mount)), 2);
    }
    EXPECT_EQ(run(mount + " " + mount), 2) << "one mount point";
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(run("--version"), 0);
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) EXPECT_EQ(line.find(mount), std::string::npos) << line;
}
