#include "conform/caseResult.h"

#include <nlohmann/json.hpp>

namespace conform {

using json = nlohmann::json;

namespace {

json figuresJson(const measure::FigureFacts& f) {
    return {{"asioVersion", f.asioVersion},
            {"inputs", f.inputs},
            {"outputs", f.outputs},
            {"reportedInputs", f.reportedInputs},
            {"reportedOutputs", f.reportedOutputs},
            {"bufferMin", f.bufferMin},
            {"bufferMax", f.bufferMax},
            {"bufferPreferred", f.bufferPreferred},
            {"bufferActual", f.bufferActual},
            {"granularity", f.granularity},
            {"sampleRate", f.sampleRate},
            {"inputLatency", f.inputLatency},
            {"outputLatency", f.outputLatency}};
}

measure::FigureFacts figuresFrom(const json& j) {
    measure::FigureFacts f;
    f.asioVersion = j.value("asioVersion", 0);
    f.inputs = j.value("inputs", 0);
    f.outputs = j.value("outputs", 0);
    f.reportedInputs = j.value("reportedInputs", 0);
    f.reportedOutputs = j.value("reportedOutputs", 0);
    f.bufferMin = j.value("bufferMin", 0);
    f.bufferMax = j.value("bufferMax", 0);
    f.bufferPreferred = j.value("bufferPreferred", 0);
    f.bufferActual = j.value("bufferActual", 0);
    f.granularity = j.value("granularity", 0);
    // A rate that is not a number crosses as null.
    f.sampleRate =
        j.contains("sampleRate") && j["sampleRate"].is_number() ? j["sampleRate"].get<double>() : 0.0;
    f.inputLatency = j.value("inputLatency", 0);
    f.outputLatency = j.value("outputLatency", 0);
    return f;
}

// Each line of `received` that is a JSON object, last first, until `use` takes one.
template <class Use> void lastObjectLines(const std::string& received, Use&& use) {
    size_t end = received.size();
    while (end > 0) {
        const size_t newline = received.rfind('\n', end - 1);
        const size_t begin = newline == std::string::npos ? 0 : newline + 1;
        const json line = json::parse(received.substr(begin, end - begin), nullptr, false);
        if (line.is_object() && use(line)) return;
        if (newline == std::string::npos) return;
        end = newline;
    }
}

} // namespace

CaseResult caseResultOf(const CheckReport& report, const CheckContext& context) {
    CaseResult result;
    result.report = report;
    result.created = context.created;
    result.createStatus = context.createStatus;
    result.initialised = context.initialised;
    result.initRefused = context.initRefused;
    result.driverName = context.driverName;
    result.driverVersion = context.driverVersion;
    result.figures = context.figures;
    result.barred = context.tally.barredNeeded;
    return result;
}

std::string caseResultLine(const CaseResult& result) {
    const json line = {{"id", result.report.id},
                       {"result", resultName(result.report.outcome.result)},
                       {"detail", result.report.outcome.detail},
                       {"faults", result.report.outcome.faults},
                       {"faultsLeftOut", result.report.outcome.faultsLeftOut},
                       {"seconds", result.report.seconds},
                       {"resets", result.report.resetsHonoured},
                       {"created", result.created},
                       {"createStatus", result.createStatus},
                       {"initialised", result.initialised},
                       {"initRefused", result.initRefused},
                       {"name", result.driverName},
                       {"version", result.driverVersion},
                       {"figures", result.figures ? figuresJson(*result.figures) : json(nullptr)},
                       {"barred", static_cast<int32_t>(result.barred)}};
    return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<CaseResult> readCaseResult(const std::string& received) {
    std::optional<CaseResult> found;
    lastObjectLines(received, [&](const json& line) {
        if (!line.contains("result") || !line["result"].is_string()) return false;
        CaseResult result;
        try {
            result.report.id = line.value("id", "");
            result.report.outcome.result = resultFromName(line["result"].get<std::string>());
            result.report.outcome.detail = line.value("detail", "");
            result.report.outcome.faults = line.value("faults", std::vector<std::string>{});
            result.report.outcome.faultsLeftOut = line.value("faultsLeftOut", size_t{0});
            result.report.seconds = line.value("seconds", 0.0);
            result.report.resetsHonoured = line.value("resets", 0);
            result.created = line.value("created", false);
            result.createStatus = line.value("createStatus", 0);
            result.initialised = line.value("initialised", false);
            result.initRefused = line.value("initRefused", false);
            result.driverName = line.value("name", "");
            result.driverVersion = line.value("version", 0);
            if (line.contains("figures") && line["figures"].is_object())
                result.figures = figuresFrom(line["figures"]);
            result.barred = static_cast<telDriverCall>(line.value("barred", 0));
        } catch (const json::exception&) {
            return false; // a line of another shape
        }
        found = result;
        return true;
    });
    return found;
}

std::string caseStageLine(const std::string& stage) {
    return json({{"stage", stage}}).dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string readCaseStage(const std::string& received) {
    std::string stage;
    lastObjectLines(received, [&](const json& line) {
        if (!line.contains("stage") || !line["stage"].is_string()) return false;
        stage = line["stage"].get<std::string>();
        return true;
    });
    return stage;
}

} // namespace conform
