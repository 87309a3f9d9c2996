// Atomic counters and counter gates. Every change is a locked read-modify-write with
// full ordering, so a gate works as a lock without any operating-system object.
#include <atomic>

#include "util/telUtils.h"

// The new value is computed in unsigned arithmetic, so it wraps like the counter does.
int32_t atomicIncrement(int32_t& counter) {
    const int32_t old = std::atomic_ref<int32_t>(counter).fetch_add(1, std::memory_order_seq_cst);
    return static_cast<int32_t>(static_cast<uint32_t>(old) + 1u);
}

int32_t atomicDecrement(int32_t& counter) {
    const int32_t old = std::atomic_ref<int32_t>(counter).fetch_sub(1, std::memory_order_seq_cst);
    return static_cast<int32_t>(static_cast<uint32_t>(old) - 1u);
}

telBool gateEnter(int32_t& gate) {
    return toTelBool(atomicIncrement(gate) == 1);
}

telBool gateLeave(int32_t& gate) {
    return toTelBool(atomicDecrement(gate) == 0);
}
