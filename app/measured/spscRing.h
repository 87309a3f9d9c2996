// A fixed ring for one producer (the driver's callback thread) and one consumer (the
// main thread or a worker): lock-free, allocation-free after construction, so the
// producer side may run on the callback path.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

template <class T> class spscRing {
    static_assert(std::is_trivially_copyable_v<T>, "ring entries are copied as they are");

  public:
    // Holds `capacity` entries, rounded up to a power of two (at least 2).
    explicit spscRing(size_t capacity) {
        size_t rounded = 2;
        while (rounded < capacity) rounded <<= 1;
        f_entries = std::make_unique<T[]>(rounded);
        f_mask = rounded - 1;
    }

    // Producer: false (and nothing stored) when the ring is full.
    bool push(const T& entry) noexcept {
        const uint64_t head = f_head.load(std::memory_order_relaxed);
        if (head - f_tail.load(std::memory_order_acquire) > f_mask) return false;
        f_entries[head & f_mask] = entry;
        f_head.store(head + 1, std::memory_order_release);
        return true;
    }

    // Consumer: false when the ring is empty.
    bool pop(T& entry) noexcept {
        const uint64_t tail = f_tail.load(std::memory_order_relaxed);
        if (tail == f_head.load(std::memory_order_acquire)) return false;
        entry = f_entries[tail & f_mask];
        f_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    size_t capacity() const { return f_mask + 1; }

  private:
    std::unique_ptr<T[]> f_entries;
    size_t f_mask = 0;
    alignas(64) std::atomic<uint64_t> f_head{0}; // next entry the producer writes
    alignas(64) std::atomic<uint64_t> f_tail{0}; // next entry the consumer reads
};
