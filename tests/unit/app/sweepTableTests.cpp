// The sweep's typed rows: what the console table prints of each kind of setting (one that
// ran, one the driver refused, one it took and then could not start), and the JSON
// report's row made from the same row.
#include <gtest/gtest.h>

#include "app/sweep/sweepRow.h"
#include "app/sweep/sweepTable.h"

namespace {

using nlohmann::json;
using W = measure::VerdictWord;

// 48000 Hz, 256 samples: the driver reports 100 samples in and 500 out; the loop measured 624.5.
sweepRow measuredRow() {
    sweepRow row;
    row.rate = 48000;
    row.buffer = 256;
    row.advertised = true;
    row.reportedLatency = sweepRow::latencies{100, 500};
    row.seconds = 1.0004;
    measure::SwitchSummary stats;
    stats.switches = 186;
    stats.expectedSwitches = 187;
    stats.intervalsKnown = true;
    stats.intervalUs.late = 2;
    stats.intervalUs.max = 12345.6;
    stats.hostTimeKnown = true;
    stats.hostLoad = 0.000712;
    row.stats = stats;
    measure::LatencyFacts latency;
    latency.result.burstsFound = 4;
    latency.result.lagMedian = 624.5;
    latency.reportedSamples = 600;
    latency.sampleRate = 48000;
    row.latency = latency;
    row.verdict = measure::Verdict{W::fail, {"2 late switches", "1 gap"}};
    return row;
}

TEST(SweepTable, EachKindOfRowInItsColumns) {
    // Reported is the input latency plus the output latency; the round trip in samples and
    // milliseconds, and what of it the driver does not report.
    EXPECT_EQ(sweepRowLine(measuredRow()),
              "   48000     256       600  624.5 (13.010 ms)       +24.5  186/187    "
              "     2   12.35 ms   0.07%  fail: 2 late switches, 1 gap");

    sweepRow notFound = measuredRow();
    notFound.latency->result.lagAmbiguous = true;
    notFound.verdict = measure::Verdict{W::inconclusive, {"the round trip cannot be told apart"}};
    EXPECT_EQ(sweepRowLine(notFound).substr(0, 57),
              "   48000     256       600  not found                   -");

    sweepRow noLoop = measuredRow();
    noLoop.latency.reset();
    noLoop.verdict = measure::Verdict{};
    EXPECT_EQ(sweepRowLine(noLoop).substr(26, 40), "  -                           -  186/187");
    EXPECT_TRUE(sweepRowLine(noLoop).ends_with("  pass"));

    EXPECT_EQ(
        sweepRowLine(refusedSweepRow(192000, 512, true, "createBuffers answered -5")),
        "  192000     512                                                                                 "
        "refused: createBuffers answered -5");

    // Taken, then not started: what is known, and dashes for what was not measured.
    sweepRow notStarted;
    notStarted.rate = 44100;
    notStarted.buffer = 64;
    notStarted.reportedLatency = sweepRow::latencies{64, 128};
    notStarted.verdict = measure::Verdict{W::fail, {"start answered -1000"}};
    EXPECT_EQ(sweepRowLine(notStarted),
              "   44100      64       192  -                           -  -            "
              "   -          -       -  fail: start answered -1000");
}

TEST(SweepTable, TheReportsRowsFromTheTypedRows) {
    const json ran = sweepRowJson(measuredRow());
    EXPECT_EQ(ran["accepted"], true);
    EXPECT_EQ(ran["advertised"], true);
    EXPECT_TRUE(ran["refusal"].is_null());
    EXPECT_EQ(ran["reportedLatency"], (json{{"input", 100}, {"output", 500}}));
    EXPECT_EQ(ran["seconds"], 1.0);
    EXPECT_EQ(ran["stats"]["switches"], 186);
    EXPECT_EQ(ran["stats"]["late"], 2);
    EXPECT_EQ(ran["latency"]["measuredSamples"], 624.5);
    EXPECT_EQ(ran["latency"]["unreportedSamples"], 24.5);
    EXPECT_EQ(ran["verdict"], "fail");
    EXPECT_EQ(ran["reasons"], (json{"2 late switches", "1 gap"}));

    const json refused = sweepRowJson(refusedSweepRow(192000, 512, false, "setSampleRate answered -995"));
    EXPECT_EQ(refused["accepted"], false);
    EXPECT_EQ(refused["advertised"], false);
    EXPECT_EQ(refused["refusal"], "setSampleRate answered -995");
    for (const char* unknown : {"reportedLatency", "seconds", "stats", "latency", "verdict"})
        EXPECT_TRUE(refused[unknown].is_null()) << unknown;
    EXPECT_EQ(refused["reasons"], json::array());

    sweepRow notStarted = measuredRow();
    notStarted.stats.reset();
    notStarted.latency.reset();
    notStarted.seconds.reset();
    notStarted.verdict = measure::Verdict{W::fail, {"start answered -1000"}};
    const json failed = sweepRowJson(notStarted);
    EXPECT_EQ(failed["accepted"], true);
    EXPECT_TRUE(failed["stats"].is_null());
    EXPECT_TRUE(failed["latency"].is_null());
    EXPECT_EQ(failed["verdict"], "fail");

    EXPECT_EQ(sweepRowsJson({measuredRow(), notStarted}).size(), 2u);
}

} // namespace
