// The JSON document: the same keys on every path, nothing that is no number written as
// one, and the signs of the figures a script reads.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "measure/runDocument.h"

using namespace measure;
using json = nlohmann::json;

namespace {

// Every key path of the document down to the leaves (list items not included).
std::set<std::string> keyPaths(const json& node, const std::string& prefix = "") {
    std::set<std::string> paths;
    if (!node.is_object()) return paths;
    for (const auto& [key, value] : node.items()) {
        paths.insert(prefix + key);
        for (const std::string& deeper : keyPaths(value, prefix + key + "."))
            paths.insert(deeper);
    }
    return paths;
}

} // namespace

// A run that failed before anything and one that ran to the end carry the same keys
// in the sections every run has; what is unknown is null.
TEST(RunDocument, OneSchemaOnEveryPath) {
    RunDocument failed;
    failed.setFailure("No ASIO drivers found.");
    failed.setVerdict({VerdictWord::error, {"No ASIO drivers found."}});

    RunDocument ran;
    ran.setDriver({0, 0, "reference", "{...}", "Echoprobe Reference", 3, ""});
    ran.setFigures({});
    ran.setRun({4.0, "time limit", 0, {}});
    SwitchSummary stats;
    stats.switches = 640;
    stats.intervalsKnown = stats.hostTimeKnown = true;
    ran.setStats(stats, {});
    MachineFacts machine;
    machine.probed = true;
    machine.stalls = 2;
    machine.longestStallMs = 3.5;
    machine.lateSwitchesInStalls = 1;
    ran.setMachine(machine);
    ran.setHost({}, 0);
    ran.setVerdict({});

    std::set<std::string> before = keyPaths(failed.document()), after = keyPaths(ran.document());
    // The messages a run received add keys under "other"; none came here.
    EXPECT_EQ(before, after);
    EXPECT_TRUE(failed.document()["stats"]["intervalUs"]["mean"].is_null());
    EXPECT_TRUE(failed.document()["driver"]["index"].is_null());
    EXPECT_EQ(ran.document()["stats"]["switches"], 640);
    EXPECT_EQ(failed.document()["verdict"], "error");
    EXPECT_EQ(ran.document()["verdict"], "pass");
}

TEST(RunDocument, LatencyFiguresKeepTheirSignAndNoNumberIsNull) {
    RunDocument document;
    LatencyFacts facts;
    facts.reportedSamples = 900;
    facts.sampleRate = 48000;
    facts.result.burstsSent = facts.result.burstsFound = 5;
    facts.result.lagMin = facts.result.lagMedian = facts.result.lagMax = 696.5;
    facts.result.lagConsistent = true;
    facts.result.gainDb = -INFINITY; // a loop that returned nothing of the sine
    document.setLatency(facts);
    const json& latency = document.document()["latency"];
    EXPECT_EQ(latency["measuredSamples"], 696.5);
    EXPECT_EQ(latency["unreportedSamples"], -203.5);
    EXPECT_EQ(latency["measuredMs"], 14.51);
    EXPECT_TRUE(latency["gainDb"].is_null());
    EXPECT_TRUE(latency["precise"].is_null()); // no burst was fitted

    facts.result.precise = roundTripFigures({696.371, 696.369}, {0.001, 0.001}, {0, 24000});
    document.setLatency(facts);
    const json& precise = document.document()["latency"]["precise"];
    EXPECT_EQ(precise["samples"], 696.37);
    EXPECT_EQ(precise["text"], "696.37 ± 0.02");
    EXPECT_EQ(precise["bandHz"], json({1500, 19200}));

    facts.result.lagAmbiguous = true;
    document.setLatency(facts);
    EXPECT_TRUE(document.document()["latency"]["measuredSamples"].is_null()) << "a lag that cannot be told is no lag";
}
