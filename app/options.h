// The banner, the usage text and the command-line options of the main block.
//
// The four original switches are read exactly as they always were. The switches that
// measure and judge a driver are read strictly: a value that is not what the switch
// takes gets a line naming the fault, and (for the switches that shape the run) the
// usage text, and then nothing starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "conform/suiteSettings.h"
#include "core/telTypes.h"
#include "measure/channelMap/wiring.h"

// The output and the input of a loopback measurement, 1-based as the report shows them;
// or every output into every input at once (/latency=all: a channel map).
struct latencyChannels {
    int32_t output = 1;
    int32_t input = 1;
    bool all = false;
};

// Seconds each setting of a sweep, and each start of /starts, runs unless /seconds says
// otherwise.
inline constexpr int32_t sweepDefaultSeconds = 2;

// The stream starts /starts=N may ask for.
inline constexpr int32_t fewestStarts = 2;
inline constexpr int32_t mostStarts = 1000;

struct programOptions {
    int32_t requestedIndex = 0;         // /index=N; 0 when missing
    telBool showControlPanel = telTrue; // false with /skipcp

    // /seconds=N: the run stops by itself after N seconds and the exit status tells the
    // verdict. Its presence alone (even with a bad value) makes the exit status count.
    std::optional<int32_t> seconds;
    bool secondsGiven = false;
    bool stats = false;                  // /stats, or implied by /seconds
    std::optional<telText> jsonPath;     // /json=FILE
    bool list = false;                   // /list
    bool probe = false;                  // /probe
    std::optional<int32_t> bufferSize;   // /buffer=N
    std::optional<double> sampleRate;    // /rate=R
    std::optional<latencyChannels> latency; // /latency, /latency=OUT,IN or /latency=all
    // /wiring=OUT:IN,...: which output each input of /latency=all is wired to.
    std::optional<std::vector<measure::WiredPair>> wiring;
    std::optional<telText> recordPath;   // /record=FILE.wav
    bool sweep = false;                  // /sweep: every rate and a choice of buffer sizes
    // /starts=N: the stream started N times (each a host's full cycle), every start judged.
    std::optional<int32_t> starts;
    bool startsGiven = false;
    std::optional<telText> htmlPath;     // /html=FILE: the report to look at
    std::optional<telText> metricsPath;  // /metrics=FILE: the run's figures for a lab's Prometheus
    std::optional<telText> baselinePath; // /baseline=FILE: an earlier run's JSON to compare with

    // /conform and the switches that shape the conformance suite. /index=all asks for every
    // installed driver (the suite, or timed measured runs one after another); a plain
    // run reads it as the number reader always has.
    bool allDrivers = false;          // /index=all
    bool conform = false;             // /conform
    int32_t timeoutSeconds = conform::defaultTimeLimitSeconds; // /timeout=S, per supervised case
    bool isolate = true;              // /isolate=no: every check in this process
    std::optional<telText> junitPath; // /junit=FILE
    std::vector<std::string> checks;  // /check=ID,...: only these checks

    bool help = false;       // /help or /?: the full usage text, and nothing runs
    bool usageError = false; // a switch was given wrongly: its line and the usage were printed
    std::vector<telText> usageErrors; // the line of each switch given wrongly
    // A measuring switch, /junit, /metrics or /record given at all (even wrongly): a script
    // reads the run's outcome.
    bool jsonGiven = false;
    bool recordGiven = false;
    bool junitGiven = false;
    bool latencyGiven = false;
    bool htmlGiven = false;
    bool metricsGiven = false;
    bool baselineGiven = false;

    // True when the run needs the measuring processor rather than the plain one.
    bool measures() const {
        return stats || jsonPath || latency || recordPath || probe || sweep || htmlPath || metricsPath ||
               (junitPath && !conform) || startsGiven;
    }
    // True when the exit status tells the outcome (pass 0, fail or inconclusive 1, error
    // 2, interrupted 128 + signal): with any measuring switch (/seconds, /json, /latency,
    // /record, /sweep, /html), /junit, /metrics, /baseline and the suite; otherwise every path ends with 0.
    bool judged() const {
        return secondsGiven || jsonGiven || latencyGiven || recordGiven || sweep || htmlGiven || junitGiven ||
               metricsGiven || baselineGiven || conform || startsGiven;
    }
    // True when nothing is to be opened at all.
    bool stopsAfterOptions() const { return help || usageError; }
};

void printBanner();
// The usage text printed for an empty command line.
void printUsage();
// The usage text with every switch, printed for /help and after a wrongly given switch.
void printFullUsage();

// Prints the usage text when there are no arguments; otherwise reads the switches,
// prints a line for each one given wrongly (and the full usage text once where the run
// cannot go on) and warns on standard error about switches it does not know.
programOptions readOptions();

// Whether a command-line argument is the switch `name` ("/", "-" or "\\" before it,
// case ignored, a value after "=" or ":").
bool isSwitchNamed(const telText& argument, const char16_t* name);

// The conformance suite's settings from the options.
conform::SuiteSettings suiteSettings(const programOptions& options);

// Strict readers of switch values, for the switches that measure: only plain decimal
// digits (and one decimal point for a rate), no sign, no spaces, nothing else.
std::optional<int64_t> readWholeNumber(const telText& text);
std::optional<double> readRate(const telText& text);
// "OUT,IN" with two whole numbers from 1 up.
std::optional<latencyChannels> readLatencyChannels(const telText& text);
