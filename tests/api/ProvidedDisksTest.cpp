// ZelvikDisk_Initialize: a handle on disks the program provides finds its camera there under the same
// rules as on the system's disks, never opens another disk, and closes every drive it opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/DiskSet.h"
#include "emulator/EmulatedDisks.h"
#include "include/ZelvikSdk.h"
#include "tests/support/ErrorStack.h"
#include "tests/support/TestEnvironment.h"

namespace zelvik::test {
namespace {

// Forwards to an inner set and counts what the library asked of it.
struct Counting {
    ZelvikDiskSet inner;
    std::vector<int> opened;             // drive numbers, in the order they were opened
    std::vector<int> identityRoom;       // the room each identity call offered
    std::atomic<int> open{0};            // drives open now
};

ZelvikDiskSet CountingSet(Counting& c) {
    ZelvikDiskSet set{};
    set.size = sizeof set;
    set.context = &c;
    set.identity = [](void* context, int index, char* out, int size) {
        auto& c = *static_cast<Counting*>(context);
        c.identityRoom.push_back(size);
        return c.inner.identity(c.inner.context, index, out, size);
    };
    set.open = [](void* context, int number) -> void* {
        auto& c = *static_cast<Counting*>(context);
        void* drive = c.inner.open(c.inner.context, number);
        if (drive != nullptr) {
            c.opened.push_back(number);
            ++c.open;
            // The drive and its set travel together, so close can count.
            return new std::pair<Counting*, void*>(&c, drive);
        }
        return nullptr;
    };
    set.read = [](void* drive, uint64_t offset, void* buffer, size_t length) {
        auto* d = static_cast<std::pair<Counting*, void*>*>(drive);
        return d->first->inner.read(d->second, offset, buffer, length);
    };
    set.write = [](void* drive, uint64_t offset, const void* buffer, size_t length) {
        auto* d = static_cast<std::pair<Counting*, void*>*>(drive);
        return d->first->inner.write(d->second, offset, buffer, length);
    };
    set.close = [](void* drive) {
        auto* d = static_cast<std::pair<Counting*, void*>*>(drive);
        d->first->inner.close(d->second);
        --d->first->open;
        delete d;
    };
    return set;
}

class ProvidedDisksTest : public ::testing::Test {
protected:
    TestEnvironment env_;
};

TEST_F(ProvidedDisksTest, TheEmulatedCameraIsFoundReadAndClosedAtRelease) {
    emu::EmulatedDisks disks(1);
    disks.AddPlainDisk("ACME", "Stick", "S1");
    Counting counting{emu::DiskSetOf(disks), {}, {}, {}};
    const ZelvikDiskSet set = CountingSet(counting);
    const int h = ZelvikDisk_Initialize(0, &set);
    ASSERT_NE(h, 0);

    char names[10 * 256] = {};
    EXPECT_EQ(Zelvik_EnumDevice(h, names), 1);
    EXPECT_STREQ(names, "ZelvikQ77RX_01");
    int ok = 0;
    EXPECT_EQ(Zelvik_ReadRegisterEx(h, 0, &ok), 0x1801);  // the word protocol's chip id
    EXPECT_EQ(ok, 1);
    ASSERT_EQ(Zelvik_SetColorMode(h, 8), 1);
    ASSERT_EQ(Zelvik_SetCaptureWindowEx(h, 2592, 0, 64, 1944, 0, 48), 1);
    std::vector<unsigned char> frame(64 * 48);
    ASSERT_EQ(Zelvik_SnapShot(h, frame.data(), static_cast<int>(frame.size()), 1), 1);
    EXPECT_NE(std::count(frame.begin(), frame.end(), 0), static_cast<long>(frame.size()));  // a lit picture

    EXPECT_EQ(counting.opened, std::vector<int>({1}));  // the camera's drive only, never the plain disk's
    EXPECT_EQ(disks.PlainDiskWrites(), 0u);
    EXPECT_EQ(Zelvik_Release(h), 1);
    EXPECT_EQ(counting.open.load(), 0);
}

// An identity the enumeration entry cannot hold is asked again whole and is no camera, as on the
// system's disks; nothing of it is opened.
TEST_F(ProvidedDisksTest, ALongIdentityIsReadWholeAndNotTakenForACamera) {
    static const std::string longIdentity =
        "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\\" + std::string(300, '7');
    struct Inner {
        static int Identity(void*, int index, char* out, int size) {
            if (index > 0) return -1;
            std::snprintf(out, static_cast<size_t>(size), "%s", longIdentity.c_str());
            return static_cast<int>(longIdentity.size());
        }
    };
    Counting counting{};
    counting.inner.identity = Inner::Identity;
    counting.inner.open = [](void*, int) -> void* { return nullptr; };
    const ZelvikDiskSet set = CountingSet(counting);
    const int h = ZelvikDisk_Initialize(0, &set);
    ASSERT_NE(h, 0);
    char names[10 * 256] = {};
    EXPECT_EQ(Zelvik_EnumDevice(h, names), 0);
    EXPECT_TRUE(counting.opened.empty());
    ASSERT_GE(counting.identityRoom.size(), 2u);
    EXPECT_GT(counting.identityRoom[1], static_cast<int>(longIdentity.size()));
    Zelvik_Release(h);
}

TEST_F(ProvidedDisksTest, AMissingOrShortRecordMakesNoHandle) {
    EXPECT_EQ(ZelvikDisk_Initialize(0, nullptr), 0);
    emu::EmulatedDisks disks(1);
    ZelvikDiskSet set = emu::DiskSetOf(disks);
    set.size = sizeof set - 1;
    EXPECT_EQ(ZelvikDisk_Initialize(0, &set), 0);
}

}  // namespace
}  // namespace zelvik::test
