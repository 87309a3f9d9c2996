#include "measure/statistics.h"

#include <algorithm>
#include <cmath>

namespace measure {

double nearestRankPercentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double clamped = std::clamp(p, 0.0, 1.0);
    size_t rank = static_cast<size_t>(std::ceil(clamped * static_cast<double>(values.size())));
    if (rank < 1) rank = 1;
    return values[rank - 1];
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const size_t middle = (values.size() - 1) / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    return values[middle];
}

} // namespace measure
