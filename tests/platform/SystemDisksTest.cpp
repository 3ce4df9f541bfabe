// Discovery of USB-attached disks in a fake sysfs tree under ZELVIK_ROOT, and raw transfers on a file disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/CameraDevice.h"
#include "device/DiskProtocol.h"
#include "tests/support/TempDir.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kDiskSize = 0x20400 + 5039104;  // the image area of a full-resolution frame

class SystemDisksTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The root's own name starts with "usb": only components below the root may mark a USB disk.
        ASSERT_FALSE(rootDir.path().empty());
        root = rootDir.path();
        const char* previous = std::getenv("ZELVIK_ROOT");
        if (previous != nullptr) savedRoot = previous;
        setenv("ZELVIK_ROOT", root.c_str(), 1);

        // A camera as the kernel lays it out: sys/block/<disk> is a link into the device tree.
        const fs::path hub = "sys/devices/pci0000:00/0000:00:14.0/usb2";
        const fs::path scsi = hub / "2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
        WriteFile(hub / "2-1/serial", "CAM0001\n");
        WriteFile(hub / "serial", "0000:00:14.0\n");  // the root hub's serial is not the disk's
        WriteIdentity(scsi, "MOVANE  ", "USB3.0 Q77RX    ", "1.00");
        fs::create_directories(root / scsi / "block/sdc");
        fs::create_directory_symlink("../../../6:0:0:0", root / scsi / "block/sdc/device");
        fs::create_directories(root / "sys/block");
        fs::create_directory_symlink(fs::path("..") / scsi.lexically_relative("sys") / "block/sdc",
                                     root / "sys/block/sdc");
        WriteDisk("sdc", true);

        // A second camera whose name sorts after sdc (longer names last), in the minimal layout.
        AddMinimalDisk("sdaa", "sys/devices/usb3/3-1/3-1:1.0/host1/target1:0:0/1:0:0:0", "MOVANE",
                       "USB3.0 Q77RX", "1.00");
        WriteFile("sys/devices/usb3/3-1/serial", "CAM0002");
        WriteDisk("sdaa", true);
        // A USB stick without a serial anywhere in its USB subtree.
        AddMinimalDisk("sdb", "sys/devices/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0", "Generic ",
                       "Flash Disk", "8.07");
        WriteDisk("sdb", false);
        // The system disk: not attached through USB, never numbered or opened.
        AddMinimalDisk("sda", "sys/devices/pci0000:00/0000:00:1f.2/ata1/host2/target2:0:0/2:0:0:0", "ATA",
                       "Samsung SSD", "1B6Q");
        WriteDisk("sda", true);
    }

    void TearDown() override {
        if (savedRoot.empty())
            unsetenv("ZELVIK_ROOT");
        else
            setenv("ZELVIK_ROOT", savedRoot.c_str(), 1);
    }

    void WriteFile(const fs::path& relative, const std::string& text) {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << text;
    }
    void WriteIdentity(const fs::path& scsi, const std::string& vendor, const std::string& model,
                       const std::string& rev) {
        WriteFile(scsi / "vendor", vendor + "\n");
        WriteFile(scsi / "model", model + "\n");
        WriteFile(scsi / "rev", rev + "\n");
    }
    void AddMinimalDisk(const std::string& name, const fs::path& scsi, const std::string& vendor,
                        const std::string& model, const std::string& rev) {
        WriteIdentity(scsi, vendor, model, rev);
        fs::create_directories(root / "sys/block" / name);
        fs::create_directory_symlink(fs::path("../..") / scsi.lexically_relative("sys"),
                                     root / "sys/block" / name / "device");
    }
    // A disk image; a camera's holds the identification sector.
    void WriteDisk(const std::string& name, bool camera) {
        fs::create_directories(root / "dev");
        std::ofstream disk(root / "dev" / name, std::ios::binary);
        if (camera) {
            std::string id(protocol::kSectorSize, '\0');
            id.replace(0, 26, "MOVANE USB 3.0 Camera V1.0");
            id[protocol::kModelIdAByte] = 0x50;
            id[protocol::kModelIdBByte] = 0x02;
            disk.seekp(protocol::kStatusOffset);
            disk.write(id.data(), static_cast<std::streamsize>(id.size()));
        }
        disk.close();
        fs::resize_file(root / "dev" / name, kDiskSize);
    }
    std::string FileBytes(const std::string& name, uint64_t offset, size_t length) {
        std::ifstream disk(root / "dev" / name, std::ios::binary);
        disk.seekg(static_cast<std::streamoff>(offset));
        std::string bytes(length, '\0');
        disk.read(bytes.data(), static_cast<std::streamsize>(length));
        return bytes;
    }

    test::TempDir rootDir{"usbroot"};
    fs::path root;
    std::string savedRoot;
};

TEST_F(SystemDisksTest, UsbWholeDisksAreIdentifiedInDriveOrder) {
    EXPECT_EQ(SystemDisks().DiskIdentities(),
              (std::vector<std::string>{"USBSTOR\\Disk&Ven_Generic&Prod_Flash_Disk&Rev_8.07\\sdb",
                                        "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\\CAM0001",
                                        "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\\CAM0002"}));
    EXPECT_EQ(SystemDisks().OpenDrive(0), nullptr);
    EXPECT_EQ(SystemDisks().OpenDrive(4), nullptr);
    EXPECT_EQ(SystemDisks().OpenDrive(5), nullptr);
}

TEST_F(SystemDisksTest, RawTransfersHitExactOffsetsOfTheDiskFile) {
    std::unique_ptr<DiskDrive> drive = SystemDisks().OpenDrive(2);  // sdc
    ASSERT_NE(drive, nullptr);
    protocol::Sector status;
    ASSERT_TRUE(drive->ReadAt(protocol::kStatusOffset, status.data(), protocol::kSectorSize));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(status.data()), 21), "MOVANE USB 3.0 Camera");

    const protocol::Sector block = protocol::CommandBlock(0x20, 1, 0xBE, 0xEF);
    ASSERT_TRUE(drive->WriteAt(protocol::kCommandOffset, block.data(), protocol::kSectorSize));
    EXPECT_EQ(FileBytes("sdc", protocol::kCommandOffset, 512),
              std::string(reinterpret_cast<const char*>(block.data()), 512));
    EXPECT_EQ(FileBytes("sdc", protocol::kCommandOffset + 512, 4), std::string(4, '\0')) << "nothing beyond";

    // A caller's buffer need not be aligned for direct I/O.
    std::vector<uint8_t> unaligned(protocol::kSectorSize + 1);
    ASSERT_TRUE(drive->ReadAt(protocol::kCommandOffset, unaligned.data() + 1, protocol::kSectorSize));
    EXPECT_EQ(unaligned[1], 0x20);
    EXPECT_EQ(unaligned[4], 0xEF);

    std::vector<uint8_t> frame(5039104);
    EXPECT_TRUE(drive->ReadAt(protocol::kImageOffset, frame.data(), frame.size()));
    EXPECT_FALSE(drive->ReadAt(protocol::kImageOffset + 512, frame.data(), frame.size())) << "short read";
}

TEST_F(SystemDisksTest, DeviceCountsAndOpensCamerasWithoutWritingToOtherDisks) {
    Q77RXDevice device;  // the system's disks
    EXPECT_EQ(device.GetDeviceCount(), 2);
    // Opening camera 0 (drive 2) read the chip id with the word command on sdc's command sector.
    EXPECT_EQ(FileBytes("sdc", protocol::kCommandOffset, 4), std::string("\x21\x00\x00\x00", 4));
    uint16_t value = 0;
    EXPECT_TRUE(Succeeded(device.ReadRegister(0x1234, &value)));
    EXPECT_TRUE(device.SelectDevice(1));
    EXPECT_EQ(FileBytes("sdaa", protocol::kCommandOffset, 4), std::string("\x21\x00\x00\x00", 4));
    EXPECT_EQ(FileBytes("sdb", protocol::kCommandOffset, 512), std::string(512, '\0'));
    EXPECT_EQ(FileBytes("sda", protocol::kCommandOffset, 512), std::string(512, '\0'));
}

}  // namespace
}  // namespace zelvik
