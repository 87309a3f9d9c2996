// The round trip over a run's bursts: its value with a 95 % interval, its spread, and
// its trend.
//
// Each burst gives a delay and its standard error (subsampleDelay.h) at a time (its
// position in samples). A straight line is fitted through the delays over time: its
// change from the first burst to the last is the trend, with its own 95 % interval. The
// round trip is the mean of the delays, and its 95 % interval comes from the scatter
// around that line or from the bursts' own standard errors, whichever is the wider,
// with Student's t for the bursts counted. A wire that drifts thus shows as a change
// over the run, while the interval stays as narrow as each burst is sure.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace measure {

// A round trip changes over a run when its fitted change is at least this many samples
// and its 95 % interval leaves out no change at all.
inline constexpr double minRoundTripChange = 0.1;

struct RoundTripFigures {
    size_t bursts = 0;
    double mean = 0.0, median = 0.0, min = 0.0, max = 0.0;
    double spread = 0.0;      // standard deviation of the bursts' delays
    double halfWidth95 = 0.0; // the round trip lies in mean ± halfWidth95 (95 %)
    // The fitted change from the first burst to the last, and its 95 % interval's half
    // width; 0 with fewer than three bursts.
    double change = 0.0, changeHalfWidth95 = 0.0;
    bool changing = false;
    // Decimals the interval allows: 2 below 0.05 samples, 1 below 0.5, else 0.
    int decimals = 0;
};

// From the delays of a run's bursts, their standard errors and times (all alike long).
RoundTripFigures roundTripFigures(const std::vector<double>& delays,
                                  const std::vector<double>& standardErrors,
                                  const std::vector<double>& times);

// "696.37 ± 0.01": the mean to the decimals the interval allows, and the interval's
// half width rounded up to them (at least one unit of the last decimal).
std::string roundTripText(const RoundTripFigures& figures);

// Student's t for a two-sided 95 % interval with `degrees` degrees of freedom (1.96
// for none: a normal error assumed).
double studentT95(size_t degrees);

} // namespace measure
