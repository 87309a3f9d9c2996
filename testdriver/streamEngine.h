// The reference driver's own thread from start to stop: it paces buffer switches in
// real time, fills the inputs with the known signal and the outputs with the sentinel,
// calls the host, measures the callback and records the half for the capture.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "asio/asioTypes.h"
#include "testdriver/bufferSet.h"
#include "testdriver/captureRecorder.h"

namespace refdrv {

class StreamEngine {
  public:
    ~StreamEngine() { stop(); }

    // Starts the thread over `buffers`, whose contents must not change until stop.
    // `sampleRate` is read at every switch, so a rate change paces the next switch.
    // `recorder` may be null. False when no thread could be started.
    bool start(const BufferSet& buffers, const ASIOCallbacks& callbacks, bool useTimeInfo,
               const std::atomic<double>& sampleRate, CaptureRecorder* recorder);
    // Ends the thread after the switch in progress and waits for it. Safe when stopped.
    void stop();
    bool running() const { return thread_.joinable(); }
    bool onStreamThread() const { return thread_.get_id() == std::this_thread::get_id(); }

    // Sample position of the current buffer half and the system time at its switch, in
    // nanoseconds of the steady clock. Any thread.
    int64_t samplePosition() const { return position_.load(std::memory_order_acquire); }
    int64_t systemTimeNanos() const { return systemTime_.load(std::memory_order_acquire); }

    // Counts of the last run; read after stop (outputReady calls may be added any time).
    void countOutputReady() { outputReadyCalls_.fetch_add(1, std::memory_order_relaxed); }
    StreamStats stats() const;

  private:
    void run();
    void switchBuffers(uint32_t switchNumber, int32_t half, double rate);

    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<int64_t> position_{0};
    std::atomic<int64_t> systemTime_{0};
    std::atomic<uint32_t> switches_{0};
    std::atomic<uint32_t> lateSwitches_{0};
    std::atomic<uint32_t> maxCallbackMicros_{0};
    std::atomic<uint32_t> outputReadyCalls_{0};

    // Fixed from start to stop.
    const BufferSet* buffers_ = nullptr;
    ASIOCallbacks callbacks_{};
    bool useTimeInfo_ = false;
    const std::atomic<double>* sampleRate_ = nullptr;
    CaptureRecorder* recorder_ = nullptr;
};

} // namespace refdrv
