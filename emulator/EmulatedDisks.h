// The in-process emulator: a DiskSystem of emulated USB disks (cameras and plain disks), so the
// library's device code runs on the firmware model without FUSE.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/Firmware.h"
#include "platform/DiskSystem.h"

namespace zelvik::emu {

// The USB port a disk sits on, as sysfs describes it: the link speed and the block layer's request
// limits the USB storage driver sets for that speed.
struct UsbPort {
    int speedMbps = 5000;  // 480 on a USB 2 port
    int maxSectorsKb = 1024;
    int maxHwSectorsKb = 1024;
    // A port of that speed with the limits the storage driver gives it (120 KB below USB 3).
    static UsbPort OfSpeed(int mbps);
};

// One USB whole disk of the emulated system.
struct EmulatedDisk {
    std::string name;  // "sdb", "sdc", ...
    std::string vendor, model, rev, serial;
    std::shared_ptr<Firmware> firmware;  // null for a plain disk
    int cameraIndex = -1;                // index among the cameras, -1 for a plain disk
    UsbPort port;

    bool Attached() const { return !firmware || firmware->Plugged(); }
    // "USBSTOR\Disk&Ven_<vendor>&Prod_<model>&Rev_<rev>\<serial>", spaces in vendor and model as '_'.
    std::string IdentityString() const;
};

// Kernel disk-name order: shorter names first, then byte-wise (sdb < sdz < sdaa).
bool DiskNameLess(const std::string& a, const std::string& b);

// Disks are named in the order they are added: sdb, sdc, ... Cameras have vendor "MOVANE", model
// "USB3.0 Q77RX", rev "1.00" and serials Q77RX0001, Q77RX0002, ... in camera order. Adding disks
// is for set-up; everything else may be called from any thread.
class EmulatedDisks : public DiskSystem {
public:
    explicit EmulatedDisks(int cameras = 1, const FirmwareOptions& options = {});

    // DiskSystem: the attached disks in drive order; drives 1..4 are the first four of them.
    std::vector<std::string> DiskIdentities() override;
    std::unique_ptr<DiskDrive> OpenDrive(int number) override;

    // Adds a camera; returns its index (0-based).
    int AddCamera(const FirmwareOptions& options = {});
    // Adds a USB disk that is not a camera (it reads zeros and counts the writes it receives).
    void AddPlainDisk(std::string vendor, std::string model, std::string serial);

    // Puts every camera, present and added later, on ports of this speed.
    void SetCameraPortSpeed(int mbps);

    int CameraCount() const;
    Firmware& Camera(int index);
    std::vector<EmulatedDisk> Disks() const;  // every disk in name order, attached or not
    uint64_t PlainDiskWrites() const { return plainWrites_->load(); }

    // The same faults as the FUSE control file, as text commands (cameras numbered from 1):
    //   unplug N | replug N | stall N COUNT [MS] | unstall N | mismatch N on|off |
    //   noready N on|off | ident N intact|version|signature|model|blank | fps N RATE|sensor
    // Lines are separated by newlines or ';'; '#' starts a comment. Every line is checked before any
    // is applied, so a bad line applies nothing. False and a message on error.
    bool Control(std::string_view text, std::string* error);
    // One line per camera: number, disk name and the firmware's state.
    std::string Status() const;

private:
    std::vector<EmulatedDisk> AttachedInDriveOrder() const;

    mutable std::mutex mutex_;
    std::vector<EmulatedDisk> disks_;
    std::vector<std::shared_ptr<Firmware>> cameras_;
    UsbPort cameraPort_;
    std::shared_ptr<std::atomic<uint64_t>> plainWrites_ = std::make_shared<std::atomic<uint64_t>>(0);
};

}  // namespace zelvik::emu
