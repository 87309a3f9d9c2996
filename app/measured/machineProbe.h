// The machine's own stalls during a measured run: on every processor a thread at the
// priority the driver's thread asks for wakes every quarter of the run's buffer period
// (at most every millisecond) and notes when it woke late, as real-time latency testers
// do. A stall on the processor the driver's thread was on holds the driver back just as
// much, whatever the driver does. At every wake-up the thread reads the process's
// processor time: a stall during which the process's other threads (the driver's) kept
// a processor busy is the driver's own, not the machine's. The stalls tell late switches
// the machine caused from those the driver caused (measure/machineStalls.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "measure/machineStalls.h"
#include "platform/platform.h"

class machineProbe {
  public:
    static constexpr unsigned maxProcessors = 16;
    // Room for this many stalls on each processor: an hour of a stall every 30 ms.
    static constexpr size_t defaultCapacity = size_t{1} << 17;

    // For a run whose buffer period is periodNs.
    explicit machineProbe(double periodNs, size_t capacity = defaultCapacity);
    ~machineProbe();

    // A thread of the tool's own (not the driver's) whose processor time the probe leaves
    // out when it tells the driver's stalls from the machine's. Before start; the clock
    // must outlive the probe's run.
    void countAsTool(const plat::ThreadCpuClock* clock);
    void start();
    void stop();
    bool ran() const { return f_startNs != 0; }

    // After stop: the machine's stalls (not the process's own) at which at least one
    // processor was held up, in time order, overlaps merged; how many there were and the
    // longest; how many stalls the process's own threads caused.
    std::vector<measure::Stall> stalls() const;
    uint64_t stallCount() const;
    double longestStallMs() const;
    uint64_t ownStallCount() const;
    const measure::ProbePlan& plan() const { return f_plan; }
    // Why the stalls cannot judge the run's late switches; empty when they can.
    std::string whyNotJudged() const;

  private:
    struct processorProbe {
        explicit processorProbe(const measure::ProbePlan& plan, size_t capacity)
            : log(plan.stallThresholdNs, capacity) {}
        measure::StallLog log;
        std::vector<uint32_t> latenessHistogram; // wake-up lateness in 1 µs steps, for the median
        std::atomic<int64_t> cpuNs{0};           // this thread's processor time as of its last wake-up
        std::atomic<bool> started{false};
        std::thread thread;
    };
    void run(processorProbe& probe, unsigned cpu);
    // The processor time of the probes and the tool's other threads; -1 when one is unknown.
    int64_t toolCpuNs() const;
    int64_t medianLatenessNs() const;

    measure::ProbePlan f_plan;
    double f_periodNs;
    int64_t f_startNs = 0;
    bool f_threadsFailed = false;
    std::vector<std::unique_ptr<processorProbe>> f_probes;
    std::vector<const plat::ThreadCpuClock*> f_toolClocks;
    std::atomic<bool> f_stopping{false};
};
