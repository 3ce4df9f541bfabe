#include "emulator/SessionReplay.h"

#include <algorithm>
#include <cstring>

namespace zelvik::emu {

std::unique_ptr<SessionReplay> SessionReplay::Load(const std::string& path, std::string* error) {
    std::vector<SessionRecord> records;
    if (!ReadSessionFile(path, &records, error)) return nullptr;
    return std::unique_ptr<SessionReplay>(new SessionReplay(std::move(records)));
}

SessionReplay::SessionReplay(std::vector<SessionRecord> records) : records_(std::move(records)) {
    for (const SessionRecord& r : records_) crcs_.push_back(Crc32(r.data.data(), r.data.size()));
}

size_t SessionReplay::WindowEnd(size_t from) const {
    while (from < records_.size() && records_[from].kind != SessionRecord::kWrite) ++from;
    return from;
}

void SessionReplay::Rewind() {
    std::lock_guard lock(mutex_);
    window_ = cursor_ = 0;
}

void SessionReplay::Write(uint64_t offset, const void* buffer, size_t length) {
    std::lock_guard lock(mutex_);
    const uint32_t crc = Crc32(buffer, length);
    auto same = [&](size_t i) {
        const SessionRecord& r = records_[i];
        return r.kind == SessionRecord::kWrite && r.offset == offset && r.data.size() == length && crcs_[i] == crc;
    };
    // The next recorded write like this one, else the first (a replay that outlasts the recording repeats it).
    for (size_t pass = 0; pass < 2; ++pass) {
        const size_t from = pass == 0 ? window_ : 0, to = pass == 0 ? records_.size() : window_;
        for (size_t i = from; i < to; ++i) {
            if (same(i)) {
                window_ = cursor_ = i + 1;
                return;
            }
        }
    }
    // A command the recording never saw: what follows cannot be the recorded answer.
    window_ = cursor_ = records_.size();
}

void SessionReplay::Read(uint64_t offset, void* buffer, size_t length) {
    std::lock_guard lock(mutex_);
    const size_t end = WindowEnd(window_);
    const SessionRecord* answer = nullptr;
    size_t at = 0;
    // The next read of this place since the last command, in recorded order.
    for (size_t i = cursor_; i < end && !answer; ++i) {
        const SessionRecord& r = records_[i];
        if (r.kind == SessionRecord::kRead && r.offset == offset && r.data.size() >= length) answer = &r, cursor_ = i + 1;
    }
    // A later piece of a transfer the kernel split: the recorded transfer after the last command that covers it.
    for (size_t i = window_; i < end && !answer; ++i) {
        const SessionRecord& r = records_[i];
        if (r.kind == SessionRecord::kRead && offset > r.offset && offset + length <= r.offset + r.data.size())
            answer = &r, at = offset - r.offset;
    }
    // More polls than were recorded: the last answer of this place since the command stays the answer.
    for (size_t i = end; i > window_ && !answer; --i) {
        const SessionRecord& r = records_[i - 1];
        if (r.kind == SessionRecord::kRead && r.offset == offset && r.data.size() >= length) answer = &r;
    }
    if (answer == nullptr) {
        std::memset(buffer, 0, length);
        return;
    }
    std::memcpy(buffer, answer->data.data() + at, length);
}

namespace {

class ReplayDrive final : public DiskDrive {
public:
    explicit ReplayDrive(std::shared_ptr<SessionReplay> replay) : replay_(std::move(replay)) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        replay_->Read(offset, buffer, length);
        return true;
    }
    bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
        replay_->Write(offset, buffer, length);
        return true;
    }

private:
    std::shared_ptr<SessionReplay> replay_;
};

}  // namespace

std::vector<std::string> ReplayDisks::DiskIdentities() {
    return {"USBSTOR\\Disk&Ven_MOVANE&Prod_USB3.0_Q77RX&Rev_1.00\\REPLAY0001"};
}

std::unique_ptr<DiskDrive> ReplayDisks::OpenDrive(int number) {
    if (number != 1) return nullptr;
    replay_->Rewind();
    return std::make_unique<ReplayDrive>(replay_);
}

}  // namespace zelvik::emu
