// The buffer processor of runs that measure: it does the program's usual work (or, for
// a loopback measurement, plays the measurement signal instead) and notes what the
// summary, the recording and the round-trip analysis need. Every part is optional and
// set up before the driver starts; what runs on the callback path only copies into
// preallocated lock-free storage and returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "app/measured/inputTap.h"
#include "app/measured/switchProbe.h"
#include "app/myBP.h"
#include "measure/channelSignals.h"
#include "measure/loopbackSignal.h"

// The measurement signals on the outputs: the single pair's signal on its one output, or
// for a channel map each output k with signal k of the map's (channelSignals.h); silence
// on every other output.
class latencySignalOutput {
  public:
    // `outputChannel`: the driver object's channel index of the pair's output.
    latencySignalOutput(telAsioDriver& driver, int32_t outputChannel, measure::LoopbackSignal signal);
    // Every output of the driver object plays its own signal of `signals`.
    latencySignalOutput(telAsioDriver& driver, measure::ChannelSignals signals);
    // Fills the half with the signals at output positions q … q + frames - 1 (q counted
    // from the run's first buffer). Callback thread: reads tables, allocates nothing.
    void render(telAsioDriver& driver, int32_t half, int64_t q) noexcept;

  private:
    measure::ChannelSignals f_signals;
    std::vector<int32_t> f_signalOf; // per output of the driver object: its signal, 0 for silence
    std::vector<float> f_values;     // one buffer
};

class measuringBP : public myBP {
  public:
    explicit measuringBP(telAsioDriver* driver);

    // Set up before the driver starts; each part may be left out (nullptr).
    void watchSwitches(switchProbe* probe) { f_probe = probe; }
    // A tap of every input is filled in the same pass as the loopback: each input is
    // read once for both.
    void tapInputs(inputTap* tap);
    void playLatencySignal(latencySignalOutput* output) { f_latency = output; }
    // Forgets every part and every position of an earlier run (a sweep runs one setting
    // after another with the same processor). Before the parts are set up.
    void beginRun();
    // Once the driver's stop returned (main thread): every switch from here on is only
    // counted, a fault of the driver.
    void driverStopped() { f_stopped.store(true, std::memory_order_release); }
    // Switches that came while another was still inside (from another thread, or from
    // within a driver call the switch inside made), and switches that came after the
    // driver's stop returned: each was only counted. Read once the driver stopped.
    uint64_t overlappingSwitches() const { return f_overlaps.load(std::memory_order_relaxed); }
    uint64_t switchesAfterStop() const { return f_afterStop.load(std::memory_order_relaxed); }

    // A plain buffer switch is handled here in full (the position asked of the driver
    // once), so that no other driver call lands in the switch; a time-info switch takes
    // the position from the driver's record.
    telBool doBufferSwitch(int32_t index, telBool processNow) override;
    telBool doBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool processNow, pASIOTime time) override;
    telBool doSampleRateChanged(double rate) override;
    telBool doAsioMessage(int32_t selector, int32_t value, void* message, double* opt, int32_t& result) override;

  private:
    // Lets one switch at a time in, and none once the driver stopped: the processor's
    // rings have one writer and its positions one order. A switch turned away is counted
    // and does nothing else. Lock-free; leave() after every admitted switch.
    bool admit() noexcept;
    void leave() noexcept { f_entry.fetch_and(~insideBit, std::memory_order_release); }
    // The work of one switch. entryNs: the callback's entry; driverNs: time already
    // spent in driver calls (not the host's own work).
    void handleSwitch(telAsioDriver& driver, int32_t index, int64_t position, bool positionValid, int64_t entryNs,
                      int64_t driverNs);
    int64_t outputReadyTimed(telAsioDriver& driver); // the time the notice took
    // The loopback and the tap's block in one pass over the inputs.
    void loopAndRecord(telAsioDriver& driver, int32_t half, uint8_t* const* slots) noexcept;

    // Input k to output k, fixed once the buffers exist (the driver object's tables do
    // not change while the driver runs).
    struct loopPair {
        int32_t input, output, bytes;
    };
    std::vector<loopPair> f_pairs;
    std::vector<uint8_t> f_inputPaired; // per input

    switchProbe* f_probe = nullptr;
    inputTap* f_tap = nullptr;
    latencySignalOutput* f_latency = nullptr;

    static constexpr uint64_t insideBit = 1, turnedAwayStep = 2;
    std::atomic<uint64_t> f_entry{0}; // insideBit, plus turnedAwayStep per switch turned away
    std::atomic<bool> f_stopped{false};
    std::atomic<uint64_t> f_overlaps{0};
    std::atomic<uint64_t> f_afterStop{0};

    // Callback thread only (one admitted switch at a time).
    uint32_t f_overlapsCarried = 0; // turned away since the switch admitted before
    int64_t f_nextPosition = 0; // where positions go on when the driver gives none
    int64_t f_origin = 0;       // position of the first buffer: the measurement signal's q = 0
    bool f_originSet = false;
};
