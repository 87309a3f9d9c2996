// Small statistics over plain sequences of numbers, shared by the analyses.
#pragma once

#include <cstddef>
#include <vector>

namespace measure {

// The value at rank ceil(p × n) of the sorted values (nearest rank, p from 0 to 1);
// 0 for an empty sequence. Sorts a copy.
double nearestRankPercentile(std::vector<double> values, double p);

// The middle value of the sorted values (the lower one of the two middle values for an
// even count); 0 for an empty sequence.
double median(std::vector<double> values);

} // namespace measure
