#include "report/fromDocument.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "report/markup.h"

namespace report {

namespace {

using json = nlohmann::json;

// The value at `key` when it is there and of the wanted kind.
template <class T> std::optional<T> valueAt(const json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    if constexpr (std::is_same_v<T, std::string>) {
        if (!found->is_string()) return std::nullopt;
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!found->is_boolean()) return std::nullopt;
    } else {
        if (!found->is_number()) return std::nullopt;
    }
    return found->get<T>();
}

template <class T> T valueOr(const json& object, const char* key, T otherwise) {
    return valueAt<T>(object, key).value_or(otherwise);
}

const json& member(const json& object, const char* key) {
    static const json none;
    if (!object.is_object()) return none;
    const auto found = object.find(key);
    return found == object.end() ? none : *found;
}

std::optional<Outcome> outcomeOf(const json& word) {
    if (!word.is_string()) return std::nullopt;
    for (Outcome outcome :
         {Outcome::pass, Outcome::fail, Outcome::inconclusive, Outcome::error, Outcome::interrupted})
        if (word.get<std::string>() == outcomeName(outcome)) return outcome;
    return std::nullopt;
}

std::vector<std::string> texts(const json& list) {
    std::vector<std::string> result;
    if (list.is_array())
        for (const json& item : list)
            if (item.is_string()) result.push_back(item.get<std::string>());
    return result;
}

void takeDriver(const json& document, ReportData& data) {
    const json& driver = member(document, "driver");
    if (!valueAt<int32_t>(driver, "index")) return;
    DriverFacts facts;
    facts.index = valueOr<int32_t>(driver, "index", 0);
    facts.description = valueOr<std::string>(driver, "description", "");
    facts.clsid = valueOr<std::string>(driver, "clsid", "");
    facts.name = valueAt<std::string>(driver, "name");
    facts.version = valueAt<int32_t>(driver, "version");
    facts.errorText = valueAt<std::string>(driver, "errorText");
    if (facts.errorText && facts.errorText->empty()) facts.errorText.reset();
    data.driver = facts;
}

void takeFigures(const json& document, ReportData& data) {
    const json& figures = member(document, "figures");
    if (!valueAt<int32_t>(figures, "asioVersion")) return;
    const json& sizes = member(figures, "bufferSizes");
    const json& latencies = member(figures, "latencies");
    DriverFigures facts;
    facts.asioVersion = valueOr<int32_t>(figures, "asioVersion", 0);
    facts.inputs = valueOr<int32_t>(figures, "inputs", 0);
    facts.outputs = valueOr<int32_t>(figures, "outputs", 0);
    facts.bufferMin = valueOr<int32_t>(sizes, "min", 0);
    facts.bufferMax = valueOr<int32_t>(sizes, "max", 0);
    facts.bufferPreferred = valueOr<int32_t>(sizes, "preferred", 0);
    facts.bufferActual = valueOr<int32_t>(sizes, "actual", 0);
    facts.granularity = valueOr<int32_t>(sizes, "granularity", 0);
    facts.sampleRate = valueOr<double>(figures, "sampleRate", 0.0);
    facts.inputLatency = valueOr<int32_t>(latencies, "input", 0);
    facts.outputLatency = valueOr<int32_t>(latencies, "output", 0);
    data.figures = facts;

    const json& channels = member(document, "channels");
    if (!channels.is_array()) return;
    for (const json& channel : channels) {
        ChannelFacts facts;
        facts.input = valueOr<std::string>(channel, "direction", "input") == "input";
        // The document numbers channels from 0, as the driver does; people count from 1.
        facts.number = valueOr<int32_t>(channel, "channel", 0) + 1;
        facts.name = valueOr<std::string>(channel, "name", "");
        facts.sampleType = valueOr<std::string>(channel, "typeText", "");
        facts.group = valueOr<int32_t>(channel, "group", 0);
        facts.active = valueOr<bool>(channel, "active", false);
        data.channels.push_back(facts);
    }
}

std::vector<std::optional<double>> levels(const json& list) {
    std::vector<std::optional<double>> out;
    if (!list.is_array()) return out;
    for (const json& value : list)
        out.push_back(value.is_number() ? std::optional<double>(value.get<double>()) : std::nullopt);
    return out;
}

// A channel map's inputs, pairs and findings.
void takeChannelMap(const json& latency, ReportData& data) {
    ChannelMapData facts;
    facts.inputs = valueOr<int32_t>(latency, "inputs", 0);
    facts.outputs = valueOr<int32_t>(latency, "outputs", 0);
    facts.reportedSamples = valueOr<int64_t>(latency, "reportedSamples", 0);
    const json& inputs = member(member(latency, "map"), "inputs");
    if (inputs.is_array())
        for (const json& input : inputs) {
            MapInput one;
            one.input = valueOr<int32_t>(input, "input", 0);
            one.expectedOutput = valueOr<int32_t>(input, "expectedOutput", 0);
            one.heardOutput = valueOr<int32_t>(input, "heardOutput", 0);
            one.levelsDb = levels(member(input, "levelsDb"));
            one.floorsDb = levels(member(input, "floorsDb"));
            facts.map.push_back(std::move(one));
        }
    const json& pairs = member(latency, "pairs");
    if (pairs.is_array())
        for (const json& pair : pairs) {
            MapPair one;
            one.output = valueOr<int32_t>(pair, "output", 0);
            one.input = valueOr<int32_t>(pair, "input", 0);
            const std::optional<std::string> precise = valueAt<std::string>(member(pair, "precise"), "text");
            const std::optional<double> tenth = valueAt<double>(pair, "roundTrip");
            one.roundTrip = precise ? *precise : (tenth ? compactNumber(*tenth, 7) : std::string("-"));
            one.roundTripMs = valueAt<double>(pair, "roundTripMs");
            one.gainDb = valueOr<double>(pair, "gainDb", 0.0);
            one.inverted = valueOr<bool>(pair, "inverted", false);
            one.glitches = valueOr<int64_t>(pair, "glitches", 0);
            one.expected = valueOr<bool>(pair, "expected", false);
            facts.pairs.push_back(std::move(one));
        }
    const json& findings = member(latency, "findings");
    if (findings.is_array())
        for (const json& finding : findings)
            if (finding.is_string()) facts.findings.push_back(finding.get<std::string>());
    data.channelMap = std::move(facts);
}

// The round trip's figures; the program adds the plots' data.
void takeLatency(const json& document, ReportData& data) {
    const json& latency = member(document, "latency");
    if (!latency.is_object()) return;
    if (valueAt<std::string>(latency, "channels") == std::optional<std::string>("all")) {
        takeChannelMap(latency, data);
        return;
    }
    LatencyData facts;
    facts.sampleRate = valueOr<double>(member(document, "figures"), "sampleRate", 0.0);
    facts.output = valueOr<int32_t>(latency, "output", 0);
    facts.input = valueOr<int32_t>(latency, "input", 0);
    facts.roundTripSamples = valueAt<double>(latency, "measuredSamples");
    facts.roundTripMs = valueAt<double>(latency, "measuredMs");
    facts.reportedSamples = valueOr<int64_t>(latency, "reportedSamples", 0);
    facts.unreportedSamples = valueAt<double>(latency, "unreportedSamples");
    facts.gainDb = valueOr<double>(latency, "gainDb", 0.0);
    facts.inverted = valueOr<bool>(latency, "inverted", false);
    facts.glitches = valueOr<int64_t>(latency, "glitches", 0);
    facts.foundLag = facts.roundTripSamples.value_or(0.0);
    data.latency = facts;
}

void takeSweep(const json& document, ReportData& data) {
    const json& rows = member(document, "sweep");
    if (!rows.is_array()) return;
    for (const json& row : rows) {
        SweepRow facts;
        facts.rate = valueOr<double>(row, "rate", 0.0);
        facts.buffer = valueOr<int32_t>(row, "buffer", 0);
        facts.accepted = valueOr<bool>(row, "accepted", false);
        facts.refusal = valueOr<std::string>(row, "refusal", "");
        const json& reported = member(row, "reportedLatency");
        facts.inputLatency = valueOr<int32_t>(reported, "input", 0);
        facts.outputLatency = valueOr<int32_t>(reported, "output", 0);
        const json& latency = member(row, "latency");
        facts.roundTripSamples = valueAt<double>(latency, "measuredSamples");
        facts.roundTripMs = valueAt<double>(latency, "measuredMs");
        facts.unreportedSamples = valueAt<double>(latency, "unreportedSamples");
        const json& stats = member(row, "stats");
        facts.switches = valueOr<uint64_t>(stats, "switches", 0);
        facts.expectedSwitches = valueOr<uint64_t>(stats, "expectedSwitches", 0);
        facts.lateSwitches = valueOr<uint64_t>(stats, "late", 0);
        facts.longestIntervalUs = valueOr<double>(member(stats, "intervalUs"), "max", 0.0);
        facts.hostLoad = valueOr<double>(stats, "hostLoad", 0.0);
        facts.verdict = outcomeOf(member(row, "verdict"));
        facts.reasons = texts(member(row, "reasons"));
        data.sweep.push_back(facts);
    }
}

void takeStarts(const json& document, ReportData& data) {
    const json& rows = member(document, "starts");
    if (!rows.is_array()) return;
    StartsData facts;
    for (const json& row : rows) {
        StartRow start;
        start.start = valueOr<int32_t>(row, "start", 0);
        start.firstCallbackMs = valueAt<double>(row, "firstCallbackMs");
        start.roundTripSamples = valueAt<double>(member(row, "latency"), "measuredSamples");
        start.verdict = outcomeOf(member(row, "verdict"));
        start.reasons = texts(member(row, "reasons"));
        facts.starts.push_back(start);
    }
    const json& summary = member(document, "startsSummary");
    facts.spread = valueOr<std::string>(summary, "spread", "");
    if (const json& failures = member(summary, "failures"); failures.is_array()) {
        const int32_t made = valueOr<int32_t>(summary, "made", 0);
        for (const json& failure : failures)
            facts.failures.push_back(valueOr<std::string>(failure, "kind", "") + ": " +
                                     std::to_string(valueOr<int32_t>(failure, "count", 0)) + " of " +
                                     std::to_string(made));
    }
    data.starts = facts;
}

// The probe's findings: rates by name ("44100"), clock sources, buffer sizes and features.
void takeProbe(const json& document, ReportData& data) {
    const json& probe = member(document, "probe");
    if (!probe.is_object()) return;
    ProbeFacts facts;
    if (const json& rates = member(probe, "rates"); rates.is_object())
        for (const auto& [name, possible] : rates.items())
            if (possible.is_boolean())
                facts.rates.push_back({std::strtod(name.c_str(), nullptr), possible.get<bool>()});
    std::sort(facts.rates.begin(), facts.rates.end());
    if (const json& clocks = member(probe, "clockSources"); clocks.is_array()) {
        facts.clocks.emplace();
        for (const json& clock : clocks)
            facts.clocks->push_back(
                {valueOr<int32_t>(clock, "index", 0), valueOr<std::string>(clock, "name", ""),
                 valueOr<int32_t>(clock, "channel", -1), valueOr<int32_t>(clock, "group", -1),
                 valueOr<bool>(clock, "current", false)});
    }
    if (const json& sizes = member(probe, "bufferSizes"); sizes.is_object()) {
        ProbeFacts::Sizes rule;
        rule.min = valueOr<int32_t>(sizes, "min", 0);
        rule.max = valueOr<int32_t>(sizes, "max", 0);
        rule.preferred = valueOr<int32_t>(sizes, "preferred", 0);
        rule.granularity = valueOr<int32_t>(sizes, "granularity", 0);
        rule.legalCount = valueOr<uint64_t>(sizes, "legalCount", 0);
        const json& legal = member(sizes, "legal");
        if (legal.is_string()) rule.legal = legal.get<std::string>();
        if (legal.is_array())
            for (const json& size : legal)
                if (size.is_number_integer())
                    rule.legal += (rule.legal.empty() ? "" : ", ") + std::to_string(size.get<int64_t>());
        rule.createdMin = valueAt<bool>(sizes, "createdMin");
        rule.createdMax = valueAt<bool>(sizes, "createdMax");
        facts.sizes = rule;
    }
    const json& features = member(probe, "features");
    if (const json& future = member(features, "future"); future.is_object())
        for (const auto& [name, answered] : future.items())
            if (answered.is_boolean()) facts.future.push_back({name, answered.get<bool>()});
    if (const json& asked = member(features, "messagesAsked"); asked.is_object())
        for (const auto& [name, count] : asked.items())
            if (count.is_number() && count.get<double>() >= 0)
                facts.messagesAsked.push_back({name, count.get<uint64_t>()});
    facts.outputReady = valueAt<bool>(features, "outputReady");
    data.probe = std::move(facts);
}

// When a run that crashed or hung ended (written by its supervising parent).
void takeFailureMoment(const json& document, ReportData& data) {
    const json& moment = member(document, "failureAt");
    if (!moment.is_object()) return;
    FailureMoment facts;
    facts.seconds = valueAt<double>(moment, "seconds");
    facts.switchesCounted = valueAt<uint64_t>(moment, "switchesCounted");
    facts.countedAtSeconds = valueAt<double>(moment, "countedAtSeconds");
    if (const json& setting = member(moment, "sweepSetting"); setting.is_object())
        facts.setting =
            SweepSetting{valueOr<double>(setting, "rate", 0.0), valueOr<int32_t>(setting, "buffer", 0),
                         valueOr<int32_t>(setting, "number", 0), valueOr<int32_t>(setting, "count", 0)};
    data.failureAt = facts;
}

std::vector<ConformanceCheck> checksOf(const json& list) {
    std::vector<ConformanceCheck> checks;
    if (!list.is_array()) return checks;
    for (const json& check : list) {
        ConformanceCheck facts;
        facts.id = valueOr<std::string>(check, "id", "");
        const std::string result = valueOr<std::string>(check, "result", "fail");
        facts.result = result == "pass"   ? CheckResult::pass
                       : result == "warn" ? CheckResult::warn
                       : result == "skip" ? CheckResult::skip
                                          : CheckResult::fail;
        facts.detail = valueOr<std::string>(check, "detail", "");
        facts.seconds = valueOr<double>(check, "seconds", 0.0);
        facts.faults = texts(member(check, "faults"));
        checks.push_back(facts);
    }
    return checks;
}

void takeConformance(const json& document, ReportData& data) {
    const json& conformance = member(document, "conformance");
    if (!conformance.is_object()) return;
    if (member(conformance, "drivers").is_array()) {
        for (const json& driver : member(conformance, "drivers")) {
            ConformanceDriver facts;
            facts.driver = std::to_string(valueOr<int32_t>(driver, "index", 0)) + ": " +
                           valueOr<std::string>(driver, "description", "");
            facts.checks = checksOf(member(driver, "checks"));
            facts.index = valueOr<int32_t>(driver, "index", 0);
            facts.failure = valueAt<std::string>(driver, "failure");
            data.conformance.push_back(facts);
        }
        return;
    }
    ConformanceDriver facts;
    facts.driver = data.driver ? data.driver->description : std::string();
    facts.checks = checksOf(member(conformance, "checks"));
    data.conformance.push_back(facts);
}

// A change's value as the console shows it.
std::string changeValue(const json& value, const json& unit) {
    if (value.is_number())
        return compactNumber(value.get<double>()) + (unit.is_string() ? " " + unit.get<std::string>() : "");
    if (value.is_string()) return value.get<std::string>();
    return "none";
}

void takeBaseline(const json& document, ReportData& data) {
    const json& section = member(document, "baseline");
    if (!section.is_object()) return;
    BaselineData baseline;
    baseline.file = valueOr<std::string>(section, "file", "");
    baseline.date = valueOr<std::string>(section, "date", "");
    const json& changes = member(section, "changes");
    if (changes.is_array())
        for (const json& change : changes) {
            const json& worse = member(change, "worse");
            const json& unit = member(change, "unit");
            baseline.changes.push_back(
                {valueOr<std::string>(change, "what", ""), changeValue(member(change, "before"), unit),
                 changeValue(member(change, "after"), unit),
                 worse.is_boolean() ? std::optional<bool>(worse.get<bool>()) : std::nullopt});
        }
    baseline.lacks = texts(member(section, "lacks"));
    data.baseline = baseline;
}

} // namespace

ReportData reportDataFromDocument(const json& document) {
    ReportData data;
    const json& tool = member(document, "tool");
    data.tool.version = valueOr<std::string>(tool, "version", "");
    data.tool.bits = valueOr<int>(tool, "bits", 0);
    takeDriver(document, data);
    takeFigures(document, data);
    data.verdict = outcomeOf(member(document, "verdict"));
    data.reasons = texts(member(document, "reasons"));
    if (const std::optional<std::string> failure = valueAt<std::string>(document, "failure");
        failure && data.reasons.empty())
        data.reasons.push_back(*failure);
    data.runSeconds = valueAt<double>(member(document, "run"), "seconds");
    data.machineProbed = valueAt<bool>(member(document, "machine"), "probed");
    takeFailureMoment(document, data);
    // A run that crashed or hung lasted until it ended.
    if (data.failureAt && data.failureAt->seconds) data.runSeconds = data.failureAt->seconds;
    takeLatency(document, data);
    takeSweep(document, data);
    takeStarts(document, data);
    takeProbe(document, data);
    takeConformance(document, data);
    takeBaseline(document, data);
    return data;
}

void addBaselineSeries(BaselineData& baseline, const json& baselineDocument) {
    ReportData earlier = reportDataFromDocument(baselineDocument);
    baseline.sweep = std::move(earlier.sweep);
    if (earlier.starts) baseline.starts = std::move(earlier.starts->starts);
    if (earlier.latency) baseline.roundTripSamples = earlier.latency->roundTripSamples;
}

} // namespace report
