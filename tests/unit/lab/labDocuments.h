// Documents as the tool writes them, made with its own document writer and verdict, for
// the tests of what a lab reads.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace labtest {

// A measured run of `driver` (list name) over a loopback at 48000 Hz, 256 samples: a
// round trip of 696 samples, and the faults asked for.
struct RunFaults {
    uint64_t late = 0, gaps = 0;
    int64_t glitches = 0;
    int interruptSignal = 0;
};
nlohmann::json measuredRun(const std::string& driver, const RunFaults& faults = {});

// A run that could not be made: the failure line, no figures, no stats.
nlohmann::json failedRun(const std::string& failure);

// A sweep of two settings at 48000 Hz: 64 samples refused, 128 samples run and passed.
nlohmann::json sweepWithRefusal();

// A suite of one driver whose start-stop failed with two faults.
nlohmann::json suiteWithFailure();

} // namespace labtest
