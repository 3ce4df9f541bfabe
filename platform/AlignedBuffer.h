// A page-aligned, zero-filled owning byte buffer, usable with drives opened for direct I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/mman.h>

namespace zelvik {

// Returns a mapping of `length` bytes to the kernel.
struct UnmapBytes {
    size_t length = 0;
    void operator()(uint8_t* bytes) const { ::munmap(bytes, length); }
};

class AlignedBuffer {
public:
    // Direct I/O wants buffers aligned to the logical block size; a page covers every block size in use.
    static constexpr size_t kAlignment = 4096;
    static constexpr size_t kHugePage = size_t{2} << 20;
    // bytes rounded up to a whole number of alignment units.
    static constexpr size_t RoundUp(size_t bytes, size_t alignment = kAlignment) {
        return (bytes + alignment - 1) / alignment * alignment;
    }

    AlignedBuffer() = default;
    // Allocation failure leaves the buffer empty (data() null, size() 0) instead of throwing.
    //
    // The memory is mapped from the kernel, not taken from malloc, and unmapped when the buffer goes:
    // frame buffers are rebuilt at every capture start and camera reopen, and malloc would raise its
    // mapping threshold after the first such free and serve every later frame from its arenas, which
    // keep what was freed (the resident size then climbs by one set of frame buffers per arena).
    explicit AlignedBuffer(size_t size) {
        if (size == 0 || size > SIZE_MAX / 2) return;
        // Frame-sized buffers sit on huge pages where the system offers them: a direct transfer then
        // pins a few pages instead of a thousand, and the copies that follow miss the TLB less.
        const size_t alignment = size >= kHugePage ? kHugePage : kAlignment;
        const size_t rounded = RoundUp(size, alignment);
        const size_t mapped = rounded + (alignment - kAlignment);
        void* map = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) return;
        // Keep the aligned part of the mapping (fresh mappings read as zeros) and give back the rest.
        auto* start = static_cast<uint8_t*>(map);
        auto* bytes = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(start) + alignment - 1) / alignment * alignment);
        if (bytes > start) ::munmap(start, static_cast<size_t>(bytes - start));
        if (start + mapped > bytes + rounded) ::munmap(bytes + rounded, static_cast<size_t>(start + mapped - (bytes + rounded)));
        if (alignment == kHugePage) ::madvise(bytes, rounded, MADV_HUGEPAGE);
        data_ = std::unique_ptr<uint8_t[], UnmapBytes>(bytes, UnmapBytes{rounded});
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

    // Maps every page now (written, so the kernel has zeroed it). A fresh buffer is mapped page by page
    // at its first use otherwise, which for a frame buffer means inside the first transfers into it.
    void Populate() {
        if (empty()) return;
        const size_t length = RoundUp(size_);
#ifdef MADV_POPULATE_WRITE
        if (::madvise(data_.get(), length, MADV_POPULATE_WRITE) == 0) return;
#endif
        // Kernels before 5.14: one written byte per page (the pages read as zeros, so zeros are written).
        for (size_t at = 0; at < length; at += kAlignment) static_cast<volatile uint8_t*>(data_.get())[at] = 0;
    }

    static bool IsAligned(const void* pointer) {
        return reinterpret_cast<uintptr_t>(pointer) % kAlignment == 0;
    }

private:
    std::unique_ptr<uint8_t[], UnmapBytes> data_;
    size_t size_ = 0;
};

}  // namespace zelvik
