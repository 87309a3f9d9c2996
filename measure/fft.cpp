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

// The twiddles of every stage lie side by side, so each stage reads its own in order:
// the stage of span s (s = 1, 2, 4, …) keeps e^(-2 pi i k / 2s), k < s, from index s - 1.
Fft::Fft(size_t size) : size_(size), twiddleRe_(size > 1 ? size - 1 : 0), twiddleIm_(twiddleRe_.size()) {
    for (size_t span = 1; span < size; span <<= 1)
        for (size_t k = 0; k < span; ++k) {
            const double angle = -std::numbers::pi * double(k) / double(span);
            twiddleRe_[span - 1 + k] = std::cos(angle);
            twiddleIm_[span - 1 + k] = std::sin(angle);
        }
    for (size_t i = 1, j = 0; i < size; ++i) {
        size_t bit = size >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j) swaps_.emplace_back(static_cast<uint32_t>(i), static_cast<uint32_t>(j));
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

// Iterative Cooley-Tukey: bit-reversal permutation, the first two stages together (their
// twiddles are 1 and ∓i), then butterflies of growing span. The inverse uses the
// conjugated twiddles. Works on the interleaved real and imaginary parts directly (the
// layout std::complex guarantees), which keeps unoptimised builds fast.
void Fft::transform(std::vector<std::complex<double>>& data, bool inverse) const {
    const size_t n = size_;
    double* d = reinterpret_cast<double*>(data.data());
    for (const auto& [i, j] : swaps_) {
        std::swap(d[2 * i], d[2 * j]);
        std::swap(d[2 * i + 1], d[2 * j + 1]);
    }
    const double sign = inverse ? -1.0 : 1.0;
    size_t span = 1;
    if (n >= 4) {
        for (double* a = d; a < d + 2 * n; a += 8) {
            const double r0 = a[0] + a[2], i0 = a[1] + a[3], r1 = a[0] - a[2], i1 = a[1] - a[3];
            const double r2 = a[4] + a[6], i2 = a[5] + a[7], r3 = a[4] - a[6], i3 = a[5] - a[7];
            // The odd quarter times ∓i: (r3, i3) → (±i3, ∓r3).
            const double tr = sign * i3, ti = -sign * r3;
            a[0] = r0 + r2;
            a[1] = i0 + i2;
            a[4] = r0 - r2;
            a[5] = i0 - i2;
            a[2] = r1 + tr;
            a[3] = i1 + ti;
            a[6] = r1 - tr;
            a[7] = i1 - ti;
        }
        span = 4;
    }
    for (; span < n; span <<= 1) {
        const double* wr = twiddleRe_.data() + span - 1;
        const double* wi = twiddleIm_.data() + span - 1;
        for (size_t start = 0; start < n; start += 2 * span) {
            double* a = d + 2 * start;
            double* b = a + 2 * span;
            for (size_t k = 0; k < span; ++k) {
                const double cr = wr[k], ci = sign * wi[k];
                const double oddRe = b[2 * k] * cr - b[2 * k + 1] * ci,
                             oddIm = b[2 * k] * ci + b[2 * k + 1] * cr;
                b[2 * k] = a[2 * k] - oddRe;
                b[2 * k + 1] = a[2 * k + 1] - oddIm;
                a[2 * k] += oddRe;
                a[2 * k + 1] += oddIm;
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

// Complex products are written out: std::complex's operator* checks for infinities
// through a library call in builds without -ffast-math.
void RealFft::forward(const std::vector<double>& x, std::vector<std::complex<double>>& spectrum) {
    const size_t h = half_.size();
    for (size_t n = 0; n < h; ++n)
        work_[n] = {x[2 * n], x[2 * n + 1]};
    half_.forward(work_);
    spectrum.resize(h + 1);
    const double* z = reinterpret_cast<const double*>(work_.data());
    const double* w = reinterpret_cast<const double*>(rotations_.data());
    double* out = reinterpret_cast<double*>(spectrum.data());
    for (size_t k = 0; k <= h; ++k) {
        const size_t a = k == h ? 0 : k, b = k == 0 ? 0 : h - k;
        const double zr = z[2 * a], zi = z[2 * a + 1], mr = z[2 * b], mi = -z[2 * b + 1];
        const double evenRe = 0.5 * (zr + mr), evenIm = 0.5 * (zi + mi);
        // odd = (z - mirror) / 2i
        const double oddRe = 0.5 * (zi - mi), oddIm = -0.5 * (zr - mr);
        const double wr = w[2 * k], wi = w[2 * k + 1];
        out[2 * k] = evenRe + wr * oddRe - wi * oddIm;
        out[2 * k + 1] = evenIm + wr * oddIm + wi * oddRe;
    }
}

void RealFft::inverse(const std::vector<std::complex<double>>& spectrum, std::vector<double>& x) {
    const size_t h = half_.size();
    const double* in = reinterpret_cast<const double*>(spectrum.data());
    const double* w = reinterpret_cast<const double*>(rotations_.data());
    double* z = reinterpret_cast<double*>(work_.data());
    for (size_t k = 0; k < h; ++k) {
        const double sr = in[2 * k], si = in[2 * k + 1], mr = in[2 * (h - k)], mi = -in[2 * (h - k) + 1];
        const double evenRe = 0.5 * (sr + mr), evenIm = 0.5 * (si + mi);
        // odd = (X - mirror) / 2 · conj(W^k)
        const double dr = 0.5 * (sr - mr), di = 0.5 * (si - mi);
        const double wr = w[2 * k], wi = -w[2 * k + 1];
        const double oddRe = dr * wr - di * wi, oddIm = dr * wi + di * wr;
        // even + i · odd
        z[2 * k] = evenRe - oddIm;
        z[2 * k + 1] = evenIm + oddRe;
    }
    half_.inverse(work_);
    x.resize(2 * h);
    for (size_t n = 0; n < h; ++n) {
        x[2 * n] = work_[n].real();
        x[2 * n + 1] = work_[n].imag();
    }
}

} // namespace measure
