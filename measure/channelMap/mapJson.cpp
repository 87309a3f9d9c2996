#include "measure/channelMap/mapJson.h"

#include <algorithm>

#include "measure/channelMap/mapVerdict.h"
#include "measure/runDocument.h"
#include "measure/statistics.h"

namespace measure {

namespace {

using json = nlohmann::json;

json pairJson(const InputFindings& input, const PairFigures& pair, double rate) {
    const bool placed = !pair.lagAmbiguous;
    auto samples = [placed](double value) { return placed ? jsonNumber(value, 1) : json(nullptr); };
    const OtherOutput other = loudestOtherOutput(input, pair.output);
    const bool loudest = pair.output == input.heardOutput;
    return {
        {"output", pair.output},
        {"input", pair.input},
        {"expected", pair.output == input.expectedOutput},
        {"roundTrip", samples(pair.lagMedian)},
        {"roundTripMs", placed && rate > 0 ? jsonNumber(1000.0 * pair.lagMedian / rate, 3) : json(nullptr)},
        {"min", samples(pair.lagMin)},
        {"max", samples(pair.lagMax)},
        {"ambiguous", pair.lagAmbiguous},
        {"changing", pair.roundTripChanges},
        {"precise",
         placed && pair.precise.bursts > 0 ? preciseRoundTripJson(pair.precise, rate) : json(nullptr)},
        {"bursts", pair.burstsFound},
        {"burstsSent", pair.burstsSent},
        {"burstsMissing", loudest ? json(input.burstsMissing) : json(nullptr)},
        {"gainDb", jsonNumber(pair.gainDb, 2)},
        {"inverted", pair.inverted},
        {"crosstalkOutput", other.output != 0 ? json(other.output) : json(nullptr)},
        {"crosstalkDb", other.output != 0 ? jsonNumber(other.levelDb, 1) : json(nullptr)},
        {"crosstalkFloorDb", other.output != 0 ? jsonNumber(other.floorDb, 1) : json(nullptr)},
        {"glitches", pair.integrityMeasured || (loudest && input.nonFiniteRuns > 0)
                         ? json(loudest ? input.glitches : pair.glitches)
                         : json(nullptr)},
        {"glitchPositions", pair.glitchPositions}};
}

json inputJson(const InputFindings& input) {
    json hears = json::array(), levels = json::array(), floors = json::array();
    for (const PairFigures* pair : heardPairs(input))
        hears.push_back(pair->output);
    for (double level : input.levelDb)
        levels.push_back(jsonNumber(level, 1));
    for (double floor : input.floorDb)
        floors.push_back(jsonNumber(floor, 1));
    auto channel = [](int number) { return number != 0 ? json(number) : json(nullptr); };
    return {{"input", input.input},
            {"expectedOutput", channel(input.expectedOutput)},
            {"heardOutput", channel(input.heardOutput)},
            {"hears", hears},
            {"levelsDb", levels},
            {"floorsDb", floors},
            {"levelBursts", input.levelBursts},
            {"windowsSearched", input.windowsSearched},
            {"hearsNothing", input.hearsNothing},
            {"hearsWrongOutput", input.hearsWrongOutput},
            {"hearsTwo", input.hearsTwo},
            {"roundTripChanges", input.roundTripChanges},
            {"glitches", input.glitches},
            {"burstsMissing", input.burstsMissing}};
}

} // namespace

json channelMapJson(const ChannelMapFacts& facts) {
    const ChannelMapResult& map = facts.result;
    const double rate = facts.sampleRate;
    json pairs = json::array(), inputs = json::array();
    std::vector<double> roundTrips;
    for (const InputFindings& input : map.findings) {
        for (const PairFigures* pair : heardPairs(input))
            pairs.push_back(pairJson(input, *pair, rate));
        inputs.push_back(inputJson(input));
        if (const std::optional<double> roundTrip = placedRoundTrip(input)) roundTrips.push_back(*roundTrip);
    }
    json wiring = nullptr;
    if (facts.wiring) {
        wiring = json::array();
        for (const WiredPair& pair : *facts.wiring)
            wiring.push_back({{"output", pair.output}, {"input", pair.input}});
    }
    json swapped = json::array();
    for (const auto& [a, b] : map.swappedInputs)
        swapped.push_back({a, b});
    auto port = [](int input, double roundTrip) {
        return input != 0 ? json{{"input", input}, {"roundTrip", jsonNumber(roundTrip, 4)}} : json(nullptr);
    };
    json findings = json::array();
    for (const MapFinding& finding : channelMapFindings(map, facts.reported))
        findings.push_back(finding.text);

    // The report against every loop: larger than one, short of one, or within for all.
    json reportCheck = nullptr;
    for (double roundTrip : roundTrips) {
        const ReportCheck check = checkReport(facts.reported, roundTrip);
        if (reportCheck.is_null() || reportCheck == reportCheckName(ReportCheck::within))
            reportCheck = reportCheckName(check);
    }
    const bool measured = !roundTrips.empty();
    const double middle = measured ? median(roundTrips) : 0.0;
    const auto [shortest, longest] = std::minmax_element(roundTrips.begin(), roundTrips.end());
    auto samples = [measured](double value) { return measured ? jsonNumber(value, 1) : json(nullptr); };
    return {{"channels", "all"},
            {"wiring", wiring},
            {"inputs", map.inputs},
            {"outputs", map.outputs},
            {"measuredSamples", samples(middle)},
            {"min", samples(measured ? *shortest : 0.0)},
            {"max", samples(measured ? *longest : 0.0)},
            {"measuredMs", measured && rate > 0 ? jsonNumber(1000.0 * middle / rate, 3) : json(nullptr)},
            {"reportedSamples", facts.reported.samples},
            {"bufferSize", facts.reported.bufferSize},
            {"reportCheck", reportCheck},
            {"unreportedSamples", samples(middle - double(facts.reported.samples))},
            {"bandHz", {jsonNumber(map.bandLowHz, 0), jsonNumber(map.bandHighHz, 0)}},
            {"pairs", pairs},
            {"map",
             {{"inputs", inputs},
              {"slipBy", map.slipBy},
              {"swappedInputs", swapped},
              {"roundTripsDiffer", map.roundTripsDiffer},
              {"fastest", port(map.fastestInput, map.fastestRoundTrip)},
              {"slowest", port(map.slowestInput, map.slowestRoundTrip)}}},
            {"findings", findings},
            {"unknownSamples", map.unknownSamples},
            {"rebases", map.rebases}};
}

} // namespace measure
