// The in-process emulator: emulated USB disks behind the library's DiskSystem interface.
#include "emulator/EmulatedDisks.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <sstream>

#include "emulator/RegisterMap.h"
#include "platform/UsbIdentity.h"

namespace zelvik::emu {
namespace {

// Kernel naming: sda, ..., sdz, sdaa, ... Disk 0 here is sdb (sda is the system disk).
std::string DiskName(size_t index) {
    std::string suffix;
    size_t n = index + 1;
    for (;;) {
        suffix.insert(suffix.begin(), static_cast<char>('a' + n % 26));
        if (n < 26) break;
        n = n / 26 - 1;
    }
    return "sd" + suffix;
}

class CameraDrive : public DiskDrive {
public:
    CameraDrive(std::shared_ptr<Firmware> firmware, uint64_t generation)
        : firmware_(std::move(firmware)), generation_(generation) {}
    ~CameraDrive() override {
        if (claimed_) firmware_->Unclaim(generation_);
    }
    CameraDrive(const CameraDrive&) = delete;
    CameraDrive& operator=(const CameraDrive&) = delete;
    bool Claim() override { return claimed_ || (claimed_ = firmware_->Claim(generation_)); }
    bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        return firmware_->Read(generation_, offset, buffer, length) == 0;
    }
    bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
        return firmware_->Write(generation_, offset, buffer, length) == 0;
    }

private:
    std::shared_ptr<Firmware> firmware_;
    uint64_t generation_;
    bool claimed_ = false;
};

class PlainDrive : public DiskDrive {
public:
    explicit PlainDrive(std::shared_ptr<std::atomic<uint64_t>> writes) : writes_(std::move(writes)) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        if (offset > kDiskSize || length > kDiskSize - offset) return false;
        std::memset(buffer, 0, length);
        return true;
    }
    bool WriteAt(uint64_t offset, const void*, size_t length) override {
        ++*writes_;
        return offset <= kDiskSize && length <= kDiskSize - offset;
    }

private:
    std::shared_ptr<std::atomic<uint64_t>> writes_;
};

std::vector<std::string> SplitWords(std::string_view line) {
    std::vector<std::string> words;
    std::istringstream in{std::string(line)};
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

bool ParseInt(const std::string& text, long min, long max, long* value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end && *value >= min && *value <= max;
}

// A register address or value: decimal, or hexadecimal after "0x".
bool ParseRegisterNumber(const std::string& text, long* value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, *value, hex ? 16 : 10);
    return ec == std::errc() && ptr == end && *value >= 0 && *value <= 0xFFFF;
}

bool ParseSwitch(const std::string& text, bool* on) {
    if (text == "on" || text == "1") return *on = true, true;
    if (text == "off" || text == "0") return *on = false, true;
    return false;
}

}  // namespace

std::string EmulatedDisk::IdentityString() const { return UsbDiskIdentity(vendor, model, rev, serial); }

UsbPort UsbPort::OfSpeed(int mbps) {
    UsbPort port;
    port.speedMbps = mbps;
    if (mbps < 5000) port.maxSectorsKb = port.maxHwSectorsKb = 120;
    return port;
}

bool DiskNameLess(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

EmulatedDisks::EmulatedDisks(int cameras, const FirmwareOptions& options) {
    for (int i = 0; i < cameras; ++i) AddCamera(options);
}

int EmulatedDisks::AddCamera(const FirmwareOptions& options) {
    std::lock_guard lock(mutex_);
    EmulatedDisk disk;
    disk.name = DiskName(disks_.size());
    disk.vendor = "MOVANE";
    disk.model = "USB3.0 Q77RX";
    disk.rev = "1.00";
    char serial[16];
    std::snprintf(serial, sizeof serial, "Q77RX%04zu", cameras_.size() + 1);
    disk.serial = serial;
    disk.firmware = std::make_shared<Firmware>(options);
    disk.port = cameraPort_;
    disk.cameraIndex = static_cast<int>(cameras_.size());
    cameras_.push_back(disk.firmware);
    disks_.push_back(std::move(disk));
    return static_cast<int>(cameras_.size()) - 1;
}

void EmulatedDisks::AddPlainDisk(std::string vendor, std::string model, std::string serial) {
    std::lock_guard lock(mutex_);
    EmulatedDisk disk;
    disk.name = DiskName(disks_.size());
    disk.vendor = std::move(vendor);
    disk.model = std::move(model);
    disk.rev = "1.00";
    disk.serial = std::move(serial);
    disks_.push_back(std::move(disk));
}

void EmulatedDisks::SetCameraPortSpeed(int mbps) {
    std::lock_guard lock(mutex_);
    cameraPort_ = UsbPort::OfSpeed(mbps);
    for (EmulatedDisk& disk : disks_)
        if (disk.firmware) disk.port = cameraPort_;
}

int EmulatedDisks::CameraCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(cameras_.size());
}

Firmware& EmulatedDisks::Camera(int index) {
    std::lock_guard lock(mutex_);
    return *cameras_.at(static_cast<size_t>(index));
}

std::vector<EmulatedDisk> EmulatedDisks::Disks() const {
    std::lock_guard lock(mutex_);
    std::vector<EmulatedDisk> disks = disks_;
    std::sort(disks.begin(), disks.end(), [](const auto& a, const auto& b) { return DiskNameLess(a.name, b.name); });
    return disks;
}

std::vector<EmulatedDisk> EmulatedDisks::AttachedInDriveOrder() const {
    std::vector<EmulatedDisk> disks = Disks();
    std::erase_if(disks, [](const EmulatedDisk& d) { return !d.Attached(); });
    return disks;
}

std::vector<std::string> EmulatedDisks::DiskIdentities() {
    std::vector<std::string> identities;
    for (const EmulatedDisk& disk : AttachedInDriveOrder()) identities.push_back(disk.IdentityString());
    return identities;
}

std::unique_ptr<DiskDrive> EmulatedDisks::OpenDrive(int number) {
    const std::vector<EmulatedDisk> disks = AttachedInDriveOrder();
    if (number < 1 || number > 4 || static_cast<size_t>(number) > disks.size()) return nullptr;
    const EmulatedDisk& disk = disks[static_cast<size_t>(number) - 1];
    if (!disk.firmware) return std::make_unique<PlainDrive>(plainWrites_);
    return std::make_unique<CameraDrive>(disk.firmware, disk.firmware->Generation());
}

bool EmulatedDisks::Control(std::string_view text, std::string* error) {
    std::vector<std::function<void()>> actions;
    std::vector<std::shared_ptr<Firmware>> firmware;
    {
        std::lock_guard lock(mutex_);
        firmware = cameras_;
    }
    const auto cameras = static_cast<long>(firmware.size());
    size_t start = 0;
    while (start <= text.size()) {
        size_t stop = text.find_first_of("\n;", start);
        if (stop == std::string_view::npos) stop = text.size();
        std::string_view line = text.substr(start, stop - start);
        start = stop + 1;
        if (size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        const std::vector<std::string> w = SplitWords(line);
        if (w.empty()) continue;
        auto fail = [&](const std::string& why) {
            *error = "\"" + std::string(line) + "\": " + why;
            return false;
        };
        long number = 0;
        if (w.size() < 2 || !ParseInt(w[1], 1, cameras, &number)) {
            return fail(w.size() < 2 ? "camera number missing"
                                     : "no camera " + w[1] + " (cameras are 1.." + std::to_string(cameras) + ")");
        }
        std::shared_ptr<Firmware> fw = firmware[static_cast<size_t>(number) - 1];
        const std::string& op = w[0];
        bool on = false;
        long count = 0, hold = Firmware::kDefaultStallHold.count();
        if ((op == "unplug" || op == "replug" || op == "unstall") && w.size() == 2) {
            if (op == "unplug") actions.push_back([fw] { fw->Unplug(); });
            if (op == "replug") actions.push_back([fw] { fw->Replug(); });
            if (op == "unstall") actions.push_back([fw] { fw->Unstall(); });
        } else if (op == "stall" && (w.size() == 3 || w.size() == 4)) {
            if (!ParseInt(w[2], 0, 1000000, &count)) return fail("bad transfer count");
            if (w.size() == 4 && !ParseInt(w[3], 1, 3600000, &hold)) return fail("bad hold time in ms");
            actions.push_back([fw, count, hold] { fw->Stall(static_cast<int>(count), std::chrono::milliseconds(hold)); });
        } else if ((op == "mismatch" || op == "noready") && w.size() == 3) {
            if (!ParseSwitch(w[2], &on)) return fail("expected on or off");
            if (op == "mismatch") actions.push_back([fw, on] { fw->SetReadbackMismatch(on); });
            if (op == "noready") actions.push_back([fw, on] { fw->SetNeverReady(on); });
        } else if (op == "ident" && w.size() == 3) {
            const std::optional<Identity> identity = IdentityFromName(w[2]);
            if (!identity) return fail("expected intact, version, signature, model or blank");
            actions.push_back([fw, id = *identity] { fw->SetIdentity(id); });
        } else if (op == "fps" && w.size() == 3) {
            double fps = 0;
            if (w[2] != "sensor") {
                char* end = nullptr;
                fps = std::strtod(w[2].c_str(), &end);
                if (end == w[2].c_str() || *end != '\0' || !(fps > 0 && fps <= 100000)) {
                    return fail("expected a rate above 0 or \"sensor\"");
                }
            }
            actions.push_back([fw, fps] { fw->SetFrameRate(fps); });
        } else if (op == "register" && w.size() == 4) {
            long address = 0, value = 0;
            if (!ParseRegisterNumber(w[2], &address) || !ParseRegisterNumber(w[3], &value))
                return fail("expected a register address and value, 0..0xFFFF each");
            actions.push_back([fw, address, value] {
                fw->SetRegister(static_cast<uint16_t>(address), static_cast<uint16_t>(value));
            });
        } else {
            return fail("unknown command or wrong number of arguments");
        }
    }
    for (const auto& action : actions) action();
    return true;
}

std::string EmulatedDisks::Status() const {
    std::string status;
    for (const EmulatedDisk& disk : Disks()) {
        if (!disk.firmware) continue;
        status += "camera " + std::to_string(disk.cameraIndex + 1) + " " + disk.name + " " + disk.serial + " " +
                  disk.firmware->Describe() + "\n";
    }
    return status;
}

}  // namespace zelvik::emu
