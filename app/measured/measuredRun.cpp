#include "app/measured/measuredRun.h"

#include <chrono>

#include "app/report.h"
#include "asio/leftInMemory.h"
#include "app/measured/sampleEncode.h"
#include "measure/sampleDecode.h"
#include "util/telUtils.h"

namespace {

// How much input the tap holds for the consumer thread, and the most memory it may take.
constexpr double tapSeconds = 2.0;
constexpr size_t tapMaxBytes = size_t{256} << 20;

int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

telText number(int64_t value) { return decimalText(value); }

bool refuse(const telText& line, telText* failure) {
    printMessage(line);
    if (failure != nullptr) *failure = line;
    return false;
}

} // namespace

measuredRun::measuredRun(const programOptions& options) : f_options(options) {}

measuredRun::~measuredRun() {
    if (f_driver != nullptr && f_driver->bufferProcessor() == f_processor && !f_driver->setBufferProcessor(nullptr)) {
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
    f_timing = std::make_unique<measure::SwitchTiming>(driver.bufActualSize(), driver.sampleRate());
    f_probe = std::make_unique<switchProbe>();
    processor.watchSwitches(f_probe.get());
    if (f_options.latency && !prepareLatency(driver, processor, failure)) return false;
    prepareTap(driver, processor);
    return true;
}

bool measuredRun::prepareLatency(telAsioDriver& driver, measuringBP& processor, telText* failure) {
    const latencyChannels wanted = *f_options.latency;
    const int32_t inputs = driver.inputChannels();
    const int32_t outputs = driver.outputChannels();
    if (outputs < 1) return refuse(u"The driver has no outputs: a round trip needs an output and an input.", failure);
    if (inputs < 1) return refuse(u"The driver has no inputs: a round trip needs an output and an input.", failure);
    if (wanted.output > outputs)
        return refuse(u"Output " + number(wanted.output) + u" does not exist: the driver has " + number(outputs) +
                          u" output" + (outputs == 1 ? u"." : u"s."),
                      failure);
    if (wanted.input > inputs)
        return refuse(u"Input " + number(wanted.input) + u" does not exist: the driver has " + number(inputs) +
                          u" input" + (inputs == 1 ? u"." : u"s."),
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
        return refuse(u"Input " + number(wanted.input) + u" carries no sample values (" + sampleTypeText(inputType) +
                          u"): the round trip cannot be measured.",
                      failure);
    const double rate = driver.sampleRate();
    f_signal = measure::makeLoopbackSignal(rate);
    if (!f_signal)
        return refuse(u"The round trip cannot be measured at " + number(static_cast<int64_t>(rate)) + u" Hz.", failure);

    f_latencyOutput = std::make_unique<latencySignalOutput>(driver, outputChannel, *f_signal);
    processor.playLatencySignal(f_latencyOutput.get());
    f_latencyInputSlot = inputChannel;
    measure::LatencyFacts facts;
    facts.output = wanted.output;
    facts.input = wanted.input;
    facts.reportedSamples = int64_t{driver.inputLatency()} + driver.outputLatency();
    facts.sampleRate = rate;
    f_latencyFacts = facts;
    return true;
}

void measuredRun::prepareTap(telAsioDriver& driver, measuringBP& processor) {
    const bool latency = f_latencyOutput != nullptr;
    if (!latency && !f_options.recordPath) return;

    // With a loopback measurement only its input is taken (and recorded); otherwise every input.
    std::vector<int32_t> channels;
    if (latency)
        channels.push_back(f_latencyInputSlot);
    else
        for (int32_t channel = 0; channel < driver.inputChannels(); ++channel) channels.push_back(channel);

    std::unique_ptr<measure::WavWriter> writer;
    measure::WavPlan plan;
    std::vector<size_t> recordSlots;
    if (f_options.recordPath) {
        const telText& path = *f_options.recordPath;
        std::vector<ASIOSampleType> types;
        for (int32_t channel : channels) types.push_back(driver.getChannelInfoByIndex(channel)->_type);
        plan = measure::planWav(types, driver.sampleRate());
        writer = std::make_unique<measure::WavWriter>();
        if (channels.empty()) {
            printMessage(u"Cannot record to " + path + u": the driver has no inputs; the run goes on without a recording.");
            writer.reset();
        } else if (!plan.recordable) {
            printMessage(u"Cannot record to " + path + u": " + plat::fromNarrow(plan.whyNot) +
                         u"; the run goes on without a recording.");
            writer.reset();
        } else if (!writer->open(plat::toNarrow(path), plan)) {
            printMessage(u"Cannot record to " + path + u": " + plat::fromNarrow(writer->error()) +
                         u"; the run goes on without a recording.");
            writer.reset();
        } else {
            for (size_t slot = 0; slot < channels.size(); ++slot) recordSlots.push_back(slot);
            f_recordPath = utf8Text(path);
        }
    }
    if (!writer && !latency) return;

    f_tap = std::make_unique<inputTap>(driver, channels, driver.sampleRate(), tapSeconds, tapMaxBytes);
    if (!f_tap->ready()) {
        printMessage(u"Not enough memory for the input ring; the run goes on without recording or loopback analysis.");
        if (writer) writer->close();
        f_tap.reset();
        f_latencyFacts.reset();
        f_recordPath.reset();
        return;
    }
    f_consumer = std::make_unique<inputConsumer>(*f_tap, recordSlots, std::move(writer), plan,
                                                 latency ? std::optional<size_t>(0) : std::nullopt, f_signal);
    processor.tapInputs(f_tap.get());
    f_consumer->start();
}

void measuredRun::started() { f_startNs = steadyNanoseconds(); }

void measuredRun::stopping() { f_stopNs = steadyNanoseconds(); }

statusLoopLimits measuredRun::loopLimits() {
    statusLoopLimits limits;
    if (f_options.seconds) limits.seconds = static_cast<uint32_t>(*f_options.seconds);
    limits.eachPass = [this] {
        if (f_probe) f_probe->drain(*f_timing);
    };
    return limits;
}

runFindings measuredRun::finish(telAsioDriver& driver, const measuringBP& processor, stopCause cause,
                                ASIOError stopStatus) {
    runFindings findings;
    if (f_stopNs == 0) f_stopNs = steadyNanoseconds();
    findings.seconds = static_cast<double>(f_stopNs - f_startNs) / 1e9;
    findings.cause = cause;
    if (f_probe) {
        f_probe->drain(*f_timing);
        findings.stats = f_timing->summary(f_startNs, f_stopNs);
        findings.messages.bySelector = f_probe->messages();
        findings.messages.rateChanges = f_probe->rateChanges();
        findings.lostRecords = f_probe->lostRecords();
    }
    findings.messages.outputReadyWanted = driver.postOutput() != 0;
    findings.messages.outputReadyCalls = processor.outputReadyCalls();
    if (stopStatus != ASE_OK) findings.stopFailure = utf8Text(hexCodeText(stopStatus));

    if (f_consumer) {
        f_consumer->finish();
        if (f_latencyFacts) {
            f_latencyFacts->result = f_consumer->latency();
            findings.latency = f_latencyFacts;
        }
        if (f_recordPath) {
            const recordingResult& r = f_consumer->recording();
            findings.recording = measure::RecordingFacts{*f_recordPath, r.frames,    r.driverGapFrames, r.lostFrames,
                                                         r.overlapFrames, r.full,     r.written,         r.error};
            findings.recordingPath = *f_options.recordPath;
        }
    }

    measure::RunFacts facts;
    facts.stats = findings.stats;
    auto reset = findings.messages.bySelector.find(kAsioResetRequest);
    facts.resetRequests = reset == findings.messages.bySelector.end() ? 0 : reset->second;
    facts.stopFailure = findings.stopFailure;
    if (findings.latency) facts.latency = findings.latency->result;
    findings.verdict = measure::judgeRun(facts);
    return findings;
}
