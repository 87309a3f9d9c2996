// Writes one HTML report of each kind from synthetic runs whose truth is known, and for
// each the expectations the browser check holds it to (one argument a line):
//   timing       a 20 s run with a gap, a repeat and a late switch at known switches
//   latency      a loopback run with a known round trip and two glitches
//   sweep        two rates × twelve buffer sizes, round trip = 2 buffers + 96 samples,
//                the smallest sizes failing and one setting refused
//   conformance  the check tables of two drivers
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
        expect.push_back(std::string("--mark=") + eventKindName(event.kind) + "@" + at(event.t));
    return writeSample(folder, "timing", data, expect);
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
    data.latency = latency;
    data.verdict = Outcome::fail;
    data.reasons = {"2 glitches"};
    data.summary = {
        {"Latency", "round trip 696 samples (14.500 ms) from output 1 to input 1, over 20 of 20 bursts"},
        {"Reported", "input + output latency 600 samples, unreported latency 96 samples (2.000 ms)"},
        {"Loop", "gain 0.00 dB, not inverted, 2 glitches"}};
    return writeSample(folder, "latency", data,
                       {"--verdict=fail", "--plot=correlation", "--plot=round-trips", "--plot=glitch-1",
                        "--plot=glitch-2", "--plot=intervals-timeline", "--mark=glitch@3.2",
                        "--mark=glitch@7.45"});
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
                row.refusal = "createBuffers failed (-997)";
                row.verdict = Outcome::error;
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
            if (dropping) row.reasons = {"12 gaps", "40 late switches"};
            data.sweep.push_back(row);
        }
    }
    data.verdict = Outcome::fail;
    data.reasons = {"4 of 23 settings failed", "1 setting refused"};
    return writeSample(
        folder, "sweep", data,
        {"--verdict=fail", "--plot=sweep-round-trip", "--sweep-matches-table", "--no-plot=host-time"});
}

bool conformanceSample(const std::string& folder) {
    ReportData data;
    data.tool = {"1.4.0", 64, "2026-12-07 14:00 (synthetic data)",
                 "echoprobe /conform /html=conformance.html"};
    const char* ids[] = {"init-twice",          "buffer-size-legal",     "rates-listed",
                         "start-stop-start",    "dispose-while-running", "latencies-after-rate-change",
                         "callback-after-stop", "output-ready"};
    for (int d = 0; d < 2; ++d) {
        ConformanceDriver driver;
        driver.driver = d == 0 ? "Echoprobe Reference" : "Echoprobe Reference Loopback";
        for (size_t i = 0; i < std::size(ids); ++i) {
            const CheckResult result = d == 1 && i == 6   ? CheckResult::fail
                                       : d == 0 && i == 7 ? CheckResult::skip
                                       : i == 5           ? CheckResult::warn
                                                          : CheckResult::pass;
            driver.checks.push_back({ids[i], result,
                                     result == CheckResult::fail ? "a callback came 12 ms after stop" : "",
                                     0.05 * double(i + 1)});
        }
        data.conformance.push_back(driver);
    }
    data.verdict = Outcome::fail;
    data.reasons = {"1 check failed"};
    return writeSample(folder, "conformance", data,
                       {"--verdict=fail", "--check=Echoprobe Reference Loopback:callback-after-stop=fail",
                        "--check=Echoprobe Reference:callback-after-stop=pass",
                        "--check=Echoprobe Reference:output-ready=skip", "--no-plot=intervals-timeline"});
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
    const bool written = timingSample(folder) && latencySample(folder) && sweepSample(folder) &&
                         conformanceSample(folder) && hourSample(folder);
    if (!written) {
        std::fprintf(stderr, "reportSamples: cannot write the reports into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
