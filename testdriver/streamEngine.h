// The reference driver's own thread from start to stop: it paces the schedule's slots in
// real time, fills the inputs with the known signal (or the wire's block) and the
// outputs with the sentinel, calls the host, measures the callback, feeds the wire and
// records the half for the capture; the configured stream faults (switchPlan.h) decide
// what each slot delivers.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "asio/asioTypes.h"
#include "testdriver/bufferSet.h"
#include "testdriver/captureRecorder.h"
#include "testdriver/switchPlan.h"
#include "testdriver/wireLoop.h"

namespace refdrv {

// What one run really did, for the journal.
struct StreamCounts {
    uint32_t delivered = 0; // buffer-switch callbacks, repeats included
    uint32_t slots = 0;     // schedule slots passed
    uint32_t dropped = 0;   // switches not delivered
    bool trailingDrop = false;
    uint32_t repeats = 0;
    uint32_t badHalves = 0;
    uint32_t messages = 0;
    uint32_t rateChanges = 0;
    uint32_t dropouts = 0; // wire dropouts applied
};

// Everything a run uses; the pointed-to objects must stay unchanged until stop.
struct StreamSetup {
    const BufferSet* buffers = nullptr;
    ASIOCallbacks callbacks{};
    bool useTimeInfo = false;
    const std::atomic<double>* sampleRate = nullptr; // the nominal rate, read at every slot
    CaptureRecorder* recorder = nullptr;             // may be null
    WireLoop* wire = nullptr;                        // may be null
    SwitchPlan plan;
    int32_t jitterMicros = 0;
    double paceFactor = 1.0; // slots are paced at the nominal rate × paceFactor
    uint32_t seed = 1;
    int32_t stallAt = -1; // the stream stalls before this slot…
    int32_t stallMs = 0;  // …for this long; 0 or less: until stopped
    bool stallLosesTime = false; // …and then goes on from the present, its positions by one buffer
    int32_t crashAt = -1; // the stream's thread crashes before this slot
    int32_t callbackCostMicros = 0; // the driver's own work after every switch; 0: none
    std::vector<int32_t> holdAt;    // the stream holds these slots back for holdMs…
    int32_t holdMs = 0;
    bool holdBusy = false; // …busy-waiting on its processor, or sleeping
    uint32_t timeInfoFlags = kSystemTimeValid | kSamplePositionValid; // of the time-info records
    std::optional<double> timeInfoRate; // the records' rate; empty: the current rate
};

class StreamEngine {
  public:
    ~StreamEngine() { stop(); }

    // Starts the thread. False when no thread could be started.
    bool start(StreamSetup setup);
    // Ends the thread after the slot in progress and waits for it. Safe when stopped.
    void stop();
    // Lets the thread deliver `switches` more switches and end by itself, without waiting
    // for it; stop (or the next start) collects it.
    void windDown(int32_t switches);
    bool running() const { return thread_.joinable(); }
    bool windingDown() const { return running() && slotsLeft_.load() >= 0; }
    // True while fewer outputReady calls than delivered switches came since start.
    bool outputReadyBehind() const { return outputReadyCalls_.load() < switches_.load(); }
    bool onStreamThread() const { return streamThread_.load() == std::this_thread::get_id(); }

    // Sample position of the current slot and the system time of its switch, in
    // nanoseconds of the steady clock. Any thread.
    int64_t samplePosition() const { return position_.load(std::memory_order_acquire); }
    int64_t systemTimeNanos() const { return systemTime_.load(std::memory_order_acquire); }

    // Counts of the last run; read after stop (outputReady calls may be added any time).
    void countOutputReady() { outputReadyCalls_.fetch_add(1, std::memory_order_relaxed); }
    StreamStats stats() const;
    const StreamCounts& counts() const { return counts_; }

  private:
    using Clock = std::chrono::steady_clock;

    void run();
    // Sleeps until `until` in short steps; false as soon as stop is requested.
    bool waitUntil(Clock::time_point until);
    // Holds the slot back for holdMs: spinning on the processor, or sleeping.
    bool hold();
    void runSlot(uint32_t slot, double rate);
    // A slot the driver was too late for: its position passes, nothing is delivered.
    void skipSlot(uint32_t slot);
    void fillInputs(int32_t half, int64_t position, bool wireDropout);
    void fillOutputs(int32_t half);
    void publish(int64_t position, Clock::time_point at);
    void deliver(int32_t half, int64_t position, double rate, Clock::time_point at);
    void measure(Clock::duration elapsed, double periodSeconds);

    std::thread thread_;
    // The stream thread's id, set by the thread itself: thread_ is still being assigned
    // on the starting thread while the new thread already calls back.
    std::atomic<std::thread::id> streamThread_{};
    std::atomic<bool> stopRequested_{false};
    std::atomic<int32_t> slotsLeft_{-1}; // switches still to deliver while winding down; -1: not
    std::atomic<int64_t> position_{0};
    std::atomic<int64_t> systemTime_{0};
    std::atomic<uint32_t> switches_{0};
    std::atomic<uint32_t> lateSwitches_{0};
    std::atomic<uint32_t> maxCallbackMicros_{0};
    std::atomic<uint32_t> outputReadyCalls_{0};
    StreamCounts counts_; // stream thread only while running

    StreamSetup setup_; // fixed from start to stop
};

} // namespace refdrv
