// Camera discovery, the drive probe and both register protocols, checked as bytes on the wire.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/CameraIdentity.h"
#include "device/TransportMutex.h"
#include "tests/device/FakeCamera.h"

namespace zelvik::test {
namespace {

using protocol::kFrameRequest;
using protocol::kRegisterRead;
using protocol::kRegisterWrite;

FakeCameraDisk ByteProtocolCamera() {
    FakeCameraDisk disk = FakeCameraDisk::Camera();
    disk.wordProtocol = false;
    return disk;
}

TEST(DeviceDiscovery, CountsIdentitiesThatNameTheModelAndNotDS) {
    const std::string prefix = "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\\";
    struct Case {
        std::string identity;
        int counted;
    };
    const std::vector<Case> cases = {
        {prefix + "0001", 1},
        {prefix + "Ds01", 1},  // "DS" is case-sensitive
        {prefix + "DS01", 0},  // "DS" anywhere excludes
        {"USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_DSQ77RX&Rev_1.00\\1", 0},
        {"USBSTOR\\Disk&Ven_movane&Prod_USB3.0_Q77RX&Rev_1.00\\1", 0},  // substrings are case-sensitive
        {"USBSTOR\\Disk&Ven_MOVANE&Prod_USB2.0_Q77RX&Rev_1.00\\1", 0},
        {"USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q66RX&Rev_1.00\\1", 0},
        {prefix + std::string(255 - prefix.size(), '7'), 1},  // fits the 256-byte entry with its terminator
        {prefix + std::string(256 - prefix.size(), '7'), 0},  // does not
    };
    for (const Case& c : cases) {
        FakeDisks disks;
        disks.identities = {"USBSTOR\\Disk&Ven_Generic&Prod_Flash&Rev_1.0\\X", c.identity, c.identity};
        Q77RXDevice device(disks);
        EXPECT_EQ(device.GetDeviceCount(), 2 * c.counted) << c.identity;
        EXPECT_EQ(device.GetDeviceIndex(), 0);
        // The shared rule (the zelvik tool's doctor applies it) counts as the device does.
        EXPECT_EQ(identity::IsCameraIdentity(c.identity), c.counted == 1) << c.identity;
    }
}

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        disks.identities.assign(4, kCameraIdentity);
        disks.Attach(1, FakeCameraDisk::Camera(" V1.0", 0x51, 0x02));  // byte 26 differs
        disks.Attach(2, FakeCameraDisk::Camera(" V2.7"));              // other version text still matches
        disks.Attach(3, FakeCameraDisk::Camera(" V1.0", 0x50, 0x03));  // byte 27 differs
        disks.Attach(4, FakeCameraDisk::Camera());
    }
    // Transfers on drives other than the camera's must be the probe's identification reads only.
    void ExpectOnlyProbeReadsOutside(int camera) {
        for (const Transfer& t : disks.Transfers()) {
            if (t.drive != camera) {
                EXPECT_EQ(t, StatusRead(t.drive));
            }
        }
    }
    FakeDisks disks;
};

// The shared identification rule (the zelvik tool's doctor applies it) takes the drives the probe takes.
TEST_F(ProbeTest, TheSharedIdentificationRuleTakesTheDrivesTheProbeTakes) {
    TestDevice device(disks);
    for (int index = 0; index < 4; ++index) EXPECT_EQ(device.SelectDevice(index), index == 1 || index == 3) << index;
    for (int number = 1; number <= 4; ++number) {
        const bool camera = disks.Inspect(number, [](const FakeCameraDisk& d) {
            return identity::IsIdentificationOf(d.identification.data());
        });
        EXPECT_EQ(camera, number == 2 || number == 4) << number;
    }
}

// Camera index n is the disk enumerated as the (n+1)-th camera and no other: a disk whose identity says
// camera but whose identification sector does not is that number's camera not answering, and the probe
// never goes on to the next disk (which would give two numbers one camera).
TEST_F(ProbeTest, EachIndexOpensTheDiskEnumeratedUnderItOnly) {
    TestDevice device(disks);
    EXPECT_EQ(device.GetDeviceCount(), 4);
    // Construction probes camera 0's disk, drive 1, whose sector is not this model's: nothing is open.
    EXPECT_EQ(disks.Opened(), (std::vector<int>{1}));
    EXPECT_EQ(disks.Transfers(), (std::vector<Transfer>{StatusRead(1)}));
    EXPECT_EQ(disks.OpenHandles(), 0);

    disks.ClearTransfers();
    EXPECT_TRUE(device.SelectDevice(3));
    EXPECT_EQ(disks.Transfers(), (std::vector<Transfer>{StatusRead(4), Command(4, kRegisterRead, 0, 0, 0), StatusRead(4)}));
    EXPECT_EQ(device.chipId.load(), 0x1801);
    EXPECT_EQ(disks.OpenHandles(), 1);
    EXPECT_TRUE(Succeeded(device.WriteRegister(9, 100)));
    ExpectOnlyProbeReadsOutside(4);

    disks.ClearTransfers();
    EXPECT_TRUE(device.SelectDevice(1));
    EXPECT_EQ(disks.Transfers(), (std::vector<Transfer>{StatusRead(2), Command(2, kRegisterRead, 0, 0, 0), StatusRead(2)}));
    EXPECT_EQ(disks.OpenHandles(), 1) << "the drive of the earlier selection stays open";

    // Index 2 is valid by the enumeration count, but its disk does not answer as this model.
    disks.ClearTransfers();
    EXPECT_FALSE(device.SelectDevice(2));
    EXPECT_EQ(disks.Transfers(), (std::vector<Transfer>{StatusRead(3)}));
    EXPECT_EQ(disks.OpenHandles(), 0);
    disks.ClearTransfers();
    uint16_t value = 0xAAAA;
    EXPECT_FALSE(Succeeded(device.WriteRegister(9, 1)));
    EXPECT_FALSE(Succeeded(device.ReadRegister(9, &value)));
    EXPECT_EQ(value, 0xAAAA);
    EXPECT_TRUE(disks.Transfers().empty());

    EXPECT_FALSE(device.SelectDevice(4)) << "beyond the enumeration count";
    for (int number : disks.Opened()) {
        EXPECT_NE(number, 0);
    }
}

// A disk is taken for the camera only when its enumerated identity and its identification sector both
// say so. Disks of another kind are never opened, even when a sector of theirs holds the camera's bytes.
TEST(DeviceDiscovery, DisksNotEnumeratedAsTheCameraAreNeverOpened) {
    const std::string stick = "USBSTOR\\Disk&Ven_Generic&Prod_Flash&Rev_1.0\\X";
    const std::string otherLine = "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX_DS&Rev_1.00\\2";
    FakeDisks disks;
    disks.identities = {stick, kCameraIdentity, otherLine, kCameraIdentity};
    for (int number = 1; number <= 4; ++number) disks.Attach(number, FakeCameraDisk::Camera());
    TestDevice device(disks);
    EXPECT_EQ(device.GetDeviceCount(), 2);
    EXPECT_EQ(disks.Opened(), std::vector<int>{2});
    EXPECT_TRUE(Succeeded(device.WriteRegister(9, 100)));
    EXPECT_TRUE(device.SelectDevice(1));
    EXPECT_TRUE(Succeeded(device.WriteRegister(9, 100)));
    EXPECT_EQ(disks.Opened(), (std::vector<int>{2, 4}));
    for (const Transfer& t : disks.Transfers()) EXPECT_TRUE(t.drive == 2 || t.drive == 4) << t;

    // The cameras leave between the enumeration and the opening, and the stick takes their drive numbers:
    // the drives opened under those numbers are closed again unread.
    disks.ClearTransfers();
    disks.beforeOpen = [&] { disks.identities = {stick}; };
    EXPECT_FALSE(device.SelectDevice(0));
    EXPECT_TRUE(disks.Transfers().empty());
}

TEST(DeviceTransport, ClosedDeviceFailsEveryOperationWithoutIo) {
    FakeDisks disks;  // no camera enumerated: nothing is opened
    Q77RXDevice device(disks);
    std::vector<uint8_t> frame(1024);
    uint16_t word = 0xAAAA;
    unsigned char byte = 0xAA;
    EXPECT_FALSE(Succeeded(device.WriteRegister(1, 2)));
    EXPECT_FALSE(Succeeded(device.ReadRegister(1, &word)));
    EXPECT_FALSE(Succeeded(device.WriteByteRegister(1, 2)));
    EXPECT_FALSE(Succeeded(device.ReadByteRegister(1, &byte)));
    EXPECT_FALSE(Succeeded(device.WriteWordRegister(1, 2)));
    EXPECT_FALSE(Succeeded(device.ReadWordRegister(1, &word)));
    EXPECT_FALSE(Succeeded(device.ReadFrame(frame.data(), 1024)));
    EXPECT_FALSE(Succeeded(device.SetExposure(10)));
    EXPECT_EQ(word, 0xAAAA);
    EXPECT_EQ(byte, 0xAA);
    EXPECT_TRUE(disks.Transfers().empty());
    EXPECT_TRUE(disks.Opened().empty());
}

TEST(ByteProtocol, SixteenBitRegisterIsAHighAndLowBytePair) {
    FakeDisks disks;
    disks.identities = {kCameraIdentity};
    disks.Attach(1, ByteProtocolCamera());
    TestDevice device(disks);
    ASSERT_EQ(device.chipId.load(), 0) << "register 0 did not read 0x1801";
    device.verifyWrites = 1;  // never verified in the byte protocol
    disks.ClearTransfers();

    EXPECT_TRUE(Succeeded(device.WriteRegister(0x22, 0x1234)));
    EXPECT_EQ(disks.Transfers(), (std::vector<Transfer>{Command(1, kRegisterWrite, 0x00, 0x22, 0x12),
                                                        Command(1, kRegisterWrite, 0x00, 0x23, 0x34)}));
    disks.ClearTransfers();
    disks.Change(1, [](FakeCameraDisk& d) {
        d.byteRegisters[0x1FF] = 0xAB;
        d.byteRegisters[0x200] = 0xCD;
    });
    uint16_t value = 0;
    EXPECT_TRUE(Succeeded(device.ReadRegister(0x1FF, &value)));
    EXPECT_EQ(value, 0xABCD);
    EXPECT_EQ(disks.Transfers(),
              (std::vector<Transfer>{Command(1, kRegisterRead, 0x01, 0xFF, 0), StatusRead(1),
                                     Command(1, kRegisterRead, 0x02, 0x00, 0), StatusRead(1)}));
}

// Only the low 16 bits of an address go on the wire, for the pair's second register too: the last
// address wraps to 0, and addresses beyond 16 bits (up to INT_MAX) do not overflow on the way.
TEST(ByteProtocol, PairAfterTheLastAddressWrapsToZero) {
    FakeDisks disks;
    disks.identities = {kCameraIdentity};
    disks.Attach(1, ByteProtocolCamera());
    TestDevice device(disks);
    const struct {
        int address;
        uint8_t high[2], low[2];
    } cases[] = {
        {0xFFFE, {0xFF, 0xFE}, {0xFF, 0xFF}},
        {0xFFFF, {0xFF, 0xFF}, {0x00, 0x00}},
        {0x1FFFF, {0xFF, 0xFF}, {0x00, 0x00}},
        {INT_MAX, {0xFF, 0xFF}, {0x00, 0x00}},
        {-1, {0xFF, 0xFF}, {0x00, 0x00}},
    };
    for (const auto& c : cases) {
        disks.ClearTransfers();
        EXPECT_TRUE(Succeeded(device.WriteRegister(c.address, 0x1234)));
        uint16_t value = 0;
        EXPECT_TRUE(Succeeded(device.ReadRegister(c.address, &value)));
        EXPECT_EQ(disks.Transfers(),
                  (std::vector<Transfer>{Command(1, kRegisterWrite, c.high[0], c.high[1], 0x12),
                                         Command(1, kRegisterWrite, c.low[0], c.low[1], 0x34),
                                         Command(1, kRegisterRead, c.high[0], c.high[1], 0), StatusRead(1),
                                         Command(1, kRegisterRead, c.low[0], c.low[1], 0), StatusRead(1)}))
            << c.address;
        EXPECT_EQ(value, 0x1234) << c.address;
    }
}

TEST(ByteProtocol, ReadFramePollsTheReadyFlagUpToTimeoutTimes) {
    struct Case {
        int timeout, readyAfterPolls, statusReads, result;
    };
    for (const Case c : {Case{1, -1, 1, 0}, Case{1, 0, 1, 1}, Case{5, 2, 3, 1}, Case{3, 3, 3, 0}}) {
        FakeDisks disks;
        disks.identities = {kCameraIdentity};
        disks.Attach(1, ByteProtocolCamera());
        Q77RXDevice device(disks);
        device.SetTimeout(c.timeout);
        disks.Change(1, [&](FakeCameraDisk& d) {
            d.readyAfterPolls = c.readyAfterPolls;
            d.pollsSinceFrame = 0;
        });
        disks.ClearTransfers();
        std::vector<uint8_t> frame(1536);
        EXPECT_EQ(Succeeded(device.ReadFrame(frame.data(), 1536)), c.result == 1);
        std::vector<Transfer> expected(static_cast<size_t>(c.statusReads), StatusRead(1));
        if (c.result == 1) expected.push_back(ImageRead(1, 1536));
        EXPECT_EQ(disks.Transfers(), expected)
            << "timeout " << c.timeout << ", ready after " << c.readyAfterPolls;
    }
}

class WordProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        disks.identities = {kCameraIdentity};
        disks.Attach(1, FakeCameraDisk::Camera());
        device = std::make_unique<TestDevice>(disks);
        ASSERT_EQ(device->chipId.load(), 0x1801);
        disks.ClearTransfers();
    }
    FakeDisks disks;
    std::unique_ptr<TestDevice> device;
};

TEST_F(WordProtocolTest, RegisterWriteAndReadAreAddressThenDataCommands) {
    EXPECT_TRUE(Succeeded(device->WriteRegister(0x109, 0xBEEF)));
    EXPECT_EQ(disks.Transfers(), (std::vector<Transfer>{Command(1, kRegisterWrite, 0, 0x01, 0x09),
                                                        Command(1, kRegisterWrite, 1, 0xBE, 0xEF)}));
    disks.ClearTransfers();
    disks.Change(1, [](FakeCameraDisk& d) { d.registers[0x35] = 0x12F0; });
    uint16_t value = 0;
    EXPECT_TRUE(Succeeded(device->ReadRegister(0x35, &value)));
    EXPECT_EQ(value, 0x12F0);  // status bytes 258 (low) and 259 (high)
    EXPECT_EQ(disks.Transfers(),
              (std::vector<Transfer>{Command(1, kRegisterRead, 0, 0, 0x35), StatusRead(1)}));
}

TEST_F(WordProtocolTest, VerifiedWriteReadsBackAndGivesUpAfterTenAttempts) {
    device->verifyWrites = 1;
    const std::vector<Transfer> attempt = {Command(1, kRegisterWrite, 0, 0, 0x22),
                                           Command(1, kRegisterWrite, 1, 0, 7),
                                           Command(1, kRegisterRead, 0, 0, 0x22), StatusRead(1)};
    EXPECT_TRUE(Succeeded(device->WriteRegister(0x22, 7)));
    EXPECT_EQ(disks.Transfers(), attempt);

    disks.Change(1, [](FakeCameraDisk& d) {
        d.stuckRegisters.insert(0x22);
        d.registers[0x22] = 5;
    });
    disks.ClearTransfers();
    EXPECT_FALSE(Succeeded(device->WriteRegister(0x22, 7)));
    std::vector<Transfer> tenAttempts;
    for (int i = 0; i < 10; ++i) tenAttempts.insert(tenAttempts.end(), attempt.begin(), attempt.end());
    EXPECT_EQ(disks.Transfers(), tenAttempts);
}

TEST_F(WordProtocolTest, FrameReadIsAnAllZeroRequestThenOneImageTransfer) {
    std::vector<uint8_t> frame(78848);
    EXPECT_TRUE(Succeeded(device->ReadFrame(frame.data(), 78848)));
    EXPECT_EQ(disks.Transfers(),
              (std::vector<Transfer>{Command(1, kFrameRequest, 0, 0, 0), ImageRead(1, 78848)}));
    EXPECT_EQ(frame.front(), 1);
    EXPECT_EQ(frame.back(), 1);

    // The request and the read are one job of the drive's worker: a refused request reads nothing.
    disks.Change(1, [](FakeCameraDisk& d) { d.refuseCommands = true; });
    disks.ClearTransfers();
    EXPECT_FALSE(Succeeded(device->ReadFrame(frame.data(), 78848)));
    EXPECT_EQ(disks.Transfers(), (std::vector<Transfer>{Command(1, kFrameRequest, 0, 0, 0)}));
    EXPECT_EQ(frame.front(), 1);
}

TEST_F(WordProtocolTest, VanishedDiskMakesEveryOperationFail) {
    disks.Change(1, [](FakeCameraDisk& d) { d.unplugged = true; });
    std::vector<uint8_t> frame(1024);
    uint16_t value = 0xAAAA;
    EXPECT_FALSE(Succeeded(device->WriteRegister(9, 1)));
    EXPECT_FALSE(Succeeded(device->ReadRegister(9, &value)));
    EXPECT_EQ(value, 0xAAAA);
    EXPECT_FALSE(Succeeded(device->ReadFrame(frame.data(), 1024)));
    EXPECT_FALSE(Succeeded(device->SetGlobalGain(10)));
    EXPECT_EQ(device->StartContinuous(), DeviceResult::NoAnswer) << "the frame request cannot be written";
    EXPECT_EQ(device->GetState(), 0);
    EXPECT_FALSE(device->SelectDevice(0));
}

// The acquisition loop takes the drive again a moment after each frame; a register exchange waiting
// behind it must get it first.
TEST(TransportMutexTest, UnlockHandsTheDriveToTheFirstWaiterBeforeAnyoneWhoComesLater) {
    constexpr std::chrono::milliseconds kNoStall(60000);
    TransportMutex drive;
    std::mutex orderMutex;
    std::vector<std::string> order;
    auto note = [&](const char* who) {
        std::lock_guard lock(orderMutex);
        order.push_back(who);
    };
    for (int round = 0; round < 20; ++round) {
        order.clear();
        ASSERT_TRUE(drive.LockUnlessStalled(kNoStall));
        std::thread waiter([&] {
            ASSERT_TRUE(drive.LockUnlessStalled(kNoStall));
            note("waiter");
            drive.unlock();
        });
        while (drive.Waiters() == 0) std::this_thread::yield();
        drive.unlock();
        ASSERT_TRUE(drive.LockUnlessStalled(kNoStall));  // at once again, as the loop does
        note("loop");
        drive.unlock();
        waiter.join();
        EXPECT_EQ(order, (std::vector<std::string>{"waiter", "loop"})) << "round " << round;
    }
}

TEST(TransportMutexTest, WaitersBehindAStalledHolderGiveUpAndTheNextOneInLineGetsTheDrive) {
    TransportMutex drive;
    ASSERT_TRUE(drive.LockUnlessStalled(std::chrono::milliseconds(60000)));
    bool first = true, second = false;
    std::atomic<bool> impatientDone{false};
    std::thread impatient([&] {
        first = drive.LockUnlessStalled(std::chrono::milliseconds(50));
        impatientDone = true;
    });
    // The patient waiter lines up behind the impatient one, unless a loaded machine kept this thread away
    // until the impatient one had already left (then only the hand-over below is tested).
    while (drive.Waiters() < 1 && !impatientDone.load()) std::this_thread::yield();
    std::thread patient([&] {
        second = drive.LockUnlessStalled(std::chrono::milliseconds(60000));
        if (second) drive.unlock();
    });
    impatient.join();
    EXPECT_FALSE(first) << "the holder kept the drive past the waiter's limit";
    while (drive.Waiters() < 1) std::this_thread::yield();
    drive.unlock();  // goes to the waiter still in line, not to the one that left
    patient.join();
    EXPECT_TRUE(second);
    EXPECT_TRUE(drive.LockUnlessStalled(std::chrono::milliseconds(0))) << "free again";
    drive.unlock();
}

}  // namespace
}  // namespace zelvik::test
