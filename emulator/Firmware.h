// The firmware model of one emulated camera: the disk-sector protocol, the sensor registers, the
// paced frame stream and the faults a test can inject.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "emulator/FrameRenderer.h"
#include "emulator/Scene.h"

namespace zelvik::emu {

enum class Protocol { Word, Byte };

// What the identification sector says. Only Intact and OtherVersion are recognised by a host.
enum class Identity {
    Intact,        // "MOVANE USB 3.0 Camera V1.0", model bytes 0x50 0x02
    OtherVersion,  // the same signature with another version text ("... Camera V2.3")
    BadSignature,  // "MOVANE USB 2.0 Camera V1.0"
    BadModel,      // model byte B is 0x03
    Blank,         // all zero
};

struct FirmwareOptions {
    Protocol protocol = Protocol::Word;
    // Frames per second; 0 follows the sensor timing of the registers.
    double fps = 0;
    // False: a frame is ready whenever it is asked for (tests that do not want to wait).
    bool paced = true;
    // Null: the colour bars.
    std::shared_ptr<const Scene> scene;
    Identity identity = Identity::Intact;
};

struct FirmwareCounters {
    uint64_t transfers = 0;        // reads and writes, a frame read counted once
    uint64_t writes = 0;           // writes of any kind, also those ignored
    uint64_t commands = 0;         // command blocks obeyed
    uint64_t ignoredCommands = 0;  // command blocks ignored as malformed or unknown
    uint64_t frameRequests = 0;
    uint64_t framesDelivered = 0;
    uint64_t renders = 0;          // frames rendered afresh (the rest came from the cache)
    int stallsPending = 0;         // transfers still to be stalled
    int stalledNow = 0;            // transfers blocked in a stall at this moment
};

class Firmware {
public:
    // How long a stalled transfer blocks unless released earlier.
    static constexpr std::chrono::milliseconds kDefaultStallHold{2000};
    // A byte-protocol status read that finds no frame ready waits up to this long for one, as the
    // round trip of a real status read would.
    static constexpr std::chrono::microseconds kStatusReadLatency{1000};

    explicit Firmware(FirmwareOptions options = {});
    Firmware(const Firmware&) = delete;
    Firmware& operator=(const Firmware&) = delete;

    // --- The disk. A handle is opened in one plug generation and works only while the camera stays
    // plugged in that generation (a replugged camera is a new device). Transfers return 0 or a
    // negative errno: EIO while unplugged, EINVAL beyond the end of the disk. ---
    uint64_t Generation() const;
    bool Plugged() const;
    int Read(uint64_t generation, uint64_t offset, void* buffer, size_t length);
    int Write(uint64_t generation, uint64_t offset, const void* buffer, size_t length);
    // The lock on the disk node, as the kernel keeps it for an opened device: one holder per plug
    // generation. A handle of an earlier generation (a camera lost and plugged in again) never holds up
    // the new one, as a replugged USB disk is a new device. False when the generation is held.
    bool Claim(uint64_t generation);
    void Unclaim(uint64_t generation);

    // --- Faults ---
    void Unplug();
    // Plugs the camera in again: a new generation, the sensor powered up afresh (registers reset).
    void Replug();
    // The next `transfers` transfers each block for `hold` (or until Unstall), then complete.
    void Stall(int transfers, std::chrono::milliseconds hold = kDefaultStallHold);
    // Releases blocked transfers and cancels the stalls still pending.
    void Unstall();
    // Register reads answer a value that differs from the register (word: XOR 0x0101, byte: XOR 0x01).
    void SetReadbackMismatch(bool on);
    // The byte protocol's frame-ready flag stays 0.
    void SetNeverReady(bool on);
    void SetIdentity(Identity identity);
    // 0 follows the sensor timing; otherwise a fixed rate.
    void SetFrameRate(double fps);
    // A sensor register changes behind the host's back (another host, the sensor's own reset of a bit):
    // the register and, for the byte protocol, both of its bytes. The chip id stays read only.
    void SetRegister(uint16_t address, uint16_t value);
    // Ends every wait at once (stalls, frame pacing): used when the emulator shuts down.
    void Shutdown();

    // Told of every frame a host reads: its number (the one the scene renders) and the moment the
    // sensor finished it, i.e. when the frame became ready (the grid point at which the byte protocol
    // raises its ready flag; unpaced, the moment of the read). Called with the firmware's lock held,
    // so it must be quick and must not call back into this firmware. Null stops the reports.
    using FrameObserver = std::function<void(uint64_t frameNumber, std::chrono::steady_clock::time_point ready)>;
    void ObserveFrames(FrameObserver observer);

    // --- Inspection ---
    Protocol GetProtocol() const { return options_.protocol; }
    // A 16-bit sensor register as the sensor uses it.
    uint16_t Register(uint16_t address) const;
    // Byte protocol: a byte register as byte reads answer it.
    uint8_t ByteRegister(uint16_t address) const;
    SensorWindow Window() const;
    double FramePeriodSeconds() const;
    FirmwareCounters Counters() const;
    std::string Describe() const;  // one line: state, window, rate, faults

private:
    using Clock = std::chrono::steady_clock;

    bool Attached(uint64_t generation) const { return plugged_ && generation == generation_ && !shutdown_; }
    void PowerUp();
    int BeginTransfer(std::unique_lock<std::mutex>& lock, uint64_t generation);
    void ComposeStatus(uint8_t* sector) const;
    bool FrameReady(Clock::time_point now) const;
    Clock::time_point NextFrameDue() const;
    void WaitForStatusLatency(std::unique_lock<std::mutex>& lock, uint64_t generation);
    int WaitForFrame(std::unique_lock<std::mutex>& lock, uint64_t generation);
    void AdvanceFrame();
    std::shared_ptr<const std::vector<uint8_t>> RenderCurrentFrame();
    void ExecuteCommand(const uint8_t* block);
    void WriteByteRegisterCommand(uint16_t address, uint8_t value, std::optional<uint16_t> pairedHigh);
    double PeriodSecondsLocked() const;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    FirmwareOptions options_;
    std::shared_ptr<const Scene> scene_;

    // Plug state and faults.
    bool plugged_ = true;
    bool shutdown_ = false;
    uint64_t generation_ = 1;
    std::set<uint64_t> claims_;  // generations whose node lock is held
    int stallsPending_ = 0;
    int stalledNow_ = 0;
    uint64_t unstallEpoch_ = 0;
    std::chrono::milliseconds stallHold_ = kDefaultStallHold;
    bool mismatch_ = false;
    bool neverReady_ = false;

    // Sensor and command state.
    RegisterFile registers_{};
    std::vector<uint8_t> bytes_;                // byte protocol: the byte registers as read
    std::optional<uint16_t> wordAddress_;       // word protocol: address phase awaiting its data
    std::optional<uint16_t> pendingByteWrite_;  // byte protocol: address of the previous byte write
    uint8_t byteResult_ = 0;
    uint16_t wordResult_ = 0;

    // Frame stream.
    Clock::time_point lastFrame_;
    uint64_t frameNumber_ = 0;
    FrameObserver frameObserver_;
    std::shared_ptr<const std::vector<uint8_t>> latched_;  // the frame of the current transfer
    struct RenderKey {
        SensorWindow window;
        LevelRegisters levels;
        uint64_t frame = 0;
        bool operator==(const RenderKey&) const = default;
    };
    std::optional<RenderKey> cachedKey_;
    std::shared_ptr<const std::vector<uint8_t>> cachedFrame_;

    FirmwareCounters counters_;
};

const char* ProtocolName(Protocol protocol);
const char* IdentityName(Identity identity);
std::optional<Identity> IdentityFromName(const std::string& name);

}  // namespace zelvik::emu
