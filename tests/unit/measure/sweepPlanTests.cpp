// What a sweep runs and how its rows add up: the sizes it picks from a driver's rule,
// the smallest size that passed at each rate and the sweep's own verdict.
#include <gtest/gtest.h>

#include "measure/sweepPlan.h"

namespace measure {
namespace {

TEST(SweepPlan, TakesEveryLegalSizeUpToTwelveOtherwiseMinPreferredMaxAndNearbyPowersOfTwo) {
    // Few legal sizes: all of them.
    EXPECT_EQ(sweepBufferSizes({64, 1024, 256, -1}), (std::vector<int32_t>{64, 128, 256, 512, 1024}));
    EXPECT_EQ(sweepBufferSizes({100, 160, 120, 20}), (std::vector<int32_t>{100, 120, 140, 160}));
    // Every size from 16 to 8192: min, preferred and max, then the powers of two nearest
    // the preferred size, twelve in all.
    EXPECT_EQ(sweepBufferSizes({16, 8192, 300, 1}),
              (std::vector<int32_t>{16, 32, 64, 128, 256, 300, 512, 1024, 2048, 4096, 8192}));
    EXPECT_EQ(sweepBufferSizes({1, 1 << 20, 480, 1}),
              (std::vector<int32_t>{1, 16, 32, 64, 128, 256, 480, 512, 1024, 2048, 4096, 1 << 20}));
    // Steps of 48 take no power of two: the step nearest each one stands in for it.
    EXPECT_EQ(sweepBufferSizes({48, 48 * 40, 96, 48}),
              (std::vector<int32_t>{48, 96, 144, 240, 528, 1008, 1920}));
    // A maximum between two steps: the largest legal size is run in its place.
    EXPECT_EQ(sweepBufferSizes({48, 48 * 40 + 20, 96, 48}),
              (std::vector<int32_t>{48, 96, 144, 240, 528, 1008, 1920}));
    // A minimum and a preferred size that are no power of two: the legal sizes nearest them.
    EXPECT_EQ(
        sweepBufferSizes({48, 1 << 20, 200, -1}),
        (std::vector<int32_t>{64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 65536, 1 << 20}));
    // No legal size at all.
    EXPECT_TRUE(sweepBufferSizes({512, 256, 300, 1}).empty());
}

TEST(SweepPlan, SmallestPassingSizePerRateAndTheVerdictOfWhatTheDriverAccepted) {
    using W = VerdictWord;
    std::vector<SweepSettingOutcome> rows{
        {44100, 64, true, W::fail},         {44100, 128, true, W::pass},   {44100, 256, true, W::pass},
        {48000, 64, true, W::inconclusive}, {48000, 128, false, W::error}, {48000, 256, true, W::pass},
        {96000, 64, true, W::fail},
    };
    EXPECT_EQ(smallestPassingSizes(rows), (std::map<double, int32_t>{{44100, 128}, {48000, 256}}));
    EXPECT_EQ(sweepVerdictWord(rows), W::fail);

    // A refused setting the driver does not offer does not count; one it offers fails.
    EXPECT_EQ(sweepVerdictWord({{44100, 64, false, W::error}, {44100, 128, true, W::pass}}), W::pass);
    EXPECT_EQ(sweepVerdictWord({{44100, 64, false, W::error, true}, {44100, 128, true, W::pass}}), W::fail);
    EXPECT_EQ(sweepVerdictWord({{192000, 64, false, W::error, true}}), W::fail);
    // A setting the host could not measure as asked is an error, milder than a fault.
    EXPECT_EQ(sweepVerdictWord({{44100, 64, true, W::error}, {44100, 128, true, W::pass}}), W::error);
    EXPECT_EQ(sweepVerdictWord({{44100, 64, true, W::error}, {44100, 128, true, W::fail}}), W::fail);
    EXPECT_EQ(sweepVerdictWord({{44100, 64, true, W::inconclusive}, {44100, 128, true, W::pass}}),
              W::inconclusive);
    EXPECT_EQ(sweepVerdictWord({{44100, 64, false, W::error}}), W::error);
    EXPECT_EQ(sweepVerdictWord({}), W::error);
    EXPECT_EQ(sweepVerdictWord({{44100, 64, true, W::fail}, {44100, 128, true, W::interrupted}}),
              W::interrupted);
}

} // namespace
} // namespace measure
