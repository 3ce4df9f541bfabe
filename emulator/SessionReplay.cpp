#include "emulator/SessionReplay.h"

#include <cstring>

namespace zelvik::emu {

std::unique_ptr<SessionReplay> SessionReplay::Load(const std::string& path, std::string* error) {
    std::vector<SessionRecord> records;
    if (!ReadSessionFile(path, &records, error)) return nullptr;
    return std::unique_ptr<SessionReplay>(new SessionReplay(std::move(records)));
}

SessionReplay::SessionReplay(std::vector<SessionRecord> records) : records_(std::move(records)) {
    uint32_t last = 0;
    for (const SessionRecord& r : records_) {
        context_.push_back(last);
        if (r.kind == SessionRecord::kWrite) last = Crc32(r.data.data(), r.data.size());
    }
}

void SessionReplay::Write(uint64_t, const void* buffer, size_t length) {
    std::lock_guard lock(mutex_);
    lastWrite_ = Crc32(buffer, length);
}

void SessionReplay::Read(uint64_t offset, void* buffer, size_t length) {
    std::lock_guard lock(mutex_);
    auto matches = [&](size_t i) {
        const SessionRecord& r = records_[i];
        return r.kind == SessionRecord::kRead && r.offset == offset && r.data.size() == length && context_[i] == lastWrite_;
    };
    const SessionRecord* found = nullptr;
    for (size_t i = cursor_; i < records_.size() && !found; ++i)
        if (matches(i)) found = &records_[i], cursor_ = i + 1;
    for (size_t i = 0; i < cursor_ && !found; ++i)
        if (matches(i)) found = &records_[i], cursor_ = i + 1;
    if (found == nullptr && current_ != nullptr && offset >= current_->offset &&
        offset + length <= current_->offset + current_->data.size()) {
        std::memcpy(buffer, current_->data.data() + (offset - current_->offset), length);
        return;
    }
    if (found == nullptr) {
        // The first piece of a split transfer: the recorded whole transfer that starts here.
        for (size_t i = cursor_; i < records_.size() && !found; ++i)
            if (records_[i].kind == SessionRecord::kRead && records_[i].offset == offset &&
                records_[i].data.size() > length && context_[i] == lastWrite_)
                found = &records_[i], cursor_ = i + 1;
    }
    if (found == nullptr) {
        std::memset(buffer, 0, length);
        return;
    }
    current_ = found;
    std::memcpy(buffer, found->data.data(), std::min(length, found->data.size()));
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
    return std::make_unique<ReplayDrive>(replay_);
}

}  // namespace zelvik::emu
