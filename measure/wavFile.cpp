// The plan of a recording, its header bytes and the writer.
#include "measure/wavFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

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

namespace {

constexpr size_t junkBody = 28; // the ds64 chunk's body without a table
constexpr uint32_t unknownSize = 0xFFFFFFFFu;

void put64(std::vector<uint8_t>& out, uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void patch32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// The header with every size zero: RIFF, WAVE, JUNK (room for ds64), fmt, fact, data.
std::vector<uint8_t> openHeader(const WavPlan& plan) {
    const bool extensible = usesExtensibleHeader(plan);
    const uint16_t code = plan.isFloat ? wav::formatFloat : wav::formatPcm;
    std::vector<uint8_t> out;
    out.reserve(120);
    putId(out, "RIFF");
    put32(out, 0);
    putId(out, "WAVE");
    putId(out, "JUNK");
    put32(out, junkBody);
    out.insert(out.end(), junkBody, 0);

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
    if (plan.isFloat) {
        putId(out, "fact");
        put32(out, 4);
        put32(out, 0);
    }
    putId(out, "data");
    put32(out, 0);
    return out;
}

} // namespace

uint64_t plainWavDataLimit(const WavPlan& plan) {
    if (!plan.recordable) return 0;
    // The RIFF size counts the header after its first 8 bytes, the data and a pad byte.
    return uint64_t(UINT32_MAX) - (openHeader(plan).size() - 8) - 1;
}

std::vector<uint8_t> wavHeader(const WavPlan& plan, std::optional<uint64_t> frames, uint64_t plainLimitBytes) {
    std::vector<uint8_t> out = openHeader(plan);
    if (!frames) return out;
    const uint64_t limit = plainLimitBytes != 0 ? plainLimitBytes : plainWavDataLimit(plan);
    const uint64_t dataBytes = *frames * plan.frameBytes();
    const uint64_t riff = out.size() - 8 + dataBytes + (dataBytes & 1);
    const size_t factAt = plan.isFloat ? out.size() - 12 : 0; // the fact chunk's frame count
    if (dataBytes <= limit) {
        patch32(out, 4, static_cast<uint32_t>(riff));
        patch32(out, out.size() - 4, static_cast<uint32_t>(dataBytes));
        if (plan.isFloat) patch32(out, factAt, static_cast<uint32_t>(*frames));
        return out;
    }
    // RF64: the 32-bit sizes say "see ds64", and the JUNK chunk becomes the ds64 chunk.
    std::copy_n("RF64", 4, out.begin());
    patch32(out, 4, unknownSize);
    std::vector<uint8_t> ds64;
    putId(ds64, "ds64");
    put32(ds64, junkBody);
    put64(ds64, riff);
    put64(ds64, dataBytes);
    put64(ds64, *frames);
    put32(ds64, 0); // no table
    std::copy(ds64.begin(), ds64.end(), out.begin() + 12);
    patch32(out, out.size() - 4, unknownSize);
    if (plan.isFloat) patch32(out, factAt, unknownSize);
    return out;
}

// ---------------------------------------------------------------- sinks

namespace {

class StdioSink : public WavSink {
  public:
    explicit StdioSink(std::FILE* file) : file_(file) {}
    ~StdioSink() override {
        if (file_) std::fclose(file_);
    }
    size_t append(const void* data, size_t bytes) override {
        if (!atEnd_ && std::fseek(file_, 0, SEEK_END) != 0) return 0;
        atEnd_ = true;
        return std::fwrite(data, 1, bytes, file_);
    }
    bool overwrite(uint64_t offset, const void* data, size_t bytes) override {
        atEnd_ = false;
        return offset <= uint64_t(LONG_MAX) && std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0 &&
               std::fwrite(data, 1, bytes, file_) == bytes;
    }
    bool truncate(uint64_t) override { return std::fflush(file_) == 0; } // the stream cannot be cut
    bool flush() override { return std::fflush(file_) == 0; }
    bool close() override {
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }
    std::string lastError() const override { return std::strerror(errno); }

  private:
    std::FILE* file_;
    bool atEnd_ = true;
};

} // namespace

std::unique_ptr<WavSink> openStdioWavSink(const std::string& path, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<StdioSink>(file);
}

// ---------------------------------------------------------------- writer

WavWriter::~WavWriter() {
    if (sink_) close();
}

bool WavWriter::fail(const std::string& text) {
    if (!failed_) error_ = text;
    failed_ = true;
    return false;
}

uint64_t WavWriter::admit(uint64_t frames) {
    const uint64_t room = limit_ - frames_;
    if (frames <= room) return frames;
    if (!full_) error_ = "the recording reached its limit of " + std::to_string(limit_) + " frames";
    full_ = true;
    return room;
}

bool WavWriter::open(std::unique_ptr<WavSink> sink, const std::string& name, const WavPlan& plan, uint64_t frameLimit,
                     uint64_t plainLimitBytes) {
    if (sink_) {
        error_ = "a recording is already open";
        return false;
    }
    plan_ = {};
    frames_ = framesNotWritten_ = dataBytesOut_ = 0;
    full_ = failed_ = rf64_ = false;
    error_.clear();
    name_ = name;
    if (!sink) return fail("cannot create " + name);
    if (!plan.recordable) return fail("not recordable: " + plan.whyNot);
    sink_ = std::move(sink);
    plan_ = plan;
    limit_ = frameLimit;
    plainLimitBytes_ = plainLimitBytes != 0 ? plainLimitBytes : plainWavDataLimit(plan);
    // The header goes out at once, so a recording cut short is recognisable.
    const std::vector<uint8_t> header = wavHeader(plan, std::nullopt);
    if (sink_->append(header.data(), header.size()) != header.size() || !sink_->flush())
        return fail("cannot write " + name_ + ": " + sink_->lastError());
    return true;
}

bool WavWriter::open(const std::string& path, const WavPlan& plan, uint64_t frameLimit) {
    std::string why;
    std::unique_ptr<WavSink> sink = openStdioWavSink(path, &why);
    if (!sink) {
        sink_.reset();
        error_ = why;
        failed_ = true;
        return false;
    }
    return open(std::move(sink), path, plan, frameLimit);
}

bool WavWriter::putFrames(const void* data, uint64_t frames) {
    const size_t bytes = static_cast<size_t>(frames * plan_.frameBytes());
    const size_t out = bytes > 0 ? sink_->append(data, bytes) : 0;
    dataBytesOut_ += out;
    const uint64_t before = frames_;
    frames_ = dataBytesOut_ / plan_.frameBytes();
    if (out == bytes) return true;
    framesNotWritten_ += frames - (frames_ - before);
    return fail("cannot write " + name_ + ": " + sink_->lastError());
}

bool WavWriter::writeFrames(const uint8_t* interleaved, uint64_t frames) {
    if (!sink_) return fail("no recording is open");
    if (failed_) {
        framesNotWritten_ += frames;
        return false;
    }
    const uint64_t admitted = admit(frames);
    if (!putFrames(interleaved, admitted)) return false;
    return admitted == frames;
}

bool WavWriter::writeSilence(uint64_t frames) {
    if (!sink_) return fail("no recording is open");
    if (failed_) {
        framesNotWritten_ += frames;
        return false;
    }
    static const uint8_t zeros[65536] = {};
    const uint64_t admitted = admit(frames);
    const uint64_t perPiece = std::max<uint64_t>(sizeof zeros / plan_.frameBytes(), 1);
    for (uint64_t done = 0; done < admitted;) {
        const uint64_t now = std::min(perPiece, admitted - done);
        if (now * plan_.frameBytes() > sizeof zeros) {
            // A frame wider than the block of zeros: one frame at a time from a copy.
            const std::vector<uint8_t> frame(plan_.frameBytes(), 0);
            if (!putFrames(frame.data(), 1)) {
                framesNotWritten_ += admitted - done - 1;
                return false;
            }
            ++done;
            continue;
        }
        if (!putFrames(zeros, now)) {
            framesNotWritten_ += admitted - done - now;
            return false;
        }
        done += now;
    }
    return admitted == frames;
}

bool WavWriter::close() {
    if (!sink_) return fail("no recording is open");
    const uint64_t dataBytes = frames_ * plan_.frameBytes();
    const uint64_t headerBytes = wavHeader(plan_, std::nullopt).size();
    if (failed_ && dataBytesOut_ != dataBytes) {
        // A partial frame at the end of a failed write: cut the file back to whole frames.
        if (!sink_->truncate(headerBytes + dataBytes)) error_ += "; the file could not be cut to its last whole frame";
    }
    if ((dataBytes & 1) != 0) {
        const uint8_t pad = 0;
        if (sink_->append(&pad, 1) != 1) fail("cannot write " + name_ + ": " + sink_->lastError());
    }
    // The header is patched even after a failed write: it describes the frames written
    // completely, so the file opens in any reader. Patching needs no new space.
    const std::vector<uint8_t> header = wavHeader(plan_, frames_, plainLimitBytes_);
    rf64_ = header[0] == 'R' && header[1] == 'F';
    if (!sink_->overwrite(0, header.data(), header.size()))
        fail("cannot write the header of " + name_ + ": " + sink_->lastError());
    if (!sink_->close()) fail("cannot close " + name_ + ": " + sink_->lastError());
    sink_.reset();
    if (failed_ && framesNotWritten_ > 0)
        error_ += "; " + std::to_string(framesNotWritten_) + " frames were not written";
    return !failed_;
}

} // namespace measure
