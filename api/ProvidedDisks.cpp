// ZelvikDisk_Initialize: a handle whose cameras are looked for on disks the application provides.
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "api/Exports.h"
#include "api/HandleRegistry.h"
#include "device/CameraDevice.h"
#include "include/ZelvikSdk.h"

namespace zelvik {
namespace {

// More disks than any system attaches; an identity function that never says "no more" stops here.
constexpr int kMostDisks = 256;
// The enumeration's identities fit this; a longer one is asked again with room for all of it.
constexpr int kIdentityRoom = 256;

// Claims of provided drives: the program's disks have no node to lock, so handles of this process on
// one set (one context) claim a camera by its identity.
using ClaimKey = std::pair<void*, std::string>;
std::mutex claimsMutex;
std::set<ClaimKey>& Claims() {
    static auto* claims = new std::set<ClaimKey>;  // never destroyed: drives may close at process exit
    return *claims;
}

// One drive the application opened. It keeps the functions it needs, so it may outlive the handle (a
// transfer the camera holds in the kernel finishes on the drive's worker after a release).
class ProvidedDrive final : public DiskDrive {
public:
    ProvidedDrive(const ZelvikDiskSet& set, void* drive, std::string identity)
        : set_(set), drive_(drive), identity_(std::move(identity)) {}
    ~ProvidedDrive() override {
        if (claimed_) {
            std::lock_guard lock(claimsMutex);
            Claims().erase({set_.context, identity_});
        }
        if (set_.close != nullptr) set_.close(drive_);
    }
    bool Claim() override {
        if (claimed_) return true;
        std::lock_guard lock(claimsMutex);
        claimed_ = Claims().insert({set_.context, identity_}).second;
        return claimed_;
    }
    ProvidedDrive(const ProvidedDrive&) = delete;
    ProvidedDrive& operator=(const ProvidedDrive&) = delete;

    bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        return set_.read != nullptr && set_.read(drive_, offset, buffer, length) == 1;
    }
    bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
        return set_.write != nullptr && set_.write(drive_, offset, buffer, length) == 1;
    }

private:
    const ZelvikDiskSet set_;
    void* const drive_;
    const std::string identity_;
    bool claimed_ = false;
};

class ProvidedDisks final : public DiskSystem {
public:
    explicit ProvidedDisks(const ZelvikDiskSet& set) : set_(set) {}

    std::vector<std::string> DiskIdentities() override {
        std::vector<std::string> identities;
        if (set_.identity == nullptr) return identities;
        for (int index = 0; index < kMostDisks; ++index) {
            std::string identity(kIdentityRoom, '\0');
            int length = set_.identity(set_.context, index, identity.data(), kIdentityRoom);
            if (length < 0) break;
            if (length >= kIdentityRoom) {
                identity.assign(static_cast<size_t>(length) + 1, '\0');
                length = set_.identity(set_.context, index, identity.data(), length + 1);
                if (length < 0) break;
            }
            identity.resize(std::min(static_cast<size_t>(length), std::strlen(identity.c_str())));
            identities.push_back(std::move(identity));
        }
        return identities;
    }

    std::unique_ptr<DiskDrive> OpenDrive(int number) override {
        if (set_.open == nullptr || number < 1) return nullptr;
        const std::vector<std::string> identities = DiskIdentities();
        if (static_cast<size_t>(number) > identities.size()) return nullptr;
        void* drive = set_.open(set_.context, number);
        if (drive == nullptr) return nullptr;
        return std::make_unique<ProvidedDrive>(set_, drive, identities[static_cast<size_t>(number - 1)]);
    }

private:
    const ZelvikDiskSet set_;
};

}  // namespace
}  // namespace zelvik

ZELVIK_API int ZelvikDisk_Initialize(ZELVIK_HWND notifyWindow, const ZelvikDiskSet* disks) {
    if (disks == nullptr || disks->size < sizeof(ZelvikDiskSet)) return 0;
    const ZelvikDiskSet set = *disks;
    return zelvik::InitializeEntry([notifyWindow, &set](zelvik::HandleEntry& entry) {
        // As Zelvik_Initialize: without memory for the device the instance reports error 5.
        std::unique_ptr<zelvik::CameraDevice> device;
        try {
            entry.disks = std::make_unique<zelvik::ProvidedDisks>(set);
            device = zelvik::CreateCameraDevice(*entry.disks);
        } catch (const std::bad_alloc&) {
            device.reset();
        }
        return entry.instance->InitializeWith(notifyWindow, std::move(device));
    });
}
