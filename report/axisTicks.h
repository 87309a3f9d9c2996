// Axis ranges and tick marks at "nice" numbers: steps of 1, 2 or 5 times a power of ten,
// so a reader can count along an axis without arithmetic.
#pragma once

#include <string>
#include <vector>

namespace report {

struct TickedRange {
    double min = 0, max = 1; // the axis range: the data's range widened to whole steps
    double step = 1;         // distance between ticks
    std::vector<double> ticks;
};

// The smallest step of 1, 2 or 5 × 10^k that divides `span` into at most `maxIntervals`
// intervals. A span that is not positive or not finite gets step 1.
double niceStep(double span, int maxIntervals);

// Ticks every niceStep from the first multiple of the step at or below `low` to the first
// at or above `high`. When low and high are equal the range is widened around the value;
// values that are not finite give the range 0 … 1. `padding` widens the data's span by
// that fraction on each side first, so marks at the extremes are not cut by the frame.
TickedRange linearRange(double low, double high, int maxIntervals, double padding = 0);

// An axis that ends exactly where the data ends (a run's time: a 20 s run's axis ends at
// 20 s, not at the next step): the range is low … high itself, with ticks at the
// multiples of a nice step inside it, as fine as `maxIntervals` steps allow.
TickedRange exactRange(double low, double high, int maxIntervals);

// A logarithmic axis of sizes that double (buffer sizes): from the power of two at or
// below `low` to the one at or above `high`, a tick at every power of two, so that 32,
// 64, 128 … stand evenly apart; every second or fourth one when there would be more
// than `maxTicks`. Values that are not positive count as 1.
TickedRange powerOfTwoRange(double low, double high, int maxTicks = 12);

// Decades for a logarithmic axis: from the power of ten at or below `low` to the one at
// or above `high`, ticks at every power of ten (low must be positive, else 1 is used).
TickedRange logRange(double low, double high);

// A tick's label: as many decimals as the step needs ("0.25" for a step of 0.05, "1500"
// for 500); with `compactLarge`, 1000 and more as "1k", "2.5M" (for counts on a log axis).
std::string tickLabel(double value, double step, bool compactLarge = false);

} // namespace report
