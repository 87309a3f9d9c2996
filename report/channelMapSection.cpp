// A channel map (/latency=all): the level of every output in every input as a matrix,
// inputs by outputs, and the round trip, gain and polarity of every pair heard.
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

// A level as the matrix shows it: to a tenth of a dB, "below floor" under what the
// measurement can tell from noise, "-" where it was not measured (NaN stands for a
// level or floor not there).
std::string levelText(double level, double floor) {
    if (std::isnan(level)) return "-";
    if (!std::isnan(floor) && level < floor) return "below floor";
    return fixedNumber(level, 1);
}

double levelAt(const std::vector<std::optional<double>>& levels, int32_t output) {
    const size_t at = static_cast<size_t>(output - 1);
    return at < levels.size() ? levels[at].value_or(std::nan("")) : std::nan("");
}

std::string cellKey(int32_t input, int32_t output) {
    return "map-" + std::to_string(input) + "-" + std::to_string(output);
}

std::string matrixTable(const ChannelMapData& map) {
    std::string out = "<table class=\"channel-map\"><thead><tr><th>Input \\ output</th>";
    for (int32_t output = 1; output <= map.outputs; ++output)
        out += "<th>" + std::to_string(output) + "</th>";
    out += "</tr></thead><tbody>";
    for (const MapInput& input : map.map) {
        out += "<tr><th>" + std::to_string(input.input) + "</th>";
        for (int32_t output = 1; output <= map.outputs; ++output) {
            std::string classes;
            if (output == input.heardOutput) classes += " heard";
            if (output == input.expectedOutput) classes += " expected";
            out += "<td class=\"number" + classes + "\" data-key=\"" + cellKey(input.input, output) + "\">" +
                   levelText(levelAt(input.levelsDb, output), levelAt(input.floorsDb, output)) + "</td>";
        }
        out += "</tr>";
    }
    return out + "</tbody></table>";
}

std::string pairsTable(const ChannelMapData& map) {
    std::string out =
        "<table class=\"map-pairs\"><thead><tr><th>Input</th><th>Output</th><th>Round trip "
        "(samples)</th><th>ms</th><th>Gain</th><th>Polarity</th><th>Glitches</th></tr></thead><tbody>";
    for (const MapPair& pair : map.pairs) {
        const std::string key = "pair-" + std::to_string(pair.input) + "-" + std::to_string(pair.output);
        out += "<tr><td>" + std::to_string(pair.input) + "</td><td>" + std::to_string(pair.output) +
               (pair.expected ? "" : " (not the one wired)") + "</td><td class=\"number\" data-key=\"" + key +
               "-round-trip\">" + escapeMarkup(pair.roundTrip) + "</td><td class=\"number\">" +
               (pair.roundTripMs ? fixedNumber(*pair.roundTripMs, 3) : std::string("-")) +
               "</td><td class=\"number\">" + fixedNumber(pair.gainDb, 2) + " dB</td><td>" +
               (pair.inverted ? "inverted" : "not inverted") + "</td><td class=\"number\">" +
               std::to_string(pair.glitches) + "</td></tr>";
    }
    return out + "</tbody></table>";
}

} // namespace

std::string channelMapSection(const ChannelMapData& map) {
    std::string findings;
    for (const std::string& finding : map.findings)
        findings += "<li>" + escapeMarkup(finding) + "</li>";
    return "<section id=\"channel-map\"><h2>Every output into every input</h2>"
           "<p>" +
           std::to_string(map.inputs) + " inputs against " + std::to_string(map.outputs) +
           " outputs; the driver reports input + output latency " + std::to_string(map.reportedSamples) +
           " samples.</p><h3>Level of every output in every input (dB)</h3>" + matrixTable(map) +
           "<p class=\"caption\">Each row is an input, each column an output. The output an input hears is "
           "at "
           "about 0 dB (its gain) and marked; every other output should be below the floor the measurement "
           "can "
           "see in that input. A second level well above the rest is a mix; the loud cell in the wrong "
           "column is "
           "a swap or a slip.</p><h3>Round trip of every pair heard</h3>" +
           pairsTable(map) +
           (findings.empty() ? "" : "<h3>Findings</h3><ul class=\"findings\">" + findings + "</ul>") +
           "</section>";
}

} // namespace report
