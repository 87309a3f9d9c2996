// What /baseline costs at the end of a run: two sweep documents of 12 settings (two rates,
// six buffer sizes) compared, and the baseline's text read and judged as the run does.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include "baseline/comparison.h"
#include "baseline/judgement.h"

namespace {

using nlohmann::json;

// A setting's row with every key a sweep writes that the comparison reads, and the rest
// of a row's bulk (the interval figures, the messages) as a real row has it.
json sweepRow(double rate, int buffer, double roundTrip, const std::string& verdict) {
    json stats = {{"backwards", 0},
                  {"expectedSwitches", 186},
                  {"gaps", 0},
                  {"halfErrors", 0},
                  {"hostLoad", 0.002},
                  {"late", 1},
                  {"overlaps", 0},
                  {"positionJumps", 0},
                  {"repeats", 0},
                  {"samplesLost", 0},
                  {"shortSteps", 0},
                  {"switches", 187},
                  {"hostUs", {{"max", 374.4}, {"mean", 11.5}}},
                  {"intervalUs", {{"max", 6022.9}, {"mean", 5804.9}, {"min", 5601.6}, {"p99", 5973.0}}},
                  {"messages", {{"bufferSizeChange", 0}, {"overload", 0}, {"resetRequest", 0}}}};
    json latency = {{"bufferSize", buffer},
                    {"bursts", 2},
                    {"glitches", 0},
                    {"measuredSamples", roundTrip},
                    {"reportedSamples", 2 * buffer + 300},
                    {"glitchPositions", json::array()}};
    return {{"rate", rate},       {"buffer", buffer},
            {"accepted", true},   {"advertised", true},
            {"verdict", verdict}, {"reasons", json::array()},
            {"seconds", 1.0},     {"stats", stats},
            {"latency", latency}, {"reportedLatency", {{"input", buffer}, {"output", buffer + 300}}}};
}

// `slower`: every round trip 8 samples longer and the smallest buffer failing, as a
// driver build that got worse.
json sweepDocument(bool slower) {
    json rows = json::array();
    for (double rate : {44100.0, 48000.0})
        for (int buffer : {64, 128, 256, 512, 1024, 2048})
            rows.push_back(sweepRow(rate, buffer, 2.0 * buffer + 32 + (slower ? 8 : 0),
                                    slower && buffer == 64 ? "fail" : "pass"));
    return {{"tool", {{"name", "echoprobe"}, {"version", "1.0"}}},
            {"driver", {{"name", "Reference"}, {"description", "Reference device"}, {"version", 3}}},
            {"figures", {{"inputs", 2}, {"outputs", 2}, {"sampleRate", 48000.0}}},
            {"sweep", rows},
            {"verdict", slower ? "fail" : "pass"},
            {"reasons", json::array()}};
}

void BM_CompareSweeps(benchmark::State& state) {
    const json before = sweepDocument(false), after = sweepDocument(true);
    size_t changes = 0;
    for (auto _ : state) {
        const baseline::Comparison comparison = baseline::compareDocuments(before, after);
        changes = comparison.changes.size();
        benchmark::DoNotOptimize(changes);
    }
    state.counters["changes"] = static_cast<double>(changes);
}
BENCHMARK(BM_CompareSweeps);

// The baseline's text parsed, then judged: the lines, the section and the reasons.
void BM_ReadAndJudgeSweep(benchmark::State& state) {
    const std::string text = sweepDocument(false).dump(2);
    const json after = sweepDocument(true);
    for (auto _ : state) {
        baseline::BaselineFile file;
        file.document = json::parse(text);
        const baseline::Judgement judgement = baseline::judgeAgainst(file, "last-good.json", after);
        benchmark::DoNotOptimize(judgement.lines.data());
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ReadAndJudgeSweep);

} // namespace
