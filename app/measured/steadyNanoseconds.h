// The host's steady clock in nanoseconds, as the measuring callbacks stamp the buffer
// switches: every time the measured run compares with a switch comes from this clock.
#pragma once

#include <chrono>
#include <cstdint>

inline int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
