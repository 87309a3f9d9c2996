// The machine's own stalls during a measured run: on every processor a thread at the
// priority the driver's thread asks for wakes every millisecond and notes when it woke
// late, as real-time latency testers do. A stall on the processor the driver's thread
// was on holds the driver back just as much, whatever the driver does. The stalls tell
// late switches the machine caused from those the driver caused
// (measure/machineStalls.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "measure/machineStalls.h"

class machineProbe {
  public:
    // Each thread wakes this often; a wake-up later than the stall threshold is a stall.
    static constexpr int64_t periodNs = 1'000'000;
    static constexpr int64_t stallThresholdNs = 500'000;
    // The probe says nothing when it cannot resolve short stalls: its median wake-up
    // lateness is above this (a system timer that is too coarse).
    static constexpr int64_t usableMedianNs = 250'000;
    static constexpr unsigned maxProcessors = 16;

    // Room for `capacity` stalls on each processor.
    explicit machineProbe(size_t capacity = 8192);
    ~machineProbe();

    void start();
    void stop();

    // After stop: the times at least one processor was stalled, in time order, overlaps
    // merged; how many stalls there were, the longest, and whether the probe resolved
    // them at all.
    std::vector<measure::Stall> stalls() const;
    uint64_t stallCount() const;
    double longestStallMs() const;
    bool resolves() const;

  private:
    struct processorProbe {
        std::vector<measure::Stall> stalls; // reserved up front: the loop never allocates
        std::vector<uint32_t> latenessHistogram; // wake-up lateness in 10 µs steps, for the median
        uint64_t count = 0;
        int64_t longestNs = 0;
        std::thread thread;
    };
    void run(processorProbe& probe, unsigned cpu);

    std::vector<std::unique_ptr<processorProbe>> f_probes;
    std::atomic<bool> f_stopping{false};
};
