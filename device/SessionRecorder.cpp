#include "device/SessionRecorder.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "device/DiskProtocol.h"
#include "platform/SessionFile.h"

namespace zelvik {
namespace {

// One session file per process, opened by the first camera that is opened while recording is asked for.
SessionWriter* ProcessWriter() {
    static std::once_flag once;
    static SessionWriter* writer = nullptr;
    std::call_once(once, [] {
        const char* path = std::getenv("ZELVIK_RECORD_SESSION");
        if (path == nullptr || *path == '\0') return;
        writer = new SessionWriter(path, kSessionLimitBytes);  // lives to the end of the process
        if (!writer->Ok()) std::fprintf(stderr, "zelvik: cannot record the session to %s\n", path);
    });
    return writer != nullptr && writer->Ok() ? writer : nullptr;
}

class RecordingDrive final : public DiskDrive {
public:
    RecordingDrive(std::unique_ptr<DiskDrive> drive, SessionWriter& writer) : drive_(std::move(drive)), writer_(writer) {}

    bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        const bool ok = drive_->ReadAt(offset, buffer, length);
        if (ok) writer_.Append(SessionRecord::kRead, offset, buffer, length);
        return ok;
    }
    bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
        const bool ok = drive_->WriteAt(offset, buffer, length);
        if (ok) writer_.Append(SessionRecord::kWrite, offset, buffer, length);
        return ok;
    }

private:
    std::unique_ptr<DiskDrive> drive_;
    SessionWriter& writer_;
};

}  // namespace

std::unique_ptr<DiskDrive> RecordSession(std::unique_ptr<DiskDrive> drive, const void* identification) {
    SessionWriter* writer = ProcessWriter();
    if (writer == nullptr || !drive) return drive;
    writer->Append(SessionRecord::kRead, protocol::kStatusOffset, identification, protocol::kSectorSize);
    return std::make_unique<RecordingDrive>(std::move(drive), *writer);
}

}  // namespace zelvik
