// AviRecording: one timed recording into an AviWriter: the frame conversion, the clock that starts at the
// first frame, the measured rate at the end, and why the recording ended.
#pragma once

#include <cstdint>
#include <memory>

#include "output/AviWriter.h"

namespace zelvik {

enum class RecordingEnd : int32_t {
    kRunning = 0,
    kTimeUp = 1,       // the requested time passed: finished with the measured rate
    kSizeLimit = 2,    // the next frame would have taken the file past 4 GiB: finished early
    kWriteFailed = 3,  // the system refused a write (disk full, file system gone): finished early
    kStopped = 4,      // stopped from outside: the file keeps its placeholders (not finished)
    kFinishFailed = 5, // the end of the file could not be written
};

// The recording thread's side of a recording. Not safe for concurrent use: Start runs before the thread
// starts, everything else on that thread (Stop after it has been joined).
class AviRecording {
public:
    static constexpr uint32_t kNominalRate = 30;  // frames per second in the header until the end

    explicit AviRecording(uint64_t riffLimit = AviWriter::kRiffLimit) : writer_(riffLimit) {}

    // Opens path for frames of width x height and builds the frame buffer. durationMs counts from the
    // first frame. 0 when the file cannot be created or the buffer cannot be built (no file then).
    int Start(const char* path, int32_t width, int32_t height, uint32_t durationMs);
    // Converts the frame to record (call it while the image cannot change). false, and nothing kept, when
    // the image is not of the recording's size or cannot be converted.
    bool Take(const ImageView& image);
    // Appends the frame taken last; now is the millisecond clock read when the frame was picked up. The
    // first frame starts the clock; the first frame later than the requested time still goes in and ends
    // the recording. Returns kRunning while it goes on, else how it ended (the file then finished).
    RecordingEnd Append(uint32_t now);
    // Ends a running recording from outside: the file stays as it is, unfinished.
    void Stop();

    bool Running() const { return end_ == RecordingEnd::kRunning && writer_.IsOpen(); }
    RecordingEnd End() const { return end_; }
    uint32_t FramesWritten() const { return written_; }
    // Milliseconds from the first frame to the last one appended.
    uint32_t ElapsedMs() const { return last_ - start_; }
    // Frames per second x 100 written at the end (0 while running).
    uint32_t RateHundredths() const { return rate_; }
    // errno behind kWriteFailed or kFinishFailed.
    int Error() const { return writer_.Error(); }
    const AviWriter& Writer() const { return writer_; }

private:
    RecordingEnd Conclude(RecordingEnd why, uint32_t now);

    AviWriter writer_;
    std::unique_ptr<uint8_t[]> frame_;
    bool frameTaken_ = false;
    uint32_t written_ = 0;
    bool started_ = false;
    uint32_t start_ = 0;
    uint32_t last_ = 0;
    uint32_t duration_ = 0;
    uint32_t rate_ = 0;
    RecordingEnd end_ = RecordingEnd::kStopped;
};

}  // namespace zelvik
