#include "report/axisTicks.h"

#include <algorithm>
#include <cmath>

#include "report/markup.h"

namespace report {

double niceStep(double span, int maxIntervals) {
    if (!(span > 0) || !std::isfinite(span)) return 1;
    if (maxIntervals < 1) maxIntervals = 1;
    const double raw = span / maxIntervals;
    // 10^-k as 1 / 10^k: exact powers of ten give correctly rounded steps (0.001, not
    // 0.0010000000000000002, which some runtimes' pow returns).
    const double exponent = std::floor(std::log10(raw));
    const double power = exponent >= 0 ? std::pow(10.0, exponent) : 1 / std::pow(10.0, -exponent);
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        // A little tolerance, so 0.3 / 3 gives 0.1 and not 0.2 from rounding.
        if (factor * power >= raw * (1 - 1e-9)) return factor * power;
    }
    return 10 * power;
}

TickedRange linearRange(double low, double high, int maxIntervals, double padding) {
    if (!std::isfinite(low) || !std::isfinite(high)) low = 0, high = 1;
    if (low > high) std::swap(low, high);
    if (padding > 0 && high > low) {
        const double margin = (high - low) * padding;
        low -= margin;
        high += margin;
    }
    if (low == high) {
        const double half = low == 0 ? 1 : std::fabs(low) * 0.1;
        low -= half;
        high += half;
    }
    TickedRange range;
    // Widening to whole steps may need a coarser step to stay within the interval count.
    for (double span = high - low;; span *= 1.5) {
        range.step = niceStep(span, maxIntervals);
        range.min = std::floor(low / range.step + 1e-9) * range.step;
        range.max = std::ceil(high / range.step - 1e-9) * range.step;
        if ((range.max - range.min) / range.step <= maxIntervals + 1e-9 || maxIntervals < 1) break;
    }
    // A multiple of the step may still miss the data by a rounding error: the data wins.
    range.min = std::min(range.min, low);
    range.max = std::max(range.max, high);
    const long count = std::lround((range.max - range.min) / range.step);
    range.ticks.clear();
    for (long i = 0; i <= count; ++i) {
        double tick = range.min + double(i) * range.step;
        if (std::fabs(tick) < range.step * 1e-9) tick = 0; // no "-0" from rounding
        range.ticks.push_back(tick);
    }
    return range;
}

namespace {

// The next nice step below `step` (1, 2 or 5 × 10^k).
double smallerStep(double step) {
    const double power = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double factor = step / power;
    if (factor > 4.5) return 2 * power;
    if (factor > 1.5) return power;
    return power / 2;
}

} // namespace

TickedRange exactRange(double low, double high, int maxIntervals) {
    if (!std::isfinite(low) || !std::isfinite(high)) low = 0, high = 1;
    if (low > high) std::swap(low, high);
    if (low == high) high = low + (low == 0 ? 1 : std::fabs(low) * 0.1);
    if (maxIntervals < 1) maxIntervals = 1;
    const double span = high - low;
    TickedRange range;
    range.min = low;
    range.max = high;
    range.step = niceStep(span, maxIntervals);
    // The step that covers the whole span may be coarser than the ticks inside need:
    // 20.05 s takes steps of 2 s (ten of them fit), not of 5 s.
    while (std::floor(span / smallerStep(range.step) + 1e-9) <= maxIntervals)
        range.step = smallerStep(range.step);
    const double first = std::ceil(low / range.step - 1e-9);
    for (double k = first;; ++k) {
        double tick = k * range.step;
        if (tick > high + range.step * 1e-9) break;
        if (std::fabs(tick) < range.step * 1e-9) tick = 0;
        range.ticks.push_back(tick);
    }
    return range;
}

TickedRange powerOfTwoRange(double low, double high, int maxTicks) {
    if (!(low > 0) || !std::isfinite(low)) low = 1;
    if (!std::isfinite(high) || high < low) high = low;
    const double first = std::floor(std::log2(low) + 1e-9);
    double last = std::ceil(std::log2(high) - 1e-9);
    if (last <= first) last = first + 1;
    TickedRange range;
    range.min = std::exp2(first);
    range.max = std::exp2(last);
    range.step = 1; // whole numbers: the labels need no decimals
    int every = 1;
    while ((last - first) / every + 1 > std::max(maxTicks, 2))
        every *= 2;
    for (double exponent = first; exponent <= last; exponent += every)
        range.ticks.push_back(std::exp2(exponent));
    return range;
}

TickedRange logRange(double low, double high) {
    if (!(low > 0) || !std::isfinite(low)) low = 1;
    if (!std::isfinite(high) || high < low) high = low;
    TickedRange range;
    const double firstDecade = std::floor(std::log10(low) + 1e-9);
    double lastDecade = std::ceil(std::log10(high) - 1e-9);
    if (lastDecade <= firstDecade) lastDecade = firstDecade + 1;
    range.min = std::pow(10.0, firstDecade);
    range.max = std::pow(10.0, lastDecade);
    range.step = 10;
    for (double decade = firstDecade; decade <= lastDecade; ++decade)
        range.ticks.push_back(std::pow(10.0, decade));
    return range;
}

std::string tickLabel(double value, double step, bool compactLarge) {
    if (compactLarge && std::fabs(value) >= 1000) {
        const bool millions = std::fabs(value) >= 1e6;
        const double scaled = value / (millions ? 1e6 : 1e3);
        std::string text = compactNumber(scaled, 3);
        text += millions ? 'M' : 'k';
        return text;
    }
    int decimals = 0;
    if (step > 0 && step < 1) decimals = int(std::ceil(-std::log10(step) - 1e-9));
    const std::string text = fixedNumber(value, decimals);
    // "-0.0" from a value that rounds to zero is plain 0.
    return text.find_first_not_of("-0.") == std::string::npos ? std::string(1, '0') : text;
}

} // namespace report
