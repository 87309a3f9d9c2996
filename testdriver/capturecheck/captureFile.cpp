#include "captureFile.h"

#include <cstdio>
#include <cstring>

#include "testdriver/captureFormat.h"

namespace capcheck {

namespace {

constexpr uint32_t maxChannelsPerDirection = 65536;
constexpr uint32_t maxBufferSize = 1u << 20;

void addChannels(std::vector<CaptureChannel>& list, const uint8_t*& entry, uint32_t count, uint32_t frames,
                 size_t& offset) {
    for (uint32_t k = 0; k < count; ++k, entry += capture::channelEntryBytes) {
        CaptureChannel channel;
        channel.channel = static_cast<int32_t>(capture::getU32(entry));
        channel.type = static_cast<int32_t>(capture::getU32(entry + 4));
        channel.bytes = static_cast<size_t>(capture::sampleTypeBytes(channel.type)) * frames;
        channel.offset = offset;
        offset += channel.bytes;
        list.push_back(channel);
    }
}

} // namespace

uint32_t Capture::switchNumber(uint32_t record) const {
    return capture::getU32(&data[record * recordBytes]);
}
uint32_t Capture::half(uint32_t record) const {
    return capture::getU32(&data[record * recordBytes + 4]);
}
const uint8_t* Capture::input(uint32_t record, size_t k) const {
    return &data[record * recordBytes + inputs[k].offset];
}
const uint8_t* Capture::output(uint32_t record, size_t k) const {
    return &data[record * recordBytes + outputs[k].offset];
}

bool parseCapture(const std::vector<uint8_t>& file, Capture& out, std::string& error) {
    using namespace capture;
    if (file.size() < headerBytes || std::memcmp(file.data(), magic, sizeof magic) != 0) {
        error = "not a capture file";
        return false;
    }
    const uint8_t* header = file.data();
    if (getU32(header + offset::version) != version) {
        error = "capture version " + std::to_string(getU32(header + offset::version)) + " is not supported";
        return false;
    }
    const uint32_t inputs = getU32(header + offset::inputs);
    const uint32_t outputs = getU32(header + offset::outputs);
    Capture capture;
    capture.bufferSize = getU32(header + offset::bufferSize);
    capture.sampleRate = getF64(header + offset::sampleRate);
    capture.records = getU32(header + offset::records);
    capture.switches = getU32(header + offset::switches);
    capture.lateSwitches = getU32(header + offset::lateSwitches);
    capture.maxCallbackMicros = getU32(header + offset::maxCallbackMicros);
    capture.outputReadyCalls = getU32(header + offset::outputReadyCalls);
    capture.outputReadyWanted = getU32(header + offset::outputReadyWanted) != 0;
    capture.timeInfoCallbacks = getU32(header + offset::timeInfoCallbacks) != 0;
    if (inputs > maxChannelsPerDirection || outputs > maxChannelsPerDirection || capture.bufferSize == 0 ||
        capture.bufferSize > maxBufferSize) {
        error = "implausible header (channels or buffer size)";
        return false;
    }
    const size_t tableBytes = static_cast<size_t>(inputs + outputs) * channelEntryBytes;
    if (file.size() < headerBytes + tableBytes) {
        error = "channel table cut short";
        return false;
    }
    const uint8_t* entry = header + headerBytes;
    size_t recordOffset = recordPrefixBytes;
    addChannels(capture.inputs, entry, inputs, capture.bufferSize, recordOffset);
    addChannels(capture.outputs, entry, outputs, capture.bufferSize, recordOffset);
    capture.recordBytes = recordOffset;

    const size_t dataBytes = file.size() - headerBytes - tableBytes;
    // Division, not multiplication: a header's record count times the record size can wrap
    // around and match a file that holds no records at all.
    const bool wholeRecords = capture.recordBytes > 0 ? dataBytes % capture.recordBytes == 0 &&
                                                            dataBytes / capture.recordBytes == capture.records
                                                      : dataBytes == 0;
    if (!wholeRecords) {
        error = "file holds " + std::to_string(dataBytes) + " record bytes, header promises " +
                std::to_string(capture.records) + " records of " + std::to_string(capture.recordBytes);
        return false;
    }
    capture.data.assign(file.begin() + static_cast<std::ptrdiff_t>(headerBytes + tableBytes), file.end());
    out = std::move(capture);
    return true;
}

bool readCaptureFile(const std::string& path, Capture& capture, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + count);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = "cannot read " + path;
        return false;
    }
    return parseCapture(bytes, capture, error);
}

} // namespace capcheck
