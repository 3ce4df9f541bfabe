// The camera device interface: discovery, the disk transport, the register protocol and the sensor setters.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "device/DeviceResult.h"
#include "device/DiskProtocol.h"
#include "device/DriveSession.h"
#include "device/FrameRing.h"
#include "device/Sensor.h"
#include "platform/AlignedBuffer.h"
#include "platform/DiskSystem.h"

namespace zelvik {

// Base class of every camera model. It owns the open drive (its session) and the frame ring with the
// acquisition thread, which reads frames through this class's transport. Model-specific requests answer
// DeviceResult::Failed ("not done") here; a model class overrides them. A model class calls Close() in its
// destructor, so that the acquisition thread ends while the model's overrides exist.
class CameraDevice : private FrameTransport {
public:
    // Devices look for cameras on the given disks (the system's by default); the disks outlive the device.
    explicit CameraDevice(DiskSystem& disks = SystemDisks());
    virtual ~CameraDevice();
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    // --- cameras: counting, selection, opening ---
    // Camera index n is the (n+1)-th of drives 1..4 whose enumerated identity names the model; Open takes
    // exactly that disk, and only when its identification sector says so too.
    int GetDeviceCount();
    virtual bool IsValidDevice(int index);
    int GetDeviceIndex();
    // Counts the cameras attached now (the count otherwise stays as construction found it); the
    // selected index is kept. A device that never counted (CountDevices) keeps its count.
    void RefreshCount();
    // Opens camera index (the drive of an earlier selection is closed first).
    virtual bool SelectDevice(int index);
    virtual DeviceResult Open();
    void Close();
    // The last Open found its camera held by another handle (of this process or another): nothing was
    // read from it or written to it.
    bool CameraInUse() const { return cameraInUse.load(); }
    // The identity string of the open camera, empty when none is open.
    std::string OpenIdentity();
    // The index of the attached camera whose identity has this serial, counted now; -1 when none has.
    int IndexOfSerial(const std::string& serial);

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

    // --- acquisition (the frame ring, device/FrameRing.h) ---
    DeviceResult StartSingleFrame() { return ring.StartSingleFrame(); }
    // Waits for the single frame (the frame timeout) and copies it to destination (frame bytes of the format).
    // arrivalNs, when given, receives when the frame's read finished (steady clock, ns).
    DeviceResult FinishSingleFrame(void* destination, int64_t* arrivalNs = nullptr) {
        return ring.FinishSingleFrame(destination, timeout.load(), arrivalNs);
    }
    DeviceResult StartContinuous() { return ring.StartContinuous(); }
    DeviceResult StopAcquisition() {
        ring.Stop();
        return DeviceResult::Done;
    }
    FrameStatus GetFrameStatus() const { return ring.Status(); }
    FrameStatus WaitForFrame(std::chrono::milliseconds wait, const std::function<bool()>& interrupted) {
        return ring.WaitForFrame(wait, interrupted);
    }
    void WakeFrameWaiters() { ring.WakeFrameWaiters(); }
    DeviceResult CopyLatestFrame(void* destination) { return ring.CopyLatestFrame(destination); }
    FrameLease LeaseLatestFrame() { return ring.LeaseLatestFrame(); }
    float GetFrameRate() const { return ring.FrameRate(); }
    // Frames the acquisition read since its start, and the estimate of those the camera finished that no
    // read took (FrameRing::FramesRead, UnreadFrames).
    int FramesRead() const { return ring.FramesRead(); }
    uint64_t UnreadFrames() const { return ring.UnreadFrames(); }
    // The acquisition state's number (AcquisitionState).
    int GetState() const { return static_cast<int>(ring.State()); }
    // Frame bytes of the current format (one byte per pixel, before padding to 512).
    int GetFrameBytes();
    // The transfer that carries a frame: frame bytes rounded up to whole sectors.
    int GetTransferSize();
    // Frame bytes with each row padded to four bytes.
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
    // Sensor setters (each holds a FrameRing::Pause around its register traffic).
    DeviceResult SetColorGain(sensor::GainSite site, int value);
    DeviceResult SetGlobalGain(int value);
    DeviceResult SetExposure(int value);

    // A camera disk is open (Open matched one, and no Close or failed probe came since).
    bool IsOpen() const { return driveOpen.load(); }

    // Makes the exchanges this thread has with this device while the budget lives share one stall limit:
    // an operation of many exchanges (a capture start) then gives up after one time-out also when the
    // camera answers every transfer, only slowly. What the exchanges took counts, not the operation's own
    // waits between them. Once it is spent, every further exchange fails without I/O (the camera is not
    // marked as stalled for that: no transfer is left behind). An inner budget leaves the outer one in force.
    // Without a device (null) it bounds nothing.
    class CallBudget {
    public:
        explicit CallBudget(CameraDevice* device);
        ~CallBudget();
        CallBudget(const CallBudget&) = delete;
        CallBudget& operator=(const CallBudget&) = delete;

    private:
        friend class CameraDevice;
        CameraDevice* device_;
        std::chrono::nanoseconds remaining_;
        CallBudget* outer_;
    };

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
        // Notes the outcome: a failed transfer on the device (failedTransfers); a transfer left to the
        // worker ends the exchange.
        bool Noted(DriveSession::Outcome outcome);

        CameraDevice& device_;
        std::shared_ptr<DriveSession> session_;
        bool held_ = false;
        bool refused_ = false;
        DriveSession::Clock::time_point start_;
        DriveSession::Clock::time_point deadline_;
        CallBudget* budget_ = nullptr;  // the calling thread's budget with this device, if any
    };
    // How long one exchange may take (the wait for the drive included) before the camera counts as stalled.
    std::atomic<int> transportStallMs{5000};

    bool IsWordProtocol() const { return chipId.load() == protocol::kWordProtocolChipId; }
    // The byte protocol's word access: the register pair A (high byte), A+1 (low byte).
    DeviceResult WriteBytePair(int address, int value);
    DeviceResult ReadBytePair(int address, uint16_t* value);
    // Counts the attached cameras of a model (identity strings naming it) and selects index 0.
    void CountDevices(std::string_view modelCode);

    DiskSystem& disks;
    // The open drive and its transfer worker; replaced under sessionMutex, and retired when replaced.
    std::shared_ptr<DriveSession> CurrentSession();
    void ReplaceSession(std::shared_ptr<DriveSession> next, std::string nextIdentity = {});
    // The open drive's camera counts as stalled (see Exchange).
    bool Stalled();
    // The probe's read of a drive's identification sector, bounded like an exchange.
    bool ReadIdentification(DriveSession& probe, protocol::Sector& identification);
    std::mutex sessionMutex;
    std::shared_ptr<DriveSession> session;
    std::atomic<bool> driveOpen{false};  // session != null, readable without sessionMutex
    // Transfers that failed, counted by every exchange: a setter's pause ends the stream when one failed.
    std::atomic<uint64_t> failedTransfers{0};
    uint8_t modelIdA = 0, modelIdB = 0;
    std::atomic<int> timeout{3000};
    // The window fields change together (SetFormat) and are read by the acquisition thread.
    mutable std::mutex formatMutex;
    int originX = 0, originY = 0, width = 0, height = 0, subsample = 0;
    // The exposure in line periods the sensor was last given (0: none yet): it can stretch the frame.
    std::atomic<int> exposureLines{0};
    int mirrorV = 0;
    int deviceCount = 0, deviceIndex = 0;
    std::string countedModel;  // the model code CountDevices looked for; Open takes only disks naming it
    std::atomic<bool> cameraInUse{false};
    // How long Open waits for a camera whose lock is being let go of (a FUSE file lets go of it after its
    // close returns): briefly for the camera 0 a new device opens, longer for a selection.
    static constexpr int kStartClaimMs = 200;
    int claimPatienceMs = kStartClaimMs;
    std::string openIdentity;  // under sessionMutex
    std::atomic<uint16_t> chipId{0};
    // Set around a format's register writes: each is read back and retried (the word protocol only).
    std::atomic<int> verifyWrites{0};
    // Declared last: destroyed first, while the transport it reads through is whole.
    FrameRing ring{static_cast<FrameTransport&>(*this)};

private:
    // The ring's transport: frames go through the exchanges above.
    FrameSize CurrentFrameSize() override;
    bool RequestFirstFrame() override;
    bool ReadFrameInto(AlignedBuffer& slot, size_t length, const std::atomic<bool>& stop) override;
    void WakeFrameRead() override;
    uint64_t FailedTransfers() override { return failedTransfers.load(); }
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
