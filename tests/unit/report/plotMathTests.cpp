// The arithmetic under every plot: the tick rule, the decimation that keeps a plot's
// points within budget without losing its extremes, and how text and numbers are written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "report/axisTicks.h"
#include "report/decimate.h"
#include "report/markup.h"

using namespace report;

namespace {

TEST(AxisTicks, StepsAreOneTwoOrFiveAndTicksCoverTheData) {
    struct Case {
        double low, high;
        int intervals;
        double step;
    };
    const Case cases[] = {{0, 10, 10, 1},          {0, 9.5, 5, 2},      {6165.6, 6349.3, 6, 50},
                          {0, 3600, 10, 500},      {0, 0.3, 3, 0.1},    {-0.93, 1.02, 5, 0.5},
                          {580, 720, 6, 50},       {0, 1e6, 4, 500000}, {0.001, 0.0042, 4, 0.001},
                          {-25000, -24000, 5, 200}};
    for (const Case& c : cases) {
        const TickedRange range = linearRange(c.low, c.high, c.intervals);
        EXPECT_DOUBLE_EQ(range.step, c.step) << c.low << " … " << c.high;
        EXPECT_LE(range.min, c.low);
        EXPECT_GE(range.max, c.high);
        ASSERT_GE(range.ticks.size(), 2u);
        EXPECT_LE(range.ticks.size(), size_t(c.intervals) + 1);
        EXPECT_DOUBLE_EQ(range.ticks.front(), range.min);
        EXPECT_NEAR(range.ticks.back(), range.max, range.step * 1e-9);
        for (double tick : range.ticks) {
            const double multiple = tick / range.step;
            EXPECT_NEAR(multiple, std::round(multiple), 1e-6) << tick;
            EXPECT_FALSE(tick == 0 && std::signbit(tick)) << "a tick at -0";
        }
    }
    // One value, and no value at all, still give an axis with ticks.
    const TickedRange single = linearRange(696, 696, 6);
    EXPECT_LT(single.min, 696);
    EXPECT_GT(single.max, 696);
    const TickedRange nothing = linearRange(NAN, std::numeric_limits<double>::infinity(), 6);
    EXPECT_EQ(nothing.min, 0);
    EXPECT_EQ(nothing.max, 1);

    const TickedRange decades = logRange(152, 6250);
    EXPECT_EQ(decades.ticks, (std::vector<double>{100, 1000, 10000}));
    EXPECT_EQ(logRange(1, 1).ticks, (std::vector<double>{1, 10}));

    EXPECT_EQ(tickLabel(0.25, 0.05), "0.25");
    EXPECT_EQ(tickLabel(6000, 50), "6000");
    EXPECT_EQ(tickLabel(-0.0, 0.5), "0");
    EXPECT_EQ(tickLabel(2.5e6, 1e6, true), "2.5M");
    EXPECT_EQ(tickLabel(1000, 10, true), "1k");
}

// A time axis ends where the run ended, with ticks at nice steps inside it; a run a
// hair over 20 s keeps steps of 2 s and does not reach out to 25 s.
TEST(AxisTicks, ATimeAxisEndsAtTheRunsEnd) {
    struct Case {
        double high;
        double step, lastTick;
    };
    const Case cases[] = {{20.0, 2, 20},     {20.04, 2, 20},     {20.000000000000004, 2, 20},
                          {2.522, 0.5, 2.5}, {0.535, 0.05, 0.5}, {3600.2, 500, 3500},
                          {19.99, 2, 18}};
    for (const Case& c : cases) {
        const TickedRange range = exactRange(0, c.high, 10);
        EXPECT_EQ(range.min, 0);
        EXPECT_EQ(range.max, c.high);
        EXPECT_DOUBLE_EQ(range.step, c.step) << c.high;
        EXPECT_LE(range.ticks.size(), 11u) << c.high;
        EXPECT_EQ(range.ticks.front(), 0);
        EXPECT_NEAR(range.ticks.back(), c.lastTick, 1e-9) << c.high;
    }
    // The old range rounded out to the next step: what a 20 s run's axis must not do.
    EXPECT_EQ(linearRange(0, 20.04, 10).max, 25);
}

// Buffer sizes on a log axis: every power of two a tick, evenly apart, sizes between
// them (48, 300) inside; a wide span thins the ticks to every second power.
TEST(AxisTicks, PowersOfTwoStandEvenlyApart) {
    const TickedRange sizes = powerOfTwoRange(48, 2048);
    EXPECT_EQ(sizes.ticks, (std::vector<double>{32, 64, 128, 256, 512, 1024, 2048}));
    EXPECT_EQ(sizes.min, 32);
    EXPECT_EQ(sizes.max, 2048);
    const TickedRange exact = powerOfTwoRange(64, 256);
    EXPECT_EQ(exact.ticks, (std::vector<double>{64, 128, 256}));
    const TickedRange one = powerOfTwoRange(300, 300);
    EXPECT_EQ(one.min, 256);
    EXPECT_EQ(one.max, 512);
    const TickedRange wide = powerOfTwoRange(16, 1 << 20);
    EXPECT_EQ(wide.min, 16);
    EXPECT_EQ(wide.max, 1 << 20);
    EXPECT_LE(wide.ticks.size(), 12u);
    EXPECT_EQ(wide.ticks[1], 64);
    EXPECT_EQ(tickLabel(1024, sizes.step), "1024");
}

TEST(Decimation, EveryColumnKeepsItsExtremesWithinTheBudget) {
    // An hour of 100 ms bins: a slow wave with noise, one spike up and one dip.
    std::vector<Point> series;
    for (int i = 0; i < 36000; ++i)
        series.push_back({i * 0.1, 6250 + 40 * std::sin(i * 0.01) + (i * 7919 % 13) -
                                       (i == 20011 ? -9000 : 0) - (i == 5003 ? 6000 : 0)});
    series.push_back({1000.05, NAN}); // not drawable: dropped
    const int columns = 314;
    const std::vector<Point> kept = decimateMinMax(series, 0, 3600, columns);
    ASSERT_LE(kept.size(), size_t(2 * columns));
    for (size_t i = 1; i < kept.size(); ++i)
        ASSERT_LE(kept[i - 1].x, kept[i].x) << "out of order at " << i;
    // Every column's lowest and highest value is among the points kept from it.
    const auto column = [&](double x) { return std::min(columns - 1, int(x / 3600 * columns)); };
    std::vector<double> low(columns, INFINITY), high(columns, -INFINITY);
    for (const Point& p : series)
        if (std::isfinite(p.y))
            low[column(p.x)] = std::min(low[column(p.x)], p.y),
            high[column(p.x)] = std::max(high[column(p.x)], p.y);
    std::vector<double> keptLow(columns, INFINITY), keptHigh(columns, -INFINITY);
    for (const Point& p : kept)
        keptLow[column(p.x)] = std::min(keptLow[column(p.x)], p.y),
        keptHigh[column(p.x)] = std::max(keptHigh[column(p.x)], p.y);
    EXPECT_EQ(keptLow, low);
    EXPECT_EQ(keptHigh, high);
    EXPECT_GT(high[column(2001.1)], 15000); // the spike is one of them
    EXPECT_LT(low[column(500.3)], 1000);    // and so is the dip

    // Ranges: one per column, spanning all of its ranges.
    std::vector<RangePoint> ranges;
    for (int i = 0; i < 36000; ++i)
        ranges.push_back({i * 0.1, 6000.0 - (i == 777 ? 5000 : 0), 6500.0 + (i == 35999 ? 10000 : 0)});
    const std::vector<RangePoint> merged = decimateRanges(ranges, 0, 3600, columns);
    ASSERT_EQ(merged.size(), size_t(columns));
    EXPECT_EQ(merged[size_t(77.7 / 3600 * columns)].low, 1000);
    EXPECT_EQ(merged.back().high, 16500);
    EXPECT_EQ(merged[100].low, 6000);
    // A short run keeps every point.
    EXPECT_EQ(decimateMinMax({{0, 1}, {1, 2}, {2, 0}}, 0, 2, 314).size(), 3u);
}

TEST(Markup, TextIsEscapedAndNumbersAreCompact) {
    EXPECT_EQ(escapeMarkup("<b a=\"1\" c='2'>&</b>"),
              "&lt;b a=&quot;1&quot; c=&#39;2&#39;&gt;&amp;&lt;/b&gt;");
    EXPECT_EQ(escapeMarkup("µs – Größe 音"), "µs – Größe 音");
    // Invalid UTF-8 (a lone continuation byte, a cut sequence, an overlong slash, a
    // surrogate) becomes U+FFFD; control characters go, line ends stay.
    EXPECT_EQ(escapeMarkup("a\x80"
                           "b\xC3"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(escapeMarkup("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(escapeMarkup("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(escapeMarkup(std::string("x\0y\x1b\tz\r\n", 8)), "xy\tz\n\n");

    EXPECT_EQ(compactNumber(3.125), "3.125");
    EXPECT_EQ(compactNumber(0.1 + 0.2), "0.3");
    EXPECT_EQ(compactNumber(6250), "6250");
    EXPECT_EQ(compactNumber(-0.0000001), "-1e-07");
    EXPECT_EQ(compactNumber(696.0 / 48000 * 1000, 5), "14.5");
    EXPECT_EQ(compactNumber(-1e-12 * 0), "0");
    EXPECT_EQ(compactNumber(NAN), "nan");
    EXPECT_EQ(compactNumber(123456789012.0), "123456789012");
    EXPECT_EQ(fixedNumber(14.5, 3), "14.500");
    EXPECT_EQ(fixedNumber(-0.001, 2), "0.00"); // a gain of -0.001 dB
    EXPECT_EQ(fixedNumber(-0.0, 1), "0.0");
    EXPECT_EQ(fixedNumber(-0.006, 2), "-0.01");
    EXPECT_EQ(pixel(12.345), "12.3");
    EXPECT_EQ(pixel(7.0), "7");
}

} // namespace
