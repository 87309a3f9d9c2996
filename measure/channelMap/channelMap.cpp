#include "measure/channelMap/channelMap.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "measure/latencyAnalysis.h"
#include "measure/sineGlitches.h"
#include "measure/statistics.h"

namespace measure {

namespace {

// Every this many windows one input in turn is searched again over all lags (a search
// costs about as much as reading the bursts of every input).
constexpr int64_t searchTurnEvery = 4;
// A pair not found in this many bursts in a row is searched for again.
constexpr int missesBeforeSearch = 2;
// Stretches cut short by the end of the input are checked when this many periods came.
constexpr int64_t partialStretchPeriods = 8;
// A level's floor: this many standard deviations of the level (noise alone exceeds it
// with a chance of e^-16).
constexpr double floorDeviations = 4.0;

const float missingSample = std::numeric_limits<float>::quiet_NaN();

double roundedToTenth(double value) {
    return std::round(value * 10.0) / 10.0;
}

double decibels(double gain) {
    return gain > 0.0 ? 20.0 * std::log10(gain) : -std::numeric_limits<double>::infinity();
}

// e^(i ω_k d) for the band's bins: a rotation that advances from bin to bin, put back on
// the unit circle now and then (a sine and a cosine per bin would cost more than the rest).
void bandRotations(const SubsampleDelay& delay, double d, std::vector<std::complex<double>>& out) {
    out.resize(delay.binCount());
    double re = std::cos(delay.frequency(0) * d), im = std::sin(delay.frequency(0) * d);
    const double stepRe = std::cos((delay.frequency(1) - delay.frequency(0)) * d);
    const double stepIm = std::sin((delay.frequency(1) - delay.frequency(0)) * d);
    for (size_t k = 0; k < out.size(); ++k) {
        out[k] = {re, im};
        const double nextRe = re * stepRe - im * stepIm;
        im = re * stepIm + im * stepRe;
        re = nextRe;
        if ((k & 255) == 255) {
            const double norm = std::sqrt(re * re + im * im);
            re /= norm;
            im /= norm;
        }
    }
}

// a · b, written out (std::complex's product checks for infinities through a library call).
std::complex<double> times(std::complex<double> a, std::complex<double> b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

bool usableSignals(const ChannelSignals& signals) {
    const LoopbackSignal& base = signals.base;
    return signals.outputs >= 1 && signals.outputs <= maxSignalOutputs &&
           base.sequence.size() == size_t(base.burstLength) && base.sinePeriod >= 3 &&
           base.cycleLength > 2 * base.burstLength + 4 * base.sinePeriod && base.cycleLength <= 500000;
}

} // namespace

struct ChannelMapAnalyser::PairState {
    int output = 0;
    int64_t lag = 0; // whole samples from a cycle's start to its burst in the input
    int misses = 0;
    PairFigures figures;
    std::vector<double> gains; // signed, per found burst
};

struct ChannelMapAnalyser::InputState {
    int expected = 0;
    bool placed = false;
    bool clean = true; // every window was searched from the start until it was placed
    int64_t loopCycles = 0;
    std::vector<PairState> pairs; // the loudest at placing first: its integrity is checked
    int64_t nextCycle = 0;        // the next burst to read
    int64_t nextStretch = 0;      // the next cycle whose sine is checked
    int64_t listenCycle = 0;      // without pairs: the next cycle whose levels are read
    bool searchAgain = false;
    std::vector<std::complex<double>> levelSum;
    std::vector<double> floorSquares;
    int64_t levelBursts = 0;
    int64_t nonFiniteRuns = 0;
    int64_t windowsSearched = 0;
};

ChannelMapAnalyser::ChannelMapAnalyser(const ChannelSignals& signals, int inputs,
                                       std::vector<int> expectedOutput)
    : signals_(signals), valid_(inputs > 0 && usableSignals(signals)), inputs_(valid_ ? inputs : 0),
      cycle_(signals.base.cycleLength), burst_(signals.base.burstLength), delay_(signals.base.burstLength),
      fft_(delay_.transformLength()) {
    if (!valid_) return;
    states_.resize(static_cast<size_t>(inputs_));
    samples_.resize(static_cast<size_t>(inputs_));
    lastNonFinite_.assign(static_cast<size_t>(inputs_), 0);
    for (int i = 0; i < inputs_; ++i) {
        InputState& state = states_[static_cast<size_t>(i)];
        const int expected = i < int(expectedOutput.size()) ? expectedOutput[static_cast<size_t>(i)] : 0;
        state.expected = expected >= 1 && expected <= signals_.outputs ? expected : 0;
        state.levelSum.assign(static_cast<size_t>(signals_.outputs), {});
        state.floorSquares.assign(static_cast<size_t>(signals_.outputs), 0.0);
    }
    const size_t m = fft_.size();
    timeWork_.assign(m, 0.0);
    for (int output = 1; output <= signals_.outputs; ++output) {
        std::fill(timeWork_.begin(), timeWork_.end(), 0.0);
        for (int n = 0; n < burst_; ++n)
            timeWork_[static_cast<size_t>(n)] = signals_.sequenceValue(output, n);
        std::vector<std::complex<double>> spectrum;
        fft_.forward(timeWork_, spectrum);
        double energy = 0.0;
        for (size_t k = 0; k < delay_.binCount(); ++k)
            energy += std::norm(spectrum[delay_.firstBin() + k]);
        // The band's bins apart, real parts, imaginary parts and powers, for the levels.
        std::vector<double> band(3 * delay_.binCount());
        for (size_t k = 0; k < delay_.binCount(); ++k) {
            const std::complex<double> value = spectrum[delay_.firstBin() + k];
            band[k] = value.real();
            band[delay_.binCount() + k] = value.imag();
            band[2 * delay_.binCount() + k] = std::norm(value);
        }
        sequenceSpectra_.push_back(std::move(spectrum));
        sequenceBands_.push_back(std::move(band));
        bandEnergy_.push_back(energy);
    }
    segment_.resize(static_cast<size_t>(delay_.segmentLength()));
}

ChannelMapAnalyser::~ChannelMapAnalyser() = default;

void ChannelMapAnalyser::addInput(int64_t position, const float* const* channels, size_t count) {
    if (finished_ || !valid_ || count == 0 || channels == nullptr) return;
    const int64_t end = position + static_cast<int64_t>(count);
    int64_t from = std::max<int64_t>(position, 0);
    if (started_) from = std::max(from, recordedEnd());
    if (from >= end) return;
    if (!started_) {
        started_ = true;
        recordedStart_ = bufferStart_ = from;
        bufferLength_ = 0;
        for (auto& samples : samples_)
            samples.clear();
        nextWindow_ = firstWindow_ = (from + cycle_ - 1) / cycle_;
        // Inputs placed before a re-base go on with the round trips they know, from the
        // first burst that comes back after this input began.
        const int64_t offset = delay_.burstOffset();
        for (InputState& state : states_) {
            if (!restarted_) state.clean = from == 0;
            if (state.pairs.empty()) continue;
            int64_t lag = state.pairs[0].lag;
            for (const PairState& pair : state.pairs)
                lag = std::min(lag, pair.lag);
            const int64_t cycle = std::max<int64_t>((from - lag + offset + cycle_ - 1) / cycle_, 0);
            state.nextCycle = std::max(state.nextCycle, cycle);
            state.nextStretch = std::max(state.nextStretch, state.nextCycle);
        }
        for (InputState& state : states_)
            state.listenCycle = std::max(state.listenCycle, nextWindow_);
    } else {
        fillSilenceTo(from);
    }
    std::vector<const float*> shifted(static_cast<size_t>(inputs_));
    for (int i = 0; i < inputs_; ++i)
        shifted[static_cast<size_t>(i)] = channels[i] + (from - position);
    append(shifted.data(), static_cast<size_t>(end - from), false);
}

void ChannelMapAnalyser::fillSilenceTo(int64_t position) {
    if (position <= recordedEnd()) return;
    const std::vector<float> silence(static_cast<size_t>(std::min<int64_t>(position - recordedEnd(), cycle_)),
                                     0.0f);
    const std::vector<const float*> channels(static_cast<size_t>(inputs_), silence.data());
    while (recordedEnd() < position)
        append(channels.data(), static_cast<size_t>(std::min<int64_t>(position - recordedEnd(), cycle_)),
               false);
}

void ChannelMapAnalyser::addLoss(int64_t position, size_t count) {
    if (finished_ || !valid_ || count == 0 || !started_) {
        // Before any input there is no place for it: the start then shows as input that
        // began late.
        if (!started_)
            for (InputState& state : states_)
                state.clean = false;
        return;
    }
    const int64_t end = position + static_cast<int64_t>(count);
    fillSilenceTo(position);
    const int64_t from = std::max(position, recordedEnd());
    if (from >= end) return;
    unknownSamples_ += end - from;
    append(nullptr, static_cast<size_t>(end - from), true);
}

void ChannelMapAnalyser::rebase(int64_t position) {
    if (finished_ || !valid_) return;
    ++rebases_;
    finishPending();
    started_ = false;
    restarted_ = true;
    for (InputState& state : states_)
        if (!state.placed) state.clean = false;
    bufferStart_ = std::max<int64_t>(position, 0);
    bufferLength_ = 0;
    for (auto& samples : samples_)
        samples.clear();
}

// At most one cycle at a time before processing, so the input kept stays within a few
// cycles however much arrives at once. Null channels add unknown samples.
void ChannelMapAnalyser::append(const float* const* channels, size_t count, bool unknown) {
    const size_t piece = static_cast<size_t>(cycle_);
    for (size_t done = 0; done < count;) {
        const size_t now = std::min(piece, count - done);
        for (int i = 0; i < inputs_; ++i) {
            std::vector<float>& samples = samples_[static_cast<size_t>(i)];
            uint8_t& lastNonFinite = lastNonFinite_[static_cast<size_t>(i)];
            for (size_t k = 0; k < now; ++k) {
                if (unknown) {
                    samples.push_back(missingSample);
                    lastNonFinite = 0;
                    continue;
                }
                const float value = channels[i][done + k];
                if (std::isfinite(value)) {
                    samples.push_back(value);
                    lastNonFinite = 0;
                    continue;
                }
                // Not a number: a glitch of its own, kept out of every other figure.
                samples.push_back(missingSample);
                if (!lastNonFinite) ++states_[static_cast<size_t>(i)].nonFiniteRuns;
                lastNonFinite = 1;
            }
        }
        bufferLength_ += static_cast<int64_t>(now);
        done += now;
        process();
    }
}

void ChannelMapAnalyser::process() {
    const int64_t offset = delay_.burstOffset();
    for (;;) {
        bool progressed = false;
        if (recordedEnd() >= nextWindow_ * cycle_ + cycle_ + burst_ - 1) {
            searchWindow(nextWindow_);
            ++nextWindow_;
            progressed = true;
        }
        const double heardLag = referenceLag();
        for (int i = 0; i < inputs_; ++i) {
            InputState& state = states_[static_cast<size_t>(i)];
            if (!state.pairs.empty()) {
                while (burstReady(state, state.nextCycle)) {
                    processBurst(i, state.nextCycle++);
                    progressed = true;
                }
                const int64_t lag = state.pairs[0].lag;
                while (state.nextStretch < state.nextCycle &&
                       recordedEnd() >= (state.nextStretch + 1) * cycle_ - sineMargin + lag) {
                    checkStretch(i, state.nextStretch++);
                    progressed = true;
                }
            } else if (heardLag >= 0.0) {
                const int64_t whole = static_cast<int64_t>(std::floor(heardLag));
                while (recordedEnd() >=
                       state.listenCycle * cycle_ + whole - offset + delay_.segmentLength()) {
                    listen(i, state.listenCycle++, heardLag);
                    progressed = true;
                }
            }
        }
        if (!progressed) break;
    }
    // Drop whole cycles at a time: erasing from the front moves what is kept.
    const int64_t keep = std::min(keepFrom(), recordedEnd());
    if (keep - bufferStart_ < cycle_) return;
    for (auto& samples : samples_)
        samples.erase(samples.begin(), samples.begin() + (keep - bufferStart_));
    bufferLength_ -= keep - bufferStart_;
    bufferStart_ = keep;
}

int64_t ChannelMapAnalyser::keepFrom() const {
    const int64_t offset = delay_.burstOffset();
    int64_t keep = nextWindow_ * cycle_;
    const double heardLag = referenceLag();
    for (const InputState& state : states_) {
        if (!state.pairs.empty()) {
            for (const PairState& pair : state.pairs)
                keep = std::min(keep, state.nextCycle * cycle_ + pair.lag - offset);
            keep = std::min(keep, state.nextStretch * cycle_ + burst_ + sineMargin + state.pairs[0].lag);
        } else if (heardLag >= 0.0) {
            keep = std::min(keep,
                            state.listenCycle * cycle_ + static_cast<int64_t>(std::floor(heardLag)) - offset);
        }
    }
    return keep;
}

double ChannelMapAnalyser::referenceLag() const {
    std::vector<double> lags;
    for (const InputState& state : states_)
        if (!state.pairs.empty()) lags.push_back(double(state.pairs[0].lag));
    return lags.empty() ? -1.0 : median(lags);
}

// Inputs still looking for their loops are searched in every window as long as the
// single-pair analysis places loops; every fourth window, one input in turn is searched
// again, and so is each input whose loudest pair went missing.
void ChannelMapAnalyser::searchWindow(int64_t window) {
    for (int i = 0; i < inputs_; ++i) {
        InputState& state = states_[static_cast<size_t>(i)];
        const bool initial = !state.placed && window - firstWindow_ <= maxLoopCycles;
        const bool inTurn = window % searchTurnEvery == 0 && window / searchTurnEvery % inputs_ == i;
        if (initial || inTurn || state.searchAgain) searchInput(i, window);
    }
}

// The correlation with every output at every lag of the window, by overlap-save: each
// block of 8192 input samples gives the lags of the block's first 8192 - N + 1 samples.
void ChannelMapAnalyser::searchInput(int input, int64_t window) {
    InputState& state = states_[static_cast<size_t>(input)];
    const int64_t start = window * cycle_;
    const int64_t width = cycle_ + burst_ - 1;
    if (start < bufferStart_) {
        if (!state.placed) state.clean = false;
        return;
    }
    int64_t unknown = 0;
    for (int64_t p = start; p < start + width; ++p)
        unknown += std::isnan(at(input, p)) ? 1 : 0;
    if (double(unknown) > maxUnknownShare * double(width)) {
        if (!state.placed) state.clean = false;
        return;
    }
    ++state.windowsSearched;
    const int64_t m = static_cast<int64_t>(fft_.size());
    const int64_t block = m - burst_ + 1;
    const size_t blocks = static_cast<size_t>((cycle_ + block - 1) / block);
    blockSpectra_.resize(blocks);
    for (size_t b = 0; b < blocks; ++b) {
        const int64_t first = start + int64_t(b) * block;
        for (int64_t n = 0; n < m; ++n) {
            const int64_t p = first + n;
            const float value = p < start + width ? at(input, p) : 0.0f;
            timeWork_[static_cast<size_t>(n)] = std::isnan(value) ? 0.0 : value;
        }
        fft_.forward(timeWork_, blockSpectra_[b]);
    }
    std::vector<Found> found;
    correlation_.resize(static_cast<size_t>(cycle_));
    for (int output = 1; output <= signals_.outputs; ++output) {
        const auto& sequence = sequenceSpectra_[static_cast<size_t>(output - 1)];
        for (size_t b = 0; b < blocks; ++b) {
            product_.resize(sequence.size());
            for (size_t k = 0; k < sequence.size(); ++k)
                product_[k] = times(blockSpectra_[b][k], std::conj(sequence[k]));
            fft_.inverse(product_, timeWork_);
            for (int64_t k = 0; k < block && int64_t(b) * block + k < cycle_; ++k)
                correlation_[static_cast<size_t>(int64_t(b) * block + k)] = timeWork_[static_cast<size_t>(k)];
        }
        // The peak and the power of every lag in one pass; the lags near the peak are taken
        // out of the power afterwards.
        int64_t peak = 0;
        double peakMagnitude = 0.0, squares = 0.0;
        for (int64_t lag = 0; lag < cycle_; ++lag) {
            const double value = correlation_[size_t(lag)];
            squares += value * value;
            if (std::abs(value) > peakMagnitude) {
                peakMagnitude = std::abs(value);
                peak = lag;
            }
        }
        const double peakValue = correlation_[size_t(peak)];
        double othersSquared = squares;
        int64_t others = cycle_;
        for (int64_t lag = std::max<int64_t>(peak - burstPeakGuard, 0);
             lag <= std::min<int64_t>(peak + burstPeakGuard, cycle_ - 1); ++lag) {
            othersSquared -= correlation_[size_t(lag)] * correlation_[size_t(lag)];
            --others;
        }
        othersSquared = std::max(othersSquared, 0.0);
        // A clear peak first: the input's energy under it is read only then.
        if (others == 0 || peakValue == 0.0 ||
            peakMagnitude < burstMinPeakToRms * std::sqrt(othersSquared / double(others)))
            continue;
        double energy = 0.0;
        for (int64_t p = start + peak; p < start + peak + burst_; ++p) {
            const float value = at(input, p);
            if (!std::isnan(value)) energy += double(value) * value;
        }
        if (energy <= 0.0 || peakValue == 0.0 || others == 0) continue;
        const double correlation = std::abs(peakValue) / std::sqrt(double(burst_) * energy);
        const double othersRms = std::sqrt(othersSquared / double(others));
        if (correlation < burstMinCorrelation || std::abs(peakValue) < burstMinPeakToRms * othersRms)
            continue;
        found.push_back({output, peak, std::abs(peakValue)});
    }
    placeFound(input, window, found);
}

void ChannelMapAnalyser::placeFound(int input, int64_t window, std::vector<Found>& found) {
    InputState& state = states_[static_cast<size_t>(input)];
    state.searchAgain = false;
    if (found.empty()) return;
    std::stable_sort(found.begin(), found.end(),
                     [](const Found& a, const Found& b) { return a.peak > b.peak; });
    if (!state.placed) {
        // The first window with a burst places the loops, as for a single pair.
        state.placed = true;
        state.loopCycles = window;
        const bool ambiguous = !state.clean || window > maxLoopCycles || restarted_;
        for (const Found& f : found) {
            PairState pair;
            pair.output = f.output;
            pair.lag = window * cycle_ + f.lag;
            pair.figures.output = f.output;
            pair.figures.input = input + 1;
            pair.figures.lagAmbiguous = ambiguous;
            state.pairs.push_back(std::move(pair));
        }
        state.nextCycle = state.nextStretch = 0;
        // Levels read while it heard nothing were at another input's round trip.
        std::fill(state.levelSum.begin(), state.levelSum.end(), std::complex<double>{});
        std::fill(state.floorSquares.begin(), state.floorSquares.end(), 0.0);
        state.levelBursts = 0;
        return;
    }
    // Found again: a pair's lag is the one of its window's that lies nearest to the
    // input's known round trip.
    const int64_t known = state.pairs.empty() ? state.loopCycles * cycle_ : state.pairs[0].lag;
    for (const Found& f : found) {
        int64_t lag = f.lag + (known - f.lag) / cycle_ * cycle_;
        if (std::abs(lag + cycle_ - known) < std::abs(lag - known)) lag += cycle_;
        if (std::abs(lag - cycle_ - known) < std::abs(lag - known)) lag -= cycle_;
        auto pair = std::find_if(state.pairs.begin(), state.pairs.end(),
                                 [&](const PairState& p) { return p.output == f.output; });
        if (pair != state.pairs.end()) {
            pair->lag = lag;
            pair->misses = 0;
            continue;
        }
        PairState added;
        added.output = f.output;
        added.lag = lag;
        added.figures.output = f.output;
        added.figures.input = input + 1;
        added.figures.lagAmbiguous = true; // no empty cycles placed it
        state.pairs.push_back(std::move(added));
    }
}

bool ChannelMapAnalyser::burstReady(const InputState& state, int64_t cycle) const {
    const int64_t tail = delay_.segmentLength() - delay_.burstOffset();
    for (const PairState& pair : state.pairs)
        if (recordedEnd() < cycle * cycle_ + pair.lag + tail) return false;
    return true;
}

bool ChannelMapAnalyser::readSegment(int input, int64_t first, std::vector<double>& segment) const {
    const int64_t length = delay_.segmentLength();
    if (first < bufferStart_ || first + length > recordedEnd()) return false;
    segment.resize(static_cast<size_t>(length));
    for (int64_t n = 0; n < length; ++n) {
        const float value = at(input, first + n);
        if (std::isnan(value)) return false;
        segment[static_cast<size_t>(n)] = value;
    }
    return true;
}

void ChannelMapAnalyser::referenceAt(int output, int64_t first, std::vector<std::complex<double>>& out) {
    for (size_t n = 0; n < segment_.size(); ++n)
        segment_[n] = signals_.signalAt(output, first + static_cast<int64_t>(n));
    delay_.spectrum(segment_.data(), out);
}

// One burst of every pair the input hears: each pair's lag to a tenth from the
// correlation peak in its segment, its delay and gain from the phase fit; then, in the
// loudest pair's segment with every fitted pair taken out, the glitches of that burst
// and the level of every output.
void ChannelMapAnalyser::processBurst(int input, int64_t cycle) {
    InputState& state = states_[static_cast<size_t>(input)];
    const int64_t offset = delay_.burstOffset();
    const double amplitude = signals_.base.amplitude;
    std::vector<Fitted> fits(state.pairs.size());
    std::vector<double> errors(state.pairs.size(), 0.0);
    pairSpectra_.resize(state.pairs.size());
    bool mainRead = false;
    for (size_t q = 0; q < state.pairs.size(); ++q) {
        PairState& pair = state.pairs[q];
        std::vector<double> segment;
        if (!readSegment(input, cycle * cycle_ + pair.lag - offset, segment)) continue;
        if (q == 0) mainRead = true;
        ++pair.figures.burstsSent;
        std::vector<std::complex<double>>& received = pairSpectra_[q];
        delay_.spectrum(segment.data(), received);
        const auto& sequence = sequenceSpectra_[static_cast<size_t>(pair.output - 1)];
        product_.resize(received.size());
        for (size_t k = 0; k < received.size(); ++k)
            product_[k] = times(received[k], std::conj(sequence[k]));
        fft_.inverse(product_, correlation_);
        const int64_t lags = static_cast<int64_t>(fft_.size()) - burst_ + 1;
        auto c = [this](int64_t k) { return correlation_[static_cast<size_t>(k)]; };
        int64_t peak = 0;
        for (int64_t k = 1; k < lags; ++k)
            if (std::abs(c(k)) > std::abs(c(peak))) peak = k;
        double energy = 0.0;
        for (int64_t n = peak; n < peak + burst_ && n < int64_t(segment.size()); ++n)
            energy += segment[size_t(n)] * segment[size_t(n)];
        double othersSquared = 0.0;
        int64_t others = 0;
        for (int64_t k = 0; k < lags; ++k) {
            if (std::abs(k - peak) <= burstPeakGuard) continue;
            othersSquared += c(k) * c(k);
            ++others;
        }
        const double peakValue = c(peak);
        const bool found =
            energy > 0.0 && peakValue != 0.0 && others > 0 &&
            std::abs(peakValue) / std::sqrt(double(burst_) * energy) >= burstMinCorrelation &&
            std::abs(peakValue) >= burstMinPeakToRms * std::sqrt(othersSquared / double(others));
        if (!found) {
            ++pair.misses;
            if (pair.misses == missesBeforeSearch && q == 0) state.searchAgain = true;
            continue;
        }
        pair.misses = 0;
        const double here = std::abs(peakValue);
        const double before = peak > 0 ? std::abs(c(peak - 1)) : 0.0;
        const double after = peak + 1 < lags ? std::abs(c(peak + 1)) : 0.0;
        const double fraction = after >= before ? after / (here + after) : -before / (here + before);
        const int64_t whole = pair.lag - offset + peak;
        const int64_t cycles = state.loopCycles * cycle_;
        ++pair.figures.burstsFound;
        pair.figures.lags.push_back(double(cycles) + roundedToTenth(double(whole - cycles) + fraction));
        if (std::abs(peak - offset) > burstPeakGuard) {
            // The burst came at another lag: read there from the next burst on.
            pair.lag = whole;
            pair.gains.push_back(peakValue / (amplitude * double(burst_)));
            continue;
        }
        // The pairs fitted before this one are taken out of its segment first.
        cleaned_ = received;
        subtractFitted(state, fits, q, q, cycle, cleaned_);
        referenceAt(pair.output, cycle * cycle_ - offset, reference_);
        const DelayFit fit = delay_.fit(cleaned_, reference_, double(peak - offset) + fraction);
        if (!fit.ok) {
            pair.gains.push_back(peakValue / (amplitude * double(burst_)));
            continue;
        }
        fits[q] = {true, fit.delay, fit.gain};
        errors[q] = fit.standardError;
    }
    // With more pairs than one, the loudest is fitted again with the others taken out.
    if (state.pairs.size() > 1 && fits[0].ok) {
        cleaned_ = pairSpectra_[0];
        subtractFitted(state, fits, state.pairs.size(), 0, cycle, cleaned_);
        referenceAt(state.pairs[0].output, cycle * cycle_ - offset, reference_);
        const DelayFit fit = delay_.fit(cleaned_, reference_, fits[0].delay);
        if (fit.ok) {
            fits[0] = {true, fit.delay, fit.gain};
            errors[0] = fit.standardError;
        }
    }
    for (size_t q = 0; q < state.pairs.size(); ++q) {
        if (!fits[q].ok) continue;
        PairState& pair = state.pairs[q];
        pair.gains.push_back(fits[q].gain);
        pair.figures.preciseLags.push_back(double(pair.lag) + fits[q].delay);
        pair.figures.preciseErrors.push_back(errors[q]);
        pair.figures.precisePositions.push_back(cycle * cycle_ + pair.lag);
    }
    if (!mainRead || !fits[0].ok) return;

    // The loudest pair's segment with every fitted pair's burst taken out, in the band.
    const PairState& main = state.pairs[0];
    const size_t first = delay_.firstBin(), bins = delay_.binCount();
    residual_.assign(pairSpectra_[0].size(), {});
    for (size_t k = 0; k < bins; ++k)
        residual_[first + k] = pairSpectra_[0][first + k];
    subtractFitted(state, fits, state.pairs.size(), state.pairs.size(), cycle, residual_);
    addLevels(state, residual_, double(offset) + fits[0].delay);

    // Glitches of the burst: the residual in the band, back in time, over the burst and
    // its flat margins.
    fft_.inverse(residual_, timeWork_);
    std::vector<double> magnitudes;
    const int64_t from = segmentTaper, to = delay_.segmentLength() - segmentTaper;
    for (int64_t n = from; n < to; ++n)
        magnitudes.push_back(std::abs(timeWork_[static_cast<size_t>(n)]));
    const double sigma = 1.4826 * median(magnitudes);
    const double threshold = std::max({8.0 * sigma, 0.25 * std::abs(fits[0].gain) * amplitude, 1e-4});
    PairFigures& figures = state.pairs[0].figures;
    figures.integrityMeasured = true;
    figures.samplesChecked += to - from;
    int64_t lastOutlier = -1;
    const int64_t segmentFirst = cycle * cycle_ + main.lag - offset;
    for (int64_t n = from; n < to; ++n) {
        if (std::abs(timeWork_[static_cast<size_t>(n)]) <= threshold) continue;
        if (lastOutlier < 0 || n - lastOutlier >= signals_.base.sinePeriod)
            noteGlitch(state, segmentFirst + n);
        lastOutlier = n;
    }
}

// Takes out of `spectrum` (pair `frame`'s segment, or the loudest pair's for a frame past
// the pairs) the fitted bursts of the pairs before `upTo` other than `frame` itself, in
// the band.
void ChannelMapAnalyser::subtractFitted(const InputState& state, const std::vector<Fitted>& fits, size_t upTo,
                                        size_t frame, int64_t cycle,
                                        std::vector<std::complex<double>>& spectrum) {
    const size_t first = delay_.firstBin(), bins = delay_.binCount();
    const int64_t frameLag = state.pairs[frame < state.pairs.size() ? frame : 0].lag;
    for (size_t q = 0; q < std::min(upTo, state.pairs.size()); ++q) {
        if (!fits[q].ok || (q == frame && frame < state.pairs.size())) continue;
        const PairState& pair = state.pairs[q];
        // Pair q's burst lies (pair.lag - frameLag) further on in this segment.
        referenceAt(pair.output, cycle * cycle_ - delay_.burstOffset() - (pair.lag - frameLag), reference_);
        bandRotations(delay_, -fits[q].delay, rotations_);
        for (size_t k = 0; k < bins; ++k)
            spectrum[first + k] -= fits[q].gain * times(reference_[first + k], rotations_[k]);
    }
}

// The level of every output in what is left of an input's band: the least-squares gain
// of its burst at the input's round trip (`burstAt` samples into the segment), and the
// variance that the residual's own noise gives that gain.
void ChannelMapAnalyser::addLevels(InputState& state, const std::vector<std::complex<double>>& residual,
                                   double burstAt) {
    const size_t first = delay_.firstBin(), bins = delay_.binCount();
    const double amplitude = signals_.base.amplitude;
    residualBand_.resize(3 * bins);
    double* vRe = residualBand_.data();
    double* vIm = vRe + bins;
    double* power = vIm + bins;
    bandRotations(delay_, burstAt, rotations_);
    for (size_t k = 0; k < bins; ++k) {
        const std::complex<double> v = times(residual[first + k], rotations_[k]);
        vRe[k] = v.real();
        vIm[k] = v.imag();
        power[k] = std::norm(v);
    }
    for (int output = 1; output <= signals_.outputs; ++output) {
        const double energy = bandEnergy_[static_cast<size_t>(output - 1)];
        if (energy <= 0.0) continue;
        const double* sRe = sequenceBands_[static_cast<size_t>(output - 1)].data();
        const double* sIm = sRe + bins;
        const double* sPower = sIm + bins;
        // Plain arrays and separate sums, so the compiler keeps several products in flight.
        double re = 0.0, im = 0.0, spread = 0.0;
        for (size_t k = 0; k < bins; ++k) {
            re += vRe[k] * sRe[k] + vIm[k] * sIm[k];
            im += vIm[k] * sRe[k] - vRe[k] * sIm[k];
            spread += power[k] * sPower[k];
        }
        const double scale = 1.0 / (amplitude * energy);
        state.levelSum[static_cast<size_t>(output - 1)] += std::complex<double>(re, im) * scale;
        state.floorSquares[static_cast<size_t>(output - 1)] +=
            delay_.binsPerIndependent() * spread * scale * scale;
    }
    ++state.levelBursts;
}

// An input that hears no output: the level of every output at the round trip the other
// inputs hear theirs.
void ChannelMapAnalyser::listen(int input, int64_t cycle, double lag) {
    InputState& state = states_[static_cast<size_t>(input)];
    const int64_t whole = static_cast<int64_t>(std::floor(lag));
    std::vector<double> segment;
    if (!readSegment(input, cycle * cycle_ + whole - delay_.burstOffset(), segment)) return;
    delay_.spectrum(segment.data(), residual_);
    addLevels(state, residual_, double(delay_.burstOffset()) + (lag - double(whole)));
}

// The sine between a cycle's bursts at the loudest pair's lag: each run of known samples
// is fitted on its own.
void ChannelMapAnalyser::checkStretch(int input, int64_t cycle) {
    InputState& state = states_[static_cast<size_t>(input)];
    const int64_t lag = state.pairs[0].lag;
    const int period = signals_.base.sinePeriod;
    const int64_t begin =
        std::max({cycle * cycle_ + burst_ + sineMargin + lag, bufferStart_, recordedStart_});
    const int64_t end = std::min((cycle + 1) * cycle_ - sineMargin + lag, recordedEnd());
    if (end - begin < partialStretchPeriods * period) return;
    PairFigures& figures = state.pairs[0].figures;
    if (figures.burstsFound == 0) return;
    int64_t runStart = begin;
    for (int64_t p = begin; p <= end; ++p) {
        if (p < end && !std::isnan(at(input, p))) continue;
        if (p - runStart >= 2 * period) {
            const std::vector<float>& samples = samples_[static_cast<size_t>(input)];
            const SineGlitchFindings findings =
                findSineGlitches(&samples[static_cast<size_t>(runStart - bufferStart_)],
                                 static_cast<size_t>(p - runStart), runStart, period);
            figures.samplesChecked += p - runStart;
            figures.integrityMeasured = true;
            for (int64_t position : findings.eventStarts)
                noteGlitch(state, position);
        }
        runStart = p + 1;
    }
}

void ChannelMapAnalyser::noteGlitch(InputState& state, int64_t position) {
    PairFigures& figures = state.pairs[0].figures;
    ++figures.glitches;
    if (figures.glitchPositions.size() < maxGlitchPositions) figures.glitchPositions.push_back(position);
}

// What is pending when the input ends or jumps: the sine stretches up to the end of what
// came.
void ChannelMapAnalyser::finishPending() {
    if (!started_) return;
    for (int i = 0; i < inputs_; ++i) {
        InputState& state = states_[static_cast<size_t>(i)];
        if (state.pairs.empty()) continue;
        while (state.nextStretch < state.nextCycle) {
            checkStretch(i, state.nextStretch);
            ++state.nextStretch;
        }
    }
}

ChannelMapResult ChannelMapAnalyser::result() {
    ChannelMapResult result;
    if (!finished_) {
        finishPending();
        finished_ = true;
    }
    result.inputs = inputs_;
    result.outputs = valid_ ? signals_.outputs : 0;
    result.sampleRate = signals_.base.sampleRate;
    result.bandLowHz = fitBandLow * result.sampleRate;
    result.bandHighHz = fitBandHigh * result.sampleRate;
    result.unknownSamples = unknownSamples_;
    result.rebases = rebases_;
    buildFindings(result);
    return result;
}

} // namespace measure

namespace measure {

// The figures each pair and input gathered, as the result holds them; the findings are
// read from those (channelMapFindings.cpp).
void ChannelMapAnalyser::buildFindings(ChannelMapResult& result) const {
    for (int i = 0; i < inputs_; ++i) {
        const InputState& state = states_[static_cast<size_t>(i)];
        InputFindings findings;
        findings.input = i + 1;
        findings.expectedOutput = state.expected;
        findings.nonFiniteRuns = state.nonFiniteRuns;
        findings.windowsSearched = state.windowsSearched;
        for (const PairState& pair : state.pairs) {
            PairFigures figures = pair.figures;
            std::vector<double> magnitudes;
            size_t negative = 0;
            for (double gain : pair.gains) {
                magnitudes.push_back(std::abs(gain));
                negative += gain < 0.0 ? 1 : 0;
            }
            if (!magnitudes.empty()) figures.gainDb = decibels(median(magnitudes));
            figures.inverted = 2 * negative > pair.gains.size();
            findings.pairs.push_back(std::move(figures));
        }
        const size_t outputs = static_cast<size_t>(signals_.outputs);
        findings.levelDb.assign(outputs, std::numeric_limits<double>::quiet_NaN());
        findings.floorDb.assign(outputs, std::numeric_limits<double>::quiet_NaN());
        findings.levelBursts = state.levelBursts;
        if (state.levelBursts > 0) {
            const double n = double(state.levelBursts);
            for (size_t j = 0; j < outputs; ++j) {
                findings.levelDb[j] = decibels(std::abs(state.levelSum[j]) / n);
                findings.floorDb[j] = decibels(floorDeviations * std::sqrt(state.floorSquares[j]) / n);
            }
        }
        result.findings.push_back(std::move(findings));
    }
    deriveFindings(result);
}

} // namespace measure
