#include "conform/caseResult.h"

#include <nlohmann/json.hpp>

namespace conform {

using json = nlohmann::json;

CaseResult caseResultOf(const CheckReport& report, const CheckContext& context) {
    CaseResult result;
    result.report = report;
    result.created = context.created;
    result.createStatus = context.createStatus;
    result.initialised = context.initialised;
    result.initRefused = context.initRefused;
    result.driverName = context.driverName;
    result.driverVersion = context.driverVersion;
    return result;
}

std::string caseResultLine(const CaseResult& result) {
    const json line = {{"id", result.report.id},
                       {"result", resultName(result.report.outcome.result)},
                       {"detail", result.report.outcome.detail},
                       {"seconds", result.report.seconds},
                       {"resets", result.report.resetsHonoured},
                       {"created", result.created},
                       {"createStatus", result.createStatus},
                       {"initialised", result.initialised},
                       {"initRefused", result.initRefused},
                       {"name", result.driverName},
                       {"version", result.driverVersion}};
    return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<CaseResult> readCaseResult(const std::string& received) {
    std::optional<CaseResult> found;
    size_t begin = 0;
    while (begin < received.size()) {
        size_t end = received.find('\n', begin);
        if (end == std::string::npos) end = received.size();
        const json line = json::parse(received.substr(begin, end - begin), nullptr, false);
        begin = end + 1;
        if (!line.is_object() || !line.contains("result") || !line["result"].is_string()) continue;
        CaseResult result;
        try {
            result.report.id = line.value("id", "");
            result.report.outcome.result = resultFromName(line["result"].get<std::string>());
            result.report.outcome.detail = line.value("detail", "");
            result.report.seconds = line.value("seconds", 0.0);
            result.report.resetsHonoured = line.value("resets", 0);
            result.created = line.value("created", false);
            result.createStatus = line.value("createStatus", 0);
            result.initialised = line.value("initialised", false);
            result.initRefused = line.value("initRefused", false);
            result.driverName = line.value("name", "");
            result.driverVersion = line.value("version", 0);
        } catch (const json::exception&) {
            continue; // a line of another shape
        }
        found = result;
    }
    return found;
}

} // namespace conform
