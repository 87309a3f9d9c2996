#include "testdriver/inputSignal.h"

#include <array>
#include <cmath>
#include <cstring>

#include "testdriver/captureFormat.h"

namespace refdrv {

namespace {

constexpr int tableSize = 256;

// Filled when the module loads, so the stream thread never initialises anything.
const std::array<double, tableSize> sineTable = [] {
    std::array<double, tableSize> table{};
    for (int i = 0; i < tableSize; ++i)
        table[i] = 0.5 * std::sin(2.0 * 3.14159265358979323846 * i / tableSize);
    return table;
}();

int tableIndex(int32_t channel, int64_t position) {
    const int64_t step = channel % 16 + 1;
    return static_cast<int>((position * step) & (tableSize - 1));
}

// Stores the low `width` bytes of `bits` little-endian, or big-endian when `msb`.
void storeBytes(uint8_t* at, uint64_t bits, int width, bool msb) {
    for (int i = 0; i < width; ++i) {
        const uint8_t byte = static_cast<uint8_t>(bits >> (8 * i));
        at[msb ? width - 1 - i : i] = byte;
    }
}

uint64_t scaledInteger(double value, int bits) {
    const double fullScale = std::ldexp(1.0, bits - 1) - 1.0;
    return static_cast<uint64_t>(static_cast<int64_t>(std::lrint(value * fullScale)));
}

// Writes one sample; returns false for formats without a sample value.
bool storeSample(uint8_t* at, ASIOSampleType type, double value) {
    const bool msb = type < ASIOSTInt16LSB;
    switch (type) {
    case ASIOSTInt16MSB:
    case ASIOSTInt16LSB:
        storeBytes(at, scaledInteger(value, 16), 2, msb);
        return true;
    case ASIOSTInt24MSB:
    case ASIOSTInt24LSB:
        storeBytes(at, scaledInteger(value, 24), 3, msb);
        return true;
    case ASIOSTInt32MSB:
    case ASIOSTInt32LSB:
        storeBytes(at, scaledInteger(value, 32), 4, msb);
        return true;
    case ASIOSTInt32MSB16:
    case ASIOSTInt32MSB18:
    case ASIOSTInt32MSB20:
    case ASIOSTInt32MSB24:
    case ASIOSTInt32LSB16:
    case ASIOSTInt32LSB18:
    case ASIOSTInt32LSB20:
    case ASIOSTInt32LSB24: {
        // Right-aligned 16 to 24 significant bits, sign-extended to the 32-bit container.
        static constexpr int significant[4] = {16, 18, 20, 24};
        const int bits = significant[(type - ASIOSTInt32MSB16) & 7];
        storeBytes(at, scaledInteger(value, bits), 4, msb);
        return true;
    }
    case ASIOSTFloat32MSB:
    case ASIOSTFloat32LSB: {
        const float sample = static_cast<float>(value);
        uint32_t bits;
        std::memcpy(&bits, &sample, 4);
        storeBytes(at, bits, 4, msb);
        return true;
    }
    case ASIOSTFloat64MSB:
    case ASIOSTFloat64LSB: {
        uint64_t bits;
        std::memcpy(&bits, &value, 8);
        storeBytes(at, bits, 8, msb);
        return true;
    }
    default:
        return false;
    }
}

} // namespace

double inputSignalValue(int32_t channel, int64_t position) {
    return sineTable[tableIndex(channel, position)];
}

void fillInputSignal(uint8_t* target, ASIOSampleType type, int32_t channel, int64_t position,
                     int32_t frames) {
    if (!storeSample(target, type, 0.0)) {
        for (int32_t s = 0; s < frames; ++s)
            target[s] = static_cast<uint8_t>(tableIndex(channel, position + s));
        return;
    }
    const int width = capture::sampleTypeBytes(type);
    for (int32_t s = 0; s < frames; ++s)
        storeSample(target + s * width, type, inputSignalValue(channel, position + s));
}

} // namespace refdrv
