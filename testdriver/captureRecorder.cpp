#include "testdriver/captureRecorder.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "testdriver/captureFormat.h"

namespace refdrv {

namespace {

constexpr size_t maxReservation = size_t{1} << 30;

} // namespace

bool CaptureRecorder::prepare(const BufferSet& buffers, double sampleRate, uint32_t limit) {
    memory_.reset();
    records_ = 0;
    sampleRate_ = sampleRate;
    recordBytes_ = capture::recordPrefixBytes + buffers.halfBytes();
    capacity_ = limit;
    if (static_cast<uint64_t>(capacity_) * recordBytes_ > maxReservation)
        capacity_ = static_cast<uint32_t>(maxReservation / recordBytes_);
    memory_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(capacity_) * recordBytes_ + 1]);
    return memory_ != nullptr;
}

void CaptureRecorder::record(uint32_t switchNumber, int32_t half, const BufferSet& buffers) noexcept {
    if (!memory_ || records_ >= capacity_) return;
    uint8_t* cursor = memory_.get() + static_cast<size_t>(records_) * recordBytes_;
    capture::putU32(cursor, switchNumber);
    capture::putU32(cursor + 4, static_cast<uint32_t>(half));
    cursor += capture::recordPrefixBytes;
    for (const ChannelBuffer& buffer : buffers.inputs()) {
        std::memcpy(cursor, buffer.halves[half], buffer.bytes);
        cursor += buffer.bytes;
    }
    for (const ChannelBuffer& buffer : buffers.outputs()) {
        std::memcpy(cursor, buffer.halves[half], buffer.bytes);
        cursor += buffer.bytes;
    }
    ++records_;
}

bool CaptureRecorder::writeFile(const std::string& path, const BufferSet& buffers, const StreamStats& stats) {
    if (!memory_) return false;
    uint8_t header[capture::headerBytes] = {};
    std::memcpy(header + capture::offset::magic, capture::magic, sizeof capture::magic);
    capture::putU32(header + capture::offset::version, capture::version);
    capture::putU32(header + capture::offset::inputs, static_cast<uint32_t>(buffers.inputs().size()));
    capture::putU32(header + capture::offset::outputs, static_cast<uint32_t>(buffers.outputs().size()));
    capture::putU32(header + capture::offset::bufferSize, static_cast<uint32_t>(buffers.frames()));
    capture::putF64(header + capture::offset::sampleRate, sampleRate_);
    capture::putU32(header + capture::offset::records, records_);
    capture::putU32(header + capture::offset::switches, stats.switches);
    capture::putU32(header + capture::offset::lateSwitches, stats.lateSwitches);
    capture::putU32(header + capture::offset::maxCallbackMicros, stats.maxCallbackMicros);
    capture::putU32(header + capture::offset::outputReadyCalls, stats.outputReadyCalls);
    capture::putU32(header + capture::offset::outputReadyWanted, stats.outputReadyWanted ? 1 : 0);
    capture::putU32(header + capture::offset::timeInfoCallbacks, stats.timeInfoCallbacks ? 1 : 0);

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(header, sizeof header, 1, file) == 1;
    for (const auto* list : {&buffers.inputs(), &buffers.outputs()}) {
        for (const ChannelBuffer& buffer : *list) {
            uint8_t entry[capture::channelEntryBytes];
            capture::putU32(entry, static_cast<uint32_t>(buffer.channel));
            capture::putU32(entry + 4, static_cast<uint32_t>(buffer.type));
            ok = ok && std::fwrite(entry, sizeof entry, 1, file) == 1;
        }
    }
    const size_t dataBytes = static_cast<size_t>(records_) * recordBytes_;
    ok = ok && (dataBytes == 0 || std::fwrite(memory_.get(), dataBytes, 1, file) == 1);
    ok = std::fclose(file) == 0 && ok;
    memory_.reset();
    records_ = 0;
    return ok;
}

} // namespace refdrv
