// Sample formats: descriptions, container widths, the two integer conversions, and the
// driver object's per-sample writer. Everything here except sampleTypeText runs on the
// driver's callback thread, so it allocates nothing and touches only the channel tables
// and the driver's buffers.
#include "asio/sampleAccess.h"

#include <cmath>
#include <cstring>

#include "asio/telAsioDriver.h"
#include "util/telUtils.h"

namespace {

// 16-bit samples use 32767 and 32-bit samples 2147483647 as full scale, so +1.0 and
// -1.0 map to symmetric values.
constexpr double scale16 = 32767.0;
constexpr double scale32 = 2147483647.0;

uint16_t swapBytes(uint16_t value) {
    return __builtin_bswap16(value);
}
uint32_t swapBytes(uint32_t value) {
    return __builtin_bswap32(value);
}

// Loads and stores through memcpy: the driver's buffers carry no alignment promise.
template <class T> T loadSample(const void* buffer, int32_t index) {
    T value;
    std::memcpy(&value, static_cast<const uint8_t*>(buffer) + static_cast<std::ptrdiff_t>(index) * sizeof(T),
                sizeof(T));
    return value;
}

template <class T> void storeSample(void* buffer, int32_t index, T value) {
    std::memcpy(static_cast<uint8_t*>(buffer) + static_cast<std::ptrdiff_t>(index) * sizeof(T), &value,
                sizeof(T));
}

// The value scaled to an integer format; subtraction adds the negated value.
double scaledValue(double value, telASIOSampleOp op, double scale) {
    return (op == soSub ? -value : value) * scale;
}

// The two integer formats: raw container, sample type, saturation and full scale.
struct Int16Format {
    using Raw = uint16_t;
    using Sample = int16_t;
    static Sample saturate(Sample stored, double scaled) { return saturate16(stored, scaled); }
    static constexpr double scale = scale16;
};
struct Int32Format {
    using Raw = uint32_t;
    using Sample = int32_t;
    static Sample saturate(Sample stored, double scaled) { return saturate32(stored, scaled); }
    static constexpr double scale = scale32;
};

// An integer sample: read the stored one (swapped from big-endian where needed) unless
// it is replaced, add the scaled value with the format's saturation, store it back.
template <class Format>
void writeInteger(void* buffer, int32_t index, double value, telASIOSampleOp op, bool bigEndian) {
    using Raw = typename Format::Raw;
    typename Format::Sample stored = 0;
    if (op != soReplace) {
        Raw raw = loadSample<Raw>(buffer, index);
        stored = static_cast<typename Format::Sample>(bigEndian ? swapBytes(raw) : raw);
    }
    Raw result = static_cast<Raw>(Format::saturate(stored, scaledValue(value, op, Format::scale)));
    storeSample<Raw>(buffer, index, bigEndian ? swapBytes(result) : result);
}
constexpr auto writeInt16 = writeInteger<Int16Format>;
constexpr auto writeInt32 = writeInteger<Int32Format>;

void writeFloat32(void* buffer, int32_t index, double value, telASIOSampleOp op) {
    if (op == soReplace) {
        storeSample<float>(buffer, index, static_cast<float>(value));
        return;
    }
    double stored = loadSample<float>(buffer, index);
    double sum = op == soSub ? stored - value : stored + value;
    storeSample<float>(buffer, index, static_cast<float>(sum));
}

void writeFloat64(void* buffer, int32_t index, double value, telASIOSampleOp op) {
    if (op == soReplace) {
        storeSample<double>(buffer, index, value);
        return;
    }
    double stored = loadSample<double>(buffer, index);
    storeSample<double>(buffer, index, op == soSub ? stored - value : stored + value);
}

} // namespace

telText sampleTypeText(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16MSB:
        return u"MSB: 16 bit data word";
    case ASIOSTInt24MSB:
        return u"MSB: packed 18/20/24 bit format. 2 data words will spawn consecutive 6 bytes in memory";
    case ASIOSTInt32MSB:
        return u"MSB: 24/32 bit data";
    case ASIOSTFloat32MSB:
        return u"MSB: IEEE 754 32 bit float";
    case ASIOSTFloat64MSB:
        return u"MSB: IEEE 754 64 bit double float";
    case ASIOSTInt32MSB16:
        return u"MSB: 16 bits, the other bits are sign extended to 32 bits";
    case ASIOSTInt32MSB18:
        return u"MSB: 18 bits, the other bits are sign extended to 32 bits";
    case ASIOSTInt32MSB20:
        return u"MSB: 20 bits, the other bits are sign extended to 32 bits";
    case ASIOSTInt32MSB24:
        return u"MSB: 24 bits, the other bits are sign extended to 32 bits";
    case ASIOSTInt16LSB:
        return u"LSB: 16 bit data word";
    case ASIOSTInt24LSB:
        return u"LSB: packed 18/20/24 bit format. 2 data words will spawn consecutive 6 bytes in memory";
    case ASIOSTInt32LSB:
        return u"LSB: 24/32 bit data";
    case ASIOSTFloat32LSB:
        return u"LSB: IEEE 754 32 bit float";
    case ASIOSTFloat64LSB:
        return u"LSB: IEEE 754 64 bit double float";
    case ASIOSTInt32LSB16:
        return u"LSB: 32 bit data with 16 bit sample data right aligned";
    case ASIOSTInt32LSB18:
        return u"LSB: 32 bit data with 18 bit sample data right aligned";
    case ASIOSTInt32LSB20:
        return u"LSB: 32 bit data with 20 bit sample data right aligned";
    case ASIOSTInt32LSB24:
        return u"LSB: 32 bit data with 24 bit sample data right aligned";
    case ASIOSTDSDInt8LSB1:
        return u"DSD 1 bit data, 8 samples per byte. First sample in Least significant bit";
    case ASIOSTDSDInt8MSB1:
        return u"DSD 1 bit data, 8 samples per byte. First sample in Most significant bit";
    case ASIOSTDSDInt8NER8:
        return u"DSD 8 bit data, 1 sample per byte. No Endianness required";
    default:
        return u"Unknown type: " + intToText(type, 10, 0, u' ');
    }
}

int32_t sampleTypeWidth(ASIOSampleType type) {
    return sampleTypeBytes(type);
}

// A sum that is not a number leaves the stored sample as it was: there is no sensible
// integer for it, and converting it would be undefined.
int16_t saturate16(int16_t stored, double scaled) {
    double sum = std::nearbyint(stored + scaled); // default rounding mode: half to even
    if (std::isnan(sum)) return stored;
    if (sum > 32767.0) return 32767;
    if (sum < -32768.0) return -32768;
    return static_cast<int16_t>(sum);
}

int32_t saturate32(int32_t stored, double scaled) {
    double sum = static_cast<double>(stored) + scaled;
    if (std::isnan(sum)) return stored;
    if (sum > 2147483647.0) return 2147483647;
    if (sum < -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(sum); // truncates toward zero
}

int32_t telAsioDriver::getBufferSizeInBytes(int32_t chIndex) {
    if (!validIndex(chIndex)) return -1;
    int64_t bytes = static_cast<int64_t>(sampleTypeWidth(f_channelInfo[chIndex]._type)) * f_actualBufSize;
    return static_cast<int32_t>(bytes); // wraps like a 32-bit product
}

namespace {

// ASE_OK for the types the writers handle; otherwise the status a write of that type gets.
ASIOError writableType(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16MSB:
    case ASIOSTInt16LSB:
    case ASIOSTInt32MSB:
    case ASIOSTInt32LSB:
    case ASIOSTFloat32LSB:
    case ASIOSTFloat64LSB:
        return ASE_OK;
    case ASIOSTInt24MSB:
    case ASIOSTInt24LSB:
    case ASIOSTFloat32MSB:
    case ASIOSTFloat64MSB:
        return ASE_InvalidParameter;
    default: // right-aligned 32-bit containers, DSD, unknown
        return ASE_NotPresent;
    }
}

// Writes a run of samples with one writer: the per-sample arithmetic of setSample.
template <class Write>
void writeRun(Write write, void* buffer, int32_t first, const double* values, int32_t count) {
    for (int32_t index = 0; index < count; ++index)
        write(buffer, first + index, values[index]);
}

} // namespace

ASIOError telAsioDriver::setSamples(int32_t channelIndex, int32_t bufIndex, int32_t firstSample,
                                    const double* values, int32_t count, telASIOSampleOp op) {
    if (!validIndex(channelIndex) || (bufIndex != 0 && bufIndex != 1)) return ASE_InvalidParameter;
    const ASIOSampleType type = f_channelInfo[channelIndex]._type;
    if (ASIOError status = writableType(type); status != ASE_OK) return status;
    void* buffer = f_bufferInfo[channelIndex].buffers[bufIndex];
    if (buffer == nullptr || values == nullptr || firstSample < 0 || count < 0 ||
        count > f_actualBufSize - firstSample)
        return ASE_InvalidParameter;

    switch (type) {
    case ASIOSTInt16MSB:
        writeRun([op](void* b, int32_t i, double v) { writeInt16(b, i, v, op, true); }, buffer, firstSample, values, count);
        break;
    case ASIOSTInt16LSB:
        writeRun([op](void* b, int32_t i, double v) { writeInt16(b, i, v, op, false); }, buffer, firstSample, values, count);
        break;
    case ASIOSTInt32MSB:
        writeRun([op](void* b, int32_t i, double v) { writeInt32(b, i, v, op, true); }, buffer, firstSample, values, count);
        break;
    case ASIOSTInt32LSB:
        writeRun([op](void* b, int32_t i, double v) { writeInt32(b, i, v, op, false); }, buffer, firstSample, values, count);
        break;
    case ASIOSTFloat32LSB:
        writeRun([op](void* b, int32_t i, double v) { writeFloat32(b, i, v, op); }, buffer, firstSample, values, count);
        break;
    default: // ASIOSTFloat64LSB
        writeRun([op](void* b, int32_t i, double v) { writeFloat64(b, i, v, op); }, buffer, firstSample, values, count);
        break;
    }
    return ASE_OK;
}

ASIOError telAsioDriver::setSample(int32_t channelIndex, int32_t bufIndex, int32_t sampleIndex, double value,
                                   telASIOSampleOp op) {
    if (!validIndex(channelIndex) || (bufIndex != 0 && bufIndex != 1)) return ASE_InvalidParameter;
    ASIOSampleType type = f_channelInfo[channelIndex]._type;
    if (ASIOError status = writableType(type); status != ASE_OK) return status;

    // A missing buffer or a sample outside the half would make the write land outside
    // the driver's memory.
    void* buffer = f_bufferInfo[channelIndex].buffers[bufIndex];
    if (buffer == nullptr || sampleIndex < 0 || sampleIndex >= f_actualBufSize) return ASE_InvalidParameter;

    switch (type) {
    case ASIOSTInt16MSB:
        writeInt16(buffer, sampleIndex, value, op, true);
        break;
    case ASIOSTInt16LSB:
        writeInt16(buffer, sampleIndex, value, op, false);
        break;
    case ASIOSTInt32MSB:
        writeInt32(buffer, sampleIndex, value, op, true);
        break;
    case ASIOSTInt32LSB:
        writeInt32(buffer, sampleIndex, value, op, false);
        break;
    case ASIOSTFloat32LSB:
        writeFloat32(buffer, sampleIndex, value, op);
        break;
    default: // ASIOSTFloat64LSB
        writeFloat64(buffer, sampleIndex, value, op);
        break;
    }
    return ASE_OK;
}
