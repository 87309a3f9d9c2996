// The thread that takes the tapped input blocks off the ring while the driver runs: it
// writes the WAV recording and feeds the loopback analysis. Positions that the driver
// skipped, and blocks the ring had no room for, become silence in the recording, so it
// holds as many frames as the driver's positions advanced; both are counted, and the
// analysis is told which input the host lost rather than handed silence for it. A jump
// of the positions by more than a few seconds either way is a re-base: it is counted,
// and the recording goes on in arrival order without silence for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/measured/inputTap.h"
#include "measure/channelMap/channelMap.h"
#include "measure/latencyAnalysis.h"
#include "measure/wavFile.h"
#include "platform/platform.h"

// What became of a recording.
struct recordingResult {
    std::string path;
    uint64_t frames = 0;          // written to the file
    uint64_t driverGapFrames = 0; // silence for positions the driver skipped
    uint64_t lostFrames = 0;      // silence for blocks the ring had no room for (disk too slow)
    uint64_t overlapFrames = 0;   // frames not written again where positions repeated or went back
    uint64_t rebases = 0;         // position jumps the recording went on through in arrival order
    uint64_t framesNotWritten = 0; // frames that a write error kept out of the file
    bool full = false;            // stopped at the frame limit
    bool rf64 = false;            // the data passed 4 GiB: the file is RF64
    bool written = false;         // the file was completed and closed without a write error
    std::string error;
};

class inputConsumer {
  public:
    // `recordSlots`: which of the tap's channels go into the recording (empty: no
    // recording); `latencySlot`: which one feeds the analysis of `signal` (none: no
    // analysis).
    // `sampleRate` sets what counts as a jump of the positions (a few seconds of samples).
    inputConsumer(inputTap& tap, std::vector<size_t> recordSlots, std::unique_ptr<measure::WavWriter> writer,
                  const measure::WavPlan& plan, std::optional<size_t> latencySlot,
                  const std::optional<measure::LoopbackSignal>& signal, double sampleRate);
    ~inputConsumer();

    // Every channel of the tap (slot i: input i + 1) feeds a channel map of these signals
    // instead of a single pair's analysis; `expectedOutput` per input (wiring.h). Before
    // start().
    void analyseChannelMap(const measure::ChannelSignals& signals, std::vector<int> expectedOutput);

    void start();
    // The thread's processor time, once start returned (the tool's own work, which the
    // machine probe tells from the driver's).
    const plat::ThreadCpuClock* cpuClock() const { return f_cpuClock.get(); }
    // Takes what is left in the ring, then ends the thread; the results are ready then.
    void finish();

    const recordingResult& recording() const { return f_recording; }
    bool analysing() const { return f_analyser != nullptr; }
    measure::LatencyResult latency();
    // The channel map, when one was analysed; after finish().
    std::optional<measure::ChannelMapResult> channelMap();

  private:
    void run();
    void take(const tapBlockHeader& header);
    void record(const tapBlockHeader& header, int64_t position, bool rebased);
    void analyse(const tapBlockHeader& header, bool rebased);

    inputTap& f_tap;
    std::vector<size_t> f_recordSlots;
    std::unique_ptr<measure::WavWriter> f_writer;
    measure::WavPlan f_plan;
    std::optional<size_t> f_latencySlot;
    std::unique_ptr<measure::LatencyAnalyser> f_analyser;
    std::unique_ptr<measure::ChannelMapAnalyser> f_map;
    std::vector<std::vector<float>> f_inputs; // a block of every input, decoded for the map
    std::vector<const float*> f_inputPointers;

    std::thread f_thread;
    std::unique_ptr<plat::ThreadCpuClock> f_cpuClock; // made by the thread before start returns
    std::atomic<bool> f_stopping{false};

    // Recording thread only, until finish().
    bool f_started = false;
    int64_t f_nextPosition = 0; // where the next frame of the recording belongs
    int64_t f_jumpLimit = 0;    // samples
    std::vector<uint8_t> f_frames;
    std::vector<float> f_samples;
    recordingResult f_recording;
};
