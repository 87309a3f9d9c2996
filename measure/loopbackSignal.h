// The measurement signal played into a loopback: a burst of a maximum-length sequence
// every half second, a steady sine between the bursts.
//
// Output position q counts samples from the first buffer played (q = 0). The signal
// repeats with a cycle of S = round(rate / 2) samples; within each cycle the first
// N = 4095 samples are the sequence (order 12, values ±1) times 0.5, the rest is the
// sine 0.5 sin(2π (q mod P) / P) with P = 48. The sine's phase runs with q itself, so the
// sine stretches of all cycles belong to one continuous sine; where S is no multiple of
// P (44.1 kHz, 88.2 kHz, ...) the sine part of one cycle therefore differs from the next.
//
// The plan is built on the main thread before the driver starts; the callback then only
// reads its tables through render().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace measure {

inline constexpr int sequenceOrder = 12;
inline constexpr int sequenceLength = (1 << sequenceOrder) - 1; // N
inline constexpr int sinePeriodSamples = 48;                    // P
inline constexpr double signalAmplitude = 0.5;                  // about -6 dBFS

// The maximum-length sequence of order 12 as ±1 values (4095 of them), from the
// primitive feedback polynomial x^12 + x^6 + x^4 + x + 1.
std::vector<float> maximumLengthSequence();

struct LoopbackSignal {
    double sampleRate = 0.0;
    int64_t cycleLength = 0; // S
    int burstLength = sequenceLength;
    int sinePeriod = sinePeriodSamples;
    double amplitude = signalAmplitude;
    std::vector<float> sequence;   // the ±1 sequence, burstLength values
    std::vector<float> cycleTable; // the first cycle, q = 0 … S - 1, as played
    std::vector<float> sineTable;  // one period of the sine, index q mod P

    // The exact value played at output position q (0 before q = 0).
    double signalAt(int64_t q) const;

    // Writes the values of positions q … q + count - 1 from the tables (0 before q = 0).
    // Reads nothing else and allocates nothing: safe on the callback path.
    void render(int64_t q, float* target, size_t count) const;
};

// The signal for this sample rate; nothing for rates below 8000 or above 1,000,000 Hz
// and for rates whose cycle is not longer than 2N + 4P (no room for the sine).
std::optional<LoopbackSignal> makeLoopbackSignal(double sampleRate);

} // namespace measure
