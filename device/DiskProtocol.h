// The camera's disk-sector protocol: sector map, identification sector fields and command blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/CameraIdentity.h"
#include "platform/AlignedBuffer.h"

namespace zelvik::protocol {

constexpr size_t kSectorSize = identity::kIdentificationSize;
// Byte offsets from the start of the camera disk (sectors 256, 257 and 258).
constexpr uint64_t kStatusOffset = identity::kIdentificationOffset;  // identification/status sector, read
constexpr uint64_t kCommandOffset = 0x20200;  // command sector, written
constexpr uint64_t kImageOffset = 0x20400;    // image data, one read of the whole transfer

// Identification sector (device/CameraIdentity.h).
using identity::kModelIdAByte;
using identity::kModelIdBByte;
using identity::kSignature;
using identity::kSignatureLength;
// Status fields in the same sector.
constexpr size_t kFrameReadyByte = 256;  // 1 when a frame can be read (byte protocol)
constexpr size_t kByteResultByte = 257;  // result of a byte-register read
constexpr size_t kWordResultByte = 258;  // result of a word-register read, low byte first (258, 259)

// Command opcodes (byte 0 of the command sector).
constexpr uint8_t kFrameRequest = 0x10;
constexpr uint8_t kRegisterWrite = 0x20;
constexpr uint8_t kRegisterRead = 0x21;
// Byte 1 of a word-protocol write: address phase, then data phase.
constexpr uint8_t kWordAddressPhase = 0;
constexpr uint8_t kWordDataPhase = 1;

// Register 0 reads this value when the sensor speaks the word protocol.
constexpr uint16_t kWordProtocolChipId = 0x1801;

// One sector, aligned for direct I/O; blocks are all zero apart from the bytes a command sets.
struct alignas(AlignedBuffer::kAlignment) Sector {
    std::array<uint8_t, kSectorSize> bytes{};
    uint8_t& operator[](size_t index) { return bytes[index]; }
    uint8_t operator[](size_t index) const { return bytes[index]; }
    uint8_t* data() { return bytes.data(); }
    const uint8_t* data() const { return bytes.data(); }
};

inline Sector CommandBlock(uint8_t b0, uint8_t b1 = 0, uint8_t b2 = 0, uint8_t b3 = 0) {
    Sector block;
    block[0] = b0;
    block[1] = b1;
    block[2] = b2;
    block[3] = b3;
    return block;
}

inline uint8_t HighByte(int value) { return static_cast<uint8_t>((value >> 8) & 0xFF); }
inline uint8_t LowByte(int value) { return static_cast<uint8_t>(value & 0xFF); }

}  // namespace zelvik::protocol
