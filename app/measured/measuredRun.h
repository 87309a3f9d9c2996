// Everything a measuring run sets up around the driver (the switch probe, the input
// tap with its consumer thread, the loopback signal) and what it gathers once the
// driver has stopped: the health summary, the round trip, the recording and the verdict.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/measured/inputConsumer.h"
#include "app/measured/measuringBP.h"
#include "app/options.h"
#include "app/runLoop.h"
#include "app/measured/switchProbe.h"
#include "measure/runDocument.h"
#include "measure/verdict.h"

// What a run gathered.
struct runFindings {
    double seconds = 0;
    stopCause cause = stopCause::space;
    measure::SwitchSummary stats;
    measure::MessageFacts messages;
    uint64_t lostRecords = 0;               // switch records the probe had no room for
    std::optional<std::string> stopFailure; // the driver's stop code, when its stop failed
    std::optional<measure::LatencyFacts> latency;
    std::optional<measure::RecordingFacts> recording;
    telText recordingPath; // as given on the command line
    measure::Verdict verdict;
};

class measuredRun {
  public:
    explicit measuredRun(const programOptions& options);
    // Detaches the processor first if it is still attached (an exception left the run
    // early), so that no callback can reach the parts that go with this object.
    ~measuredRun();

    // Sets up the parts the options ask for, with the driver's buffers and rate as they
    // will run. A part that cannot be had gets a line: a recording goes on without it; a
    // loopback measurement without the channels it needs stops the run (false, with the
    // line in `failure`).
    bool prepare(telAsioDriver& driver, measuringBP& processor, telText* failure);

    // Just before the driver is started, and just before it is stopped.
    void started();
    void stopping();
    // The time limit and the per-pass bookkeeping of the status loop.
    statusLoopLimits loopLimits();
    // After the driver stopped (or refused to): collects everything and judges.
    runFindings finish(telAsioDriver& driver, const measuringBP& processor, stopCause cause,
                       ASIOError stopStatus);

  private:
    bool prepareLatency(telAsioDriver& driver, measuringBP& processor, telText* failure);
    void prepareTap(telAsioDriver& driver, measuringBP& processor);

    const programOptions& f_options;
    // The driver and processor the parts were handed to, so that they are taken back
    // before the parts go, however the run ends.
    telAsioDriver* f_driver = nullptr;
    measuringBP* f_processor = nullptr;
    std::unique_ptr<switchProbe> f_probe;
    std::unique_ptr<measure::SwitchTiming> f_timing;
    std::optional<measure::LoopbackSignal> f_signal;
    std::unique_ptr<latencySignalOutput> f_latencyOutput;
    std::unique_ptr<inputTap> f_tap;
    std::unique_ptr<inputConsumer> f_consumer;
    int32_t f_latencyInputSlot = -1;
    std::optional<measure::LatencyFacts> f_latencyFacts;
    std::optional<std::string> f_recordPath;
    int64_t f_startNs = 0;
    int64_t f_stopNs = 0;
};

// The health summary, the round trip and the recording in the report's style, ending
// with the verdict line.
void printRunSummary(const runFindings& findings);
