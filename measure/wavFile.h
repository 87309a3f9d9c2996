// Recordings of a driver's inputs as WAV files that any standard reader opens.
//
// The samples keep the driver's resolution: every recorded channel of one type maps to
// one WAV sample format (see wavFormatOf); channels of different types are all recorded
// as 32-bit float. The header is the plain 16-byte PCM form (18 bytes with cbSize 0 for
// float) for at most 2 channels of at most 16 bits, else the extensible form. Float files
// carry a `fact` chunk with the frame count.
//
// The RIFF, `fact` and `data` sizes are written as 0 when the file opens and patched when
// it closes, so a recording cut short by a crash is still recognisable as one; a JUNK
// chunk keeps the room for the ds64 chunk of an RF64 file (data of 4 GiB and more).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "asio/asioTypes.h"

namespace measure {

// The WAV sample format that one driver sample type is recorded in.
struct WavSampleFormat {
    uint16_t bitsPerSample; // container bits: 16, 24 or 32
    uint16_t validBits;     // significant bits (below the container for the 18/20-bit types)
    bool isFloat;           // IEEE float instead of PCM integers
};

// The format for channels of `type`; nothing for DSD and unknown codes.
std::optional<WavSampleFormat> wavFormatOf(ASIOSampleType type);

// The shape of one recording.
struct WavPlan {
    bool recordable = false; // false: nothing can be recorded, whyNot says why
    std::string whyNot;
    uint16_t channels = 0;
    uint32_t sampleRate = 0; // the driver's rate, rounded to whole hertz
    uint16_t bitsPerSample = 0;
    uint16_t validBits = 0;
    bool isFloat = false;

    uint16_t bytesPerSample() const { return static_cast<uint16_t>(bitsPerSample / 8); }
    // Bytes of one interleaved frame (every channel's sample).
    uint32_t frameBytes() const { return uint32_t(channels) * bytesPerSample(); }
};

// The plan for recording channels of these types (in recording order) at this rate. Not
// recordable without channels, with a DSD or unknown type, or with a rate or channel
// count that the header fields cannot hold.
WavPlan planWav(const std::vector<ASIOSampleType>& channelTypes, double sampleRate);

// Whether the header uses the extensible form (more than 2 channels or more than 16 bits).
bool usesExtensibleHeader(const WavPlan& plan);

// The header bytes up to and including the `data` chunk's size field, with the sizes of
// a closed file of `frames` frames (RF64 when the data passes `plainLimitBytes`, by
// default what the 32-bit sizes describe); without a frame count, the header written at
// open, every size 0.
std::vector<uint8_t> wavHeader(const WavPlan& plan, std::optional<uint64_t> frames, uint64_t plainLimitBytes = 0);

// The most data bytes a plain RIFF file of this plan describes with 32-bit sizes.
uint64_t plainWavDataLimit(const WavPlan& plan);

// Converts `frames` samples of one channel (raw driver bytes of `type`, any alignment)
// into the channel's slot of the interleaved frames at `interleaved`, which holds
// plan.frameBytes() bytes per frame. False, with nothing written, when the plan is not
// recordable, the slot is out of range or the type does not belong to the plan's format.
// Runs on the recording thread for every block: one decision per call, then one loop.
bool convertToWavFrames(const WavPlan& plan, ASIOSampleType type, const void* source, size_t frames,
                        uint8_t* interleaved, uint16_t channelSlot);

// Where a recording's bytes go: a file of the platform (app/), a C stream, or memory in
// tests.
class WavSink {
  public:
    virtual ~WavSink() = default;
    // Appends bytes; returns how many went out (fewer when the write failed).
    virtual size_t append(const void* data, size_t bytes) = 0;
    // Writes bytes at `offset` from the start (the header's sizes); false on failure.
    virtual bool overwrite(uint64_t offset, const void* data, size_t bytes) = 0;
    // Cuts the file to `size` bytes; false on failure.
    virtual bool truncate(uint64_t size) = 0;
    // Pushes what was appended out to the file (the header at the start).
    virtual bool flush() { return true; }
    virtual bool close() = 0;
    // Why the last operation failed, in words.
    virtual std::string lastError() const = 0;
};

// A sink over a C stream opened for writing at `path`; nothing (and `error` set) when the
// file cannot be created.
std::unique_ptr<WavSink> openStdioWavSink(const std::string& path, std::string* error = nullptr);

// Writes one recording. Every operation returns false on failure, with error() saying
// why; after a write error further frames are counted as not written.
//
// The header holds a 28-byte JUNK chunk after "WAVE", the room an RF64 header needs:
// a recording whose sizes outgrow the 32-bit RIFF fields becomes RF64 (the broadcast
// extension with 64-bit sizes in a ds64 chunk) when it is closed, so an hour of many
// channels is kept whole. After a write error the header still describes the frames
// written completely, and the file is cut to them.
class WavWriter {
  public:
    WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    ~WavWriter(); // closes an open file

    // Takes the sink and writes the header with zero sizes. `name` is used in messages.
    // `frameLimit` caps the recording (full() once it is reached); `plainLimitBytes` is
    // the most data a plain RIFF header describes (lower only in tests).
    bool open(std::unique_ptr<WavSink> sink, const std::string& name, const WavPlan& plan,
              uint64_t frameLimit = UINT64_MAX, uint64_t plainLimitBytes = 0);
    // The same over a C stream at `path`.
    bool open(const std::string& path, const WavPlan& plan, uint64_t frameLimit = UINT64_MAX);

    // Appends interleaved frames (plan.frameBytes() each). When they would pass the
    // limit, writes the frames that still fit, marks the recording full and returns
    // false; a full recording takes no more frames.
    bool writeFrames(const uint8_t* interleaved, uint64_t frames);

    // Appends frames of zero bytes (silence in every format), under the same limit.
    bool writeSilence(uint64_t frames);

    // Pads the data to an even length, patches the sizes (RF64 when they do not fit 32
    // bits) and closes the file. False when any write failed; the header is patched and
    // the file closed either way.
    bool close();

    bool isOpen() const { return sink_ != nullptr; }
    // Frames written completely.
    uint64_t framesWritten() const { return frames_; }
    // Frames that were to be written after a write error.
    uint64_t framesNotWritten() const { return framesNotWritten_; }
    // True once the limit stopped the recording.
    bool full() const { return full_; }
    // True when close() wrote an RF64 header.
    bool rf64() const { return rf64_; }
    bool failed() const { return failed_; }
    std::string error() const { return error_; }

  private:
    bool fail(const std::string& text);
    // How many of `frames` still fit; marks the recording full when not all do.
    uint64_t admit(uint64_t frames);
    // Appends data frames; counts the frames written completely.
    bool putFrames(const void* data, uint64_t frames);

    std::unique_ptr<WavSink> sink_;
    WavPlan plan_;
    std::string name_;
    uint64_t limit_ = 0;
    uint64_t plainLimitBytes_ = 0;
    uint64_t frames_ = 0;
    uint64_t framesNotWritten_ = 0;
    uint64_t dataBytesOut_ = 0; // bytes of data that reached the sink, partial frames included
    bool full_ = false;
    bool failed_ = false;
    bool rf64_ = false;
    std::string error_;
};

// A WAV file as read back for checks.
struct WavContents {
    WavPlan format;           // channels, rate, bits, valid bits, float or PCM
    uint16_t formatTag = 0;   // 1 PCM, 3 float, 0xFFFE extensible
    uint32_t channelMask = 0; // of the extensible form; 0 otherwise
    uint64_t frames = 0;
    std::vector<uint8_t> data; // the data chunk, frames × format.frameBytes() bytes
};

// Parses the bytes of a WAV file: walks the chunks and refuses anything malformed (sizes
// that overrun the file or disagree with each other, unknown formats, missing chunks)
// without reading outside the bytes. On refusal, `error` (when given) says why.
std::optional<WavContents> parseWav(const std::vector<uint8_t>& file, std::string* error = nullptr);

// Reads and parses a WAV file.
std::optional<WavContents> readWav(const std::string& path, std::string* error = nullptr);

} // namespace measure
