// Driver samples into one channel's slot of interleaved WAV frames. Runs on the
// recording thread for every block, so each call decides once and then loops.
#include <cstring>

#include "measure/sampleBytes.h"
#include "measure/sampleDecode.h"
#include "measure/wavFile.h"

namespace measure {

namespace {

using namespace bytes;

// Moves `frames` samples of `inWidth` bytes to output samples `stride` bytes apart; `store`
// writes one output sample from one input sample.
template <size_t inWidth, class Store>
void convertLoop(const uint8_t* in, size_t frames, uint8_t* out, size_t stride, Store store) {
    for (size_t i = 0; i < frames; ++i)
        store(in + i * inWidth, out + i * stride);
}

template <size_t width> void copySample(const uint8_t* in, uint8_t* out) {
    std::memcpy(out, in, width);
}
template <size_t width> void reverseSample(const uint8_t* in, uint8_t* out) {
    for (size_t b = 0; b < width; ++b)
        out[b] = in[width - 1 - b];
}

void store24(uint32_t value, uint8_t* out) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
}

// A 32-bit container with `bits` significant bits as a 24-bit sample: the sign-extended
// value moved to the top of the 24 bits.
template <int bits> void containerTo24(uint32_t container, uint8_t* out) {
    store24(static_cast<uint32_t>(signExtend(container, bits)) << (24 - bits), out);
}

bool convertToFloat(ASIOSampleType type, const uint8_t* in, size_t frames, uint8_t* out, size_t stride) {
    switch (type) {
    case ASIOSTFloat32LSB: // kept bit for bit
        convertLoop<4>(in, frames, out, stride, copySample<4>);
        return true;
    case ASIOSTFloat32MSB:
        convertLoop<4>(in, frames, out, stride, reverseSample<4>);
        return true;
    default:
        return decodeSamplesStrided(type, in, frames, out, stride);
    }
}

bool convertToPcm(ASIOSampleType type, const uint8_t* in, size_t frames, uint8_t* out, size_t stride) {
    switch (type) {
    case ASIOSTInt16LSB:
        convertLoop<2>(in, frames, out, stride, copySample<2>);
        return true;
    case ASIOSTInt16MSB:
        convertLoop<2>(in, frames, out, stride, reverseSample<2>);
        return true;
    case ASIOSTInt24LSB:
        convertLoop<3>(in, frames, out, stride, copySample<3>);
        return true;
    case ASIOSTInt24MSB:
        convertLoop<3>(in, frames, out, stride, reverseSample<3>);
        return true;
    case ASIOSTInt32LSB:
        convertLoop<4>(in, frames, out, stride, copySample<4>);
        return true;
    case ASIOSTInt32MSB:
        convertLoop<4>(in, frames, out, stride, reverseSample<4>);
        return true;
    case ASIOSTInt32LSB16: // the low 16 bits: the first two bytes
        convertLoop<4>(in, frames, out, stride, copySample<2>);
        return true;
    case ASIOSTInt32MSB16: // the low 16 bits: the last two bytes, reversed
        convertLoop<4>(in, frames, out, stride,
                       [](const uint8_t* at, uint8_t* to) { reverseSample<2>(at + 2, to); });
        return true;
    case ASIOSTInt32LSB24:
        convertLoop<4>(in, frames, out, stride, copySample<3>);
        return true;
    case ASIOSTInt32MSB24:
        convertLoop<4>(in, frames, out, stride,
                       [](const uint8_t* at, uint8_t* to) { reverseSample<3>(at + 1, to); });
        return true;
    case ASIOSTInt32LSB18:
        convertLoop<4>(in, frames, out, stride,
                       [](const uint8_t* at, uint8_t* to) { containerTo24<18>(load32(at), to); });
        return true;
    case ASIOSTInt32LSB20:
        convertLoop<4>(in, frames, out, stride,
                       [](const uint8_t* at, uint8_t* to) { containerTo24<20>(load32(at), to); });
        return true;
    case ASIOSTInt32MSB18:
        convertLoop<4>(in, frames, out, stride,
                       [](const uint8_t* at, uint8_t* to) { containerTo24<18>(swap32(load32(at)), to); });
        return true;
    case ASIOSTInt32MSB20:
        convertLoop<4>(in, frames, out, stride,
                       [](const uint8_t* at, uint8_t* to) { containerTo24<20>(swap32(load32(at)), to); });
        return true;
    default:
        return false;
    }
}

} // namespace

bool convertToWavFrames(const WavPlan& plan, ASIOSampleType type, const void* source, size_t frames,
                        uint8_t* interleaved, uint16_t channelSlot) {
    if (!plan.recordable || channelSlot >= plan.channels) return false;
    const auto* in = static_cast<const uint8_t*>(source);
    uint8_t* out = interleaved + size_t(channelSlot) * plan.bytesPerSample();
    const size_t stride = plan.frameBytes();
    if (plan.isFloat) return convertToFloat(type, in, frames, out, stride);

    // A PCM plan records one type only; its rows differ in bits or valid bits.
    const std::optional<WavSampleFormat> format = wavFormatOf(type);
    if (!format || format->isFloat || format->bitsPerSample != plan.bitsPerSample ||
        format->validBits != plan.validBits)
        return false;
    return convertToPcm(type, in, frames, out, stride);
}

} // namespace measure
