// A page-aligned, zero-filled owning byte buffer, usable with drives opened for direct I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/mman.h>

namespace zelvik {

class AlignedBuffer {
public:
    // Direct I/O wants buffers aligned to the logical block size; a page covers every block size in use.
    static constexpr size_t kAlignment = 4096;
    static constexpr size_t kHugePage = size_t{2} << 20;

    AlignedBuffer() = default;
    // Allocation failure leaves the buffer empty (data() null, size() 0) instead of throwing.
    explicit AlignedBuffer(size_t size) {
        if (size == 0) return;
        // Frame-sized buffers sit on huge pages where the system offers them: a direct transfer then
        // pins a few pages instead of a thousand, and the copies that follow miss the TLB less.
        const size_t alignment = size >= kHugePage ? kHugePage : kAlignment;
        const size_t rounded = (size + alignment - 1) / alignment * alignment;
        auto* bytes = static_cast<uint8_t*>(std::aligned_alloc(alignment, rounded));
        if (bytes == nullptr) return;
        if (alignment == kHugePage) ::madvise(bytes, rounded, MADV_HUGEPAGE);
        std::memset(bytes, 0, rounded);
        data_.reset(bytes);
        size_ = size;
    }

    AlignedBuffer(AlignedBuffer&& other) noexcept : data_(std::move(other.data_)), size_(other.size_) {
        other.size_ = 0;
    }
    AlignedBuffer& operator=(AlignedBuffer&& other) noexcept {
        data_ = std::move(other.data_);
        size_ = other.size_;
        other.size_ = 0;
        return *this;
    }

    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    static bool IsAligned(const void* pointer) {
        return reinterpret_cast<uintptr_t>(pointer) % kAlignment == 0;
    }

private:
    struct Free {
        void operator()(uint8_t* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<uint8_t[], Free> data_;
    size_t size_ = 0;
};

}  // namespace zelvik
