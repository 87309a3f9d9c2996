// Which late buffer switches the machine, not the driver, is to blame for. A probe
// thread at the driver's priority on every processor wakes at short intervals and notes
// each time it woke late (a stall: something else ran instead of it, or nothing did).
// A stall during which the process's own threads kept a processor busy is the driver's
// doing (its thread spinning where the probe wanted to run), not the machine's. A late
// switch most of whose lateness fell into the machine's stalls would have been late with
// any driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/switchTiming.h"

namespace measure {

// The probe was due at startNs and ran at endNs (steady clock nanoseconds).
struct Stall {
    int64_t startNs = 0;
    int64_t endNs = 0;
};

// How the probe runs for a run whose buffer period is periodNs: a late switch is late by
// more than half a period, and most of that must be seen, so the probe wakes every
// quarter period (at most every millisecond, at least every 100 µs, so that it never takes
// much of a processor at the driver's priority) and counts a wake-up later than a quarter
// period (at most 500 µs) as a stall. It resolves such stalls only when its ordinary
// wake-ups are late by at most half that at the median.
struct ProbePlan {
    int64_t wakeIntervalNs = 1'000'000;
    int64_t stallThresholdNs = 500'000;
    int64_t usableMedianNs = 250'000;
    // A quarter period below the probe's shortest wake interval (100 µs): it does not run.
    bool periodTooShort = false;
};
ProbePlan probePlanFor(double periodNs);

// A stall is the process's own when the process's threads other than the tool's own (the
// driver's) used at least three quarters of its lateness in processor time while the
// probe waited.
bool stallIsOwn(int64_t latenessNs, int64_t ownCpuNs);

// One wake-up of a probe thread: when it was due and when it ran, with the process's
// processor time and the share of it the tool's own threads used (the probes, the main
// thread, the input consumer), as read when it ran (-1: unknown). The rest is the
// driver's threads'.
struct ProbeWake {
    int64_t dueNs = 0;
    int64_t wokeNs = 0;
    int64_t processCpuNs = -1;
    int64_t toolCpuNs = -1;
};

// One probe thread's wake-ups sorted into the machine's stalls and the process's own. The
// room for stalls is taken up front, so adding never allocates; the stalls past it are
// counted and the time of the first is kept.
class StallLog {
  public:
    StallLog(int64_t stallThresholdNs, size_t capacity);

    // In time order; the first wake-up only sets where processor time is counted from.
    void add(const ProbeWake& wake);

    const std::vector<Stall>& stalls() const { return stalls_; }
    size_t capacity() const { return capacity_; }
    uint64_t machineStalls() const { return machineStalls_; }
    uint64_t ownStalls() const { return ownStalls_; }
    int64_t longestNs() const { return longestNs_; } // of the machine's stalls
    uint64_t notKept() const { return notKept_; }
    int64_t firstNotKeptNs() const { return firstNotKeptNs_; }
    bool cpuTimeKnown() const { return cpuTimeKnown_; } // at every wake-up

  private:
    int64_t thresholdNs_;
    size_t capacity_;
    std::vector<Stall> stalls_;
    uint64_t machineStalls_ = 0, ownStalls_ = 0, notKept_ = 0;
    int64_t firstNotKeptNs_ = 0, longestNs_ = 0;
    bool cpuTimeKnown_ = true;
    bool started_ = false;
    int64_t processCpuNs_ = 0, toolCpuNs_ = 0;
};

// What the probe knows about itself at the end of a run.
struct ProbeHealth {
    bool started = false;          // every probe thread ran
    bool cpuTimeKnown = false;     // the process's processor time is counted to the microsecond
                                   // (without it every stall counts as the machine's)
    int64_t medianLatenessNs = -1; // of every wake-up; -1 when none came
    uint64_t stallsNotKept = 0;    // stalls past the store's room
    double storeFullAtSeconds = 0; // into the run, when the first was not kept
    size_t storeCapacity = 0;
};

// Why the probe's stalls cannot judge the run's late switches, as a clause without a
// comma ("the machine probe woke ..."); empty when they can.
std::string whyStallsNotJudged(const ProbePlan& plan, double periodNs, const ProbeHealth& health);

// How many of the late intervals are explained by the stalls: those whose overlap with
// the stalls covers at least half of their lateness (the interval beyond one period).
// Both lists are in time order; the stalls do not overlap each other.
uint64_t lateIntervalsInStalls(const std::vector<LateInterval>& late, const std::vector<Stall>& stalls,
                               double periodNs);

} // namespace measure
