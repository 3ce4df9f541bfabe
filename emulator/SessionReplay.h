// A camera that answers as a recorded session did (see platform/SessionFile.h): every read is answered
// with the data the recorded camera gave to the same read after the same command, in recorded order. The
// reads before the first command (the identification probe) answer reads before any command.
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

    // A command block: the replay moves to the next recorded write of the same bytes (the first one again
    // when the recording has no further one); the reads recorded after it answer what follows. A command the
    // recording never saw leaves nothing to answer with.
    void Write(uint64_t offset, const void* buffer, size_t length);
    // Answered, among the reads recorded between that write and the next, by the next read of the same
    // place; a later piece of a split transfer by the bytes of the recorded transfer that covers it (pieces
    // may come in any order); a poll beyond the recorded ones by the last answer of that place. Zeros when
    // the recording has no answer.
    void Read(uint64_t offset, void* buffer, size_t length);

    // Back to the start of the recording, as a camera that was just plugged in: each open of the disk.
    void Rewind();

private:
    explicit SessionReplay(std::vector<SessionRecord> records);

    // The index of the first write at or after `from` (or the end): the reads of one command lie before it.
    size_t WindowEnd(size_t from) const;

    std::mutex mutex_;
    std::vector<SessionRecord> records_;
    std::vector<uint32_t> crcs_;  // per record: checksum of its data
    size_t window_ = 0;           // first record after the last command matched
    size_t cursor_ = 0;           // next read to answer in that window
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
