#include "tests/unit/lab/labDocuments.h"

#include "measure/runDocument.h"
#include "measure/verdict.h"

namespace labtest {

using json = nlohmann::json;

json measuredRun(const std::string& driver, const RunFaults& faults) {
    measure::RunDocument document;
    document.setTool("1.0", 64);
    document.setDriver({1, 1, driver, "{E0B0A001-7C3D-4E5F-8A9B-0C1D2E3F4A32}", "Loop", 3, ""});
    measure::FigureFacts figures;
    figures.inputs = figures.outputs = 2;
    figures.bufferMin = 64;
    figures.bufferMax = 2048;
    figures.bufferPreferred = figures.bufferActual = 256;
    figures.sampleRate = 48000;
    figures.inputLatency = figures.outputLatency = 300;
    document.setFigures(figures);
    document.setRun({2.0, faults.interruptSignal ? "signal" : "time limit", faults.interruptSignal, {}});

    measure::RunFacts facts;
    facts.seconds = 2.0;
    facts.stats.switches = facts.stats.expectedSwitches = 375;
    facts.stats.intervalsKnown = true;
    facts.stats.intervalUs.late = faults.late;
    facts.stats.gaps = faults.gaps;
    facts.stats.samplesLost = static_cast<int64_t>(faults.gaps) * 256;
    facts.stats.gapBuffers = faults.gaps;
    facts.stats.measuredRate = 48000.0;
    facts.stats.rateErrorPpm = 0.0;
    facts.stats.expectedByDriverClock = 375;
    facts.machine.probed = true;
    facts.interruptSignal = faults.interruptSignal;
    measure::LatencyResult latency;
    latency.burstsSent = latency.burstsFound = 4;
    latency.lags = {696, 696, 696, 696};
    latency.lagMin = latency.lagMedian = latency.lagMax = 696;
    latency.lagConsistent = true;
    latency.integrityMeasured = true;
    latency.glitches = faults.glitches;
    facts.latency = latency;

    document.setStats(facts.stats, {});
    measure::LatencyFacts loop;
    loop.result = latency;
    loop.output = loop.input = 1;
    loop.reportedSamples = 600;
    loop.bufferSize = 256;
    loop.sampleRate = 48000;
    document.setLatency(loop);
    document.setVerdict(measure::judgeRun(facts));
    return document.document();
}

json failedRun(const std::string& failure) {
    measure::RunDocument document;
    document.setTool("1.0", 64);
    document.setFailure(failure);
    document.setVerdict({measure::VerdictWord::error, {failure}});
    return document.document();
}

json sweepWithRefusal() {
    measure::RunDocument document;
    document.setTool("1.0", 64);
    document.setDriver({0, 0, "Sweep.Driver", "{...}", "Sweeper", 7, ""});
    measure::RunDocument row;
    measure::SwitchSummary stats;
    stats.switches = stats.expectedSwitches = 375;
    row.setStats(stats, {});
    row.setVerdict({});
    json rows = json::array();
    rows.push_back({{"rate", 48000.0},
                    {"buffer", 64},
                    {"accepted", false},
                    {"refusal", "createBuffers refused 64 samples"},
                    {"stats", nullptr},
                    {"latency", nullptr},
                    {"verdict", nullptr},
                    {"reasons", json::array()},
                    {"seconds", nullptr}});
    rows.push_back({{"rate", 48000.0},
                    {"buffer", 128},
                    {"accepted", true},
                    {"refusal", nullptr},
                    {"stats", row.document()["stats"]},
                    {"latency", nullptr},
                    {"verdict", "pass"},
                    {"reasons", json::array()},
                    {"seconds", 1.0}});
    document.setSection("sweep", rows);
    document.setVerdict({});
    return document.document();
}

json suiteWithFailure() {
    measure::RunDocument document;
    document.setTool("1.0", 64);
    document.setDriver({0, 0, "Suite driver", "{...}", "Suite", 2, ""});
    const json checks =
        json::array({{{"id", "figures"},
                      {"result", "pass"},
                      {"detail", "2 in, 2 out"},
                      {"faults", json::array()},
                      {"seconds", 0.001}},
                     {{"id", "start-stop"},
                      {"result", "fail"},
                      {"detail", "cycle 1: 3 callbacks after stop"},
                      {"faults", json::array({"cycle 1: 3 callbacks after stop", "cycle 2: stop took 3 s"})},
                      {"seconds", 0.5}}});
    document.setSection("conformance", {{"checks", checks}, {"total", 2}, {"passed", 1}, {"failed", 1}});
    document.setVerdict({measure::VerdictWord::fail, {"start-stop"}});
    return document.document();
}

} // namespace labtest
