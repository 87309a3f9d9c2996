// Records buffer halves into memory reserved before the stream starts, and writes
// them to the capture file (layout in testdriver/captureFormat.h) after it stopped,
// so recording costs the stream thread one copy per switch and no file access.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "testdriver/bufferSet.h"

namespace refdrv {

// The stream's figures that go into the capture header.
struct StreamStats {
    uint32_t switches = 0;
    uint32_t lateSwitches = 0;
    uint32_t maxCallbackMicros = 0;
    uint32_t outputReadyCalls = 0;
    bool outputReadyWanted = false;
    bool timeInfoCallbacks = false;
};

class CaptureRecorder {
  public:
    // Reserves room for up to `limit` records of `buffers`, capped so the reservation
    // stays below 1 GiB. False when the memory cannot be had.
    bool prepare(const BufferSet& buffers, double sampleRate, uint32_t limit);
    // Copies buffer half `half` of every channel while there is room. Stream thread only.
    void record(uint32_t switchNumber, int32_t half, const BufferSet& buffers) noexcept;
    // Writes header, channel table and records to `path`, then drops the records.
    bool writeFile(const std::string& path, const BufferSet& buffers, const StreamStats& stats);

    bool prepared() const { return memory_ != nullptr; }
    uint32_t records() const { return records_; }

  private:
    std::unique_ptr<uint8_t[]> memory_;
    size_t recordBytes_ = 0;
    uint32_t capacity_ = 0;
    uint32_t records_ = 0;
    double sampleRate_ = 0.0;
};

} // namespace refdrv
