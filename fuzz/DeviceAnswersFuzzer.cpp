// Fuzzes what a hostile or broken device sends back: enumerated identities, identification and status
// sectors, register answers, image data and failed transfers, all taken from the input, while the device
// class runs its discovery, both register protocols, frame reads and the sensor setters over it.
//
// Beyond the sanitizers: nothing is ever written to a disk whose enumerated identity is not the camera's
// or whose identification sector did not match, and a failed register read never changes its result.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/CameraDevice.h"
#include "device/DiskProtocol.h"
#include "device/Sensor.h"

namespace {

using namespace zelvik;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "device fuzzer: %s\n", what);
        std::abort();
    }
}

bool NamesTheCamera(const std::string& identity) {
    return identity.size() < 256 && identity.find("MOVANE") != std::string::npos &&
           identity.find("USB3.0") != std::string::npos && identity.find("Q77RX") != std::string::npos &&
           identity.find("DS") == std::string::npos;
}

bool IsIdentification(const uint8_t* sector) {
    return std::memcmp(sector, protocol::kSignature, protocol::kSignatureLength) == 0 &&
           sector[protocol::kModelIdAByte] == 0x50 && sector[protocol::kModelIdBByte] == 0x02;
}

// Disks whose every answer is read from the input. Each opened drive remembers whether the first status
// sector it gave (the one the probe compares) was the camera's identification.
class ScriptedDisks final : public DiskSystem {
public:
    explicit ScriptedDisks(FuzzedDataProvider& input) : input_(input) {
        const std::string camera = "USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\\";
        const int count = input_.ConsumeIntegralInRange(0, 5);
        for (int i = 0; i < count; ++i) {
            switch (input_.ConsumeIntegralInRange(0, 3)) {
                case 0: identities_.push_back(camera + std::to_string(i)); break;
                case 1: identities_.push_back("USBSTOR\\Disk&Ven_Generic&Prod_Flash&Rev_1.0\\" + std::to_string(i)); break;
                case 2: identities_.push_back(camera + "DS" + std::to_string(i)); break;
                default: identities_.push_back(input_.ConsumeRandomLengthString(300)); break;
            }
        }
    }

    std::vector<std::string> DiskIdentities() override {
        std::lock_guard lock(mutex_);
        return identities_;
    }

    std::unique_ptr<DiskDrive> OpenDrive(int number) override {
        std::lock_guard lock(mutex_);
        Check(number >= 1 && number <= 4, "a drive outside 1..4 was opened");
        if (static_cast<size_t>(number) > identities_.size() || input_.ConsumeIntegralInRange(0, 15) == 0) return nullptr;
        return std::make_unique<Drive>(*this, number);
    }

private:
    class Drive final : public DiskDrive {
    public:
        Drive(ScriptedDisks& owner, int number) : owner_(owner), number_(number) {}
        bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
            const bool read = owner_.Read(offset, static_cast<uint8_t*>(buffer), length);
            if (read && offset == protocol::kStatusOffset && probed_ < 0)
                probed_ = IsIdentification(static_cast<const uint8_t*>(buffer)) ? 1 : 0;
            return read;
        }
        bool WriteAt(uint64_t offset, const void*, size_t length) override {
            Check(probed_ == 1, "a disk whose identification did not match was written");
            return owner_.Write(number_, offset, length);
        }

    private:
        ScriptedDisks& owner_;
        int number_;
        std::atomic<int> probed_{-1};
    };

    bool Read(uint64_t offset, uint8_t* buffer, size_t length) {
        std::lock_guard lock(mutex_);
        if (input_.remaining_bytes() == 0 || input_.ConsumeIntegralInRange(0, 31) == 0) return false;
        const std::vector<uint8_t> bytes = input_.ConsumeBytes<uint8_t>(std::min<size_t>(length, 600));
        if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
        std::memset(buffer + bytes.size(), 0, length - bytes.size());
        // Half the status reads answer with the camera's identification, so the probe gets past it.
        if (offset == protocol::kStatusOffset && length == protocol::kSectorSize && input_.ConsumeBool()) {
            std::memcpy(buffer, "MOVANE USB 3.0 Camera V1.0", 26);
            buffer[protocol::kModelIdAByte] = 0x50;
            buffer[protocol::kModelIdBByte] = 0x02;
        }
        return true;
    }

    bool Write(int number, uint64_t offset, size_t length) {
        std::lock_guard lock(mutex_);
        Check(NamesTheCamera(identities_[static_cast<size_t>(number - 1)]), "a disk that is not the camera was written");
        Check(offset == protocol::kCommandOffset && length == protocol::kSectorSize, "a write outside the command sector");
        return input_.remaining_bytes() > 0 && input_.ConsumeIntegralInRange(0, 31) != 0;
    }

    FuzzedDataProvider& input_;
    std::mutex mutex_;
    std::vector<std::string> identities_;
};

// The device with the switches the format code sets, open to the fuzzer.
class FuzzedDevice final : public Q77RXDevice {
public:
    using Q77RXDevice::Q77RXDevice;
    using CameraDevice::CountDevices;
    using CameraDevice::verifyWrites;
};

int AnyInt(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
        case 0: return input.ConsumeIntegralInRange(-2, 0x1FFFF);
        case 1: return input.PickValueInArray({INT_MIN, INT_MAX, -1, 0, 0xFFFF, 0x10000});
        default: return input.ConsumeIntegral<int>();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    ScriptedDisks disks(input);
    FuzzedDevice device(disks);
    std::vector<uint8_t> frame;
    for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
        switch (input.ConsumeIntegralInRange(0, 13)) {
            case 0: {
                uint16_t value = 0xA5A5;
                if (!Succeeded(device.ReadRegister(AnyInt(input), &value))) Check(value == 0xA5A5, "a failed read wrote its result");
                break;
            }
            case 1: device.verifyWrites = input.ConsumeBool() ? 1 : 0; device.WriteRegister(AnyInt(input), AnyInt(input)); break;
            case 2: {
                unsigned char value = 0x5A;
                if (!Succeeded(device.ReadByteRegister(AnyInt(input), &value))) Check(value == 0x5A, "a failed byte read wrote its result");
                break;
            }
            case 3: {
                frame.assign(static_cast<size_t>(input.ConsumeIntegralInRange(0, 4096)), 0);
                device.ReadFrame(frame.data(), static_cast<int>(frame.size()));
                break;
            }
            case 4: device.SetTimeout(input.ConsumeIntegralInRange(-1, 40)); break;
            case 5: device.SetFormat(AnyInt(input), AnyInt(input), AnyInt(input), AnyInt(input), AnyInt(input)); break;
            case 6: device.SetMirrorV(AnyInt(input)); break;
            case 7: device.GetMirrorV(); break;
            case 8: device.SetGlobalGain(AnyInt(input)); break;
            case 9: device.SetColorGain(static_cast<sensor::GainSite>(input.ConsumeIntegralInRange(0, 3)), AnyInt(input)); break;
            case 10: device.SetExposure(AnyInt(input)); break;
            case 11: device.SelectDevice(input.ConsumeIntegralInRange(-1, 5)); break;
            case 12: device.CountDevices(input.ConsumeBool() ? "Q77RX" : ""); break;
            default: {
                // One frame through the acquisition thread, on a small window so that the ring stays small,
                // with a short frame wait so that an input stays quick.
                device.SetTimeout(input.ConsumeIntegralInRange(1, 40));
                if (Succeeded(device.SetFormat(0, 0, 64, 48, input.ConsumeIntegralInRange(0, 3))) &&
                    Succeeded(device.StartSingleFrame())) {
                    frame.assign(static_cast<size_t>(device.GetTransferSize()), 0);
                    device.FinishSingleFrame(frame.data());
                }
                break;
            }
        }
    }
    return 0;
}
