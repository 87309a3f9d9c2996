// Everything a measuring run sets up around the driver (the switch probe, the machine
// probe, the input tap with its consumer thread, the loopback signal) and what it
// gathers once the driver has stopped: the health summary, the round trip, the
// recording and the verdict.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/measured/inputConsumer.h"
#include "app/measured/machineProbe.h"
#include "app/measured/measuringBP.h"
#include "app/measured/switchProbe.h"
#include "app/options.h"
#include "app/runLoop.h"
#include "measure/runDocument.h"
#include "measure/verdict.h"
#include "report/reportData.h"

// What a run gathered.
struct runFindings {
    double seconds = 0;
    stopCause cause = stopCause::space;
    int signal = 0; // the signal that stopped the run, 0 for none
    measure::SwitchSummary stats;
    // From the return of the driver's start to the first switch (0 for one that came while
    // start was still inside); empty when none came.
    std::optional<double> firstCallbackMs;
    measure::MessageFacts messages;
    measure::MachineFacts machine;
    measure::HostFacts host;
    std::optional<std::string> stopFailure; // the driver's stop code, when its stop failed
    measure::CallTimes calls;               // how long start, stop and disposeBuffers took
    uint64_t switchesAfterStop = 0;         // switches that came after the driver's stop returned
    std::optional<measure::LatencyFacts> latency;
    std::optional<measure::ChannelMapFacts> channelMap; // /latency=all
    std::optional<measure::RecordingFacts> recording;
    telText recordingPath; // as given on the command line
    uint64_t toneShortages = 0; // switches whose tone the callback computed itself
    measure::Verdict verdict;
    // The timing plots' data, kept when an HTML report is asked for (/html).
    std::shared_ptr<const report::TimingData> timingPlots;
};

class measuredRun {
  public:
    explicit measuredRun(const programOptions& options);
    // Detaches the processor first if it is still attached (an exception left the run
    // early), so that no callback can reach the parts that go with this object.
    ~measuredRun();

    // Sets up the parts the options ask for, with the driver's buffers and rate as they
    // will run. A part that cannot be had stops the run before it starts (false, with
    // the line in `failure`): a loopback measurement without the channels it needs, a
    // recording that cannot be made. Only the loopback analysis, when no memory for its
    // input can be had, is left out with a line (the run is then inconclusive).
    bool prepare(telAsioDriver& driver, measuringBP& processor, telText* failure);

    // Just before the driver is started, once its start returned (the run counts from
    // there; without it, from just before the start), just before it is stopped, once its
    // stop returned, and once its buffers were disposed of. The calls are timed. Once the
    // stop returned, every switch that still comes is counted as the driver's fault, and
    // stopReturned watches for such switches for two buffer periods (at least 20 ms, at
    // most 200 ms, longer by the stalls that held the tool meanwhile) before the buffers go.
    void started();
    void startReturned();
    void stopping();
    void stopReturned();
    void disposed();
    // The time limit and the per-pass bookkeeping of the status loop.
    statusLoopLimits loopLimits();
    // After the driver stopped (or refused to): collects everything and judges.
    runFindings finish(telAsioDriver& driver, const measuringBP& processor, stopCause cause, ASIOError stopStatus,
                       int signal);

  private:
    bool prepareLatency(telAsioDriver& driver, measuringBP& processor, telText* failure);
    bool prepareChannelMap(telAsioDriver& driver, measuringBP& processor, telText* failure);
    bool prepareTap(telAsioDriver& driver, measuringBP& processor, telText* failure);
    uint64_t pausesInStalls(const std::vector<measure::Stall>& stalls, double periodNs) const;
    uint64_t missingSwitchesInStalls(const measure::SwitchSummary& stats,
                                     const std::vector<measure::Stall>& stalls, double periodNs) const;

    const programOptions& f_options;
    // The driver and processor the parts were handed to, so that they are taken back
    // before the parts go, however the run ends.
    telAsioDriver* f_driver = nullptr;
    measuringBP* f_processor = nullptr;
    std::unique_ptr<switchProbe> f_probe;
    plat::ThreadCpuClock f_mainClock; // of the thread that runs the run (made on it)
    std::unique_ptr<machineProbe> f_machine;
    std::unique_ptr<measure::SwitchTiming> f_timing;
    std::optional<measure::LoopbackSignal> f_signal;
    std::unique_ptr<latencySignalOutput> f_latencyOutput;
    std::unique_ptr<inputTap> f_tap;
    std::unique_ptr<inputConsumer> f_consumer;
    int32_t f_latencyInputSlot = -1;
    std::optional<measure::LatencyFacts> f_latencyFacts;
    std::optional<measure::ChannelSignals> f_mapSignals;
    std::vector<int> f_expectedOutputs; // per input, for the channel map
    std::optional<measure::ChannelMapFacts> f_mapFacts;
    std::optional<std::string> f_analysisMissing;
    std::optional<std::string> f_recordPath;
    uint16_t f_recordedChannels = 0;
    int32_t f_channelsLeftOut = 0;
    int64_t f_startCallNs = 0;
    int64_t f_startNs = 0;
    int64_t f_stopNs = 0;
    int64_t f_stopReturnedNs = 0;
    int64_t f_watchedNs = 0; // when the watch for switches after the stop ended
    measure::CallTimes f_calls;
};

// The health summary, the round trip and the recording in the report's style.
void printRunSummary(const runFindings& findings);
// The same lines ("Switches  : 801 (801 expected)"), as UTF-8 text.
std::vector<std::string> runSummaryLines(const runFindings& findings);
// "Verdict: pass", "Verdict: fail: 3 gaps, 1 reset request".
void printVerdict(const measure::Verdict& verdict);
