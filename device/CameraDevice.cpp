// The camera device base class: disk transport, byte register protocol, acquisition thread and frame ring.
#include "device/CameraDevice.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <vector>
#include <system_error>
#include <utility>

#include "device/SessionRecorder.h"
#include "platform/Clock.h"

namespace zelvik {

using namespace protocol;

namespace {

constexpr int kFirstDrive = 1;  // drive 0 is the system's own disk and is never touched
constexpr int kLastDrive = 4;
// Identity strings come from a 256-byte enumeration buffer, terminator included; longer ones are skipped.
constexpr size_t kIdentityLimit = 256;
constexpr int kTimeoutMin = 1;
constexpr int kTimeoutMax = 10000;
constexpr int kLoopPassWaitMs = 1000;
constexpr int kPausedSleepMs = 10;
constexpr int kVerifyAttempts = 10;
constexpr int kVerifyRetryMs = 10;
constexpr uint32_t kFrameRateWindowMs = 1000;
// A stop lets a frame transfer this close to its end finish instead of leaving it behind.
constexpr int kStopGraceMs = 250;

constexpr int kStateIdle = 0;
constexpr int kStateContinuous = 1;
constexpr int kStateSingleFrame = 2;
constexpr int kStatePaused = 3;
constexpr int kStateStop = 4;
constexpr int kStateError = 5;

constexpr DeviceResult kDone = DeviceResult::Done;
constexpr DeviceResult kFailed = DeviceResult::Failed;
constexpr DeviceResult kNoAnswer = DeviceResult::NoAnswer;

DeviceResult ResultOf(bool done) { return done ? kDone : kFailed; }

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The enumeration's rule: an identity names the maker, the USB 3.0 product and the model, fits the
// 256-byte enumeration entry, and does not contain "DS" (another product line), all case-sensitive.
bool IsCameraIdentity(std::string_view identity, std::string_view modelCode) {
    return identity.size() < kIdentityLimit && Contains(identity, "MOVANE") && Contains(identity, "USB3.0") &&
           Contains(identity, modelCode) && !Contains(identity, "DS");
}

bool IsIdentificationOf(const Sector& sector, uint8_t modelIdA, uint8_t modelIdB) {
    return std::memcmp(sector.data(), kSignature, kSignatureLength) == 0 &&
           sector[kModelIdAByte] == modelIdA && sector[kModelIdBByte] == modelIdB;
}

// The byte register after `address`; only the low 16 bits go on the wire, so the sum wraps there
// (computed unsigned: an address of INT_MAX must not overflow).
int NextAddress(int address) { return static_cast<int>((static_cast<uint32_t>(address) + 1u) & 0xFFFFu); }

// The ring buffer the acquisition loop is filling, on the loop's thread only (null on every other thread):
// the exchanges made there wait for their transfers until the stop, and hand this buffer to the drive
// session's worker when they leave a read behind.
thread_local AlignedBuffer* tLoopFrameBuffer = nullptr;

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Transport

CameraDevice::Exchange::Exchange(CameraDevice& device) : device_(device), session_(device.CurrentSession()) {
    if (!session_) return;  // no drive: nothing to refuse, nothing to use
    const std::chrono::milliseconds stallLimit(device.transportStallMs.load());
    deadline_ = DriveSession::Clock::now() + stallLimit;
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
}

DriveSession::Patience CameraDevice::Exchange::Patience() const {
    DriveSession::Patience patience;
    patience.stallAt = deadline_;
    if (tLoopFrameBuffer != nullptr) {
        // The acquisition loop has nothing else to do than wait for its camera, however slow; a stop ends
        // the wait (after a moment's grace for a transfer about to finish) and leaves the transfer behind.
        patience.giveUpWhenStalled = false;
        patience.stop = &device_.loopStopping;
        patience.stopGrace = std::chrono::milliseconds(kStopGraceMs);
        patience.owner = tLoopFrameBuffer;
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
    device_.transferFailed = true;
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

void CameraDevice::ReplaceSession(std::shared_ptr<DriveSession> next) {
    std::shared_ptr<DriveSession> previous;
    {
        std::lock_guard lock(sessionMutex);
        previous = std::exchange(session, std::move(next));
        driveOpen = session != nullptr;
    }
    if (previous) previous->Retire();
}

CameraDevice::CameraDevice(DiskSystem& disks) : disks(disks) {}

// A model class closes in its own destructor while its overrides still exist; this is the fallback that
// keeps the thread from outliving the object.
CameraDevice::~CameraDevice() { CameraDevice::Close(); }

void CameraDevice::CountDevices(const char* modelCode) {
    deviceCount = 0;
    if (modelCode != nullptr) {
        countedModel = modelCode;
        for (const std::string& identity : disks.DiskIdentities())
            if (IsCameraIdentity(identity, countedModel)) ++deviceCount;
    }
    deviceIndex = 0;
}

DeviceResult CameraDevice::Open() {
    // The drive of an earlier selection is closed before probing; a failed probe leaves no drive open.
    // A transfer of the earlier drive still in the kernel finishes on its session's worker, apart from
    // the new one.
    ReplaceSession(nullptr);
    // A disk is the camera only when both its enumerated identity and its identification sector say so:
    // a disk of another kind is never opened, whatever its sectors hold, so nothing is ever written to it.
    const std::vector<std::string> identities = disks.DiskIdentities();
    auto identityOf = [](const std::vector<std::string>& list, int number) {
        return static_cast<size_t>(number) <= list.size() ? list[static_cast<size_t>(number - 1)] : std::string();
    };
    int matches = 0;
    for (int number = kFirstDrive; number <= kLastDrive; ++number) {
        const std::string identity = identityOf(identities, number);
        if (!IsCameraIdentity(identity, countedModel)) continue;
        std::unique_ptr<DiskDrive> candidate = disks.OpenDrive(number);
        if (!candidate) continue;
        // Disks come and go: the drive opened under this number must still be the disk enumerated for it.
        if (identityOf(disks.DiskIdentities(), number) != identity) continue;
        // The probe only reads, through a session of its own, so that a camera that does not answer
        // holds it up no longer than an exchange.
        std::shared_ptr<DriveSession> probe = DriveSession::Start(std::move(candidate));
        if (!probe) continue;
        Sector identification;
        const bool camera =
            ReadIdentification(*probe, identification) && IsIdentificationOf(identification, modelIdA, modelIdB);
        if (camera && matches == deviceIndex) {
            const bool wrapped = probe->WrapDrive([&](std::unique_ptr<DiskDrive> probed) {
                return RecordSession(std::move(probed), identification.data());
            });
            if (!wrapped) {
                probe->Retire();
                return kFailed;
            }
            ReplaceSession(std::move(probe));
            return kDone;
        }
        probe->Retire();
        if (camera) ++matches;
    }
    return kFailed;
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
        if (poll > 0 && state.load() == kStateStop) return kFailed;
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
float CameraDevice::GetFrameRate() { return frameRate.load(); }
int CameraDevice::GetDeviceCount() { return deviceCount; }
bool CameraDevice::IsValidDevice(int index) { return index >= 0 && index < deviceCount; }
int CameraDevice::GetDeviceIndex() { return deviceIndex; }

bool CameraDevice::SelectDevice(int index) {
    if (!IsValidDevice(index)) return false;
    deviceIndex = index;
    return Succeeded(Open());
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

int CameraDevice::FrameBytesOf(int w, int h, int s) {
    const int step = 1 << std::clamp(s, 0, 3);
    return (w / step) * (h / step);
}

int CameraDevice::TransferSizeOf(int frameBytes) {
    const int sector = static_cast<int>(kSectorSize);
    return (frameBytes + sector - 1) / sector * sector;
}

int CameraDevice::GetFrameBytes() {
    std::lock_guard lock(formatMutex);
    return FrameBytesOf(width, height, subsample);
}

int CameraDevice::GetTransferSize() { return TransferSizeOf(GetFrameBytes()); }

int CameraDevice::GetImageSize() {
    std::lock_guard lock(formatMutex);
    const int step = 1 << std::clamp(subsample, 0, 3);
    return ((width / step + 3) & ~3) * (height / step);
}

// ---------------------------------------------------------------------------------------------------
// Sensor setters: each pauses a running acquisition around its register traffic.

DeviceResult CameraDevice::SetColorGain(sensor::GainSite site, int value) {
    const auto index = static_cast<size_t>(site);
    if (index >= std::size(sensor::kColorGainRegisters)) return kFailed;
    const int reg = IsWordProtocol() ? sensor::kColorGainRegisters[index] : sensor::kColorGainBytePairs[index];
    const Suspension suspended = SuspendAcquisition();
    if (suspended == Suspension::NoAck) return kNoAnswer;
    if ((value & 0xFFFF) > sensor::kColorGainRegisterMax) value = sensor::kColorGainRegisterMax;
    const DeviceResult written = WriteRegister(reg, value);
    ResumeAcquisition(suspended);
    return written;
}

DeviceResult CameraDevice::SetGlobalGain(int value) {
    const Suspension suspended = SuspendAcquisition();
    if (suspended == Suspension::NoAck) return kNoAnswer;
    if ((value & 0xFFFF) > sensor::kGlobalGainRegisterMax) value = sensor::kGlobalGainRegisterMax;
    const DeviceResult written = WriteRegister(sensor::kGlobalGainRegister, value);
    ResumeAcquisition(suspended);
    return written;
}

DeviceResult CameraDevice::SetExposure(int value) {
    const Suspension suspended = SuspendAcquisition();
    if (suspended == Suspension::NoAck) return kNoAnswer;
    if (value == 0) value = 1;  // the sensor takes at least one line period
    const DeviceResult written = WriteRegister(sensor::kExposureRegister, value);
    ResumeAcquisition(suspended);
    return written;
}

// ---------------------------------------------------------------------------------------------------
// Acquisition

DeviceResult CameraDevice::StartSingleFrame() { return StartAcquisition(kStateSingleFrame); }
DeviceResult CameraDevice::StartContinuous() { return StartAcquisition(kStateContinuous); }

DeviceResult CameraDevice::StartAcquisition(int mode) {
    if (thread.joinable()) {
        const int current = state.load();
        // A loop that ended on its own (single frame stored, or a failed read) is collected here;
        // one that still runs is left alone.
        if (current != kStateStop && current != kStateError) return kFailed;
        EndLoop();
    }
    // Buffers of an earlier acquisition are released first; the ring is sized for the current format.
    ReleaseRing();
    const int frameBytes = GetFrameBytes();
    const int transferSize = GetTransferSize();
    if (transferSize <= 0) return kFailed;
    for (FrameSlot& slot : frameSlots) {
        std::unique_lock hold(slot.guard);
        slot.buffer = AlignedBuffer(static_cast<size_t>(transferSize));
        if (slot.buffer.empty()) {
            hold.unlock();
            ReleaseRing();
            return kFailed;
        }
        // Mapped here rather than by the first frame read into each slot: the stream's first transfers
        // then cost what every later one costs. A single frame only ever uses slot 0.
        if (mode == kStateContinuous || &slot == &frameSlots[0]) slot.buffer.Populate();
    }
    frameCounter = 0;
    lastDelivered = 0;
    resumedAtFrame = -1;
    {
        Exchange exchange(*this);
        if (!exchange.Locked()) return kNoAnswer;  // the drive stayed busy
        if (exchange && !exchange.Command(CommandBlock(kFrameRequest))) return kNoAnswer;
    }
    state = mode;
    ringFrameBytes = frameBytes;
    doneEvent = std::make_unique<ManualResetEvent>();
    try {
        thread = std::thread([this] { AcquisitionLoop(); });
    } catch (const std::system_error&) {
        state = kStateIdle;
        ringFrameBytes = 0;
        doneEvent.reset();
        return kFailed;
    }
    return kDone;
}

void CameraDevice::AcquisitionLoop() {
    frameCounter = 0;
    int rateCount = 0;
    uint32_t rateStart = MillisecondClock();
    while (state.load() != kStateStop) {
        const int current = state.load();
        if (current == kStateContinuous || current == kStateSingleFrame) {
            // Fill the slot after the newest; sequence 0 marks it as being filled, so the newest
            // complete frame survives until two further frames have been stored.
            const int target = current == kStateSingleFrame ? 0 : SlotToFill();
            FrameSlot& slot = frameSlots[static_cast<size_t>(target)];
            bool stored = false;
            {
                std::lock_guard fill(slot.guard);
                slot.sequence = 0;
                const int length = GetTransferSize();
                // A window larger than the ring is never read into it.
                tLoopFrameBuffer = &slot.buffer;
                stored = length > 0 && static_cast<size_t>(length) <= slot.buffer.size() &&
                         Succeeded(ReadFrame(slot.buffer.data(), length));
                tLoopFrameBuffer = nullptr;
                if (stored) {
                    slot.arrivalNs = SteadyClockNs();
                    slot.sequence = ++frameCounter;
                }
            }
            if (!stored) {
                state = kStateError;
                WakeFrameWaiters();
                break;
            }
            WakeFrameWaiters();
            if (current == kStateSingleFrame) {
                int expected = kStateSingleFrame;
                state.compare_exchange_strong(expected, kStateStop);
            }
            ++rateCount;
            const uint32_t now = MillisecondClock();
            const uint32_t elapsed = now - rateStart;
            if (elapsed > kFrameRateWindowMs) {
                frameRate = static_cast<float>(rateCount * 1000.0 / elapsed);
                rateCount = 0;
                rateStart = now;
            }
        }
        SignalLoopPass();
        if (state.load() == kStatePaused) SleepMs(kPausedSleepMs);
    }
    doneEvent->Set();
}

void CameraDevice::SignalLoopPass() {
    if (ackEvent.load() == nullptr) return;
    std::lock_guard lock(ackMutex);
    if (ManualResetEvent* ack = ackEvent.load()) ack->Set();
}

FrameStatus CameraDevice::WaitForFrame(std::chrono::milliseconds timeout, const std::function<bool()>& interrupted) {
    FrameStatus status = FrameStatus::NoNewFrame;
    std::unique_lock lock(frameWaitMutex);
    frameArrived.wait_for(lock, timeout, [&] {
        status = GetFrameStatus();
        return status != FrameStatus::NoNewFrame || interrupted();
    });
    return status;
}

void CameraDevice::WakeFrameWaiters() {
    { std::lock_guard lock(frameWaitMutex); }  // a waiter between its check and its wait is waiting now
    frameArrived.notify_all();
}

int CameraDevice::NewestSlot() const {
    int newest = 0;
    int best = -1;
    for (int i = 0; i < 3; ++i) {
        const int sequence = frameSlots[static_cast<size_t>(i)].sequence.load();
        if (sequence > best) {
            best = sequence;
            newest = i;
        }
    }
    return newest;
}

int CameraDevice::SlotToFill() const {
    const int newest = NewestSlot();
    const int leased = leasedSlot.load();
    const int next = (newest + 1) % 3;
    // With a lease on the slot after the newest, the third slot is free.
    return next == leased ? (newest + 2) % 3 : next;
}

int CameraDevice::CopySlot(int index, void* destination) {
    FrameSlot& slot = frameSlots[static_cast<size_t>(index)];
    std::lock_guard hold(slot.guard);
    if (slot.buffer.empty()) return -1;
    const size_t bytes = std::min(static_cast<size_t>(std::max(GetFrameBytes(), 0)), slot.buffer.size());
    std::memcpy(destination, slot.buffer.data(), bytes);
    return slot.sequence.load();
}

FrameStatus CameraDevice::GetFrameStatus() {
    if (state.load() == kStateError) return FrameStatus::Error;
    const int delivered = lastDelivered.load();
    for (const FrameSlot& slot : frameSlots) {
        if (slot.sequence.load() > delivered) return FrameStatus::NewFrame;
    }
    return FrameStatus::NoNewFrame;
}

DeviceResult CameraDevice::CopyLatestFrame(void* destination) {
    if (destination == nullptr) return kFailed;
    const FrameLease lease = LeaseLatestFrame();
    if (!lease) return kFailed;  // no acquisition has allocated the ring
    std::memcpy(destination, lease.Bits(), lease.Bytes());
    return kDone;
}

FrameLease CameraDevice::LeaseLatestFrame() {
    FrameLease lease;
    int index = 0;
    std::unique_lock<std::mutex> hold;
    for (;;) {
        index = NewestSlot();
        // Announced before the guard is taken: a loop choosing its next slot from now on passes this one by.
        leasedSlot = index;
        hold = std::unique_lock(frameSlots[static_cast<size_t>(index)].guard, std::try_to_lock);
        if (hold.owns_lock()) break;
        // A loop that chose this slot just before the announcement is filling it; waiting for that read
        // could take as long as a stalled camera keeps it. The frame it replaced is no longer the newest:
        // look again (a copy holding the guard is over in a moment).
        std::this_thread::yield();
    }
    FrameSlot& slot = frameSlots[static_cast<size_t>(index)];
    if (slot.buffer.empty()) {
        leasedSlot = -1;
        return lease;
    }
    lease.device_ = this;
    lease.slot_ = index;
    lease.hold_ = std::move(hold);
    lease.bits_ = slot.buffer.data();
    lease.bytes_ = std::min(static_cast<size_t>(std::max(GetFrameBytes(), 0)), slot.buffer.size());
    lease.sequence_ = slot.sequence.load();
    lease.arrivalNs_ = slot.arrivalNs.load();
    lastDelivered = lease.sequence_;
    return lease;
}

FrameLease::FrameLease(FrameLease&& other) noexcept { *this = std::move(other); }

FrameLease& FrameLease::operator=(FrameLease&& other) noexcept {
    if (this != &other) {
        Return();
        device_ = std::exchange(other.device_, nullptr);
        slot_ = std::exchange(other.slot_, -1);
        hold_ = std::move(other.hold_);
        bits_ = std::exchange(other.bits_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
        sequence_ = std::exchange(other.sequence_, 0);
        arrivalNs_ = std::exchange(other.arrivalNs_, 0);
    }
    return *this;
}

void FrameLease::Return() {
    if (device_ == nullptr) return;
    // Cleared while the guard is still held: the loop may take the slot again once it is released.
    int expected = slot_;
    device_->leasedSlot.compare_exchange_strong(expected, -1);
    if (hold_.owns_lock()) hold_.unlock();
    device_ = nullptr;
    slot_ = -1;
    bits_ = nullptr;
    bytes_ = 0;
}

DeviceResult CameraDevice::FinishSingleFrame(void* destination) {
    const bool arrived = doneEvent == nullptr || doneEvent->WaitFor(timeout.load());
    // A frame that did not arrive in time does not leave the loop running: it is stopped here.
    EndLoop();
    if (!arrived) return kNoAnswer;
    if (destination == nullptr) return kFailed;
    // The loop has ended: slot 0 holds the frame, or sequence 0 when the read failed.
    if (frameSlots[0].sequence.load() == 0) return frameSlots[0].buffer.empty() ? kFailed : kNoAnswer;
    lastDelivered = CopySlot(0, destination);
    return kDone;
}

DeviceResult CameraDevice::StopAcquisition() {
    EndLoop();
    ReleaseRing();
    return kDone;
}

void CameraDevice::EndLoop() {
    state = kStateStop;
    // The loop leaves a transfer the camera does not finish to the drive session's worker and returns.
    loopStopping = true;
    if (const std::shared_ptr<DriveSession> current = CurrentSession()) current->WakeWaiters();
    if (thread.joinable()) thread.join();
    loopStopping = false;
    doneEvent.reset();
    ringFrameBytes = 0;
    state = kStateIdle;
}

void CameraDevice::ReleaseRing() {
    for (FrameSlot& slot : frameSlots) {
        std::lock_guard hold(slot.guard);  // a consumer still copying finishes first
        slot.buffer = AlignedBuffer();
        slot.sequence = 0;
    }
}

CameraDevice::Suspension CameraDevice::SuspendAcquisition() {
    // Setters called back to back (an exposure loop, a slider) would pause the loop again as soon as it
    // resumed, before it read anything: the loop reads one frame after each resume before the next pause.
    const int resumedAt = resumedAtFrame.load();
    const uint32_t start = MillisecondClock();
    while (resumedAt >= 0 && frameCounter.load() == resumedAt && state.load() == kStateContinuous &&
           MillisecondClock() - start < static_cast<uint32_t>(kLoopPassWaitMs)) {
        if (!WaitLoopPass()) SleepMs(1);
    }
    int expected = kStateContinuous;
    if (!state.compare_exchange_strong(expected, kStatePaused)) return Suspension::NotRunning;
    transferFailed = false;
    if (WaitLoopPass()) return Suspension::Paused;
    // No acknowledgement: streaming goes on and the caller leaves the registers alone.
    expected = kStatePaused;
    state.compare_exchange_strong(expected, kStateContinuous);
    return Suspension::NoAck;
}

void CameraDevice::ResumeAcquisition(Suspension suspended) {
    if (suspended != Suspension::Paused) return;
    resumedAtFrame = frameCounter.load();
    // Only a pause is lifted: a stop or an error that happened meanwhile stands. A transfer that failed
    // during the register traffic means the camera is gone: the stream ends as after a failed frame read.
    int expected = kStatePaused;
    state.compare_exchange_strong(expected, transferFailed.load() ? kStateError : kStateContinuous);
}

bool CameraDevice::WaitLoopPass() {
    auto ack = std::make_unique<ManualResetEvent>();
    ManualResetEvent* none = nullptr;
    if (!ackEvent.compare_exchange_strong(none, ack.get())) return false;  // another caller is waiting
    const bool passed = ack->WaitFor(kLoopPassWaitMs);
    {
        std::lock_guard lock(ackMutex);
        ackEvent = nullptr;
    }
    return passed;
}

}  // namespace zelvik
