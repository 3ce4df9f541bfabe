// AviRecording: one timed recording into an AviWriter: a short queue of converted frames between the
// thread that finishes frames and the thread that writes them, the clock that starts at the first
// frame, the measured rate at the end, and why the recording ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "output/AviWriter.h"
#include "platform/AlignedBuffer.h"

namespace zelvik {

enum class RecordingEnd : int32_t {
    kRunning = 0,
    kTimeUp = 1,        // the requested time passed: finished with the measured rate
    kSizeLimit = 2,     // the next frame would have taken the file past 4 GiB: finished early
    kWriteFailed = 3,   // the system refused a write (disk full, file system gone): finished early
    kStopped = 4,       // stopped from outside: finished with the frames written
    kFinishFailed = 5,  // the end of the file could not be written
    kSourceLost = 6,    // the frames stopped coming (the camera was lost): finished with the frames written
};

// What Offer did with a frame.
enum class FrameOffer {
    kQueued,        // converted into a free slot: the writer will append it
    kSkipped,       // counted as skipped: every slot was taken (or the image cannot be recorded)
    kNotRecording,  // nothing taken or counted: no recording runs, or its last frame is already queued
};

// Three threads meet here. The frame thread (the capture thread) offers every finished frame; the
// writer thread (the recording thread) appends the queued frames in the order they were offered; the
// controlling thread (the application's) calls Start and Stop while the writer thread is not running,
// the frame thread possibly still offering. The slots are handed over through the atomic queue
// positions; their memory lives under a lock that the frame thread holds while it converts, so that
// the end of a recording can give it back while frames still arrive.
class AviRecording {
public:
    static constexpr uint32_t kNominalRate = 30;  // frames per second in the header until the end
    // Converted frames that may wait: one being written and three behind it ride out a write that stalls
    // for three frame times (about 220 ms at 13.7 frames per second), for 60 MB at full resolution.
    static constexpr uint32_t kQueueSlots = 4;

    explicit AviRecording(uint64_t riffLimit = AviWriter::kRiffLimit) : writer_(riffLimit) {}
    ~AviRecording() { Stop(); }
    AviRecording(const AviRecording&) = delete;
    AviRecording& operator=(const AviRecording&) = delete;

    // --- the controlling thread ---
    // Opens path for frames of width x height, builds the slots (touched now, so that no frame pays for
    // the first use of a page) and starts taking frames. durationMs counts from the first frame. 0 when
    // the file cannot be created or the slots cannot be built (no file then).
    int Start(const char* path, int32_t width, int32_t height, uint32_t durationMs);
    // Ends a running recording from outside: the file is finished with the frames written so far;
    // frames still queued stay unwritten (and counted as queued).
    void Stop();
    // Ends a running recording early, as its time would: the next frame offered is the last one queued,
    // and once it is written the file is finished (kTimeUp) with the measured rate.
    void EndAtNextFrame();

    // --- the frame thread ---
    // Converts the image into the next free slot, stamped with arrivalMs (the millisecond clock when
    // the frame arrived; call it while the image cannot change). The first queued frame starts the
    // recording's clock; the first one that arrived later than the requested time after it is the last
    // one queued. Every slot taken, or an image not of the recording's size: skipped.
    FrameOffer Offer(const ImageView& image, uint32_t arrivalMs);
    // No frame will come any more (the camera is gone): nothing more is taken, and once the writer has
    // appended what is queued, the recording ends as kSourceLost with a finished file.
    void EndOfFrames();

    // --- the writer thread ---
    bool HasQueued() const { return head_.load(std::memory_order_relaxed) != tail_.load(std::memory_order_acquire); }
    // True once EndOfFrames was called: AppendQueued then ends the recording when the queue is empty.
    bool FramesEnded() const { return framesEnded_.load(std::memory_order_acquire); }
    // Appends the oldest queued frame. Returns kRunning while the recording goes on (also when nothing
    // was queued), else how it ended (the file then finished).
    RecordingEnd AppendQueued();

    // --- any thread ---
    // Frames offered since Start while frames were taken (the frames the recording saw), those of them
    // skipped, and those queued and not written: waiting while it runs, left unwritten once it ended.
    uint32_t FramesOffered() const { return offered_.load(std::memory_order_relaxed); }
    uint32_t FramesSkipped() const { return skipped_.load(std::memory_order_relaxed); }
    uint32_t FramesQueued() const {
        const uint32_t head = head_.load(std::memory_order_acquire);  // before tail: never past it
        return tail_.load(std::memory_order_acquire) - head;
    }

    // --- the writer thread's state: read on that thread, or on another once it was joined ---
    bool Running() const { return end_ == RecordingEnd::kRunning && writer_.IsOpen(); }
    RecordingEnd End() const { return end_; }
    uint32_t FramesWritten() const { return written_; }
    // Milliseconds from the first frame to the last one appended, by their arrival times.
    uint32_t ElapsedMs() const { return last_ - start_; }
    // Frames per second x 100 written at the end (0 while running): the intervals between the frames
    // written over the time they span; the nominal rate when no interval was measured (fewer than two
    // frames, or all of them in one millisecond).
    uint32_t RateHundredths() const { return rate_; }
    // errno behind kWriteFailed or kFinishFailed.
    int Error() const { return writer_.Error(); }
    const AviWriter& Writer() const { return writer_; }

private:
    RecordingEnd Conclude(RecordingEnd why);
    // Takes no more frames and gives the slots back.
    void CloseQueue();
    uint8_t* Slot(uint32_t position) { return slots_.data() + (position % kQueueSlots) * slotStride_; }

    // The frame thread's side, under producerMutex_ (accepting_ is also read without it, as a hint).
    std::mutex producerMutex_;
    std::atomic<bool> accepting_{false};
    AlignedBuffer slots_;
    size_t slotStride_ = 0;
    int32_t width_ = 0, height_ = 0;
    uint32_t duration_ = 0;
    bool clockStarted_ = false;
    uint32_t clockStart_ = 0;

    // The queue: tail_ advanced by the frame thread once a slot is filled, head_ by the writer thread
    // once its frame is in the file. Each slot's arrival time and last-frame mark travel with it.
    std::atomic<uint32_t> head_{0}, tail_{0};
    uint32_t arrivalMs_[kQueueSlots] = {};
    bool lastFrame_[kQueueSlots] = {};
    std::atomic<uint32_t> offered_{0}, skipped_{0};
    // Set by EndOfFrames (under producerMutex_), read by the writer thread.
    std::atomic<bool> framesEnded_{false};

    // The writer thread's side.
    AviWriter writer_;
    uint32_t written_ = 0;
    bool started_ = false;
    uint32_t start_ = 0;
    uint32_t last_ = 0;
    uint32_t rate_ = 0;
    RecordingEnd end_ = RecordingEnd::kStopped;
};

}  // namespace zelvik
