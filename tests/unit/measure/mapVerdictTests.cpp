// A channel map's findings in the verdict's words, on maps the analysis made of synthetic
// wires: faults of several kinds in one map each read once (a swap, a mix with its level,
// an input that hears nothing) while an inverted pair and a slower port are no fault; a
// slip reads as one finding; the report is held against the shortest and the longest
// loop; an input never searched is inconclusive, not deaf; the document holds it all.
// Also the single pair's report against its round trip, at the edges of its room.
#include <gtest/gtest.h>

#include <algorithm>

#include "measure/channelMap/channelMap.h"
#include "measure/channelMap/mapJson.h"
#include "measure/channelMap/mapVerdict.h"
#include "syntheticWires.h"

using namespace measure;
using synthetic::Wire;

namespace {

constexpr double mapRate = 24000.0; // a cycle of 12000 samples keeps the tests short
const int64_t mapFourCycles = 4 * 12000 + 6000;

ChannelMapResult mapOf(int outputs, const std::vector<Wire>& wires, int inputs, int64_t length) {
    const ChannelSignals signals = *makeChannelSignals(mapRate, outputs);
    const auto samples = synthetic::wireInputs(signals, inputs, wires, length);
    std::string error;
    ChannelMapAnalyser analyser(signals, inputs, *expectedOutputs(inputs, outputs, std::nullopt, error));
    std::vector<const float*> channels(size_t(inputs), nullptr);
    for (int64_t at = 0; at < length; at += 256) {
        const size_t count = size_t(std::min<int64_t>(256, length - at));
        for (size_t i = 0; i < channels.size(); ++i)
            channels[i] = samples[i].data() + at;
        analyser.addInput(at, channels.data(), count);
    }
    return analyser.result();
}

std::vector<std::string> texts(const std::vector<MapFinding>& findings, VerdictWord word) {
    std::vector<std::string> found;
    for (const MapFinding& finding : findings)
        if (finding.word == word) found.push_back(finding.text);
    return found;
}

const std::vector<double> delays = {96.37, 97.12, 98.5, 99.01, 100.77, 101.33, 140.26, 102.95};

} // namespace

TEST(MapVerdict, EachFaultReadsOnceAndAnInvertedPairOrASlowPortIsNone) {
    // Inputs 1 and 2 swapped, output 4 mixed into input 3 at -20 dB, input 5 unconnected,
    // input 6 inverted, input 7 slower than the rest.
    const std::vector<Wire> wires = {{2, 1, 96.37},        {1, 2, 96.37}, {3, 3, 96.37},
                                     {4, 3, 96.37, -20.0}, {4, 4, 96.37}, {6, 6, 96.37, 0.0, true},
                                     {7, 7, 140.26},       {8, 8, 96.37}};
    const ChannelMapResult map = mapOf(8, wires, 8, mapFourCycles);
    const std::vector<MapFinding> findings = channelMapFindings(map, std::nullopt);
    EXPECT_EQ(texts(findings, VerdictWord::fail),
              (std::vector<std::string>{"input 5 hears no output",
                                        "inputs 1 and 2 hear each other's outputs (a swap)",
                                        "input 3 hears output 4 beside output 3 (a mix at -20.0 dB)"}));
    EXPECT_TRUE(texts(findings, VerdictWord::inconclusive).empty());
    const std::vector<std::string> said = texts(findings, VerdictWord::pass);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("(input 7)"), std::string::npos) << said[0];

    Verdict verdict;
    judgeChannelMap(map, std::nullopt, verdict);
    EXPECT_EQ(verdict.word, VerdictWord::fail);
    EXPECT_EQ(verdict.reasons.size(), 3u) << "the slower port is said, not judged";

    // The document: every pair heard with its figures, and what each input hears.
    const nlohmann::json document = channelMapJson({map, std::nullopt, {96, 64}, mapRate});
    EXPECT_EQ(document["pairs"].size(), 7u) << "input 5 hears none; output 4 in input 3 is a level";
    for (const nlohmann::json& pair : document["pairs"]) {
        if (pair["input"] != 6) continue;
        EXPECT_EQ(pair["output"], 6);
        EXPECT_TRUE(pair["inverted"].get<bool>());
        EXPECT_NEAR(pair["precise"]["samples"].get<double>(), 96.37, 0.02);
        EXPECT_LT(pair["crosstalkDb"].get<double>(), -60.0);
    }
    const nlohmann::json& third = document["map"]["inputs"][2];
    EXPECT_EQ(third["hears"], nlohmann::json({3}));
    EXPECT_NEAR(third["levelsDb"][3].get<double>(), -20.0, 0.2);
    EXPECT_TRUE(document["map"]["inputs"][4]["hearsNothing"].get<bool>());
    EXPECT_EQ(document["map"]["swappedInputs"], nlohmann::json::parse("[[1, 2]]"));
    EXPECT_EQ(document["map"]["slowest"]["input"], 7);
    EXPECT_EQ(document["findings"].size(), findings.size());
    EXPECT_EQ(document["reportCheck"], "within");
}

TEST(MapVerdict, ASlipReadsAsOneFinding) {
    std::vector<Wire> wires;
    for (int k = 1; k <= 7; ++k)
        wires.push_back({k, k + 1, 200.0});
    const std::vector<MapFinding> findings = channelMapFindings(mapOf(8, wires, 8, mapFourCycles), std::nullopt);
    EXPECT_EQ(
        texts(findings, VerdictWord::fail),
        (std::vector<std::string>{"input 1 hears no output",
                                  "a slip by 1 channel: inputs 2 to 8 hear the output 1 before their own "
                                  "(input 2 hears output 1)"}));
}

TEST(MapVerdict, TheReportIsHeldAgainstTheShortestAndTheLongestLoop) {
    const ChannelMapResult map = mapOf(8, synthetic::straightWires(delays), 8, mapFourCycles);
    // Larger than the loop of 96.37 by more than a sample (and not than the one of 97.12).
    std::vector<std::string> faults =
        texts(channelMapFindings(map, ReportedLatency{98, 64}), VerdictWord::fail);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0],
              "reports 98 samples at 64-sample buffers; the loop of output 1 to input 1 measured 96.4");
    // Short of the loop of 140.26 by more than a buffer of 64 (of 102.95 by less).
    faults = texts(channelMapFindings(map, ReportedLatency{40, 64}), VerdictWord::fail);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(
        faults[0].rfind(
            "reports 40 samples at 64-sample buffers; the loop of output 7 to input 7 measured 140.", 0),
        0u)
        << faults[0];
    // Short of every loop: the longest is named, with how many more.
    faults = texts(channelMapFindings(map, ReportedLatency{10, 32}), VerdictWord::fail);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_NE(faults[0].find("output 7 to input 7 measured 140."), std::string::npos);
    EXPECT_NE(faults[0].find("(7 more loops alike)"), std::string::npos) << faults[0];
    EXPECT_TRUE(texts(channelMapFindings(map, ReportedLatency{96, 64}), VerdictWord::fail).empty());
}

TEST(MapVerdict, AnInputNeverSearchedIsInconclusiveNotDeaf) {
    const ChannelMapResult map = mapOf(2, synthetic::straightWires({96.0, 96.0}), 2, 9000);
    const std::vector<MapFinding> findings = channelMapFindings(map, ReportedLatency{600, 300});
    EXPECT_TRUE(texts(findings, VerdictWord::fail).empty());
    EXPECT_EQ(texts(findings, VerdictWord::inconclusive),
              std::vector<std::string>{"no measurement burst could be searched for in inputs 1 and 2"});
}

TEST(MapVerdict, InputsAreNamedInRuns) {
    EXPECT_EQ(inputsText({3}), "input 3");
    EXPECT_EQ(inputsText({4, 1}), "inputs 1 and 4");
    EXPECT_EQ(inputsText({12, 1, 2, 3, 4, 5, 6, 7, 8, 10}), "inputs 1 to 8, 10 and 12");
    EXPECT_EQ(inputsText({1, 2, 4, 5}), "inputs 1, 2, 4 and 5");
}

// A report is false when larger than the round trip by a sample or more, and too short
// when the round trip exceeds it by more than a buffer and a sample; between, within.
TEST(ReportedLatency, IsHeldAgainstTheRoundTripWithASampleOfRoom) {
    const ReportedLatency report{600, 64};
    EXPECT_EQ(checkReport(report, 600.0), ReportCheck::within);
    EXPECT_EQ(checkReport(report, 599.1), ReportCheck::within);
    EXPECT_EQ(checkReport(report, 599.0), ReportCheck::larger);
    EXPECT_EQ(checkReport(report, 665.0), ReportCheck::within);
    EXPECT_EQ(checkReport(report, 665.1), ReportCheck::tooShort);
    EXPECT_EQ(reportFaultText({600, 64}, 224.0, "the loop"),
              "reports 600 samples at 64-sample buffers; the loop measured 224");
    EXPECT_EQ(reportFaultText({900, 300}, 696.54, "the loop"),
              "reports 900 samples at 300-sample buffers; the loop measured 696.5");

    // The single pair's verdict says the same, once the loop is placed.
    RunFacts facts;
    facts.stats.switches = facts.stats.expectedSwitches = 640;
    facts.stats.expectedByDriverClock = 640;
    facts.stats.intervalsKnown = facts.stats.hostTimeKnown = true;
    facts.stats.measuredRate = 48000.0;
    facts.stats.rateErrorPpm = 0.0;
    facts.machine.probed = true;
    LatencyResult loop;
    loop.burstsSent = loop.burstsFound = 5;
    loop.lagMedian = loop.lagMin = loop.lagMax = 224.0;
    loop.lagConsistent = true;
    facts.latency = loop;
    facts.reported = ReportedLatency{600, 64};
    EXPECT_EQ(judgeRun(facts).reasons,
              std::vector<std::string>{"reports 600 samples at 64-sample buffers; the loop measured 224"});
    facts.reported = ReportedLatency{128, 64};
    EXPECT_EQ(judgeRun(facts).reasons,
              std::vector<std::string>{"reports 128 samples at 64-sample buffers; the loop measured 224"});
    facts.reported = ReportedLatency{160, 64};
    EXPECT_TRUE(judgeRun(facts).passed());
    facts.latency->lagAmbiguous = true; // the round trip is not known: nothing to hold the report against
    facts.reported = ReportedLatency{600, 64};
    EXPECT_EQ(judgeRun(facts).reasons, std::vector<std::string>{"the round trip could not be told apart"});
}
