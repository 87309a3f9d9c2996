// Reading WAV files back for checks: a strict walk over the chunks that never reads
// outside the file's bytes.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "measure/wavFile.h"
#include "measure/wavLayout.h"

namespace measure {

namespace {

uint16_t get16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}
uint32_t get32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}
bool isId(const uint8_t* at, const char* id) {
    return std::memcmp(at, id, 4) == 0;
}

std::optional<WavContents> refuse(std::string* error, const std::string& why) {
    if (error) *error = why;
    return std::nullopt;
}

// The `fmt ` chunk's body; empty text when it describes a format this reader knows.
std::string parseFormat(const uint8_t* body, uint32_t size, WavContents& wav) {
    if (size < 16) return "fmt chunk of " + std::to_string(size) + " bytes";
    WavPlan& format = wav.format;
    wav.formatTag = get16(body);
    format.channels = get16(body + 2);
    format.sampleRate = get32(body + 4);
    const uint32_t byteRate = get32(body + 8);
    const uint16_t frameBytes = get16(body + 12);
    format.bitsPerSample = get16(body + 14);
    format.validBits = format.bitsPerSample;
    uint16_t code = wav.formatTag;
    if (wav.formatTag == wav::formatExtensible) {
        if (size < 40 || get16(body + 16) < 22) return "extensible fmt chunk too short";
        format.validBits = get16(body + 18);
        wav.channelMask = get32(body + 20);
        code = get16(body + 24);
        const auto guid = wav::subFormat(code);
        if (std::memcmp(body + 24, guid.data(), guid.size()) != 0) return "unknown sub-format";
    }
    if (code != wav::formatPcm && code != wav::formatFloat)
        return "format code " + std::to_string(code) + " is neither PCM nor float";
    format.isFloat = code == wav::formatFloat;
    const uint16_t bits = format.bitsPerSample;
    const bool bitsKnown =
        format.isFloat ? (bits == 32 || bits == 64) : (bits % 8 == 0 && bits >= 8 && bits <= 32);
    if (!bitsKnown) return std::to_string(bits) + "-bit samples";
    if (format.validBits == 0 || format.validBits > bits)
        return std::to_string(format.validBits) + " valid bits";
    if (format.channels == 0 || format.sampleRate == 0) return "no channels or no sample rate";
    if (frameBytes != format.frameBytes())
        return "frame size " + std::to_string(frameBytes) + " does not match";
    if (byteRate != uint64_t(format.sampleRate) * frameBytes) return "byte rate does not match";
    format.recordable = true;
    return {};
}

uint64_t get64(const uint8_t* at) {
    return uint64_t(get32(at)) | uint64_t(get32(at + 4)) << 32;
}

} // namespace

std::optional<WavContents> parseWav(const std::vector<uint8_t>& file, std::string* error) {
    const bool rf64 = file.size() >= 12 && isId(&file[0], "RF64");
    if (file.size() < 12 || !(isId(&file[0], "RIFF") || rf64) || !isId(&file[8], "WAVE"))
        return refuse(error, "not a RIFF WAVE file");
    // RF64: the 32-bit sizes stand aside for the 64-bit ones of the ds64 chunk that follows.
    uint64_t riffEnd = uint64_t(get32(&file[4])) + 8;
    std::optional<uint64_t> dataSize64;
    if (rf64) {
        if (file.size() < 48 || !isId(&file[12], "ds64") || get32(&file[16]) < 24)
            return refuse(error, "an RF64 file without its ds64 chunk");
        riffEnd = get64(&file[20]) + 8;
        dataSize64 = get64(&file[28]);
    }
    if (riffEnd == 8) return refuse(error, "RIFF size 0: the recording was never closed");
    if (riffEnd > file.size() || riffEnd < 12)
        return refuse(error, "RIFF size " + std::to_string(riffEnd - 8) + " does not match the file's " +
                                 std::to_string(file.size()) + " bytes");

    WavContents wav;
    bool haveFormat = false, haveData = false;
    std::optional<uint32_t> factFrames;
    uint64_t at = 12;
    while (at + 8 <= riffEnd) {
        const uint8_t* header = &file[static_cast<size_t>(at)];
        uint64_t size = get32(header + 4);
        if (dataSize64 && isId(header, "data") && size == 0xFFFFFFFFu) size = *dataSize64;
        const uint64_t bodyAt = at + 8;
        if (bodyAt + size > riffEnd) return refuse(error, "a chunk overruns the RIFF data");
        const uint8_t* body = header + 8;
        if (isId(header, "fmt ")) {
            if (haveFormat) return refuse(error, "two fmt chunks");
            const std::string why = parseFormat(body, size, wav);
            if (!why.empty()) return refuse(error, why);
            haveFormat = true;
        } else if (isId(header, "data")) {
            if (haveData) return refuse(error, "two data chunks");
            if (!haveFormat) return refuse(error, "data chunk before the fmt chunk");
            if (size % wav.format.frameBytes() != 0) return refuse(error, "data ends inside a frame");
            wav.frames = size / wav.format.frameBytes();
            wav.data.assign(body, body + size);
            haveData = true;
        } else if (isId(header, "fact")) {
            if (size < 4) return refuse(error, "fact chunk too short");
            if (!rf64 || get32(body) != 0xFFFFFFFFu) factFrames = get32(body);
        }
        at = bodyAt + size + (size & 1);
    }
    if (at < riffEnd) return refuse(error, "bytes after the last chunk");
    if (!haveFormat || !haveData) return refuse(error, haveFormat ? "no data chunk" : "no fmt chunk");
    if (factFrames && *factFrames != wav.frames)
        return refuse(error, "fact chunk counts " + std::to_string(*factFrames) + " frames, data holds " +
                                 std::to_string(wav.frames));
    return wav;
}

std::optional<WavContents> readWav(const std::string& path, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return refuse(error, "cannot open " + path);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + count);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return refuse(error, "cannot read " + path);
    return parseWav(bytes, error);
}

} // namespace measure
