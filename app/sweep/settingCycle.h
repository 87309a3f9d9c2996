// One setting run as a host runs it when its user changes settings or restarts the
// stream: stop, disposeBuffers, setSampleRate, createBuffers at the size, start, then a
// measured run for /seconds and stop. A sweep runs it once per setting, /starts N times
// per setting. The processor is attached to the driver only while a run goes on: a
// callback of the driver can reach it, and the parts of the run it is handed, only once
// they are built, and every callback inside it has left before any of them is built
// again, also for a driver that calls back after its buffers were disposed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/measured/measuringBP.h"
#include "app/options.h"
#include "app/sweep/sweepRow.h"
#include "asio/telAsioDriver.h"

struct cycleSetting {
    double rate = 0;
    int32_t buffer = 0;
    bool advertised = false; // the driver offers the rate and the size
    std::string refusal;     // the rate was refused while the sweep was planned
};

// What a callback that never left the processor's wait is.
inline constexpr const char* callbackStuck = "a callback of the driver did not return within 2 s";

class settingCycle {
  public:
    settingCycle(telAsioDriver& driver, measuringBP& processor, const programOptions& options)
        : f_driver(driver), f_processor(processor), f_options(options) {}

    // Sets the driver up for the setting and runs it; the row of what happened. `lead`
    // goes before the live status line.
    sweepRow run(const cycleSetting& at, const std::string& lead);

    // Whether another run may follow.
    bool goesOn() const {
        return !f_prepareFailed && !f_driverGone && !f_callbackStuck && f_signal == 0 && !f_endedEarly;
    }

    bool f_started = false, f_driverGone = false, f_endedEarly = false, f_callbackStuck = false;
    // Why the run could not be set up (a loopback without its channels): the same at
    // every setting, so the runs end with it.
    std::optional<std::string> f_prepareFailed;
    int f_signal = 0;

  private:
    sweepRow runSetting(const cycleSetting& at, const std::string& lead);

    telAsioDriver& f_driver;
    measuringBP& f_processor;
    const programOptions& f_options;
};

// A refused setting's row.
sweepRow refusedRow(const cycleSetting& at, const std::string& refusal);
