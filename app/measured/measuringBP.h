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
#include "app/myBP.h"
#include "app/measured/switchProbe.h"
#include "measure/loopbackSignal.h"

// The measurement signal on one output, silence on every other output.
class latencySignalOutput {
  public:
    latencySignalOutput(telAsioDriver& driver, int32_t outputChannel, measure::LoopbackSignal signal);
    // Fills the half with the signal at output positions q … q + frames - 1 (q counted
    // from the run's first buffer); other outputs get silence. Callback thread.
    void render(telAsioDriver& driver, int32_t half, int64_t q) noexcept;

  private:
    measure::LoopbackSignal f_signal;
    int32_t f_channel;
    std::vector<float> f_values; // one buffer
};

class measuringBP : public myBP {
  public:
    explicit measuringBP(telAsioDriver* driver);

    // Set up before the driver starts; each part may be left out (nullptr).
    void watchSwitches(switchProbe* probe) { f_probe = probe; }
    void tapInputs(inputTap* tap) { f_tap = tap; }
    void playLatencySignal(latencySignalOutput* output) { f_latency = output; }


    telBool doBufferSwitch(int32_t index, telBool processNow) override;
    telBool doBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool processNow, pASIOTime time) override;
    telBool doSampleRateChanged(double rate) override;
    telBool doAsioMessage(int32_t selector, int32_t value, void* message, double* opt, int32_t& result) override;

  private:
    // The buffer's position: from the time record (the host's own, or the driver's with
    // its high word first) or, where the record has none, asked of the driver.
    bool positionOf(telAsioDriver& driver, pASIOTime timeInfo, bool ownRecord, int64_t& position);

    switchProbe* f_probe = nullptr;
    inputTap* f_tap = nullptr;
    latencySignalOutput* f_latency = nullptr;

    // Callback thread only.
    int64_t f_entryNs = 0;
    bool f_inPlainSwitch = false; // the current record is the one the driver object built
    int64_t f_nextPosition = 0;   // where positions go on when the driver gives none

    int64_t f_origin = 0; // position of the first buffer: the measurement signal's q = 0
    bool f_originSet = false;
};
