// What a report shows: plain data the program fills in from a run. Everything a run may
// not have is optional or an empty list, and the report leaves out what is missing.
// Times are seconds from the start of the run, durations of the callback path are
// microseconds, positions and round trips are samples. Texts are UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace report {

struct ToolFacts {
    std::string version;
    int bits = 0;            // 32 or 64
    std::string madeAt;      // when the report was made, as the caller writes it
    std::string commandLine; // the switches the tool was started with
};

struct DriverFacts {
    int32_t index = 0;       // position in the driver list
    std::string description; // the list's name of the driver
    std::string clsid;
    std::optional<std::string> name; // the driver's own name
    std::optional<int32_t> version;
    std::optional<std::string> errorText;
};

struct DriverFigures {
    int32_t asioVersion = 0;
    int32_t inputs = 0, outputs = 0;
    int32_t bufferMin = 0, bufferMax = 0, bufferPreferred = 0, bufferActual = 0, granularity = 0;
    double sampleRate = 0;
    int32_t inputLatency = 0, outputLatency = 0; // samples
};

struct ChannelFacts {
    int32_t number = 0; // number within its direction, from 1 as the tool names channels everywhere
    bool input = true;
    std::string name;
    std::string sampleType; // the sample format as the console names it
    int32_t group = 0;
    bool active = false;
};

enum class Outcome { pass, fail, inconclusive, error, interrupted };

// A line of the console's summary: "Switches" and "801 (801 expected)".
struct SummaryLine {
    std::string label;
    std::string text;
};

// One 100 ms stretch of the run. The interval figures describe the intervals that ended
// in the bin and mean nothing when `intervals` is 0.
struct TimelineBin {
    double t = 0; // start of the bin
    uint32_t switches = 0;
    uint32_t intervals = 0;
    double intervalMinUs = 0, intervalMeanUs = 0, intervalMaxUs = 0;
    double hostMeanUs = 0, hostMaxUs = 0;
};

enum class EventKind {
    gap,
    repeat,
    backwardStep,
    shortStep,
    halfError,
    lateSwitch,
    hostLoss,
    positionRebase,
    machineStall,
};
inline constexpr size_t eventKindCount = 9;

struct TimingEvent {
    double t = 0;
    EventKind kind = EventKind::gap;
    std::string detail; // short: "300 samples lost"
};

struct TimingData {
    double periodUs = 0;        // one buffer at the reported rate
    double lateThresholdUs = 0; // an interval longer than this is a late switch
    double binSeconds = 0.1;    // the timeline's bin length
    std::vector<TimelineBin> timeline;
    // Intervals between switches: count per whole microsecond (index = µs) below the
    // histogram's end, and the longer ones as value → count.
    std::vector<uint64_t> intervalCounts;
    std::map<int64_t, uint64_t> longIntervals;
    // The events as far as they were kept, in time order, and the count of each kind over
    // the whole run (indexed by EventKind), which the list may fall short of.
    std::vector<TimingEvent> events;
    std::array<uint64_t, eventKindCount> eventTotals{};
};

struct CorrelationPoint {
    double lag = 0;   // samples
    double value = 0; // normalised correlation, -1 … 1
};

struct BurstRoundTrip {
    double t = 0;
    double roundTrip = 0; // samples
};

// The recorded input around a glitch and what should have come back there.
struct GlitchSnapshot {
    int64_t position = 0; // input position of the glitch's first outlying sample
    double t = 0;
    int64_t windowStart = 0; // input position of recorded[0] and expected[0]
    std::vector<float> recorded, expected;
};

struct LatencyData {
    double sampleRate = 0;
    int32_t output = 0, input = 0; // channel numbers from 1
    // The correlation of one burst around its peak, and the (fractional) lag found.
    std::vector<CorrelationPoint> correlation;
    double foundLag = 0;
    std::vector<BurstRoundTrip> bursts;
    std::vector<GlitchSnapshot> glitchSnapshots; // the first few
    // The figures; the round trip is missing when no burst came back.
    std::optional<double> roundTripSamples, roundTripMs;
    int64_t reportedSamples = 0; // the driver's input + output latency
    std::optional<double> unreportedSamples;
    double gainDb = 0;
    bool inverted = false;
    int64_t glitches = 0;
};

// One pair of a channel map (/latency=all): an output an input hears.
struct MapPair {
    int32_t output = 0, input = 0; // channel numbers from 1
    std::string roundTrip;         // to a hundredth with its interval where it allows
    std::optional<double> roundTripMs;
    double gainDb = 0;
    bool inverted = false;
    int64_t glitches = 0;
    bool expected = false; // the output this input is wired to
};

// What one input of a channel map hears: every output's level in it, with its floor.
struct MapInput {
    int32_t input = 0;
    int32_t expectedOutput = 0, heardOutput = 0;           // 0: none
    std::vector<std::optional<double>> levelsDb, floorsDb; // per output, from output 1
};

struct ChannelMapData {
    int32_t inputs = 0, outputs = 0;
    std::vector<MapInput> map;
    std::vector<MapPair> pairs;
    int64_t reportedSamples = 0;
    std::vector<std::string> findings;
};

// One setting of a sweep over rates and buffer sizes.
struct SweepRow {
    double rate = 0;
    int32_t buffer = 0;
    bool accepted = true;
    std::string refusal; // what the driver said when it did not accept the setting
    int32_t inputLatency = 0, outputLatency = 0;
    std::optional<double> roundTripSamples, roundTripMs, unreportedSamples;
    uint64_t switches = 0, expectedSwitches = 0, lateSwitches = 0;
    double longestIntervalUs = 0;
    double hostLoad = 0; // 0.01 = 1 %
    // The setting's verdict; none for a setting the driver refused, which did not run.
    std::optional<Outcome> verdict = Outcome::pass;
    std::vector<std::string> reasons;
};

// One stream start of /starts.
struct StartRow {
    int32_t start = 0; // from 1
    std::optional<double> firstCallbackMs, roundTripSamples;
    std::optional<Outcome> verdict;
    std::vector<std::string> reasons;
};

// What the starts added up to: the spread of their round trips and each kind of failure
// with its rate ("no first callback within 1 s: 2 of 8").
struct StartsData {
    std::vector<StartRow> starts;
    std::string spread;
    std::vector<std::string> failures;
};

// Where a setting stands in its sweep: "setting 2 of 8".
struct SweepSetting {
    double rate = 0;
    int32_t buffer = 0;
    int32_t number = 0, count = 0; // from 1; 0 when not known
};

// When a run that crashed or hung ended, as its supervising parent saw it.
struct FailureMoment {
    // Seconds from the driver's start (in a sweep: the start of the setting that ran)
    // to the end; missing when the driver had not been started.
    std::optional<double> seconds;
    // The switches the run had counted, and when it had counted them (the run counts
    // ten times a second: those of the last moments before the end are not among them).
    std::optional<uint64_t> switchesCounted;
    std::optional<double> countedAtSeconds;
    std::optional<SweepSetting> setting; // the sweep's setting that was running
};

// What /probe found the driver supports.
struct ProbeClock {
    int32_t index = 0;
    std::string name;
    int32_t channel = -1, group = -1;
    bool current = false;
};
struct ProbeFacts {
    std::vector<std::pair<double, bool>> rates; // every standard rate, ascending: can the driver run at it
    std::optional<std::vector<ProbeClock>> clocks;
    // The buffer sizes: missing when the driver did not say.
    struct Sizes {
        int32_t min = 0, max = 0, preferred = 0, granularity = 0;
        std::string legal; // "32, 64, 128" or the rule when there are many
        uint64_t legalCount = 0;
        std::optional<bool> createdMin, createdMax; // createBuffers took the smallest / largest
    };
    std::optional<Sizes> sizes;
    std::vector<std::pair<std::string, bool>> future;            // optional features: answered or not
    std::vector<std::pair<std::string, uint64_t>> messagesAsked; // what the driver asked the host
    std::optional<bool> outputReady;
};

enum class CheckResult { pass, fail, warn, skip };

struct ConformanceCheck {
    std::string id;
    CheckResult result = CheckResult::pass;
    std::string detail;
    double seconds = 0;
    std::vector<std::string> faults; // every fault the check saw, first first (may be empty)
};

struct ConformanceDriver {
    std::string driver; // how the report names the driver
    std::vector<ConformanceCheck> checks;
    // Set for the suite over every driver: its place in the list, and why it could not
    // be created when it could not.
    std::optional<int32_t> index;
    std::optional<std::string> failure;
};

// A run judged against an earlier one (/baseline): each change, as the console says it.
struct BaselineChange {
    std::string what, before, after; // the values with their unit ("600 samples"), "none"
    std::optional<bool> worse;       // empty: reported only
};

struct BaselineData {
    std::string file, date;
    std::vector<BaselineChange> changes;
    std::vector<std::string> lacks; // what the baseline has no keys for
    // The baseline's own series, drawn faintly under this run's in the same plots; empty
    // where the baseline document holds none of them.
    std::vector<SweepRow> sweep;
    std::vector<StartRow> starts;
    std::optional<double> roundTripSamples; // of a measured run's loop
};

struct ReportData {
    ToolFacts tool;
    std::optional<DriverFacts> driver;
    std::optional<DriverFigures> figures;
    std::vector<ChannelFacts> channels;
    std::optional<Outcome> verdict;
    std::vector<std::string> reasons;
    std::vector<SummaryLine> summary;
    std::optional<double> runSeconds; // the run's length, where the time axes end
    // Whether the machine probe could resolve the machine's stalls; missing when not known.
    std::optional<bool> machineProbed;
    std::optional<FailureMoment> failureAt; // a run that crashed or hung
    std::optional<TimingData> timing;
    std::optional<LatencyData> latency;
    std::optional<ChannelMapData> channelMap; // /latency=all, in place of latency
    std::vector<SweepRow> sweep;
    std::optional<StartsData> starts; // /starts of one setting
    std::optional<ProbeFacts> probe;
    std::vector<ConformanceDriver> conformance;
    std::optional<BaselineData> baseline;
};

// The words the report and its data attributes use: "pass", "late-switch", "warn".
const char* outcomeName(Outcome outcome);
const char* eventKindName(EventKind kind);
// The kind of that name; missing for a name that is none.
std::optional<EventKind> eventKindNamed(const std::string& name);
const char* checkResultName(CheckResult result);

} // namespace report
