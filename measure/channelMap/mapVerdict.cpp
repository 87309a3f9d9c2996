#include "measure/channelMap/mapVerdict.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "measure/channelMap/mapFacts.h"

namespace measure {

namespace {

std::string decibelText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dB", std::round(value * 10.0) / 10.0 + 0.0);
    return text;
}

std::string loopName(int output, int input) {
    return "output " + std::to_string(output) + " to input " + std::to_string(input);
}

// The pairs that heard a wrong output: a swap or a slip read as one, the rest each.
void wrongOutputs(const ChannelMapResult& map, std::vector<MapFinding>& findings) {
    std::set<int> told;
    for (const auto& [a, b] : map.swappedInputs) {
        findings.push_back({VerdictWord::fail, "inputs " + std::to_string(a) + " and " + std::to_string(b) +
                                                   " hear each other's outputs (a swap)"});
        told.insert(a);
        told.insert(b);
    }
    std::vector<int> slipped;
    const InputFindings* first = nullptr;
    for (const InputFindings& input : map.findings)
        if (map.slipBy != 0 && input.hearsWrongOutput && input.expectedOutput != 0 &&
            !told.count(input.input)) {
            slipped.push_back(input.input);
            if (first == nullptr) first = &input;
        }
    if (first != nullptr) {
        const int by = std::abs(map.slipBy);
        findings.push_back(
            {VerdictWord::fail, "a slip by " + std::to_string(by) + (by == 1 ? " channel: " : " channels: ") +
                                    inputsText(slipped) + " hear the output " + std::to_string(by) +
                                    (map.slipBy > 0 ? " after" : " before") + " their own (input " +
                                    std::to_string(first->input) + " hears output " +
                                    std::to_string(first->heardOutput) + ")"});
        told.insert(slipped.begin(), slipped.end());
    }
    for (const InputFindings& input : map.findings) {
        if (!input.hearsWrongOutput || told.count(input.input)) continue;
        const std::string heard =
            "input " + std::to_string(input.input) + " hears output " + std::to_string(input.heardOutput);
        findings.push_back(
            {VerdictWord::fail, input.expectedOutput == 0
                                    ? heard + ", and no output is wired to it"
                                    : heard + ", not output " + std::to_string(input.expectedOutput)});
    }
}

// The report against the loops: the shortest loop for a report larger than a loop, the
// longest for one short of a loop by more than a buffer.
void reportAgainstLoops(const ChannelMapResult& map, const ReportedLatency& report,
                        std::vector<MapFinding>& findings) {
    const InputFindings *shortest = nullptr, *longest = nullptr;
    int larger = 0, tooShort = 0;
    for (const InputFindings& input : map.findings) {
        const std::optional<double> roundTrip = placedRoundTrip(input);
        if (!roundTrip) continue;
        const ReportCheck check = checkReport(report, *roundTrip);
        if (check == ReportCheck::larger) {
            ++larger;
            if (shortest == nullptr || *roundTrip < *placedRoundTrip(*shortest)) shortest = &input;
        } else if (check == ReportCheck::tooShort) {
            ++tooShort;
            if (longest == nullptr || *roundTrip > *placedRoundTrip(*longest)) longest = &input;
        }
    }
    auto add = [&](const InputFindings* input, int count) {
        if (input == nullptr) return;
        std::string text = reportFaultText(report, *placedRoundTrip(*input),
                                           "the loop of " + loopName(input->heardOutput, input->input));
        if (count > 1)
            text +=
                " (" + std::to_string(count - 1) + (count == 2 ? " more loop" : " more loops") + " alike)";
        findings.push_back({VerdictWord::fail, text});
    };
    add(shortest, larger);
    add(longest, tooShort);
}

} // namespace

std::string inputsText(std::vector<int> inputs) {
    std::sort(inputs.begin(), inputs.end());
    inputs.erase(std::unique(inputs.begin(), inputs.end()), inputs.end());
    std::vector<std::string> parts;
    for (size_t i = 0; i < inputs.size();) {
        size_t j = i;
        while (j + 1 < inputs.size() && inputs[j + 1] == inputs[j] + 1)
            ++j;
        if (j >= i + 2) {
            parts.push_back(std::to_string(inputs[i]) + " to " + std::to_string(inputs[j]));
        } else {
            for (size_t k = i; k <= j; ++k)
                parts.push_back(std::to_string(inputs[k]));
        }
        i = j + 1;
    }
    std::string text = inputs.size() == 1 ? "input " : "inputs ";
    for (size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

std::vector<MapFinding> channelMapFindings(const ChannelMapResult& map,
                                           const std::optional<ReportedLatency>& report) {
    std::vector<MapFinding> findings;
    std::vector<int> deaf, unsearched, changing, ambiguous;
    for (const InputFindings& input : map.findings) {
        if (input.heardOutput == 0 && input.windowsSearched == 0 && input.expectedOutput != 0)
            unsearched.push_back(input.input);
        else if (input.hearsNothing)
            deaf.push_back(input.input);
        const PairFigures* loudest = loudestPair(input);
        if (loudest == nullptr) continue;
        if (loudest->lagAmbiguous) ambiguous.push_back(input.input);
        if (input.roundTripChanges) changing.push_back(input.input);
    }
    if (!deaf.empty())
        findings.push_back(
            {VerdictWord::fail, inputsText(deaf) + (deaf.size() == 1 ? " hears" : " hear") + " no output"});
    wrongOutputs(map, findings);
    for (const InputFindings& input : map.findings) {
        if (!input.hearsTwo) continue;
        const OtherOutput other = loudestOtherOutput(input, input.heardOutput);
        findings.push_back({VerdictWord::fail, "input " + std::to_string(input.input) + " hears output " +
                                                   std::to_string(other.output) + " beside output " +
                                                   std::to_string(input.heardOutput) + " (a mix at " +
                                                   decibelText(other.levelDb) + ")"});
    }
    if (!changing.empty())
        findings.push_back(
            {VerdictWord::fail, "the round trip changed between bursts in " + inputsText(changing)});
    for (const InputFindings& input : map.findings) {
        const PairFigures* loudest = loudestPair(input);
        if (loudest == nullptr) continue;
        const std::string loop = loopName(loudest->output, input.input);
        if (input.burstsMissing > 0)
            findings.push_back({VerdictWord::fail, std::to_string(input.burstsMissing) + " of " +
                                                       std::to_string(loudest->burstsSent) + " bursts of " +
                                                       loop + " did not come back"});
        if (input.glitches > 0)
            findings.push_back(
                {VerdictWord::fail, counted(uint64_t(input.glitches), "glitch", "glitches") + " in " + loop});
    }
    if (report) reportAgainstLoops(map, *report, findings);
    if (!unsearched.empty())
        findings.push_back({VerdictWord::inconclusive,
                            "no measurement burst could be searched for in " + inputsText(unsearched)});
    if (!ambiguous.empty())
        findings.push_back({VerdictWord::inconclusive,
                            "the round trip could not be told apart in " + inputsText(ambiguous)});
    if (map.roundTripsDiffer) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "round trips differ between ports, from %.2f samples (input %d) to %.2f (input %d)",
                      map.fastestRoundTrip, map.fastestInput, map.slowestRoundTrip, map.slowestInput);
        findings.push_back({VerdictWord::pass, text});
    }
    return findings;
}

void judgeChannelMap(const ChannelMapResult& map, const std::optional<ReportedLatency>& report,
                     Verdict& verdict) {
    for (const MapFinding& finding : channelMapFindings(map, report))
        if (finding.word != VerdictWord::pass) verdict.add(finding.word, finding.text);
}

} // namespace measure
