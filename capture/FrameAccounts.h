// Where the frames of a stream went: every frame's number and arrival, the stage each lost frame was
// lost at, the facts of the frames handed to the application and the stream's totals.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "include/ZelvikSdk.h"

namespace zelvik {

// A frame as the frame path took it: its number, arrival and the stage totals over the frames before it.
struct FrameRecord {
    uint64_t sequence = 0;  // 0: none
    int64_t arrivalNs = 0;
    uint64_t overwritten = 0;
    uint64_t dropped = 0;
    uint64_t unread = 0;  // estimate
};

// Threads: the thread running the frame path (the capture thread, or the application's in SnapShot) takes
// frames (Took, Dropped, Processed), holding the engine's output lock; frames are handed out (HandOut) and
// their facts read (Facts, Begin) under the engine's delivery lock; the counters are relaxed atomics any
// thread may read (Totals). Nothing here takes a lock of its own.
class FrameAccounts {
public:
    // A new stream (no frame path running): every count starts again.
    void Begin(bool singleFrames);
    bool SingleFrames() const { return singleFrames_.load(std::memory_order_relaxed); }

    // --- the frame path ---
    // The frame path took frame `sequence`; `overwritten` frames were replaced in the ring since the frame
    // taken before it; `unread` is the estimate of frames the camera finished that no read took, up to it.
    void Took(uint64_t sequence, int64_t arrivalNs, uint64_t overwritten, uint64_t unread);
    // A single frame read on request: the next number of the stream, nothing lost before it.
    void TookSingle(int64_t arrivalNs);
    // The frame taken last was discarded unprocessed.
    void Dropped();
    // The frame taken last is the output image now.
    void Processed();
    // The output image's frame (read by other threads under the output lock).
    const FrameRecord& Output() const { return output_; }

    // --- the delivery lock ---
    // `frame` reached the application (a frame message posted, or copied by GetImage or SnapShot into
    // `buffer`, which may be null). A frame handed out before (GetImage of the frame a message announced)
    // counts once.
    void HandOut(const FrameRecord& frame, const void* buffer);
    // The facts of the last frame handed out (buffer null) or of the last frame copied into buffer.
    bool Facts(const void* buffer, ZelvikFrameFacts* facts) const;

    // --- any thread ---
    // The stage counters; framesRead and framesUnread come from the device while frames stream.
    void Totals(ZelvikStreamStats* stats) const;
    uint64_t SingleFramesRead() const { return singleRead_.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> singleFrames_{false};
    // The frame path's own: the frame being processed.
    FrameRecord current_;
    // The output image's frame: written by the frame path under the output lock.
    FrameRecord output_;
    // Written by the frame path, read by anyone.
    std::atomic<uint64_t> singleRead_{0}, overwritten_{0}, dropped_{0}, processed_{0};
    // Under the delivery lock (handedOut_ is also read by Totals).
    std::atomic<uint64_t> handedOut_{0};
    ZelvikFrameFacts last_{};  // of the last frame handed out; sequence 0 before the first
    struct Copy {
        const void* buffer = nullptr;
        ZelvikFrameFacts facts{};
    };
    std::array<Copy, 4> copies_{};  // the last frames copied into application buffers, newest first
};

}  // namespace zelvik
