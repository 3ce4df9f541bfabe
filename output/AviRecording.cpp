// AviRecording: the frame queue, timing from the first frame, the measured rate and the end.
#include "output/AviRecording.h"

namespace zelvik {

int AviRecording::Start(const char* path, int32_t width, int32_t height, uint32_t durationMs) {
    Stop();
    end_ = RecordingEnd::kStopped;
    started_ = false;
    start_ = last_ = rate_ = written_ = 0;
    head_ = 0;
    tail_ = 0;
    offered_ = 0;
    skipped_ = 0;
    framesEnded_ = false;
    if (width <= 0 || height <= 0) return 0;
    const size_t frameBytes = size_t(width) * size_t(height) * 3;
    const size_t stride = AlignedBuffer::RoundUp(frameBytes);
    AlignedBuffer slots(stride * kQueueSlots);
    if (slots.empty()) return 0;
    slots.Populate();
    if (!writer_.Open(path, width, height, kNominalRate)) return 0;
    end_ = RecordingEnd::kRunning;
    std::lock_guard lock(producerMutex_);
    slots_ = std::move(slots);
    slotStride_ = stride;
    width_ = width;
    height_ = height;
    duration_ = durationMs;
    clockStarted_ = false;
    accepting_ = true;
    return 1;
}

FrameOffer AviRecording::Offer(const ImageView& image, uint32_t arrivalMs) {
    if (!accepting_.load(std::memory_order_relaxed)) return FrameOffer::kNotRecording;
    std::lock_guard lock(producerMutex_);
    if (!accepting_.load(std::memory_order_relaxed)) return FrameOffer::kNotRecording;
    offered_.fetch_add(1, std::memory_order_relaxed);
    const uint32_t tail = tail_.load(std::memory_order_relaxed);
    // The writer gives a slot back only once its frame is in the file.
    const bool full = tail - head_.load(std::memory_order_acquire) == kQueueSlots;
    if (full || image.width != width_ || image.height != height_ || !ConvertToAviFrame(image, Slot(tail))) {
        skipped_.fetch_add(1, std::memory_order_relaxed);
        return FrameOffer::kSkipped;
    }
    if (!clockStarted_) {
        clockStarted_ = true;
        clockStart_ = arrivalMs;
    }
    // Taken on the wrapping clock as a difference, so a recording that spans the wrap still ends on time.
    const bool last = arrivalMs - clockStart_ > duration_;
    arrivalMs_[tail % kQueueSlots] = arrivalMs;
    lastFrame_[tail % kQueueSlots] = last;
    if (last) accepting_ = false;
    tail_.store(tail + 1, std::memory_order_release);
    return FrameOffer::kQueued;
}

void AviRecording::EndOfFrames() {
    std::lock_guard lock(producerMutex_);
    accepting_ = false;
    framesEnded_.store(true, std::memory_order_release);
}

RecordingEnd AviRecording::AppendQueued() {
    if (!Running()) return end_;
    const uint32_t head = head_.load(std::memory_order_relaxed);
    // Read before the queue: a frame queued before the end was announced is still seen below.
    const bool ended = framesEnded_.load(std::memory_order_acquire);
    if (head == tail_.load(std::memory_order_acquire))
        return ended ? Conclude(RecordingEnd::kSourceLost) : end_;
    const uint32_t now = arrivalMs_[head % kQueueSlots];
    switch (writer_.AppendFrame(Slot(head))) {
    case AviAppend::kWritten:
        ++written_;
        break;
    case AviAppend::kSizeLimit:
        return Conclude(RecordingEnd::kSizeLimit);  // the frame stays queued: never written
    default:
        return Conclude(RecordingEnd::kWriteFailed);
    }
    if (!started_) {
        started_ = true;
        start_ = now;
    }
    last_ = now;
    const bool last = lastFrame_[head % kQueueSlots];
    head_.store(head + 1, std::memory_order_release);
    if (last) return Conclude(RecordingEnd::kTimeUp);
    return RecordingEnd::kRunning;
}

RecordingEnd AviRecording::Conclude(RecordingEnd why) {
    CloseQueue();
    // n frames span n - 1 intervals: counting n over that time would state two frames 18 ms apart as
    // 111 frames per second where the camera gave 56.
    const uint32_t elapsed = last_ - start_;
    rate_ = written_ < 2 || elapsed == 0 ? kNominalRate * 100
                                         : static_cast<uint32_t>(uint64_t{written_ - 1} * 100000 / elapsed);
    end_ = writer_.Finish(rate_) ? why : RecordingEnd::kFinishFailed;
    return end_;
}

void AviRecording::CloseQueue() {
    std::lock_guard lock(producerMutex_);
    accepting_ = false;
    slots_ = AlignedBuffer();
}

void AviRecording::EndAtNextFrame() {
    std::lock_guard lock(producerMutex_);
    duration_ = 0;
}

void AviRecording::Stop() {
    CloseQueue();
    if (Running()) Conclude(RecordingEnd::kStopped);
    if (end_ == RecordingEnd::kRunning) end_ = RecordingEnd::kStopped;
    writer_.Reset();
}

}  // namespace zelvik
