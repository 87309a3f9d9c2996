// The kind of run a document comes from, as the command line chose it.
#pragma once

namespace lab {

enum class RunMode {
    measured,    // /seconds, /latency, /json ...: one run of one driver
    sweep,       // /sweep: one driver at every setting
    conformance, // /conform
    everyDriver, // /index=all with /seconds or /sweep: every driver's run in `runs`
};

// The word the metrics' `mode` label and the JUnit report's names use.
const char* modeName(RunMode mode);

} // namespace lab
