// Cameras that come and go: every camera identity the process has seen, with an id it keeps, and the
// watcher that tells message targets when a camera of the system's disks arrives or leaves.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "include/ZelvikSdk.h"
#include "platform/DiskSystem.h"

namespace zelvik {

// One camera as the disks name it.
struct CameraSeen {
    int id = 0;           // the same for one identity string for as long as the process runs, never 0
    std::string identity;  // the disk's identity string
    int number = -1;      // its index among the cameras attached now (Zelvik_SetDeviceNumber's); -1 when gone
    bool present = false;
};

// The cameras among `identities` (drive order), numbered as the device numbers them: every identity the
// model's rule counts, in that order.
std::vector<CameraSeen> CamerasOf(const std::vector<std::string>& identities);
// A camera seen before, by id: its identity and whether it was present when last looked at.
std::optional<CameraSeen> DescribeCamera(int id);

// Watches the system's disks while at least one target is registered: udev's block events where udev
// runs on the system root, otherwise (containers, an emulated root under ZELVIK_ROOT, where no file
// event can be had) a scan of sys/block every kPollMs. Each camera that arrives or leaves is posted to
// every target as MSG_CAMERA_ARRIVED or MSG_CAMERA_REMOVED (wParam its id, lParam its number then).
class CameraWatch {
public:
    static constexpr int kPollMs = 200;

    // The process's one watcher, on SystemDisks() (never destroyed: its thread may outlive main).
    static CameraWatch& Instance();
    explicit CameraWatch(DiskSystem& disks);
    ~CameraWatch();
    CameraWatch(const CameraWatch&) = delete;
    CameraWatch& operator=(const CameraWatch&) = delete;

    // Starts reporting to target (a message queue or a window); false for 0 or one already registered.
    // Cameras attached when the first target is added count as known: only changes are reported.
    bool Add(ZELVIK_HWND target);
    // Stops reporting to target; the thread ends with the last one. False when it was not registered.
    bool Remove(ZELVIK_HWND target);

private:
    void Run();
    // Compares the cameras attached now with the last look and posts the changes; with mutex_ held.
    void Look(std::unique_lock<std::mutex>& lock);

    DiskSystem& disks_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<ZELVIK_HWND> targets_;     // under mutex_
    std::vector<CameraSeen> known_;        // under mutex_: the cameras at the last look
    std::thread thread_;
    bool running_ = false;                 // under mutex_: the thread runs (or is about to)
};

}  // namespace zelvik
