// A capture file of the reference driver, parsed and checked for consistency.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace capcheck {

struct CaptureChannel {
    int32_t channel; // number within its direction
    int32_t type;    // sample type code
    size_t bytes;    // bytes of one buffer half
    size_t offset;   // offset of its half within a record
};

struct Capture {
    uint32_t bufferSize = 0;
    double sampleRate = 0.0;
    uint32_t records = 0;
    uint32_t switches = 0;
    uint32_t lateSwitches = 0;
    uint32_t maxCallbackMicros = 0;
    uint32_t outputReadyCalls = 0;
    bool outputReadyWanted = false;
    bool timeInfoCallbacks = false;
    std::vector<CaptureChannel> inputs;
    std::vector<CaptureChannel> outputs;
    size_t recordBytes = 0;
    std::vector<uint8_t> data; // the records

    uint32_t switchNumber(uint32_t record) const;
    uint32_t half(uint32_t record) const;
    const uint8_t* input(uint32_t record, size_t k) const;
    const uint8_t* output(uint32_t record, size_t k) const;
};

// False with a one-line reason when the bytes are not a complete capture.
bool parseCapture(const std::vector<uint8_t>& file, Capture& capture, std::string& error);
bool readCaptureFile(const std::string& path, Capture& capture, std::string& error);

} // namespace capcheck
