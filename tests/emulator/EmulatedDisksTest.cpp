// The in-process DiskSystem: identities, drive numbering, plug state and the control commands.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "emulator/EmulatedDisks.h"
#include "emulator/RegisterMap.h"
#include "emulator/SysfsTree.h"
#include "tests/emulator/Wire.h"

namespace zelvik::emu::test {
namespace {

FirmwareOptions Unpaced() {
    FirmwareOptions options;
    options.paced = false;
    return options;
}

bool DriveRecognised(DiskDrive& drive) {
    Status s{};
    return drive.ReadAt(kStatusOffset, s.data(), s.size()) && HostRecognises(s);
}

TEST(EmulatedDisks, IdentitiesAndDriveNumbersFollowTheAttachedDisksInNameOrder) {
    EmulatedDisks disks(0);
    disks.AddCamera(Unpaced());                         // sdb
    disks.AddPlainDisk("SanDisk", "Cruzer Blade", "4C5"); // sdc
    disks.AddCamera(Unpaced());                         // sdd
    EXPECT_EQ(disks.DiskIdentities(), (std::vector<std::string>{
                                          "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\\Q77RX0001",
                                          "USBSTOR\\Disk&Ven_SanDisk&Prod_Cruzer_Blade&Rev_1.00\\4C5",
                                          "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\\Q77RX0002"}));
    EXPECT_EQ(disks.OpenDrive(0), nullptr) << "drive 0 is never opened";
    EXPECT_EQ(disks.OpenDrive(4), nullptr);
    auto first = disks.OpenDrive(1), plain = disks.OpenDrive(2), third = disks.OpenDrive(3);
    ASSERT_TRUE(first && plain && third);
    EXPECT_TRUE(DriveRecognised(*first));
    EXPECT_FALSE(DriveRecognised(*plain));
    EXPECT_TRUE(DriveRecognised(*third));
    uint8_t block[512] = {0x10};
    EXPECT_TRUE(plain->WriteAt(kCommandOffset, block, sizeof block));
    EXPECT_EQ(disks.PlainDiskWrites(), 1u);

    // Unplugging the first camera renumbers the drives; its open drive fails, also after a replug.
    disks.Camera(0).Unplug();
    EXPECT_EQ(disks.DiskIdentities().size(), 2u);
    EXPECT_FALSE(DriveRecognised(*disks.OpenDrive(1)));  // now the plain disk
    Status s{};
    EXPECT_FALSE(first->ReadAt(kStatusOffset, s.data(), s.size()));
    disks.Camera(0).Replug();
    EXPECT_EQ(disks.DiskIdentities().size(), 3u);
    EXPECT_FALSE(first->ReadAt(kStatusOffset, s.data(), s.size()));
    EXPECT_TRUE(DriveRecognised(*disks.OpenDrive(1)));
}

TEST(EmulatedDisks, ADriveReadsAWholeFrameInOneTransfer) {
    EmulatedDisks disks(1, Unpaced());
    auto drive = disks.OpenDrive(1);
    ASSERT_TRUE(drive);
    std::vector<uint8_t> frame(5039104, 0xEE);
    ASSERT_TRUE(drive->ReadAt(kImageOffset, frame.data(), frame.size()));
    EXPECT_EQ(frame[0], 191);                        // the bars' first pixel
    EXPECT_EQ(frame[5038848], 0) << "padding after the 5 038 848 frame bytes";
    EXPECT_FALSE(drive->ReadAt(kDiskSize - 10, frame.data(), 20)) << "a read past the end is short";
}

TEST(EmulatedDisks, DiskNamesSortShorterFirst) {
    EXPECT_TRUE(DiskNameLess("sdb", "sdz"));
    EXPECT_TRUE(DiskNameLess("sdz", "sdaa"));
    EXPECT_FALSE(DiskNameLess("sdaa", "sdz"));
    EmulatedDisks disks(27);
    const std::vector<EmulatedDisk> all = disks.Disks();
    EXPECT_EQ(all[24].name, "sdz");
    EXPECT_EQ(all[25].name, "sdaa");
    EXPECT_EQ(all[26].name, "sdab");
}

TEST(EmulatedDisks, ControlCommandsReachTheCameras) {
    EmulatedDisks disks(2, Unpaced());
    std::string error;
    ASSERT_TRUE(disks.Control("unplug 1; stall 2 3 500\nmismatch 2 on  # comment\n\nident 2 model\nfps 2 30", &error))
        << error;
    EXPECT_FALSE(disks.Camera(0).Plugged());
    EXPECT_EQ(disks.Camera(1).Counters().stallsPending, 3);
    EXPECT_NEAR(disks.Camera(1).FramePeriodSeconds(), 1.0 / 30, 1e-9);
    Wire wire(disks.Camera(1));
    ASSERT_TRUE(disks.Control("unstall 2", &error)) << error;
    EXPECT_FALSE(HostRecognises(wire.ReadStatus()));
    wire.WriteWord(reg::kExposure, 0x0200);
    EXPECT_NE(wire.ReadWord(reg::kExposure), 0x0200);
    ASSERT_TRUE(disks.Control("replug 1\nmismatch 2 off\nident 2 intact\nnoready 1 on\nfps 2 sensor", &error));
    EXPECT_TRUE(disks.Camera(0).Plugged());
    EXPECT_EQ(wire.ReadWord(reg::kExposure), 0x0200);
    ASSERT_TRUE(disks.Control("register 2 0x20 0x8000\nregister 2 0 7", &error)) << error;
    EXPECT_EQ(wire.ReadWord(0x20), 0x8000);
    EXPECT_NE(wire.ReadWord(0), 7) << "the chip id stays read only";
    EXPECT_TRUE(HostRecognises(wire.ReadStatus()));
    EXPECT_NE(disks.Status().find("camera 1 sdb Q77RX0001 plugged"), std::string::npos) << disks.Status();
    EXPECT_NE(disks.Status().find("noready on"), std::string::npos) << disks.Status();
}

TEST(EmulatedDisks, ABadControlLineAppliesNothing) {
    EmulatedDisks disks(2, Unpaced());
    for (const char* text : {"unplug 1\nunplug 3", "unplug 1\nstall 1 many", "unplug 1\nmismatch 1 maybe",
                             "unplug 1\nfrobnicate 1", "unplug 1\nunplug", "unplug 1\nident 1 broken",
                             "unplug 1\nfps 1 -5", "unplug 1\nunplug 1 2", "unplug 1\nregister 1 0x10000 1",
                             "unplug 1\nregister 1 0x20", "unplug 0"}) {
        SCOPED_TRACE(text);
        std::string error;
        EXPECT_FALSE(disks.Control(text, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(disks.Camera(0).Plugged());
    }
}

TEST(SysfsTree, LaysOutTheKernelsEntriesAndHidesAnUnpluggedCamera) {
    EmulatedDisks disks(2, Unpaced());
    SysfsTree tree(disks.Disks());
    const std::string scsi = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-2/2-2:1.0/host7/target7:0:0/7:0:0:0";
    const TreeNode* link = tree.Find("/sys/block/sdc");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->kind, TreeNode::Kind::Symlink);
    EXPECT_EQ(link->content, ".." + scsi.substr(4) + "/block/sdc");
    ASSERT_TRUE(tree.Find(scsi + "/block/sdc/device"));
    EXPECT_EQ(tree.Find(scsi + "/block/sdc/device")->content, "../../../7:0:0:0");
    EXPECT_EQ(tree.Find(scsi + "/vendor")->content, "MOVANE  \n");
    EXPECT_EQ(tree.Find(scsi + "/model")->content, "USB3.0 Q77RX    \n");
    EXPECT_EQ(tree.Find("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-2/serial")->content, "Q77RX0002\n");
    EXPECT_EQ(tree.Find("/dev/sdc")->kind, TreeNode::Kind::Disk);

    disks.Camera(1).Unplug();
    EXPECT_EQ(tree.Find("/sys/block/sdc"), nullptr);
    EXPECT_EQ(tree.Find("/dev/sdc"), nullptr);
    EXPECT_EQ(tree.Find(scsi + "/vendor"), nullptr);
    EXPECT_EQ(tree.Find("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-2"), nullptr);
    EXPECT_NE(tree.Find("/sys/block/sdb"), nullptr);
    EXPECT_NE(tree.Find("/sys/devices/pci0000:00/0000:00:14.0/usb2"), nullptr);
}

}  // namespace
}  // namespace zelvik::emu::test
