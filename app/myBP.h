// The program's buffer processor: loops every input into the output of the same
// position and writes a swept test tone into the first two outputs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "asio/telAsioBufferProcessor.h"
#include "app/toneRing.h"
#include "asio/telAsioDriver.h"

class myBP : public telAsioBufferProcessor {
  public:
    // Attaches to `driver`, whose buffers already exist: the tone's block is sized for them.
    explicit myBP(telAsioDriver* driver);

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

    // Calls of the driver's outputReady made by this processor (the output-ready notice).
    uint64_t outputReadyCalls() const;

    // Computes the tone ahead of the callback from now on: a ring of half a second or more
    // at `sampleRate`, filled at once. Call before the driver starts; then call fillTone
    // from a thread of the run (the status loop) to keep it filled. Without it the
    // callback computes the tone itself. The samples are the same either way.
    void prepareTone(double sampleRate);
    void fillTone();
    // Switches whose tone the callback had to compute itself (the ring had run dry).
    uint64_t toneShortages() const;

  protected:
    // Loopback, test tones and the output-ready notice of one buffer half; the work of
    // doBufferSwitchTimeInfo, for processors that add to it.
    void processHalf(telAsioDriver& driver, int32_t index);
    // The loopback and the tones alone, for a half index of 0 or 1.
    void processAudio(telAsioDriver& driver, int32_t index);
    void notifyOutputReady(telAsioDriver& driver);
    // Counts from zero again, for a new run with the same processor. Not while a driver
    // runs with it.
    void resetOutputReadyCalls() { f_outputReadyCalls = 0; }

    void writeTones(telAsioDriver& driver, int32_t index);

  private:
    void loopInputs(telAsioDriver& driver, int32_t index);
    bool toneChannel(telAsioDriver& driver, int32_t channel);
    // Advances a channel's phases over `samples` samples, leaving the tone in f_toneBlock.
    void computeTone(int32_t channel, int32_t samples);

    std::vector<double> f_toneBlock; // tone samples of one buffer (or a piece of a large one)
    std::unique_ptr<toneRing> f_toneRing; // the tone made ahead, once prepared
    uint64_t f_outputReadyCalls = 0; // written on the callback thread, read after the run
};
