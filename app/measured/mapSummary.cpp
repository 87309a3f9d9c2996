#include "app/measured/mapSummary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "measure/channelMap/mapVerdict.h"

namespace {

using measure::InputFindings;
using measure::PairFigures;

// A figure with `decimals` decimals that never shows as "-0.00".
std::string formatted(const char* format, double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    char text[64];
    std::snprintf(text, sizeof text, format, std::round(value * scale) / scale + 0.0);
    return text;
}

// "-112.4 dB"; a level of nothing at all reads "silent".
std::string decibels(double value) {
    if (std::isinf(value) && value < 0) return "silent";
    return formatted("%.1f dB", value, 1);
}

// The round trip to a hundredth with its interval where the interval allows ("696.37
// +/- 0.01 samples", the console's text is ASCII), else to a tenth; in milliseconds too.
std::string roundTripText(const PairFigures& pair, double rate) {
    if (pair.lagAmbiguous)
        return "round trip cannot be told apart (input before the first burst was missing)";
    double samples = pair.lagMedian;
    std::string text = formatted("%.1f", pair.lagMedian, 1);
    if (pair.precise.bursts > 0) {
        samples = pair.precise.mean;
        text = measure::roundTripText(pair.precise);
        const size_t sign = text.find("±");
        if (sign != std::string::npos) text.replace(sign, std::string("±").size(), "+/-");
    }
    text = "round trip " + text + " samples";
    if (rate > 0) text += formatted(" (%.3f ms)", 1000.0 * samples / rate, 3);
    return text;
}

std::string inputLine(const InputFindings& input, double rate) {
    const PairFigures* pair = measure::loudestPair(input);
    std::string text;
    if (pair == nullptr) {
        text = "no output heard (" +
               (input.expectedOutput != 0 ? "output " + std::to_string(input.expectedOutput) + " expected"
                                          : std::string("none expected")) +
               ")";
    } else {
        text = "output " + std::to_string(pair->output) + ", " + roundTripText(*pair, rate) + ", gain " +
               formatted("%.2f dB", pair->gainDb, 2) + ", " + (pair->inverted ? "inverted" : "not inverted");
        if (pair->integrityMeasured || input.nonFiniteRuns > 0)
            text += ", " + std::to_string(input.glitches) + (input.glitches == 1 ? " glitch" : " glitches");
    }
    const measure::OtherOutput other = measure::loudestOtherOutput(input, input.heardOutput);
    if (other.output != 0)
        text += std::string(pair == nullptr ? "; loudest output " : "; loudest other output ") +
                std::to_string(other.output) + " at " + decibels(other.levelDb) +
                (std::isnan(other.floorDb) ? std::string() : " (floor " + decibels(other.floorDb) + ")");
    return text;
}

std::string wiringText(const measure::ChannelMapFacts& facts) {
    if (!facts.wiring) return "output k to input k expected";
    std::string text = "wired";
    for (size_t i = 0; i < facts.wiring->size(); ++i)
        text += (i == 0 ? " " : ", ") + std::to_string((*facts.wiring)[i].output) + ":" +
                std::to_string((*facts.wiring)[i].input);
    return text;
}

// The report against the loops' round trips (to a tenth, as a single pair's).
std::string reportedText(const measure::ChannelMapFacts& facts, const std::vector<double>& roundTrips) {
    std::string text = "input + output latency " + std::to_string(facts.reported.samples) + " samples";
    if (roundTrips.empty()) return text;
    const auto [low, high] = std::minmax_element(roundTrips.begin(), roundTrips.end());
    const double reported = static_cast<double>(facts.reported.samples);
    const double msPerSample = facts.sampleRate > 0 ? 1000.0 / facts.sampleRate : 0.0;
    char figures[160];
    if (*high - *low < 0.05)
        std::snprintf(figures, sizeof figures, ", unreported latency %.1f samples (%.3f ms)", *low - reported,
                      (*low - reported) * msPerSample);
    else
        std::snprintf(figures, sizeof figures, ", unreported latency %.1f to %.1f samples (%.3f to %.3f ms)",
                      *low - reported, *high - reported, (*low - reported) * msPerSample,
                      (*high - reported) * msPerSample);
    return text + figures;
}

} // namespace

std::vector<std::pair<std::string, std::string>> channelMapLines(const measure::ChannelMapFacts& facts) {
    const measure::ChannelMapResult& map = facts.result;
    std::vector<std::pair<std::string, std::string>> lines;
    lines.push_back({"Map", std::to_string(map.inputs) + (map.inputs == 1 ? " input" : " inputs") +
                                " against " + std::to_string(map.outputs) +
                                (map.outputs == 1 ? " output, " : " outputs, ") + wiringText(facts)});
    std::vector<double> roundTrips;
    for (const InputFindings& input : map.findings) {
        lines.push_back({"Input " + std::to_string(input.input), inputLine(input, facts.sampleRate)});
        if (const std::optional<double> roundTrip = measure::placedRoundTrip(input))
            roundTrips.push_back(*roundTrip);
    }
    lines.push_back({"Reported", reportedText(facts, roundTrips)});
    if (map.unknownSamples > 0 || map.rebases > 0)
        lines.push_back({"Map", std::to_string(map.unknownSamples) +
                                    " input samples the host lost were not judged, " +
                                    std::to_string(map.rebases) +
                                    (map.rebases == 1 ? " position re-base" : " position re-bases")});
    const std::vector<measure::MapFinding> findings = measure::channelMapFindings(map, facts.reported);
    for (const measure::MapFinding& finding : findings)
        lines.push_back({"Findings", finding.text});
    if (findings.empty())
        lines.push_back({"Findings", "every input hears the output expected, and it alone"});
    return lines;
}
