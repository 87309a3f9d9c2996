#include "app/measured/measuredRun.h"

#include "app/html/plotData.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "app/measured/fileSink.h"
#include "app/measured/sampleEncode.h"
#include "app/measured/steadyNanoseconds.h"
#include "app/report.h"
#include "app/supervised/childLink.h"
#include "app/supervised/runProgress.h"
#include "asio/leftInMemory.h"
#include "measure/sampleDecode.h"
#include "platform/platform.h"
#include "util/telUtils.h"

namespace {

// How much input the tap holds for the consumer thread, and the most memory it may take.
// A channel map's analysis takes a while once to find the loops (every input against
// every output at every lag), while the input goes on coming: its tap holds more.
constexpr double tapSeconds = 2.0;
constexpr double mapTapSeconds = 8.0;
constexpr size_t tapMaxBytes = size_t{256} << 20;

telText number(int64_t value) {
    return decimalText(value);
}

// The inputs the driver said it has, before the driver object's limit of 256.
int32_t reportedInputs(telAsioDriver& driver) {
    int32_t inputs = 0, outputs = 0;
    return driver.getChannels(inputs, outputs) == ASE_OK ? inputs : driver.inputChannels();
}

bool refuse(const telText& line, telText* failure) {
    printMessage(line);
    if (failure != nullptr) *failure = line;
    return false;
}

} // namespace

measuredRun::measuredRun(const programOptions& options) : f_options(options) {}

measuredRun::~measuredRun() {
    // The machine probe reads the clocks of the tool's threads, which go with this object.
    if (f_machine) f_machine->stop();
    if (f_driver != nullptr && f_driver->bufferProcessor() == f_processor &&
        !f_driver->setBufferProcessor(nullptr)) {
        // A callback is still inside the processor: what it may use stays in memory. The
        // consumer only reads the tap, so it still finishes and closes the recording.
        leaveInMemory(f_probe);
        leaveInMemory(f_latencyOutput);
        if (f_consumer) f_consumer->finish();
        f_consumer.reset();
        leaveInMemory(f_tap);
        return;
    }
    if (f_consumer) f_consumer->finish();
}

bool measuredRun::prepare(telAsioDriver& driver, measuringBP& processor, telText* failure) {
    f_driver = &driver;
    f_processor = &processor;
    processor.beginRun();
    f_timing = std::make_unique<measure::SwitchTiming>(driver.bufActualSize(), driver.sampleRate());
    f_probe = std::make_unique<switchProbe>();
    f_machine = std::make_unique<machineProbe>(f_timing->periodNs().value_or(0.0));
    processor.watchSwitches(f_probe.get());
    if (f_options.latency && !prepareLatency(driver, processor, failure)) return false;
    if (!prepareTap(driver, processor, failure)) return false;
    // The tool's own threads' work is never a stall the driver caused.
    f_machine->countAsTool(&f_mainClock);
    if (f_consumer) f_machine->countAsTool(f_consumer->cpuClock());
    return true;
}

bool measuredRun::prepareLatency(telAsioDriver& driver, measuringBP& processor, telText* failure) {
    const latencyChannels wanted = *f_options.latency;
    if (wanted.all) return prepareChannelMap(driver, processor, failure);
    const int32_t inputs = driver.inputChannels();
    const int32_t outputs = driver.outputChannels();
    if (outputs < 1)
        return refuse(u"The driver has no outputs: a round trip needs an output and an input.", failure);
    if (inputs < 1)
        return refuse(u"The driver has no inputs: a round trip needs an output and an input.", failure);
    if (wanted.output > outputs)
        return refuse(u"Output " + number(wanted.output) + u" does not exist: the driver has " +
                          number(outputs) + u" output" + (outputs == 1 ? u"." : u"s."),
                      failure);
    if (wanted.input > inputs)
        return refuse(u"Input " + number(wanted.input) + u" does not exist: the driver has " +
                          number(inputs) + u" input" + (inputs == 1 ? u"." : u"s."),
                      failure);
    const int32_t outputChannel = inputs + wanted.output - 1;
    const int32_t inputChannel = wanted.input - 1;
    const ASIOSampleType outputType = driver.getChannelInfoByIndex(outputChannel)->_type;
    const ASIOSampleType inputType = driver.getChannelInfoByIndex(inputChannel)->_type;
    if (!encodeSamples(outputType, nullptr, 0, nullptr))
        return refuse(u"Output " + number(wanted.output) + u" carries no sample values (" +
                          sampleTypeText(outputType) + u"): the round trip cannot be measured.",
                      failure);
    if (!measure::hasSampleValues(inputType))
        return refuse(u"Input " + number(wanted.input) + u" carries no sample values (" +
                          sampleTypeText(inputType) + u"): the round trip cannot be measured.",
                      failure);
    const double rate = driver.sampleRate();
    f_signal = measure::makeLoopbackSignal(rate);
    if (!f_signal)
        return refuse(u"The round trip cannot be measured at " + number(static_cast<int64_t>(rate)) + u" Hz.",
                      failure);

    f_latencyOutput = std::make_unique<latencySignalOutput>(driver, outputChannel, *f_signal);
    processor.playLatencySignal(f_latencyOutput.get());
    f_latencyInputSlot = inputChannel;
    measure::LatencyFacts facts;
    facts.output = wanted.output;
    facts.input = wanted.input;
    facts.reportedSamples = int64_t{driver.inputLatency()} + driver.outputLatency();
    facts.bufferSize = driver.bufActualSize();
    facts.sampleRate = rate;
    f_latencyFacts = facts;
    return true;
}

// Every output plays its own signal and every input is analysed against all of them.
bool measuredRun::prepareChannelMap(telAsioDriver& driver, measuringBP& processor, telText* failure) {
    const int32_t inputs = driver.inputChannels();
    const int32_t outputs = driver.outputChannels();
    if (outputs < 1)
        return refuse(u"The driver has no outputs: a channel map needs outputs and inputs.", failure);
    if (inputs < 1)
        return refuse(u"The driver has no inputs: a channel map needs outputs and inputs.", failure);
    for (int32_t channel = 0; channel < inputs + outputs; ++channel) {
        const bool input = channel < inputs;
        const ASIOSampleType type = driver.getChannelInfoByIndex(channel)->_type;
        if (input ? measure::hasSampleValues(type) : encodeSamples(type, nullptr, 0, nullptr)) continue;
        return refuse((input ? u"Input " : u"Output ") + number(input ? channel + 1 : channel - inputs + 1) +
                          u" carries no sample values (" + sampleTypeText(type) +
                          u"): the channel map cannot be measured.",
                      failure);
    }
    std::string error;
    const std::optional<std::vector<int>> expected =
        measure::expectedOutputs(inputs, outputs, f_options.wiring, error);
    if (!expected) return refuse(u"/wiring: " + plat::fromNarrow(error) + u".", failure);
    const double rate = driver.sampleRate();
    f_mapSignals = measure::makeChannelSignals(rate, outputs);
    if (!f_mapSignals)
        return refuse(u"The channel map cannot be measured at " + number(static_cast<int64_t>(rate)) +
                          u" Hz.",
                      failure);
    f_latencyOutput = std::make_unique<latencySignalOutput>(driver, *f_mapSignals);
    processor.playLatencySignal(f_latencyOutput.get());
    f_expectedOutputs = *expected;
    measure::ChannelMapFacts facts;
    facts.wiring = f_options.wiring;
    facts.reported = {int64_t{driver.inputLatency()} + driver.outputLatency(), driver.bufActualSize()};
    facts.sampleRate = rate;
    f_mapFacts = facts;
    return true;
}

bool measuredRun::prepareTap(telAsioDriver& driver, measuringBP& processor, telText* failure) {
    const bool latency = f_latencyOutput != nullptr;
    const bool map = f_mapSignals.has_value();
    if (!latency && !f_options.recordPath) return true;

    // With a single pair's loopback only its input is taken (and recorded); otherwise,
    // for a channel map too, every input.
    std::vector<int32_t> channels;
    if (latency && !map)
        channels.push_back(f_latencyInputSlot);
    else
        for (int32_t channel = 0; channel < driver.inputChannels(); ++channel)
            channels.push_back(channel);

    std::unique_ptr<measure::WavWriter> writer;
    measure::WavPlan plan;
    std::vector<size_t> recordSlots;
    if (f_options.recordPath) {
        const telText& path = *f_options.recordPath;
        std::vector<ASIOSampleType> types;
        for (int32_t channel : channels)
            types.push_back(driver.getChannelInfoByIndex(channel)->_type);
        plan = measure::planWav(types, driver.sampleRate());
        if (channels.empty())
            return refuse(u"Cannot record to " + path + u": the driver has no inputs.", failure);
        if (!plan.recordable)
            return refuse(u"Cannot record to " + path + u": " + plat::fromNarrow(plan.whyNot) + u".",
                          failure);
        telText why;
        std::unique_ptr<measure::WavSink> sink =
            plat::pathKind(path) == plat::PathKind::folder ? nullptr : createFileSink(path, &why);
        if (!sink && why.empty()) why = u"it is a folder";
        writer = std::make_unique<measure::WavWriter>();
        if (!sink || !writer->open(std::move(sink), utf8Text(path), plan))
            return refuse(u"Cannot record to " + path + u": " +
                              (why.empty() ? plat::fromNarrow(writer->error()) : why) + u".",
                          failure);
        for (size_t slot = 0; slot < channels.size(); ++slot)
            recordSlots.push_back(slot);
        f_recordPath = utf8Text(path);
        tellParentRecording(*f_recordPath, plan);
        f_recordedChannels = plan.channels;
        if (!latency || map) f_channelsLeftOut = std::max(reportedInputs(driver) - driver.inputChannels(), 0);
    }

    f_tap = std::make_unique<inputTap>(driver, channels, driver.sampleRate(),
                                       map ? mapTapSeconds : tapSeconds, tapMaxBytes);
    if (!f_tap->ready()) {
        f_tap.reset();
        if (writer) {
            writer->close();
            return refuse(u"Cannot record to " + *f_options.recordPath + u": no memory for the input ring.",
                          failure);
        }
        // The run goes on; the loopback measurement says why it is missing.
        f_analysisMissing = "the loopback could not be analysed: no memory for the input ring";
        printMessage(u"Not enough memory for the input ring; the run goes on without the loopback analysis.");
        return true;
    }
    f_consumer = std::make_unique<inputConsumer>(*f_tap, recordSlots, std::move(writer), plan,
                                                 latency && !map ? std::optional<size_t>(0) : std::nullopt,
                                                 f_signal, driver.sampleRate());
    if (map) f_consumer->analyseChannelMap(*f_mapSignals, f_expectedOutputs);
    processor.tapInputs(f_tap.get());
    f_consumer->start();
    return true;
}

void measuredRun::started() {
    if (f_machine) f_machine->start();
    f_startCallNs = f_startNs = steadyNanoseconds();
    if (f_timing) f_timing->setOrigin(f_startNs);
}

// A driver whose start takes a while has delivered nothing meanwhile: the run counts
// from the start's return.
void measuredRun::startReturned() {
    f_startNs = steadyNanoseconds();
    f_calls.start = static_cast<double>(f_startNs - f_startCallNs) / 1e9;
    if (f_timing) f_timing->setOrigin(f_startNs);
}

// The pauses that lost time whose late switches all fell in stalls of the machine.
uint64_t measuredRun::pausesInStalls(const std::vector<measure::Stall>& stalls, double periodNs) const {
    const std::vector<measure::LateInterval> late = f_timing->lateIntervals(f_stopNs);
    uint64_t explained = 0;
    for (const measure::LateInterval& pause : f_timing->lostTimeIntervals()) {
        std::vector<measure::LateInterval> within;
        for (const measure::LateInterval& interval : late)
            if (interval.endNs > pause.startNs && interval.endNs <= pause.endNs) within.push_back(interval);
        if (!within.empty() && measure::lateIntervalsInStalls(within, stalls, periodNs) == within.size())
            ++explained;
    }
    return explained;
}

// Switches missing at the run's ends could not come while the machine stalled: those
// due after the start-up allowance before a first switch that came late, and those still
// due when the run stopped (the run's last ones). Each end's are the machine's when its
// stalls cover at least half the time from their being due to the switch or the stop.
uint64_t measuredRun::missingSwitchesInStalls(const measure::SwitchSummary& stats,
                                              const std::vector<measure::Stall>& stalls,
                                              double periodNs) const {
    const uint64_t missing = measure::missingSwitches(stats);
    const std::optional<int64_t> first = f_timing->firstEntryNs();
    if (missing == 0 || !first || periodNs <= 0) return 0;
    uint64_t explained = 0, leading = 0;
    const int64_t allowed = f_startNs + measure::startupForgivenNs;
    if (*first > allowed) {
        leading = std::min(missing, static_cast<uint64_t>(double(*first - allowed) / periodNs));
        if (leading > 0 && measure::lateIntervalsInStalls({{allowed, *first}}, stalls, 0.0) == 1)
            explained += leading;
    }
    const uint64_t trailing = missing - leading;
    if (trailing > 0) {
        const int64_t from =
            std::max<int64_t>(f_stopNs - std::llround(double(trailing + 1) * periodNs), *first);
        if (measure::lateIntervalsInStalls({{from, f_stopNs}}, stalls, 0.0) == 1) explained += trailing;
    }
    return explained;
}

void measuredRun::stopping() {
    f_stopNs = steadyNanoseconds();
}

void measuredRun::stopReturned() {
    f_stopReturnedNs = steadyNanoseconds();
    f_calls.stop = static_cast<double>(f_stopReturnedNs - f_stopNs) / 1e9;
    if (f_processor) f_processor->driverStopped();
    // A driver whose stop only asks its stream to end calls back a period or two later.
    constexpr int64_t shortestWatchNs = 20'000'000, longestWatchNs = 200'000'000;
    const double periodNs = f_timing ? f_timing->periodNs().value_or(0.0) : 0.0;
    const int64_t watchNs = std::clamp(static_cast<int64_t>(2 * periodNs), shortestWatchNs, longestWatchNs);
    // The watch counts only time the tool itself ran: a stall of the machine that held this
    // thread held the driver's too, so the watch goes on for as long (up to a second).
    constexpr int64_t stepNs = 2'000'000, longestStallNs = 1'000'000'000;
    int64_t dueNs = f_stopReturnedNs + watchNs, stalledNs = 0;
    for (int64_t nowNs = f_stopReturnedNs; nowNs < dueNs;) {
        const int64_t wakeNs = std::min(nowNs + stepNs, dueNs);
        plat::sleepUntilNs(wakeNs);
        nowNs = steadyNanoseconds();
        const int64_t overslept = std::min(nowNs - wakeNs, longestStallNs - stalledNs);
        if (overslept > stepNs) {
            stalledNs += overslept;
            dueNs += overslept;
        }
    }
    f_watchedNs = steadyNanoseconds();
}

void measuredRun::disposed() {
    if (f_watchedNs != 0)
        f_calls.disposeBuffers = static_cast<double>(steadyNanoseconds() - f_watchedNs) / 1e9;
}

statusLoopLimits measuredRun::loopLimits() {
    statusLoopLimits limits;
    if (f_options.seconds) limits.seconds = static_cast<uint32_t>(*f_options.seconds);
    // A supervising parent hears how far the run got, and with /html what it measured.
    auto progress = std::make_shared<runProgress>(f_options.htmlPath.has_value());
    limits.eachPass = [this, progress] {
        if (f_processor) f_processor->fillTone();
        if (f_probe) f_probe->drain(*f_timing);
        if (f_timing) progress->tell(*f_timing, f_startNs, steadyNanoseconds());
    };
    return limits;
}

runFindings measuredRun::finish(telAsioDriver& driver, const measuringBP& processor, stopCause cause,
                                ASIOError stopStatus, int signal) {
    runFindings findings;
    if (f_stopNs == 0) f_stopNs = steadyNanoseconds();
    if (f_machine) f_machine->stop();
    findings.seconds = static_cast<double>(f_stopNs - f_startNs) / 1e9;
    findings.cause = cause;
    findings.signal = signal;
    if (f_probe) {
        f_probe->drain(*f_timing);
        findings.stats = f_timing->summary(f_startNs, f_stopNs);
        // Every record the probe had no room for, those at the very end included.
        findings.stats.hostLostRecords = f_probe->lostRecords();
        // Every switch turned away, those after the last one admitted included.
        findings.stats.overlaps = processor.overlappingSwitches();
        findings.messages.bySelector = f_probe->messages();
        findings.messages.rateChanges = f_probe->rateChanges();
        if (const std::optional<int64_t> first = f_timing->firstEntryNs())
            findings.firstCallbackMs = static_cast<double>(std::max<int64_t>(*first - f_startNs, 0)) / 1e6;
    }
    findings.toneShortages = processor.toneShortages();
    // A stop that failed left the stream running: its switches are no fault of their own.
    findings.switchesAfterStop = stopStatus == ASE_OK ? processor.switchesAfterStop() : 0;
    findings.messages.outputReadyWanted = driver.postOutput() != 0;
    findings.messages.outputReadyCalls = processor.outputReadyCalls();
    if (stopStatus != ASE_OK) findings.stopFailure = utf8Text(hexCodeText(stopStatus));

    findings.calls = f_calls;

    // The machine's stalls, where the probe resolved those that matter at this period;
    // otherwise none are judged or drawn.
    std::vector<measure::Stall> stalls;
    if (f_machine && f_timing && f_machine->ran()) {
        findings.machine.notJudgedWhy = f_machine->whyNotJudged();
        findings.machine.probed = findings.machine.notJudgedWhy.empty();
        findings.machine.stallThresholdUs = static_cast<double>(f_machine->plan().stallThresholdNs) / 1e3;
    }
    if (findings.machine.probed) {
        stalls = f_machine->stalls();
        const double periodNs = f_timing->periodNs().value_or(0.0);
        findings.machine.stalls = f_machine->stallCount();
        findings.machine.ownStalls = f_machine->ownStallCount();
        findings.machine.longestStallMs = f_machine->longestStallMs();
        findings.machine.lateSwitchesInStalls =
            measure::lateIntervalsInStalls(f_timing->lateIntervals(f_stopNs), stalls, periodNs);
        findings.machine.lostTimeInStalls = pausesInStalls(stalls, periodNs);
        findings.machine.missingSwitchesInStalls = missingSwitchesInStalls(findings.stats, stalls, periodNs);
        findings.machine.behindInStalls =
            measure::lateIntervalsInStalls(f_timing->behindIntervals(), stalls, 0.0);
    }

    if (f_options.htmlPath && f_timing)
        findings.timingPlots = std::make_shared<const report::TimingData>(
            timingPlotData(*f_timing, findings.stats, f_startNs, stalls));

    findings.host.analysisMissing = f_analysisMissing;
    if (f_tap) {
        findings.host.lostInputBlocks = f_tap->lostBlocks();
        findings.host.lostInputFrames = f_tap->lostFrames();
    }
    if (f_consumer) {
        f_consumer->finish();
        if (f_latencyFacts) {
            f_latencyFacts->result = f_consumer->latency();
            findings.latency = f_latencyFacts;
        }
        if (f_mapFacts) {
            if (std::optional<measure::ChannelMapResult> map = f_consumer->channelMap()) {
                f_mapFacts->result = std::move(*map);
                findings.channelMap = f_mapFacts;
            }
        }
        if (f_recordPath) {
            const recordingResult& r = f_consumer->recording();
            measure::RecordingFacts facts;
            facts.path = *f_recordPath;
            facts.frames = r.frames;
            facts.driverGapFrames = r.driverGapFrames;
            facts.lostFrames = r.lostFrames;
            facts.overlapFrames = r.overlapFrames;
            facts.rebases = r.rebases;
            facts.framesNotWritten = r.framesNotWritten;
            facts.rf64 = r.rf64;
            facts.full = r.full;
            facts.written = r.written;
            facts.channels = f_recordedChannels;
            facts.channelsLeftOut = f_channelsLeftOut;
            facts.error = r.error;
            findings.recording = facts;
            findings.recordingPath = *f_options.recordPath;
        }
    }

    measure::RunFacts facts;
    facts.stats = findings.stats;
    facts.seconds = findings.seconds;
    auto reset = findings.messages.bySelector.find(kAsioResetRequest);
    facts.resetRequests = reset == findings.messages.bySelector.end() ? 0 : reset->second;
    facts.stopFailure = findings.stopFailure;
    if (findings.latency) {
        facts.latency = findings.latency->result;
        facts.reported =
            measure::ReportedLatency{findings.latency->reportedSamples, findings.latency->bufferSize};
    }
    if (findings.channelMap) {
        facts.channelMap = findings.channelMap->result;
        facts.reported = findings.channelMap->reported;
    }
    facts.machine = findings.machine;
    facts.host = findings.host;
    facts.calls = findings.calls;
    facts.switchesAfterStop = findings.switchesAfterStop;
    if (findings.recording && !findings.recording->written)
        facts.outputFailures.push_back("the recording could not be completed: " + findings.recording->error);
    // A signal that ended a timed run before its time; one that ends a run without a time
    // limit is the person's way of ending it.
    if (cause == stopCause::interrupt && f_options.seconds) facts.interruptSignal = signal != 0 ? signal : 2;
    findings.verdict = measure::judgeRun(facts);
    return findings;
}
