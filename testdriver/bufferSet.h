// The double buffers of the channels a host asked for in createBuffers: one memory
// block, two halves per listed channel, inputs and outputs kept in the host's order.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "asio/asioTypes.h"
#include "testdriver/driverConfig.h"

namespace refdrv {

struct ChannelBuffer {
    int32_t channel;     // number within its direction
    ASIOSampleType type; // sample type of the channel
    int32_t bytes;       // bytes of one half
    uint8_t* halves[2];  // the two halves
};

class BufferSet {
  public:
    // Checks the request against the configuration (channel numbers in range, no channel
    // twice, buffer size accepted at `rate`), allocates, clears inputs, fills outputs with
    // the sentinel and writes the halves' addresses into `infos`. ASE_OK, or
    // ASE_InvalidParameter / ASE_NoMemory with nothing allocated.
    ASIOError create(ASIOBufferInfo* infos, int32_t count, int32_t frames, const DriverConfig& config,
                     double rate);
    void release();

    bool exists() const { return block_ != nullptr; }
    int32_t frames() const { return frames_; }
    const std::vector<ChannelBuffer>& inputs() const { return inputs_; }
    const std::vector<ChannelBuffer>& outputs() const { return outputs_; }
    bool isActive(bool isInput, int32_t channel) const;
    // Bytes of both directions' halves for one buffer half.
    size_t halfBytes() const;

  private:
    std::unique_ptr<uint8_t[]> block_;
    int32_t frames_ = 0;
    std::vector<ChannelBuffer> inputs_;
    std::vector<ChannelBuffer> outputs_;
};

} // namespace refdrv
