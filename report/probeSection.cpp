// What /probe found the driver supports: the rates, the clock sources, the buffer sizes
// and whether createBuffers takes the extremes, the optional features, what the driver
// asked the host and the output-ready notice.
#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

std::string row(const std::string& label, const std::string& key, const std::string& value) {
    return "<tr><th>" + label + "</th><td data-key=\"" + key + "\">" + value + "</td></tr>";
}

std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "none" : text;
}

std::string ratesText(const ProbeFacts& probe) {
    std::vector<std::string> can, cannot;
    for (const auto& [rate, possible] : probe.rates)
        (possible ? can : cannot).push_back(compactNumber(rate));
    if (can.empty()) return "none of the standard rates";
    if (cannot.empty()) return "every standard rate (" + listed(can) + " Hz)";
    return listed(can) + " Hz; not " + listed(cannot) + " Hz";
}

std::string yesNo(const std::optional<bool>& value) {
    return value ? (*value ? "yes" : "no") : "not tried";
}

std::string sizesRows(const std::optional<ProbeFacts::Sizes>& sizes) {
    if (!sizes) return row("Buffer sizes", "buffer-sizes", "the driver does not say");
    return row("Buffer sizes", "buffer-sizes",
               "min " + std::to_string(sizes->min) + ", max " + std::to_string(sizes->max) + ", preferred " +
                   std::to_string(sizes->preferred) + ", granularity " + std::to_string(sizes->granularity)) +
           row("Legal sizes", "legal-sizes",
               std::to_string(sizes->legalCount) + ": " +
                   escapeMarkup(sizes->legal.empty() ? "none" : sizes->legal)) +
           row("createBuffers takes", "created",
               "the smallest: " + yesNo(sizes->createdMin) + "; the largest: " + yesNo(sizes->createdMax));
}

std::string featuresText(const ProbeFacts& probe) {
    std::vector<std::string> answered, not_answered;
    for (const auto& [name, has] : probe.future)
        (has ? answered : not_answered).push_back(escapeMarkup(name));
    return "answers " + listed(answered) + "; not " + listed(not_answered);
}

std::string clocksTable(const std::optional<std::vector<ProbeClock>>& clocks) {
    if (!clocks || clocks->empty()) return "";
    std::string out = "<h3>Clock sources</h3><table class=\"clocks\"><thead><tr><th>Index</th><th>Name</th>"
                      "<th>Channel</th><th>Group</th><th>Current</th></tr></thead><tbody>";
    for (const ProbeClock& clock : *clocks)
        out += "<tr data-clock=\"" + std::to_string(clock.index) + "\"><td class=\"number\">" +
               std::to_string(clock.index) + "</td><td>" + escapeMarkup(clock.name) +
               "</td><td class=\"number\">" +
               (clock.channel >= 0 ? std::to_string(clock.channel + 1) : std::string("–")) +
               "</td><td class=\"number\">" +
               (clock.group >= 0 ? std::to_string(clock.group) : std::string("–")) + "</td><td>" +
               (clock.current ? "current" : "") + "</td></tr>";
    return out + "</tbody></table>";
}

} // namespace

std::string probeSection(const ProbeFacts& probe) {
    std::string messages;
    for (const auto& [name, count] : probe.messagesAsked)
        messages += (messages.empty() ? "" : ", ") + escapeMarkup(name) + " (" + std::to_string(count) + ")";
    std::string clocks = "the driver does not say";
    if (probe.clocks)
        clocks = probe.clocks->empty() ? "none" : std::to_string(probe.clocks->size()) + ", below";
    return "<section id=\"probe\"><h2>What the driver supports</h2><table class=\"facts\"><tbody>" +
           row("Rates", "rates", ratesText(probe)) + row("Clock sources", "clocks", clocks) +
           sizesRows(probe.sizes) + row("Optional features", "features", featuresText(probe)) +
           row("Asked of the host", "messages", messages.empty() ? "nothing" : messages) +
           row("Output-ready notice", "output-ready",
               probe.outputReady ? (*probe.outputReady ? "wanted" : "not wanted") : "not known") +
           "</tbody></table>" + clocksTable(probe.clocks) + "</section>";
}

} // namespace report
