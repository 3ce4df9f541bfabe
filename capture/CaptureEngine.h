// The capture engine of one handle: it owns the capture thread, the buffers of the colour modes, the
// frame path, the delivery target, the frame record and the counters, and runs every capture operation.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "capture/CaptureAccess.h"
#include "capture/CaptureBuffers.h"
#include "capture/FrameAccounts.h"
#include "capture/FramePath.h"
#include "capture/PreviewWindow.h"
#include "device/CameraDevice.h"
#include "include/ZelvikSdk.h"
#include "output/AviRecording.h"
#include "platform/Event.h"
#include "platform/RateMeter.h"

namespace zelvik {

class CameraInstance;

// Threads: the application's thread calls the operations (one exported call at a time per handle, as
// the call frame ensures); the capture thread runs StreamingLoop while streaming. The engine starts the
// capture thread in StartPreview and joins it in StopCapture, nowhere else. Operations return 1 for
// success and 0 for failure, and report the reason on the instance's error stack.
//
// The recording thread (Recording.cpp) is started by Record and joined in StopCapture after the capture
// thread. The capture thread converts each finished image into the recorder's queue (right after the
// frame path, once outputMutex_ is released); the recording thread appends the queued frames to the file.
// The preview window (PreviewWindow) lives here: placed by SetPreviewWindow, created by Preview,
// CallBackPreview and OpenPreviewWindow (the recorder's showWindow), drawn by the capture thread between
// the frame path and the delivery, left in place by StopPreview, destroyed by Close after the capture
// thread has been joined.
class CaptureEngine {
public:
    explicit CaptureEngine(CameraInstance& camera);
    // Close(): the capture thread has ended and the acquisition stopped when the engine is gone.
    ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // --- operations behind the exports (application thread) ---
    // Starts streaming (capture setup, capture thread, continuous acquisition). Already streaming: 1 at
    // once. Single-shot mode: error 1. Setup failure: its own code, then 1; thread failure: 3; acquisition
    // start failure: 6.
    int StartPreview();
    // Ends the capture thread, then the device's acquisition. No device: error 1. Acquisition stop
    // failure: error 6.
    int StopPreview();
    // Opens the preview window, then streams without frame delivery to the application (the callback
    // target and buffer are cleared). No window (no display, no such parent): error 4. A failed start
    // closes the engine and reports 8.
    int Preview();
    // Opens the preview window, then streams and delivers every frame: copied into buffer (size bytes; 0 or
    // null for no copy) with rows in memory order when keepRowOrder is non-zero, else last row first, and
    // announced to window with MSG_CAMERA_FRAME carrying the address of the frame record. The application
    // keeps the buffer alive while streaming; after a later call returns, the previous buffer is no longer
    // touched. Without any display, a program whose frames go to a message queue (or nowhere) streams
    // without a window; a window failure otherwise is error 4.
    int CallBackPreview(ZELVIK_HWND window, void* buffer, int size, int keepRowOrder);
    // Zelvik_SetPreviewWindow: where the next preview window goes (parent 0: top-level).
    void SetPreviewWindow(ZELVIK_HWND parent, int x, int y, int width, int height);
    // Creates the preview window for the current placement and the picture size of the current capture
    // window and subsample (replacing an existing one). 0 with error 4 when it cannot be made. Preview,
    // CallBackPreview and the recorder's showWindow use it.
    int OpenPreviewWindow();
    // Enters single-shot mode (capture setup, no thread). Streaming: error 1.
    int Capture();
    // Takes one frame on the calling thread, processes it and copies it into buffer when buffer and size
    // are both non-zero. Streaming: error 1; outside single-shot mode each call repeats the capture setup.
    int SnapShot(void* buffer, int size, int keepRowOrder);
    // Copies the newest finished image. 0 without an error when no image arrived since the last call;
    // error 1 without a device or a colour mode 0..5 to read; error 5 for a missing buffer, an image-less
    // engine or a buffer too small.
    int GetImage(void* buffer, int size, int keepRowOrder);
    // Zelvik_Close: the device leaves its capture mode, streaming stops, then the preview window goes.
    // Always 1.
    int Close();
    // Ends the capture thread (joined), then a running recording (its file finished) and, unless
    // idle, the device's acquisition; the mode becomes idle. 1, or 0 with error 6 when the acquisition
    // does not stop.
    int StopCapture();

    // --- recording and still images (Recording.cpp) ---
    // Streams (without delivery to the application) and records path for durationMs, counted from the
    // first recorded frame, on the recording thread; streaming goes on after the file is finished.
    // 1 when the recording runs. Errors: 9 for a null or empty path or a negative duration; 12 while a
    // recording runs, or when streaming cannot start or the file cannot be created (the capture is then
    // closed); 3 when the thread cannot start (closed as well). showWindow non-zero: the preview window
    // is opened first (OpenPreviewWindow; 0 with error 4 when it cannot be made, nothing started).
    int Record(const char* path, int durationMs, int showWindow);
    // The same with a wide path, converted to UTF-8 (not text, or longer than 1023 bytes: error 12).
    int RecordW(const wchar_t* path, int durationMs, int showWindow);
    // Writes the output image of the last capture in form format (0..6): a copy taken under outputMutex_,
    // encoded after the mutex is released. No device, or no image yet: error 1. A null or empty name or
    // a format outside 0..6: error 9; no memory for the copy: error 5; a file that cannot be created or
    // written (see OutputFile::Create): error 12, as Record reports it. A failed save leaves no file.
    int SaveImage(const char* fileName, int format);
    // The same with a wide name (not text, or longer than 1023 bytes: error 1).
    int SaveImageW(const wchar_t* fileName, int format);
    // Ends the running recording at its next frame as its time would, with a finished file; streaming
    // goes on. 0 when no recording runs (nothing reported).
    int FinishRecording();
    // The current or last recording. A null status or a size below 40 (the layout before framesQueued):
    // error 9; framesQueued is filled for a size of sizeof(ZelvikRecordStatus) or more.
    int GetRecordStatus(ZelvikRecordStatus* status);

    // --- state for the layers above and for tests ---
    CameraInstance& Camera() { return camera_; }
    int Mode() const { return captureMode_.load(); }
    // The frame record announced with every MSG_CAMERA_FRAME.
    const ZelvikFrameInfo& FrameInfo() const { return frameInfo_; }
    // When the acquisition read of the frame the record announces finished (steady clock, ns); 0 before
    // the first frame. Written by the capture thread right before MSG_CAMERA_FRAME.
    int64_t FrameArrivalNs() const { return frameArrivalNs_.load(); }
    struct Counters {
        std::atomic<uint64_t> delivered{0};  // frames announced with MSG_CAMERA_FRAME
        std::atomic<uint64_t> failed{0};     // frames lost to a failed read or a failed copy-out
        std::atomic<uint64_t> dropped{0};    // frames discarded because the sensor window changed under them
    };
    const Counters& FrameCounters() const { return counters_; }
    // ZelvikFrame_GetFacts: the facts of the last frame handed to the application, or of the last frame
    // copied into buffer. Any thread. 0 when there is none.
    int GetFrameFacts(const void* buffer, ZelvikFrameFacts* facts);
    // ZelvikStream_GetStats: where the frames of the current or last stream went, and the recording's
    // counts. Any thread. 0 for a null stats or a smaller size.
    int GetStreamStats(ZelvikStreamStats* stats);
    // The output buffer of the colour mode of the last capture setup (the current colour mode before any
    // setup); null when that mode is not 0..5.
    FrameBuffer* CapturedOutput();

private:
    enum class Intake { Read, Failed, Dropped };

    // Capture.cpp: setup, access, copy-out, delivery target.
    CaptureAccess CheckAndSetUp(CaptureOp op);
    CameraDevice* DeviceIfAny();
    int RunCaptureSetup();
    int StartStreamingWithDelivery();
    void SetDeliveryTarget(ZELVIK_HWND window, void* buffer, int size, int keepRowOrder);
    // The output into buffer: rows in memory order when keepRowOrder is non-zero, else last row first. A
    // buffer smaller than the output: error 5, posted and reported, and nothing copied.
    int CopyOut(const FrameBuffer& output, void* buffer, int size, int keepRowOrder);
    static bool CopyOutFits(const FrameBuffer& output, int size);
    // Rows [rowFrom, rowTo) of the output in CopyOut's layout, into a buffer it fits.
    static void CopyOutRows(const FrameBuffer& output, void* buffer, int rowFrom, int rowTo, int keepRowOrder);
    // MSG_CAMERA_FRAME with wParam 0 and an error code to the callback target (caller holds deliveryMutex_).
    void PostFrameError(int code);
    void JoinCaptureThread();

    // CaptureThread.cpp: the capture thread's body and its steps.
    void StreamingLoop();
    void StreamFrame(int mode, bool& windowReported);
    // The newest frame: lease holds its ring slot while mosaic (the slot itself, or the landing buffer
    // it was copied into) is processed.
    Intake ReadLatestFrame(int mode, FrameLease& lease, FrameBuffer*& mosaic);
    void MeasureFrameRate();
    void Deliver(bool fits);
    // True when the device delivers frames of exactly the landing buffer's width and height.
    bool LandingMatchesDevice();
    // Single-shot mode: when the sensor window changed since the setup, rebuilds the buffers of mode at
    // the device's window. False with error 5 when they could not be built.
    bool FitBuffersToDevice(int mode);
    // A frame of packed rows becomes a buffer image: rows spread to the stride (in place), and reversed
    // left to right when mirror H is set.
    void ArrangeLandedFrame(FrameBuffer& landing);

    CameraInstance& camera_;

    // Written by the application's thread (StartPreview, StopCapture), read by the capture thread each
    // pass: 1 run, 0 end. The capture thread clears it itself when the camera is lost.
    std::atomic<int32_t> runState_{0};
    // Written by the application's thread only; atomic so that tests and the capture thread may look.
    std::atomic<int32_t> captureMode_{kCaptureIdle};
    // The colour mode the buffers were built for by the last capture setup (-1: none yet). Written by the
    // application's thread under outputMutex_ at setup; the capture thread reads it once when it starts.
    std::atomic<int32_t> setupColorMode_{-1};
    // Set by the capture thread (and SnapShot) when an image is finished; taken by GetImage (exchange).
    std::atomic<int32_t> imageReady_{0};

    // Held by the frame path from the frame's read to its last band, and by every reader of the output
    // image on another thread (GetImage, SaveImage's copy, Record's picture size), so that no reader sees
    // a half-written image. Lock order: outputMutex_, then deliveryMutex_.
    std::mutex outputMutex_;
    // Built at setup (application's thread, outputMutex_ held, no capture thread running). Written only
    // by the thread that runs the frame path (the capture thread while streaming, the application's
    // thread in SnapShot): the output image under outputMutex_. Other threads read only the output image
    // of the mode, under outputMutex_; the capture thread's recorder conversion, drawing and delivery read
    // it without the mutex, as its one writer.
    CaptureBuffers buffers_;
    FramePath framePath_;
    // The capture thread's view of a leased ring slot while the frame path works in it (empty otherwise).
    FrameBuffer slotView_;

    // Where frames go. Written by the application's thread and read by the capture thread, both under
    // deliveryMutex_: after a change returns, the previous application buffer is no longer touched. The
    // capture thread holds it from a frame's first band copied out to the frame's message.
    std::mutex deliveryMutex_;
    ZELVIK_HWND callbackWindow_ = 0;
    void* appBuffer_ = nullptr;
    int32_t appBufferSize_ = 0;
    int32_t keepRowOrder_ = 0;

    // Written by the capture thread only; the application reads it by address after MSG_CAMERA_FRAME.
    // Each field is written only when its value changes, so a reader of the previous frame's record
    // sees stable values.
    ZelvikFrameInfo frameInfo_{};
    std::atomic<int64_t> frameArrivalNs_{0};
    // The arrival time of the frame in the frame path (capture thread only).
    int64_t landedArrivalNs_ = 0;
    // The frame rate in tenths of frames per second: written and read by the capture thread only.
    int32_t frameRate_ = 0;
    RateMeter rateMeter_;
    // Incremented by the capture thread, read by anyone (relaxed counters).
    Counters counters_;
    // Every frame of the stream and where it went (capture/FrameAccounts.h): counted by the thread running
    // the frame path under outputMutex_; frames handed out and their facts under deliveryMutex_.
    FrameAccounts accounts_;

    // Created and destroyed by the application's thread, drawn by the capture thread (its own lock).
    PreviewWindow preview_;

    // Started by StartPreview, joined by JoinCaptureThread (StopCapture, Close, the destructor).
    std::thread captureThread_;

    // --- recording (Recording.cpp) ---
    void RecordingLoop();
    // Clears recording_, joins the recording thread, and finishes a recording that was still running
    // with the frames written (its end becomes ZELVIK_REC_STOPPED).
    void JoinRecordingThread();
    void PublishRecording();

    // 1 while a recording runs. Set by Record before the thread starts; cleared by the recording thread
    // when the recording ends, or by the application's thread (StopCapture) to end it.
    std::atomic<int32_t> recording_{0};
    // The file and the queue of converted frames. Record starts it before the thread starts; from then
    // on the capture thread offers every processed frame (Offer), and only the recording thread writes,
    // until JoinRecordingThread has joined that thread. Its frame counters may be read at any time.
    AviRecording recorder_;
    // What ZelvikRec_GetStatus reports besides the recorder's frame counters: written by the recording
    // thread (and by JoinRecordingThread once it has joined that thread); Record resets them before the
    // thread starts. Relaxed atomics.
    struct RecordCounters {
        std::atomic<int32_t> end{0}, error{0};
        std::atomic<uint32_t> written{0}, elapsedMs{0}, durationMs{0}, rate{0};
    } recordCounters_;
    // Started by Record, joined by JoinRecordingThread (StopCapture, a later Record).
    std::thread recordThread_;

    // Set by JoinCaptureThread to end the capture loop's wait between passes at once, whatever the wait
    // time; reset once the thread is joined.
    ManualResetEvent captureWake_;
};

}  // namespace zelvik
