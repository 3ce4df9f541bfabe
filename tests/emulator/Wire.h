// Test helper: speaks the disk-sector protocol to an emulated camera the way a host does.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "emulator/Firmware.h"
#include "emulator/RegisterMap.h"

namespace zelvik::emu::test {

using Status = std::array<uint8_t, kSectorSize>;

class Wire {
public:
    explicit Wire(Firmware& firmware) : firmware_(firmware), generation_(firmware.Generation()) {}

    // Writes a command block whose first four bytes are given and the rest zero.
    int Command(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
        uint8_t block[kSectorSize] = {b0, b1, b2, b3};
        return firmware_.Write(generation_, kCommandOffset, block, sizeof block);
    }
    Status ReadStatus() {
        Status s{};
        EXPECT_EQ(firmware_.Read(generation_, kStatusOffset, s.data(), s.size()), 0);
        return s;
    }
    void WriteWord(uint16_t address, uint16_t value) {
        Command(kCmdWrite, kWordPhaseAddress, address >> 8, address & 0xFF);
        Command(kCmdWrite, kWordPhaseData, value >> 8, value & 0xFF);
    }
    uint16_t ReadWord(uint16_t address) {
        Command(kCmdRead, 0, address >> 8, address & 0xFF);
        const Status s = ReadStatus();
        return static_cast<uint16_t>(s[kWordResultHigh] << 8 | s[kWordResultLow]);
    }
    void WriteByte(uint16_t address, uint8_t value) { Command(kCmdWrite, address >> 8, address & 0xFF, value); }
    uint8_t ReadByte(uint16_t address) {
        Command(kCmdRead, address >> 8, address & 0xFF, 0);
        return ReadStatus()[kByteResultByte];
    }
    // A 16-bit register through whichever protocol the camera speaks.
    void WriteRegister(uint16_t address, uint16_t value) {
        if (firmware_.GetProtocol() == Protocol::Word) return WriteWord(address, value);
        WriteByte(address, value >> 8);
        WriteByte(address + 1, value & 0xFF);
    }
    uint16_t ReadRegister(uint16_t address) {
        if (firmware_.GetProtocol() == Protocol::Word) return ReadWord(address);
        const uint8_t high = ReadByte(address);
        return static_cast<uint16_t>(high << 8 | ReadByte(address + 1));
    }
    // The window as a host programs it: x, y, width, height, skip code (0, 1, 3, 7) for both directions.
    void SetWindow(int x, int y, int width, int height, uint16_t rowSkip = 0, uint16_t columnSkip = 0) {
        WriteRegister(reg::kRowStart, static_cast<uint16_t>(y + kRowOrigin));
        WriteRegister(reg::kColumnStart, static_cast<uint16_t>(x + kColumnOrigin));
        WriteRegister(reg::kRowSize, static_cast<uint16_t>(height - 1));
        WriteRegister(reg::kColumnSize, static_cast<uint16_t>(width - 1));
        WriteRegister(reg::kRowMode, rowSkip);
        WriteRegister(reg::kColumnMode, columnSkip);
    }
    // One frame read of `length` bytes (a host asks for the frame rounded up to 512).
    std::vector<uint8_t> ReadFrame(size_t length) {
        std::vector<uint8_t> frame(length, 0xEE);
        Command(kCmdFrameRequest, 0, 0, 0);
        EXPECT_EQ(firmware_.Read(generation_, kImageOffset, frame.data(), frame.size()), 0);
        return frame;
    }

private:
    Firmware& firmware_;
    uint64_t generation_;
};

inline size_t RoundUp512(size_t bytes) {
    return (bytes + 511) / 512 * 512;
}

// Whether a host accepts the identification sector: the 21-character signature and model bytes.
inline bool HostRecognises(const Status& s) {
    return std::memcmp(s.data(), "MOVANE USB 3.0 Camera", 21) == 0 && s[26] == 0x50 && s[27] == 0x02;
}

}  // namespace zelvik::emu::test
