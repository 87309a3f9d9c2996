// A small radix-2 FFT over complex doubles, for the correlations of the loopback
// analysis.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace measure {

class Fft {
  public:
    // A transform of `size` points; size must be a power of two (at least 1).
    explicit Fft(size_t size);

    size_t size() const { return size_; }

    // In place: X[k] = sum x[n] e^(-2 pi i k n / size). `data` holds size() points.
    void forward(std::vector<std::complex<double>>& data) const;
    // In place, the inverse including the 1 / size scaling.
    void inverse(std::vector<std::complex<double>>& data) const;

  private:
    void transform(std::vector<std::complex<double>>& data, bool inverse) const;

    size_t size_;
    std::vector<double> twiddleRe_, twiddleIm_;        // of every stage, in the order the stages read them
    std::vector<std::pair<uint32_t, uint32_t>> swaps_; // the bit-reversal permutation's exchanges
};

// Transforms of real sequences through a complex transform of half their length.
class RealFft {
  public:
    // Sequences of `size` points; size must be a power of two, at least 2.
    explicit RealFft(size_t size);

    size_t size() const { return 2 * half_.size(); }

    // The spectrum X[0 … size/2] of the size() points in `x` (the other half mirrors it
    // conjugated).
    void forward(const std::vector<double>& x, std::vector<std::complex<double>>& spectrum);
    // The size() points whose spectrum is X[0 … size/2] in `spectrum` (with the 1 / size
    // scaling).
    void inverse(const std::vector<std::complex<double>>& spectrum, std::vector<double>& x);

  private:
    Fft half_;
    std::vector<std::complex<double>> rotations_; // e^(-2 pi i k / size), k ≤ size / 2
    std::vector<std::complex<double>> work_;
};

// The smallest power of two not below `n` (1 for 0).
size_t nextPowerOfTwo(size_t n);

} // namespace measure
