// Writes one HTML report of each kind from synthetic runs whose truth is known, and for
// each the expectations the browser check holds it to (one argument a line):
//   timing       a 20 s run with a gap, a repeat and a late switch at known switches, and
//                stalls of the machine before them all
//   unprobed     a run whose machine probe could not resolve stalls: none is drawn
//   latency      a loopback run with a known round trip, two glitches and a gain of
//                -0.001 dB
//   sweep        two rates × twelve buffer sizes, round trip = 2 buffers + 96 samples,
//                the smallest sizes failing with long reasons and one setting refused
//   conformance  the suite over three drivers, read from its JSON document: one could not
//                be created, one check lists its faults
//   probe        what /probe found, read from its JSON document
//   hour         an hour's run with thousands of events, for the size limit
//
// reportSamples FOLDER
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/fromDocument.h"
#include "report/htmlReport.h"
#include "report/markup.h"
#include "tests/report/syntheticRuns.h"

using namespace report;
using namespace samples;

namespace {

std::string at(double t) {
    return compactNumber(t);
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    return bool(file);
}

bool writeSample(const std::string& folder, const std::string& kind, const ReportData& data,
                 const std::vector<std::string>& expectations) {
    std::string args;
    for (const std::string& line : expectations)
        args += line + "\n";
    return writeFile(folder + "/" + kind + ".html", renderHtmlReport(data)) &&
           writeFile(folder + "/" + kind + ".args", args);
}

bool timingSample(const std::string& folder) {
    ReportData data = baseReport("echoprobe /index=1 /seconds=20 /skipcp /html=timing.html");
    const std::vector<Special> specials = {
        {500, EventKind::gap}, {1200, EventKind::repeat}, {2000, EventKind::lateSwitch}};
    data.timing = simulateTiming(20, specials, 1);
    // Stalls of the machine all through the first three seconds: listed after the
    // driver's events all the same.
    for (int i = 0; i < 30; ++i)
        data.timing->events.push_back({0.1 * i, EventKind::machineStall, "stalled 4.0 ms"});
    std::stable_sort(data.timing->events.begin(), data.timing->events.end(),
                     [](const TimingEvent& a, const TimingEvent& b) { return a.t < b.t; });
    data.timing->eventTotals[size_t(EventKind::machineStall)] = 30;
    data.runSeconds = 20.02; // as a run measures its 20 s
    data.machineProbed = true;
    data.verdict = Outcome::fail;
    data.reasons = {"1 gap", "1 repeat"};
    data.summary = {
        {"Run", "20.000 s, stopped by time limit"},
        {"Switches", "3200 (3200 expected)"},
        {"Continuity", "gaps=1 (300 samples lost), repeats=1, backwards=0, short steps=0, half errors=0"},
        {"Verdict", "fail: 1 gap, 1 repeat"}};
    std::vector<std::string> expect = {
        "--verdict=fail",   "--plot=intervals-histogram", "--plot=intervals-timeline",
        "--plot=host-time", "--no-plot=correlation",      "--no-plot=sweep-round-trip"};
    for (const TimingEvent& event : data.timing->events)
        if (event.kind != EventKind::machineStall)
            expect.push_back(std::string("--mark=") + eventKindName(event.kind) + "@" + at(event.t));
    for (const char* plot : {"intervals-timeline", "host-time"})
        expect.push_back(std::string("--axis-ends=") + plot + "@20.02~0.0001");
    expect.push_back("--mark=machine-stall@0");
    expect.push_back("--first-event=gap");
    return writeSample(folder, "timing", data, expect);
}

bool unprobedSample(const std::string& folder) {
    ReportData data = baseReport("echoprobe /index=1 /seconds=5 /skipcp /html=unprobed.html");
    data.timing = simulateTiming(5, {{400, EventKind::lateSwitch}}, 4);
    for (int i = 0; i < 200; ++i)
        data.timing->events.push_back({0.025 * i, EventKind::machineStall, "stalled 3.0 ms"});
    std::stable_sort(data.timing->events.begin(), data.timing->events.end(),
                     [](const TimingEvent& a, const TimingEvent& b) { return a.t < b.t; });
    data.timing->eventTotals[size_t(EventKind::machineStall)] = 200;
    data.runSeconds = 5.01;
    data.machineProbed = false;
    data.verdict = Outcome::fail;
    data.reasons = {"1 late switch"};
    return writeSample(
        folder, "unprobed", data,
        {"--verdict=fail", "--no-mark=machine-stall", "--note=stalls-unresolved", "--first-event=late-switch",
         "--mark=late-switch@" + at(400 * periodUs / 1e6 + 1.6 * periodUs / 1e6), "--no-text=machine stall"});
}

bool latencySample(const std::string& folder) {
    ReportData data = baseReport("echoprobe /index=1 /latency /seconds=10 /skipcp /html=latency.html");
    data.timing = simulateTiming(10, {}, 2);
    LatencyData latency;
    latency.sampleRate = rate;
    latency.output = latency.input = 1;
    const double roundTrip = 696;
    for (int lag = 680; lag <= 712; ++lag) {
        const double d = lag - roundTrip;
        latency.correlation.push_back(
            {double(lag), d == 0 ? 0.998 : (std::fabs(d) == 1 ? 0.02 : 0.01 * std::sin(lag))});
    }
    latency.foundLag = roundTrip;
    for (int k = 0; k < 20; ++k)
        latency.bursts.push_back({0.5 * k, roundTrip});
    // Two dropouts: 40 samples of silence in the returning sine.
    for (double t : {3.2, 7.45}) {
        GlitchSnapshot snapshot;
        snapshot.t = t;
        snapshot.position = int64_t(t * rate);
        snapshot.windowStart = snapshot.position - 96;
        for (int64_t i = 0; i < 192; ++i) {
            const int64_t q = snapshot.windowStart + i;
            const float expected = float(0.5 * std::sin(2 * std::numbers::pi * double(q % 48) / 48));
            snapshot.expected.push_back(expected);
            snapshot.recorded.push_back(q >= snapshot.position && q < snapshot.position + 40 ? 0.0f
                                                                                             : expected);
        }
        latency.glitchSnapshots.push_back(snapshot);
    }
    latency.roundTripSamples = roundTrip;
    latency.roundTripMs = roundTrip / rate * 1000;
    latency.reportedSamples = 600;
    latency.unreportedSamples = 96;
    latency.glitches = 2;
    latency.gainDb = -0.001;
    data.latency = latency;
    data.runSeconds = 10.0;
    data.verdict = Outcome::fail;
    data.reasons = {"2 glitches"};
    data.summary = {
        {"Latency", "round trip 696 samples (14.500 ms) from output 1 to input 1, over 20 of 20 bursts"},
        {"Reported", "input + output latency 600 samples, unreported latency 96 samples (2.000 ms)"},
        {"Loop", "gain 0.00 dB, not inverted, 2 glitches"}};
    return writeSample(folder, "latency", data,
                       {"--verdict=fail", "--plot=correlation", "--plot=round-trips", "--plot=glitch-1",
                        "--plot=glitch-2", "--plot=intervals-timeline", "--mark=glitch@3.2",
                        "--mark=glitch@7.45", "--fact=gain~0.00 dB, not inverted", "--no-text=-0.00",
                        "--axis-ends=round-trips@10~0.0001"});
}

bool sweepSample(const std::string& folder) {
    ReportData data = baseReport("echoprobe /index=1 /sweep /latency /html=sweep.html");
    const int32_t sizes[] = {32, 48, 64, 96, 128, 192, 256, 300, 384, 512, 1024, 2048};
    for (double sweepRate : {44100.0, 48000.0}) {
        for (int32_t size : sizes) {
            SweepRow row;
            row.rate = sweepRate;
            row.buffer = size;
            if (sweepRate == 44100 && size == 2048) {
                row.accepted = false;
                row.refusal = "createBuffers answered -997";
                row.verdict.reset();
                data.sweep.push_back(row);
                continue;
            }
            row.inputLatency = row.outputLatency = size;
            row.roundTripSamples = 2.0 * size + 96;
            row.roundTripMs = *row.roundTripSamples / sweepRate * 1000;
            row.unreportedSamples = 96;
            row.expectedSwitches = uint64_t(2 * sweepRate / size);
            const bool dropping = size <= 48;
            row.lateSwitches = dropping ? 40 : 0;
            row.switches = row.expectedSwitches - (dropping ? 12 : 0);
            row.longestIntervalUs = size / sweepRate * 1e6 * (dropping ? 2.4 : 1.02);
            row.hostLoad = 150 / (size / sweepRate * 1e6);
            row.verdict = dropping ? Outcome::fail : Outcome::pass;
            if (dropping)
                row.reasons = {"452 switches missing (259 of 711 expected)", "258 gaps", "219 late switches",
                               "202 glitches",
                               "the rate could not be measured: the positions broke 258 times in 2.1 s"};
            data.sweep.push_back(row);
        }
    }
    data.verdict = Outcome::fail;
    data.reasons = {"4 of 23 settings failed", "1 setting refused"};
    return writeSample(
        folder, "sweep", data,
        {"--verdict=fail", "--plot=sweep-round-trip", "--sweep-matches-table", "--no-plot=host-time",
         "--sweep-row=44100/2048=refused", "--sweep-row=48000/32=fail", "--sweep-row=48000/64=pass",
         "--sweep-mark=refused@44100/2048", "--sweep-mark=failed@48000/32", "--sweep-mark=failed@44100/48",
         "--sweep-point=44100/32/160", "--sweep-point=48000/2048/4192", "--max-row-height=sweep@64"});
}

bool conformanceSample(const std::string& folder) {
    using nlohmann::json;
    const char* ids[] = {"init-twice",          "buffer-size-legal",     "rates-listed",
                         "start-stop-start",    "dispose-while-running", "latencies-after-rate-change",
                         "callback-after-stop", "output-ready"};
    const char* names[] = {"Echoprobe Reference", "Unloadable", "Echoprobe Reference Loopback"};
    json drivers = json::array();
    for (int d = 0; d < 3; ++d) {
        json checks = json::array();
        for (size_t i = 0; d != 1 && i < std::size(ids); ++i) {
            const char* result = d == 2 && i == 6   ? "fail"
                                 : d == 0 && i == 7 ? "skip"
                                 : i == 5           ? "warn"
                                                    : "pass";
            json check = {
                {"id", ids[i]}, {"result", result}, {"detail", ""}, {"seconds", 0.05 * double(i + 1)}};
            if (d == 2 && i == 6) {
                check["detail"] = "a callback came 12 ms after stop; 2 more faults";
                check["faults"] = {"a callback came 12 ms after stop", "a callback came 25 ms after stop",
                                   "outputReady came after stop"};
            }
            checks.push_back(check);
        }
        drivers.push_back({{"index", d},
                           {"description", names[d]},
                           {"failure", d == 1 ? json("The driver could not be created, error code=0x80004005")
                                              : json(nullptr)},
                           {"checks", checks}});
    }
    ReportData data = reportDataFromDocument({{"conformance", {{"drivers", drivers}}},
                                              {"verdict", "fail"},
                                              {"reasons", {"1: create-release", "2: callback-after-stop"}}});
    data.tool = {"1.4.0", 64, "2026-12-07 14:00 (synthetic data)",
                 "echoprobe /conform /index=all /html=conformance.html"};
    return writeSample(folder, "conformance", data,
                       {"--verdict=fail", "--check=2: Echoprobe Reference Loopback:callback-after-stop=fail",
                        "--check=0: Echoprobe Reference:callback-after-stop=pass",
                        "--check=0: Echoprobe Reference:output-ready=skip", "--no-plot=intervals-timeline",
                        "--drivers=3", "--faults=2: Echoprobe Reference Loopback:callback-after-stop=3"});
}

bool probeSample(const std::string& folder) {
    using nlohmann::json;
    json rates = json::object();
    for (double rate : {8000.0, 44100.0, 48000.0, 96000.0, 192000.0, 384000.0})
        rates[compactNumber(rate)] = rate >= 44100 && rate <= 192000;
    const json probe = {
        {"rates", rates},
        {"clockSources",
         {{{"index", 0}, {"name", "Internal"}, {"channel", -1}, {"group", -1}, {"current", false}},
          {{"index", 1}, {"name", "Word Clock"}, {"channel", -1}, {"group", 1}, {"current", true}}}},
        {"bufferSizes",
         {{"min", 32},
          {"max", 4096},
          {"preferred", 256},
          {"granularity", -1},
          {"legal", {32, 64, 128, 256, 512, 1024, 2048, 4096}},
          {"legalCount", 8},
          {"createdMin", true},
          {"createdMax", true}}},
        {"features",
         {{"future", {{"canTimeInfo", true}, {"canTimeCode", true}, {"canInputMonitor", false}}},
          {"messagesAsked", {{"selectorSupported", 2}, {"supportsTimeInfo", 2}}},
          {"outputReady", false}}}};
    ReportData data = reportDataFromDocument({{"probe", probe}});
    const ReportData base = baseReport("echoprobe /index=1 /probe /skipcp /html=probe.html");
    data.tool = base.tool;
    data.driver = base.driver;
    data.figures = base.figures;
    data.channels = base.channels;
    return writeSample(folder, "probe", data,
                       {"--fact=rates~44100, 48000, 96000, 192000 Hz; not 8000, 384000 Hz",
                        "--fact=legal-sizes~8: 32, 64", "--fact=created~the smallest: yes; the largest: yes",
                        "--fact=features~answers canTimeCode, canTimeInfo; not canInputMonitor",
                        "--fact=output-ready~not wanted", "--no-plot=intervals-timeline"});
}

bool hourSample(const std::string& folder) {
    const ReportData data = hourReport();
    const TimingEvent firstGap = *std::find_if(data.timing->events.begin(), data.timing->events.end(),
                                               [](const TimingEvent& e) { return e.kind == EventKind::gap; });
    return writeSample(folder, "hour", data,
                       {"--verdict=fail", "--plot=intervals-timeline", "--plot=round-trips",
                        "--max-bytes=2000000", "--max-points=2000", "--mark=gap@" + at(firstGap.t)});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: reportSamples FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const bool written = timingSample(folder) && unprobedSample(folder) && latencySample(folder) &&
                         sweepSample(folder) && conformanceSample(folder) && probeSample(folder) &&
                         hourSample(folder);
    if (!written) {
        std::fprintf(stderr, "reportSamples: cannot write the reports into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
