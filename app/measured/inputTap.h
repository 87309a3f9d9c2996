// Copies chosen input channels of every buffer switch, as raw driver bytes, into a
// preallocated ring of fixed-size blocks, for a consumer thread that records or
// analyses them. The callback side only copies and returns: no allocation, no lock, no
// system call. When the consumer falls behind the ring is full, the block is dropped and
// the frames it held are counted, so the consumer knows what was lost and where.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "asio/telAsioDriver.h"

struct tapBlockHeader {
    int64_t position;    // the driver's sample position of the block (see positionValid)
    int64_t sinceOrigin; // the same, counted from the run's first buffer
    int32_t frames;      // samples per channel
    int32_t half;        // buffer half it came from
    bool positionValid;  // false: the driver gave no position; the consumer counts on
    uint64_t lostBefore; // frames dropped for want of room since the previous block
    uint32_t lostBlocksBefore; // and the blocks they came in
};

class inputTap {
  public:
    // `channels`: the driver object's channel indexes to copy, in the order the
    // consumer wants them. Room for about `seconds` of audio at `sampleRate`, within
    // `maxBytes` (but at least a few blocks).
    inputTap(telAsioDriver& driver, std::vector<int32_t> channels, double sampleRate, double seconds,
             size_t maxBytes);

    // ---------------------------------------------------------------- callback side
    void capture(telAsioDriver& driver, int32_t half, int64_t position, int64_t sinceOrigin,
                 bool positionValid) noexcept;
    // For a processor that copies the inputs itself, reading each once for its own use
    // and the ring's: where channel slot k of the block goes (slots()[k], that channel's
    // bytes), or nullptr when the ring has no room (the loss is counted). A block begun
    // is committed with commitBlock once every slot is written.
    uint8_t* const* beginBlock(int32_t half, int64_t position, int64_t sinceOrigin, bool positionValid) noexcept;
    void commitBlock() noexcept;
    // True when the slots are the driver's inputs 0, 1, 2, ... in order.
    bool takesEveryInput() const { return f_everyInput; }

    // ---------------------------------------------------------------- consumer side
    // The oldest waiting block's header; false when none waits. Release it once used.
    bool peek(tapBlockHeader& header) const noexcept;
    // Channel `slot` of the block peek gave (that channel's width × frames bytes).
    const uint8_t* channelData(size_t slot) const noexcept;
    void release() noexcept;

    const std::vector<int32_t>& channels() const { return f_channels; }
    int32_t slotBytes(size_t slot) const { return f_bytes[slot]; }
    const std::vector<ASIOSampleType>& types() const { return f_types; }
    int32_t frames() const { return f_frames; }
    size_t blockCapacity() const { return f_blockCount; }
    // False when the ring's memory could not be had.
    bool ready() const { return f_blockCount > 0; }
    // Frames dropped at the end of the run that no later block reported.
    uint64_t lostAtEnd() const { return f_pendingLoss.load(std::memory_order_acquire); }
    // Blocks dropped in the whole run, and their frames.
    uint64_t lostBlocks() const { return f_lostBlocks.load(std::memory_order_relaxed); }
    uint64_t lostFrames() const { return f_lostFrames.load(std::memory_order_relaxed); }

  private:
    uint8_t* block(uint64_t sequence) const noexcept;

    std::vector<int32_t> f_channels;
    bool f_everyInput = false;
    std::vector<ASIOSampleType> f_types;
    std::vector<const uint8_t*> f_sources[2]; // each channel's buffer half, fixed while the driver runs
    std::vector<uint8_t*> f_slots;            // the block being written
    std::vector<size_t> f_offsets; // of each channel's bytes within a block
    std::vector<int32_t> f_bytes;  // of each channel per block
    int32_t f_frames = 0;
    size_t f_blockBytes = 0;
    size_t f_blockCount = 0;
    std::unique_ptr<uint8_t[]> f_memory;
    alignas(64) std::atomic<uint64_t> f_written{0}; // blocks the producer has completed
    alignas(64) std::atomic<uint64_t> f_read{0};    // blocks the consumer has released
    std::atomic<uint64_t> f_pendingLoss{0};         // producer only, read after the run
    uint32_t f_pendingBlocks = 0;                   // producer only
    std::atomic<uint64_t> f_lostBlocks{0}, f_lostFrames{0};
};
