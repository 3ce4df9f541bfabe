// The camera device interface: disk transport, sensor registers and the acquisition thread's frame ring.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/DiskProtocol.h"
#include "device/TransportMutex.h"
#include "platform/AlignedBuffer.h"
#include "platform/DiskSystem.h"
#include "platform/Event.h"

namespace zelvik {

// Base class of every camera model. It owns the open drive, the three ring buffers and the acquisition
// thread. Model-specific requests answer with fixed "not done" values here; a model class overrides them.
// The virtual operations are declared in the order of the device's slot table (0..46). A model class
// calls Close() in its destructor, so that the acquisition thread ends while the model's overrides exist.
class CameraDevice {
public:
    // Devices look for cameras on the given disks (the system's by default); the disks outlive the device.
    explicit CameraDevice(DiskSystem& disks = SystemDisks());
    virtual ~CameraDevice();                                         // 0
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    virtual void Noop();                                             // 1
    virtual void CountDevices(const char* modelCode);                // 2
    virtual int SetTransferDepth(int wide);                          // 3
    virtual void SetTimeout(int value);                              // 4
    virtual int GetTimeout();                                        // 5
    virtual float GetFrameRate();                                    // 6
    virtual int StartSingleFrame();                                  // 7
    virtual int Reserved8();                                         // 8
    virtual int PollSingleFrame();                                   // 9
    virtual int Reserved10();                                        // 10
    virtual int FinishSingleFrame(void* destination, int, int, int); // 11
    virtual int StartContinuous();                                   // 12
    virtual int StopAcquisition();                                   // 13
    virtual void AcquisitionLoop();                                  // 14
    virtual int GetFrameStatus();                                    // 15: 1 error, 2 no new frame, 3 new frame
    virtual int CopyLatestFrame(void* destination, int, int, int);   // 16
    virtual int GetDeviceCount();                                    // 17
    virtual int IsValidDevice(int index);                            // 18
    virtual int GetDeviceIndex();                                    // 19
    virtual int SelectDevice(int index);                             // 20: 0 opened, 1 failed
    virtual int SetFormat(int x, int y, int width, int height, int subsample);  // 21: 0, 1 rejected, 20
    virtual int GetFormat(int* x, int* y, int* width, int* height, int* subsample);  // 22
    virtual int SetMirrorH(int flag);                                // 23
    virtual int SetMirrorV(int flag);                                // 24: 0 done
    virtual int Reserved25();                                        // 25
    virtual int GetMirrorV();                                        // 26
    virtual int SetMode(int value);                                  // 27
    virtual int Reserved28();                                        // 28
    virtual int SetClock(int value);                                 // 29
    virtual int GetClock(int* value);                                // 30
    virtual int SetIOPort(int value);                                // 31
    virtual int GetIOPort(unsigned char* value);                     // 32
    virtual int ReadSromId(int index, unsigned char* value);         // 33
    virtual int WriteSromId(int index, int value);                   // 34
    virtual int SuspendAcquisition();                                // 35: 0 not running, 1 paused, -1 no ack
    virtual void ResumeAcquisition(int suspended);                   // 36
    virtual int WaitLoopPass();                                      // 37
    virtual int GetTransferSize();                                   // 38
    virtual int GetImageSize();                                      // 39
    virtual int Open();                                              // 40
    virtual void Close();                                            // 41
    virtual int ReadFrame(void* buffer, int length);                 // 42
    virtual int WriteByteRegister(int address, int value);           // 43
    virtual int ReadByteRegister(int address, unsigned char* value); // 44
    virtual int WriteWordRegister(int address, int value);           // 45
    virtual int ReadWordRegister(int address, uint16_t* value);      // 46

    // Entry points for everything above the transport (exported register functions, sensor setters).
    int WriteRegister(int address, int value);
    int ReadRegister(int address, uint16_t* value);
    // Sensor setters: 1 written, 0 failed (or, for SetColorGain, not one of registers 0x2B..0x2E).
    int SetColorGain(int reg, int value);
    int SetGlobalGain(int value);
    int SetExposure(int value);

    // Frame bytes of the current format (one byte per pixel, before padding to 512).
    int GetFrameBytes();
    int GetState() const { return state.load(); }
    // A camera disk is open (Open matched one, and no Close or failed probe came since).
    bool IsOpen() const { return driveOpen.load(); }

protected:
    // Holds the drive for one exchange with the camera (a command block and the status or image
    // transfer that answers it), so that a register access from any thread never interleaves with a
    // frame transfer. False when no drive is open, or when another exchange has held the drive for
    // transportStallMs (a stalled camera): the operation then fails without I/O.
    class Exchange {
    public:
        explicit Exchange(CameraDevice& device);
        explicit operator bool() const { return drive_ != nullptr; }
        bool Locked() const { return lock_.owns_lock(); }
        bool Command(const protocol::Sector& block);
        bool Status(protocol::Sector& sector);
        bool Image(void* buffer, size_t length);

    private:
        // Notes a failed transfer on the device (see transferFailed).
        bool Noted(bool transferred);

        std::unique_lock<TransportMutex> lock_;
        DiskDrive* drive_ = nullptr;
        std::atomic<bool>* failed_ = nullptr;
    };
    // How long one exchange may hold the drive before the others take the camera as stalled.
    std::atomic<int> transportStallMs{5000};

    bool IsWordProtocol() const { return chipId.load() == protocol::kWordProtocolChipId; }
    // Frame bytes of a window: one byte per pixel after subsampling by 1, 2, 4 or 8.
    static int FrameBytesOf(int width, int height, int subsample);
    // Frames are transferred in whole sectors.
    static int TransferSizeOf(int frameBytes);
    // The byte protocol's word access: the register pair A (high byte), A+1 (low byte).
    int WriteBytePair(int address, int value);
    int ReadBytePair(int address, uint16_t* value);

    DiskSystem& disks;
    std::unique_ptr<DiskDrive> drive;  // replaced or released only under transportMutex
    std::atomic<bool> driveOpen{false};  // drive != null, readable without the transport lock
    TransportMutex transportMutex;
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
    };
    std::array<FrameSlot, 3> frameSlots;
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
    std::thread thread;
    std::unique_ptr<ManualResetEvent> doneEvent;
    // The loop signals ackEvent under ackMutex, so a waiter can release the event safely.
    std::mutex ackMutex;
    std::atomic<ManualResetEvent*> ackEvent{nullptr};
    std::atomic<uint16_t> chipId{0};
    std::atomic<int> verifyWrites{0};
    int rowStart = 0, columnStart = 0, rowSize = 0, columnSize = 0;

private:
    int StartAcquisition(int mode);
    // Ends the loop (state 4), joins the thread and releases the events; the ring is kept.
    void EndLoop();
    void ReleaseRing();
    int NewestSlot() const;
    // Copies the frame bytes of a slot; the copied frame's sequence, or -1 when the ring is released.
    int CopySlot(int slot, void* destination);
    void SignalLoopPass();
};

// The device of this library's one camera model: window, subsampling, mirror, gains, exposure.
class Q77RXDevice : public CameraDevice {
public:
    explicit Q77RXDevice(DiskSystem& disks = SystemDisks());
    ~Q77RXDevice() override;
    int SetFormat(int x, int y, int width, int height, int subsample) override;
    int SetMirrorV(int flag) override;
    int GetMirrorV() override;
    int Open() override;
    int ReadFrame(void* buffer, int length) override;
    int WriteWordRegister(int address, int value) override;
    int ReadWordRegister(int address, uint16_t* value) override;
};

// The model factory: a new device that has counted the attached cameras and opened camera 0.
// Null when the object could not be allocated.
std::unique_ptr<CameraDevice> CreateCameraDevice(DiskSystem& disks = SystemDisks());

}  // namespace zelvik
