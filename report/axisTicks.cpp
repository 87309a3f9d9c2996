#include "report/axisTicks.h"

#include <algorithm>
#include <cmath>

#include "report/markup.h"

namespace report {

double niceStep(double span, int maxIntervals) {
    if (!(span > 0) || !std::isfinite(span)) return 1;
    if (maxIntervals < 1) maxIntervals = 1;
    const double raw = span / maxIntervals;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
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
    const long count = std::lround((range.max - range.min) / range.step);
    range.ticks.clear();
    for (long i = 0; i <= count; ++i) {
        double tick = range.min + double(i) * range.step;
        if (std::fabs(tick) < range.step * 1e-9) tick = 0; // no "-0" from rounding
        range.ticks.push_back(tick);
    }
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
        return compactNumber(scaled, 3) + (millions ? "M" : "k");
    }
    int decimals = 0;
    if (step > 0 && step < 1) decimals = int(std::ceil(-std::log10(step) - 1e-9));
    std::string text = fixedNumber(value, decimals);
    if (text.find_first_not_of("-0.") == std::string::npos) text = "0";
    return text;
}

} // namespace report
