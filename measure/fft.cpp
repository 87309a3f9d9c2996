#include "measure/fft.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace measure {

size_t nextPowerOfTwo(size_t n) {
    size_t power = 1;
    while (power < n)
        power <<= 1;
    return power;
}

Fft::Fft(size_t size) : size_(size), twiddleRe_(size / 2), twiddleIm_(size / 2) {
    for (size_t k = 0; k < size / 2; ++k) {
        const double angle = -2.0 * std::numbers::pi * double(k) / double(size);
        twiddleRe_[k] = std::cos(angle);
        twiddleIm_[k] = std::sin(angle);
    }
}

void Fft::forward(std::vector<std::complex<double>>& data) const {
    transform(data, false);
}

void Fft::inverse(std::vector<std::complex<double>>& data) const {
    transform(data, true);
    const double scale = 1.0 / double(size_);
    double* d = reinterpret_cast<double*>(data.data());
    for (size_t i = 0; i < 2 * size_; ++i)
        d[i] *= scale;
}

// Iterative Cooley-Tukey: bit-reversal permutation, then butterflies of growing span.
// The inverse uses the conjugated twiddles. Works on the interleaved real and imaginary
// parts directly (the layout std::complex guarantees), which keeps unoptimised builds fast.
void Fft::transform(std::vector<std::complex<double>>& data, bool inverse) const {
    const size_t n = size_;
    double* d = reinterpret_cast<double*>(data.data());
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j) {
            std::swap(d[2 * i], d[2 * j]);
            std::swap(d[2 * i + 1], d[2 * j + 1]);
        }
    }
    const double sign = inverse ? -1.0 : 1.0;
    for (size_t span = 1; span < n; span <<= 1) {
        const size_t step = n / (2 * span);
        for (size_t start = 0; start < n; start += 2 * span) {
            for (size_t k = 0; k < span; ++k) {
                const double wr = twiddleRe_[k * step], wi = sign * twiddleIm_[k * step];
                double* a = d + 2 * (start + k);
                double* b = d + 2 * (start + k + span);
                const double oddRe = b[0] * wr - b[1] * wi, oddIm = b[0] * wi + b[1] * wr;
                b[0] = a[0] - oddRe;
                b[1] = a[1] - oddIm;
                a[0] += oddRe;
                a[1] += oddIm;
            }
        }
    }
}

// The even samples go into the real parts and the odd ones into the imaginary parts of
// one half-length transform Z. With E and O the spectra of the even and odd samples,
// E[k] = (Z[k] + conj Z[h-k]) / 2, O[k] = (Z[k] - conj Z[h-k]) / 2i and
// X[k] = E[k] + W^k O[k], W = e^(-2 pi i / size); the inverse undoes these steps.
RealFft::RealFft(size_t size) : half_(size / 2), rotations_(size / 2 + 1), work_(size / 2) {
    for (size_t k = 0; k < rotations_.size(); ++k)
        rotations_[k] = std::polar(1.0, -2.0 * std::numbers::pi * double(k) / double(size));
}

void RealFft::forward(const std::vector<double>& x, std::vector<std::complex<double>>& spectrum) {
    const size_t h = half_.size();
    for (size_t n = 0; n < h; ++n)
        work_[n] = {x[2 * n], x[2 * n + 1]};
    half_.forward(work_);
    spectrum.resize(h + 1);
    for (size_t k = 0; k <= h; ++k) {
        const std::complex<double> z = work_[k % h], mirror = std::conj(work_[(h - k) % h]);
        const std::complex<double> even = 0.5 * (z + mirror);
        const std::complex<double> odd = std::complex<double>(0.0, -0.5) * (z - mirror);
        spectrum[k] = even + rotations_[k] * odd;
    }
}

void RealFft::inverse(const std::vector<std::complex<double>>& spectrum, std::vector<double>& x) {
    const size_t h = half_.size();
    for (size_t k = 0; k < h; ++k) {
        const std::complex<double> mirror = std::conj(spectrum[h - k]);
        const std::complex<double> even = 0.5 * (spectrum[k] + mirror);
        const std::complex<double> odd = 0.5 * (spectrum[k] - mirror) * std::conj(rotations_[k]);
        work_[k] = even + std::complex<double>(0.0, 1.0) * odd;
    }
    half_.inverse(work_);
    x.resize(2 * h);
    for (size_t n = 0; n < h; ++n) {
        x[2 * n] = work_[n].real();
        x[2 * n + 1] = work_[n].imag();
    }
}

} // namespace measure
