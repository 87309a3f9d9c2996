// The stream faults a host must count: a fake host records every callback of a short
// run, and the sequence and the journal's stream line must be exactly what the
// configuration asked for.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "asio/asioDriverInterface.h"
#include "driverHarness.h"

namespace {

using Clock = std::chrono::steady_clock;

// 64-frame buffers at 48 kHz, time-info callbacks. Dropped every 8th switch, switch 3
// repeated before switch 4, messages 3, 4 and 6 at switches 5 to 7, a rate change at 9,
// positions 100 samples back from switch 10 on, switch 12 handed over as half -1; each
// delivery up to 256 µs late, which must change nothing of the above.
const int faulty = harness::addClass(
    "'SampleRate'=dword:bb80;'CallbackMode'='timeInfo';'Journal'='$DIR/stream.journal';"
    "'JitterUs'=dword:100;'DropEvery'=dword:8;'RepeatHalfAt'=dword:4;'RateChangeAt'=dword:9;"
    "'MessageAt'=dword:5;'MessageSelector'='3, 4,0x6';'JumpAt'=dword:a;'JumpBy'=dword:ffffff9c;"
    "'BadHalfAt'=dword:c;'BadHalf'=dword:ffffffff");

struct Event {
    char kind;        // 's' buffer switch, 'm' message, 'r' rate change
    int64_t value;    // switch: the half; message: the selector; rate change: the rate
    int64_t position; // switch: the time-info record's sample position
    int64_t polled;   // switch: what getSamplePosition said inside the callback
    double rate;      // switch: the time-info record's rate
};

// What the host must see, from the configuration.
struct Expected {
    char kind;
    int64_t value;
    int64_t position;

    bool operator==(const Event& event) const {
        return kind == event.kind && value == event.value && position == event.position;
    }
};

// Written by the driver's thread only, read after stop.
struct Recorder {
    IASIO* driver = nullptr;
    std::atomic<bool> recording{false};
    Event events[4096];
    std::atomic<int> count{0};
    std::atomic<int> switches{0};

    void add(const Event& event) {
        const int at = count.load(std::memory_order_relaxed);
        if (at == int(std::size(events))) return;
        events[at] = event;
        count.store(at + 1, std::memory_order_release);
    }
} recorder;

int64_t joined(const ASIOSamples& words) {
    return static_cast<int64_t>((uint64_t{words.hi} << 32) | words.lo);
}

int32_t TEL_CDECL onMessage(int32_t selector, int32_t value, void*, double*) {
    if (selector == kAsioSupportsTimeInfo ||
        (selector == kAsioSelectorSupported && value == kAsioSupportsTimeInfo))
        return 1;
    if (recorder.recording.load()) recorder.add({'m', selector, 0, 0, 0.0});
    return 0;
}

void TEL_CDECL onRateChange(double rate) {
    recorder.add({'r', static_cast<int64_t>(rate), 0, 0, 0.0});
}

ASIOTime* TEL_CDECL onSwitchTimeInfo(ASIOTime* time, int32_t half, ASIOBool) {
    ASIOSamples record, polled, stamp;
    std::memcpy(&record, &time->timeInfo.samplePosition, sizeof record);
    recorder.driver->getSamplePosition(&polled, &stamp);
    recorder.add({'s', half, joined(record), joined(polled), time->timeInfo.sampleRate});
    recorder.switches.fetch_add(1);
    return time;
}

void TEL_CDECL onSwitch(int32_t, ASIOBool) {}

ASIOCallbacks callbacks{onSwitch, onRateChange, onMessage, onSwitchTimeInfo};

// The slot the driver is in, from getSamplePosition (positions 100 back from slot 10 on).
int64_t currentSlot(IASIO* driver) {
    ASIOSamples position, stamp;
    driver->getSamplePosition(&position, &stamp);
    const int64_t at = static_cast<int64_t>((uint64_t{position.hi} << 32) | position.lo);
    return at % 64 == 0 ? at / 64 : (at + 100) / 64;
}

// Runs the class's stream until the host has seen `switches` callbacks (or 10 s passed)
// and, with `stopInDrop`, until getSamplePosition reports a dropped slot (every 8th);
// takes it down and returns the seconds from start to stop.
double runUntil(int number, int switches, bool stopInDrop = false) {
    recorder.count = 0;
    recorder.switches = 0;
    IASIO* driver = recorder.driver = harness::create(number);
    ASIOBufferInfo infos[2] = {{1, 0, {}}, {0, 0, {}}};
    EXPECT_EQ(driver->init(nullptr), 1);
    EXPECT_EQ(driver->createBuffers(infos, 2, 64, &callbacks), ASE_OK);
    recorder.recording = true;
    const Clock::time_point begin = Clock::now();
    EXPECT_EQ(driver->start(), ASE_OK);
    while (recorder.switches.load() < switches && Clock::now() - begin < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // The dropped slot lasts one period (1.3 ms): watch without sleeping.
    while (stopInDrop && currentSlot(driver) % 8 != 0 && Clock::now() - begin < std::chrono::seconds(10)) {
    }
    EXPECT_EQ(driver->stop(), ASE_OK);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    recorder.recording = false;
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->Release(), 0u);
    return seconds;
}

class StreamFaultTest : public harness::DriverTest {};

} // namespace

TEST_F(StreamFaultTest, DeliversExactlyTheConfiguredSequence) {
    runUntil(faulty, 40, true);
    const std::vector<Event> seen(recorder.events, recorder.events + recorder.count.load());
    // Hand-computed from the configuration: {kind, half or selector or rate, position}.
    const std::vector<Expected> expected = {{'s', 0, 0},
                                            {'s', 1, 64},
                                            {'s', 0, 128},
                                            {'s', 1, 192},
                                            {'s', 1, 192},
                                            {'s', 0, 256}, // switch 3 again, then 4
                                            {'m', 3, 0},
                                            {'s', 1, 320},
                                            {'m', 4, 0},
                                            {'s', 0, 384},
                                            {'m', 6, 0},
                                            {'s', 1, 448},
                                            /* switch 8 dropped */ {'r', 48000, 0},
                                            {'s', 1, 576},
                                            {'s', 0, 540},
                                            {'s', 1, 604}, // 100 samples back from switch 10
                                            {'s', -1, 668},
                                            {'s', 1, 732},
                                            {'s', 0, 796},
                                            {'s', 1, 860},
                                            /* switch 16 dropped */ {'s', 1, 988},
                                            {'s', 0, 1052}};
    ASSERT_GE(seen.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_TRUE(expected[k] == seen[k])
            << "event " << k << ": " << seen[k].kind << " " << seen[k].value << " at " << seen[k].position;

    // After the table only plain switches, one buffer apart except across a dropped one.
    int switches = 0, gaps = 0;
    int64_t last = 0;
    for (size_t k = 0; k < seen.size(); ++k) {
        if (seen[k].kind != 's') continue;
        EXPECT_EQ(seen[k].polled, seen[k].position) << "event " << k;
        EXPECT_EQ(seen[k].rate, 48000.0);
        if (k >= expected.size()) {
            EXPECT_TRUE(seen[k].position == last + 64 || seen[k].position == last + 128) << "event " << k;
            EXPECT_EQ(seen[k].value, ((seen[k].position + 100) / 64) % 2) << "event " << k;
        }
        gaps += switches > 0 && seen[k].position == last + 128;
        last = seen[k].position;
        ++switches;
    }

    const std::vector<std::string> journal = harness::readLines(harness::tempPath("stream.journal"));
    ASSERT_EQ(journal.size(), 8u);
    const std::vector<std::string> calls = {"created", "init 1", "createBuffers 0 2 64", "start 0"};
    EXPECT_EQ(std::vector<std::string>(journal.begin(), journal.begin() + 4), calls);
    EXPECT_EQ(journal[5] + "," + journal[6] + "," + journal[7], "stop 0,disposeBuffers 0,destroyed");
    unsigned delivered, slots, dropped, trailingDrop, repeats, badHalves, messages, rateChanges, dropouts;
    ASSERT_EQ(std::sscanf(journal[4].c_str(),
                          "stream delivered=%u slots=%u dropped=%u trailingDrop=%u repeats=%u badHalves=%u "
                          "messages=%u rateChanges=%u dropouts=%u",
                          &delivered, &slots, &dropped, &trailingDrop, &repeats, &badHalves, &messages,
                          &rateChanges, &dropouts),
              9)
        << journal[4];
    EXPECT_EQ(delivered, unsigned(switches));
    EXPECT_EQ(dropped, (slots - 1) / 8);
    // Stopped inside a dropped slot, unless a busy machine let the next slot begin first.
    EXPECT_EQ(trailingDrop, (slots - 1) % 8 == 0 ? 1u : 0u) << slots;
    EXPECT_EQ(delivered, slots - dropped + 1);
    EXPECT_EQ(unsigned(gaps), dropped - trailingDrop); // what the host saw
    EXPECT_EQ(repeats * 1000 + badHalves * 100 + messages * 10 + rateChanges, 1131u);
    EXPECT_EQ(dropouts, 0u);
}
