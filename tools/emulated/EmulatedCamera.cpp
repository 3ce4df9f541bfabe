#include "tools/emulated/EmulatedCamera.h"

#include <memory>
#include <mutex>
#include <vector>

#include "emulator/DiskSet.h"
#include "emulator/EmulatedDisks.h"

namespace {

// Every emulated system a handle was opened on; kept to the end of the process because a handle's
// drives refer to its disks and the caller may release the handle at any time, or never.
std::mutex systemsMutex;
std::vector<std::unique_ptr<zelvik::emu::EmulatedDisks>>& Systems() {
    static auto* systems = new std::vector<std::unique_ptr<zelvik::emu::EmulatedDisks>>;
    return *systems;
}

}  // namespace

extern "C" int ZelvikEmulated_Initialize(ZELVIK_HWND notifyWindow, int cameras) {
    if (cameras < 1 || cameras > 4) return 0;
    zelvik::emu::EmulatedDisks* disks = nullptr;
    try {
        std::lock_guard lock(systemsMutex);
        Systems().push_back(std::make_unique<zelvik::emu::EmulatedDisks>(cameras));
        disks = Systems().back().get();
    } catch (...) {
        return 0;
    }
    const ZelvikDiskSet set = zelvik::emu::DiskSetOf(*disks);
    return ZelvikDisk_Initialize(notifyWindow, &set);
}
