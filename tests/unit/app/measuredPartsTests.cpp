// The parts of a measured run around the callback, on a scripted driver: what the host
// itself loses is counted and carried to the analysis and the recording, never made
// into a driver fault; blocks that come back early or far away; a driver without
// positions.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "app/measured/inputConsumer.h"
#include "app/measured/inputTap.h"
#include "app/measured/measuringBP.h"
#include "app/measured/switchProbe.h"
#include "asio/telAsioBufferProcessor.h"
#include "measure/wavFile.h"
#include "tests/support/memorySink.h"
#include "platform/platform.h"
#include "tests/support/scriptedDriver.h"

namespace {

constexpr int32_t frames = 64;

class MeasuredPartsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        telAsioApiStartup();
        driver.script.inputs = 1;
        driver.script.outputs = 2;
        driver.script.inputType = ASIOSTInt16LSB;
        driver.script.outputType = ASIOSTFloat32LSB;
        object = telCreate<telAsioDriver>(&driver);
        ASSERT_EQ(object->init(0, telTrue, frames), ASE_OK);
    }
    void TearDown() override { telFree(object); }

    // Input 0's half holds `value` in every sample: the block is recognisable in the file.
    void fillInput(int32_t half, int16_t value) {
        auto* samples = reinterpret_cast<int16_t*>(driver.buffer(true, 0, half));
        for (int32_t s = 0; s < frames; ++s) samples[s] = value;
    }

    teltest::ScriptedDriver driver;
    telOwned<telAsioDriver> object;
};

void waitUntilDrained(const inputTap& tap) {
    tapBlockHeader header{};
    for (int i = 0; i < 2000 && tap.peek(header); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

// A ring of four blocks and a consumer that falls behind: the blocks it had no room
// for become counted silence (the host's loss), as do those lost at the very end; a
// block that comes back early adds nothing already written; a jump of a minute is a
// re-base that adds no silence at all.
TEST_F(MeasuredPartsTest, TheHostsLossesAreCountedSilenceAndJumpsAreReBases) {
    const measure::WavPlan plan = measure::planWav({ASIOSTInt16LSB}, 48000);
    auto recordInto = [&](std::vector<uint8_t>& file) {
        auto writer = std::make_unique<measure::WavWriter>();
        EXPECT_TRUE(writer->open(std::make_unique<teltest::MemorySink>(file), "mem.wav", plan));
        return writer;
    };
    int64_t position = 0;
    auto capture = [&](inputTap& tap, int16_t value) {
        fillInput(static_cast<int32_t>(position / frames % 2), value);
        tap.capture(*object, static_cast<int32_t>(position / frames % 2), position, position, true);
        position += frames;
    };
    auto blocks = [](const std::vector<uint8_t>& file) {
        std::vector<int16_t> values;
        const auto wav = measure::parseWav(file);
        if (!wav) return values;
        const auto* samples = reinterpret_cast<const int16_t*>(wav->data.data());
        for (uint64_t block = 0; block * frames < wav->frames; ++block) values.push_back(samples[block * frames + 5]);
        return values;
    };

    std::vector<uint8_t> file;
    inputTap tap(*object, {0}, 48000, 0.0, 1 << 20);
    ASSERT_EQ(tap.blockCapacity(), 4u);
    inputConsumer consumer(tap, {0}, recordInto(file), plan, std::nullopt, std::nullopt, 48000);
    for (int16_t block = 1; block <= 6; ++block) capture(tap, block); // 5 and 6 find no room
    EXPECT_EQ(tap.lostBlocks(), 2u);
    consumer.start();
    waitUntilDrained(tap);
    capture(tap, 7); // carries the loss of 5 and 6
    waitUntilDrained(tap);
    position -= 3 * frames; // back by three buffers: nothing new in it
    capture(tap, 8);
    waitUntilDrained(tap);
    position += 48000 * 60; // a minute ahead: a re-base
    capture(tap, 9);
    waitUntilDrained(tap);
    position -= 48000 * 120; // a minute behind where it began: a re-base too, not an overlap
    capture(tap, 10);
    consumer.finish();
    const recordingResult& r = consumer.recording();
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.lostFrames, 2u * frames);
    EXPECT_EQ(r.overlapFrames, uint64_t{frames});
    EXPECT_EQ(r.rebases, 2u);
    EXPECT_EQ(r.driverGapFrames, 0u);
    EXPECT_EQ(blocks(file), (std::vector<int16_t>{1, 2, 3, 4, 0, 0, 7, 9, 10}));

    // Blocks lost at the very end, which no later block reports, are silence too.
    std::vector<uint8_t> last;
    inputTap lateTap(*object, {0}, 48000, 0.0, 1 << 20);
    inputConsumer lateConsumer(lateTap, {0}, recordInto(last), plan, std::nullopt, std::nullopt, 48000);
    position = 0;
    for (int16_t block = 1; block <= 6; ++block) capture(lateTap, block);
    lateConsumer.finish();
    EXPECT_EQ(lateConsumer.recording().lostFrames, 2u * frames);
    EXPECT_EQ(blocks(last), (std::vector<int16_t>{1, 2, 3, 4, 0, 0}));
}

// The switch records the ring has no room for are counted, and the first record after
// them says how many, so the statistics judge nothing across them.
TEST(SwitchProbe, ALossIsCarriedToTheNextRecord) {
    switchProbe probe(4);
    measure::SwitchTiming timing(300, 48000);
    for (int64_t k = 0; k < 6; ++k) probe.record({k * 6'250'000, k * 6'250'000, k * 300, true, int32_t(k % 2)});
    EXPECT_EQ(probe.lostRecords(), 2u);
    EXPECT_EQ(probe.drain(timing), 4u);
    probe.record({6 * 6'250'000, 6 * 6'250'000, 6 * 300, true, 0});
    probe.drain(timing);
    // The loss is told once: the records after go on as ever, a gap among them a gap.
    probe.record({7 * 6'250'000, 7 * 6'250'000, 7 * 300, true, 1});
    probe.record({9 * 6'250'000, 9 * 6'250'000, 9 * 300, true, 1});
    probe.drain(timing);
    const measure::SwitchSummary s = timing.summary(0, 10 * 6'250'000);
    EXPECT_EQ(s.hostLostRecords, 2u);
    EXPECT_EQ(s.gaps, 1u) << "the host's loss was taken for the driver's gap, or hid the driver's own";
    EXPECT_EQ(s.intervalUs.late, 1u);

    probe.countMessage(kAsioResetRequest);
    probe.countMessage(kAsioResetRequest);
    probe.countMessage(123456);
    EXPECT_EQ(probe.messages(), (std::map<int32_t, uint64_t>{{kAsioResetRequest, 2}, {123456, 1}}));
}

// A driver that gives no positions: the signal still moves on by a buffer each switch
// (not the same block over and over), and the tap counts its blocks on.
TEST_F(MeasuredPartsTest, WithoutPositionsTheSignalMovesOnBufferByBuffer) {
    driver.failWith(teltest::Op::getSamplePosition, ASE_NotPresent);
    const auto signal = measure::makeLoopbackSignal(48000);
    ASSERT_TRUE(signal);
    auto processor = telCreate<measuringBP>(object.get());
    latencySignalOutput output(*object, 1, *signal); // the first output
    inputTap tap(*object, {0}, 48000, 1.0, 1 << 20);
    processor->playLatencySignal(&output);
    processor->tapInputs(&tap);
    ASSERT_EQ(object->start(telFalse, -1), ASE_OK);
    std::vector<float> expected(frames);
    for (int32_t k = 0; k < 3; ++k) {
        driver.fireBufferSwitch(k % 2, 1);
        signal->render(int64_t{k} * frames, expected.data(), expected.size());
        EXPECT_EQ(std::memcmp(driver.buffer(false, 0, k % 2), expected.data(), frames * sizeof(float)), 0)
            << "switch " << k;
        tapBlockHeader header{};
        ASSERT_TRUE(tap.peek(header));
        EXPECT_FALSE(header.positionValid);
        EXPECT_EQ(header.sinceOrigin, int64_t{k} * frames);
        tap.release();
    }
    object->stop(telTrue);
    telFree(processor);
}

// A channel map: every output plays its own signal from the run's first buffer on (two
// outputs, two rows of the map's signals), and each buffer moves on by its size.
TEST_F(MeasuredPartsTest, EveryOutputOfAMapPlaysItsOwnSignal) {
    const auto signals = measure::makeChannelSignals(48000, 2);
    ASSERT_TRUE(signals);
    auto processor = telCreate<measuringBP>(object.get());
    latencySignalOutput output(*object, *signals);
    processor->playLatencySignal(&output);
    ASSERT_EQ(object->start(telFalse, -1), ASE_OK);
    std::vector<float> expected(frames);
    for (int32_t k = 0; k < 3; ++k) {
        driver.script.position.hi = 0;
        driver.script.position.lo = uint32_t(1000 + k * frames); // the run's origin is its first buffer
        driver.fireBufferSwitch(k % 2, 1);
        for (int32_t out = 0; out < 2; ++out) {
            signals->render(out + 1, int64_t{k} * frames, expected.data(), expected.size());
            EXPECT_EQ(std::memcmp(driver.buffer(false, out, k % 2), expected.data(), frames * sizeof(float)),
                      0)
                << "output " << out + 1 << ", switch " << k;
        }
    }
    // The two signals differ in their bursts: each output got its own, not the first's twice.
    EXPECT_NE(std::memcmp(driver.buffer(false, 0, 0), driver.buffer(false, 1, 0), frames * sizeof(float)), 0);
    object->stop(telTrue);
    telFree(processor);
}

// Every ring the callback writes or reads (the switch records, the input tap, the tone)
// is touched before the driver starts: a measured, recording run of 64 inputs takes no
// page fault on the callback thread, which would cost it microseconds each.
TEST(MeasuredCallbacks, TakeNoPageFault) {
    if (plat::threadPageFaults() < 0) GTEST_SKIP() << "the system does not count page faults per thread";
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer maps its shadow of every access on first use";
#endif
    telAsioApiStartup();
    teltest::ScriptedDriver driver;
    driver.script.inputs = 64;
    driver.script.outputs = 2;
    driver.script.outputReadyStatus = ASE_NotPresent; // no driver call on the callback path
    telOwned<telAsioDriver> object = telCreate<telAsioDriver>(&driver);
    ASSERT_EQ(object->init(0, telTrue, 32), ASE_OK);
    auto processor = telCreate<measuringBP>(object.get());
    switchProbe probe;
    std::vector<int32_t> inputs;
    for (int32_t channel = 0; channel < 64; ++channel) inputs.push_back(channel);
    inputTap tap(*object, inputs, 96000, 2.0, size_t{256} << 20);
    processor->watchSwitches(&probe);
    processor->tapInputs(&tap);
    processor->prepareTone(96000);
    ASSERT_EQ(object->start(telFalse, -1), ASE_OK);

    int64_t faults = -1;
    std::thread callbacks([&] {
        ASIOTime time{};
        time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
        // One switch first: the thread's own stack meets the callback path's depth.
        driver.fireBufferSwitchTimeInfo(&time, 0, 1);
        const int64_t before = plat::threadPageFaults();
        for (int64_t k = 1; k < 3000; ++k) { // a second at 96 kHz, more than the tone ring and the probe hold
            const ASIOSamples position{static_cast<uint32_t>((k * 32) >> 32), static_cast<uint32_t>(k * 32)};
            std::memcpy(&time.timeInfo.samplePosition, &position, sizeof position);
            driver.fireBufferSwitchTimeInfo(&time, static_cast<int32_t>(k % 2), 1);
            if (k % 1000 == 999) processor->fillTone(); // the status loop's part, on its own thread in a run
        }
        faults = plat::threadPageFaults() - before;
    });
    callbacks.join();
    EXPECT_EQ(faults, 0);
    object->stop(telTrue);
    telFree(processor);
    telFree(object);
}
