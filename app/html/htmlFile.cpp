#include "app/html/htmlFile.h"

#include "app/html/plotData.h"
#include "app/measured/measuredRun.h"
#include "platform/childProcess.h"
#include "platform/platform.h"
#include "report/fromDocument.h"
#include "report/htmlReport.h"
#include "util/telUtils.h"

namespace {

// The switches as given, without the ones the program gives itself.
std::string commandLine() {
    std::string line = "echoprobe";
    const std::vector<telText> arguments = plat::arguments();
    for (size_t i = 1; i < arguments.size(); ++i) {
        const telText upper = upperCaseText(arguments[i]);
        if (upper.rfind(u"/SUPERVISED", 0) == 0 ||
            upper.find(upperCaseText(plat::childEndsSwitch)) != telText::npos)
            continue;
        line += " " + utf8Text(arguments[i]);
    }
    return line;
}

report::ReportData dataOf(const nlohmann::json& document) {
    report::ReportData data = report::reportDataFromDocument(document);
    const plat::CalendarTime now = plat::localTime();
    data.tool.madeAt = utf8Text(dateText(now)) + " " + utf8Text(timeText(now));
    data.tool.commandLine = commandLine();
    return data;
}

} // namespace

htmlFile::htmlFile(const std::optional<telText>& path) : f_file(path, u"HTML") {}

void htmlFile::findings(const runFindings& findings) {
    if (!active()) return;
    f_summary = runSummaryLines(findings);
    f_timing = findings.timingPlots;
    if (findings.latency) {
        report::LatencyData plots;
        addLatencyPlotData(plots, *findings.latency);
        f_latencyPlots = std::move(plots);
    }
}

void htmlFile::baseline(const nlohmann::json& document) {
    if (active()) f_baseline = document;
}

bool htmlFile::write(const nlohmann::json& document, telText* why) {
    if (!active()) return true;
    report::ReportData data = dataOf(document);
    for (const std::string& line : f_summary) {
        // "Switches  : 801 (801 expected)": the label, then the figures.
        const size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        std::string label = line.substr(0, colon);
        while (!label.empty() && label.back() == ' ')
            label.pop_back();
        data.summary.push_back({label, line.substr(colon + 2)});
    }
    if (f_timing) data.timing = *f_timing;
    // Only a baseline the run was compared with is drawn.
    if (data.baseline && !f_baseline.is_null()) report::addBaselineSeries(*data.baseline, f_baseline);
    if (data.latency && f_latencyPlots) {
        data.latency->correlation = f_latencyPlots->correlation;
        data.latency->bursts = f_latencyPlots->bursts;
        data.latency->glitchSnapshots = f_latencyPlots->glitchSnapshots;
        if (!f_latencyPlots->correlation.empty()) data.latency->foundLag = f_latencyPlots->foundLag;
    }
    return f_file.write(report::renderHtmlReport(data), why);
}

std::string htmlOfDocument(const nlohmann::json& document) {
    return report::renderHtmlReport(dataOf(document));
}

std::string htmlOfDocumentAndTiming(const nlohmann::json& document, const report::TimingData* timing) {
    report::ReportData data = dataOf(document);
    if (timing != nullptr && !timing->timeline.empty()) data.timing = *timing;
    return report::renderHtmlReport(data);
}
