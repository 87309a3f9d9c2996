// The driver's pseudo-random sequences: xorshift64* (shifts 12, 25, 27, multiplier
// 0x2545F4914F6CDD1D) started from splitmix64(seed * 2^32 + stream), so every sequence
// is fixed by the Seed value and its stream number, the same on every platform.
#pragma once

#include <cstdint>

namespace refdrv {

// Stream numbers of the driver's sequences.
inline constexpr uint32_t jitterStream = 1;
inline constexpr uint32_t wireNoiseStream = 2;

class PseudoRandom {
  public:
    PseudoRandom() : PseudoRandom(1, 0) {}
    PseudoRandom(uint32_t seed, uint32_t stream) {
        uint64_t z = ((uint64_t{seed} << 32) | stream) + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        state_ = z ^ (z >> 31);
        if (state_ == 0) state_ = 1; // xorshift never leaves 0
    }

    uint64_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }

    // Uniform in 0 … bound (the modulo's bias is negligible for the small bounds used).
    uint64_t upTo(uint64_t bound) { return bound == UINT64_MAX ? next() : next() % (bound + 1); }

    // Uniform in [-1, 1) from the top 53 bits.
    double symmetric() { return static_cast<double>(next() >> 11) * 0x1.0p-52 - 1.0; }

  private:
    uint64_t state_;
};

} // namespace refdrv
