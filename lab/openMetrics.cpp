#include "lab/openMetrics.h"

#include <map>

#include "lab/documentReading.h"
#include "lab/metricSet.h"

namespace lab {

namespace {

using json = nlohmann::json;

constexpr const char* verdictWords[] = {"pass", "fail", "inconclusive", "error", "interrupted"};
constexpr const char* resultWords[] = {"pass", "fail", "warn", "skip"};

Labels with(Labels labels, const Labels& more) {
    labels.insert(labels.end(), more.begin(), more.end());
    return labels;
}

// The driver's labels from a document's `driver` (or a suite's entry of `drivers`).
Labels driverLabels(RunMode mode, const json& driver) {
    return {{"mode", modeName(mode)},
            {"driver", textAt(driver, {"description"})},
            {"index", textAt(driver, {"index"})},
            {"driver_version", textAt(driver, {"version"})}};
}

std::optional<double> scaled(std::optional<double> value, double factor) {
    if (value) *value *= factor;
    return value;
}

void addVerdict(MetricSet& set, const Labels& labels, const std::string& word) {
    if (word.empty()) return;
    for (const char* each : verdictWords)
        set.add("echoprobe_verdict", MetricType::gauge,
                "The run's verdict: 1 for its word (pass, fail, inconclusive, error, interrupted), 0 for the "
                "others.",
                with(labels, {{"verdict", each}}), word == each ? 1.0 : 0.0);
}

// The switches' statistics of a run or a sweep's setting.
void addStats(MetricSet& set, const Labels& labels, const json& stats) {
    if (!stats.is_object()) return;
    const auto counter = [&](const char* name, const char* help, const char* key) {
        set.add(name, MetricType::counter, help, labels, numberAt(stats, {key}));
    };
    counter("echoprobe_buffer_switches_total", "Buffer switches the driver delivered.", "switches");
    set.add("echoprobe_expected_buffer_switches", MetricType::gauge,
            "Buffer switches the run's length, rate and buffer size call for.", labels,
            numberAt(stats, {"expectedSwitches"}));
    counter("echoprobe_late_switches_total", "Buffer switches more than 1.5 periods after the one before.",
            "late");
    counter("echoprobe_position_gaps_total", "Sample position steps of more than one buffer.", "gaps");
    counter("echoprobe_samples_lost_total", "Samples the position gaps skipped.", "samplesLost");
    counter("echoprobe_repeated_buffers_total", "Sample positions that did not step.", "repeats");
    counter("echoprobe_backward_steps_total", "Sample positions that stepped back.", "backwards");
    counter("echoprobe_short_steps_total", "Sample position steps of less than a buffer.", "shortSteps");
    counter("echoprobe_position_jumps_total", "Sample position steps of more than four seconds.",
            "positionJumps");
    counter("echoprobe_half_errors_total", "Buffer halves out of range or out of turn.", "halfErrors");
    set.add("echoprobe_lost_time_seconds", MetricType::gauge, "Pauses that lost time without a position gap.",
            labels, scaled(numberAt(stats, {"lostTime", "ms"}), 1e-3));
    for (const char* stat : {"min", "mean", "max", "p99"})
        set.add("echoprobe_callback_interval_seconds", MetricType::gauge,
                "Intervals between buffer switches: min, mean, max and 99th percentile.",
                with(labels, {{"stat", stat}}), scaled(numberAt(stats, {"intervalUs", stat}), 1e-6));
    for (const char* stat : {"mean", "max"})
        set.add("echoprobe_host_time_seconds", MetricType::gauge, "The tool's own work in a buffer switch.",
                with(labels, {{"stat", stat}}), scaled(numberAt(stats, {"hostUs", stat}), 1e-6));
    set.add("echoprobe_host_load_ratio", MetricType::gauge, "The tool's own share of the buffer period.",
            labels, numberAt(stats, {"hostLoad"}));
    set.add("echoprobe_measured_sample_rate_hertz", MetricType::gauge,
            "The rate the sample positions advanced at against the host's clock.", labels,
            numberAt(stats, {"measuredRate"}));
    set.add("echoprobe_sample_rate_error_ratio", MetricType::gauge,
            "The measured rate's error against the reported rate.", labels,
            scaled(numberAt(stats, {"rateErrorPpm"}), 1e-6));
    set.add("echoprobe_reset_requests_total", MetricType::counter, "Reset requests the driver sent.", labels,
            numberAt(stats, {"messages", "resetRequest"}));
}

// The loopback's round trip and integrity.
void addLatency(MetricSet& set, const Labels& runLabels, const json& latency) {
    if (!latency.is_object()) return;
    const Labels labels =
        with(runLabels, {{"pair", textAt(latency, {"output"}) + "-" + textAt(latency, {"input"})}});
    set.add("echoprobe_round_trip_samples", MetricType::gauge,
            "The measured round trip from output to input (median over the bursts).", labels,
            numberAt(latency, {"measuredSamples"}));
    set.add("echoprobe_round_trip_seconds", MetricType::gauge, "The measured round trip in seconds.", labels,
            scaled(numberAt(latency, {"measuredMs"}), 1e-3));
    set.add("echoprobe_round_trip_precise_samples", MetricType::gauge,
            "The round trip to a fraction of a sample (mean over the fitted bursts).", labels,
            numberAt(latency, {"precise", "samples"}));
    set.add("echoprobe_unreported_latency_samples", MetricType::gauge,
            "How much of the round trip the driver's reported latencies leave out.", labels,
            numberAt(latency, {"unreportedSamples"}));
    set.add("echoprobe_loop_glitches_total", MetricType::counter, "Glitches in the audio that came back.",
            labels, numberAt(latency, {"glitches"}));
    set.add("echoprobe_bursts_missing_total", MetricType::counter,
            "Measurement bursts that did not come back once the loop was found.", labels,
            numberAt(latency, {"burstsMissing"}));
}

// The starts of /starts (of a run, or of a sweep's setting): each start's figures under
// its number, then how many starts each kind of failure struck.
void addStarts(MetricSet& set, const Labels& labels, const json& node) {
    const json& starts = nodeAt(node, {"starts"});
    if (!starts.is_array()) return;
    for (const json& row : starts) {
        const Labels start = with(labels, {{"start", textAt(row, {"start"})}});
        addVerdict(set, start, textAt(row, {"verdict"}));
        set.add("echoprobe_start_round_trip_samples", MetricType::gauge,
                "The round trip one stream start measured (median over its bursts).", start,
                numberAt(row, {"latency", "measuredSamples"}));
        set.add("echoprobe_start_first_callback_seconds", MetricType::gauge,
                "From the return of a stream start to its first buffer switch.", start,
                scaled(numberAt(row, {"firstCallbackMs"}), 1e-3));
        set.add("echoprobe_start_late_switches_total", MetricType::counter,
                "Buffer switches of a stream start more than 1.5 periods after the one before.", start,
                numberAt(row, {"stats", "late"}));
        set.add("echoprobe_start_missing_switches_total", MetricType::counter,
                "Buffer switches a stream start's length called for that did not come.", start,
                numberAt(row, {"missingSwitches"}));
    }
    const json& summary = nodeAt(node, {"startsSummary"});
    set.add("echoprobe_starts_total", MetricType::counter, "Stream starts made.", labels,
            numberAt(summary, {"made"}));
    set.add("echoprobe_start_round_trip_changed", MetricType::gauge,
            "1 when the round trip differed between stream starts, 0 when it did not.", labels,
            numberAt(summary, {"roundTripChanged"}));
    const json& failures = nodeAt(summary, {"failures"});
    if (failures.is_array())
        for (const json& failure : failures)
            set.add("echoprobe_start_failures", MetricType::gauge, "Stream starts a kind of failure struck.",
                    with(labels, {{"kind", textAt(failure, {"kind"})}}), numberAt(failure, {"count"}));
}

void addRecording(MetricSet& set, const Labels& labels, const json& recording) {
    if (!recording.is_object()) return;
    set.add("echoprobe_recorded_frames_total", MetricType::counter, "Frames written to the recording.",
            labels, numberAt(recording, {"frames"}));
    set.add("echoprobe_recording_lost_frames_total", MetricType::counter,
            "Frames the recording could not keep up with.", labels, numberAt(recording, {"lostFrames"}));
}

void addRun(MetricSet& set, const Labels& labels, const json& document) {
    set.add("echoprobe_run_duration_seconds", MetricType::gauge, "How long the driver ran, start to stop.",
            labels, numberAt(document, {"run", "seconds"}));
    for (const char* call : {"start", "stop", "disposeBuffers"})
        set.add("echoprobe_driver_call_seconds", MetricType::gauge,
                "How long the driver's start, stop and disposeBuffers took.", with(labels, {{"call", call}}),
                numberAt(document, {"run", "calls", call}));
    set.add("echoprobe_machine_stalls_total", MetricType::counter,
            "Stalls of the machine probe while the run went on.", labels,
            numberAt(document, {"machine", "stalls"}));
}

void addReportedLatencies(MetricSet& set, const Labels& labels, const json& figures) {
    for (const char* direction : {"input", "output"})
        set.add("echoprobe_reported_latency_samples", MetricType::gauge,
                "The driver's reported input and output latency.", with(labels, {{"direction", direction}}),
                numberAt(figures, {"latencies", direction}));
}

// A measured run of one driver: its labels carry the rate and buffer size it ran at.
void addMeasured(MetricSet& set, RunMode mode, const json& document, double unixSeconds) {
    const Labels labels = with(driverLabels(mode, nodeAt(document, {"driver"})),
                               {{"rate", textAt(document, {"figures", "sampleRate"})},
                                {"buffer", textAt(document, {"figures", "bufferSizes", "actual"})}});
    if (mode != RunMode::everyDriver)
        set.add("echoprobe_run_timestamp_seconds", MetricType::gauge,
                "When the run's metrics were written, in seconds since 1970.", labels, unixSeconds);
    addVerdict(set, labels, textAt(document, {"verdict"}));
    addRun(set, labels, document);
    addReportedLatencies(set, labels, nodeAt(document, {"figures"}));
    addStats(set, labels, nodeAt(document, {"stats"}));
    addLatency(set, labels, nodeAt(document, {"latency"}));
    addRecording(set, labels, nodeAt(document, {"recording"}));
    addStarts(set, labels, document);
}

// A sweep: the whole sweep's verdict, then every setting with its rate and buffer size.
void addSweep(MetricSet& set, RunMode mode, const json& document, double unixSeconds) {
    const Labels labels = driverLabels(mode, nodeAt(document, {"driver"}));
    if (mode != RunMode::everyDriver)
        set.add("echoprobe_run_timestamp_seconds", MetricType::gauge,
                "When the run's metrics were written, in seconds since 1970.", labels, unixSeconds);
    addVerdict(set, labels, textAt(document, {"verdict"}));
    std::map<std::string, double> smallestPassing;
    const json& rows = nodeAt(document, {"sweep"});
    if (!rows.is_array()) return;
    for (const json& row : rows) {
        const std::string rate = textAt(row, {"rate"});
        const Labels setting = with(labels, {{"rate", rate}, {"buffer", textAt(row, {"buffer"})}});
        set.add("echoprobe_setting_accepted", MetricType::gauge,
                "1 when the driver took the sweep's setting, 0 when it refused it.", setting,
                numberAt(row, {"accepted"}));
        addVerdict(set, setting, textAt(row, {"verdict"}));
        addStats(set, setting, nodeAt(row, {"stats"}));
        addLatency(set, setting, nodeAt(row, {"latency"}));
        addStarts(set, setting, row);
        const std::optional<double> buffer = numberAt(row, {"buffer"});
        if (buffer && textAt(row, {"verdict"}) == "pass" &&
            (!smallestPassing.count(rate) || *buffer < smallestPassing[rate]))
            smallestPassing[rate] = *buffer;
    }
    for (const auto& [rate, buffer] : smallestPassing)
        set.add("echoprobe_smallest_passing_buffer_samples", MetricType::gauge,
                "The smallest buffer size that passed at a rate.", with(labels, {{"rate", rate}}), buffer);
}

void addChecks(MetricSet& set, const Labels& labels, const json& checks) {
    if (!checks.is_array()) return;
    for (const json& check : checks) {
        const Labels checkLabels = with(labels, {{"check", textAt(check, {"id"})}});
        const std::string result = textAt(check, {"result"});
        for (const char* each : resultWords)
            set.add(
                "echoprobe_check_result", MetricType::gauge,
                "A conformance check's result: 1 for its word (pass, fail, warn, skip), 0 for the others.",
                with(checkLabels, {{"result", each}}), result == each ? 1.0 : 0.0);
        set.add("echoprobe_check_duration_seconds", MetricType::gauge, "How long a conformance check took.",
                checkLabels, numberAt(check, {"seconds"}));
    }
}

void addConformance(MetricSet& set, const json& document, double unixSeconds) {
    const json& section = nodeAt(document, {"conformance"});
    const json& drivers = nodeAt(section, {"drivers"});
    const Labels labels =
        driverLabels(RunMode::conformance, drivers.is_array() ? json() : nodeAt(document, {"driver"}));
    set.add("echoprobe_run_timestamp_seconds", MetricType::gauge,
            "When the run's metrics were written, in seconds since 1970.", labels, unixSeconds);
    addVerdict(set, labels, textAt(document, {"verdict"}));
    if (!drivers.is_array()) {
        addReportedLatencies(set, labels, nodeAt(document, {"figures"}));
        addChecks(set, labels, nodeAt(section, {"checks"}));
        return;
    }
    for (const json& driver : drivers) {
        const Labels driverSet = driverLabels(RunMode::conformance, driver);
        addVerdict(set, driverSet, textAt(driver, {"verdict"}));
        addChecks(set, driverSet, nodeAt(driver, {"checks"}));
    }
}

} // namespace

std::string metricsText(const json& document, RunMode mode, double unixSeconds) {
    MetricSet set;
    switch (mode) {
    case RunMode::measured:
        addMeasured(set, mode, document, unixSeconds);
        break;
    case RunMode::sweep:
        addSweep(set, mode, document, unixSeconds);
        break;
    case RunMode::conformance:
        addConformance(set, document, unixSeconds);
        break;
    case RunMode::everyDriver: {
        const Labels labels = {{"mode", modeName(mode)}};
        set.add("echoprobe_run_timestamp_seconds", MetricType::gauge,
                "When the run's metrics were written, in seconds since 1970.", labels, unixSeconds);
        addVerdict(set, labels, textAt(document, {"verdict"}));
        const json& runs = nodeAt(document, {"runs"});
        if (runs.is_array())
            for (const json& run : runs) {
                if (nodeAt(run, {"sweep"}).is_array())
                    addSweep(set, mode, run, unixSeconds);
                else
                    addMeasured(set, mode, run, unixSeconds);
            }
        break;
    }
    }
    // With /baseline: how many changes since the baseline were for the worse, for the better.
    const json& changes = nodeAt(document, {"baseline", "changes"});
    if (changes.is_array())
        for (const bool worse : {true, false}) {
            double count = 0;
            for (const json& change : changes)
                if (nodeAt(change, {"worse"}) == worse) ++count;
            set.add("echoprobe_baseline_changes", MetricType::gauge,
                    "Changes since the baseline run, for the worse (worse=true) or the better (worse=false).",
                    {{"mode", modeName(mode)}, {"worse", worse ? "true" : "false"}}, count);
        }
    return set.text();
}

} // namespace lab
