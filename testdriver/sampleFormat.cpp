#include "testdriver/sampleFormat.h"

#include <cmath>
#include <cstring>

namespace refdrv {

namespace {

enum class Kind { none, integer, float32, float64 };

struct Layout {
    Kind kind = Kind::none;
    int width = 1; // bytes of the container
    int bits = 0;  // significant bits of an integer
    bool msb = false;
};

Layout layoutOf(ASIOSampleType type) {
    const bool msb = type < ASIOSTInt16LSB;
    switch (type) {
    case ASIOSTInt16MSB:
    case ASIOSTInt16LSB:
        return {Kind::integer, 2, 16, msb};
    case ASIOSTInt24MSB:
    case ASIOSTInt24LSB:
        return {Kind::integer, 3, 24, msb};
    case ASIOSTInt32MSB:
    case ASIOSTInt32LSB:
        return {Kind::integer, 4, 32, msb};
    case ASIOSTInt32MSB16:
    case ASIOSTInt32MSB18:
    case ASIOSTInt32MSB20:
    case ASIOSTInt32MSB24:
    case ASIOSTInt32LSB16:
    case ASIOSTInt32LSB18:
    case ASIOSTInt32LSB20:
    case ASIOSTInt32LSB24: {
        static constexpr int significant[4] = {16, 18, 20, 24};
        return {Kind::integer, 4, significant[(type - ASIOSTInt32MSB16) & 7], msb};
    }
    case ASIOSTFloat32MSB:
    case ASIOSTFloat32LSB:
        return {Kind::float32, 4, 0, msb};
    case ASIOSTFloat64MSB:
    case ASIOSTFloat64LSB:
        return {Kind::float64, 8, 0, msb};
    default:
        return {};
    }
}

// Stores the low `width` bytes of `bits` little-endian, or big-endian when `msb`.
void storeBytes(uint8_t* at, uint64_t bits, int width, bool msb) {
    for (int i = 0; i < width; ++i)
        at[msb ? width - 1 - i : i] = static_cast<uint8_t>(bits >> (8 * i));
}

uint64_t loadBytes(const uint8_t* at, int width, bool msb) {
    uint64_t bits = 0;
    for (int i = 0; i < width; ++i)
        bits |= uint64_t{at[msb ? width - 1 - i : i]} << (8 * i);
    return bits;
}

double fullScale(int bits) {
    return std::ldexp(1.0, bits - 1) - 1.0;
}

int64_t scaledInteger(double value, int bits) {
    if (std::isnan(value)) return 0;
    const double top = std::ldexp(1.0, bits - 1);
    const double scaled = value * fullScale(bits);
    if (scaled >= top - 1.0) return static_cast<int64_t>(top) - 1;
    if (scaled <= -top) return -static_cast<int64_t>(top);
    return std::llrint(scaled);
}

} // namespace

bool hasSampleValue(ASIOSampleType type) {
    return layoutOf(type).kind != Kind::none;
}

bool encodeSample(uint8_t* at, ASIOSampleType type, double value) {
    const Layout layout = layoutOf(type);
    switch (layout.kind) {
    case Kind::integer:
        storeBytes(at, static_cast<uint64_t>(scaledInteger(value, layout.bits)), layout.width, layout.msb);
        return true;
    case Kind::float32: {
        const float sample = static_cast<float>(value);
        uint32_t bits;
        std::memcpy(&bits, &sample, 4);
        storeBytes(at, bits, 4, layout.msb);
        return true;
    }
    case Kind::float64: {
        uint64_t bits;
        std::memcpy(&bits, &value, 8);
        storeBytes(at, bits, 8, layout.msb);
        return true;
    }
    case Kind::none:
        break;
    }
    return false;
}

double decodeSample(const uint8_t* at, ASIOSampleType type) {
    const Layout layout = layoutOf(type);
    switch (layout.kind) {
    case Kind::integer: {
        // Sign-extend from the significant bits; a container's unused high bits are ignored.
        const uint64_t raw = loadBytes(at, layout.width, layout.msb);
        const int shift = 64 - layout.bits;
        const int64_t value = static_cast<int64_t>(raw << shift) >> shift;
        return static_cast<double>(value) / fullScale(layout.bits);
    }
    case Kind::float32: {
        const uint32_t bits = static_cast<uint32_t>(loadBytes(at, 4, layout.msb));
        float sample;
        std::memcpy(&sample, &bits, 4);
        return sample;
    }
    case Kind::float64: {
        const uint64_t bits = loadBytes(at, 8, layout.msb);
        double sample;
        std::memcpy(&sample, &bits, 8);
        return sample;
    }
    case Kind::none:
        break;
    }
    return 0.0;
}

} // namespace refdrv
