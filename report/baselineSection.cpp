#include "report/markup.h"
#include "report/sections.h"

namespace report {

namespace {

const char* changeWord(const BaselineChange& change) {
    if (!change.worse) return "changed";
    return *change.worse ? "worse" : "better";
}

} // namespace

std::string baselineSection(const BaselineData& baseline) {
    std::string out = "<section id=\"baseline\"><h2>Compared with baseline</h2><p class=\"meta\">The run "
                      "against <code>" +
                      escapeMarkup(baseline.file) + "</code>" +
                      (baseline.date.empty() ? "" : ", written " + escapeMarkup(baseline.date)) + ".</p>";
    if (baseline.changes.empty()) {
        out += "<p class=\"note\" data-note=\"no-change\">No change since the baseline.</p>";
    } else {
        out += "<table class=\"baseline\"><thead><tr><th>Change</th><th>What</th><th>Baseline</th>"
               "<th>This run</th></tr></thead><tbody>";
        for (const BaselineChange& change : baseline.changes) {
            const char* word = changeWord(change);
            out += "<tr data-what=\"" + escapeMarkup(change.what) + "\" data-change=\"" + word +
                   "\"><td class=\"" + word + "\">" + word + "</td><td>" + escapeMarkup(change.what) +
                   "</td><td class=\"number\">" + escapeMarkup(change.before) + "</td><td class=\"number\">" +
                   escapeMarkup(change.after) + "</td></tr>";
        }
        out += "</tbody></table>";
    }
    for (const std::string& lack : baseline.lacks)
        out += "<p class=\"note\" data-note=\"not-compared\">Not compared: the baseline has " +
               escapeMarkup(lack) + ".</p>";
    return out + "</section>";
}

std::string baselineCell(const BaselineData& baseline, const std::string& prefix, const std::string& same) {
    std::string text;
    for (const BaselineChange& change : baseline.changes)
        if (change.what.rfind(prefix, 0) == 0)
            text += (text.empty() ? "" : ", ") +
                    (change.what.size() > prefix.size() ? change.what.substr(prefix.size()) + " " : "") +
                    change.before;
    if (text.empty()) return "<td class=\"baseline-same note\">" + escapeMarkup(same) + "</td>";
    return "<td class=\"baseline-before\">" + escapeMarkup(text) + "</td>";
}

} // namespace report
