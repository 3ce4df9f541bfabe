// Recording and still images: starting a recording, the recording thread, its status, and saving the
// output image of the last capture.
#include <cstddef>
#include <cstring>
#include <mutex>
#include <system_error>

#include "capture/CaptureEngine.h"
#include "instance/CameraInstance.h"
#include "output/StillImage.h"
#include "platform/Clock.h"
#include "platform/WideText.h"

namespace zelvik {
namespace {

constexpr size_t kPathBytes = 1024;  // what a wide path may take once converted, terminator included
constexpr int kRecorderPollMs = 10;

}  // namespace

void CaptureEngine::PublishRecording() {
    const auto relaxed = std::memory_order_relaxed;
    recordCounters_.written.store(recorder_.FramesWritten(), relaxed);
    recordCounters_.elapsedMs.store(recorder_.ElapsedMs(), relaxed);
    recordCounters_.rate.store(recorder_.RateHundredths(), relaxed);
    recordCounters_.error.store(recorder_.Error(), relaxed);
    const RecordingEnd end = recorder_.End();
    recordCounters_.end.store(end == RecordingEnd::kRunning ? 0 : static_cast<int32_t>(end), relaxed);
}

// The recording thread: every 10 ms it appends the frames the capture thread queued (converted, each
// stamped with the time it arrived), oldest first, until none is left. The frame the capture thread
// marked as the first past the requested time ends the recording with a finished file; so do the 4 GiB
// limit, a failed write and the loss of the camera (the last three reported as error 12). Streaming
// goes on unless the camera is gone.
void CaptureEngine::RecordingLoop() {
    while (recording_) {
        SleepMs(kRecorderPollMs);
        RecordingEnd end = RecordingEnd::kRunning;
        // A stop from outside waits for the frame being written, not for the whole queue.
        while (recording_ && end == RecordingEnd::kRunning &&
               (recorder_.HasQueued() || recorder_.FramesEnded())) {
            end = recorder_.AppendQueued();
            PublishRecording();
        }
        if (end == RecordingEnd::kRunning) continue;
        if (end != RecordingEnd::kTimeUp) camera_.reportError(kErrRecording);
        recording_ = 0;
    }
}

void CaptureEngine::JoinRecordingThread() {
    recording_ = 0;
    if (recordThread_.joinable()) recordThread_.join();
    if (recorder_.Running()) {
        recorder_.Stop();  // stopped from outside: finished with the frames written
        PublishRecording();
    }
}

int CaptureEngine::Record(const char* path, int durationMs, int showWindow) {
    if (path == nullptr || *path == '\0' || durationMs < 0) {
        camera_.reportError(kErrArgument);
        return 0;
    }
    if (recording_) {
        // Opening the file again would pull it from under the running recording.
        camera_.reportError(kErrRecording);
        return 0;
    }
    JoinRecordingThread();  // a recording that ended by itself left its thread to join
    SetDeliveryTarget(0, nullptr, 0, 0);
    if (showWindow != 0 && !OpenPreviewWindow()) return 0;  // error 4 reported
    if (!StartPreview()) {
        Close();
        camera_.reportError(kErrRecording);
        return 0;
    }
    int width = 0, height = 0;
    {
        std::lock_guard lock(outputMutex_);
        if (const FrameBuffer* output = CapturedOutput()) width = output->Width(), height = output->Height();
    }
    for (auto* counter : {&recordCounters_.written, &recordCounters_.elapsedMs, &recordCounters_.rate})
        counter->store(0);
    recordCounters_.end = 0;
    recordCounters_.error = 0;
    recordCounters_.durationMs = static_cast<uint32_t>(durationMs);
    // From here the capture thread queues frames; the recording thread, started next, writes them.
    if (!recorder_.Start(path, width, height, static_cast<uint32_t>(durationMs))) {
        Close();
        camera_.reportError(kErrRecording);
        return 0;
    }
    recording_ = 1;
    try {
        recordThread_ = std::thread([this] { RecordingLoop(); });
    } catch (const std::system_error&) {
        recording_ = 0;
        recorder_.Stop();
        Close();
        camera_.reportError(kErrThread);
        return 0;
    }
    return 1;
}

int CaptureEngine::RecordW(const wchar_t* path, int durationMs, int showWindow) {
    char converted[kPathBytes];
    if (!WideToUtf8(path, converted, sizeof converted)) {
        camera_.reportError(kErrRecording);
        return 0;
    }
    return Record(converted, durationMs, showWindow);
}

int CaptureEngine::SaveImage(const char* fileName, int format) {
    if (!camera_.RequireDevice()) return 0;
    FrameBuffer copy;
    {
        std::lock_guard lock(outputMutex_);
        const FrameBuffer* output = CapturedOutput();
        if (output == nullptr || output->Bits() == nullptr) {
            camera_.reportError(kErrNotAllowed);
            return 0;
        }
        // Refused before the copy, and reported as Record reports them.
        if (fileName == nullptr || *fileName == '\0' || static_cast<unsigned>(format) > kFormatTiff) {
            camera_.reportError(kErrArgument);
            return 0;
        }
        if (!copy.CreateLike(output)) {
            camera_.reportError(kErrMemory);
            return 0;
        }
        std::memcpy(copy.Bits(), output->Bits(), size_t(output->Stride()) * size_t(output->Height()));
    }
    // Encoding (a second or more for PNG) runs without the mutex, so streaming does not wait for it.
    if (SaveImageFile(fileName, &copy, format) == 1) return 1;
    // The file could not be made or written (a directory, a missing folder, a read-only or full disk,
    // a name too long, a pipe without a reader): the code Record gives a file it cannot write.
    camera_.reportError(kErrRecording);
    return 0;
}

int CaptureEngine::SaveImageW(const wchar_t* fileName, int format) {
    if (!camera_.RequireDevice()) return 0;
    char converted[kPathBytes];
    if (!WideToUtf8(fileName, converted, sizeof converted)) {
        camera_.reportError(kErrNotAllowed);
        return 0;
    }
    return SaveImage(converted, format);
}

int CaptureEngine::FinishRecording() {
    if (!recording_) return 0;
    recorder_.EndAtNextFrame();
    return 1;
}

int CaptureEngine::GetRecordStatus(ZelvikRecordStatus* status) {
    // Callers built before framesQueued existed pass the 40 bytes up to it.
    if (status == nullptr || status->size < offsetof(ZelvikRecordStatus, framesQueued)) {
        camera_.reportError(kErrArgument);
        return 0;
    }
    const auto relaxed = std::memory_order_relaxed;
    status->recording = recording_.load();
    status->end = recordCounters_.end.load(relaxed);
    status->error = recordCounters_.error.load(relaxed);
    status->framesWritten = recordCounters_.written.load(relaxed);
    // Read in this order (written first, processed last), written + skipped + queued never passes
    // processed while frames move; once the recording has ended they are equal.
    status->framesSkipped = recorder_.FramesSkipped();
    const uint32_t queued = recorder_.FramesQueued();
    status->framesProcessed = recorder_.FramesOffered();
    status->elapsedMs = recordCounters_.elapsedMs.load(relaxed);
    status->durationMs = recordCounters_.durationMs.load(relaxed);
    status->rateHundredths = recordCounters_.rate.load(relaxed);
    if (status->size >= sizeof(ZelvikRecordStatus)) status->framesQueued = queued;
    return 1;
}

}  // namespace zelvik
