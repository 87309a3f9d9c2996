#include "measure/runDocument.h"

#include <cmath>

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
// 6250.399999999999.
double rounded(double value, int decimals) {
    if (!std::isfinite(value)) return 0.0;
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

json optionalNumber(const std::optional<double>& value, int decimals) {
    return value ? json(rounded(*value, decimals)) : json(nullptr);
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

RunDocument::RunDocument() : f_json(json::object()) {}

void RunDocument::setTool(const std::string& version, int bits) {
    f_json["tool"] = {{"name", "echoprobe"}, {"version", version}, {"bits", bits}};
}

void RunDocument::setDriver(const DriverFacts& driver) {
    json section = {{"index", driver.index}, {"description", driver.description}, {"clsid", driver.clsid}};
    section["name"] = driver.name ? json(*driver.name) : json(nullptr);
    section["version"] = driver.version ? json(*driver.version) : json(nullptr);
    section["errorText"] = driver.errorText ? json(*driver.errorText) : json(nullptr);
    f_json["driver"] = section;
}

void RunDocument::setFigures(const FigureFacts& f) {
    f_json["figures"] = {{"asioVersion", f.asioVersion},
                         {"inputs", f.inputs},
                         {"outputs", f.outputs},
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

void RunDocument::setRun(double seconds, const std::string& stoppedBy) {
    f_json["run"] = {{"seconds", rounded(seconds, 3)}, {"stoppedBy", stoppedBy}};
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

    f_json["stats"] = {
        {"switches", s.switches},
        {"expectedSwitches", s.expectedSwitches},
        {"gaps", s.gaps},
        {"samplesLost", s.samplesLost},
        {"repeats", s.repeats},
        {"backwards", s.backwards},
        {"shortSteps", s.shortSteps},
        {"halfErrors", s.halfErrors},
        {"intervalUs",
         {{"min", rounded(s.intervalUs.min, 1)},
          {"mean", rounded(s.intervalUs.mean, 1)},
          {"max", rounded(s.intervalUs.max, 1)},
          {"p99", rounded(s.intervalUs.p99, 1)}}},
        {"late", s.intervalUs.late},
        {"hostUs", {{"mean", rounded(s.hostUs.mean, 1)}, {"max", rounded(s.hostUs.max, 1)}}},
        {"hostLoad", rounded(s.hostLoad, 5)},
        {"measuredRate", optionalNumber(s.measuredRate, 2)},
        {"rateErrorPpm", optionalNumber(s.rateErrorPpm, 1)},
        {"messages", messages},
        {"outputReady",
         {{"wanted", m.outputReadyWanted},
          {"calls", m.outputReadyCalls},
          {"calledEverySwitch", m.outputReadyWanted ? m.outputReadyCalls == s.switches : m.outputReadyCalls == 0}}},
    };
}

void RunDocument::setLatency(const LatencyFacts& l) {
    const LatencyResult& r = l.result;
    const bool found = r.burstsFound > 0;
    auto samples = [found](int64_t value) { return found ? json(value) : json(nullptr); };
    auto milliseconds = [found, &l](int64_t value) {
        return found && l.sampleRate > 0 ? json(rounded(1000.0 * static_cast<double>(value) / l.sampleRate, 3))
                                         : json(nullptr);
    };
    f_json["latency"] = {
        {"output", l.output},
        {"input", l.input},
        {"bursts", r.burstsFound},
        {"burstsSent", r.burstsSent},
        {"measuredSamples", samples(r.lagMedian)},
        {"min", samples(r.lagMin)},
        {"max", samples(r.lagMax)},
        {"measuredMs", milliseconds(r.lagMedian)},
        {"minMs", milliseconds(r.lagMin)},
        {"maxMs", milliseconds(r.lagMax)},
        {"consistent", r.lagConsistent},
        {"reportedSamples", l.reportedSamples},
        {"unreportedSamples", found ? json(r.lagMedian - l.reportedSamples) : json(nullptr)},
        {"gainDb", found ? json(rounded(r.gainDb, 2)) : json(nullptr)},
        {"inverted", found ? json(r.inverted) : json(nullptr)},
        {"glitches", r.integrityMeasured ? json(r.glitches) : json(nullptr)},
        {"glitchPositions", r.glitchPositions},
    };
}

void RunDocument::setRecording(const RecordingFacts& r) {
    f_json["recording"] = {{"path", r.path},
                           {"frames", r.frames},
                           {"driverGapFrames", r.driverGapFrames},
                           {"lostFrames", r.lostFrames},
                           {"overlapFrames", r.overlapFrames},
                           {"full", r.full},
                           {"written", r.written},
                           {"error", r.error.empty() ? json(nullptr) : json(r.error)}};
}

void RunDocument::setVerdict(const Verdict& verdict) {
    f_json["verdict"] = verdict.pass ? "pass" : "fail";
    f_json["reasons"] = verdict.reasons;
}

void RunDocument::setFailure(const std::string& line) { f_json["failure"] = line; }

void RunDocument::setSection(const std::string& key, json value) { f_json[key] = std::move(value); }

std::string RunDocument::text() const {
    return f_json.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace measure
