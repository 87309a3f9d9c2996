// Discontinuities in a stretch of a steady sine of known period: dropouts, repeated or
// skipped samples, clicks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace measure {

struct SineGlitchFindings {
    double amplitude = 0.0;           // of the fitted sine
    double threshold = 0.0;           // τ: residuals above it are outliers
    std::vector<int64_t> eventStarts; // position of each event's first outlier
};

// Fits a sin + b cos + c at `period` samples to `count` samples that begin at position
// `first`, and groups the samples that stray from the fit into events.
//
// The first fit is the median over whole periods of each period's own coefficients, so a
// minority of disturbed samples (or a phase jump in the stretch) cannot pull it; the
// least-squares refit then uses the samples within the threshold only. A sample is an
// outlier when its residual exceeds τ = max(8σ, 0.05 × amplitude, 1e-4), σ = 1.4826 ×
// median |residual|; outliers fewer than `period` samples apart form one event.
// Nothing is found in stretches shorter than two periods.
SineGlitchFindings findSineGlitches(const float* samples, size_t count, int64_t first, int period);

} // namespace measure
