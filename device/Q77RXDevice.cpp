// The Q77RX model: identification, sensor geometry, the word register protocol and the sensor window.
#include <cstdint>
#include <mutex>

#include "device/CameraDevice.h"
#include "platform/Clock.h"

namespace zelvik {

using namespace protocol;
using namespace sensor;

namespace {

// The sensor's array starts 54 rows and 16 columns before the first active pixel.
constexpr int kRowOffset = 54;
constexpr int kColumnOffset = 16;
constexpr int kHorizontalBlanking = 42;

// Address mode: bits 0-2 skip factor, bits 4-5 binning; both are replaced, every other bit is kept.
constexpr uint16_t kAddressModeKeep = 0xFFC8;
constexpr uint16_t kSkipBits[] = {0, 1, 3, 7};

// A word-register read needs this long before the status sector holds the answer.
constexpr int kWordReadSettleMs = 10;

constexpr DeviceResult kDone = DeviceResult::Done;
constexpr DeviceResult kFailed = DeviceResult::Failed;
constexpr DeviceResult kNoAnswer = DeviceResult::NoAnswer;

uint16_t WithSkip(uint16_t addressMode, int subsample) {
    return static_cast<uint16_t>((addressMode & kAddressModeKeep) | kSkipBits[subsample]);
}

}  // namespace

Q77RXDevice::Q77RXDevice(DiskSystem& disks) : CameraDevice(disks) {
    modelIdA = identity::kModelIdA;
    modelIdB = identity::kModelIdB;
    width = kWidth;
    height = kHeight;
    CountDevices(identity::kModelCode);
    if (IsValidDevice(0)) {
        deviceIndex = 0;
        Open();
    }
}

Q77RXDevice::~Q77RXDevice() { Close(); }

DeviceResult Q77RXDevice::Open() {
    if (const DeviceResult opened = CameraDevice::Open(); !Succeeded(opened)) return opened;
    // Register 0 is read with the word command whatever the firmware; 0x1801 selects the word protocol.
    uint16_t id = 0;
    if (Succeeded(ReadWordRegister(kChipIdRegister, &id))) chipId = id;
    return kDone;
}

DeviceResult Q77RXDevice::ReadFrame(void* buffer, int length) {
    if (!IsWordProtocol()) return CameraDevice::ReadFrame(buffer, length);
    if (buffer == nullptr || length <= 0) return kFailed;
    // The word-protocol firmware answers a frame request with the image data directly: no status poll.
    Exchange exchange(*this);
    const bool read =
        exchange && exchange.CommandThenImage(CommandBlock(kFrameRequest), buffer, static_cast<size_t>(length));
    return read ? kDone : kFailed;
}

DeviceResult Q77RXDevice::WriteWordRegister(int address, int value) {
    Exchange exchange(*this);
    if (!exchange || !exchange.Command(CommandBlock(kRegisterWrite, kWordAddressPhase, HighByte(address),
                                                    LowByte(address)))) {
        return kFailed;
    }
    return exchange.Command(CommandBlock(kRegisterWrite, kWordDataPhase, HighByte(value), LowByte(value)))
               ? kDone
               : kFailed;
}

DeviceResult Q77RXDevice::ReadWordRegister(int address, uint16_t* value) {
    Exchange exchange(*this);
    if (!exchange || !exchange.Command(CommandBlock(kRegisterRead, 0, HighByte(address), LowByte(address)))) {
        return kFailed;
    }
    SleepMs(kWordReadSettleMs);
    Sector status;
    if (!exchange.Status(status)) return kFailed;
    if (value != nullptr)
        *value = static_cast<uint16_t>(status[kWordResultByte + 1] << 8 | status[kWordResultByte]);
    return kDone;
}

DeviceResult Q77RXDevice::SetFormat(int x, int y, int w, int h, int s) {
    const FrameRing::Pause pause(ring);
    if (!pause) return kNoAnswer;
    const bool insideSensor = sensor::TakesWindow(x, y, w, h) && s >= 0 && s <= kMaxSubsample;
    // While an acquisition runs, its ring (and the consumers' buffers) were sized for the format it
    // started with: a window with more frame bytes waits for the next start.
    const int ringBytes = ring.RingFrameBytes();
    if (!insideSensor || (ringBytes != 0 && Subsampled(w, s) * Subsampled(h, s) > ringBytes)) return kFailed;

    uint16_t rowMode = 0, columnMode = 0;
    ReadRegister(kRowAddressModeRegister, &rowMode);
    ReadRegister(kColumnAddressModeRegister, &columnMode);
    {
        std::lock_guard lock(formatMutex);
        originX = x;
        originY = y;
        width = w;
        height = h;
        subsample = s;
    }
    // Each write is read back and retried; a write that never sticks does not fail the format, which
    // is stored regardless.
    verifyWrites = 1;
    WriteRegister(kRowStartRegister, y + kRowOffset);
    WriteRegister(kColumnStartRegister, x + kColumnOffset);
    WriteRegister(kRowSizeRegister, h - 1);
    WriteRegister(kColumnSizeRegister, w - 1);
    WriteRegister(kHorizontalBlankRegister, kHorizontalBlanking);
    WriteRegister(kVerticalBlankRegister, kVerticalBlankLines);
    WriteRegister(kRowAddressModeRegister, WithSkip(rowMode, s));
    WriteRegister(kColumnAddressModeRegister, WithSkip(columnMode, s));
    verifyWrites = 0;
    return kDone;
}

DeviceResult Q77RXDevice::SetMirrorV(int flag) {
    const FrameRing::Pause pause(ring);
    if (!pause) return kNoAnswer;
    uint16_t readMode = 0;
    ReadRegister(kReadModeRegister, &readMode);
    readMode = static_cast<uint16_t>(flag != 0 ? readMode | kMirrorVBit : readMode & ~kMirrorVBit);
    WriteRegister(kReadModeRegister, readMode);
    mirrorV = flag;
    return kDone;
}

int Q77RXDevice::GetMirrorV() {
    const FrameRing::Pause pause(ring);
    if (!pause) return mirrorV;
    uint16_t readMode = 0;
    if (Succeeded(ReadRegister(kReadModeRegister, &readMode))) mirrorV = (readMode & kMirrorVBit) != 0 ? 1 : 0;
    return mirrorV;
}

std::unique_ptr<CameraDevice> CreateCameraDevice(DiskSystem& disks) {
    try {
        return std::make_unique<Q77RXDevice>(disks);
    } catch (...) {
        return nullptr;  // allocation failure: the instance takes its missing-device path
    }
}

}  // namespace zelvik
