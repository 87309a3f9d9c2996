// The plan of a recording, its header bytes and the writer.
#include "measure/wavFile.h"

#include <algorithm>
#include <cmath>

#include "measure/sampleDecode.h"
#include "measure/wavLayout.h"

namespace measure {

namespace {

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}
void putId(std::vector<uint8_t>& out, const char* id) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(id[i]));
}

WavPlan refused(std::string why) {
    WavPlan plan;
    plan.whyNot = std::move(why);
    return plan;
}

// The speaker positions of the extensible header: front centre for mono, front left and
// right for stereo, none assigned for more channels.
uint32_t channelMask(uint16_t channels) {
    return channels == 1 ? 0x4u : channels == 2 ? 0x3u : 0u;
}

} // namespace

std::optional<WavSampleFormat> wavFormatOf(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16LSB:
    case ASIOSTInt16MSB:
    case ASIOSTInt32LSB16:
    case ASIOSTInt32MSB16:
        return WavSampleFormat{16, 16, false};
    case ASIOSTInt24LSB:
    case ASIOSTInt24MSB:
    case ASIOSTInt32LSB24:
    case ASIOSTInt32MSB24:
        return WavSampleFormat{24, 24, false};
    case ASIOSTInt32LSB18:
    case ASIOSTInt32MSB18:
        return WavSampleFormat{24, 18, false};
    case ASIOSTInt32LSB20:
    case ASIOSTInt32MSB20:
        return WavSampleFormat{24, 20, false};
    case ASIOSTInt32LSB:
    case ASIOSTInt32MSB:
        return WavSampleFormat{32, 32, false};
    case ASIOSTFloat32LSB:
    case ASIOSTFloat32MSB:
    case ASIOSTFloat64LSB:
    case ASIOSTFloat64MSB:
        return WavSampleFormat{32, 32, true};
    default:
        return std::nullopt;
    }
}

WavPlan planWav(const std::vector<ASIOSampleType>& channelTypes, double sampleRate) {
    if (channelTypes.empty()) return refused("no channels to record");
    if (!std::isfinite(sampleRate) || sampleRate < 1.0 || sampleRate > double(UINT32_MAX))
        return refused("sample rate " + std::to_string(sampleRate) + " does not fit a WAV header");
    for (size_t k = 0; k < channelTypes.size(); ++k)
        if (!wavFormatOf(channelTypes[k]))
            return refused("channel " + std::to_string(k) + " has sample type " +
                           std::to_string(channelTypes[k]) +
                           ", which carries no sample values (DSD or unknown)");
    const bool uniform = std::all_of(channelTypes.begin(), channelTypes.end(),
                                     [&](ASIOSampleType type) { return type == channelTypes.front(); });
    const WavSampleFormat format =
        uniform ? *wavFormatOf(channelTypes.front()) : WavSampleFormat{32, 32, true};

    WavPlan plan;
    plan.channels = static_cast<uint16_t>(std::min<size_t>(channelTypes.size(), UINT16_MAX));
    plan.sampleRate = static_cast<uint32_t>(std::llround(sampleRate));
    plan.bitsPerSample = format.bitsPerSample;
    plan.validBits = format.validBits;
    plan.isFloat = format.isFloat;
    // The frame size is a 16-bit field and the byte rate a 32-bit one.
    if (channelTypes.size() > UINT16_MAX || plan.frameBytes() > UINT16_MAX)
        return refused(std::to_string(channelTypes.size()) + " channels do not fit a WAV frame");
    if (uint64_t(plan.sampleRate) * plan.frameBytes() > UINT32_MAX)
        return refused("the byte rate of " + std::to_string(channelTypes.size()) + " channels at " +
                       std::to_string(plan.sampleRate) + " Hz does not fit a WAV header");
    plan.recordable = true;
    return plan;
}

bool usesExtensibleHeader(const WavPlan& plan) {
    return plan.channels > 2 || plan.bitsPerSample > 16;
}

std::vector<uint8_t> wavHeader(const WavPlan& plan, std::optional<uint64_t> frames) {
    const bool extensible = usesExtensibleHeader(plan);
    const uint16_t code = plan.isFloat ? wav::formatFloat : wav::formatPcm;
    std::vector<uint8_t> out;
    out.reserve(80);
    putId(out, "RIFF");
    put32(out, 0); // patched below
    putId(out, "WAVE");

    putId(out, "fmt ");
    put32(out, extensible ? 40 : plan.isFloat ? 18 : 16);
    put16(out, extensible ? wav::formatExtensible : code);
    put16(out, plan.channels);
    put32(out, plan.sampleRate);
    put32(out, plan.sampleRate * plan.frameBytes());
    put16(out, static_cast<uint16_t>(plan.frameBytes()));
    put16(out, plan.bitsPerSample);
    if (extensible) {
        put16(out, 22);
        put16(out, plan.validBits);
        put32(out, channelMask(plan.channels));
        for (uint8_t byte : wav::subFormat(code))
            out.push_back(byte);
    } else if (plan.isFloat) {
        put16(out, 0);
    }

    const uint64_t frameCount = frames.value_or(0);
    if (plan.isFloat) {
        putId(out, "fact");
        put32(out, 4);
        put32(out, static_cast<uint32_t>(frameCount));
    }
    const uint64_t dataBytes = frameCount * plan.frameBytes();
    putId(out, "data");
    put32(out, static_cast<uint32_t>(dataBytes));
    if (frames) {
        const uint64_t riff = out.size() - 8 + dataBytes + (dataBytes & 1);
        for (int i = 0; i < 4; ++i)
            out[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    }
    return out;
}

uint64_t maxWavFrames(const WavPlan& plan) {
    if (!plan.recordable || plan.frameBytes() == 0) return 0;
    // The RIFF size counts the header after its first 8 bytes, the data and a pad byte.
    const uint64_t overhead = wavHeader(plan, std::nullopt).size() - 8 + 1;
    return (uint64_t(UINT32_MAX) - overhead) / plan.frameBytes();
}

// ---------------------------------------------------------------- writer

WavWriter::~WavWriter() {
    if (file_) close();
}

bool WavWriter::fail(const std::string& text) {
    if (!failed_) error_ = text;
    failed_ = true;
    return false;
}

bool WavWriter::put(const void* data, size_t bytes) {
    if (bytes > 0 && std::fwrite(data, 1, bytes, file_) != bytes) return fail("cannot write " + path_);
    return true;
}

uint64_t WavWriter::admit(uint64_t frames) {
    const uint64_t room = limit_ - frames_;
    if (frames <= room) return frames;
    if (!full_) error_ = "the recording reached its limit of " + std::to_string(limit_) + " frames";
    full_ = true;
    return room;
}

bool WavWriter::open(const std::string& path, const WavPlan& plan, uint64_t frameLimit) {
    if (file_) {
        error_ = "a recording is already open";
        return false;
    }
    plan_ = {};
    frames_ = 0;
    full_ = failed_ = false;
    error_.clear();
    if (!plan.recordable) return fail("not recordable: " + plan.whyNot);
    path_ = path;
    plan_ = plan;
    limit_ = std::min(frameLimit, maxWavFrames(plan));
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return fail("cannot create " + path);
    // The header goes to the disk at once, so a recording cut short is recognisable.
    const std::vector<uint8_t> header = wavHeader(plan, std::nullopt);
    if (!put(header.data(), header.size())) return false;
    if (std::fflush(file_) != 0) return fail("cannot write " + path_);
    return true;
}

bool WavWriter::writeFrames(const uint8_t* interleaved, uint64_t frames) {
    if (!file_) return fail("no recording is open");
    if (failed_) return false;
    const uint64_t admitted = admit(frames);
    if (!put(interleaved, static_cast<size_t>(admitted * plan_.frameBytes()))) return false;
    frames_ += admitted;
    return admitted == frames;
}

bool WavWriter::writeSilence(uint64_t frames) {
    if (!file_) return fail("no recording is open");
    if (failed_) return false;
    static const uint8_t zeros[65536] = {};
    const uint64_t admitted = admit(frames);
    uint64_t bytes = admitted * plan_.frameBytes();
    while (bytes > 0) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(bytes, sizeof zeros));
        if (!put(zeros, piece)) return false;
        bytes -= piece;
    }
    frames_ += admitted;
    return admitted == frames;
}

bool WavWriter::close() {
    if (!file_) return fail("no recording is open");
    if (!failed_) {
        const uint64_t dataBytes = frames_ * plan_.frameBytes();
        const uint8_t pad = 0;
        const std::vector<uint8_t> header = wavHeader(plan_, frames_);
        if ((dataBytes & 1) != 0) put(&pad, 1);
        if (!failed_ && std::fseek(file_, 0, SEEK_SET) != 0) fail("cannot seek in " + path_);
        if (!failed_) put(header.data(), header.size());
    }
    if (std::fclose(file_) != 0) fail("cannot close " + path_);
    file_ = nullptr;
    return !failed_;
}

} // namespace measure
