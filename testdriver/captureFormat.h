// Layout of the capture file that the reference driver writes at stop and that
// capturecheck reads. Header-only, so both sides use the same numbers.
//
// The file is little-endian throughout:
//   header          64 bytes (offsets below)
//   channel table   (inputs + outputs) entries of {int32 channel number, int32 sample type},
//                   the input buffers first, then the output buffers, each in the order the
//                   host listed them in createBuffers
//   records         `records` times: {uint32 switch number, uint32 buffer half}, then every
//                   input half, then every output half, each sampleTypeBytes(type) x
//                   bufferSize bytes, in channel-table order
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace capture {

static_assert(std::endian::native == std::endian::little, "capture files are written in native order");

inline constexpr char magic[8] = {'E', 'P', 'C', 'A', 'P', 'T', 'U', 'R'};
inline constexpr uint32_t version = 1;
inline constexpr uint32_t headerBytes = 64;
inline constexpr uint32_t channelEntryBytes = 8;
inline constexpr uint32_t recordPrefixBytes = 8;

// Every output half is filled with this byte before each switch, so untouched output
// is visible in the capture.
inline constexpr uint8_t sentinelByte = 0xA5;

// Byte offsets of the header fields.
namespace offset {
inline constexpr uint32_t magic = 0;              // 8 bytes
inline constexpr uint32_t version = 8;            // uint32
inline constexpr uint32_t inputs = 12;            // uint32: input buffers created
inline constexpr uint32_t outputs = 16;           // uint32: output buffers created
inline constexpr uint32_t bufferSize = 20;        // uint32: samples per buffer half
inline constexpr uint32_t sampleRate = 24;        // double: rate when the stream started
inline constexpr uint32_t records = 32;           // uint32: records in the file
inline constexpr uint32_t switches = 36;          // uint32: switches delivered from start to stop
inline constexpr uint32_t lateSwitches = 40;      // uint32: callbacks longer than one buffer period
inline constexpr uint32_t maxCallbackMicros = 44; // uint32: longest callback
inline constexpr uint32_t outputReadyCalls = 48;  // uint32: outputReady calls from start to stop
inline constexpr uint32_t outputReadyWanted = 52; // uint32: 1 when outputReady answered 0
inline constexpr uint32_t timeInfoCallbacks = 56; // uint32: 1 when bufferSwitchTimeInfo was used
inline constexpr uint32_t reserved = 60;          // uint32: 0
} // namespace offset

// Container width of one sample of a sample type code; 1 for codes without a known width.
inline constexpr int32_t sampleTypeBytes(int32_t type) {
    switch (type) {
    case 0:  // 16-bit MSB
    case 16: // 16-bit LSB
        return 2;
    case 1:  // packed 24-bit MSB
    case 17: // packed 24-bit LSB
        return 3;
    case 2:
    case 3:
    case 8:
    case 9:
    case 10:
    case 11: // 32-bit MSB containers
    case 18:
    case 19:
    case 24:
    case 25:
    case 26:
    case 27: // 32-bit LSB containers
        return 4;
    case 4:  // float64 MSB
    case 20: // float64 LSB
        return 8;
    default:
        return 1;
    }
}

inline void putU32(uint8_t* at, uint32_t value) {
    std::memcpy(at, &value, 4);
}
inline void putF64(uint8_t* at, double value) {
    std::memcpy(at, &value, 8);
}
inline uint32_t getU32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}
inline double getF64(const uint8_t* at) {
    double value;
    std::memcpy(&value, at, 8);
    return value;
}

} // namespace capture
