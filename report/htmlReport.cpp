#include "report/htmlReport.h"

#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

// Plain, printable styling; the plots keep their colours in print, and no plot is cut
// across pages.
constexpr const char* styleSheet = R"(
:root{color-scheme:light}
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;color:#1a1a1a;
background:#ffffff;margin:0 auto;padding:16px 20px 40px;max-width:760px;line-height:1.4;font-size:15px}
h1{font-size:1.6em;margin:0 0 4px}h2{font-size:1.3em;margin:28px 0 8px;border-bottom:1px solid #cccccc;padding-bottom:3px}
h3{font-size:1.05em;margin:18px 0 6px}
.meta{color:#444444;margin:0 0 12px}.meta code{word-break:break-all}
table{border-collapse:collapse;margin:6px 0 10px;font-size:0.9em}
th,td{border:1px solid #d4d4d0;padding:3px 7px;text-align:left;vertical-align:top}
thead th{background:#eeeeea}.facts th{background:#f4f4f0;font-weight:600}
td.number{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
.summary{width:100%}.summary th{white-space:nowrap;width:1%}
.summary td{overflow-wrap:anywhere;font-family:ui-monospace,"Cascadia Mono",Consolas,"DejaVu Sans Mono",monospace;white-space:pre-wrap}
.verdict{border:3px solid;border-radius:6px;padding:8px 14px;margin:12px 0}
.verdict .word{font-size:1.4em;font-weight:700;margin:0}.verdict ul{margin:6px 0 0;padding-left:22px}
.verdict.pass{border-color:#009E73;background:#eaf6f1}.verdict.fail,.verdict.error{border-color:#D55E00;background:#fbeee6}
.verdict.inconclusive,.verdict.interrupted{border-color:#E69F00;background:#fcf4e3}
table.baseline td.worse{color:#a34700;font-weight:600}table.baseline td.better{color:#006b4f}
.verdict-cell.pass,.check.pass{color:#006b4f}.verdict-cell.fail,.verdict-cell.error,.check.fail{color:#a34700;font-weight:600}
.check.warn,.verdict-cell.inconclusive,.verdict-cell.interrupted{color:#8a5f00}.check.skip{color:#666666}
.refused{color:#a34700}table.sweep{font-size:0.78em}table.sweep td.verdict-cell{min-width:9em}
.cell-scroll{max-height:4.3em;overflow-y:auto}.failure-moment{margin:6px 0 0}.note{color:#444444}
tr.faults td{border-top:none}ol.faults{margin:2px 0 0;padding-left:22px}
figure.plot-figure{margin:14px 0 22px;break-inside:avoid;page-break-inside:avoid}
figure.plot-figure h3{margin:0 0 4px}
svg.plot{display:block;max-width:100%;height:auto}
figcaption{font-size:0.88em;color:#333333;max-width:720px}
footer{margin-top:30px;color:#666666;font-size:0.85em}
table.channel-map{font-size:0.8em}table.channel-map td.heard{background:#d8efe6;font-weight:600}
table.channel-map td.expected{outline:2px solid #0072B2;outline-offset:-2px}
p.caption{font-size:0.88em;color:#333333;max-width:720px}
@media print{body{max-width:none;font-size:11pt;padding:0}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
h2{break-after:avoid;page-break-after:avoid}tr{break-inside:avoid}
.cell-scroll{max-height:none;overflow:visible}}
)";

const char* outcomeSymbol(Outcome outcome) {
    switch (outcome) {
    case Outcome::pass:
        return "✓";
    case Outcome::fail:
        return "✗";
    case Outcome::inconclusive:
        return "?";
    case Outcome::error:
        return "!";
    case Outcome::interrupted:
        return "■";
    }
    return "";
}

std::string factRow(const std::string& label, const std::string& key, const std::string& value) {
    return "<tr><th>" + label + "</th><td data-key=\"" + key + "\">" + value + "</td></tr>";
}

std::string samplesAndMs(int32_t samples, double rate) {
    std::string text = std::to_string(samples) + " samples";
    if (rate > 0) text += " (" + fixedNumber(samples * 1000.0 / rate, 3) + " ms)";
    return text;
}

// "The run ended at setting 2 of 4 (48000 Hz, 256 samples), 0.53 s after that setting
// started; 96 switches had been counted by 0.50 s."
std::string failureMomentLine(const FailureMoment& moment) {
    std::string attributes, text = "The run ended";
    if (moment.setting) {
        text += " at " + settingText(*moment.setting);
        attributes += " data-rate=\"" + compactNumber(moment.setting->rate) + "\" data-buffer=\"" +
                      std::to_string(moment.setting->buffer) + "\"";
    }
    const char* started = moment.setting ? "that setting" : "the driver";
    if (moment.seconds) {
        text += ", " + fixedNumber(*moment.seconds, 2) + " s after " + started + " started";
        attributes += " data-seconds=\"" + compactNumber(*moment.seconds, 6) + "\"";
    } else {
        text += moment.setting ? ", before that setting started" : " before the driver was started";
    }
    if (moment.switchesCounted && moment.countedAtSeconds) {
        const uint64_t count = *moment.switchesCounted;
        text += "; " + (count == 0 ? std::string("no switch") : std::to_string(count)) +
                (count == 1   ? " switch"
                 : count == 0 ? ""
                              : " switches") +
                " had been counted by " + fixedNumber(*moment.countedAtSeconds, 2) + " s";
        attributes += " data-switches=\"" + std::to_string(count) + "\"";
    }
    return "<p class=\"failure-moment\"" + attributes + ">" + escapeMarkup(text) + ".</p>";
}

std::string verdictSection(const ReportData& data) {
    if (!data.verdict) return "";
    const char* word = outcomeName(*data.verdict);
    std::string out = std::string("<section id=\"verdict\" class=\"verdict ") + word + "\" data-verdict=\"" +
                      word + "\"><p class=\"word\"><span aria-hidden=\"true\">" +
                      outcomeSymbol(*data.verdict) + "</span> Verdict: " + word + "</p>";
    if (!data.reasons.empty()) {
        out += "<ul class=\"reasons\">";
        for (const std::string& reason : data.reasons)
            out += "<li>" + escapeMarkup(reason) + "</li>";
        out += "</ul>";
    }
    if (data.failureAt) out += failureMomentLine(*data.failureAt);
    return out + "</section>";
}

std::string summarySection(const ReportData& data) {
    if (data.summary.empty()) return "";
    std::string out = "<section id=\"summary\"><h2>Summary</h2><table class=\"summary\"><tbody>";
    for (const SummaryLine& line : data.summary)
        out += "<tr><th>" + escapeMarkup(line.label) + "</th><td>" + escapeMarkup(line.text) + "</td></tr>";
    return out + "</tbody></table></section>";
}

std::string channelsTable(const std::vector<ChannelFacts>& channels) {
    if (channels.empty()) return "";
    std::string out = "<h3>Channels</h3><table class=\"channels\"><thead><tr><th>Channel</th><th>Name</th>"
                      "<th>Sample type</th><th>Group</th><th>Active</th></tr></thead><tbody>";
    for (const ChannelFacts& channel : channels)
        out += std::string("<tr><td>") + (channel.input ? "In " : "Out ") + std::to_string(channel.number) +
               "</td><td>" + escapeMarkup(channel.name) + "</td><td>" + escapeMarkup(channel.sampleType) +
               "</td><td class=\"number\">" + std::to_string(channel.group) + "</td><td>" +
               (channel.active ? "yes" : "no") + "</td></tr>";
    return out + "</tbody></table>";
}

} // namespace

std::string settingText(const SweepSetting& setting) {
    std::string text = "setting ";
    if (setting.number > 0 && setting.count > 0)
        text += std::to_string(setting.number) + " of " + std::to_string(setting.count) + " (";
    text += compactNumber(setting.rate) + " Hz, " + std::to_string(setting.buffer) + " samples";
    return setting.number > 0 && setting.count > 0 ? text + ")" : text;
}

std::string plotFigure(const std::string& title, const SvgPlot& plot, const std::string& caption) {
    return "<figure class=\"plot-figure\"><h3>" + escapeMarkup(title) + "</h3>" + plot.svg() +
           "<figcaption>" + escapeMarkup(caption) + "</figcaption></figure>";
}

std::string headerSection(const ReportData& data) {
    std::string out = "<header><h1>echoprobe report</h1><p class=\"meta\">";
    std::string tool = "echoprobe";
    if (!data.tool.version.empty()) tool += " " + data.tool.version;
    if (data.tool.bits > 0) tool += " (" + std::to_string(data.tool.bits) + "-bit)";
    out += escapeMarkup(tool);
    if (!data.tool.madeAt.empty()) out += ", made " + escapeMarkup(data.tool.madeAt);
    if (!data.tool.commandLine.empty())
        out += "<br>Command line: <code>" + escapeMarkup(data.tool.commandLine) + "</code>";
    return out + "</p></header>" + verdictSection(data) +
           (data.baseline ? baselineSection(*data.baseline) : "") + summarySection(data);
}

std::string driverSection(const ReportData& data) {
    if (!data.driver && !data.figures && data.channels.empty()) return "";
    std::string out = "<section id=\"driver\"><h2>Driver</h2>";
    if (data.driver) {
        const DriverFacts& driver = *data.driver;
        out += "<table class=\"facts\"><tbody>" + factRow("Index", "index", std::to_string(driver.index)) +
               factRow("Description", "description", escapeMarkup(driver.description)) +
               factRow("Class id", "clsid", "<code>" + escapeMarkup(driver.clsid) + "</code>");
        if (driver.name) out += factRow("Name", "name", escapeMarkup(*driver.name));
        if (driver.version) out += factRow("Version", "version", std::to_string(*driver.version));
        if (driver.errorText) out += factRow("Error text", "error-text", escapeMarkup(*driver.errorText));
        out += "</tbody></table>";
    }
    if (data.figures) {
        const DriverFigures& f = *data.figures;
        out += "<h3>Figures</h3><table class=\"facts\"><tbody>" +
               factRow("ASIO version", "asio-version", std::to_string(f.asioVersion)) +
               factRow("Channels", "channels",
                       std::to_string(f.inputs) + " inputs, " + std::to_string(f.outputs) + " outputs") +
               factRow("Buffer sizes", "buffer",
                       "min " + std::to_string(f.bufferMin) + ", max " + std::to_string(f.bufferMax) +
                           ", preferred " + std::to_string(f.bufferPreferred) + ", granularity " +
                           std::to_string(f.granularity) + "; running at " + std::to_string(f.bufferActual)) +
               factRow("Sample rate", "sample-rate", compactNumber(f.sampleRate) + " Hz") +
               factRow("Input latency", "input-latency", samplesAndMs(f.inputLatency, f.sampleRate)) +
               factRow("Output latency", "output-latency", samplesAndMs(f.outputLatency, f.sampleRate)) +
               "</tbody></table>";
    }
    return out + channelsTable(data.channels) + "</section>";
}

std::string renderHtmlReport(const ReportData& data) {
    std::string title = "echoprobe report";
    if (data.driver) title += ": " + data.driver->description;
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>" +
                       escapeMarkup(title) + "</title><style>" + styleSheet + "</style></head><body>\n";
    page += headerSection(data);
    page += driverSection(data);
    if (data.probe) page += probeSection(*data.probe);
    if (data.timing) page += timingSection(data);
    const BaselineData* baseline = data.baseline ? &*data.baseline : nullptr;
    if (data.latency) page += latencySection(*data.latency, data.runSeconds, baseline);
    if (data.channelMap) page += channelMapSection(*data.channelMap);
    page += sweepSection(data.sweep, data.failureAt ? data.failureAt->setting : std::nullopt,
                         data.reasons.empty() ? std::string() : data.reasons.front(), baseline);
    if (data.starts) page += startsSection(*data.starts, baseline);
    page += conformanceSection(data.conformance, baseline);
    page += "<footer>Written by echoprobe";
    if (!data.tool.version.empty()) page += " " + escapeMarkup(data.tool.version);
    page += ". This page needs no network and no script.</footer>\n</body></html>\n";
    return page;
}

} // namespace report
