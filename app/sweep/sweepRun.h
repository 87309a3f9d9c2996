// /sweep: the driver run at every rate it can do (the standard ones) and a choice of
// legal buffer sizes (measure/sweepPlan.h), each setting a measured run of its own for
// the /seconds of the sweep. Between settings the driver is taken through what a host
// does when its user changes settings: stop, disposeBuffers, setSampleRate,
// createBuffers at the new size, start; the original rate is set back at the end. A
// setting the driver refuses gets its row with the refusal and the sweep goes on.
//
// A live line shows which setting of how many runs; each row is printed as soon as its
// setting has run, then one line with the smallest buffer that passed at each rate.
#pragma once

#include <functional>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/measured/measuringBP.h"
#include "app/options.h"
#include "app/sweep/sweepRow.h"
#include "asio/telAsioDriver.h"
#include "measure/verdict.h"

struct sweepOutcome {
    std::vector<sweepRow> rows; // one per setting, in the order they ran
    measure::Verdict verdict;
    bool started = false;    // the driver was started at least once
    int signal = 0;          // the signal that ended the sweep, 0 for none
    bool driverGone = false; // a stop failed and the driver was released
};

// Runs the sweep with a driver initialised with buffers and `processor`. The processor is
// attached to the driver only while a setting runs: a callback of the driver can reach
// it, and the parts of the run it is handed, only once they are built, and every
// callback inside it has left before any of them is built again, also for a driver that
// calls back after its buffers were disposed. `rowsChanged` hears the report's `sweep`
// after every setting (the JSON document as far as it goes).
sweepOutcome runSweep(telAsioDriver& driver, measuringBP& processor, const programOptions& options,
                      const std::function<void(const nlohmann::json&)>& rowsChanged);
