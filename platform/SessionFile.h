// A camera session file: every transfer the library made with one camera's disk, in order, with its
// time, so that an emulated camera can answer as the recorded one did. Little-endian throughout:
//   header  "ZELVSESS" (8 bytes), version (u32, 1), reserved (u32, 0)
//   record  kind (u32: 1 read, 2 write), length (u32), offset (u64), microseconds since the first record
//           (u64), CRC-32 of the record's first 24 bytes followed by its data (u32), reserved (u32), data
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace zelvik {

struct SessionRecord {
    enum Kind : uint32_t { kRead = 1, kWrite = 2 };
    uint32_t kind = kRead;
    uint64_t offset = 0;
    uint64_t micros = 0;
    std::vector<uint8_t> data;
};

inline constexpr char kSessionMagic[8] = {'Z', 'E', 'L', 'V', 'S', 'E', 'S', 'S'};
inline constexpr uint32_t kSessionVersion = 1;
inline constexpr size_t kSessionHeaderSize = 16, kSessionRecordHeaderSize = 32;
// A record's data is never larger than this (a full frame is about 5 MB).
inline constexpr uint32_t kSessionMaxTransfer = 64u << 20;

// Appends records to a new session file; thread-safe. Once the file would grow beyond `limitBytes`,
// further records are dropped and Full() turns true: the file stays a complete, readable session.
class SessionWriter {
public:
    SessionWriter(const std::string& path, uint64_t limitBytes);
    ~SessionWriter();
    SessionWriter(const SessionWriter&) = delete;
    SessionWriter& operator=(const SessionWriter&) = delete;

    bool Ok() const { return file_ != nullptr; }
    bool Full() const { return full_; }
    void Append(uint32_t kind, uint64_t offset, const void* data, size_t length);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    uint64_t limit_, size_ = 0;
    bool full_ = false;
    bool started_ = false;
    uint64_t startMicros_ = 0;
};

// Reads a whole session file. False and a message naming the file, the record and the fault for a
// missing, foreign, newer, damaged or truncated file.
bool ReadSessionFile(const std::string& path, std::vector<SessionRecord>* records, std::string* error);

uint32_t Crc32(const void* data, size_t length, uint32_t crc = 0);

}  // namespace zelvik
