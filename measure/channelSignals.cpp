#include "measure/channelSignals.h"

#include <bit>

namespace measure {

namespace {

// Walsh function `row` at sample n: (-1)^popcount(row & n).
float walshSign(int row, int n) {
    return (std::popcount(static_cast<unsigned>(row & n)) & 1) != 0 ? -1.0f : 1.0f;
}

} // namespace

std::optional<ChannelSignals> makeChannelSignals(double sampleRate, int outputs) {
    if (outputs < 1 || outputs > maxSignalOutputs) return std::nullopt;
    std::optional<LoopbackSignal> base = makeLoopbackSignal(sampleRate);
    if (!base) return std::nullopt;
    return ChannelSignals{std::move(*base), outputs};
}

float ChannelSignals::sequenceValue(int output, int i) const {
    if (output < 1 || output > outputs || i < 0 || i >= base.burstLength) return 0.0f;
    return base.sequence[static_cast<size_t>(i)] * walshSign(output - 1, i);
}

std::vector<float> ChannelSignals::sequence(int output) const {
    std::vector<float> values;
    if (output < 1 || output > outputs) return values;
    for (int i = 0; i < base.burstLength; ++i)
        values.push_back(sequenceValue(output, i));
    return values;
}

double ChannelSignals::signalAt(int output, int64_t q) const {
    if (output < 1 || output > outputs || q < 0) return 0.0;
    const int64_t inCycle = q % base.cycleLength;
    if (inCycle < base.burstLength) return base.amplitude * sequenceValue(output, static_cast<int>(inCycle));
    return base.signalAt(q);
}

void ChannelSignals::render(int output, int64_t q, float* target, size_t count) const {
    if (output < 1 || output > outputs) {
        for (size_t i = 0; i < count; ++i)
            target[i] = 0.0f;
        return;
    }
    base.render(q, target, count);
    if (output == 1) return;
    // The burst's samples, each with its sign.
    const int row = output - 1;
    size_t i = 0;
    while (i < count && q + static_cast<int64_t>(i) < 0)
        ++i;
    if (i == count) return;
    int64_t inCycle = (q + static_cast<int64_t>(i)) % base.cycleLength;
    for (; i < count; ++i) {
        if (inCycle < base.burstLength) target[i] *= walshSign(row, static_cast<int>(inCycle));
        if (++inCycle == base.cycleLength) inCycle = 0;
    }
}

} // namespace measure
