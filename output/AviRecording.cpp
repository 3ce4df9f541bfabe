// AviRecording: frame conversion, timing from the first frame, the measured rate and the end.
#include "output/AviRecording.h"

#include <new>

namespace zelvik {

int AviRecording::Start(const char* path, int32_t width, int32_t height, uint32_t durationMs) {
    Stop();
    end_ = RecordingEnd::kStopped;
    started_ = frameTaken_ = false;
    start_ = last_ = rate_ = written_ = 0;
    duration_ = durationMs;
    if (width <= 0 || height <= 0) return 0;
    frame_.reset(new (std::nothrow) uint8_t[size_t(width) * size_t(height) * 3]);
    if (!frame_) return 0;
    if (!writer_.Open(path, width, height, kNominalRate)) {
        frame_.reset();
        return 0;
    }
    end_ = RecordingEnd::kRunning;
    return 1;
}

bool AviRecording::Take(const ImageView& image) {
    frameTaken_ = Running() && image.width == writer_.Width() && image.height == writer_.Height() &&
                  ConvertToAviFrame(image, frame_.get());
    return frameTaken_;
}

RecordingEnd AviRecording::Append(uint32_t now) {
    if (!Running() || !frameTaken_) return end_;
    frameTaken_ = false;
    if (!started_) {
        started_ = true;
        start_ = now;
    }
    last_ = now;
    switch (writer_.AppendFrame(frame_.get())) {
    case AviAppend::kWritten:
        ++written_;
        break;
    case AviAppend::kSizeLimit:
        return Conclude(RecordingEnd::kSizeLimit, now);
    default:
        return Conclude(RecordingEnd::kWriteFailed, now);
    }
    // Taken on the wrapping clock as a difference, so a recording that spans the wrap still ends on time.
    if (now - start_ > duration_) return Conclude(RecordingEnd::kTimeUp, now);
    return RecordingEnd::kRunning;
}

RecordingEnd AviRecording::Conclude(RecordingEnd why, uint32_t now) {
    const uint32_t elapsed = now - start_;
    rate_ = elapsed == 0 ? 0 : static_cast<uint32_t>(uint64_t{written_} * 100000 / elapsed);
    end_ = writer_.Finish(rate_) ? why : RecordingEnd::kFinishFailed;
    frame_.reset();
    return end_;
}

void AviRecording::Stop() {
    if (end_ == RecordingEnd::kRunning) end_ = RecordingEnd::kStopped;
    writer_.Reset();
    frame_.reset();
}

}  // namespace zelvik
