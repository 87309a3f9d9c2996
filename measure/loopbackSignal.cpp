#include "measure/loopbackSignal.h"

#include <cmath>
#include <numbers>

namespace measure {

namespace {

double sineValue(int64_t q) {
    const int64_t phase = ((q % sinePeriodSamples) + sinePeriodSamples) % sinePeriodSamples;
    return signalAmplitude * std::sin(2.0 * std::numbers::pi * double(phase) / sinePeriodSamples);
}

} // namespace

std::vector<float> maximumLengthSequence() {
    // A Fibonacci shift register: the feedback taps 12, 6, 4 and 1 make its period the
    // full 2^12 - 1 states.
    std::vector<float> sequence;
    sequence.reserve(sequenceLength);
    uint32_t state = (1u << sequenceOrder) - 1;
    for (int i = 0; i < sequenceLength; ++i) {
        const uint32_t bit = ((state >> 11) ^ (state >> 5) ^ (state >> 3) ^ state) & 1u;
        state = ((state << 1) | bit) & ((1u << sequenceOrder) - 1);
        sequence.push_back(bit ? 1.0f : -1.0f);
    }
    return sequence;
}

std::optional<LoopbackSignal> makeLoopbackSignal(double sampleRate) {
    if (!(sampleRate >= 8000.0 && sampleRate <= 1000000.0)) return std::nullopt;
    LoopbackSignal signal;
    signal.sampleRate = sampleRate;
    signal.cycleLength = std::llround(sampleRate / 2.0);
    if (signal.cycleLength <= 2 * sequenceLength + 4 * sinePeriodSamples) return std::nullopt;
    signal.sequence = maximumLengthSequence();
    signal.sineTable.resize(sinePeriodSamples);
    for (int k = 0; k < sinePeriodSamples; ++k)
        signal.sineTable[k] = static_cast<float>(sineValue(k));
    signal.cycleTable.resize(static_cast<size_t>(signal.cycleLength));
    for (int64_t q = 0; q < signal.cycleLength; ++q)
        signal.cycleTable[static_cast<size_t>(q)] = static_cast<float>(signal.signalAt(q));
    return signal;
}

double LoopbackSignal::signalAt(int64_t q) const {
    if (q < 0) return 0.0;
    const int64_t inCycle = q % cycleLength;
    if (inCycle < burstLength) return amplitude * sequence[static_cast<size_t>(inCycle)];
    return sineValue(q);
}

void LoopbackSignal::render(int64_t q, float* target, size_t count) const {
    // Nothing is played before the first buffer.
    for (; count > 0 && q < 0; --count, ++q)
        *target++ = 0.0f;
    size_t inCycle = static_cast<size_t>(q % cycleLength);
    size_t phase = static_cast<size_t>(q % sinePeriod);
    const size_t cycle = static_cast<size_t>(cycleLength);
    const size_t burst = static_cast<size_t>(burstLength), period = static_cast<size_t>(sinePeriod);
    for (size_t i = 0; i < count; ++i) {
        target[i] = inCycle < burst ? cycleTable[inCycle] : sineTable[phase];
        if (++inCycle == cycle) inCycle = 0;
        if (++phase == period) phase = 0;
    }
}

} // namespace measure
