// A run's JUnit report from its JSON document, for a measured run, a sweep and every
// driver in turn (the conformance suite writes its own, one case per check).
//
// Each driver is a testsuite, its cases of the class "MODE.DRIVER (index N)" (the list's
// name without dots). A measured run has a case per class of finding (run, timing,
// continuity, rate, latency, recording): a failure element with the verdict's reasons of
// that class; skipped where nothing of it was asked for (no /latency, no /record); an
// error where the run was not made or was interrupted before it could be judged whole.
// A sweep has a "run" case and one per setting (a refused setting is skipped with the
// refusal). The "run" case carries what belongs to no other: the failure that stopped
// the run, a crash, the host's own losses, an output that could not be written.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "lab/runMode.h"

namespace lab {

// `unixSeconds` is when the run ended, the suites' timestamp. Not for RunMode::conformance.
std::string junitReport(const nlohmann::json& document, RunMode mode, double unixSeconds);

} // namespace lab
