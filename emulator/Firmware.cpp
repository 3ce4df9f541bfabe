// The firmware model of one emulated camera: command blocks, registers, paced frames and faults.
#include "emulator/Firmware.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "emulator/RegisterMap.h"

namespace zelvik::emu {
namespace {

constexpr uint16_t kWordMismatch = 0x0101;
constexpr uint8_t kByteMismatch = 0x01;

// Registers with a power-up value other than 0, in ascending address order.
struct ResetValue {
    uint16_t address;
    uint16_t value;
};

std::vector<ResetValue> ResetValues(Protocol protocol) {
    const bool byte = protocol == Protocol::Byte;
    return {
        {reg::kChipId, byte ? kByteChipId : kWordChipId},
        {reg::kRowStart, kRowOrigin},
        {reg::kColumnStart, kColumnOrigin},
        {reg::kRowSize, kSensorHeight - 1},
        {reg::kColumnSize, kSensorWidth - 1},
        {reg::kHorizontalBlank, kResetHorizontalBlank},
        {reg::kVerticalBlank, kResetVerticalBlank},
        {reg::kExposure, kResetExposure},
        {byte ? reg::kByteGainGreen1 : reg::kWordGainGreen1, kResetGain},
        {byte ? reg::kByteGainBlue : reg::kWordGainBlue, kResetGain},
        {byte ? reg::kByteGainRed : reg::kWordGainRed, kResetGain},
        {byte ? reg::kByteGainGreen2 : reg::kWordGainGreen2, kResetGain},
        {reg::kGlobalGain, kResetGain},
    };
}

void WriteIdentity(Identity identity, uint8_t* sector) {
    if (identity == Identity::Blank) return;
    std::memcpy(sector, kSignature, sizeof kSignature - 1);
    sector[kModelIdAByte] = kModelIdA;
    sector[kModelIdBByte] = kModelIdB;
    switch (identity) {
        case Identity::OtherVersion: std::memcpy(sector + kSignatureMatchLength, " V2.3", 5); break;
        case Identity::BadSignature: std::memcpy(sector, "MOVANE USB 2.0", 14); break;
        case Identity::BadModel: sector[kModelIdBByte] = 0x03; break;
        default: break;
    }
}

}  // namespace

const char* ProtocolName(Protocol protocol) {
    return protocol == Protocol::Byte ? "byte" : "word";
}

const char* IdentityName(Identity identity) {
    switch (identity) {
        case Identity::Intact: return "intact";
        case Identity::OtherVersion: return "version";
        case Identity::BadSignature: return "signature";
        case Identity::BadModel: return "model";
        case Identity::Blank: return "blank";
    }
    return "?";
}

std::optional<Identity> IdentityFromName(const std::string& name) {
    for (Identity identity : {Identity::Intact, Identity::OtherVersion, Identity::BadSignature,
                              Identity::BadModel, Identity::Blank}) {
        if (name == IdentityName(identity)) return identity;
    }
    return std::nullopt;
}

Firmware::Firmware(FirmwareOptions options)
    : options_(std::move(options)), scene_(options_.scene ? options_.scene : ColourBarsScene()) {
    PowerUp();
}

void Firmware::PowerUp() {
    registers_.fill(0);
    bytes_.assign(0x10000, 0);
    for (const ResetValue& r : ResetValues(options_.protocol)) {
        registers_[r.address] = r.value;
        // The byte view holds each register as its byte pair, later registers over earlier ones.
        bytes_[r.address] = static_cast<uint8_t>(r.value >> 8);
        bytes_[static_cast<uint16_t>(r.address + 1)] = static_cast<uint8_t>(r.value);
    }
    wordAddress_.reset();
    pendingByteWrite_.reset();
    byteResult_ = 0;
    wordResult_ = 0;
    lastFrame_ = Clock::now();
    frameNumber_ = 0;
    latched_.reset();
    cachedKey_.reset();
    cachedFrame_.reset();
}

uint64_t Firmware::Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

bool Firmware::Plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

bool Firmware::Claim(uint64_t generation) {
    std::lock_guard lock(mutex_);
    return claims_.insert(generation).second;
}

void Firmware::Unclaim(uint64_t generation) {
    std::lock_guard lock(mutex_);
    claims_.erase(generation);
}

// --- Transfers ---

int Firmware::BeginTransfer(std::unique_lock<std::mutex>& lock, uint64_t generation) {
    ++counters_.transfers;
    if (stallsPending_ > 0) {
        --stallsPending_;
        ++stalledNow_;
        const uint64_t epoch = unstallEpoch_;
        wake_.wait_until(lock, Clock::now() + stallHold_,
                         [&] { return unstallEpoch_ != epoch || !Attached(generation); });
        --stalledNow_;
    }
    return Attached(generation) ? 0 : -EIO;
}

int Firmware::Read(uint64_t generation, uint64_t offset, void* buffer, size_t length) {
    std::unique_lock lock(mutex_);
    if (!Attached(generation)) return -EIO;
    if (offset > kDiskSize || length > kDiskSize - offset) return -EINVAL;
    const uint64_t end = offset + length;
    // The host reads a frame in one transfer, but a file system may pass it on in pieces: a read that
    // begins inside the image area continues the frame of the current transfer.
    const bool continuesFrame = offset > kImageOffset;
    if (!continuesFrame) {
        if (int rc = BeginTransfer(lock, generation)) return rc;
    }
    const uint64_t readyByte = kStatusOffset + kReadyByte;
    if (options_.protocol == Protocol::Byte && offset <= readyByte && end > readyByte) {
        WaitForStatusLatency(lock, generation);
    }
    if (offset <= kImageOffset && end > kImageOffset) {
        if (int rc = WaitForFrame(lock, generation)) return rc;
        AdvanceFrame();
        latched_ = RenderCurrentFrame();
    } else if (continuesFrame && !latched_) {
        latched_ = RenderCurrentFrame();  // no transfer began: the current picture, not a new frame
    }
    if (!Attached(generation)) return -EIO;

    auto* out = static_cast<uint8_t*>(buffer);
    if (offset < kImageOffset) {
        const uint64_t stop = std::min(end, kImageOffset);
        std::memset(out, 0, stop - offset);
        if (offset < kStatusOffset + kSectorSize && end > kStatusOffset) {
            uint8_t sector[kSectorSize];
            ComposeStatus(sector);
            const uint64_t from = std::max(offset, kStatusOffset);
            const uint64_t to = std::min(end, kStatusOffset + kSectorSize);
            std::memcpy(out + (from - offset), sector + (from - kStatusOffset), to - from);
        }
    }
    if (end > kImageOffset) {
        const uint64_t from = std::max(offset, kImageOffset);
        uint8_t* dst = out + (from - offset);
        const size_t count = end - from;
        const size_t position = from - kImageOffset;
        const std::vector<uint8_t>& frame = *latched_;
        const size_t available = position < frame.size() ? std::min(count, frame.size() - position) : 0;
        std::memcpy(dst, frame.data() + position, available);
        std::memset(dst + available, 0, count - available);
    }
    return 0;
}

int Firmware::Write(uint64_t generation, uint64_t offset, const void* buffer, size_t length) {
    std::unique_lock lock(mutex_);
    if (!Attached(generation)) return -EIO;
    if (offset > kDiskSize || length > kDiskSize - offset) return -EINVAL;
    if (int rc = BeginTransfer(lock, generation)) return rc;
    ++counters_.writes;
    const uint64_t end = offset + length;
    const auto* in = static_cast<const uint8_t*>(buffer);
    if (offset <= kCommandOffset && end >= kCommandOffset + kSectorSize) {
        ExecuteCommand(in + (kCommandOffset - offset));
    } else if (offset < kCommandOffset + kSectorSize && end > kCommandOffset) {
        ++counters_.ignoredCommands;  // a part of the command sector is not a command
    }
    // Writes elsewhere land nowhere, like writes to a disk area the firmware does not use.
    return 0;
}

// --- Status sector and frame pacing ---

void Firmware::ComposeStatus(uint8_t* sector) const {
    std::memset(sector, 0, kSectorSize);
    WriteIdentity(options_.identity, sector);
    if (options_.protocol == Protocol::Byte) {
        sector[kReadyByte] = FrameReady(Clock::now()) ? 1 : 0;
        sector[kByteResultByte] = byteResult_;
    } else {
        sector[kWordResultLow] = static_cast<uint8_t>(wordResult_);
        sector[kWordResultHigh] = static_cast<uint8_t>(wordResult_ >> 8);
    }
}

double Firmware::PeriodSecondsLocked() const {
    if (options_.fps > 0) return 1.0 / options_.fps;
    const SensorWindow window = WindowFromRegisters(registers_);
    return TimingFromRegisters(registers_, window).PeriodSeconds();
}

Firmware::Clock::time_point Firmware::NextFrameDue() const {
    return lastFrame_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(PeriodSecondsLocked()));
}

bool Firmware::FrameReady(Clock::time_point now) const {
    if (neverReady_) return false;
    return !options_.paced || now >= NextFrameDue();
}

void Firmware::WaitForStatusLatency(std::unique_lock<std::mutex>& lock, uint64_t generation) {
    const Clock::time_point deadline = Clock::now() + kStatusReadLatency;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline || FrameReady(now) || !Attached(generation)) return;
        const Clock::time_point until = neverReady_ ? deadline : std::min(deadline, NextFrameDue());
        wake_.wait_until(lock, until);
    }
}

int Firmware::WaitForFrame(std::unique_lock<std::mutex>& lock, uint64_t generation) {
    if (!options_.paced) return 0;
    for (;;) {
        if (!Attached(generation)) return -EIO;
        // Recomputed on every wake-up: a register write may change the period meanwhile.
        const Clock::time_point due = NextFrameDue();
        if (Clock::now() >= due) return 0;
        wake_.wait_until(lock, due);
    }
}

void Firmware::AdvanceFrame() {
    const Clock::time_point now = Clock::now();
    if (options_.paced) {
        // The sensor runs on a fixed frame grid and the camera holds the last finished frame: a reader
        // that fell behind gets that frame at once and the next one at the next grid point.
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(PeriodSecondsLocked()));
        const Clock::time_point due = NextFrameDue();
        lastFrame_ = period.count() > 0 && now > due ? due + ((now - due) / period) * period : due;
    } else {
        lastFrame_ = now;
    }
    ++frameNumber_;
    ++counters_.framesDelivered;
    if (frameObserver_) frameObserver_(frameNumber_, lastFrame_);
}

std::shared_ptr<const std::vector<uint8_t>> Firmware::RenderCurrentFrame() {
    RenderKey key;
    key.window = WindowFromRegisters(registers_);
    const bool raw = scene_->Raw();
    if (!raw) key.levels = LevelsFromRegisters(registers_, options_.protocol == Protocol::Byte);
    key.frame = scene_->Animated() ? frameNumber_ : 0;
    if (!cachedKey_ || !(*cachedKey_ == key)) {
        auto frame = std::make_shared<std::vector<uint8_t>>();
        const LevelTables tables = BuildLevelTables(key.levels);
        RenderFrame(scene_->Frame(key.frame), key.window, raw ? nullptr : &tables, frame.get());
        cachedFrame_ = std::move(frame);
        cachedKey_ = key;
        ++counters_.renders;
    }
    return cachedFrame_;
}

// --- Command blocks ---

void Firmware::ExecuteCommand(const uint8_t* block) {
    // Address phases and byte-write pairs hold only for the very next command.
    const std::optional<uint16_t> wordAddress = std::exchange(wordAddress_, std::nullopt);
    const std::optional<uint16_t> previousByteWrite = std::exchange(pendingByteWrite_, std::nullopt);
    const uint8_t command = block[0];
    bool obeyed = true;
    if (command == kCmdFrameRequest) {
        ++counters_.frameRequests;
    } else if (options_.protocol == Protocol::Word) {
        const auto operand = static_cast<uint16_t>((block[2] << 8) | block[3]);
        if (command == kCmdWrite && block[1] == kWordPhaseAddress) {
            wordAddress_ = operand;
        } else if (command == kCmdWrite && block[1] == kWordPhaseData && wordAddress) {
            if (*wordAddress != reg::kChipId) registers_[*wordAddress] = operand;
        } else if (command == kCmdRead && block[1] == 0) {
            wordResult_ = registers_[operand] ^ (mismatch_ ? kWordMismatch : 0);
        } else {
            obeyed = false;  // unknown command, unknown phase, or data without an address
        }
    } else {
        const auto address = static_cast<uint16_t>((block[1] << 8) | block[2]);
        if (command == kCmdWrite) {
            WriteByteRegisterCommand(address, block[3], previousByteWrite);
            pendingByteWrite_ = address;
        } else if (command == kCmdRead) {
            byteResult_ = bytes_[address] ^ (mismatch_ ? kByteMismatch : 0);
        } else {
            obeyed = false;
        }
    }
    ++(obeyed ? counters_.commands : counters_.ignoredCommands);
}

// The byte protocol's sensor keeps 16-bit registers; a host writes register A as byte A (high) and
// then byte A + 1 (low), and that pair, back to back, is what sets the register the picture uses.
// Byte reads answer the bytes as last written.
void Firmware::WriteByteRegisterCommand(uint16_t address, uint8_t value, std::optional<uint16_t> pairedHigh) {
    if (address != reg::kChipId) bytes_[address] = value;  // byte 0, the chip id's high byte, is read only
    if (pairedHigh && static_cast<uint16_t>(*pairedHigh + 1) == address && *pairedHigh != reg::kChipId) {
        registers_[*pairedHigh] = static_cast<uint16_t>((bytes_[*pairedHigh] << 8) | value);
    }
}

// --- Faults ---

void Firmware::Unplug() {
    std::lock_guard lock(mutex_);
    plugged_ = false;
    latched_.reset();
    wake_.notify_all();
}

void Firmware::Replug() {
    std::lock_guard lock(mutex_);
    if (plugged_) return;
    plugged_ = true;
    ++generation_;
    PowerUp();
    wake_.notify_all();
}

void Firmware::Stall(int transfers, std::chrono::milliseconds hold) {
    std::lock_guard lock(mutex_);
    stallsPending_ = std::max(transfers, 0);
    stallHold_ = hold;
}

void Firmware::Unstall() {
    std::lock_guard lock(mutex_);
    stallsPending_ = 0;
    ++unstallEpoch_;
    wake_.notify_all();
}

void Firmware::SetReadbackMismatch(bool on) {
    std::lock_guard lock(mutex_);
    mismatch_ = on;
}

void Firmware::SetNeverReady(bool on) {
    std::lock_guard lock(mutex_);
    neverReady_ = on;
    wake_.notify_all();
}

void Firmware::SetIdentity(Identity identity) {
    std::lock_guard lock(mutex_);
    options_.identity = identity;
}

void Firmware::SetFrameRate(double fps) {
    std::lock_guard lock(mutex_);
    options_.fps = fps > 0 ? fps : 0;
    wake_.notify_all();
}

void Firmware::SetRegister(uint16_t address, uint16_t value) {
    std::lock_guard lock(mutex_);
    if (address == reg::kChipId) return;
    registers_[address] = value;
    bytes_[address] = static_cast<uint8_t>(value >> 8);
    bytes_[static_cast<uint16_t>(address + 1)] = static_cast<uint8_t>(value);
}

void Firmware::ObserveFrames(FrameObserver observer) {
    std::lock_guard lock(mutex_);
    frameObserver_ = std::move(observer);
}

void Firmware::Shutdown() {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
    wake_.notify_all();
}

// --- Inspection ---

uint16_t Firmware::Register(uint16_t address) const {
    std::lock_guard lock(mutex_);
    return registers_[address];
}

uint8_t Firmware::ByteRegister(uint16_t address) const {
    std::lock_guard lock(mutex_);
    return bytes_[address];
}

SensorWindow Firmware::Window() const {
    std::lock_guard lock(mutex_);
    return WindowFromRegisters(registers_);
}

double Firmware::FramePeriodSeconds() const {
    std::lock_guard lock(mutex_);
    return PeriodSecondsLocked();
}

FirmwareCounters Firmware::Counters() const {
    std::lock_guard lock(mutex_);
    FirmwareCounters c = counters_;
    c.stallsPending = stallsPending_;
    c.stalledNow = stalledNow_;
    return c;
}

std::string Firmware::Describe() const {
    std::lock_guard lock(mutex_);
    const SensorWindow w = WindowFromRegisters(registers_);
    const double period = PeriodSecondsLocked();
    char line[400];
    std::snprintf(line, sizeof line,
                  "%s %s-protocol window %d,%d %dx%d skip 1/%d,1/%d mirror %s frame %dx%d %.2f fps%s "
                  "frames %llu stalled %d pending %d mismatch %s noready %s identity %s scene %s",
                  plugged_ ? "plugged" : "unplugged", ProtocolName(options_.protocol), w.x, w.y, w.width,
                  w.height, w.columnSkip, w.rowSkip, w.mirror ? "on" : "off", w.outWidth, w.outHeight,
                  period > 0 ? 1.0 / period : 0.0, options_.paced ? "" : " (unpaced)",
                  static_cast<unsigned long long>(counters_.framesDelivered), stalledNow_, stallsPending_,
                  mismatch_ ? "on" : "off", neverReady_ ? "on" : "off", IdentityName(options_.identity),
                  scene_->Name().c_str());
    return line;
}

}  // namespace zelvik::emu
