// Session recording: when ZELVIK_RECORD_SESSION names a file, every transfer with an opened camera's disk
// is appended to that session file (see platform/SessionFile.h), for the emulator to replay.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/DiskSystem.h"

namespace zelvik {

// The session file stops growing at this size; the recording up to there stays complete.
inline constexpr uint64_t kSessionLimitBytes = 1ull << 30;

// `drive` as it is when no recording was asked for; otherwise a drive that records every successful
// transfer, starting with `identification`, the 512-byte identification sector the probe read from it.
std::unique_ptr<DiskDrive> RecordSession(std::unique_ptr<DiskDrive> drive, const void* identification);

}  // namespace zelvik
