// /conform: the suite of checks against the selected driver, or every installed driver
// in turn, instead of the normal run. Each check prints one line as soon as it ends (the
// running one is shown on a live line), each driver a summary; the JSON section and the
// JUnit report are written on every path.
#pragma once

#include "conform/suiteSettings.h"

namespace conform {

// Runs the suite; the exit status is 0 when no check failed, 1 when one did (or Ctrl+C
// cut the suite short), 2 when the driver could not be created at all (with every
// driver: when none could).
int runConformanceSuite(const SuiteSettings& settings);

} // namespace conform
