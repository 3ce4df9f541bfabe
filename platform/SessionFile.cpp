#include "platform/SessionFile.h"

#include <array>
#include <chrono>
#include <cstring>
#include <memory>

namespace zelvik {
namespace {

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint64_t Get64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

uint64_t NowMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

uint32_t Crc32(const void* data, size_t length, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

SessionWriter::SessionWriter(const std::string& path, uint64_t limitBytes) : limit_(limitBytes) {
    file_ = std::fopen(path.c_str(), "wbe");
    if (file_ == nullptr) return;
    uint8_t header[kSessionHeaderSize] = {};
    std::memcpy(header, kSessionMagic, sizeof kSessionMagic);
    Put32(header + 8, kSessionVersion);
    std::fwrite(header, 1, sizeof header, file_);
    size_ = sizeof header;
}

SessionWriter::~SessionWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

void SessionWriter::Append(uint32_t kind, uint64_t offset, const void* data, size_t length) {
    std::lock_guard lock(mutex_);
    if (file_ == nullptr || full_ || length > kSessionMaxTransfer) return;
    if (size_ + kSessionRecordHeaderSize + length > limit_) {
        full_ = true;
        return;
    }
    const uint64_t now = NowMicros();
    if (!started_) startMicros_ = now, started_ = true;
    uint8_t header[kSessionRecordHeaderSize] = {};
    Put32(header, kind);
    Put32(header + 4, static_cast<uint32_t>(length));
    Put64(header + 8, offset);
    Put64(header + 16, now - startMicros_);
    Put32(header + 24, Crc32(data, length, Crc32(header, 24)));
    // Each record is flushed whole, so that a process that dies leaves every record before it readable.
    std::fwrite(header, 1, sizeof header, file_);
    std::fwrite(data, 1, length, file_);
    std::fflush(file_);
    size_ += sizeof header + length;
}

bool ReadSessionFile(const std::string& path, std::vector<SessionRecord>* records, std::string* error) {
    auto fail = [&](const std::string& why) {
        *error = path + ": " + why;
        return false;
    };
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rbe"), std::fclose);
    if (!file) return fail(std::string("cannot open: ") + std::strerror(errno));
    uint8_t header[kSessionHeaderSize];
    if (std::fread(header, 1, sizeof header, file.get()) != sizeof header) return fail("too short for a session file");
    if (std::memcmp(header, kSessionMagic, sizeof kSessionMagic) != 0) return fail("not a camera session file");
    if (Get32(header + 8) != kSessionVersion)
        return fail("session format version " + std::to_string(Get32(header + 8)) + " (this program reads version " +
                    std::to_string(kSessionVersion) + ")");
    records->clear();
    for (;;) {
        uint8_t rh[kSessionRecordHeaderSize];
        const size_t got = std::fread(rh, 1, sizeof rh, file.get());
        if (got == 0) break;
        const std::string where = "record " + std::to_string(records->size() + 1);
        if (got != sizeof rh) return fail(where + " is truncated (the file ends inside its header)");
        SessionRecord r;
        r.kind = Get32(rh);
        const uint32_t length = Get32(rh + 4);
        r.offset = Get64(rh + 8);
        r.micros = Get64(rh + 16);
        if ((r.kind != SessionRecord::kRead && r.kind != SessionRecord::kWrite) || length > kSessionMaxTransfer)
            return fail(where + " is damaged (kind " + std::to_string(r.kind) + ", length " + std::to_string(length) + ")");
        r.data.resize(length);
        if (std::fread(r.data.data(), 1, length, file.get()) != length)
            return fail(where + " is truncated (the file ends inside its data)");
        if (Crc32(r.data.data(), length, Crc32(rh, 24)) != Get32(rh + 24)) return fail(where + " is damaged (checksum)");
        records->push_back(std::move(r));
    }
    if (records->empty()) return fail("holds no transfers");
    return true;
}

}  // namespace zelvik
