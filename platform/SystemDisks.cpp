// The system's disks: USB-attached whole disks found in sysfs under $ZELVIK_ROOT, opened raw from its dev/.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

#include "platform/AlignedBuffer.h"
#include "platform/DiskSystem.h"
#include "platform/UsbIdentity.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

constexpr int kFirstDrive = 1;
constexpr int kLastDrive = 4;

struct UsbDisk {
    std::string name;
    std::string identity;
};

// The resolved system root, or an empty path when it does not exist.
fs::path ResolvedRoot() {
    const char* root = std::getenv("ZELVIK_ROOT");
    std::error_code ec;
    fs::path resolved = fs::canonical((root != nullptr && *root != '\0') ? root : "/", ec);
    return ec ? fs::path() : resolved;
}

std::string TrimSpace(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A sysfs attribute, trimmed; empty when the file is missing or unreadable.
std::string ReadAttribute(const fs::path& file) {
    std::FILE* stream = std::fopen(file.c_str(), "re");
    if (stream == nullptr) return std::string();
    char text[256];
    const size_t length = std::fread(text, 1, sizeof(text) - 1, stream);
    std::fclose(stream);
    return TrimSpace(std::string(text, length));
}

// The directory of the first "usb*" component of `device` below `root` (the host's root hub), or an
// empty path when the device is not attached through USB. Components of the root itself never count.
fs::path UsbHubDirectory(const fs::path& device, const fs::path& root) {
    const fs::path relative = device.lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..") return fs::path();
    fs::path walked = root;
    for (const fs::path& component : relative) {
        walked /= component;
        if (component.string().rfind("usb", 0) == 0) return walked;
    }
    return fs::path();
}

// The nearest "serial" file from the SCSI device directory up to the USB root hub directory.
std::string UsbSerial(fs::path directory, const fs::path& hub) {
    std::error_code ec;
    for (;;) {
        if (fs::is_regular_file(directory / "serial", ec)) return ReadAttribute(directory / "serial");
        if (directory == hub || !directory.has_relative_path()) return std::string();
        directory = directory.parent_path();
    }
}

// USB-attached whole disks in drive order: shorter names first, then byte order (sdb < sdz < sdaa).
std::vector<UsbDisk> ScanUsbDisks(const fs::path& root) {
    std::vector<UsbDisk> disks;
    if (root.empty()) return disks;
    const fs::path blockDir = root / "sys" / "block";
    std::error_code ec;
    for (fs::directory_iterator it(blockDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code entryError;
        if (fs::exists(blockDir / name / "partition", entryError)) continue;
        const fs::path device = fs::canonical(blockDir / name / "device", entryError);
        if (entryError) continue;
        const fs::path hub = UsbHubDirectory(device, root);
        if (hub.empty()) continue;

        std::string serial = UsbSerial(device, hub);
        if (serial.empty()) serial = name;
        disks.push_back({name, UsbDiskIdentity(ReadAttribute(device / "vendor"), ReadAttribute(device / "model"),
                                               ReadAttribute(device / "rev"), serial)});
    }
    std::sort(disks.begin(), disks.end(), [](const UsbDisk& a, const UsbDisk& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return disks;
}

// One raw disk opened read-write. Block devices always use direct I/O so that every status read reaches
// the camera and no command stays in the page cache.
class RawDrive final : public DiskDrive {
public:
    RawDrive(int fd, bool direct, bool blockDevice) : fd_(fd), direct_(direct), blockDevice_(blockDevice) {}
    ~RawDrive() override { ::close(fd_); }
    RawDrive(const RawDrive&) = delete;
    RawDrive& operator=(const RawDrive&) = delete;

    bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        if (!direct_ || AlignedBuffer::IsAligned(buffer)) return Transfer(false, offset, buffer, length);
        AlignedBuffer bounce(length);
        if (bounce.empty() || !Transfer(false, offset, bounce.data(), length)) return false;
        std::memcpy(buffer, bounce.data(), length);
        return true;
    }

    bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
        if (!direct_ || AlignedBuffer::IsAligned(buffer)) {
            return Transfer(true, offset, const_cast<void*>(buffer), length);
        }
        AlignedBuffer bounce(length);
        if (bounce.empty()) return false;
        std::memcpy(bounce.data(), buffer, length);
        return Transfer(true, offset, bounce.data(), length);
    }

    // An advisory lock on the open node: every opening of the disk node, in any process, takes it the
    // same way, and the kernel drops it when the descriptor is closed or the process dies. Only a lock
    // someone holds refuses the claim: a file system without locks must not make the camera unusable.
    bool Claim() override {
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
            if (errno == EWOULDBLOCK) return false;
            if (errno != EINTR) return true;
        }
    }

private:
    // The whole length or failure: a short transfer (end of disk, vanished device) is a failure.
    bool Transfer(bool write, uint64_t offset, void* buffer, size_t length) {
        if (length == 0) return true;
        if (buffer == nullptr || offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) - length) {
            return false;
        }
        auto* bytes = static_cast<uint8_t*>(buffer);
        size_t done = 0;
        while (done < length) {
            const off_t at = static_cast<off_t>(offset + done);
            const ssize_t n = write ? ::pwrite(fd_, bytes + done, length - done, at)
                                    : ::pread(fd_, bytes + done, length - done, at);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EINVAL && direct_ && !blockDevice_ && DropDirectIo()) {
                continue;  // a file system that opens with O_DIRECT but refuses the transfer
            } else {
                return false;
            }
        }
        return true;
    }

    bool DropDirectIo() {
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) < 0) return false;
        direct_ = false;
        return true;
    }

    int fd_;
    bool direct_;
    bool blockDevice_;
};

std::unique_ptr<DiskDrive> OpenRawDrive(const fs::path& path) {
    // O_NONBLOCK keeps a stray FIFO from blocking the open; it has no effect on disks and files.
    const int baseFlags = O_RDWR | O_CLOEXEC | O_NONBLOCK;
    bool direct = true;
    int fd = ::open(path.c_str(), baseFlags | O_DIRECT);
    if (fd < 0 && errno == EINVAL) {
        direct = false;
        fd = ::open(path.c_str(), baseFlags);
    }
    if (fd < 0) return nullptr;
    struct stat info {};
    const bool blockDevice = ::fstat(fd, &info) == 0 && S_ISBLK(info.st_mode);
    const bool regularFile = S_ISREG(info.st_mode);
    // A block device without direct I/O would answer status reads from the page cache.
    if (!(regularFile || (blockDevice && direct))) {
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return std::make_unique<RawDrive>(fd, direct, blockDevice);
}

class SysfsDiskSystem final : public DiskSystem {
public:
    // The tree is scanned afresh on every call: disks come and go.
    std::vector<std::string> DiskIdentities() override {
        std::vector<std::string> identities;
        for (UsbDisk& disk : ScanUsbDisks(ResolvedRoot())) identities.push_back(std::move(disk.identity));
        return identities;
    }

    std::unique_ptr<DiskDrive> OpenDrive(int number) override {
        if (number < kFirstDrive || number > kLastDrive) return nullptr;
        const fs::path root = ResolvedRoot();
        const std::vector<UsbDisk> disks = ScanUsbDisks(root);
        if (static_cast<size_t>(number) > disks.size()) return nullptr;
        return OpenRawDrive(root / "dev" / disks[static_cast<size_t>(number - kFirstDrive)].name);
    }
};

}  // namespace

DiskSystem& SystemDisks() {
    static SysfsDiskSystem system;
    return system;
}

}  // namespace zelvik
