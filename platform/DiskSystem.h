// The disks a camera can sit on: enumeration of USB-attached whole disks and raw access to one drive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelvik {

// One open drive. Transfers are absolute and synchronous; a short or failed transfer is a failure.
// Buffers passed to ReadAt/WriteAt should be page-aligned (AlignedBuffer) so block devices opened with
// O_DIRECT accept them.
class DiskDrive {
public:
    virtual ~DiskDrive() = default;
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
    virtual bool WriteAt(uint64_t offset, const void* buffer, size_t length) = 0;
    // Claims the drive for this opening alone until the drive is closed; false when another opening, of
    // this process or another, holds the claim. The claim ends with the drive's closing and with the
    // process (however it ends), so it can never leave a camera unusable. Drives that cannot be shared
    // with anyone (a program's own) accept every claim.
    virtual bool Claim() { return true; }
};

// Where cameras are looked for. The system implementation reads $ZELVIK_ROOT/sys/block and opens
// $ZELVIK_ROOT/dev/<disk>; the in-process emulator provides its own.
class DiskSystem {
public:
    virtual ~DiskSystem() = default;
    // Identity strings of the USB-attached whole disks, e.g.
    // "USBSTOR\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\<serial>", in drive order.
    virtual std::vector<std::string> DiskIdentities() = 0;
    // Drive numbers 1..4 are the first four USB-attached whole disks in name order; 0 is never opened.
    // Null when the drive does not exist or cannot be opened.
    virtual std::unique_ptr<DiskDrive> OpenDrive(int number) = 0;
};

// The serial of an identity string: its part after the last backslash (the disk's serial, or its name
// when the disk has none).
inline std::string SerialOfIdentity(const std::string& identity) {
    const size_t slash = identity.rfind('\\');
    return slash == std::string::npos ? identity : identity.substr(slash + 1);
}

// The disks of the system root named by ZELVIK_ROOT (default "/").
DiskSystem& SystemDisks();

}  // namespace zelvik
