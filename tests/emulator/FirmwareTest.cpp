// The firmware model on the wire: status answers of both register protocols, malformed input, faults.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "emulator/Firmware.h"
#include "emulator/RegisterMap.h"
#include "tests/emulator/Wire.h"

namespace zelvik::emu::test {
namespace {

FirmwareOptions Unpaced(Protocol protocol) {
    FirmwareOptions options;
    options.protocol = protocol;
    options.paced = false;
    return options;
}

// --- Command blocks and the status bytes they produce ---

struct Block {
    uint8_t b0, b1, b2, b3;
};
struct StatusCase {
    const char* name;
    Protocol protocol;
    std::vector<Block> blocks;
    std::vector<std::pair<size_t, uint8_t>> expected;  // status byte -> value
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.name;
}

class StatusAnswers : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusAnswers, CommandsLeaveTheExpectedStatusBytes) {
    const StatusCase& c = GetParam();
    Firmware firmware(Unpaced(c.protocol));
    Wire wire(firmware);
    for (const Block& b : c.blocks) ASSERT_EQ(wire.Command(b.b0, b.b1, b.b2, b.b3), 0);
    const Status s = wire.ReadStatus();
    for (const auto& [index, value] : c.expected) EXPECT_EQ(s[index], value) << "status byte " << index;
}

INSTANTIATE_TEST_SUITE_P(
    BothProtocols, StatusAnswers,
    ::testing::Values(
        StatusCase{"WordChipId", Protocol::Word, {{0x21, 0, 0, 0}}, {{258, 0x01}, {259, 0x18}, {257, 0}}},
        StatusCase{"WordWriteThenRead", Protocol::Word,
                   {{0x20, 0, 0x00, 0x09}, {0x20, 1, 0x12, 0x34}, {0x21, 0, 0x00, 0x09}},
                   {{258, 0x34}, {259, 0x12}}},
        StatusCase{"WordHighAddress", Protocol::Word,
                   {{0x20, 0, 0x01, 0x35}, {0x20, 1, 0xAB, 0xCD}, {0x21, 0, 0x01, 0x35}},
                   {{258, 0xCD}, {259, 0xAB}}},
        StatusCase{"WordChipIdIsReadOnly", Protocol::Word,
                   {{0x20, 0, 0, 0}, {0x20, 1, 0xBE, 0xEF}, {0x21, 0, 0, 0}},
                   {{258, 0x01}, {259, 0x18}}},
        StatusCase{"WordResetGlobalGain", Protocol::Word, {{0x21, 0, 0, 0x35}}, {{258, 16}, {259, 0}}},
        StatusCase{"WordHasNoReadyFlag", Protocol::Word, {{0x10, 0, 0, 0}}, {{256, 0}}},
        // The host's chip-id probe is a word read; the byte firmware takes it as a byte read of 0.
        StatusCase{"ByteAnswersTheChipIdProbeWithoutWordResult", Protocol::Byte, {{0x21, 0, 0, 0}},
                   {{257, 0x18}, {258, 0}, {259, 0}}},
        StatusCase{"ByteChipIdLowByte", Protocol::Byte, {{0x21, 0, 0, 0}, {0x21, 0, 1, 0}}, {{257, 0x00}}},
        StatusCase{"ByteWriteThenRead", Protocol::Byte, {{0x20, 0x01, 0x40, 0x5A}, {0x21, 0x01, 0x40, 0}},
                   {{257, 0x5A}}},
        StatusCase{"ByteReadyWhenUnpaced", Protocol::Byte, {}, {{256, 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Firmware, IdentificationSector) {
    Firmware firmware(Unpaced(Protocol::Word));
    const Status s = Wire(firmware).ReadStatus();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.data()), 26), "MOVANE USB 3.0 Camera V1.0");
    EXPECT_EQ(s[26], 0x50);
    EXPECT_EQ(s[27], 0x02);
}

TEST(Firmware, RegistersKeepWhatWasWrittenInBothProtocols) {
    for (Protocol protocol : {Protocol::Word, Protocol::Byte}) {
        SCOPED_TRACE(ProtocolName(protocol));
        Firmware firmware(Unpaced(protocol));
        Wire wire(firmware);
        // Registers one byte apart, written in ascending order as a host sets a window.
        const std::vector<std::pair<uint16_t, uint16_t>> writes = {
            {reg::kRowStart, 0x0136}, {reg::kColumnStart, 0x0210}, {reg::kRowSize, 0x0797},
            {reg::kColumnSize, 0x0A1F}, {reg::kExposure, 0xFFFF}, {0x0100, 0x1234}};
        for (const auto& [address, value] : writes) wire.WriteRegister(address, value);
        for (const auto& [address, value] : writes) EXPECT_EQ(firmware.Register(address), value) << address;
        // Word protocol: read back as written. Byte protocol: a register whose neighbour was
        // written later reads the neighbour's high byte as its low byte, as byte registers do.
        EXPECT_EQ(wire.ReadRegister(reg::kColumnSize), 0x0A1F);
        EXPECT_EQ(wire.ReadRegister(0x0100), 0x1234);
        EXPECT_EQ(wire.ReadRegister(reg::kRowStart), protocol == Protocol::Word ? 0x0136 : 0x0102);
    }
}

TEST(Firmware, BytePairsMakeSixteenBitRegistersAndLoneBytesDoNot) {
    Firmware firmware(Unpaced(Protocol::Byte));
    Wire wire(firmware);
    wire.WriteByte(0x22, 0x12);
    wire.WriteByte(0x23, 0x34);
    EXPECT_EQ(firmware.ByteRegister(0x22), 0x12);
    EXPECT_EQ(firmware.ByteRegister(0x23), 0x34);
    EXPECT_EQ(firmware.Register(0x22), 0x1234);

    wire.WriteByte(0x40, 0x77);        // alone: a byte register, no 16-bit write
    wire.Command(0x10, 0, 0, 0);       // anything in between breaks a pair
    wire.WriteByte(0x41, 0x88);
    EXPECT_EQ(firmware.ByteRegister(0x40), 0x77);
    EXPECT_EQ(firmware.Register(0x40), 0);
    EXPECT_EQ(firmware.Register(0x41), 0);
}

// --- Malformed input is ignored ---

TEST(Firmware, MalformedBlocksAndStrayWritesChangeNothing) {
    for (Protocol protocol : {Protocol::Word, Protocol::Byte}) {
        SCOPED_TRACE(ProtocolName(protocol));
        Firmware firmware(Unpaced(protocol));
        Wire wire(firmware);
        std::vector<uint16_t> before(0x10000);
        for (size_t a = 0; a < before.size(); ++a) before[a] = firmware.Register(static_cast<uint16_t>(a));
        const uint64_t generation = firmware.Generation();

        std::vector<uint8_t> junk(4096, 0x20);  // every byte looks like a write command
        EXPECT_EQ(wire.Command(0x99, 0, 0, 9), 0);            // unknown command
        EXPECT_EQ(wire.Command(0x00, 0, 0, 0), 0);            // empty block
        if (protocol == Protocol::Word) {
            EXPECT_EQ(wire.Command(0x20, 7, 0, 9), 0);        // unknown write phase
            EXPECT_EQ(wire.Command(0x20, 1, 0x12, 0x34), 0);  // data without an address phase
            EXPECT_EQ(wire.Command(0x21, 5, 0, 9), 0);        // unknown read form
            EXPECT_EQ(wire.Command(0x20, 0, 0, 9), 0);        // address phase ...
            EXPECT_EQ(wire.Command(0x10, 0, 0, 0), 0);        // ... broken by another command
            EXPECT_EQ(wire.Command(0x20, 1, 0x12, 0x34), 0);
        }
        EXPECT_EQ(firmware.Write(generation, kCommandOffset, junk.data(), 100), 0);       // part of the sector
        EXPECT_EQ(firmware.Write(generation, kCommandOffset + 1, junk.data(), 512), 0);   // misaligned
        EXPECT_EQ(firmware.Write(generation, kStatusOffset, junk.data(), 512), 0);        // status sector
        EXPECT_EQ(firmware.Write(generation, 0, junk.data(), junk.size()), 0);            // disk start
        EXPECT_EQ(firmware.Write(generation, kImageOffset, junk.data(), junk.size()), 0); // image area
        EXPECT_EQ(firmware.Write(generation, kDiskSize - 1, junk.data(), 2), -EINVAL);    // past the end
        EXPECT_EQ(firmware.Read(generation, kDiskSize, junk.data(), 1), -EINVAL);

        for (size_t a = 0; a < before.size(); ++a) {
            ASSERT_EQ(firmware.Register(static_cast<uint16_t>(a)), before[a]) << "register " << a;
        }
        EXPECT_TRUE(HostRecognises(wire.ReadStatus()));
        EXPECT_GE(firmware.Counters().ignoredCommands, protocol == Protocol::Word ? 6u : 2u);
    }
}

TEST(Firmware, AWriteSpanningTheCommandSectorIsObeyed) {
    Firmware firmware(Unpaced(Protocol::Word));
    std::vector<uint8_t> sectors(1024, 0);
    sectors[512 + 0] = 0x21;  // a word read of register 0x35 in the second sector
    sectors[512 + 3] = 0x35;
    sectors[512 + 512 - 1] = 0xFF;
    ASSERT_EQ(firmware.Write(firmware.Generation(), kStatusOffset, sectors.data(), sectors.size()), 0);
    EXPECT_EQ(Wire(firmware).ReadStatus()[kWordResultLow], 16);
}

// --- Faults ---

TEST(FirmwareFaults, UnpluggedTransfersFailAndAReplugIsANewDevice) {
    Firmware firmware(Unpaced(Protocol::Word));
    const uint64_t old = firmware.Generation();
    Wire(firmware).WriteWord(reg::kExposure, 500);
    uint8_t sector[512];

    firmware.Unplug();
    EXPECT_FALSE(firmware.Plugged());
    EXPECT_EQ(firmware.Read(old, kStatusOffset, sector, 512), -EIO);
    EXPECT_EQ(firmware.Write(old, kCommandOffset, sector, 512), -EIO);

    firmware.Replug();
    EXPECT_TRUE(firmware.Plugged());
    EXPECT_EQ(firmware.Read(old, kStatusOffset, sector, 512), -EIO) << "a handle of the old plug-in";
    EXPECT_NE(firmware.Generation(), old);
    EXPECT_EQ(firmware.Read(firmware.Generation(), kStatusOffset, sector, 512), 0);
    EXPECT_EQ(Wire(firmware).ReadWord(reg::kExposure), kResetExposure) << "powered up afresh";
}

// Waits (bounded, for a hang guard only) until the firmware reports `count` blocked transfers.
bool WaitForStalled(const Firmware& firmware, int count) {
    for (int i = 0; i < 200000; ++i) {
        if (firmware.Counters().stalledNow == count) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

TEST(FirmwareFaults, StalledTransfersBlockUntilReleasedThenComplete) {
    Firmware firmware(Unpaced(Protocol::Word));
    const uint64_t generation = firmware.Generation();
    firmware.Stall(3, std::chrono::hours(1));
    std::atomic<int> result{1};
    std::thread reader([&] {
        uint8_t sector[512];
        result = firmware.Read(generation, kStatusOffset, sector, 512);
    });
    ASSERT_TRUE(WaitForStalled(firmware, 1));
    EXPECT_EQ(result.load(), 1) << "the stalled read must not have returned";
    EXPECT_EQ(firmware.Counters().stallsPending, 2);
    firmware.Unstall();
    reader.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(firmware.Counters().stallsPending, 0) << "unstall cancels the stalls still pending";

    // A short hold: each stalled transfer completes by itself, and only N transfers stall.
    firmware.Stall(2, std::chrono::milliseconds(1));
    Wire wire(firmware);
    wire.WriteWord(reg::kGlobalGain, 33);
    EXPECT_EQ(wire.ReadWord(reg::kGlobalGain), 33);
    EXPECT_EQ(firmware.Counters().stallsPending, 0);
}

TEST(FirmwareFaults, UnplugEndsAStalledTransferWithAnError) {
    Firmware firmware(Unpaced(Protocol::Word));
    const uint64_t generation = firmware.Generation();
    firmware.Stall(1, std::chrono::hours(1));
    std::atomic<int> result{1};
    std::thread writer([&] {
        uint8_t block[512] = {0x10};
        result = firmware.Write(generation, kCommandOffset, block, 512);
    });
    ASSERT_TRUE(WaitForStalled(firmware, 1));
    firmware.Unplug();
    writer.join();
    EXPECT_EQ(result.load(), -EIO);
}

TEST(FirmwareFaults, ReadbackMismatchInBothProtocols) {
    for (Protocol protocol : {Protocol::Word, Protocol::Byte}) {
        SCOPED_TRACE(ProtocolName(protocol));
        Firmware firmware(Unpaced(protocol));
        Wire wire(firmware);
        wire.WriteRegister(reg::kExposure, 0x0400);
        firmware.SetReadbackMismatch(true);
        EXPECT_NE(wire.ReadRegister(reg::kExposure), 0x0400);
        EXPECT_EQ(firmware.Register(reg::kExposure), 0x0400) << "the register itself is intact";
        firmware.SetReadbackMismatch(false);
        EXPECT_EQ(wire.ReadRegister(reg::kExposure), 0x0400);
    }
}

TEST(FirmwareFaults, NeverReadyKeepsTheReadyFlagDown) {
    Firmware firmware(Unpaced(Protocol::Byte));
    Wire wire(firmware);
    EXPECT_EQ(wire.ReadStatus()[kReadyByte], 1);
    firmware.SetNeverReady(true);
    for (int poll = 0; poll < 5; ++poll) EXPECT_EQ(wire.ReadStatus()[kReadyByte], 0);
    firmware.SetNeverReady(false);
    EXPECT_EQ(wire.ReadStatus()[kReadyByte], 1);
}

TEST(FirmwareFaults, PacedByteProtocolRaisesTheFlagOncePerFrameTime) {
    FirmwareOptions options;
    options.protocol = Protocol::Byte;
    options.fps = 1000;
    Firmware firmware(options);
    Wire wire(firmware);
    // Poll as a host does (each not-ready poll takes up to a millisecond): the flag comes up, the frame
    // is read, and it is down again right after the read.
    int polls = 0;
    while (wire.ReadStatus()[kReadyByte] != 1) ASSERT_LT(++polls, 100000);
    wire.ReadFrame(512);
    EXPECT_EQ(firmware.Counters().framesDelivered, 1u);
    firmware.SetFrameRate(0.01);  // the next frame is 100 s away
    EXPECT_EQ(wire.ReadStatus()[kReadyByte], 0);
}

// The frame log's source: every frame read is reported with its number and the grid point at which the
// sensor finished it, which lies before the read returns and at most one period before the read began.
TEST(FirmwareFaults, FrameObserverReportsEachFrameReadWithItsReadyTime) {
    using Clock = std::chrono::steady_clock;
    FirmwareOptions options;
    options.fps = 200;  // a 5 ms grid
    Firmware firmware(options);
    Wire wire(firmware);
    std::vector<std::pair<uint64_t, Clock::time_point>> reported;
    firmware.ObserveFrames([&](uint64_t frame, Clock::time_point ready) { reported.emplace_back(frame, ready); });
    const auto period = std::chrono::milliseconds(5);
    for (int i = 0; i < 4; ++i) {
        if (i == 3) std::this_thread::sleep_for(3 * period);  // a reader that fell behind gets the held frame
        const Clock::time_point begun = Clock::now();
        wire.ReadFrame(512);
        const Clock::time_point done = Clock::now();
        ASSERT_EQ(reported.size(), static_cast<size_t>(i + 1));
        EXPECT_EQ(reported[i].first, static_cast<uint64_t>(i + 1));
        EXPECT_LE(reported[i].second, done);
        EXPECT_GT(reported[i].second, begun - period);
        if (i > 0) {
            const auto step = reported[i].second - reported[i - 1].second;
            EXPECT_GT(step.count(), 0);
            EXPECT_EQ(step % period, Clock::duration::zero()) << "ready times lie on the frame grid";
        }
    }
    firmware.ObserveFrames(nullptr);
    wire.ReadFrame(512);
    EXPECT_EQ(reported.size(), 4u);
}

struct IdentityCase {
    Identity identity;
    bool recognised;
};

TEST(FirmwareFaults, DamagedIdentificationSectorsAreNotRecognised) {
    const IdentityCase cases[] = {{Identity::Intact, true},
                                  {Identity::OtherVersion, true},
                                  {Identity::BadSignature, false},
                                  {Identity::BadModel, false},
                                  {Identity::Blank, false}};
    Firmware firmware(Unpaced(Protocol::Word));
    Wire wire(firmware);
    for (const IdentityCase& c : cases) {
        firmware.SetIdentity(c.identity);
        const Status s = wire.ReadStatus();
        EXPECT_EQ(HostRecognises(s), c.recognised) << IdentityName(c.identity);
        // The register answer still works: only the identification part is damaged.
        EXPECT_EQ(wire.ReadWord(reg::kChipId), kWordChipId);
    }
}

}  // namespace
}  // namespace zelvik::emu::test
