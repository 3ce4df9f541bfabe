#include "tools/emulated/EmulatedCamera.h"

#include <memory>
#include <mutex>

#include "api/Exports.h"
#include "api/FilterValues.h"
#include "device/CameraDevice.h"
#include "emulator/EmulatedDisks.h"
#include "instance/CameraInstance.h"
#include "instance/Errors.h"

namespace {

// Every emulated system a handle was opened on; kept to the end of the process because a handle's
// device refers to its disks and the caller may release the handle at any time, or never.
std::mutex systemsMutex;
std::vector<std::unique_ptr<zelvik::emu::EmulatedDisks>>& Systems() {
    static auto* systems = new std::vector<std::unique_ptr<zelvik::emu::EmulatedDisks>>;
    return *systems;
}

}  // namespace

extern "C" int ZelvikEmulated_Initialize(ZELVIK_HWND notifyWindow, int cameras) {
    if (cameras < 1 || cameras > 4) return 0;
    zelvik::emu::EmulatedDisks* disks = nullptr;
    {
        std::lock_guard lock(systemsMutex);
        Systems().push_back(std::make_unique<zelvik::emu::EmulatedDisks>(cameras));
        disks = Systems().back().get();
    }
    return zelvik::InitializeHandle([notifyWindow, disks](zelvik::CameraInstance& c) {
        return c.InitializeWith(notifyWindow, zelvik::CreateCameraDevice(*disks));
    });
}

extern "C" const char* ZelvikEmulated_ErrorName(int code) {
    const zelvik::ErrorInfo* e = zelvik::FindError(code);
    return e ? e->name : nullptr;
}

extern "C" const char* ZelvikEmulated_ErrorMessage(int code) {
    const zelvik::ErrorInfo* e = zelvik::FindError(code);
    return e ? e->message : nullptr;
}

extern "C" const char* ZelvikEmulated_FilterName(int index) {
    const zelvik::FilterValueInfo* f = zelvik::FindFilterValue(index);
    return f ? f->toolName : nullptr;
}

extern "C" int ZelvikEmulated_FilterRange(int index, int* min, int* max) {
    const zelvik::FilterValueInfo* f = zelvik::FindFilterValue(index);
    if (f == nullptr) return 0;
    *min = f->min;
    *max = f->max;
    return 1;
}
