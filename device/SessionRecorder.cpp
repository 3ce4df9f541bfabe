#include "device/SessionRecorder.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "device/DiskProtocol.h"
#include "platform/SessionFile.h"

namespace zelvik {
namespace {

// The session file ZELVIK_RECORD_SESSION names now: created (truncated) by the first camera opened while it
// names that file, and shared by every camera opened after, until the variable names another file.
std::shared_ptr<SessionWriter> CurrentWriter() {
    static std::mutex mutex;
    static std::string path;
    static std::shared_ptr<SessionWriter> writer;
    const char* named = std::getenv("ZELVIK_RECORD_SESSION");
    std::lock_guard lock(mutex);
    if (named == nullptr || *named == '\0') return nullptr;
    if (!writer || path != named) {
        path = named;
        writer = std::make_shared<SessionWriter>(path, kSessionLimitBytes);
        if (!writer->Ok()) std::fprintf(stderr, "zelvik: cannot record the session to %s\n", named);
    }
    return writer->Ok() ? writer : nullptr;
}

class RecordingDrive final : public DiskDrive {
public:
    RecordingDrive(std::unique_ptr<DiskDrive> drive, std::shared_ptr<SessionWriter> writer)
        : drive_(std::move(drive)), writer_(std::move(writer)) {}

    bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        const bool ok = drive_->ReadAt(offset, buffer, length);
        if (ok) writer_->Append(SessionRecord::kRead, offset, buffer, length);
        return ok;
    }
    bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
        const bool ok = drive_->WriteAt(offset, buffer, length);
        if (ok) writer_->Append(SessionRecord::kWrite, offset, buffer, length);
        return ok;
    }

private:
    std::unique_ptr<DiskDrive> drive_;
    std::shared_ptr<SessionWriter> writer_;
};

}  // namespace

std::unique_ptr<DiskDrive> RecordSession(std::unique_ptr<DiskDrive> drive, const void* identification) {
    std::shared_ptr<SessionWriter> writer = CurrentWriter();
    if (writer == nullptr || !drive) return drive;
    writer->Append(SessionRecord::kRead, protocol::kStatusOffset, identification, protocol::kSectorSize);
    return std::make_unique<RecordingDrive>(std::move(drive), std::move(writer));
}

}  // namespace zelvik
