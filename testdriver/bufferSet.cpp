#include "testdriver/bufferSet.h"

#include <cstring>
#include <new>

#include "testdriver/captureFormat.h"

namespace refdrv {

namespace {

// Halves start on 16-byte boundaries, so every sample format is naturally aligned.
size_t alignedBytes(size_t bytes) {
    return (bytes + 15) & ~size_t{15};
}

} // namespace

ASIOError BufferSet::create(ASIOBufferInfo* infos, int32_t count, int32_t frames, const DriverConfig& config,
                            double rate) {
    if (!infos || count < 1 || !config.acceptsBufferSize(frames, rate)) return ASE_InvalidParameter;

    std::vector<bool> usedInputs(config.inputs), usedOutputs(config.outputs);
    size_t total = 0;
    for (int32_t k = 0; k < count; ++k) {
        const bool isInput = infos[k].isInput != 0;
        const int32_t channel = infos[k].channelNum;
        std::vector<bool>& used = isInput ? usedInputs : usedOutputs;
        if (channel < 0 || channel >= static_cast<int32_t>(used.size()) || used[channel])
            return ASE_InvalidParameter;
        used[channel] = true;
        const int32_t width = capture::sampleTypeBytes(config.sampleType(isInput, channel));
        total += 2 * alignedBytes(static_cast<size_t>(width) * frames);
    }

    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[total]);
    if (!block) return ASE_NoMemory;

    release();
    block_ = std::move(block);
    frames_ = frames;
    uint8_t* cursor = block_.get();
    for (int32_t k = 0; k < count; ++k) {
        const bool isInput = infos[k].isInput != 0;
        ChannelBuffer buffer{};
        buffer.channel = infos[k].channelNum;
        buffer.type = config.sampleType(isInput, buffer.channel);
        buffer.bytes = capture::sampleTypeBytes(buffer.type) * frames;
        for (uint8_t*& half : buffer.halves) {
            half = cursor;
            std::memset(half, isInput ? 0 : capture::sentinelByte, buffer.bytes);
            cursor += alignedBytes(buffer.bytes);
        }
        infos[k].buffers[0] = buffer.halves[0];
        infos[k].buffers[1] = buffer.halves[1];
        (isInput ? inputs_ : outputs_).push_back(buffer);
    }
    return ASE_OK;
}

void BufferSet::release() {
    inputs_.clear();
    outputs_.clear();
    frames_ = 0;
    block_.reset();
}

bool BufferSet::isActive(bool isInput, int32_t channel) const {
    for (const ChannelBuffer& buffer : isInput ? inputs_ : outputs_)
        if (buffer.channel == channel) return true;
    return false;
}

size_t BufferSet::halfBytes() const {
    size_t bytes = 0;
    for (const ChannelBuffer& buffer : inputs_)
        bytes += buffer.bytes;
    for (const ChannelBuffer& buffer : outputs_)
        bytes += buffer.bytes;
    return bytes;
}

} // namespace refdrv
