// A camera that answers as a recorded session did (see platform/SessionFile.h): every read is answered
// with the data the recorded camera gave to the same read after the same command, in recorded order.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DiskSystem.h"
#include "platform/SessionFile.h"

namespace zelvik::emu {

class SessionReplay {
public:
    // Null and a message for a file that cannot be replayed (missing, foreign, damaged, truncated).
    static std::unique_ptr<SessionReplay> Load(const std::string& path, std::string* error);

    // A read of `length` bytes at `offset`. Answered by the next recorded read of the same place and size
    // made after the same last command; when the recording has no further one, by the first such read
    // again (a replayed stream repeats its frames); a read inside the last answered transfer (a transfer
    // split into pieces) by that transfer's bytes; anything else reads zeros.
    void Read(uint64_t offset, void* buffer, size_t length);
    // Commands are taken as the context of the reads that follow; nothing else happens.
    void Write(uint64_t offset, const void* buffer, size_t length);

    size_t RecordCount() const { return records_.size(); }

private:
    explicit SessionReplay(std::vector<SessionRecord> records);

    std::mutex mutex_;
    std::vector<SessionRecord> records_;
    std::vector<uint32_t> context_;  // per record: checksum of the write before it
    uint32_t lastWrite_ = 0;
    size_t cursor_ = 0;
    const SessionRecord* current_ = nullptr;
};

// A system of one replayed camera disk, for running the library on a session inside a process.
class ReplayDisks : public DiskSystem {
public:
    explicit ReplayDisks(std::shared_ptr<SessionReplay> replay) : replay_(std::move(replay)) {}
    std::vector<std::string> DiskIdentities() override;
    std::unique_ptr<DiskDrive> OpenDrive(int number) override;

private:
    std::shared_ptr<SessionReplay> replay_;
};

}  // namespace zelvik::emu
