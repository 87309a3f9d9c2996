#include "toneGenerator.h"

#include <cmath>

namespace capcheck {

namespace {

constexpr long double twoPi = 6.283185307179586477L;
constexpr long double modulationStep = 0.00004L;

} // namespace

double ToneGenerator::next() {
    const double value = static_cast<double>(sinl(sine_));
    cosine_ = static_cast<double>(cosine_ + modulationStep);
    sine_ = static_cast<double>(sine_ + cosl(cosine_));
    // Only the upper end wraps: while the modulation's cosine is negative the phase falls
    // below zero and stays there until it rises again.
    if (sine_ > twoPi) sine_ = static_cast<double>(sine_ - twoPi);
    if (cosine_ > twoPi) cosine_ = static_cast<double>(cosine_ - twoPi);
    return value;
}

} // namespace capcheck
