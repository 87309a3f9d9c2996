// Judging sample rates (sample-rates, set-sample-rate) and clock sources (clock-sources).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "asio/asioTypes.h"
#include "conform/judge/stream.h"
#include "conform/outcome.h"

namespace conform {

// The rates hosts offer, from 8000 to 768000 Hz.
const std::vector<double>& standardRates();
// Rates no driver may accept: -1, 0, NaN, infinity and 1e12.
const std::vector<double>& nonsenseRates();

struct RateAnswer {
    double rate = 0;
    ASIOError status = ASE_OK;
};

struct SampleRatesObservation {
    std::vector<RateAnswer> standard; // canSampleRate of each standard rate
    ASIOError currentStatus = ASE_OK; // getSampleRate
    double current = 0;
    ASIOError currentAccepted = ASE_OK; // canSampleRate of the current rate
    std::vector<RateAnswer> nonsense;
};

// canSampleRate accepts at least one standard rate and the current one, and refuses
// every nonsense rate.
Outcome judgeSampleRates(const SampleRatesObservation& seen);

struct RateSetting {
    double rate = 0;
    ASIOError setStatus = ASE_OK;
    ASIOError readStatus = ASE_OK; // getSampleRate right after
    double readBack = 0;
    // A stream run at the rate once it was set and read back: getSampleRate only says
    // what the driver was told, its positions against the host's clock what it does.
    std::optional<RunTrace> run;
    // The stream run once more where the first one's pace was off: a machine that held up
    // the first quarter of a second rarely holds up the second, a driver that ignores the
    // rate runs at its own both times.
    std::optional<RunTrace> again;
};

// True when the run's positions advanced against the host's clock at `rate`, within
// ratePaceTolerance; false also when its pace could not be measured.
bool ranAtRate(const RunTrace& run, double rate);

// How far a stream's pace may be off the rate it was set to: half as far as the nearest
// standard rates lie apart (44100 and 48000 Hz, 8 %), far more than a loaded machine
// bends a quarter of a second of switches, which positionPace reads robustly. A clock a
// few per cent off is the rate judge's (switch-sequence) to fail, not a rate ignored.
inline constexpr double ratePaceTolerance = 0.04;
// Switches a stream runs for at a rate: a quarter of a second of them, at least 8.
uint32_t paceSwitches(double rate, int32_t size);

struct SetSampleRateObservation {
    double original = 0;
    std::vector<RateSetting> accepted;  // every standard rate canSampleRate accepted
    std::optional<RateSetting> refused; // a standard rate it refused, set anyway
    double beforeRefused = 0;           // the rate just before that
    RateSetting restored;               // the original rate set again
};

// Every accepted rate is set and reported back, and a stream runs at it at its pace
// (within ratePaceTolerance); a refused one is refused and the rate stays; the original
// rate comes back. Skipped for a driver with one rate.
Outcome judgeSetSampleRate(const SetSampleRateObservation& seen);

struct ClockSourceEntry {
    int32_t index = 0;
    bool current = false;
    bool nameTerminated = true;
    std::string name;
};

struct ClockSourcesObservation {
    ASIOError status = ASE_OK;
    std::vector<ClockSourceEntry> sources;
    ASIOError setCurrentStatus = ASE_OK; // setClockSource of the current source
    int32_t outOfRangeIndex = 0;
    ASIOError setOutOfRangeStatus = ASE_OK;
};

// At least one source, distinct indexes, exactly one current, terminated names; setting
// the current one works, an index out of range is refused.
Outcome judgeClockSources(const ClockSourcesObservation& seen);

} // namespace conform
