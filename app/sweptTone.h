// The swept tone both processors play: the phase advances per sample by the cosine of a
// slowly rising modulation phase, so the pitch sweeps between 0 and rate / 2π. Sine and
// cosine are taken in extended precision; the phases are kept as doubles.
#pragma once

#include <cmath>

// The sample at `sine`, then both phases advanced by one sample.
inline double nextSweptToneSample(double& sine, double& cosine) noexcept {
    constexpr long double twoPi = 6.283185307179586477L;
    constexpr long double modulationStep = 0.00004L;
    const double value = static_cast<double>(std::sin(static_cast<long double>(sine)));
    cosine = static_cast<double>(cosine + modulationStep);
    sine = static_cast<double>(sine + std::cos(static_cast<long double>(cosine)));
    if (sine > twoPi) sine = static_cast<double>(sine - twoPi);
    if (cosine > twoPi) cosine = static_cast<double>(cosine - twoPi);
    return value;
}
