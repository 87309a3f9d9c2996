// What every check gets: the driver's class, the suite's settings, and a place for what
// the checks learn about the driver on the way (whether it could be created and
// initialised, its own name), which the report needs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "conform/driverSession.h"
#include "conform/outcome.h"
#include "measure/runDocument.h"
#include "platform/com.h"

namespace conform {

struct CheckContext {
    plat::Guid clsid{};
    bool skipControlPanel = false;

    // Learnt while the check runs.
    bool created = false;     // some creation succeeded
    int32_t createStatus = 0; // the status of the first creation that failed
    bool initialised = false; // some init succeeded
    bool initRefused = false; // an init was refused
    std::string driverName;   // the driver's own name, once initialised
    int32_t driverVersion = 0;
    SessionTally tally; // resets honoured, exceptions and calls not made, from every session
    std::optional<measure::FigureFacts> figures; // the driver's figures, when the check read them

    // Tells the supervisor which step of the check begins ("creation 2 of 3"), so that a
    // crash or hang there can name it; nothing without a supervisor.
    std::function<void(const std::string&)> tellStage;
    void stage(const std::string& step) const {
        if (tellStage) tellStage(step);
    }

    // Creates and initialises `session`; false with the outcome to report when that fails.
    bool open(DriverSession& session, Outcome& failure);
    // Creates `session` only, noting the result; 0 (S_OK) when it was created.
    int32_t create(DriverSession& session);
    // Initialises a created session, noting the result and the driver's name.
    bool init(DriverSession& session);
};

// A check: drives the driver the way hosts do and judges what it saw.
using CheckFunction = Outcome (*)(CheckContext& context);

} // namespace conform
