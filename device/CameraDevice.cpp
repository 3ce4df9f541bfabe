// The camera device base class: discovery, the disk transport, the byte register protocol, the sensor setters.
#include "device/CameraDevice.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "device/SessionRecorder.h"
#include "platform/Clock.h"

namespace zelvik {

using namespace protocol;

namespace {

constexpr int kTimeoutMin = 1;
constexpr int kTimeoutMax = 10000;
constexpr int kVerifyAttempts = 10;
constexpr int kVerifyRetryMs = 10;
// A stop lets a frame transfer this close to its end finish instead of leaving it behind.
constexpr int kStopGraceMs = 250;
// How long a new selection of the camera just let go of waits for that drive to close.
constexpr int kReclaimMs = 1000;
// How long a selection waits for a lock another handle is letting go of: a handle that has just started
// holds camera 0 while it writes its stored settings, before it selects the camera it wants.
constexpr int kSelectionClaimMs = 1000;
constexpr int kReclaimPollMs = 10;

constexpr DeviceResult kDone = DeviceResult::Done;
constexpr DeviceResult kFailed = DeviceResult::Failed;
constexpr DeviceResult kNoAnswer = DeviceResult::NoAnswer;

DeviceResult ResultOf(bool done) { return done ? kDone : kFailed; }

// The byte register after `address`; only the low 16 bits go on the wire, so the sum wraps there
// (computed unsigned: an address of INT_MAX must not overflow).
int NextAddress(int address) { return static_cast<int>((static_cast<uint32_t>(address) + 1u) & 0xFFFFu); }

// Frames are transferred in whole sectors.
int TransferSizeOf(int frameBytes) {
    const int sector = static_cast<int>(kSectorSize);
    return (frameBytes + sector - 1) / sector * sector;
}

// The frame read the acquisition loop is making, on the loop's thread only (null on every other thread):
// the exchanges made there wait for their transfers until the ring's stop, and hand the slot's buffer to
// the drive session's worker when they leave a read behind.
struct LoopRead {
    AlignedBuffer* slot;
    const std::atomic<bool>* stop;
};
thread_local const LoopRead* tLoopRead = nullptr;

// A stop of the ring reached the frame read on this thread.
bool LoopReadStopped() { return tLoopRead != nullptr && tLoopRead->stop->load(); }

// The innermost CallBudget of this thread (null: none).
thread_local CameraDevice::CallBudget* tCallBudget = nullptr;

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Transport

CameraDevice::CallBudget::CallBudget(CameraDevice* device)
    : device_(device),
      remaining_(std::chrono::milliseconds(device != nullptr ? device->transportStallMs.load() : 0)),
      outer_(tCallBudget) {
    tCallBudget = this;
}

CameraDevice::CallBudget::~CallBudget() { tCallBudget = outer_; }

CameraDevice::Exchange::Exchange(CameraDevice& device) : device_(device), session_(device.CurrentSession()) {
    if (!session_) return;  // no drive: nothing to refuse, nothing to use
    const std::chrono::milliseconds stallLimit(device.transportStallMs.load());
    start_ = DriveSession::Clock::now();
    deadline_ = start_ + stallLimit;
    // The outermost budget with this device is the one in force; its rest bounds the transfers.
    for (CallBudget* budget = tCallBudget; budget != nullptr; budget = budget->outer_) {
        if (budget->device_ == &device) budget_ = budget;
    }
    if (budget_ != nullptr) {
        if (budget_->remaining_ <= std::chrono::nanoseconds::zero()) {
            refused_ = true;  // the operation has spent its time-out
            return;
        }
        deadline_ = std::min(deadline_, start_ + budget_->remaining_);
    }
    // A stalled camera fails every exchange at once until it answers again; an exchange that finds the
    // drive held past the limit is the first to see it stalled.
    if (session_->stalled.load() || !session_->Hold().LockUnlessStalled(stallLimit)) {
        session_->stalled = true;
        refused_ = true;
        return;
    }
    held_ = true;
}

CameraDevice::Exchange::~Exchange() {
    if (held_) session_->Hold().unlock();
    if (budget_ != nullptr) budget_->remaining_ -= DriveSession::Clock::now() - start_;
}

DriveSession::Patience CameraDevice::Exchange::Patience() const {
    DriveSession::Patience patience;
    patience.stallAt = deadline_;
    if (tLoopRead != nullptr) {
        // The acquisition loop has nothing else to do than wait for its camera, however slow; a stop ends
        // the wait (after a moment's grace for a transfer about to finish) and leaves the transfer behind.
        patience.giveUpWhenStalled = false;
        patience.stop = tLoopRead->stop;
        patience.stopGrace = std::chrono::milliseconds(kStopGraceMs);
        patience.owner = tLoopRead->slot;
    }
    return patience;
}

bool CameraDevice::Exchange::Command(const Sector& block) {
    return held_ && Noted(session_->WriteSector(kCommandOffset, block, Patience()));
}

bool CameraDevice::Exchange::Status(Sector& sector) {
    return held_ && Noted(session_->ReadSector(kStatusOffset, sector, Patience()));
}

bool CameraDevice::Exchange::Image(void* buffer, size_t length) {
    return held_ && Noted(session_->Read(kImageOffset, buffer, length, Patience()));
}

bool CameraDevice::Exchange::CommandThenImage(const Sector& block, void* buffer, size_t length) {
    return held_ &&
           Noted(session_->CommandThenRead(kCommandOffset, block, kImageOffset, buffer, length, Patience()));
}

bool CameraDevice::Exchange::Noted(DriveSession::Outcome outcome) {
    if (outcome == DriveSession::Outcome::Done) return true;
    if (outcome == DriveSession::Outcome::Abandoned) held_ = false;  // the worker releases the drive
    ++device_.failedTransfers;
    return false;
}

std::shared_ptr<DriveSession> CameraDevice::CurrentSession() {
    std::lock_guard lock(sessionMutex);
    return session;
}

bool CameraDevice::Stalled() {
    const std::shared_ptr<DriveSession> current = CurrentSession();
    return current && current->stalled.load();
}

void CameraDevice::ReplaceSession(std::shared_ptr<DriveSession> next, std::string nextIdentity) {
    std::shared_ptr<DriveSession> previous;
    {
        std::lock_guard lock(sessionMutex);
        previous = std::exchange(session, std::move(next));
        openIdentity = session ? std::move(nextIdentity) : std::string();
        driveOpen = session != nullptr;
    }
    if (previous) previous->Retire();
}

CameraDevice::CameraDevice(DiskSystem& disks) : disks(disks) {}

// A model class closes in its own destructor while its overrides still exist; this is the fallback that
// keeps the thread from outliving the object.
CameraDevice::~CameraDevice() { CameraDevice::Close(); }

void CameraDevice::CountDevices(std::string_view modelCode) {
    countedModel = modelCode;
    deviceCount = 0;
    RefreshCount();
    deviceIndex = 0;
}

void CameraDevice::RefreshCount() {
    if (countedModel.empty()) return;  // a device that never counted keeps the count it has
    int counted = 0;
    for (const std::string& diskIdentity : disks.DiskIdentities())
        if (identity::IsCameraIdentity(diskIdentity, countedModel)) ++counted;
    deviceCount = counted;
}

int CameraDevice::IndexOfSerial(const std::string& serial) {
    RefreshCount();
    int index = 0;
    for (const std::string& diskIdentity : disks.DiskIdentities()) {
        if (!identity::IsCameraIdentity(diskIdentity, countedModel)) continue;
        if (SerialOfIdentity(diskIdentity) == serial) return index;
        ++index;
    }
    return -1;
}

std::string CameraDevice::OpenIdentity() {
    std::lock_guard lock(sessionMutex);
    return session ? openIdentity : std::string();
}

DeviceResult CameraDevice::Open() {
    // The drive of an earlier selection is closed before probing; a failed probe leaves no drive open.
    // A transfer of the earlier drive still in the kernel finishes on its session's worker, apart from
    // the new one.
    const std::string previousIdentity = OpenIdentity();
    ReplaceSession(nullptr);
    cameraInUse = false;
    // Camera index n is the (n+1)-th disk whose enumerated identity names the model, and that disk only:
    // a number always means the camera the enumeration lists under it. A disk is the camera only when its
    // identification sector says so as well; a disk of another kind is never opened, whatever its sectors
    // hold, so nothing is ever written to it.
    const std::vector<std::string> identities = disks.DiskIdentities();
    int number = 0;
    for (int drive = identity::kFirstDrive, counted = 0;
         drive <= identity::kLastDrive && static_cast<size_t>(drive) <= identities.size(); ++drive) {
        if (!identity::IsCameraIdentity(identities[static_cast<size_t>(drive - 1)], countedModel)) continue;
        if (counted++ == deviceIndex) {
            number = drive;
            break;
        }
    }
    if (number == 0) return kFailed;
    const std::string diskIdentity = identities[static_cast<size_t>(number - 1)];
    std::unique_ptr<DiskDrive> candidate = disks.OpenDrive(number);
    if (!candidate) return kFailed;
    // Disks come and go: the drive opened under this number must still be the disk enumerated for it.
    const std::vector<std::string> now = disks.DiskIdentities();
    if (static_cast<size_t>(number) > now.size() || now[static_cast<size_t>(number - 1)] != diskIdentity)
        return kFailed;
    // One handle drives a camera: a camera another handle holds is neither read nor written. A drive
    // just closed may hold its lock a moment longer (a FUSE file lets go of it after its close returns),
    // and the drive this device just let go of closes only once its last transfer has returned.
    bool claimed = candidate->Claim();
    const int patience = diskIdentity == previousIdentity ? kReclaimMs : claimPatienceMs;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(patience);
         !claimed && std::chrono::steady_clock::now() < until;) {
        SleepMs(kReclaimPollMs);
        claimed = candidate->Claim();
    }
    if (!claimed) {
        cameraInUse = true;
        return kFailed;
    }
    // The probe only reads, through a session of its own, so that a camera that does not answer holds it
    // up no longer than an exchange.
    std::shared_ptr<DriveSession> probe = DriveSession::Start(std::move(candidate));
    if (!probe) return kFailed;
    Sector identification;
    const bool camera = ReadIdentification(*probe, identification) &&
                        identity::IsIdentificationOf(identification.data(), modelIdA, modelIdB);
    const bool wrapped = camera && probe->WrapDrive([&](std::unique_ptr<DiskDrive> probed) {
        return RecordSession(std::move(probed), identification.data());
    });
    if (!wrapped) {
        probe->Retire();
        return kFailed;
    }
    ReplaceSession(std::move(probe), diskIdentity);
    return kDone;
}

bool CameraDevice::ReadIdentification(DriveSession& probe, Sector& identification) {
    const std::chrono::milliseconds stallLimit(transportStallMs.load());
    if (!probe.Hold().LockUnlessStalled(stallLimit)) return false;
    DriveSession::Patience patience;
    patience.stallAt = DriveSession::Clock::now() + stallLimit;
    const DriveSession::Outcome outcome = probe.ReadSector(kStatusOffset, identification, patience);
    if (outcome != DriveSession::Outcome::Abandoned) probe.Hold().unlock();
    return outcome == DriveSession::Outcome::Done;
}

void CameraDevice::Close() {
    StopAcquisition();
    ReplaceSession(nullptr);
}

DeviceResult CameraDevice::ReadFrame(void* buffer, int length) {
    if (buffer == nullptr || length <= 0) return kFailed;
    // The byte protocol raises the status sector's frame-ready flag; polls spin without pausing and
    // `timeout` bounds their number. A stop request ends the wait early.
    const int polls = timeout.load();
    bool ready = false;
    for (int poll = 0; poll < polls && !ready; ++poll) {
        if (poll > 0 && LoopReadStopped()) return kFailed;
        Exchange exchange(*this);
        Sector status;
        if (!exchange || !exchange.Status(status)) return kFailed;
        ready = status[kFrameReadyByte] == 1;
    }
    if (!ready) return kNoAnswer;
    Exchange exchange(*this);
    return ResultOf(exchange && exchange.Image(buffer, static_cast<size_t>(length)));
}

DeviceResult CameraDevice::WriteByteRegister(int address, int value) {
    Exchange exchange(*this);
    return ResultOf(exchange && exchange.Command(CommandBlock(kRegisterWrite, HighByte(address),
                                                              LowByte(address), LowByte(value))));
}

DeviceResult CameraDevice::ReadByteRegister(int address, unsigned char* value) {
    Exchange exchange(*this);
    Sector status;
    if (!exchange || !exchange.Command(CommandBlock(kRegisterRead, HighByte(address), LowByte(address))) ||
        !exchange.Status(status)) {
        return kFailed;
    }
    if (value != nullptr) *value = status[kByteResultByte];
    return kDone;
}

DeviceResult CameraDevice::WriteWordRegister(int address, int value) { return WriteBytePair(address, value); }

DeviceResult CameraDevice::ReadWordRegister(int address, uint16_t* value) { return ReadBytePair(address, value); }

DeviceResult CameraDevice::WriteBytePair(int address, int value) {
    // Both halves are always attempted.
    const bool high = Succeeded(WriteByteRegister(address, HighByte(value)));
    const bool low = Succeeded(WriteByteRegister(NextAddress(address), LowByte(value)));
    return ResultOf(high && low);
}

DeviceResult CameraDevice::ReadBytePair(int address, uint16_t* value) {
    unsigned char high = 0, low = 0;
    const bool highRead = Succeeded(ReadByteRegister(address, &high));
    const bool lowRead = Succeeded(ReadByteRegister(NextAddress(address), &low));
    if (!highRead || !lowRead) return kFailed;
    if (value != nullptr) *value = static_cast<uint16_t>(high << 8 | low);
    return kDone;
}

DeviceResult CameraDevice::WriteRegister(int address, int value) {
    if (!IsWordProtocol()) return WriteBytePair(address, value);
    if (verifyWrites.load() == 0) return WriteWordRegister(address, value);
    // Format registers are read back: the sensor drops writes that arrive while it is reconfiguring.
    for (int attempt = 0; attempt < kVerifyAttempts; ++attempt) {
        WriteWordRegister(address, value);
        uint16_t readBack = 0;
        ReadWordRegister(address, &readBack);
        if (readBack == static_cast<uint16_t>(value)) return kDone;
        // A stalled camera fails every exchange without I/O until it answers: retries would only wait.
        if (Stalled()) return kFailed;
        SleepMs(kVerifyRetryMs);
    }
    return kFailed;
}

DeviceResult CameraDevice::ReadRegister(int address, uint16_t* value) {
    return IsWordProtocol() ? ReadWordRegister(address, value) : ReadBytePair(address, value);
}

// ---------------------------------------------------------------------------------------------------
// Settings and fixed answers

DeviceResult CameraDevice::SetTransferDepth(bool) { return kDone; }

void CameraDevice::SetTimeout(int value) {
    if (value >= kTimeoutMin && value <= kTimeoutMax) timeout = value;
}

int CameraDevice::GetTimeout() { return timeout.load(); }
int CameraDevice::GetDeviceCount() { return deviceCount; }
bool CameraDevice::IsValidDevice(int index) { return index >= 0 && index < deviceCount; }
int CameraDevice::GetDeviceIndex() { return deviceIndex; }

bool CameraDevice::SelectDevice(int index) {
    RefreshCount();
    if (!IsValidDevice(index)) return false;
    deviceIndex = index;
    claimPatienceMs = kSelectionClaimMs;
    const bool opened = Succeeded(Open());
    claimPatienceMs = kStartClaimMs;
    return opened;
}

DeviceResult CameraDevice::SetFormat(int, int, int, int, int) { return kFailed; }

void CameraDevice::GetFormat(int* x, int* y, int* w, int* h, int* s) {
    std::lock_guard lock(formatMutex);
    if (x != nullptr) *x = originX;
    if (y != nullptr) *y = originY;
    if (w != nullptr) *w = width;
    if (h != nullptr) *h = height;
    if (s != nullptr) *s = subsample;
}

DeviceResult CameraDevice::SetMirrorV(int) { return kFailed; }
int CameraDevice::GetMirrorV() { return 0; }
DeviceResult CameraDevice::SetMirrorH(int) { return kFailed; }
DeviceResult CameraDevice::SetMode(int) { return kFailed; }
DeviceResult CameraDevice::SetClock(int) { return kFailed; }
DeviceResult CameraDevice::GetClock(int*) { return kFailed; }
DeviceResult CameraDevice::SetIOPort(int) { return kFailed; }
DeviceResult CameraDevice::GetIOPort(unsigned char*) { return kFailed; }
DeviceResult CameraDevice::ReadSromId(int, unsigned char*) { return kFailed; }
DeviceResult CameraDevice::WriteSromId(int, int) { return kFailed; }

int CameraDevice::GetFrameBytes() {
    std::lock_guard lock(formatMutex);
    return sensor::Subsampled(width, subsample) * sensor::Subsampled(height, subsample);
}

int CameraDevice::GetTransferSize() { return TransferSizeOf(GetFrameBytes()); }

int CameraDevice::GetImageSize() {
    std::lock_guard lock(formatMutex);
    return ((sensor::Subsampled(width, subsample) + 3) & ~3) * sensor::Subsampled(height, subsample);
}

// ---------------------------------------------------------------------------------------------------
// Sensor setters: each holds the ring between two frames around its register traffic.

DeviceResult CameraDevice::SetColorGain(sensor::GainSite site, int value) {
    const auto index = static_cast<size_t>(site);
    if (index >= std::size(sensor::kColorGainRegisters)) return kFailed;
    const int reg = IsWordProtocol() ? sensor::kColorGainRegisters[index] : sensor::kColorGainBytePairs[index];
    const FrameRing::Pause pause(ring);
    if (!pause) return kNoAnswer;
    if ((value & 0xFFFF) > sensor::kColorGainRegisterMax) value = sensor::kColorGainRegisterMax;
    return WriteRegister(reg, value);
}

DeviceResult CameraDevice::SetGlobalGain(int value) {
    const FrameRing::Pause pause(ring);
    if (!pause) return kNoAnswer;
    if ((value & 0xFFFF) > sensor::kGlobalGainRegisterMax) value = sensor::kGlobalGainRegisterMax;
    return WriteRegister(sensor::kGlobalGainRegister, value);
}

DeviceResult CameraDevice::SetExposure(int value) {
    const FrameRing::Pause pause(ring);
    if (!pause) return kNoAnswer;
    if (value == 0) value = 1;  // the sensor takes at least one line period
    const DeviceResult result = WriteRegister(sensor::kExposureRegister, value);
    if (Succeeded(result)) exposureLines = value;
    return result;
}

// ---------------------------------------------------------------------------------------------------
// The ring's transport

FrameTransport::FrameSize CameraDevice::CurrentFrameSize() {
    std::lock_guard lock(formatMutex);
    const int frameBytes = sensor::Subsampled(width, subsample) * sensor::Subsampled(height, subsample);
    return {frameBytes, TransferSizeOf(frameBytes),
            sensor::FramePeriodNs(width, height, subsample, exposureLines.load(std::memory_order_relaxed))};
}

bool CameraDevice::RequestFirstFrame() {
    Exchange exchange(*this);
    if (!exchange.Locked()) return false;  // the drive stayed busy
    // Without a drive the loop starts and its first read fails: the stream ends in the error state.
    return !exchange || exchange.Command(CommandBlock(kFrameRequest));
}

bool CameraDevice::ReadFrameInto(AlignedBuffer& slot, size_t length, const std::atomic<bool>& stop) {
    const LoopRead read{&slot, &stop};
    tLoopRead = &read;
    const bool done = Succeeded(ReadFrame(slot.data(), static_cast<int>(length)));
    tLoopRead = nullptr;
    return done;
}

void CameraDevice::WakeFrameRead() {
    if (const std::shared_ptr<DriveSession> current = CurrentSession()) current->WakeWaiters();
}

}  // namespace zelvik
