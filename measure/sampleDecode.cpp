#include "measure/sampleDecode.h"

#include <cstring>

#include "measure/sampleBytes.h"

namespace measure {

namespace {

using namespace bytes;

// One type's loop: `decode` turns the bytes of one sample into its value.
template <class Decode>
void decodeLoop(const uint8_t* source, size_t width, size_t count, uint8_t* target, size_t stride,
                Decode decode) {
    for (size_t i = 0; i < count; ++i) {
        const float value = decode(source + i * width);
        std::memcpy(target + i * stride, &value, sizeof value);
    }
}

// A 32-bit container holding a right-aligned sample of `Bits` significant bits.
template <int Bits> float containerValue(uint32_t container) {
    constexpr double fullScale = double((int64_t(1) << (Bits - 1)) - 1);
    return static_cast<float>(signExtend(container, Bits) / fullScale);
}

constexpr double fullScale16 = 32767.0;
constexpr double fullScale24 = 8388607.0;
constexpr double fullScale32 = 2147483647.0;

} // namespace

int sampleWidth(ASIOSampleType type) {
    return sampleTypeBytes(type);
}

bool hasSampleValues(ASIOSampleType type) {
    return sampleWidth(type) > 1;
}

bool decodeSamplesStrided(ASIOSampleType type, const void* source, size_t count, uint8_t* target,
                          size_t stride) {
    const auto* in = static_cast<const uint8_t*>(source);
    const size_t width = static_cast<size_t>(sampleWidth(type));
    switch (type) {
    case ASIOSTInt16LSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return float(int16_t(load16(at)) / fullScale16); });
        return true;
    case ASIOSTInt16MSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return float(int16_t(swap16(load16(at))) / fullScale16); });
        return true;
    case ASIOSTInt24LSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return float(load24Little(at) / fullScale24); });
        return true;
    case ASIOSTInt24MSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return float(load24Big(at) / fullScale24); });
        return true;
    case ASIOSTInt32LSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return float(int32_t(load32(at)) / fullScale32); });
        return true;
    case ASIOSTInt32MSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return float(int32_t(swap32(load32(at))) / fullScale32); });
        return true;
    case ASIOSTFloat32LSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return bitsToFloat(load32(at)); });
        return true;
    case ASIOSTFloat32MSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return bitsToFloat(swap32(load32(at))); });
        return true;
    case ASIOSTFloat64LSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return float(bitsToDouble(load64(at))); });
        return true;
    case ASIOSTFloat64MSB:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return float(bitsToDouble(swap64(load64(at)))); });
        return true;
    case ASIOSTInt32LSB16:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return containerValue<16>(load32(at)); });
        return true;
    case ASIOSTInt32LSB18:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return containerValue<18>(load32(at)); });
        return true;
    case ASIOSTInt32LSB20:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return containerValue<20>(load32(at)); });
        return true;
    case ASIOSTInt32LSB24:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return containerValue<24>(load32(at)); });
        return true;
    case ASIOSTInt32MSB16:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return containerValue<16>(swap32(load32(at))); });
        return true;
    case ASIOSTInt32MSB18:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return containerValue<18>(swap32(load32(at))); });
        return true;
    case ASIOSTInt32MSB20:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return containerValue<20>(swap32(load32(at))); });
        return true;
    case ASIOSTInt32MSB24:
        decodeLoop(in, width, count, target, stride,
                   [](const uint8_t* at) { return containerValue<24>(swap32(load32(at))); });
        return true;
    default:
        return false;
    }
}

bool decodeSamples(ASIOSampleType type, const void* source, size_t count, float* target) {
    return decodeSamplesStrided(type, source, count, reinterpret_cast<uint8_t*>(target), sizeof(float));
}

} // namespace measure
