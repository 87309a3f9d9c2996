#include "measure/sineGlitches.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "measure/statistics.h"

namespace measure {

namespace {

struct SineFit {
    double a = 0.0, b = 0.0, c = 0.0; // a sin + b cos + c

    double at(double s, double k) const { return a * s + b * k + c; }
    double amplitude() const { return std::hypot(a, b); }
};

// The basis of one stretch: sin and cos at the sample's phase within the period.
struct Basis {
    std::vector<double> sine, cosine;
    size_t offset; // phase of the stretch's first sample

    Basis(int period, int64_t first) : sine(size_t(period)), cosine(size_t(period)) {
        for (int k = 0; k < period; ++k) {
            sine[size_t(k)] = std::sin(2.0 * std::numbers::pi * k / period);
            cosine[size_t(k)] = std::cos(2.0 * std::numbers::pi * k / period);
        }
        offset = size_t(((first % period) + period) % period);
    }
    size_t phase(size_t i) const { return (offset + i) % sine.size(); }
};

// Over one whole period sin, cos and 1 are orthogonal, so each period's least-squares
// coefficients are plain sums; the median of each coefficient follows the majority.
SineFit medianOfPeriods(const float* x, size_t count, const Basis& basis) {
    const size_t period = basis.sine.size();
    std::vector<double> as, bs, cs;
    for (size_t start = 0; start + period <= count; start += period) {
        double sa = 0.0, sb = 0.0, sc = 0.0;
        for (size_t i = start; i < start + period; ++i) {
            const size_t p = basis.phase(i);
            sa += x[i] * basis.sine[p];
            sb += x[i] * basis.cosine[p];
            sc += x[i];
        }
        as.push_back(2.0 * sa / double(period));
        bs.push_back(2.0 * sb / double(period));
        cs.push_back(sc / double(period));
    }
    return {median(as), median(bs), median(cs)};
}

// Least squares over the samples whose residual from `start` is within `limit`; `start`
// again when too few remain or the equations are singular.
SineFit refit(const float* x, size_t count, const Basis& basis, const SineFit& start, double limit) {
    // Normal equations over the basis (s, k, 1), solved by Cramer's rule.
    double ss = 0, sk = 0, s1 = 0, kk = 0, k1 = 0, n = 0, xs = 0, xk = 0, x1 = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t p = basis.phase(i);
        const double s = basis.sine[p], k = basis.cosine[p];
        if (std::abs(x[i] - start.at(s, k)) > limit) continue;
        ss += s * s, sk += s * k, s1 += s, kk += k * k, k1 += k, n += 1;
        xs += x[i] * s, xk += x[i] * k, x1 += x[i];
    }
    if (n < 3.0 * double(basis.sine.size())) return start;
    auto det3 = [](const std::array<double, 9>& m) {
        return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
               m[2] * (m[3] * m[7] - m[4] * m[6]);
    };
    const std::array<double, 9> m{ss, sk, s1, sk, kk, k1, s1, k1, n};
    const double det = det3(m);
    if (std::abs(det) < 1e-9 * n * n * n) return start;
    const std::array<double, 9> ma{xs, sk, s1, xk, kk, k1, x1, k1, n};
    const std::array<double, 9> mb{ss, xs, s1, sk, xk, k1, s1, x1, n};
    const std::array<double, 9> mc{ss, sk, xs, sk, kk, xk, s1, k1, x1};
    return {det3(ma) / det, det3(mb) / det, det3(mc) / det};
}

// τ for the residuals of `fit`.
double threshold(const float* x, size_t count, const Basis& basis, const SineFit& fit) {
    std::vector<double> magnitudes(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t p = basis.phase(i);
        magnitudes[i] = std::abs(x[i] - fit.at(basis.sine[p], basis.cosine[p]));
    }
    const double sigma = 1.4826 * median(std::move(magnitudes));
    return std::max({8.0 * sigma, 0.05 * fit.amplitude(), 1e-4});
}

} // namespace

SineGlitchFindings findSineGlitches(const float* x, size_t count, int64_t first, int period) {
    SineGlitchFindings findings;
    if (period < 3 || count < 2 * size_t(period)) return findings;
    const Basis basis(period, first);
    const SineFit rough = medianOfPeriods(x, count, basis);
    const SineFit fit = refit(x, count, basis, rough, threshold(x, count, basis, rough));
    findings.amplitude = fit.amplitude();
    findings.threshold = threshold(x, count, basis, fit);

    size_t lastOutlier = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t p = basis.phase(i);
        if (std::abs(x[i] - fit.at(basis.sine[p], basis.cosine[p])) <= findings.threshold) continue;
        if (findings.eventStarts.empty() || i - lastOutlier >= size_t(period))
            findings.eventStarts.push_back(first + int64_t(i));
        lastOutlier = i;
    }
    return findings;
}

} // namespace measure
