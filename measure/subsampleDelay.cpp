#include "measure/subsampleDelay.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace measure {

namespace {

// Iterations of the phase fit; each halves the error many times over, so few are needed.
constexpr int fitIterations = 8;
constexpr double fitConverged = 1e-9;
// A fit that wanders further than this from its guess found no delay near it.
constexpr double fitReach = 2.0;

} // namespace

SubsampleDelay::SubsampleDelay(int burstLength)
    : segmentLength_(std::max(burstLength, 1) + 2 * (segmentFlatMargin + segmentTaper)),
      fft_(nextPowerOfTwo(static_cast<size_t>(segmentLength_))) {
    const size_t m = fft_.size();
    firstBin_ = static_cast<size_t>(std::ceil(fitBandLow * double(m)));
    binCount_ = static_cast<size_t>(std::floor(fitBandHigh * double(m))) + 1 - firstBin_;
    window_.assign(static_cast<size_t>(segmentLength_), 1.0);
    for (int n = 0; n < segmentTaper; ++n) {
        const double rise = 0.5 - 0.5 * std::cos(std::numbers::pi * (n + 0.5) / segmentTaper);
        window_[static_cast<size_t>(n)] = window_[static_cast<size_t>(segmentLength_ - 1 - n)] = rise;
    }
    double energy = 0.0;
    for (double w : window_)
        energy += w * w;
    binsPerIndependent_ = double(m) / energy;
    work_.assign(m, 0.0);
}

double SubsampleDelay::frequency(size_t k) const {
    return 2.0 * std::numbers::pi * double(firstBin_ + k) / double(fft_.size());
}

void SubsampleDelay::spectrum(const float* segment, std::vector<std::complex<double>>& out) {
    for (size_t n = 0; n < window_.size(); ++n)
        work_[n] = std::isfinite(segment[n]) ? window_[n] * segment[n] : 0.0;
    transformWindowed(out);
}

void SubsampleDelay::spectrum(const double* segment, std::vector<std::complex<double>>& out) {
    for (size_t n = 0; n < window_.size(); ++n)
        work_[n] = std::isfinite(segment[n]) ? window_[n] * segment[n] : 0.0;
    transformWindowed(out);
}

void SubsampleDelay::transformWindowed(std::vector<std::complex<double>>& out) {
    std::fill(work_.begin() + static_cast<std::ptrdiff_t>(window_.size()), work_.end(), 0.0);
    fft_.forward(work_, out);
}

DelayFit SubsampleDelay::fit(const std::vector<std::complex<double>>& received,
                             const std::vector<std::complex<double>>& reference, double guess) const {
    DelayFit result;
    const size_t first = firstBin_, count = binCount_;
    if (received.size() < first + count || reference.size() < first + count) return result;
    const double step = 2.0 * std::numbers::pi / double(fft_.size());
    // The cross-spectrum turned back by e^(iωd) for the delay d tried, bin by bin: the
    // rotation advances by e^(i step d) from one bin to the next.
    auto sumRotated = [&](double d, auto&& perBin) {
        std::complex<double> rotation = std::polar(1.0, step * double(first) * d);
        const std::complex<double> advance = std::polar(1.0, step * d);
        for (size_t k = 0; k < count; ++k) {
            const std::complex<double> r = reference[first + k], x = received[first + k];
            const double crossRe = x.real() * r.real() + x.imag() * r.imag();
            const double crossIm = x.imag() * r.real() - x.real() * r.imag();
            perBin(k, crossRe * rotation.real() - crossIm * rotation.imag(),
                   crossRe * rotation.imag() + crossIm * rotation.real(), std::norm(r), std::norm(x));
            // Written out: std::complex's product checks for infinities through a library call.
            rotation = {rotation.real() * advance.real() - rotation.imag() * advance.imag(),
                        rotation.real() * advance.imag() + rotation.imag() * advance.real()};
            if ((k & 255) == 255) rotation /= std::abs(rotation); // keep it on the unit circle
        }
    };

    double referencePower = 0.0, receivedPower = 0.0, aligned = 0.0;
    sumRotated(guess, [&](size_t, double re, double, double rp, double xp) {
        aligned += re;
        referencePower += rp;
        receivedPower += xp;
    });
    if (referencePower <= 0.0 || receivedPower <= 0.0 || aligned == 0.0) return result;
    const double sign = aligned < 0.0 ? -1.0 : 1.0;

    double d = guess, curvature = 0.0;
    for (int iteration = 0; iteration < fitIterations; ++iteration) {
        double slope = 0.0;
        curvature = 0.0;
        sumRotated(d, [&](size_t k, double re, double im, double rp, double) {
            const double omega = step * double(first + k);
            const double phase = std::atan2(sign * im, sign * re);
            slope += rp * omega * phase;
            curvature += rp * omega * omega;
        });
        // The residual phase ψ(ω) of delay d is -ω (d_true - d): the step is its fitted slope.
        const double delta = -slope / curvature;
        d += delta;
        if (std::abs(d - guess) > fitReach) return result;
        if (std::abs(delta) < fitConverged) break;
    }
    // Residuals at the final delay, and the gain and correlation there.
    double crossAtDelay = 0.0, residuals = 0.0;
    sumRotated(d, [&](size_t, double re, double im, double rp, double) {
        const double phase = std::atan2(sign * im, sign * re);
        residuals += rp * phase * phase;
        crossAtDelay += re;
    });
    result.ok = true;
    result.delay = d;
    result.gain = crossAtDelay / referencePower;
    result.correlation = std::min(1.0, std::abs(crossAtDelay) / std::sqrt(referencePower * receivedPower));
    const double variance = residuals / double(std::max<size_t>(count - 1, 1));
    result.standardError = std::sqrt(binsPerIndependent_ * variance / curvature);
    return result;
}

} // namespace measure
