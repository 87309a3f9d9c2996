// The analysis of each check, fed with what a driver might have shown, without a driver.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "conform/judge/buffers.h"
#include "conform/judge/identity.h"
#include "conform/judge/latencies.h"
#include "conform/judge/messages.h"
#include "conform/judge/rates.h"
#include "conform/judge/stream.h"
#include "conform/judge/supervision.h"
#include "tests/unit/conform/switchNotes.h"

using namespace conform;
using namespace conform::testing;

namespace {

FiguresObservation soundFigures() {
    FiguresObservation seen;
    seen.inputs = seen.outputs = 2;
    seen.sizes = {64, 2048, 256, -1};
    seen.rate = 48000;
    seen.createdSize = 256;
    seen.inputLatency = 256;
    seen.outputLatency = 512;
    return seen;
}

} // namespace

TEST(ConformFigures, BufferRulesFollowTheGranularity) {
    EXPECT_EQ(judgeFigures(soundFigures()).result, Result::pass);
    const struct {
        measure::BufferSizeRule sizes;
        Result expected;
        const char* detailPart;
    } cases[] = {
        {{64, 2048, 300, -1}, Result::fail, "powers of two"},
        {{64, 2048, 256, 32}, Result::pass, ""},
        {{64, 2040, 256, 32}, Result::fail, "not whole steps above min"},
        {{64, 2048, 256, 0}, Result::warn, "hosts read it differently"},
        {{256, 256, 256, 0}, Result::pass, ""},
        {{512, 2048, 256, 1}, Result::fail, "out of order"},
        {{0, 2048, 256, 1}, Result::fail, "out of order"},
        {{64, 2048, 256, -2}, Result::fail, "no meaning"},
    };
    for (const auto& c : cases) {
        FiguresObservation seen = soundFigures();
        seen.sizes = c.sizes;
        const Outcome outcome = judgeFigures(seen);
        EXPECT_EQ(outcome.result, c.expected) << outcome.detail;
        EXPECT_NE(outcome.detail.find(c.detailPart), std::string::npos) << outcome.detail;
    }
}

TEST(ConformFigures, ChannelsRateAndLatenciesMustMakeSense) {
    FiguresObservation noChannels = soundFigures();
    noChannels.inputs = noChannels.outputs = 0;
    EXPECT_EQ(judgeFigures(noChannels).detail, "no channel at all");
    FiguresObservation badRate = soundFigures();
    badRate.rate = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(judgeFigures(badRate).detail, "sample rate NaN");
    FiguresObservation latency = soundFigures();
    latency.outputLatency = -1;
    EXPECT_EQ(judgeFigures(latency).detail, "negative latency after createBuffers: input 256, output -1");
    // Two faults: the first is named and the other counted.
    latency.rate = 0;
    EXPECT_EQ(judgeFigures(latency).detail, "sample rate 0; 1 more fault");
}

TEST(ConformIdentity, EveryCreationMustReportTheSame) {
    DriverIdentity first;
    first.name = "Card";
    first.version = 3;
    first.initialised = true;
    first.sizes = {64, 2048, 256, 1};
    first.rate = 44100;
    CreateReleaseObservation seen{{first, first, first}, 0};
    EXPECT_EQ(judgeCreateRelease(seen).result, Result::pass);
    seen.creations[2].sizes.max = 1024;
    EXPECT_EQ(judgeCreateRelease(seen).detail, "creation 3 reported buffers 64 to 1024, preferred 256, "
                                               "granularity 1, creation 1 buffers 64 to 2048, "
                                               "preferred 256, granularity 1");
    seen.creations[1].initialised = false;
    seen.creations[1].errorText = "no device";
    EXPECT_EQ(judgeCreateRelease(seen).detail, "init 2 refused: no device; 1 more fault");
}

TEST(ConformIdentity, ChannelsAnswerForThemselvesAndOthersAreRefused) {
    ChannelInfoObservation seen;
    seen.inputs = 1;
    seen.outputs = 1;
    ChannelAnswer input{true, 0, ASE_OK, 0, true, ASIOSTFloat32LSB, true, "In 1", 0};
    ChannelAnswer output{false, 0, ASE_OK, 0, false, ASIOSTInt32LSB, true, "Out 1", 0};
    seen.channels = {input, output};
    ChannelAnswer refused;
    refused.status = ASE_InvalidParameter;
    refused.asked = 1;
    seen.outOfRange = {refused, refused};
    seen.outOfRange[1].input = false;
    seen.outOfRange[1].asked = -1;
    EXPECT_EQ(judgeChannelInfo(seen).result, Result::pass);
    seen.channels[1].isInput = true;
    EXPECT_EQ(judgeChannelInfo(seen).detail, "output 0 answered as an input");
    seen.channels[1].isInput = false;
    seen.channels[0].type = 5;
    EXPECT_EQ(judgeChannelInfo(seen).detail, "input 0 has the unknown sample type 5");
    seen.channels[0].type = ASIOSTFloat32LSB;
    seen.outOfRange[0].status = ASE_OK;
    EXPECT_EQ(judgeChannelInfo(seen).detail, "input 1 (of 1, out of range) answered with success");
}

// createBuffers for every channel: each half memory of its own, as long as its channel's
// type needs, and every channel answering as before.
TEST(ConformIdentity, EveryBufferHalfIsMemoryOfItsOwn) {
    ChannelInfoObservation seen;
    seen.inputs = seen.outputs = 2;
    for (bool input : {true, false})
        for (int32_t channel = 0; channel < 2; ++channel) {
            ChannelAnswer answer;
            answer.input = answer.isInput = input;
            answer.asked = answer.channel = channel;
            answer.type = ASIOSTInt32LSB;
            answer.name = (input ? "In " : "Out ") + std::to_string(channel + 1);
            seen.channels.push_back(answer);
        }
    seen.withBuffers = seen.channels;
    seen.size = 256;
    seen.createStatus = ASE_OK;
    // One block, each half 1024 bytes (256 samples of 4 bytes) after the one before.
    static unsigned char block[8 * 1024 + 1024];
    auto layOut = [&](size_t stride) {
        seen.buffers.clear();
        for (size_t k = 0; k < seen.channels.size(); ++k)
            seen.buffers.push_back({seen.channels[k].input,
                                    seen.channels[k].asked,
                                    {block + stride * 2 * k, block + stride * (2 * k + 1)}});
    };
    layOut(1024);
    EXPECT_EQ(judgeChannelInfo(seen).result, Result::pass) << judgeChannelInfo(seen).detail;

    // Halves laid out at half their length: each overlaps the next by 512 bytes.
    layOut(512);
    Outcome outcome = judgeChannelInfo(seen);
    EXPECT_EQ(outcome.result, Result::fail);
    EXPECT_EQ(outcome.faults.size(), 7u);
    EXPECT_EQ(outcome.faults.front(), "input 0 half 0 and input 0 half 1 share memory: 512 bytes of 1024");
    // 16-bit samples take half as much: the same layout then holds them.
    for (ChannelAnswer& answer : seen.channels)
        answer.type = ASIOSTInt16LSB;
    seen.withBuffers = seen.channels;
    EXPECT_EQ(judgeChannelInfo(seen).result, Result::pass);

    // Two outputs handed the same buffer; and a half left null.
    layOut(2048);
    seen.buffers[3].halves[0] = seen.buffers[2].halves[0];
    seen.buffers[1].halves[1] = nullptr;
    outcome = judgeChannelInfo(seen);
    ASSERT_EQ(outcome.faults.size(), 2u);
    EXPECT_EQ(outcome.faults[0], "createBuffers answered 0 but left input 1 half 1 null");
    EXPECT_EQ(outcome.faults[1], "output 0 half 0 and output 1 half 0 share memory: the same buffer");

    // A channel that answers another type once buffers exist.
    layOut(2048);
    seen.withBuffers[2].type = ASIOSTFloat32LSB;
    EXPECT_EQ(judgeChannelInfo(seen).detail,
              "output 0 with buffers answered the sample type 19, before them 16");
    // Without buffers they are not judged.
    seen.createStatus = ASE_InvalidMode;
    EXPECT_EQ(judgeChannelInfo(seen).result, Result::pass);
    EXPECT_EQ(bufferHalfBytes(ASIOSTDSDInt8MSB1, 256), 32);
    EXPECT_EQ(bufferHalfBytes(ASIOSTFloat64LSB, 256), 2048);
    EXPECT_EQ(bufferHalfBytes(5, 256), 0);
}

TEST(ConformRates, NonsenseRatesAndTheCurrentRate) {
    SampleRatesObservation seen;
    seen.standard = {{44100, ASE_OK}, {48000, -995}};
    seen.current = 44100;
    for (double rate : nonsenseRates())
        seen.nonsense.push_back({rate, -995});
    EXPECT_EQ(judgeSampleRates(seen).detail,
              "accepts 44100 Hz; current 44100 Hz; refuses -1, 0, NaN, infinity, 1e+12");
    seen.currentAccepted = -995;
    seen.nonsense[2].status = ASE_OK;
    EXPECT_EQ(judgeSampleRates(seen).detail,
              "the current rate 44100 Hz is one canSampleRate refuses (NoClock (-995)); 1 more fault");

    SetSampleRateObservation one;
    one.original = 44100;
    one.accepted = {{44100, ASE_OK, ASE_OK, 44100, {}, {}}};
    EXPECT_EQ(judgeSetSampleRate(one).result, Result::skip);
    one.accepted.push_back({48000, ASE_OK, ASE_OK, 44100, {}, {}});
    one.restored = {44100, ASE_OK, ASE_OK, 44100, {}, {}};
    EXPECT_EQ(judgeSetSampleRate(one).detail,
              "setSampleRate(48000) succeeded, getSampleRate then reported 44100");
}

// getSampleRate says only what the driver was told: a stream at each rate set shows the
// pace it really runs at.
TEST(ConformRates, AStreamMustRunAtTheRateSet) {
    auto ranAt = [](double rate, double clock) {
        RateSetting setting{rate, ASE_OK, ASE_OK, rate, {}, {}};
        const int count = static_cast<int>(paceSwitches(rate, 256));
        setting.run = runOf(steadySwitches(count, 256, 256 / clock), 256);
        return setting;
    };
    SetSampleRateObservation seen;
    seen.original = 48000;
    seen.accepted = {ranAt(44100, 44100), ranAt(48000, 48000)};
    seen.restored = {48000, ASE_OK, ASE_OK, 48000, {}, {}};
    EXPECT_EQ(judgeSetSampleRate(seen).result, Result::pass);
    ASSERT_TRUE(positionPace(seen.accepted[0].run->notes));
    EXPECT_NEAR(*positionPace(seen.accepted[0].run->notes), 44100, 1);

    // setSampleRate(44100) answered 0 and getSampleRate echoes it; the clock stayed at 48000.
    seen.accepted[0] = ranAt(44100, 48000);
    const Outcome ignored = judgeSetSampleRate(seen);
    EXPECT_EQ(ignored.result, Result::fail);
    EXPECT_EQ(ignored.detail, "setSampleRate(44100) succeeded and getSampleRate reported it, but the stream "
                              "ran at 48000 Hz (its positions against the host's clock)");

    // The machine held the stream up: 40 ms without a switch, then the due ones at once,
    // and the last one 30 ms late. The pace is the driver's.
    seen.accepted[0] = ranAt(44100, 44100);
    std::vector<SwitchNote>& notes = seen.accepted[0].run->notes;
    for (size_t i = 10; i < 18; ++i)
        notes[i].hostBegin = notes[18].hostBegin;
    notes.back().hostBegin += 30'000'000;
    EXPECT_EQ(judgeSetSampleRate(seen).result, Result::pass);

    // A loaded machine: every switch up to 2 ms late, and a stall of 100 ms early on that
    // holds up a third of the stream, the due switches then at once.
    seen.accepted[0] = ranAt(44100, 44100);
    std::vector<SwitchNote>& loaded = seen.accepted[0].run->notes;
    for (size_t i = 0; i < loaded.size(); ++i)
        loaded[i].hostBegin += static_cast<int64_t>((i * 7919) % 2000) * 1000;
    const int64_t resumed = loaded[3].hostBegin + 100'000'000;
    for (size_t i = 3; i < loaded.size() && loaded[i].hostBegin < resumed; ++i)
        loaded[i].hostBegin = resumed + static_cast<int64_t>(i) * 20'000;
    EXPECT_EQ(judgeSetSampleRate(seen).result, Result::pass);
    ASSERT_TRUE(positionPace(loaded));
    EXPECT_NEAR(*positionPace(loaded), 44100, 44100 * 0.01);

    // A first stretch the machine bent beyond the limit is measured again: the second
    // decides. A rate ignored is ignored both times.
    seen.accepted[0] = ranAt(44100, 51000);
    seen.accepted[0].again = ranAt(44100, 44100).run;
    EXPECT_EQ(judgeSetSampleRate(seen).result, Result::pass);
    seen.accepted[0].again = ranAt(44100, 48000).run;
    const Outcome twice = judgeSetSampleRate(seen);
    EXPECT_EQ(twice.result, Result::fail);
    EXPECT_NE(twice.detail.find(
                  "ran at 51000 Hz (its positions against the host's clock); measured again: 48000 Hz"),
              std::string::npos)
        << twice.detail;
    seen.accepted[0] = ranAt(44100, 44100);

    // A stream that does not run at the rate set fails too.
    seen.accepted[1] = ranAt(48000, 48000);
    seen.accepted[1].run->notes.resize(2);
    EXPECT_EQ(judgeSetSampleRate(seen).result, Result::fail);
    EXPECT_LE(paceSwitches(8000, 2048), 8u);
    EXPECT_EQ(paceSwitches(48000, 256), 47u);
}

TEST(ConformBufferSizes, SizesToTryAreLegalAndTheIllegalOneIsNot) {
    const measure::BufferSizeRule rules[] = {
        {64, 2048, 256, 1}, {64, 8192, 512, -1}, {48, 1536, 96, 48},
        {1, 1, 1, 0},       {256, 256, 256, 0},  {32, 2147483647, 1024, 1},
    };
    for (const measure::BufferSizeRule& rule : rules) {
        const std::vector<int32_t> sizes = sizesToTry(rule);
        ASSERT_FALSE(sizes.empty());
        EXPECT_LE(sizes.size(), 11u);
        for (int32_t size : sizes)
            EXPECT_TRUE(measure::isLegalBufferSize(rule, size)) << size;
        EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
        if (const std::optional<int32_t> illegal = illegalSize(rule)) {
            EXPECT_FALSE(measure::isLegalBufferSize(rule, *illegal)) << *illegal;
        }
    }
    // Inside the range where the rule allows it, else just above the maximum.
    EXPECT_EQ(illegalSize({64, 8192, 512, -1}), 65);
    EXPECT_EQ(illegalSize({48, 1536, 96, 48}), 49);
    EXPECT_EQ(illegalSize({64, 2048, 256, 1}), 2049);
    // Granularity 0 with min != max is read differently by hosts: only the preferred size.
    EXPECT_EQ(sizesToTry({64, 2048, 256, 0}), std::vector<int32_t>{256});
}

TEST(ConformBufferSizes, EveryPlannedSizeIsTried) {
    // Min, preferred, max and the eight sizes spread between them.
    EXPECT_EQ(sizesToTry({64, 2048, 256, 1}),
              (std::vector<int32_t>{64, 256, 284, 504, 725, 945, 1166, 1386, 1607, 1827, 2048}));
}

TEST(ConformBufferSizes, AnAcceptedIllegalSizeMustReallyRun) {
    BufferSizesObservation seen;
    seen.rule = {64, 512, 256, 1};
    seen.legal = {runOf(steadySwitches(3, 64, 0.001), 64)};
    RunTrace illegal = runOf(steadySwitches(3, 512, 0.01), 513);
    seen.illegal = illegal;
    EXPECT_EQ(judgeBufferSizes(seen).detail,
              "createBuffers accepted the illegal size 513, then switch 1 stepped by 512, not 513");
    seen.illegal = runOf(steadySwitches(3, 513, 0.01), 513);
    EXPECT_EQ(judgeBufferSizes(seen).result, Result::pass);
    seen.illegal->createStatus = ASE_InvalidParameter;
    seen.afterwards = runOf({}, 256);
    EXPECT_EQ(judgeBufferSizes(seen).detail, "after the illegal size, at 256: no switch within 1.000 s");
}

// Each latency holds its buffer and follows it; a stale one, one shorter than the buffer
// and one that grows less than the buffer fail; a size not made is left to buffer-sizes.
TEST(ConformLatencyReport, LatenciesHoldTheBufferAndFollowIt) {
    const auto following = [](int32_t size) {
        return LatenciesAtSize{size, ASE_OK, ASE_OK, size, size + 300};
    };
    const Outcome good = judgeLatencyReport({following(64), following(256), following(2048)});
    EXPECT_EQ(good.result, Result::pass) << good.detail;
    EXPECT_EQ(good.detail,
              "64 in, 364 out at 64 samples to 2048 in, 2348 out at 2048 samples: over 3 sizes each "
              "latency holds its buffer and follows it");
    // A latency of twice the buffer grows faster: as good; a size refused is not judged here.
    EXPECT_EQ(judgeLatencyReport({{64, ASE_OK, ASE_OK, 64, 128},
                                  {128, ASE_InvalidMode, ASE_OK, 0, 0},
                                  {256, ASE_OK, ASE_OK, 256, 512}})
                  .result,
              Result::pass);

    const Outcome stale =
        judgeLatencyReport({{64, ASE_OK, ASE_OK, 300, 600}, {256, ASE_OK, ASE_OK, 300, 600}});
    EXPECT_EQ(stale.result, Result::fail);
    EXPECT_EQ(stale.faults, (std::vector<std::string>{
                                "from 64 to 256 samples the input latency stayed 300: a stale report",
                                "from 64 to 256 samples the output latency stayed 600: a stale report"}));

    const Outcome shortAndSlow =
        judgeLatencyReport({{64, ASE_OK, ASE_OK, 20, 276}, {128, ASE_OK, ASE_OK, 148, 300}});
    EXPECT_EQ(shortAndSlow.faults, (std::vector<std::string>{
                                       "from 64 to 128 samples the output latency went from 276 to 300, less "
                                       "than the buffer grew",
                                       "at 64 samples the input latency 20 is shorter than the buffer"}));

    EXPECT_EQ(judgeLatencyReport({{256, ASE_OK, ASE_OK, 0, 0}}).faults,
              (std::vector<std::string>{"at 256 samples the input latency 0 is shorter than the buffer",
                                        "at 256 samples the output latency 0 is shorter than the buffer"}));
    EXPECT_EQ(judgeLatencyReport({{256, ASE_OK, ASE_OK, 256, 256}}).result, Result::pass);
    EXPECT_EQ(judgeLatencyReport({{256, ASE_OK, ASE_NotPresent, 0, 0}}).result, Result::fail);
    EXPECT_EQ(judgeLatencyReport({{256, ASE_InvalidMode, ASE_OK, 0, 0}}).result, Result::skip);
}

TEST(ConformSwitches, WhatASequenceShows) {
    std::vector<SwitchNote> notes = steadySwitches(100, 256, 256 / 48000.0);
    SwitchFindings found = examineSwitches(notes, 256);
    EXPECT_TRUE(found.halfFault.empty() && found.stepFault.empty() && found.timeFault.empty());
    EXPECT_NEAR(found.meanInterval, 256 / 48000.0, 1e-9);
    EXPECT_EQ(found.threads, 1);

    notes[40].half = notes[39].half;
    notes[60].position += 256;
    notes[70].systemTime = notes[69].systemTime - 1;
    notes[80].overlapped = true;
    notes[81].thread = 8;
    found = examineSwitches(notes, 256);
    EXPECT_EQ(found.halfFault, "switch 40 repeated half 1");
    EXPECT_EQ(found.stepFault, "switch 60 stepped by 512, not 256");
    EXPECT_EQ(found.timeFault, "the system time went back at switch 70");
    EXPECT_EQ(found.overlaps, 1u);
    EXPECT_EQ(found.threads, 2);
    notes[3].half = 2;
    EXPECT_EQ(examineSwitches(notes, 256).halfFault, "switch 3 came with half 2");
}

TEST(ConformSwitches, AHonouredResetStartsAStreamOfItsOwn) {
    const double period = 256 / 48000.0;
    std::vector<SwitchNote> notes = steadySwitches(100, 256, period);
    std::vector<SwitchNote> after = steadySwitches(150, 256, period);
    for (SwitchNote& note : after) {
        note.set = 1;
        note.hostBegin += 2'000'000'000; // the reset took its while
    }
    notes.insert(notes.end(), after.begin(), after.end());
    const SwitchFindings found = examineSwitches(notes, 256);
    EXPECT_TRUE(found.stepFault.empty() && found.halfFault.empty() && found.timeFault.empty())
        << found.stepFault;
    EXPECT_NEAR(found.meanInterval, period, 1e-9);
    EXPECT_EQ(runFault(runOf(notes, 256), 3, false), "");
}

TEST(ConformBufferSizes, ABadRequestMustBeRefusedAndLeaveNothingRunning) {
    BadCreateObservation seen;
    seen.requests = {{"0 channels", ASE_InvalidParameter, 0}, {"output -1", ASE_InvalidParameter, 0}};
    EXPECT_EQ(judgeBadCreate(seen).result, Result::pass);
    // One switch after a refused request: something was left running.
    seen.requests[1].switchesAfter = 1;
    EXPECT_EQ(judgeBadCreate(seen).result, Result::fail);
    seen.requests[1].switchesAfter = 0;
    seen.requests[0].status = ASE_OK;
    EXPECT_EQ(judgeBadCreate(seen).result, Result::fail);
    seen.requests[0].status = ASE_InvalidParameter;
    seen.goodAfter = ASE_InvalidMode;
    EXPECT_EQ(judgeBadCreate(seen).result, Result::fail);
}

TEST(ConformBufferSizes, PositionsThatStandStillDoNotAdvance) {
    std::vector<SwitchNote> notes = steadySwitches(4, 256, 0.005);
    EXPECT_EQ(runFault(runOf(notes, 256), 3, false), "");
    notes[2].position = notes[1].position; // two switches at one position
    EXPECT_NE(runFault(runOf(notes, 256), 3, false), "");
    EXPECT_EQ(judgeChannelSubsets({{"one input only", true, runOf(notes, 256)}}).result, Result::fail);
}

TEST(ConformClockSources, OneCurrentAmongDistinctSources) {
    ClockSourcesObservation seen;
    seen.sources = {{0, true, true, "Internal"}, {1, false, true, "Word clock"}};
    seen.outOfRangeIndex = 2;
    seen.setOutOfRangeStatus = ASE_InvalidParameter;
    EXPECT_EQ(judgeClockSources(seen).result, Result::pass);
    const auto with = [&](auto change) {
        ClockSourcesObservation changed = seen;
        change(changed);
        return judgeClockSources(changed).result;
    };
    EXPECT_EQ(with([](auto& o) { o.sources[1].current = true; }), Result::fail);  // two current
    EXPECT_EQ(with([](auto& o) { o.sources[0].current = false; }), Result::fail); // none current
    EXPECT_EQ(with([](auto& o) { o.sources[1].index = 0; }), Result::fail);       // one index twice
    EXPECT_EQ(with([](auto& o) { o.sources[1].nameTerminated = false; }), Result::fail);
    EXPECT_EQ(with([](auto& o) { o.setCurrentStatus = ASE_NotPresent; }), Result::fail);
    EXPECT_EQ(with([](auto& o) { o.setOutOfRangeStatus = ASE_OK; }), Result::fail);
    EXPECT_EQ(with([](auto& o) { o.sources.clear(); }), Result::fail);
    EXPECT_EQ(with([](auto& o) { o.status = ASE_NotPresent; }), Result::fail);
}

TEST(ConformFigures, TheDocumentGetsFiguresOnlyWhenEveryCallAnswered) {
    const std::optional<measure::FigureFacts> facts = figureFacts(soundFigures());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->inputs, 2);
    EXPECT_EQ(facts->bufferActual, 256);
    EXPECT_EQ(facts->sampleRate, 48000);
    EXPECT_EQ(facts->outputLatency, 512);
    FiguresObservation refused = soundFigures();
    refused.latenciesStatus = ASE_NotPresent;
    EXPECT_FALSE(figureFacts(refused));
}

TEST(ConformSamplePosition, AReadIsJudgedAgainstTheCallbacksAroundIt) {
    SamplePositionObservation seen;
    seen.size = 256;
    seen.beforeStart = seen.beforeStartLater = {ASE_OK, 0, {}, {}};
    seen.run = runOf(steadySwitches(3, 256, 0.005), 256);
    // The host thread was held up between the two looks: the driver's answer lies between them.
    seen.running = {{ASE_OK, 5120, 1024, 9216}};
    EXPECT_EQ(judgeSamplePosition(seen).result, Result::pass);
    seen.running = {{ASE_OK, 9216 + 513, 9216, 9216}};
    EXPECT_EQ(judgeSamplePosition(seen).detail,
              "getSamplePosition while running gave 9729, the last callback 9216");
    seen.running.clear();
    seen.beforeStartLater.position = 1470;
    EXPECT_EQ(judgeSamplePosition(seen).detail, "before start the position moved from 0 to 1470");
}

TEST(ConformMessages, SelectorsAndAMinimalHost) {
    FutureSelectorsObservation future;
    future.canQueries = {
        {kAsioCanTimeInfo, ASE_SUCCESS}, {kAsioCanInputMonitor, ASE_NotPresent}, {kAsioCanTimeCode, 1}};
    future.unknown = {{0x7FFFFFFF, ASE_OK}};
    EXPECT_EQ(judgeFutureSelectors(future).detail,
              "canTimeCode answered 1, not success, NotPresent or InvalidParameter; 1 more fault");

    HostMessagesObservation messages;
    messages.asked = {kAsioSupportsTimeInfo};
    messages.sent = {{kAsioResetRequest, 2}};
    messages.fullHost = messages.minimalHost = runOf(steadySwitches(3, 256, 0.005), 256);
    EXPECT_EQ(
        judgeHostMessages(messages).detail,
        "asks about supportsTimeInfo; sends resetRequest x2; runs with a host that answers no to everything");
    messages.minimalHost.createStatus = ASE_NotPresent;
    EXPECT_EQ(judgeHostMessages(messages).detail,
              "with a host that answers no to every message: createBuffers answered NotPresent (-1000)");

    // Time records for a host that said it takes none (the full host takes them).
    messages.minimalHost = runOf(steadySwitches(3, 256, 0.005), 256);
    for (SwitchNote& note : messages.fullHost.notes)
        note.timeInfo = true;
    EXPECT_EQ(judgeHostMessages(messages).result, Result::pass);
    messages.minimalHost.notes[2].timeInfo = true;
    EXPECT_EQ(
        judgeHostMessages(messages).detail,
        "with a host that answers no to every message: 1 switch came through bufferSwitchTimeInfo, which "
        "such a host need not have");
}

TEST(ConformSupervision, CrashesAndHangsNameTheCall) {
    CallBeaconReading beacon;
    EXPECT_EQ(crashDetail(beacon, "signal 6"), "crashed outside any driver call (signal 6)");
    beacon.otherCall = telDriverCall::outputReady;
    EXPECT_EQ(crashDetail(beacon, "signal 11"), "crashed in outputReady (signal 11)");
    beacon.hostCall = beacon.hostOuterCall = telDriverCall::stop;
    EXPECT_EQ(hangDetail(beacon, 20), "no answer from stop within 20 s; another thread was in outputReady");
    EXPECT_EQ(crashDetail(beacon, "access violation 0xC0000005"),
              "crashed in stop (access violation 0xC0000005); another thread was in outputReady");
    beacon.otherCall = telDriverCall::stop;
    EXPECT_EQ(hangDetail(beacon, 2), "no answer from stop within 2 s; another thread was in it as well");
}

// A start that calls back on the host's thread and never returns: the hang is start's,
// the host's call that did not return, whatever the callback was in when the limit came;
// a crash is the innermost call's.
TEST(ConformSupervision, AHangNamesTheCallThatDidNotReturn) {
    CallBeaconReading beacon;
    beacon.hostOuterCall = telDriverCall::start;
    beacon.hostCall = telDriverCall::getSamplePosition;
    EXPECT_EQ(hungCallOf(beacon), telDriverCall::start);
    EXPECT_EQ(hangDetail(beacon, 2), "no answer from start within 2 s");
    EXPECT_EQ(callOf(beacon), telDriverCall::getSamplePosition);
    EXPECT_EQ(crashDetail(beacon, "signal 11"), "crashed in getSamplePosition (signal 11)");
}
