// Loads of raw sample bytes from driver buffers: unaligned (through memcpy), in either
// byte order, with the sign extension the integer formats need. Inline, allocation-free
// helpers shared by the decoders and the WAV conversion.
#pragma once

#include <cstdint>
#include <cstring>

namespace measure::bytes {

inline uint16_t load16(const uint8_t* at) {
    uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
inline uint32_t load32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
inline uint64_t load64(const uint8_t* at) {
    uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

inline uint16_t swap16(uint16_t value) {
    return __builtin_bswap16(value);
}
inline uint32_t swap32(uint32_t value) {
    return __builtin_bswap32(value);
}
inline uint64_t swap64(uint64_t value) {
    return __builtin_bswap64(value);
}

// The low `bits` bits of `value` as a signed number (bits 1…32).
inline int32_t signExtend(uint32_t value, int bits) {
    const int unused = 32 - bits;
    return static_cast<int32_t>(value << unused) >> unused;
}

// A packed 24-bit sample, least or most significant byte first, sign-extended.
inline int32_t load24Little(const uint8_t* at) {
    return signExtend(uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16, 24);
}
inline int32_t load24Big(const uint8_t* at) {
    return signExtend(uint32_t(at[2]) | uint32_t(at[1]) << 8 | uint32_t(at[0]) << 16, 24);
}

inline float bitsToFloat(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
inline double bitsToDouble(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace measure::bytes
