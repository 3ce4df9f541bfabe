// The camera catalogue (identities and their ids) and the watcher that reports arrivals and removals.
#include "device/CameraWatch.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>

#include "device/CameraIdentity.h"
#include "platform/Messages.h"

#ifdef ZELVIK_HAVE_UDEV
#include <libudev.h>
#endif

namespace zelvik {
namespace {

// Every identity seen in this process, with its id and whether it was present at the last look.
struct Catalogue {
    std::mutex mutex;
    std::map<std::string, int> ids;
    std::vector<CameraSeen> byId;  // index id - 1
};

Catalogue& TheCatalogue() {
    static auto* catalogue = new Catalogue;  // never destroyed: the watcher may run during exit
    return *catalogue;
}

// The system root is the real one: udev's events are about these disks.
bool RealRoot() {
    const char* root = std::getenv("ZELVIK_ROOT");
    return root == nullptr || *root == '\0' || std::strcmp(root, "/") == 0;
}

// udev's monitor of block devices, where udev runs; otherwise nothing (and the watcher scans).
class BlockEvents {
public:
    BlockEvents() {
#ifdef ZELVIK_HAVE_UDEV
        if (!RealRoot() || ::access("/run/udev/control", F_OK) != 0) return;
        udev_ = udev_new();
        if (udev_ == nullptr) return;
        monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        if (monitor_ == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", "disk") < 0 ||
            udev_monitor_enable_receiving(monitor_) < 0) {
            return;
        }
        fd_ = udev_monitor_get_fd(monitor_);
#endif
    }
    ~BlockEvents() {
#ifdef ZELVIK_HAVE_UDEV
        if (monitor_ != nullptr) udev_monitor_unref(monitor_);
        if (udev_ != nullptr) udev_unref(udev_);
#endif
    }
    BlockEvents(const BlockEvents&) = delete;
    BlockEvents& operator=(const BlockEvents&) = delete;

    bool Available() const { return fd_ >= 0; }
    // Waits up to ms for events and consumes them; true when a disk came or went.
    bool Wait(int ms) {
#ifdef ZELVIK_HAVE_UDEV
        pollfd events{fd_, POLLIN, 0};
        if (::poll(&events, 1, ms) <= 0) return false;
        bool any = false;
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            any = true;
            udev_device_unref(device);
        }
        return any;
#else
        (void)ms;
        return false;
#endif
    }

private:
#ifdef ZELVIK_HAVE_UDEV
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
#endif
    int fd_ = -1;
};

// With udev's events the disks are still looked at now and then, in case an event was missed.
constexpr int kEventRescanMs = 5000;

}  // namespace

std::vector<CameraSeen> CamerasOf(const std::vector<std::string>& identities) {
    std::vector<CameraSeen> cameras;
    Catalogue& catalogue = TheCatalogue();
    std::lock_guard lock(catalogue.mutex);
    // What is not among them now is gone.
    for (CameraSeen& seen : catalogue.byId) {
        seen.present = false;
        seen.number = -1;
    }
    for (const std::string& diskIdentity : identities) {
        if (!identity::IsCameraIdentity(diskIdentity)) continue;
        auto [it, added] = catalogue.ids.emplace(diskIdentity, static_cast<int>(catalogue.byId.size()) + 1);
        if (added) catalogue.byId.push_back({it->second, diskIdentity, -1, false});
        CameraSeen seen{it->second, diskIdentity, static_cast<int>(cameras.size()), true};
        catalogue.byId[static_cast<size_t>(seen.id - 1)] = seen;
        cameras.push_back(std::move(seen));
    }
    return cameras;
}

std::optional<CameraSeen> DescribeCamera(int id) {
    Catalogue& catalogue = TheCatalogue();
    std::lock_guard lock(catalogue.mutex);
    if (id < 1 || static_cast<size_t>(id) > catalogue.byId.size()) return std::nullopt;
    return catalogue.byId[static_cast<size_t>(id - 1)];
}

CameraWatch& CameraWatch::Instance() {
    static auto* watch = new CameraWatch(SystemDisks());
    return *watch;
}

CameraWatch::CameraWatch(DiskSystem& disks) : disks_(disks) {}

CameraWatch::~CameraWatch() {
    {
        std::lock_guard lock(mutex_);
        targets_.clear();
        running_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool CameraWatch::Add(ZELVIK_HWND target) {
    if (target == 0) return false;
    std::unique_lock lock(mutex_);
    if (std::find(targets_.begin(), targets_.end(), target) != targets_.end()) return false;
    if (!running_) {
        // The thread of an earlier watch has been told to end; it ends within one wait.
        if (thread_.joinable()) {
            lock.unlock();
            thread_.join();
            lock.lock();
        }
        if (!running_) {
            known_.clear();
            for (const CameraSeen& camera : CamerasOf(disks_.DiskIdentities())) known_.push_back(camera);
            running_ = true;
            thread_ = std::thread([this] { Run(); });
        }
    }
    targets_.push_back(target);
    return true;
}

bool CameraWatch::Remove(ZELVIK_HWND target) {
    std::thread ended;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find(targets_.begin(), targets_.end(), target);
        if (it == targets_.end()) return false;
        targets_.erase(it);
        if (!targets_.empty()) return true;
        running_ = false;
        ended = std::move(thread_);
    }
    wake_.notify_all();
    if (ended.joinable()) {
        if (ended.get_id() == std::this_thread::get_id()) ended.detach();
        else ended.join();
    }
    return true;
}

void CameraWatch::Look(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    std::vector<CameraSeen> now = CamerasOf(disks_.DiskIdentities());
    lock.lock();
    auto has = [](const std::vector<CameraSeen>& list, int id) {
        return std::any_of(list.begin(), list.end(), [id](const CameraSeen& c) { return c.id == id; });
    };
    std::vector<std::pair<uint32_t, const CameraSeen*>> changes;
    for (const CameraSeen& before : known_)
        if (!has(now, before.id)) changes.emplace_back(MSG_CAMERA_REMOVED, &before);
    for (const CameraSeen& after : now)
        if (!has(known_, after.id)) changes.emplace_back(MSG_CAMERA_ARRIVED, &after);
    for (const auto& [message, camera] : changes)
        for (ZELVIK_HWND target : targets_) PostToTarget(target, message, static_cast<uintptr_t>(camera->id), camera->number);
    known_ = std::move(now);
}

void CameraWatch::Run() {
    BlockEvents events;
    auto lastLook = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    while (running_) {
        if (events.Available()) {
            lock.unlock();
            const bool changed = events.Wait(kPollMs);
            lock.lock();
            if (!running_) break;
            if (!changed && std::chrono::steady_clock::now() - lastLook < std::chrono::milliseconds(kEventRescanMs))
                continue;
        } else {
            wake_.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return !running_; });
            if (!running_) break;
        }
        Look(lock);
        lastLook = std::chrono::steady_clock::now();
    }
}

}  // namespace zelvik
