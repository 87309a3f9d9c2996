// The delay of a returning burst to a small fraction of a sample: a weighted fit of the
// cross-spectrum's phase over the band the signal measures.
//
// A segment is the burst with a flat margin of 64 samples on each side and a raised-
// cosine taper of 256 samples beyond (4735 samples for a 4095-sample burst), windowed and
// transformed in 8192 points; the reference is the output's own signal over the same
// positions (burst and the sine around it), windowed alike. For a delay d the received
// spectrum is g R(ω) e^(-iωd) wherever the loop passes the signal unchanged, so the
// cross-spectrum's phase is a line through zero with slope -d. The fit weighs each bin by
// the reference's power there (the phase of a bin with more signal is surer), iterates
// from a starting guess until the step is below 1e-9 samples, and takes the sign of the
// gain first, so an inverting loop is fitted alike.
//
// The band: 1/32 to 2/5 of the sample rate (1.5 to 19.2 kHz at 48000 Hz). Below it lie
// the sine between the bursts (rate / 48), where the taper's edges leave their mark, and
// the phase a converter's high-pass adds; above it the converters' and the reference
// wire's anti-aliasing filters, which are no pure delay. Inside it the estimate is exact
// for a pure delay: bias comes only from the loop's own departure from one.
//
// The standard error comes from the phase residuals around the line, widened by the
// number of bins per independent one (8192 over the segment's effective length), so it
// also grows with what in the loop is not a pure delay.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include "measure/fft.h"

namespace measure {

inline constexpr double fitBandLow = 1.0 / 32.0; // of the sample rate
inline constexpr double fitBandHigh = 0.4;
inline constexpr int segmentFlatMargin = 64;
inline constexpr int segmentTaper = 256;

struct DelayFit {
    bool ok = false;            // the fit converged near its guess with signal in the band
    double delay = 0.0;         // samples, relative to the reference's position
    double standardError = 0.0; // of `delay`, samples
    double gain = 0.0;          // signed: negative for a loop that inverts
    double correlation = 0.0;   // normalised, 0 to 1, in the band at the fitted delay
};

class SubsampleDelay {
  public:
    explicit SubsampleDelay(int burstLength);

    // Samples in a segment, and where in it the burst starts.
    int segmentLength() const { return segmentLength_; }
    int burstOffset() const { return segmentFlatMargin + segmentTaper; }
    // The transform's length.
    size_t transformLength() const { return fft_.size(); }
    // The band's bins: firstBin() … firstBin() + binCount() - 1 of the transform.
    size_t firstBin() const { return firstBin_; }
    size_t binCount() const { return binCount_; }
    // ω of band bin k (radians per sample).
    double frequency(size_t k) const;
    // Bins of the transform per independent one, for a segment's noise.
    double binsPerIndependent() const { return binsPerIndependent_; }

    // The whole spectrum (transformLength() / 2 + 1 bins) of segmentLength() values,
    // windowed. Values that are not numbers count as 0.
    void spectrum(const float* segment, std::vector<std::complex<double>>& out);
    void spectrum(const double* segment, std::vector<std::complex<double>>& out);

    // The delay d, within ±2 samples of `guess`, for which received ≈ g · reference ·
    // e^(-iωd) over the band; both spectra as spectrum() gives them.
    DelayFit fit(const std::vector<std::complex<double>>& received,
                 const std::vector<std::complex<double>>& reference, double guess) const;

  private:
    void transformWindowed(std::vector<std::complex<double>>& out);

    int segmentLength_;
    RealFft fft_;
    size_t firstBin_ = 0, binCount_ = 0;
    std::vector<double> window_;
    std::vector<double> work_;
    double binsPerIndependent_ = 1.0;
};

} // namespace measure
