#include "testdriver/inputSignal.h"

#include <array>
#include <cmath>

#include "testdriver/captureFormat.h"
#include "testdriver/sampleFormat.h"

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

} // namespace

double inputSignalValue(int32_t channel, int64_t position) {
    return sineTable[tableIndex(channel, position)];
}

void fillInputSignal(uint8_t* target, ASIOSampleType type, int32_t channel, int64_t position,
                     int32_t frames) {
    if (!hasSampleValue(type)) {
        for (int32_t s = 0; s < frames; ++s)
            target[s] = static_cast<uint8_t>(tableIndex(channel, position + s));
        return;
    }
    const int width = capture::sampleTypeBytes(type);
    for (int32_t s = 0; s < frames; ++s)
        encodeSample(target + s * width, type, inputSignalValue(channel, position + s));
}

} // namespace refdrv
