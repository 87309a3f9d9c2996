// Numbers of the WAV header shared by the writer and the reader.
#pragma once

#include <array>
#include <cstdint>

namespace measure::wav {

inline constexpr uint16_t formatPcm = 1;
inline constexpr uint16_t formatFloat = 3;
inline constexpr uint16_t formatExtensible = 0xFFFE;

// The sub-format GUID of the extensible header for a plain format code:
// {0000000X-0000-0010-8000-00AA00389B71} in its byte layout (first three fields
// little-endian).
inline constexpr std::array<uint8_t, 16> subFormat(uint16_t code) {
    return {static_cast<uint8_t>(code),
            static_cast<uint8_t>(code >> 8),
            0x00,
            0x00,
            0x00,
            0x00,
            0x10,
            0x00,
            0x80,
            0x00,
            0x00,
            0xAA,
            0x00,
            0x38,
            0x9B,
            0x71};
}

} // namespace measure::wav
