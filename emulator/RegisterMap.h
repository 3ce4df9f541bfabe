// The emulated camera's firmware interface in one place: sector map, block layouts, command codes,
// sensor registers and their power-up values, sensor geometry and timing constants.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelvik::emu {

// --- Sector map of the camera disk (byte offsets from the start of the drive) ---
inline constexpr uint64_t kSectorSize = 512;
inline constexpr uint64_t kStatusOffset = 0x20000;   // identification/status sector, read
inline constexpr uint64_t kCommandOffset = 0x20200;  // command sector, written
inline constexpr uint64_t kImageOffset = 0x20400;    // image data, one read of the whole frame
// The disk is larger than the biggest frame transfer (0x20400 + 5 039 104 bytes) so that a whole
// full-resolution frame read never comes up short.
inline constexpr uint64_t kDiskSize = 8ull << 20;

// --- Identification/status sector ---
inline constexpr char kSignature[] = "MOVANE USB 3.0 Camera V1.0";  // bytes 0-25
inline constexpr size_t kSignatureMatchLength = 21;                // the part hosts compare
inline constexpr size_t kModelIdAByte = 26;
inline constexpr size_t kModelIdBByte = 27;
inline constexpr uint8_t kModelIdA = 0x50;
inline constexpr uint8_t kModelIdB = 0x02;
inline constexpr size_t kReadyByte = 256;       // byte protocol: 1 while a frame can be read
inline constexpr size_t kByteResultByte = 257;  // result of the last byte-register read
inline constexpr size_t kWordResultLow = 258;   // result of the last word-register read, low byte
inline constexpr size_t kWordResultHigh = 259;  // ... and high byte

// --- Command blocks (512 bytes at kCommandOffset; big-endian addresses and values) ---
inline constexpr uint8_t kCmdFrameRequest = 0x10;  // 0x10 0 0 0
inline constexpr uint8_t kCmdWrite = 0x20;  // byte: 0x20 A_hi A_lo V; word: 0x20 0 A_hi A_lo, then 0x20 1 V_hi V_lo
inline constexpr uint8_t kCmdRead = 0x21;   // byte: 0x21 A_hi A_lo -; word: 0x21 0 A_hi A_lo
inline constexpr uint8_t kWordPhaseAddress = 0;
inline constexpr uint8_t kWordPhaseData = 1;

// --- Sensor registers (16-bit) ---
namespace reg {
inline constexpr uint16_t kChipId = 0x00;        // read only
inline constexpr uint16_t kRowStart = 0x01;      // first row = y + kRowOrigin
inline constexpr uint16_t kColumnStart = 0x02;   // first column = x + kColumnOrigin
inline constexpr uint16_t kRowSize = 0x03;       // rows - 1
inline constexpr uint16_t kColumnSize = 0x04;    // columns - 1
inline constexpr uint16_t kHorizontalBlank = 0x05;  // extra pixel clocks per line
inline constexpr uint16_t kVerticalBlank = 0x06;    // extra lines per frame
inline constexpr uint16_t kExposure = 0x09;      // in line periods
inline constexpr uint16_t kReadMode = 0x20;      // bit 15: vertical mirror
inline constexpr uint16_t kRowMode = 0x22;       // bits 0-2: row skip (factor = value + 1)
inline constexpr uint16_t kColumnMode = 0x23;    // bits 0-2: column skip
inline constexpr uint16_t kGlobalGain = 0x35;
// Colour gains, one per mosaic site. The byte protocol's sensor keeps them at even addresses.
inline constexpr uint16_t kWordGainGreen1 = 0x2B, kWordGainBlue = 0x2C, kWordGainRed = 0x2D,
                          kWordGainGreen2 = 0x2E;
inline constexpr uint16_t kByteGainGreen1 = 0x26, kByteGainBlue = 0x28, kByteGainRed = 0x2A,
                          kByteGainGreen2 = 0x2C;
}  // namespace reg

inline constexpr uint16_t kMirrorVerticalBit = 0x8000;
inline constexpr uint16_t kSkipMask = 0x0007;

inline constexpr uint16_t kWordChipId = 0x1801;  // selects the word protocol in the host
inline constexpr uint16_t kByteChipId = 0x1800;

// --- Power-up register values (every other register powers up as 0) ---
inline constexpr uint16_t kResetExposure = 1100;
inline constexpr uint16_t kResetGain = 16;           // colour and global gain
inline constexpr uint16_t kResetHorizontalBlank = 42;
inline constexpr uint16_t kResetVerticalBlank = 48;

// --- Sensor geometry: the active pixel array and where it starts in register coordinates ---
inline constexpr int kSensorWidth = 2592;
inline constexpr int kSensorHeight = 1944;
inline constexpr int kRowOrigin = 54;
inline constexpr int kColumnOrigin = 16;

// --- Picture levels: a pixel is scene x (colour gain + global gain) / 32 x exposure / 1100, so the
// power-up registers deliver the scene as it is. ---
inline constexpr int kUnityGainSum = 2 * kResetGain;
inline constexpr int kUnityExposure = kResetExposure;

// --- Timing: line = columns + kLineOverhead + register 5 pixel clocks (columns + 916 at the
// power-up blanking); frame = max(rows + register 6, exposure) lines. ---
inline constexpr double kPixelClockHz = 96e6;
inline constexpr int kLineOverhead = 874;

}  // namespace zelvik::emu
