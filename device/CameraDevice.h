// The camera device interface: disk transport, sensor registers and the acquisition thread's frame ring.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/DiskProtocol.h"
#include "device/Sensor.h"
#include "device/DriveSession.h"
#include "platform/AlignedBuffer.h"
#include "platform/DiskSystem.h"
#include "platform/Event.h"

namespace zelvik {

// The one result type of the device operations.
enum class DeviceResult {
    Done,
    Failed,    // refused (bad argument, no ring, a feature this model lacks) or the transfer failed
    NoAnswer,  // the camera did not answer in time (busy drive, no loop acknowledgement, frame timeout)
};
inline bool Succeeded(DeviceResult result) { return result == DeviceResult::Done; }

// What the acquisition loop holds for a consumer.
enum class FrameStatus { Error, NoNewFrame, NewFrame };

class CameraDevice;

// The newest finished frame of the ring, lent to the consumer in place. While the lease lives, the slot's
// guard is held and the acquisition loop fills the other two slots, so the frame stays whole and the loop
// never waits for the consumer. Moving hands the slot on; destruction returns it.
class FrameLease {
public:
    FrameLease() = default;
    FrameLease(FrameLease&& other) noexcept;
    FrameLease& operator=(FrameLease&& other) noexcept;
    FrameLease(const FrameLease&) = delete;
    FrameLease& operator=(const FrameLease&) = delete;
    ~FrameLease() { Return(); }

    explicit operator bool() const { return bits_ != nullptr; }
    // The frame's packed rows (frame bytes of the format): writable, the slot is the consumer's alone
    // until it is returned.
    uint8_t* Bits() const { return bits_; }
    size_t Bytes() const { return bytes_; }
    int Sequence() const { return sequence_; }
    // When the acquisition read of this frame finished (steady clock, nanoseconds).
    int64_t ArrivalNs() const { return arrivalNs_; }
    // Gives the slot back to the ring now.
    void Return();

private:
    friend class CameraDevice;
    CameraDevice* device_ = nullptr;
    int slot_ = -1;
    std::unique_lock<std::mutex> hold_;
    uint8_t* bits_ = nullptr;
    size_t bytes_ = 0;
    int sequence_ = 0;
    int64_t arrivalNs_ = 0;
};

// Base class of every camera model. It owns the open drive, the three ring buffers and the acquisition
// thread. Model-specific requests answer DeviceResult::Failed ("not done") here; a model class overrides
// them. A model class calls Close() in its destructor, so that the acquisition thread ends while the
// model's overrides exist.
class CameraDevice {
public:
    // Devices look for cameras on the given disks (the system's by default); the disks outlive the device.
    explicit CameraDevice(DiskSystem& disks = SystemDisks());
    virtual ~CameraDevice();
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    // --- cameras: counting, selection, opening ---
    int GetDeviceCount();
    virtual bool IsValidDevice(int index);
    int GetDeviceIndex();
    // Opens camera index (the drive of an earlier selection is closed first).
    virtual bool SelectDevice(int index);
    virtual DeviceResult Open();
    void Close();

    // --- format and model features ---
    // The sensor window: Done, Failed (outside the sensor, or more frame bytes than a running ring
    // holds) or NoAnswer (the running loop did not pause).
    virtual DeviceResult SetFormat(int x, int y, int width, int height, int subsample);
    void GetFormat(int* x, int* y, int* width, int* height, int* subsample);
    // This camera transfers one byte per pixel whatever depth is asked for.
    DeviceResult SetTransferDepth(bool wide);
    virtual DeviceResult SetMirrorV(int flag);
    virtual int GetMirrorV();
    // Features this model does not have: each answers Failed and leaves its output untouched.
    DeviceResult SetMirrorH(int flag);
    DeviceResult SetMode(int value);
    DeviceResult SetClock(int value);
    DeviceResult GetClock(int* value);
    DeviceResult SetIOPort(int value);
    DeviceResult GetIOPort(unsigned char* value);
    DeviceResult ReadSromId(int index, unsigned char* value);
    DeviceResult WriteSromId(int index, int value);
    // Frame timeout of the transport: the polls of a byte-protocol frame read, and the single-frame wait
    // in ms. Values outside 1..10000 are ignored.
    void SetTimeout(int value);
    int GetTimeout();

    // --- acquisition ---
    DeviceResult StartSingleFrame();
    // Waits for the single frame and copies it to destination (frame bytes of the format).
    DeviceResult FinishSingleFrame(void* destination);
    DeviceResult StartContinuous();
    DeviceResult StopAcquisition();
    FrameStatus GetFrameStatus();
    // GetFrameStatus once it answers other than NoNewFrame (a frame stored since the last one delivered, or
    // the loop failed), `interrupted` returns true or `timeout` passes, whichever comes first. `interrupted`
    // is asked under the wait's lock: a caller that makes it true and then calls WakeFrameWaiters is
    // never missed.
    FrameStatus WaitForFrame(std::chrono::milliseconds timeout, const std::function<bool()>& interrupted);
    void WakeFrameWaiters();
    // Copies the newest frame to destination (frame bytes of the format).
    DeviceResult CopyLatestFrame(void* destination);
    // Lends the newest frame in place (see FrameLease); an empty lease when no acquisition has allocated
    // the ring. The frame counts as delivered.
    FrameLease LeaseLatestFrame();
    float GetFrameRate();
    int GetTransferSize();
    int GetImageSize();

    // --- registers: the transport's four accesses and the entry points above them ---
    virtual DeviceResult ReadFrame(void* buffer, int length);
    virtual DeviceResult WriteByteRegister(int address, int value);
    virtual DeviceResult ReadByteRegister(int address, unsigned char* value);
    virtual DeviceResult WriteWordRegister(int address, int value);
    virtual DeviceResult ReadWordRegister(int address, uint16_t* value);
    // Entry points for everything above the transport (exported register functions, sensor setters).
    DeviceResult WriteRegister(int address, int value);
    DeviceResult ReadRegister(int address, uint16_t* value);
    // Sensor setters (each pauses a running acquisition around its register traffic).
    DeviceResult SetColorGain(sensor::GainSite site, int value);
    DeviceResult SetGlobalGain(int value);
    DeviceResult SetExposure(int value);

    // Frame bytes of the current format (one byte per pixel, before padding to 512).
    int GetFrameBytes();
    int GetState() const { return state.load(); }
    // A camera disk is open (Open matched one, and no Close or failed probe came since).
    bool IsOpen() const { return driveOpen.load(); }

protected:
    // Holds the drive for one exchange with the camera (a command block and the status or image
    // transfer that answers it), so that a register access from any thread never interleaves with a
    // frame transfer. False when no drive is open, or when the camera counts as stalled: an exchange or
    // a transfer ran into transportStallMs and the camera has not answered since. The operation then
    // fails without I/O.
    //
    // The transfers run on the drive session's worker. An exchange waits for the drive and for its
    // transfers at most transportStallMs in all; then the camera counts as stalled, the transfer is left
    // to the worker (with the hold on the drive) and the exchange fails. On the acquisition thread a
    // transfer is waited for until it returns or the loop is stopped (see DriveSession::Patience).
    class Exchange {
    public:
        explicit Exchange(CameraDevice& device);
        ~Exchange();
        Exchange(const Exchange&) = delete;
        Exchange& operator=(const Exchange&) = delete;
        explicit operator bool() const { return held_; }
        // False when the drive was refused (stalled camera), true otherwise (also without a drive).
        bool Locked() const { return !refused_; }
        bool Command(const protocol::Sector& block);
        bool Status(protocol::Sector& sector);
        bool Image(void* buffer, size_t length);
        // A command and the image it answers, handed to the drive's worker as one job.
        bool CommandThenImage(const protocol::Sector& block, void* buffer, size_t length);

    private:
        DriveSession::Patience Patience() const;
        // Notes the outcome: a failed transfer on the device (see transferFailed); a transfer left to the
        // worker ends the exchange.
        bool Noted(DriveSession::Outcome outcome);

        CameraDevice& device_;
        std::shared_ptr<DriveSession> session_;
        bool held_ = false;
        bool refused_ = false;
        DriveSession::Clock::time_point deadline_;
    };
    // How long one exchange may take (the wait for the drive included) before the camera counts as stalled.
    std::atomic<int> transportStallMs{5000};

    bool IsWordProtocol() const { return chipId.load() == protocol::kWordProtocolChipId; }
    // Frame bytes of a window: one byte per pixel after subsampling by 1, 2, 4 or 8.
    static int FrameBytesOf(int width, int height, int subsample);
    // Frames are transferred in whole sectors.
    static int TransferSizeOf(int frameBytes);
    // The byte protocol's word access: the register pair A (high byte), A+1 (low byte).
    DeviceResult WriteBytePair(int address, int value);
    DeviceResult ReadBytePair(int address, uint16_t* value);
    // Counts the attached cameras of a model (identity strings naming it) and selects index 0.
    void CountDevices(const char* modelCode);

    // How a setter found the acquisition: not running, paused for it, or running without acknowledging
    // the pause (the setter then leaves the registers alone).
    enum class Suspension { NotRunning, Paused, NoAck };
    Suspension SuspendAcquisition();
    void ResumeAcquisition(Suspension suspended);

    DiskSystem& disks;
    // The open drive and its transfer worker; replaced under sessionMutex, and retired when replaced.
    std::shared_ptr<DriveSession> CurrentSession();
    void ReplaceSession(std::shared_ptr<DriveSession> next);
    // The open drive's camera counts as stalled (see Exchange).
    bool Stalled();
    // The probe's read of a drive's identification sector, bounded like an exchange.
    bool ReadIdentification(DriveSession& probe, protocol::Sector& identification);
    std::mutex sessionMutex;
    std::shared_ptr<DriveSession> session;
    std::atomic<bool> driveOpen{false};  // session != null, readable without sessionMutex
    // Set by a stop while the acquisition loop may wait for a transfer: the wait then ends.
    std::atomic<bool> loopStopping{false};
    uint8_t modelIdA = 0, modelIdB = 0;
    int pollOnly = 0;
    std::atomic<int> timeout{3000};
    std::atomic<float> frameRate{0.0f};
    // The window fields change together (SetFormat) and are read by the acquisition thread.
    mutable std::mutex formatMutex;
    int originX = 0, originY = 0, width = 0, height = 0, subsample = 0;
    int mirrorV = 0;
    int deviceCount = 0, deviceIndex = 0;
    std::string countedModel;  // the model code CountDevices looked for; Open takes only disks naming it
    // The loop fills a slot and a consumer copies one under the slot's guard. The loop fills the slot
    // after the newest, so the guard is contended only when a copy is overtaken by two further frames;
    // the copy then waits for the fill instead of reading a torn frame.
    struct FrameSlot {
        std::mutex guard;
        AlignedBuffer buffer;  // page-aligned so that frames go straight from a direct-I/O disk
        std::atomic<int> sequence{0};
        std::atomic<int64_t> arrivalNs{0};  // when the read that filled it finished
    };
    std::array<FrameSlot, 3> frameSlots;
    // The slot a FrameLease holds (-1: none). The loop fills neither it nor the newest slot.
    std::atomic<int> leasedSlot{-1};
    // Frame bytes of the format the running acquisition's ring was sized for; 0 when no thread runs.
    std::atomic<int> ringFrameBytes{0};
    std::atomic<int> frameCounter{0};
    // frameCounter when a setter last resumed the loop; -1 before any. The next pause waits for a frame.
    std::atomic<int> resumedAtFrame{-1};
    // Set by any exchange whose transfer failed; cleared when a setter pauses the loop, and looked at when
    // it resumes it.
    std::atomic<bool> transferFailed{false};
    std::atomic<int> lastDelivered{0};
    std::atomic<int> state{0};
    // WaitForFrame's wait: the loop wakes it after each stored frame and after a failed read.
    std::mutex frameWaitMutex;
    std::condition_variable frameArrived;
    std::thread thread;
    std::unique_ptr<ManualResetEvent> doneEvent;
    // The loop signals ackEvent under ackMutex, so a waiter can release the event safely.
    std::mutex ackMutex;
    std::atomic<ManualResetEvent*> ackEvent{nullptr};
    std::atomic<uint16_t> chipId{0};
    std::atomic<int> verifyWrites{0};
    int rowStart = 0, columnStart = 0, rowSize = 0, columnSize = 0;

private:
    friend class FrameLease;
    DeviceResult StartAcquisition(int mode);
    void AcquisitionLoop();
    // True when the loop passed once within a second.
    bool WaitLoopPass();
    // Ends the loop (state 4), joins the thread and releases the events; the ring is kept.
    void EndLoop();
    void ReleaseRing();
    int NewestSlot() const;
    // The slot the loop fills next: neither the newest nor a leased one.
    int SlotToFill() const;
    // Copies the frame bytes of a slot; the copied frame's sequence, or -1 when the ring is released.
    int CopySlot(int slot, void* destination);
    void SignalLoopPass();
};

// The device of this library's one camera model: window, subsampling, mirror, gains, exposure.
class Q77RXDevice : public CameraDevice {
public:
    explicit Q77RXDevice(DiskSystem& disks = SystemDisks());
    ~Q77RXDevice() override;
    DeviceResult SetFormat(int x, int y, int width, int height, int subsample) override;
    DeviceResult SetMirrorV(int flag) override;
    int GetMirrorV() override;
    DeviceResult Open() override;
    DeviceResult ReadFrame(void* buffer, int length) override;
    DeviceResult WriteWordRegister(int address, int value) override;
    DeviceResult ReadWordRegister(int address, uint16_t* value) override;
};

// The model factory: a new device that has counted the attached cameras and opened camera 0.
// Null when the object could not be allocated.
std::unique_ptr<CameraDevice> CreateCameraDevice(DiskSystem& disks = SystemDisks());

}  // namespace zelvik
