#include "measure/roundTripFigures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "measure/statistics.h"

namespace measure {

double studentT95(size_t degrees) {
    static const double table[] = {12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306, 2.262, 2.228,
                                   2.201,  2.179, 2.160, 2.145, 2.131, 2.120, 2.110, 2.101, 2.093, 2.086,
                                   2.080,  2.074, 2.069, 2.064, 2.060, 2.056, 2.052, 2.048, 2.045, 2.042};
    if (degrees == 0) return 1.96;
    if (degrees <= std::size(table)) return table[degrees - 1];
    return 1.96 + 2.4 / double(degrees); // within 0.002 of the exact value beyond 30
}

RoundTripFigures roundTripFigures(const std::vector<double>& delays,
                                  const std::vector<double>& standardErrors,
                                  const std::vector<double>& times) {
    RoundTripFigures f;
    const size_t n = std::min({delays.size(), standardErrors.size(), times.size()});
    f.bursts = n;
    if (n == 0) return f;
    const std::vector<double> values(delays.begin(), delays.begin() + static_cast<std::ptrdiff_t>(n));
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    f.min = *low;
    f.max = *high;
    f.median = median(values);
    double sum = 0.0, errorSquares = 0.0;
    for (size_t i = 0; i < n; ++i) {
        sum += values[i];
        errorSquares += standardErrors[i] * standardErrors[i];
    }
    f.mean = sum / double(n);
    double squares = 0.0;
    for (double v : values)
        squares += (v - f.mean) * (v - f.mean);
    f.spread = n > 1 ? std::sqrt(squares / double(n - 1)) : 0.0;
    const double meanErrorSquare = errorSquares / double(n);

    // The line through the delays over time, and the scatter around it.
    double scatter = f.spread * f.spread;
    size_t degrees = n > 1 ? n - 1 : 0;
    if (n >= 3) {
        double meanTime = 0.0;
        for (size_t i = 0; i < n; ++i)
            meanTime += times[i];
        meanTime /= double(n);
        double sxx = 0.0, sxy = 0.0;
        for (size_t i = 0; i < n; ++i) {
            sxx += (times[i] - meanTime) * (times[i] - meanTime);
            sxy += (times[i] - meanTime) * (values[i] - f.mean);
        }
        if (sxx > 0.0) {
            const double slope = sxy / sxx;
            double residualSquares = 0.0;
            for (size_t i = 0; i < n; ++i) {
                const double residual = values[i] - f.mean - slope * (times[i] - meanTime);
                residualSquares += residual * residual;
            }
            scatter = residualSquares / double(n - 2);
            degrees = n - 2;
            const double span = times[n - 1] - times[0];
            const double slopeVariance = std::max(scatter, meanErrorSquare) / sxx;
            f.change = slope * span;
            f.changeHalfWidth95 = studentT95(degrees) * std::sqrt(slopeVariance) * std::abs(span);
            f.changing = std::abs(f.change) >= minRoundTripChange && std::abs(f.change) > f.changeHalfWidth95;
        }
    }
    const double variance = std::max(scatter, meanErrorSquare) / double(n);
    f.halfWidth95 = (n > 1 ? studentT95(degrees) : 1.96) * std::sqrt(variance);
    f.decimals = f.halfWidth95 < 0.05 ? 2 : (f.halfWidth95 < 0.5 ? 1 : 0);
    return f;
}

std::string roundTripText(const RoundTripFigures& f) {
    const double unit = std::pow(10.0, -f.decimals);
    const double halfWidth = std::max(unit, std::ceil(f.halfWidth95 / unit - 1e-9) * unit);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f ± %.*f", f.decimals, f.mean, f.decimals, halfWidth);
    return text;
}

} // namespace measure
