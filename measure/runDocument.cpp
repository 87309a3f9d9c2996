#include "measure/runDocument.h"

#include <cmath>

#include "measure/channelMap/mapJson.h"
#include "measure/schemaVersion.h"

namespace measure {

namespace {

using json = nlohmann::json;

// The five messages every summary names, whether or not they came.
struct NamedMessage {
    int32_t selector;
    const char* key;
};
constexpr NamedMessage namedMessages[] = {
    {3, "resetRequest"}, {5, "resyncRequest"}, {6, "latenciesChanged"}, {4, "bufferSizeChange"}, {15, "overload"},
};

// A figure rounded to a sensible number of decimals, so the document shows 6250.4, not
// 6250.399999999999; null when it is not a number at all.
json number(double value, int decimals) {
    if (!std::isfinite(value)) return nullptr;
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

json optionalNumber(const std::optional<double>& value, int decimals) {
    return value ? number(*value, decimals) : json(nullptr);
}

template <class T> json optional(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

json nullDriver() {
    return {{"index", nullptr},     {"requestedIndex", nullptr}, {"description", nullptr}, {"clsid", nullptr},
            {"name", nullptr},      {"version", nullptr},        {"errorText", nullptr}};
}

json nullFigures() {
    return {{"asioVersion", nullptr},
            {"inputs", nullptr},
            {"outputs", nullptr},
            {"reportedInputs", nullptr},
            {"reportedOutputs", nullptr},
            {"bufferSizes",
             {{"min", nullptr}, {"max", nullptr}, {"preferred", nullptr}, {"actual", nullptr}, {"granularity", nullptr}}},
            {"sampleRate", nullptr},
            {"latencies", {{"input", nullptr}, {"output", nullptr}}}};
}

json nullStats() {
    json messages = {{"other", json::object()}, {"sampleRateChanged", nullptr}};
    for (const NamedMessage& named : namedMessages)
        messages[named.key] = nullptr;
    return {
        {"switches", nullptr},
        {"expectedSwitches", nullptr},
        {"gaps", nullptr},
        {"samplesLost", nullptr},
        {"repeats", nullptr},
        {"backwards", nullptr},
        {"shortSteps", nullptr},
        {"positionJumps", nullptr},
        {"halfErrors", nullptr},
        {"positionless", nullptr},
        {"intervalUs", {{"min", nullptr}, {"mean", nullptr}, {"max", nullptr}, {"p99", nullptr}}},
        {"late", nullptr},
        {"hostUs", {{"mean", nullptr}, {"max", nullptr}}},
        {"hostLoad", nullptr},
        {"measuredRate", nullptr},
        {"rateErrorPpm", nullptr},
        {"lostTime", {{"pauses", nullptr}, {"ms", nullptr}, {"list", json::array()}}},
        {"behindClock", {{"episodes", nullptr}, {"worstMs", nullptr}, {"list", json::array()}}},
        {"overlaps", nullptr},
        {"messages", messages},
        {"outputReady", {{"wanted", nullptr}, {"calls", nullptr}, {"calledEverySwitch", nullptr}}},
    };
}

} // namespace

std::string messageName(int32_t selector) {
    switch (selector) {
    case 1: return "selectorSupported";
    case 2: return "engineVersion";
    case 3: return "resetRequest";
    case 4: return "bufferSizeChange";
    case 5: return "resyncRequest";
    case 6: return "latenciesChanged";
    case 7: return "supportsTimeInfo";
    case 8: return "supportsTimeCode";
    case 10: return "supportsInputMonitor";
    case 15: return "overload";
    default: return "selector " + std::to_string(selector);
    }
}

RunDocument::RunDocument() : f_json(json::object()) {
    f_json["schemaVersion"] = schemaVersion;
    f_json["tool"] = {{"name", "echoprobe"}, {"version", nullptr}, {"bits", nullptr}};
    f_json["driver"] = nullDriver();
    f_json["figures"] = nullFigures();
    f_json["channels"] = json::array();
    f_json["notices"] = json::array();
    f_json["run"] = {{"seconds", nullptr},
                     {"stoppedBy", nullptr},
                     {"signal", nullptr},
                     {"calls", {{"start", nullptr}, {"stop", nullptr}, {"disposeBuffers", nullptr}}},
                     {"switchesAfterStop", nullptr}};
    f_json["stats"] = nullStats();
    f_json["machine"] = {{"probed", nullptr},
                         {"stalls", nullptr},
                         {"longestStallMs", nullptr},
                         {"lateSwitchesInStalls", nullptr},
                         {"lostTimeInStalls", nullptr},
                         {"missingSwitchesInStalls", nullptr},
                         {"behindClockInStalls", nullptr},
                         {"ownStalls", nullptr},
                         {"stallThresholdUs", nullptr},
                         {"notJudged", nullptr}};
    f_json["host"] = {{"lostSwitchRecords", nullptr}, {"lostInputBlocks", nullptr}, {"lostInputFrames", nullptr},
                      {"analysisMissing", nullptr}};
    for (const char* section : {"latency", "recording", "probe", "drivers", "conformance", "sweep", "runs"})
        f_json[section] = nullptr;
    f_json["failure"] = nullptr;
    f_json["failureAt"] = nullptr;
    f_json["verdict"] = nullptr;
    f_json["reasons"] = json::array();
}

void RunDocument::setTool(const std::string& version, int bits) {
    f_json["tool"] = {{"name", "echoprobe"}, {"version", version}, {"bits", bits}};
}

void RunDocument::setDriver(const DriverFacts& d) {
    f_json["driver"] = {{"index", optional(d.index)},       {"requestedIndex", d.requestedIndex},
                        {"description", optional(d.description)}, {"clsid", optional(d.clsid)},
                        {"name", optional(d.name)},         {"version", optional(d.version)},
                        {"errorText", optional(d.errorText)}};
}

void RunDocument::setFigures(const FigureFacts& f) {
    f_json["figures"] = {{"asioVersion", f.asioVersion},
                         {"inputs", f.inputs},
                         {"outputs", f.outputs},
                         {"reportedInputs", f.reportedInputs},
                         {"reportedOutputs", f.reportedOutputs},
                         {"bufferSizes",
                          {{"min", f.bufferMin},
                           {"max", f.bufferMax},
                           {"preferred", f.bufferPreferred},
                           {"actual", f.bufferActual},
                           {"granularity", f.granularity}}},
                         {"sampleRate", std::isfinite(f.sampleRate) ? json(f.sampleRate) : json(nullptr)},
                         {"latencies", {{"input", f.inputLatency}, {"output", f.outputLatency}}}};
}

void RunDocument::setChannels(const std::vector<ChannelFacts>& channels) {
    json list = json::array();
    for (const ChannelFacts& c : channels)
        list.push_back({{"index", c.index},
                        {"direction", c.input ? "input" : "output"},
                        {"channel", c.channel},
                        {"name", c.name},
                        {"type", c.type},
                        {"typeText", c.typeText},
                        {"active", c.active},
                        {"group", c.group}});
    f_json["channels"] = list;
}

void RunDocument::addNotice(const std::string& notice) { f_json["notices"].push_back(notice); }

void RunDocument::setRun(const RunFigures& run) {
    f_json["run"] = {{"seconds", number(run.seconds, 3)},
                     {"stoppedBy", run.stoppedBy},
                     {"signal", run.signal != 0 ? json(run.signal) : json(nullptr)},
                     {"calls",
                      {{"start", optionalNumber(run.calls.start, 3)},
                       {"stop", optionalNumber(run.calls.stop, 3)},
                       {"disposeBuffers", optionalNumber(run.calls.disposeBuffers, 3)}}},
                     {"switchesAfterStop", run.switchesAfterStop}};
}

void RunDocument::setStats(const SwitchSummary& s, const MessageFacts& m) {
    json messages = json::object();
    for (const NamedMessage& named : namedMessages) {
        auto found = m.bySelector.find(named.selector);
        messages[named.key] = found == m.bySelector.end() ? 0 : found->second;
    }
    json other = json::object();
    for (const auto& [selector, count] : m.bySelector) {
        bool named = false;
        for (const NamedMessage& n : namedMessages) named = named || n.selector == selector;
        if (!named) other[std::to_string(selector)] = count;
    }
    messages["other"] = other;
    messages["sampleRateChanged"] = m.rateChanges;

    json lostTime = json::array();
    for (const LostTimeAt& pause : s.lostTime)
        lostTime.push_back({{"atSeconds", number(pause.atSeconds, 3)}, {"ms", number(pause.ms, 1)}});
    json behind = json::array();
    for (const LostTimeAt& episode : s.behind)
        behind.push_back({{"atSeconds", number(episode.atSeconds, 3)}, {"ms", number(episode.ms, 1)}});
    auto interval = [&s](double value) { return s.intervalsKnown ? number(value, 1) : json(nullptr); };
    auto host = [&s](double value, int decimals) { return s.hostTimeKnown ? number(value, decimals) : json(nullptr); };
    f_json["stats"] = {
        {"switches", s.switches},
        {"expectedSwitches", s.expectedSwitches},
        {"gaps", s.gaps},
        {"samplesLost", s.samplesLost},
        {"repeats", s.repeats},
        {"backwards", s.backwards},
        {"shortSteps", s.shortSteps},
        {"positionJumps", s.positionJumps},
        {"halfErrors", s.halfErrors},
        {"positionless", s.positionless},
        {"intervalUs",
         {{"min", interval(s.intervalUs.min)},
          {"mean", interval(s.intervalUs.mean)},
          {"max", interval(s.intervalUs.max)},
          {"p99", interval(s.intervalUs.p99)}}},
        {"late", s.intervalsKnown ? json(s.intervalUs.late) : json(nullptr)},
        {"hostUs", {{"mean", host(s.hostUs.mean, 1)}, {"max", host(s.hostUs.max, 1)}}},
        {"hostLoad", host(s.hostLoad, 5)},
        {"measuredRate", optionalNumber(s.measuredRate, 2)},
        {"rateErrorPpm", optionalNumber(s.rateErrorPpm, 1)},
        {"lostTime", {{"pauses", s.lostTimePauses}, {"ms", number(s.lostTimeMs, 1)}, {"list", lostTime}}},
        {"behindClock",
         {{"episodes", s.behindEpisodes}, {"worstMs", number(s.behindWorstMs, 1)}, {"list", behind}}},
        {"overlaps", s.overlaps},
        {"messages", messages},
        {"outputReady",
         {{"wanted", m.outputReadyWanted},
          {"calls", m.outputReadyCalls},
          {"calledEverySwitch",
           m.outputReadyWanted ? m.outputReadyCalls == s.switches : m.outputReadyCalls == 0}}},
    };
}

void RunDocument::setMachine(const MachineFacts& m) {
    f_json["machine"] = {
        {"probed", m.probed},
        {"stalls", m.probed ? json(m.stalls) : json(nullptr)},
        {"longestStallMs", m.probed ? number(m.longestStallMs, 2) : json(nullptr)},
        {"lateSwitchesInStalls", m.probed ? json(m.lateSwitchesInStalls) : json(nullptr)},
        {"lostTimeInStalls", m.probed ? json(m.lostTimeInStalls) : json(nullptr)},
        {"missingSwitchesInStalls", m.probed ? json(m.missingSwitchesInStalls) : json(nullptr)},
        {"behindClockInStalls", m.probed ? json(m.behindInStalls) : json(nullptr)},
        {"ownStalls", m.probed ? json(m.ownStalls) : json(nullptr)},
        {"stallThresholdUs", m.stallThresholdUs > 0 ? number(m.stallThresholdUs, 1) : json(nullptr)},
        {"notJudged", m.notJudgedWhy.empty() ? json(nullptr) : json(m.notJudgedWhy)}};
}

void RunDocument::setHost(const HostFacts& h, uint64_t lostSwitchRecords) {
    f_json["host"] = {{"lostSwitchRecords", lostSwitchRecords},
                      {"lostInputBlocks", h.lostInputBlocks},
                      {"lostInputFrames", h.lostInputFrames},
                      {"analysisMissing", optional(h.analysisMissing)}};
}

void RunDocument::setLatency(const LatencyFacts& l) {
    const LatencyResult& r = l.result;
    const bool found = r.burstsFound > 0;
    const bool placed = found && !r.lagAmbiguous;
    auto samples = [placed](double value) { return placed ? number(value, 1) : json(nullptr); };
    auto milliseconds = [placed, &l](double value) {
        return placed && l.sampleRate > 0 ? number(1000.0 * value / l.sampleRate, 3) : json(nullptr);
    };
    f_json["latency"] = {
        {"output", l.output},
        {"input", l.input},
        {"bursts", r.burstsFound},
        {"burstsSent", r.burstsSent},
        {"burstsMissing", r.burstsMissing},
        {"measuredSamples", samples(r.lagMedian)},
        {"min", samples(r.lagMin)},
        {"max", samples(r.lagMax)},
        {"measuredMs", milliseconds(r.lagMedian)},
        {"minMs", milliseconds(r.lagMin)},
        {"maxMs", milliseconds(r.lagMax)},
        {"consistent", found ? json(r.lagConsistent) : json(nullptr)},
        {"ambiguous", found ? json(r.lagAmbiguous) : json(nullptr)},
        {"reportedSamples", l.reportedSamples},
        {"unreportedSamples", samples(r.lagMedian - double(l.reportedSamples))},
        {"gainDb", found ? number(r.gainDb, 2) : json(nullptr)},
        {"inverted", found ? json(r.inverted) : json(nullptr)},
        {"glitches", r.integrityMeasured || r.nonFiniteRuns > 0 ? json(r.glitches) : json(nullptr)},
        {"nonFiniteRuns", r.nonFiniteRuns},
        {"glitchPositions", r.glitchPositions},
        {"unknownSamples", r.unknownSamples},
        {"rebases", r.rebases},
    };
    // The round trip to a fraction of a sample, with its 95 % interval and trend.
    f_json["latency"]["precise"] =
        placed && r.precise.bursts > 0 ? preciseRoundTripJson(r.precise, l.sampleRate) : json(nullptr);
    // The report against the round trip: within, larger than it, or short by more than a buffer.
    const ReportedLatency reported{l.reportedSamples, l.bufferSize};
    f_json["latency"]["bufferSize"] = l.bufferSize;
    f_json["latency"]["reportCheck"] =
        placed ? json(reportCheckName(checkReport(reported, r.lagMedian))) : json(nullptr);
}

void RunDocument::setChannelMap(const ChannelMapFacts& map) {
    f_json["latency"] = channelMapJson(map);
}

json jsonNumber(double value, int decimals) {
    return number(value, decimals);
}

json preciseRoundTripJson(const RoundTripFigures& p, double sampleRate) {
    return {{"samples", number(p.mean, 4)},
            {"halfWidth95", number(p.halfWidth95, 4)},
            {"text", roundTripText(p)},
            {"spread", number(p.spread, 4)},
            {"change", number(p.change, 4)},
            {"changeHalfWidth95", number(p.changeHalfWidth95, 4)},
            {"changing", p.changing},
            {"bursts", p.bursts},
            {"bandHz", {number(fitBandLow * sampleRate, 0), number(fitBandHigh * sampleRate, 0)}}};
}

void RunDocument::setRecording(const RecordingFacts& r) {
    f_json["recording"] = {{"path", r.path},
                           {"channels", r.channels},
                           {"channelsLeftOut", r.channelsLeftOut},
                           {"frames", r.frames},
                           {"driverGapFrames", r.driverGapFrames},
                           {"lostFrames", r.lostFrames},
                           {"overlapFrames", r.overlapFrames},
                           {"rebases", r.rebases},
                           {"framesNotWritten", r.framesNotWritten},
                           {"rf64", r.rf64},
                           {"full", r.full},
                           {"written", r.written},
                           {"error", r.error.empty() ? json(nullptr) : json(r.error)}};
}

void RunDocument::setVerdict(const Verdict& verdict) {
    f_json["verdict"] = verdictName(verdict.word);
    f_json["reasons"] = verdict.reasons;
}

void RunDocument::setFailure(const std::string& line) { f_json["failure"] = line; }

void RunDocument::setSection(const std::string& key, json value) { f_json[key] = std::move(value); }

std::string RunDocument::text() const {
    return f_json.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace measure
