// What a host's capability probe must find: clock sources, buffer sizes per rate,
// optional features, per-channel types and groups, and channel counts that differ from
// the channels that exist.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "asio/asioDriverInterface.h"
#include "driverHarness.h"

namespace {

const int probed = harness::addClass(
    "'Inputs'=dword:3;'Outputs'=dword:2;'InputTypes'='16, "
    "17';'OutputTypes'='0x12';'ChannelGroupSize'=dword:2;"
    "'ClockSources'='Internal,Word Clock:1, ADAT In : "
    "2';'ClockSourceCurrent'=dword:1;'SampleRates'='48000,96000';"
    "'SampleRate'=dword:bb80;'BufferPreferred'=dword:40;'Granularity'=dword:ffffffff;"
    "'BufferSizesByRate'='96000:128-4096, 192000:256-8192';'FutureSelectors'='3,0x23111961';"
    "'ReportInputs'=dword:fffffffb;'ReportOutputs'=dword:000186a0");

ASIOCallbacks callbacks{[](int32_t, ASIOBool) {}, [](double) {},
                        [](int32_t, int32_t, void*, double*) { return 0; }, nullptr};

class ProbeTest : public harness::DriverTest {};

} // namespace

TEST_F(ProbeTest, ClockSourcesFillTheCallersArrayUpToItsCapacity) {
    IASIO* driver = harness::create(probed);
    ASIOClockSource clocks[8];
    std::memset(clocks, 0x5A, sizeof clocks);
    int32_t count = 2;
    ASSERT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(clocks[2].index, 0x5A5A5A5A); // beyond the capacity: untouched

    count = 8;
    ASSERT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
    ASSERT_EQ(count, 3);
    const struct {
        const char* name;
        int32_t group;
        ASIOBool current;
    } expected[] = {{"Internal", -1, 0}, {"Word Clock", 1, 1}, {"ADAT In", 2, 0}};
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(clocks[i].index, i);
        EXPECT_STREQ(clocks[i].name, expected[i].name);
        EXPECT_EQ(clocks[i].associatedChannel, -1);
        EXPECT_EQ(clocks[i].associatedGroup, expected[i].group) << i;
        EXPECT_EQ(clocks[i].isCurrentSource, expected[i].current) << i;
    }

    EXPECT_EQ(driver->setClockSource(3), ASE_InvalidParameter);
    EXPECT_EQ(driver->setClockSource(-1), ASE_InvalidParameter);
    EXPECT_EQ(driver->setClockSource(2), ASE_OK);
    ASSERT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
    EXPECT_EQ(clocks[0].isCurrentSource * 100 + clocks[1].isCurrentSource * 10 + clocks[2].isCurrentSource,
              1);
    EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(ProbeTest, BufferSizesFollowTheRateAndReportedCountsAreNotReal) {
    IASIO* driver = harness::create(probed);
    ASSERT_EQ(driver->init(nullptr), 1);
    int32_t inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, -5);
    EXPECT_EQ(outputs, 100000);

    // {rate, min, max, preferred} and sizes createBuffers must accept or refuse at that rate.
    const struct {
        double rate;
        int32_t min, max, preferred;
        int32_t accepted, refused[2];
    } sizes[] = {{48000, 64, 2048, 64, 2048, {32, 4096}}, {96000, 128, 4096, 128, 4096, {64, 8192}}};
    for (const auto& row : sizes) {
        ASSERT_EQ(driver->setSampleRate(row.rate), ASE_OK);
        int32_t min = 0, max = 0, preferred = 0, granularity = 0;
        ASSERT_EQ(driver->getBufferSize(&min, &max, &preferred, &granularity), ASE_OK);
        EXPECT_EQ(min, row.min) << row.rate;
        EXPECT_EQ(max, row.max) << row.rate;
        EXPECT_EQ(preferred, row.preferred) << row.rate;
        EXPECT_EQ(granularity, -1) << row.rate;
        ASIOBufferInfo infos[2] = {{1, 2, {}}, {0, 1, {}}};
        for (int32_t refused : row.refused)
            EXPECT_EQ(driver->createBuffers(infos, 2, refused, &callbacks), ASE_InvalidParameter) << refused;
        EXPECT_EQ(driver->createBuffers(infos, 2, row.accepted, &callbacks), ASE_OK) << row.rate;
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    }

    // Types, groups and future selectors reach the host as configured: the /probe runs
    // of the end-to-end tests compare them with the configuration.
    ASIOChannelInfo missing{3, 1, 0, 0, 0, {}};
    EXPECT_EQ(driver->getChannelInfo(&missing), ASE_InvalidParameter); // reported counts are not real
    EXPECT_EQ(driver->Release(), 0u);
}
