// Which disks are taken for a Q77RX camera: the disk enumeration's identity rule, the drives probed, and
// the identification sector's signature and model bytes. Facts and two pure tests, with no code of the
// library behind them, so that the zelvik tool's doctor explains a disk by the very rules the device
// applies (device tests hold the device's enumeration and probe to them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zelvik::identity {

// Drives 1..4 are the first four USB whole disks in name order; drive 0 is the system's own disk and is
// never opened.
constexpr int kFirstDrive = 1;
constexpr int kLastDrive = 4;

// The model this library drives, as its disk identity and its identification sector name it.
constexpr std::string_view kModelCode = "Q77RX";
constexpr uint8_t kModelIdA = 0x50;
constexpr uint8_t kModelIdB = 0x02;

// Cameras are named by this and their number from 1, "%s_%02d": ZelvikQ77RX_01, ZelvikQ77RX_02, ...
constexpr char kDeviceNameModel[] = "ZelvikQ77RX";

// Identities come from a 256-byte enumeration entry, terminator included; longer ones are skipped.
constexpr size_t kIdentityLimit = 256;

// The identification sector is the status sector at this byte offset of the camera disk. Only the first
// 21 characters of the signature are compared; the version text after them is free.
constexpr uint64_t kIdentificationOffset = 0x20000;
constexpr size_t kIdentificationSize = 512;
constexpr char kSignature[] = "MOVANE USB 3.0 Camera";
constexpr size_t kSignatureLength = sizeof(kSignature) - 1;
constexpr size_t kModelIdAByte = 26;
constexpr size_t kModelIdBByte = 27;

// The enumeration's rule: an identity names the maker, the USB 3.0 product and the model, fits the
// enumeration entry, and does not contain "DS" (another product line), all case-sensitive.
constexpr bool IsCameraIdentity(std::string_view identity, std::string_view modelCode = kModelCode) {
    auto contains = [identity](std::string_view part) { return identity.find(part) != std::string_view::npos; };
    return identity.size() < kIdentityLimit && contains("MOVANE") && contains("USB3.0") && contains(modelCode) &&
           !contains("DS");
}

// Whether an identification sector (kIdentificationSize bytes) is that of a camera with model bytes a, b.
inline bool IsIdentificationOf(const uint8_t* sector, uint8_t modelIdA = kModelIdA, uint8_t modelIdB = kModelIdB) {
    return std::memcmp(sector, kSignature, kSignatureLength) == 0 && sector[kModelIdAByte] == modelIdA &&
           sector[kModelIdBByte] == modelIdB;
}

}  // namespace zelvik::identity
