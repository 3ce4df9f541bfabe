// A setting that the application writes while the capture thread reads it (and the frame path writes
// back measured gains): a relaxed atomic that reads and assigns like an int32_t.
#pragma once

#include <atomic>
#include <cstdint>

namespace zelvik {

class SharedSetting {
public:
    SharedSetting(int32_t value = 0) noexcept : value_(value) {}  // NOLINT: used like an int32_t
    SharedSetting(const SharedSetting& other) noexcept : value_(other.load()) {}
    SharedSetting& operator=(const SharedSetting& other) noexcept {
        store(other.load());
        return *this;
    }
    SharedSetting& operator=(int32_t value) noexcept {
        store(value);
        return *this;
    }
    operator int32_t() const noexcept { return load(); }  // NOLINT: used like an int32_t
    SharedSetting& operator--() noexcept {
        value_.fetch_sub(1, std::memory_order_relaxed);
        return *this;
    }
    SharedSetting& operator++() noexcept {
        value_.fetch_add(1, std::memory_order_relaxed);
        return *this;
    }

    int32_t load() const noexcept { return value_.load(std::memory_order_relaxed); }
    void store(int32_t value) noexcept { value_.store(value, std::memory_order_relaxed); }

private:
    std::atomic<int32_t> value_;
};

}  // namespace zelvik
