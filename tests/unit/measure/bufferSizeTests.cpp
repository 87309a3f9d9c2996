// Legal buffer sizes: hand-computed rules, extremes, and a brute-force oracle over small ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "measure/bufferSizes.h"

using measure::BufferSizeRule;

namespace {

std::string describe(const BufferSizeRule& r) {
    return "min " + std::to_string(r.min) + " max " + std::to_string(r.max) + " granularity " +
           std::to_string(r.granularity);
}

} // namespace

TEST(BufferSizes, RulesCountsListsAndTexts) {
    struct Case {
        BufferSizeRule rule;
        uint64_t count;
        std::vector<int32_t> firstFour;
        std::vector<int64_t> legal, illegal;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{64, 2048, 256, -1},
         6,
         {64, 128, 256, 512},
         {64, 256, 2048},
         {32, 96, 1000, 4096},
         "powers of two from 64 to 2048 (64, 128, 256, 512, 1024, 2048)"},
        {{64, 2048, 256, 0}, 1985, {64, 65, 66, 67}, {64, 100, 2048}, {63, 2049, 0}, "64 to 2048"},
        {{64, 2048, 256, 1}, 1985, {64, 65, 66, 67}, {64, 1000, 2048}, {63, 2049}, "64 to 2048"},
        {{64, 2048, 256, 7},
         284,
         {64, 71, 78, 85},
         {64, 71, 2045},
         {63, 70, 2048, 2052},
         "64 to 2048 in steps of 7"},
        {{1, 4, 2, -2}, 4, {1, 2, 3, 4}, {1, 3}, {0, 5}, "1 to 4"}, // other negatives: every size
        {{512, 256, 256, 0}, 0, {}, {}, {256, 384, 512}, "none (minimum 512 above maximum 256)"},
        {{-100, 10, 0, 0}, 10, {1, 2, 3, 4}, {1, 10}, {-100, -1, 0, 11}, "1 to 10"},
        {{-5, 20, 0, 4}, 5, {3, 7, 11, 15}, {3, 19}, {-5, -1, 1, 20}, "3 to 20 in steps of 4"},
        {{-10, 0, 0, 0}, 0, {}, {}, {-10, 0}, "none (maximum 0 below 1)"},
        {{5, 7, 0, -1}, 0, {}, {}, {4, 5, 6, 7, 8}, "none (no power of two from 5 to 7)"},
        {{-5, 2, 0, 10}, 0, {}, {}, {-5, 1, 2, 5}, "none (no step of 10 from -5 lands in 1 to 2)"},
        {{48, 48, 48, 0}, 1, {48}, {48}, {47, 49}, "48 only"},
        // Extremes: nothing may overflow.
        {{INT32_MIN, INT32_MAX, 0, 0},
         2147483647,
         {1, 2, 3, 4},
         {1, INT32_MAX},
         {0, INT64_MIN, 2147483648LL, INT64_MAX},
         "1 to 2147483647"},
        {{INT32_MIN, INT32_MAX, 0, -1}, 31, {1, 2, 4, 8}, {1, 1 << 30}, {0, 3, 2147483648LL, INT64_MIN}, ""},
        {{INT32_MIN, INT32_MAX, 0, INT32_MAX},
         1,
         {INT32_MAX - 1},
         {INT32_MAX - 1},
         {-1, 1, INT32_MAX},
         "2147483646 only"},
        {{1, INT32_MAX, 0, INT32_MAX}, 1, {1}, {1}, {2, INT32_MAX, 2147483648LL}, "1 only"},
        {{0, INT32_MAX, 0, 2},
         1073741823,
         {2, 4, 6, 8},
         {2, INT32_MAX - 1},
         {0, 1, INT32_MAX},
         "2 to 2147483647 in steps of 2"},
        {{INT32_MAX, INT32_MAX, 0, 0}, 1, {INT32_MAX}, {INT32_MAX}, {INT32_MAX - 1}, "2147483647 only"},
        {{INT32_MIN, INT32_MIN, 0, 0}, 0, {}, {}, {INT32_MIN, 1}, "none (maximum -2147483648 below 1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.rule));
        EXPECT_EQ(measure::legalBufferSizeCount(c.rule), c.count);
        EXPECT_EQ(measure::legalBufferSizes(c.rule, 4), c.firstFour);
        for (int64_t size : c.legal)
            EXPECT_TRUE(measure::isLegalBufferSize(c.rule, size)) << size;
        for (int64_t size : c.illegal)
            EXPECT_FALSE(measure::isLegalBufferSize(c.rule, size)) << size;
        if (!c.text.empty()) {
            EXPECT_EQ(measure::legalBufferSizesText(c.rule), c.text);
        }
        EXPECT_TRUE(measure::legalBufferSizes(c.rule, 0).empty());
    }

    // All 31 powers of two a signed 32-bit maximum allows, listed in the text.
    const BufferSizeRule powers{INT32_MIN, INT32_MAX, 0, -1};
    const std::vector<int32_t> all = measure::legalBufferSizes(powers, 1000);
    ASSERT_EQ(all.size(), 31u);
    EXPECT_EQ(all.back(), 1 << 30);
    const std::string text = measure::legalBufferSizesText(powers);
    EXPECT_TRUE(text.starts_with("powers of two from 1 to 2147483647 (1, 2, 4, ")) << text;
    EXPECT_TRUE(text.ends_with(", 536870912, 1073741824)")) << text;
}

// Small ranges are left to the scan below; these are the wide ones and the extremes.
TEST(BufferSizes, NearestLegalSizeTakesTheSmallerOnATie) {
    struct Case {
        BufferSizeRule rule;
        int64_t wanted;
        std::optional<int32_t> nearest;
    };
    const BufferSizeRule powers{64, 2048, 256, -1}, sevens{64, 2048, 256, 7},
        full{INT32_MIN, INT32_MAX, 0, 0};
    const BufferSizeRule allPowers{INT32_MIN, INT32_MAX, 0, -1}, evens{0, INT32_MAX, 0, 2};
    const std::vector<Case> cases = {
        {powers, 1536, 1024}, // tie between 1024 and 2048
        {powers, 1537, 2048},
        {powers, 1 << 20, 2048},
        {powers, INT64_MIN, 64},
        {sevens, 2047, 2045}, // the last step below the maximum
        {{512, 256, 256, 0}, 300, std::nullopt},
        {{5, 7, 0, -1}, 6, std::nullopt},
        {full, INT64_MAX, INT32_MAX},
        {full, INT64_MIN, 1},
        {allPowers, INT32_MAX, 1 << 30},
        {allPowers, 3, 2}, // tie between 2 and 4
        {{INT32_MIN, INT32_MAX, 0, INT32_MAX}, 1, INT32_MAX - 1},
        {evens, INT32_MAX, INT32_MAX - 1},
        {evens, 1'000'000'001, 1'000'000'000}, // tie far into the range
    };
    for (const Case& c : cases)
        EXPECT_EQ(measure::nearestLegalBufferSize(c.rule, c.wanted), c.nearest)
            << describe(c.rule) << ", wanted " << c.wanted;
}

// Over many small rules, the answers must agree with a plain scan of every size.
TEST(BufferSizes, AgreeWithAScanOfEverySize) {
    for (int32_t min : {-7, 0, 1, 5, 64})
        for (int32_t max : {-1, 0, 3, 100, 257})
            for (int32_t granularity : {-3, -1, 0, 1, 2, 7, 64}) {
                const BufferSizeRule rule{min, max, 0, granularity};
                SCOPED_TRACE(describe(rule));
                std::vector<int32_t> scanned;
                for (int32_t size = -10; size <= 300; ++size) {
                    const bool inRange = size >= 1 && size >= min && size <= max;
                    const bool fits = granularity == -1 ? (size & (size - 1)) == 0
                                      : granularity > 1 ? (size - min) % granularity == 0
                                                        : true;
                    if (inRange && fits) scanned.push_back(size);
                }
                EXPECT_EQ(measure::legalBufferSizes(rule, 1000), scanned);
                EXPECT_EQ(measure::legalBufferSizeCount(rule), scanned.size());
                for (int32_t wanted = -10; wanted <= 300; ++wanted) {
                    std::optional<int32_t> best;
                    for (int32_t size : scanned)
                        if (!best || std::abs(size - wanted) < std::abs(*best - wanted)) best = size;
                    ASSERT_EQ(measure::nearestLegalBufferSize(rule, wanted), best) << "wanted " << wanted;
                    ASSERT_EQ(measure::isLegalBufferSize(rule, wanted),
                              std::find(scanned.begin(), scanned.end(), wanted) != scanned.end());
                }
            }
}
