// The timing plots a supervised child passes on while it runs: what the parent gathers
// from the pieces, sent through text as over the pipe, is what the child's own data would
// draw at that moment, whatever the run showed (gaps, a late switch, intervals beyond the
// histogram); each piece holds only what changed; a new run's first piece starts afresh.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/html/plotData.h"
#include "app/html/timingRelay.h"
#include "measure/switchTiming.h"

namespace {

constexpr int64_t originNs = 5'000'000'000;
constexpr int32_t buffer = 300;
constexpr int64_t periodNs = 6'250'000;

// Switch n of a run at 48000 Hz: jittered entries, a gap of one buffer at switch 200, a
// switch 17 ms late at 500, a stall of 80 ms (beyond the histogram) at 900.
measure::SwitchRecord recordOf(int64_t n) {
    measure::SwitchRecord record;
    const int64_t jitter = (n * 7919 % 97) * 1000;
    int64_t entry = originNs + 2'000'000 + n * periodNs + jitter;
    if (n == 500) entry += 17'000'000;
    if (n >= 900) entry += 80'000'000;
    record.entryNs = entry;
    record.exitNs = entry + 150'000;
    record.position = (n + (n >= 200 ? 1 : 0)) * buffer;
    record.positionValid = true;
    record.half = static_cast<int32_t>((n + (n >= 200 ? 1 : 0)) % 2);
    return record;
}

void expectSame(const report::TimingData& gathered, const report::TimingData& own) {
    EXPECT_EQ(gathered.periodUs, own.periodUs);
    EXPECT_EQ(gathered.lateThresholdUs, own.lateThresholdUs);
    ASSERT_EQ(gathered.timeline.size(), own.timeline.size());
    for (size_t i = 0; i < own.timeline.size(); ++i) {
        const report::TimelineBin &a = gathered.timeline[i], &b = own.timeline[i];
        EXPECT_DOUBLE_EQ(a.t, b.t) << i;
        EXPECT_EQ(a.switches, b.switches) << i;
        EXPECT_EQ(a.intervals, b.intervals) << i;
        EXPECT_DOUBLE_EQ(a.intervalMinUs, b.intervalMinUs) << i;
        EXPECT_DOUBLE_EQ(a.intervalMeanUs, b.intervalMeanUs) << i;
        EXPECT_DOUBLE_EQ(a.intervalMaxUs, b.intervalMaxUs) << i;
        EXPECT_DOUBLE_EQ(a.hostMeanUs, b.hostMeanUs) << i;
        EXPECT_DOUBLE_EQ(a.hostMaxUs, b.hostMaxUs) << i;
    }
    ASSERT_EQ(gathered.events.size(), own.events.size());
    for (size_t i = 0; i < own.events.size(); ++i) {
        EXPECT_DOUBLE_EQ(gathered.events[i].t, own.events[i].t);
        EXPECT_EQ(gathered.events[i].kind, own.events[i].kind);
        EXPECT_EQ(gathered.events[i].detail, own.events[i].detail);
    }
    EXPECT_EQ(gathered.intervalCounts, own.intervalCounts);
    EXPECT_EQ(gathered.longIntervals, own.longIntervals);
    EXPECT_EQ(gathered.eventTotals, own.eventTotals);
}

TEST(TimingRelay, TheParentGathersWhatTheChildMeasuredPieceByPiece) {
    measure::SwitchTiming timing(buffer, 48000);
    timing.setOrigin(originNs);
    timingNews news;
    report::TimingData gathered;
    int64_t n = 0;
    size_t binsBefore = 0;
    for (int pass = 0; pass < 70; ++pass) {
        // A pass of the status loop takes in what came in 100 ms; one pass takes in a
        // whole second's switches, as after the main thread fell behind.
        const int64_t until = n + (pass == 40 ? 160 : 16);
        for (; n < until; ++n)
            timing.add(recordOf(n));
        const measure::SwitchSummary counts = timing.summary(originNs, originNs);
        const nlohmann::json piece = news.since(timing, counts, originNs);
        ASSERT_TRUE(piece.is_object());
        EXPECT_EQ(piece.contains("first"), pass == 0);
        // The bins since the last piece, and the one it told last (which may have filled).
        if (pass > 0) {
            EXPECT_EQ(piece["bins"].size(), timing.timeline().size() - (binsBefore - 1))
                << "a piece tells what changed, not the run so far";
        }
        binsBefore = timing.timeline().size();
        applyTimingNews(gathered, nlohmann::json::parse(piece.dump()));
        expectSame(gathered, timingPlotData(timing, counts, originNs, {}));
    }
    EXPECT_EQ(gathered.eventTotals[size_t(report::EventKind::gap)], 1u);
    EXPECT_EQ(gathered.eventTotals[size_t(report::EventKind::lateSwitch)], 2u);
    EXPECT_FALSE(gathered.longIntervals.empty());

    // Nothing new: nothing to tell but the bin that may still fill.
    const nlohmann::json quiet = news.since(timing, timing.summary(originNs, originNs), originNs);
    EXPECT_FALSE(quiet.contains("events"));
    EXPECT_FALSE(quiet.contains("counts"));

    // The next run (a sweep's next setting) starts afresh with its first piece.
    measure::SwitchTiming next(128, 48000);
    next.setOrigin(originNs);
    for (int64_t k = 0; k < 40; ++k) {
        measure::SwitchRecord record;
        record.entryNs = originNs + k * 2'666'667;
        record.exitNs = record.entryNs + 100'000;
        record.position = k * 128;
        record.positionValid = true;
        record.half = static_cast<int32_t>(k % 2);
        next.add(record);
    }
    timingNews nextNews;
    const measure::SwitchSummary counts = next.summary(originNs, originNs);
    applyTimingNews(gathered, nlohmann::json::parse(nextNews.since(next, counts, originNs).dump()));
    expectSame(gathered, timingPlotData(next, counts, originNs, {}));
}

TEST(TimingRelay, MalformedPiecesChangeNothingTheyDoNotName) {
    report::TimingData gathered;
    applyTimingNews(gathered, nlohmann::json::parse(R"({"first":true,"periodUs":6250,"lateThresholdUs":9375,
        "binSeconds":0.1,"from":0,"bins":[[16,15,6200,6250,6300,150,300]],
        "events":[[0.5,"gap","300 samples lost"],[0.6,"no-such-kind","x"],"junk",[1,2]],
        "counts":[[6250,15],[-3,1],["a",2],[70000,1]],"totals":[1,0,0,0,0,0,0,0,0,5,6]})"));
    ASSERT_EQ(gathered.timeline.size(), 1u);
    EXPECT_EQ(gathered.timeline[0].switches, 16u);
    ASSERT_EQ(gathered.events.size(), 1u);
    EXPECT_EQ(gathered.events[0].kind, report::EventKind::gap);
    EXPECT_EQ(gathered.intervalCounts.at(6250), 15u);
    EXPECT_EQ(gathered.longIntervals.at(70000), 1u);
    EXPECT_EQ(gathered.eventTotals[0], 1u);
    applyTimingNews(gathered, nlohmann::json("not an object"));
    applyTimingNews(gathered, nlohmann::json::parse(R"({"from":0,"bins":"no list"})"));
    EXPECT_EQ(gathered.timeline.size(), 1u);
}

} // namespace
