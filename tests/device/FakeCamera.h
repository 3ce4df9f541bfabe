// Test doubles for the device: a scripted set of disks whose cameras answer the sector protocol and
// record every transfer (offset and bytes), plus a device subclass that exposes its internals.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/CameraDevice.h"
#include "device/DiskProtocol.h"

namespace zelvik::test {

// One transfer as it crossed the wire. `head` holds the first four bytes of a written block;
// `restZero` says whether every byte after them was zero.
struct Transfer {
    int drive = 0;
    bool write = false;
    uint64_t offset = 0;
    size_t length = 0;
    std::array<uint8_t, 4> head{};
    bool restZero = true;
};

inline Transfer Command(int drive, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return {drive, true, protocol::kCommandOffset, protocol::kSectorSize, {b0, b1, b2, b3}, true};
}
inline Transfer StatusRead(int drive) {
    return {drive, false, protocol::kStatusOffset, protocol::kSectorSize, {}, true};
}
inline Transfer ImageRead(int drive, size_t length) {
    return {drive, false, protocol::kImageOffset, length, {}, true};
}

inline bool operator==(const Transfer& a, const Transfer& b) {
    return a.drive == b.drive && a.write == b.write && a.offset == b.offset && a.length == b.length &&
           (!a.write || (a.head == b.head && a.restZero == b.restZero));
}

inline std::ostream& operator<<(std::ostream& out, const Transfer& t) {
    out << "drive " << t.drive << (t.write ? " write @0x" : " read @0x") << std::hex << t.offset << std::dec
        << " " << t.length;
    if (t.write) {
        out << " [" << std::hex << int(t.head[0]) << " " << int(t.head[1]) << " " << int(t.head[2]) << " "
            << int(t.head[3]) << std::dec << (t.restZero ? "]" : " ...]");
    }
    return out;
}

// The firmware of one camera disk, as far as the library relies on it.
struct FakeCameraDisk {
    protocol::Sector identification;
    bool wordProtocol = true;
    std::map<int, uint16_t> registers{{0, protocol::kWordProtocolChipId}};  // word protocol
    std::map<int, uint8_t> byteRegisters;                                   // byte protocol
    std::set<int> stuckRegisters;  // word registers that ignore writes
    int readyAfterPolls = 0;       // byte protocol: status polls before the frame-ready flag rises; -1 never
    bool unplugged = false;        // every transfer fails
    bool refuseCommands = false;   // every command write fails, other transfers work
    int failImageReadFrom = 0;     // this image read (1-based) and every later one fail; 0 never
    bool stallImages = false;      // image reads block until Unstall()
    int imageReadDelayMs = 0;      // paces a streaming loop so that the transfer log stays small
    bool vanishAtRegisterWrite = false;  // the next register write fails, and image reads stall from then on
    // Answers of the last register read, kept in the status sector.
    uint8_t byteResult = 0;
    uint16_t wordResult = 0;
    int latchedAddress = 0;
    int pollsSinceFrame = 0;
    int imageReads = 0;
    int stalledReads = 0;

    static FakeCameraDisk Camera(const char* version = " V1.0", uint8_t idA = 0x50, uint8_t idB = 0x02) {
        FakeCameraDisk disk;
        std::memcpy(disk.identification.data(), protocol::kSignature, protocol::kSignatureLength);
        std::memcpy(disk.identification.data() + protocol::kSignatureLength, version, std::strlen(version));
        disk.identification[protocol::kModelIdAByte] = idA;
        disk.identification[protocol::kModelIdBByte] = idB;
        return disk;
    }
    static FakeCameraDisk OtherDisk() { return FakeCameraDisk(); }
};

class FakeDisks : public DiskSystem {
public:
    std::vector<std::string> identities;
    // Runs at the start of every OpenDrive, on the opening thread: lets a test change the disk list
    // between the enumeration and the opening.
    std::function<void()> beforeOpen;

    // Attaches a disk as drive `number`.
    void Attach(int number, FakeCameraDisk disk) {
        std::lock_guard lock(mutex_);
        disks_[number] = std::move(disk);
    }

    // Runs `change` on a drive's firmware state under the lock.
    template <class F>
    void Change(int number, F change) {
        {
            std::lock_guard lock(mutex_);
            change(disks_.at(number));
        }
        cv_.notify_all();
    }
    template <class F>
    auto Inspect(int number, F look) {
        std::lock_guard lock(mutex_);
        return look(disks_.at(number));
    }

    void Unstall(int number) {
        Change(number, [](FakeCameraDisk& d) { d.stallImages = false; });
    }
    // Blocks until an image read on the drive is stalled.
    void WaitForStall(int number) {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return disks_.at(number).stalledReads > 0; });
    }

    std::vector<Transfer> Transfers() {
        std::lock_guard lock(mutex_);
        return transfers_;
    }
    void ClearTransfers() {
        std::lock_guard lock(mutex_);
        transfers_.clear();
    }
    std::vector<int> Opened() {
        std::lock_guard lock(mutex_);
        return opened_;
    }
    int OpenHandles() {
        std::lock_guard lock(mutex_);
        return openHandles_;
    }

    std::vector<std::string> DiskIdentities() override { return identities; }

    std::unique_ptr<DiskDrive> OpenDrive(int number) override {
        if (beforeOpen) beforeOpen();
        std::lock_guard lock(mutex_);
        opened_.push_back(number);
        if (disks_.count(number) == 0 || disks_[number].unplugged) return nullptr;
        ++openHandles_;
        return std::make_unique<Handle>(*this, number);
    }

private:
    class Handle : public DiskDrive {
    public:
        Handle(FakeDisks& owner, int number) : owner_(owner), number_(number) {}
        ~Handle() override {
            std::lock_guard lock(owner_.mutex_);
            --owner_.openHandles_;
        }
        bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
            return owner_.Read(number_, offset, static_cast<uint8_t*>(buffer), length);
        }
        bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
            return owner_.Write(number_, offset, static_cast<const uint8_t*>(buffer), length);
        }

    private:
        FakeDisks& owner_;
        int number_;
    };

    bool Read(int number, uint64_t offset, uint8_t* buffer, size_t length) {
        std::unique_lock lock(mutex_);
        transfers_.push_back({number, false, offset, length, {}, true});
        FakeCameraDisk& disk = disks_.at(number);
        if (disk.unplugged) return false;
        if (offset == protocol::kStatusOffset && length == protocol::kSectorSize) {
            protocol::Sector status = disk.identification;
            const bool ready = disk.readyAfterPolls >= 0 && disk.pollsSinceFrame >= disk.readyAfterPolls;
            ++disk.pollsSinceFrame;
            status[protocol::kFrameReadyByte] = ready ? 1 : 0;
            status[protocol::kByteResultByte] = disk.byteResult;
            status[protocol::kWordResultByte] = static_cast<uint8_t>(disk.wordResult & 0xFF);
            status[protocol::kWordResultByte + 1] = static_cast<uint8_t>(disk.wordResult >> 8);
            std::memcpy(buffer, status.data(), length);
            return true;
        }
        if (offset == protocol::kImageOffset) {
            const int read = ++disk.imageReads;
            if (disk.imageReadDelayMs > 0) {
                const int delay = disk.imageReadDelayMs;
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                lock.lock();
            }
            if (disk.stallImages) {
                ++disk.stalledReads;
                cv_.notify_all();
                cv_.wait(lock, [&] { return !disks_.at(number).stallImages; });
                --disks_.at(number).stalledReads;
            }
            FakeCameraDisk& now = disks_.at(number);
            if (now.unplugged || (now.failImageReadFrom != 0 && read >= now.failImageReadFrom)) return false;
            now.pollsSinceFrame = 0;
            std::memset(buffer, read & 0xFF, length);  // every byte of frame n is n
            return true;
        }
        return false;
    }

    bool Write(int number, uint64_t offset, const uint8_t* block, size_t length) {
        std::lock_guard lock(mutex_);
        Transfer t{number, true, offset, length, {}, true};
        for (size_t i = 0; i < length; ++i) {
            if (i < 4)
                t.head[i] = block[i];
            else if (block[i] != 0)
                t.restZero = false;
        }
        transfers_.push_back(t);
        FakeCameraDisk& disk = disks_.at(number);
        if (disk.unplugged || disk.refuseCommands || offset != protocol::kCommandOffset ||
            length != protocol::kSectorSize)
            return false;
        if (block[0] == protocol::kRegisterWrite && disk.vanishAtRegisterWrite) {
            disk.vanishAtRegisterWrite = false;
            disk.stallImages = true;
            return false;
        }
        const int address12 = block[1] << 8 | block[2];
        const int address23 = block[2] << 8 | block[3];
        if (block[0] == protocol::kRegisterWrite) {
            if (!disk.wordProtocol) {
                disk.byteRegisters[address12] = block[3];
            } else if (block[1] == protocol::kWordAddressPhase) {
                disk.latchedAddress = address23;
            } else if (disk.stuckRegisters.count(disk.latchedAddress) == 0) {
                disk.registers[disk.latchedAddress] = static_cast<uint16_t>(address23);
            }
        } else if (block[0] == protocol::kRegisterRead) {
            if (disk.wordProtocol)
                disk.wordResult = disk.registers[address23];
            else
                disk.byteResult = disk.byteRegisters[address12];
        }
        return true;
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<int, FakeCameraDisk> disks_;
    std::vector<Transfer> transfers_;
    std::vector<int> opened_;
    int openHandles_ = 0;
};

// The model device with its internals visible to the tests.
class TestDevice : public Q77RXDevice {
public:
    using CameraDevice::chipId;
    using CameraDevice::ring;
    using CameraDevice::transportStallMs;
    using CameraDevice::verifyWrites;
    using Q77RXDevice::Q77RXDevice;
};

inline const char* kCameraIdentity = "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\\0001";

// Waits (bounded, generously) for a condition the acquisition thread brings about.
template <class F>
bool Eventually(F condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace zelvik::test
