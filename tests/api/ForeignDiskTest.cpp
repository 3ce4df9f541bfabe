// Disks that are not the camera stay untouched through every operation of the C interface, even when a
// sector of theirs holds the camera's identification.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "include/ZelvikSdk.h"
#include "tests/support/FakeSystemRoot.h"
#include "tests/support/TestEnvironment.h"

namespace zelvik::test {
namespace {

TEST(ForeignDisks, NoByteOfAnotherDiskChangesWhateverItsSectorsHold) {
    TestEnvironment env;
    FakeSystemRoot root(env.root());
    // In name order: a system disk, a USB stick first among the USB disks, the camera, and a disk of the
    // maker's other product line. All but the camera carry the camera's identification sector.
    root.AddDisk("sda", false, "ATA", "Samsung SSD", "S1", true, "system disk ");
    root.AddDisk("sdb", true, "Generic", "Flash Disk", "STICK1", true, "holiday photos ");
    root.AddDisk("sdc", true, "MOVANE", "USB3.0 Q77RX", "CAM1", true, std::string(1, '\0'));
    root.AddDisk("sdd", true, "MOVANE", "USB3.0 Q77RX DS", "CAM2", true, "other product ");
    std::map<std::string, std::string> before;
    for (const char* name : {"sda", "sdb", "sdd"}) before[name] = root.DiskBytes(name);

    ZELVIK_HWND queue = ZelvikMsg_CreateQueue();
    const int h = Zelvik_Initialize(queue);
    ASSERT_NE(h, 0);
    std::vector<char> names(10 * 256);
    EXPECT_EQ(Zelvik_EnumDevice(h, names.data()), 1);
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 0), 1);
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 1), 0) << "one camera";
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 0), 1);

    std::vector<uint8_t> frame(2592 * 1944 * 8);
    ASSERT_EQ(Zelvik_CallBackPreview(h, queue, frame.data(), static_cast<int>(frame.size()), 0), 1);
    int frames = 0;
    for (ZelvikMessage m; frames < 3 && ZelvikMsg_Get(queue, &m, 10000) == 1;)
        if (m.message == MSG_CAMERA_FRAME) ++frames;
    EXPECT_EQ(frames, 3) << "the camera disk streams";
    EXPECT_EQ(Zelvik_StopPreview(h), 1);
    EXPECT_EQ(Zelvik_SnapShot(h, frame.data(), static_cast<int>(frame.size()), 0), 1);
    EXPECT_EQ(Zelvik_WriteRegister(h, 0x35, 0x20), 1);
    EXPECT_EQ(Zelvik_WriteRegisterEx(h, 0x109, 0xBEEF), 1);
    Zelvik_WriteSromID(h, 0, 0x55);
    EXPECT_EQ(Zelvik_SetExposureTime(h, 500), 1);
    EXPECT_EQ(Zelvik_Close(h), 1);
    EXPECT_EQ(Zelvik_Release(h), 1);
    ZelvikMsg_DestroyQueue(queue);

    // The commands went to the camera: its command sector holds the last block written.
    const std::string camera = root.DiskBytes("sdc");
    EXPECT_NE(camera.substr(protocol::kCommandOffset, 4), std::string(4, '\0'));
    for (const auto& [name, bytes] : before) EXPECT_TRUE(root.DiskBytes(name) == bytes) << name << " was written";
}

}  // namespace
}  // namespace zelvik::test
