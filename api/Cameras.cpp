// Extension exports about which camera is which: the cameras attached, a camera by serial, the watch.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "api/CallFrame.h"
#include "device/CameraDevice.h"
#include "device/CameraIdentity.h"
#include "device/CameraWatch.h"
#include "include/ZelvikSdk.h"

namespace zelvik {
namespace {

template <size_t N>
void CopyText(char (&out)[N], std::string_view text) {
    const size_t length = std::min(text.size(), N - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

bool Sized(const ZelvikCameraEntry* entry) { return entry != nullptr && entry->size >= sizeof(ZelvikCameraEntry); }

void Fill(ZelvikCameraEntry& entry, const CameraSeen& camera) {
    entry.number = camera.present ? camera.number : -1;
    entry.id = camera.id;
    entry.present = camera.present ? 1 : 0;
    entry.name[0] = '\0';
    if (camera.present && camera.number >= 0 && camera.number < 99) {
        char name[32];
        std::snprintf(name, sizeof name, "%s_%02d", identity::kDeviceNameModel, camera.number + 1);
        CopyText(entry.name, name);
    }
    CopyText(entry.serial, SerialOfIdentity(camera.identity));
    CopyText(entry.identity, camera.identity);
}

}  // namespace
}  // namespace zelvik

using zelvik::CameraSeen;

ZELVIK_API int ZelvikCam_List(int handle, ZelvikCameraEntry* entries, int capacity) {
    if (capacity < 0 || (entries == nullptr && capacity > 0)) return -1;
    for (int i = 0; i < capacity; ++i)
        if (!zelvik::Sized(&entries[i])) return -1;
    std::vector<CameraSeen> cameras;
    try {
        if (handle == 0) {
            cameras = zelvik::CamerasOf(zelvik::SystemDisks().DiskIdentities());
        } else {
            std::shared_ptr<zelvik::HandleEntry> entry = zelvik::Registry().Find(handle);
            if (!entry) return -1;
            std::lock_guard lock(entry->calls);
            if (!entry->instance) return -1;
            zelvik::DiskSystem& disks = entry->disks ? *entry->disks : zelvik::SystemDisks();
            cameras = zelvik::CamerasOf(disks.DiskIdentities());
        }
    } catch (...) {
        return -1;
    }
    for (size_t i = 0; i < cameras.size() && i < static_cast<size_t>(capacity); ++i) zelvik::Fill(entries[i], cameras[i]);
    return static_cast<int>(cameras.size());
}

ZELVIK_API int ZelvikCam_Describe(int id, ZelvikCameraEntry* entry) {
    if (!zelvik::Sized(entry)) return 0;
    const std::optional<CameraSeen> camera = zelvik::DescribeCamera(id);
    if (!camera) return 0;
    zelvik::Fill(*entry, *camera);
    return 1;
}

ZELVIK_API int ZelvikCam_GetOpen(int handle, ZelvikCameraEntry* entry) {
    if (!zelvik::Sized(entry)) return 0;
    return zelvik::WithEntry(handle, 0, [entry](zelvik::HandleEntry& e) {
        if (!e.instance->HasDevice()) return 0;
        const std::string open = e.instance->Device().OpenIdentity();
        if (open.empty()) return 0;
        zelvik::DiskSystem& disks = e.disks ? *e.disks : zelvik::SystemDisks();
        // Looking at the disks now also marks the open camera as gone when its disk has left.
        zelvik::CamerasOf(disks.DiskIdentities());
        for (int id = 1;; ++id) {
            const std::optional<CameraSeen> camera = zelvik::DescribeCamera(id);
            if (!camera) return 0;
            if (camera->identity == open) {
                zelvik::Fill(*entry, *camera);
                return 1;
            }
        }
    });
}

ZELVIK_API int ZelvikCam_SelectSerial(int handle, const char* serial) {
    return zelvik::WithDevice(handle, 0, [serial](zelvik::CameraInstance& c) { return c.SetDeviceSerial(serial); });
}

ZELVIK_API int ZelvikCam_Watch(ZELVIK_HWND target) {
    try {
        return zelvik::CameraWatch::Instance().Add(target) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ZELVIK_API int ZelvikCam_Unwatch(ZELVIK_HWND target) {
    return zelvik::CameraWatch::Instance().Remove(target) ? 1 : 0;
}
