// Any DiskSystem (the in-process emulator's above all) as the C record ZelvikDisk_Initialize takes, so a
// program that uses the library only through its exports can run it on emulated cameras.
#pragma once

#include "include/ZelvikSdk.h"
#include "platform/DiskSystem.h"

namespace zelvik::emu {

// The record's functions reach `disks`, which must outlive every drive the library opens through it.
ZelvikDiskSet DiskSetOf(DiskSystem& disks);

}  // namespace zelvik::emu
