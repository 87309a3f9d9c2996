// The program's buffer processor: loops every input into the output of the same
// position and writes a swept test tone into the first two outputs.
#pragma once

#include <cstdint>

#include "asio/telAsioBufferProcessor.h"
#include "asio/telAsioDriver.h"

class myBP : public telAsioBufferProcessor {
  public:
    using telAsioBufferProcessor::telAsioBufferProcessor;

    // Loopback, test tones, then the output-ready notice when the driver wants it.
    // Always handles the switch.
    telBool doBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool processNow, pASIOTime time) override;

    // Per-channel state, indexed by the driver object's channel index. The arrays cover
    // every channel the driver object can hold (256 inputs and 256 outputs), so no
    // channel index reaches outside them.
    double f_sineValue[telMaxChannels]{};   // tone phase, radians
    double f_cosineValue[telMaxChannels]{}; // phase of the modulation that sweeps the pitch
    telBool f_outBufLooped[telMaxChannels]{};
    telBool f_noSine = telFalse;
    telBool f_noLoop = telFalse;

  private:
    void loopInputs(telAsioDriver& driver, int32_t index);
    void writeTone(telAsioDriver& driver, int32_t channel, int32_t index);
};
