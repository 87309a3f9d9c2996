// The wire's delay between samples: the taps of a windowed sinc (Blackman window) that
// delay by a fraction of a sample, as a resampling converter delays. Header-only, so the
// analysis tests build their synthetic loops with the very same filter.
#pragma once

#include <cmath>
#include <numbers>
#include <vector>

namespace refdrv {

// Taps on each side of the fractional-delay filter.
inline constexpr int fractionReach = 16;
inline constexpr int fractionTapCount = 2 * fractionReach + 1;

// Writes fractionTapCount taps; tap j + fractionReach weighs the sample j before the one
// being made. `fraction` from 0 (exclusive) to 1. Allocates nothing.
inline void wireFractionTaps(double fraction, double* taps) {
    for (int j = -fractionReach; j <= fractionReach; ++j) {
        const double x = j - fraction;
        const double sinc = std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
        const double n = (x + fractionReach + 1) / (2.0 * fractionReach + 2);
        taps[j + fractionReach] = sinc * (0.42 - 0.5 * std::cos(2 * std::numbers::pi * n) +
                                          0.08 * std::cos(4 * std::numbers::pi * n));
    }
}

inline std::vector<double> wireFractionTaps(double fraction) {
    std::vector<double> taps(fractionTapCount);
    wireFractionTaps(fraction, taps.data());
    return taps;
}

} // namespace refdrv
