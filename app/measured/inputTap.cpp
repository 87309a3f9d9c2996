#include "app/measured/inputTap.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr size_t headerBytes = (sizeof(tapBlockHeader) + 15) / 16 * 16;
// Fewer blocks than this leave the consumer no slack at all; more than the memory budget
// are not taken even for a few blocks of huge buffers.
constexpr size_t minimumBlocks = 4;

} // namespace

inputTap::inputTap(telAsioDriver& driver, std::vector<int32_t> channels, double sampleRate, double seconds,
                   size_t maxBytes)
    : f_channels(std::move(channels)), f_frames(std::max(driver.bufActualSize(), 0)) {
    size_t offset = headerBytes;
    f_everyInput = static_cast<int32_t>(f_channels.size()) == driver.inputChannels();
    for (size_t slot = 0; slot < f_channels.size(); ++slot) {
        const int32_t channel = f_channels[slot];
        f_everyInput = f_everyInput && channel == static_cast<int32_t>(slot);
        const pASIOChannelInfo info = driver.getChannelInfoByIndex(channel);
        f_types.push_back(info != nullptr ? info->_type : ASIOSTFloat32LSB);
        const pASIOBufferInfo buffers = driver.getBufferInfoByIndex(channel);
        for (int half = 0; half < 2; ++half)
            f_sources[half].push_back(buffers != nullptr ? static_cast<const uint8_t*>(buffers->buffers[half]) : nullptr);
        const int32_t bytes = std::max(driver.getBufferSizeInBytes(channel), 0);
        f_offsets.push_back(offset);
        f_bytes.push_back(bytes);
        offset += (static_cast<size_t>(bytes) + 15) / 16 * 16;
    }
    f_blockBytes = offset;
    const double blocksPerSecond = f_frames > 0 && sampleRate > 0 ? sampleRate / f_frames : 1.0;
    size_t wanted = static_cast<size_t>(std::clamp(blocksPerSecond * seconds, 0.0, 1e9));
    const size_t affordable = std::max<size_t>(maxBytes / f_blockBytes, minimumBlocks);
    f_blockCount = std::clamp(wanted, minimumBlocks, affordable);
    // Memory that cannot be had leaves the tap without blocks (ready() false), not a throw.
    f_memory.reset(new (std::nothrow) uint8_t[f_blockCount * f_blockBytes]);
    if (!f_memory) f_blockCount = 0;
    // Touched now, so the callback never meets a page of it for the first time.
    if (f_memory) std::memset(f_memory.get(), 0, f_blockCount * f_blockBytes);
    f_slots.assign(f_channels.size(), nullptr);
}

uint8_t* inputTap::block(uint64_t sequence) const noexcept {
    return f_memory.get() + (sequence % f_blockCount) * f_blockBytes;
}

uint8_t* const* inputTap::beginBlock(int32_t half, int64_t position, int64_t sinceOrigin, bool positionValid) noexcept {
    if ((half != 0 && half != 1) || f_blockCount == 0) return nullptr;
    const uint64_t written = f_written.load(std::memory_order_relaxed);
    if (written - f_read.load(std::memory_order_acquire) >= f_blockCount) {
        f_pendingLoss.fetch_add(static_cast<uint64_t>(f_frames), std::memory_order_release);
        ++f_pendingBlocks;
        f_lostBlocks.fetch_add(1, std::memory_order_relaxed);
        f_lostFrames.fetch_add(static_cast<uint64_t>(f_frames), std::memory_order_relaxed);
        return nullptr;
    }
    uint8_t* target = block(written);
    tapBlockHeader header{position, sinceOrigin, f_frames, half, positionValid,
                          f_pendingLoss.exchange(0, std::memory_order_acq_rel), f_pendingBlocks};
    f_pendingBlocks = 0;
    std::memcpy(target, &header, sizeof header);
    for (size_t slot = 0; slot < f_slots.size(); ++slot) f_slots[slot] = target + f_offsets[slot];
    return f_slots.data();
}

void inputTap::commitBlock() noexcept {
    f_written.store(f_written.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void inputTap::capture(telAsioDriver&, int32_t half, int64_t position, int64_t sinceOrigin,
                       bool positionValid) noexcept {
    uint8_t* const* slots = beginBlock(half, position, sinceOrigin, positionValid);
    if (slots == nullptr) return;
    for (size_t slot = 0; slot < f_slots.size(); ++slot) {
        const uint8_t* source = f_sources[half][slot];
        if (source != nullptr)
            std::memcpy(slots[slot], source, static_cast<size_t>(f_bytes[slot]));
        else
            std::memset(slots[slot], 0, static_cast<size_t>(f_bytes[slot]));
    }
    commitBlock();
}

bool inputTap::peek(tapBlockHeader& header) const noexcept {
    const uint64_t read = f_read.load(std::memory_order_relaxed);
    if (read == f_written.load(std::memory_order_acquire)) return false;
    std::memcpy(&header, block(read), sizeof header);
    return true;
}

const uint8_t* inputTap::channelData(size_t slot) const noexcept {
    return block(f_read.load(std::memory_order_relaxed)) + f_offsets[slot];
}

void inputTap::release() noexcept { f_read.fetch_add(1, std::memory_order_release); }
