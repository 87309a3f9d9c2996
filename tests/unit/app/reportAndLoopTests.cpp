// The program's texts: options, report, failure lines and the status loop, seen
// through the log output's hook with the console switched off.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/report.h"
#include "app/runLoop.h"
#include "asio/telAsioBufferProcessor.h"
#include "tests/support/scriptedDriver.h"
#include "util/telUtils.h"

namespace {

std::vector<telText> printedLines;
void collectLine(const telText& line) { printedLines.push_back(line); }

class ProgramTextTest : public ::testing::Test {
  protected:
    void SetUp() override {
        telAsioApiStartup();
        printedLines.clear();
        configureLog(u"<none>", collectLine, 0, -1, 0, -1, -1, telFalse, -1);
    }
    void TearDown() override {
        configureLog(u"<none>", nullptr, 1, -1, 0, -1, -1, telFalse, -1);
        setArgumentsForTesting({});
    }

    telOwned<telAsioDriver> initialised() {
        telOwned<telAsioDriver> object = telCreate<telAsioDriver>(&driver);
        EXPECT_TRUE(initialiseDriver(*object));
        return object;
    }

    teltest::ScriptedDriver driver;
};

TEST(ProgramNumbers, CodesAndGroupedFigures) {
    EXPECT_EQ(hexCodeText(-1000), u"-3E8");
    EXPECT_EQ(hexCodeText(-997), u"-3E5");
    EXPECT_EQ(hexCodeText(static_cast<int32_t>(0x80040154u)), u"-7FFBFEAC");
    EXPECT_EQ(decimalText(-1), u"-1");
    const telText s(1, groupSeparator());
    EXPECT_EQ(statusText(12345678u, 480000), u"12" + s + u"345" + s + u"678 ms / 480" + s + u"000 samples\r");
    EXPECT_EQ(statusText(4294967295u, -5), u"4" + s + u"294" + s + u"967" + s + u"295 ms / -5 samples\r");
    const char name[4] = {'a', 'b', 'c', 'd'}; // no terminator within the field
    EXPECT_EQ(driverFieldText(name, sizeof name), u"abcd");
    const char shorter[4] = {'a', 0, 'c', 'd'};
    EXPECT_EQ(driverFieldText(shorter, sizeof shorter), u"a");
}

TEST_F(ProgramTextTest, OptionsFromTheCommandLine) {
    struct Case {
        std::vector<telText> args;
        int32_t index;
        bool panel;
    } cases[] = {
        {{u"/INDEX:2"}, 2, true},           {{u"-index=2", u"/skipcp"}, 2, false},
        {{u"\\index=2"}, 2, true},          {{u"/indexx=2"}, 0, true},
        {{u"/index=1", u"/index=2"}, 1, true}, {{u"/skipcp=no"}, 0, false},
        {{u"/index="}, 0, true},            {{u"/index=-1"}, -1, true},
        {{u"/", u"-"}, 0, true},            {{u"abc"}, 0, true},
    };
    for (const Case& c : cases) {
        std::vector<telText> args{u"echoprobe"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        setArgumentsForTesting(args);
        const programOptions options = readOptions();
        EXPECT_EQ(options.requestedIndex, c.index) << std::string(c.args[0].begin(), c.args[0].end());
        EXPECT_EQ(options.showControlPanel != 0, c.panel) << std::string(c.args[0].begin(), c.args[0].end());
    }
    EXPECT_TRUE(printedLines.empty()) << "no usage text when there are arguments";

    setArgumentsForTesting({u"echoprobe"});
    const programOptions none = readOptions();
    EXPECT_EQ(none.requestedIndex, 0);
    EXPECT_TRUE(none.showControlPanel);
    ASSERT_EQ(printedLines.size(), 7u);
    EXPECT_EQ(printedLines[0], u"\r\nusage: echoprobe [/index=N] [/skipcp] [/nosine] [/noloop]");
    EXPECT_EQ(printedLines[6], u"");
}

// The values of the measuring switches are read strictly: anything but what the switch
// takes is refused, so a script's typo never starts an endless or a wrong run.
TEST(ProgramOptions, MeasuringSwitchValuesAreReadStrictly) {
    struct Number {
        telText text;
        std::optional<int64_t> value;
    } numbers[] = {{u"5", 5},          {u"0", 0},          {u"-1", {}},       {u"abc", {}},      {u"", {}},
                   {u"1.5", {}},       {u" 5", {}},        {u"+5", {}},       {u"$10", {}},      {u"0x10", {}},
                   {u"2147483648", 2147483648}, {u"9999999999999999999", {}}};
    for (const Number& n : numbers) EXPECT_EQ(readWholeNumber(n.text), n.value) << std::string(n.text.begin(), n.text.end());

    struct Rate {
        telText text;
        std::optional<double> value;
    } rates[] = {{u"48000", 48000.0}, {u"44100.5", 44100.5}, {u"0", {}},   {u"-1", {}},  {u"nan", {}},
                 {u"inf", {}},        {u"1e5", {}},          {u"48000.", {}}, {u".5", {}}, {u"", {}}};
    for (const Rate& r : rates) EXPECT_EQ(readRate(r.text), r.value) << std::string(r.text.begin(), r.text.end());

    EXPECT_EQ(readLatencyChannels(u"2,3")->output, 2);
    EXPECT_EQ(readLatencyChannels(u"2,3")->input, 3);
    for (const telText bad : {u"0,1", u"1,0", u"a,b", u"1", u"1,2,3", u",", u"-1,1"})
        EXPECT_FALSE(readLatencyChannels(bad)) << std::string(bad.begin(), bad.end());
}

TEST_F(ProgramTextTest, AWronglyGivenSwitchStopsTheRunOnlyWhereTheRunDependsOnIt) {
    struct Case {
        std::vector<telText> args;
        bool usageError;
        bool judged; // the exit status tells the outcome
    } cases[] = {
        {{u"/seconds=0"}, true, true},
        {{u"/seconds=-1"}, true, true},
        {{u"/seconds=abc"}, true, true},
        {{u"/seconds=3", u"/buffer=0"}, true, true},
        {{u"/rate=-1"}, true, false},
        {{u"/latency=0,1"}, true, true},
        {{u"/json="}, true, true},
        {{u"/record="}, true, true},
        {{u"/seconds=3", u"/stats"}, false, true},
        {{u"/stats", u"/latency"}, false, true},
        {{u"/html=page.html"}, false, true},
        {{u"/stats"}, false, false},
        // A switch given twice is refused whichever comes first.
        {{u"/seconds=1", u"/seconds=abc"}, true, true},
        {{u"/seconds=abc", u"-SECONDS:1"}, true, true},
        {{u"/json=a.json", u"/json=b.json"}, true, true},
    };
    for (const Case& c : cases) {
        std::vector<telText> args{u"echoprobe"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        setArgumentsForTesting(args);
        printedLines.clear();
        const programOptions options = readOptions();
        const std::string shown(c.args[0].begin(), c.args[0].end());
        EXPECT_EQ(options.usageError, c.usageError) << shown;
        EXPECT_EQ(options.judged(), c.judged) << shown;
        // A fault stopping the run prints its line and the whole usage text, and keeps
        // the line for the JSON report.
        EXPECT_EQ(printedLines.size() > 5, c.usageError) << shown;
        EXPECT_EQ(options.stopsAfterOptions(), c.usageError) << shown;
        EXPECT_EQ(!options.usageErrors.empty(), c.usageError) << shown;
    }
}

// The full report's bytes are compared by the end-to-end runs; here the rate, which
// is cut towards zero, and a driver without inputs, which has no pairs.
TEST_F(ProgramTextTest, ReportCutsTheRateAndListsNoPairsWithoutInputs) {
    driver.script.inputs = 0;
    driver.script.outputs = 2;
    driver.script.sampleRate = 44100.7;
    telOwned<telAsioDriver> object = initialised();
    printDriverReport(*object);
    ASSERT_EQ(printedLines.size(), 12u);
    EXPECT_EQ(printedLines[3], u"SampleRate: 44100");
    EXPECT_EQ(printedLines[7], u"Output channels:");
    EXPECT_EQ(printedLines[10], u"Channels loopback: ");
    EXPECT_EQ(printedLines[11], u"");
}

TEST_F(ProgramTextTest, FailureLinesCarryTheDriversTextAndCode) {
    driver.script.initSucceeds = false;
    driver.script.errorText = "no device";
    telOwned<telAsioDriver> object = telCreate<telAsioDriver>(&driver);
    EXPECT_FALSE(initialiseDriver(*object));
    ASSERT_EQ(printedLines.size(), 1u);
    EXPECT_EQ(printedLines[0], u"Could not initialize the driver, error=no device; error code=-3E8");

    printedLines.clear();
    teltest::ScriptedDriver starting;
    starting.failWith(teltest::Op::start, -1001);
    starting.script.errorText = "clock lost";
    telOwned<telAsioDriver> other = telCreate<telAsioDriver>(&starting);
    ASSERT_TRUE(initialiseDriver(*other));
    EXPECT_FALSE(startDriver(*other));
    ASSERT_EQ(printedLines.size(), 1u);
    EXPECT_EQ(printedLines[0], u"Unable to start the driver, error message: clock lost; error code=-3E9");
}

TEST_F(ProgramTextTest, SampleRateFallsBackTo44100) {
    driver.script.acceptedRates = {44100.0};
    telOwned<telAsioDriver> object = initialised();
    driver.clearLog();
    chooseSampleRate(*object);
    EXPECT_EQ(object->sampleRate(), 44100.0);
    const std::vector<std::string> calls = driver.driverCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].rfind("setSampleRate", 0), 0u) << calls[1];
}

// The status loop against scripted ports: one pass per 100 ms sleep until a stop.
struct LoopRecorder {
    static inline std::vector<telText> written;
    static inline std::vector<uint32_t> sleeps;
    static inline int32_t passesBeforeStop = 0;
    static inline stopCause cause = stopCause::space;
    static inline uint64_t now = 0;
    static uint32_t clock() { return 12345678u; }
    static void sleep(uint32_t ms) {
        sleeps.push_back(ms);
        now += ms;
    }
    static std::optional<stopCause> stop() {
        return --passesBeforeStop <= 0 ? std::optional<stopCause>(cause) : std::nullopt;
    }
    static void write(const telText& text) { written.push_back(text); }
    static uint64_t monotonic() { return now; }
};

TEST_F(ProgramTextTest, StatusLoopWritesOnePassPerSleepUntilStopped) {
    driver.script.position = {0, 480000}; // high word first
    telOwned<telAsioDriver> object = initialised();
    ASSERT_EQ(object->start(telFalse, -1), ASE_OK);
    const statusLoopPorts ports{LoopRecorder::clock, LoopRecorder::sleep, LoopRecorder::stop, LoopRecorder::write,
                                LoopRecorder::monotonic};

    LoopRecorder::passesBeforeStop = 1; // SPACE already held: exactly one pass
    EXPECT_EQ(runStatusLoop(*object, ports), stopCause::space);
    ASSERT_EQ(LoopRecorder::written.size(), 1u);
    EXPECT_EQ(LoopRecorder::written[0], statusText(12345678u, 480000));
    EXPECT_EQ(LoopRecorder::sleeps, std::vector<uint32_t>{100});

    LoopRecorder::written.clear();
    LoopRecorder::sleeps.clear();
    driver.failWith(teltest::Op::getSamplePosition, ASE_NotPresent);
    LoopRecorder::passesBeforeStop = 3;
    runStatusLoop(*object, ports);
    EXPECT_TRUE(LoopRecorder::written.empty()) << "a failed position query writes nothing";
    EXPECT_EQ(LoopRecorder::sleeps.size(), 3u);

    // A time limit: the end of input does not stop the run, the limit does, after its
    // whole time; without a limit the end of input stops it at once.
    LoopRecorder::sleeps.clear();
    LoopRecorder::cause = stopCause::endOfInput;
    LoopRecorder::passesBeforeStop = 1;
    int32_t passes = 0;
    const statusLoopLimits twoSeconds{2, [&passes] { ++passes; }, {}};
    EXPECT_EQ(runStatusLoop(*object, ports, twoSeconds), stopCause::timeLimit);
    EXPECT_EQ(passes, 20);
    LoopRecorder::passesBeforeStop = 1;
    EXPECT_EQ(runStatusLoop(*object, ports), stopCause::endOfInput);
    object->stop(telTrue);
}

} // namespace
