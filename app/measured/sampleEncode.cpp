#include "app/measured/sampleEncode.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

int64_t scaled(float value, int bits) {
    const double full = static_cast<double>((int64_t{1} << (bits - 1)) - 1);
    double v = std::nearbyint(static_cast<double>(value) * full);
    if (!(v == v)) v = 0.0; // NaN
    if (v > full) v = full;
    if (v < -full - 1.0) v = -full - 1.0;
    return static_cast<int64_t>(v);
}

// Stores the low `width` bytes of `value`, little- or big-endian.
void storeInteger(uint8_t* target, uint64_t value, int width, bool bigEndian) {
    for (int byte = 0; byte < width; ++byte) {
        const uint8_t part = static_cast<uint8_t>(value >> (8 * byte));
        target[bigEndian ? width - 1 - byte : byte] = part;
    }
}

template <class Float> void storeFloat(uint8_t* target, float value, bool bigEndian) {
    const Float v = static_cast<Float>(value);
    uint8_t bytes[sizeof(Float)];
    std::memcpy(bytes, &v, sizeof v);
    for (size_t byte = 0; byte < sizeof(Float); ++byte) target[byte] = bytes[bigEndian ? sizeof(Float) - 1 - byte : byte];
}

struct integerFormat {
    int width; // bytes of the container
    int bits;  // significant bits
    bool bigEndian;
};

bool integerFormatOf(ASIOSampleType type, integerFormat& format) {
    switch (type) {
    case ASIOSTInt16LSB: format = {2, 16, false}; return true;
    case ASIOSTInt16MSB: format = {2, 16, true}; return true;
    case ASIOSTInt24LSB: format = {3, 24, false}; return true;
    case ASIOSTInt24MSB: format = {3, 24, true}; return true;
    case ASIOSTInt32LSB: format = {4, 32, false}; return true;
    case ASIOSTInt32MSB: format = {4, 32, true}; return true;
    case ASIOSTInt32LSB16: format = {4, 16, false}; return true;
    case ASIOSTInt32LSB18: format = {4, 18, false}; return true;
    case ASIOSTInt32LSB20: format = {4, 20, false}; return true;
    case ASIOSTInt32LSB24: format = {4, 24, false}; return true;
    case ASIOSTInt32MSB16: format = {4, 16, true}; return true;
    case ASIOSTInt32MSB18: format = {4, 18, true}; return true;
    case ASIOSTInt32MSB20: format = {4, 20, true}; return true;
    case ASIOSTInt32MSB24: format = {4, 24, true}; return true;
    default: return false;
    }
}

} // namespace

bool encodeSamples(ASIOSampleType type, const float* values, size_t count, void* target) noexcept {
    auto* bytes = static_cast<uint8_t*>(target);
    integerFormat format{};
    if (integerFormatOf(type, format)) {
        for (size_t i = 0; i < count; ++i)
            storeInteger(bytes + i * static_cast<size_t>(format.width),
                         static_cast<uint64_t>(scaled(values[i], format.bits)), format.width, format.bigEndian);
        return true;
    }
    switch (type) {
    case ASIOSTFloat32LSB:
    case ASIOSTFloat32MSB:
        for (size_t i = 0; i < count; ++i) storeFloat<float>(bytes + 4 * i, values[i], type == ASIOSTFloat32MSB);
        return true;
    case ASIOSTFloat64LSB:
    case ASIOSTFloat64MSB:
        for (size_t i = 0; i < count; ++i) storeFloat<double>(bytes + 8 * i, values[i], type == ASIOSTFloat64MSB);
        return true;
    default:
        return false;
    }
}
