// A device double: cameras at chosen indexes and sensor registers kept in memory, so instance tests can
// see what reached the sensor without a camera or an emulator.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "device/CameraDevice.h"

namespace zelvik::test {

class NoDisks : public DiskSystem {
public:
    std::vector<std::string> DiskIdentities() override { return {}; }
    std::unique_ptr<DiskDrive> OpenDrive(int) override { return nullptr; }
};

class RegisterMapDevice : public CameraDevice {
public:
    explicit RegisterMapDevice(std::set<int> valid = {0}, int count = 1)
        : CameraDevice(Disks()), valid_(std::move(valid)) {
        deviceCount = count;
    }
    bool IsValidDevice(int index) override { return valid_.count(index) != 0; }
    bool SelectDevice(int index) override {
        if (!IsValidDevice(index)) return false;
        deviceIndex = index;
        return true;
    }
    DeviceResult SetMirrorV(int flag) override {
        mirrorWrites.push_back(flag);
        return mirrorAnswer;
    }
    DeviceResult WriteByteRegister(int address, int value) override {
        if (failRegisters) return DeviceResult::Failed;
        bytes[address & 0xFFFF] = value & 0xFF;
        return DeviceResult::Done;
    }
    DeviceResult ReadByteRegister(int address, unsigned char* value) override {
        if (failRegisters) return DeviceResult::Failed;
        *value = static_cast<unsigned char>(bytes[address & 0xFFFF]);
        return DeviceResult::Done;
    }
    // A 16-bit register A of the byte protocol is the pair A (high), A+1 (low).
    int Register16(int address) { return bytes[address] << 8 | bytes[address + 1]; }

    std::map<int, int> bytes;
    std::vector<int> mirrorWrites;
    DeviceResult mirrorAnswer = DeviceResult::Done;
    bool failRegisters = false;

private:
    static NoDisks& Disks() {
        static NoDisks disks;
        return disks;
    }
    std::set<int> valid_;
};

}  // namespace zelvik::test
