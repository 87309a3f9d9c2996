#include "app/measured/machineProbe.h"

#include <algorithm>
#include <system_error>

#include "platform/platform.h"

namespace {

constexpr int64_t histogramStepNs = 1'000;
constexpr size_t histogramSteps = 4000; // up to 4 ms; later wake-ups count in the last step

} // namespace

machineProbe::machineProbe(double periodNs, size_t capacity)
    : f_plan(measure::probePlanFor(periodNs)), f_periodNs(periodNs) {
    const unsigned processors = std::clamp(std::thread::hardware_concurrency(), 1u, maxProcessors);
    for (unsigned cpu = 0; cpu < processors; ++cpu) {
        auto probe = std::make_unique<processorProbe>(f_plan, capacity);
        probe->latenessHistogram.assign(histogramSteps, 0);
        f_probes.push_back(std::move(probe));
    }
}

machineProbe::~machineProbe() {
    stop();
}

void machineProbe::start() {
    f_stopping = false;
    f_startNs = plat::steadyNanoseconds();
    if (f_plan.periodTooShort) return;
    for (unsigned cpu = 0; cpu < f_probes.size(); ++cpu) {
        processorProbe& probe = *f_probes[cpu];
        if (probe.thread.joinable()) continue;
        try {
            probe.thread = std::thread([this, &probe, cpu] { run(probe, cpu); });
        } catch (const std::system_error&) {
            f_threadsFailed = true;
        }
    }
}

void machineProbe::stop() {
    f_stopping = true;
    for (auto& probe : f_probes)
        if (probe->thread.joinable()) probe->thread.join();
}

void machineProbe::countAsTool(const plat::ThreadCpuClock* clock) {
    if (clock != nullptr) f_toolClocks.push_back(clock);
}

int64_t machineProbe::toolCpuNs() const {
    int64_t total = 0;
    for (const auto& probe : f_probes)
        total += probe->cpuNs.load(std::memory_order_relaxed);
    for (const plat::ThreadCpuClock* clock : f_toolClocks) {
        const int64_t used = clock->nanoseconds();
        if (used < 0) return -1;
        total += used;
    }
    return total;
}

void machineProbe::run(processorProbe& probe, unsigned cpu) {
    plat::pinThreadToProcessor(cpu);
    plat::raiseThreadToAudioPriority();
    plat::PreciseSleeper sleeper;
    probe.started = true;
    int64_t deadline = plat::steadyNanoseconds();
    for (bool first = true; !f_stopping.load(std::memory_order_relaxed); first = false) {
        if (!first) {
            deadline += f_plan.wakeIntervalNs;
            sleeper.sleepUntilNs(deadline);
        }
        measure::ProbeWake wake;
        wake.dueNs = deadline;
        wake.wokeNs = std::max(plat::steadyNanoseconds(), deadline);
        // This thread's share first, then the whole process's: what the driver's threads
        // used while this one waited is the difference less the tool's own threads' share.
        const int64_t threadCpu = plat::threadCpuNanoseconds();
        probe.cpuNs.store(std::max<int64_t>(threadCpu, 0), std::memory_order_relaxed);
        wake.processCpuNs = plat::processCpuNanoseconds();
        wake.toolCpuNs = threadCpu < 0 ? -1 : toolCpuNs();
        probe.log.add(wake);
        const int64_t lateness = wake.wokeNs - wake.dueNs;
        ++probe.latenessHistogram[std::min(static_cast<size_t>(lateness / histogramStepNs),
                                           histogramSteps - 1)];
        // After a stall the schedule starts again from now: wake-ups that catch up on it
        // would each be late by what remains of the stall, and read as stalls of their own.
        // The same after any wake-up late by half an interval, so that a probe that cannot
        // keep up still sleeps between wake-ups instead of keeping its processor.
        if (lateness > std::min(f_plan.stallThresholdNs, f_plan.wakeIntervalNs / 2)) deadline = wake.wokeNs;
    }
}

std::vector<measure::Stall> machineProbe::stalls() const {
    std::vector<measure::Stall> all;
    for (const auto& probe : f_probes)
        all.insert(all.end(), probe->log.stalls().begin(), probe->log.stalls().end());
    std::sort(all.begin(), all.end(),
              [](const measure::Stall& a, const measure::Stall& b) { return a.startNs < b.startNs; });
    std::vector<measure::Stall> merged;
    for (const measure::Stall& stall : all) {
        if (!merged.empty() && stall.startNs <= merged.back().endNs)
            merged.back().endNs = std::max(merged.back().endNs, stall.endNs);
        else
            merged.push_back(stall);
    }
    return merged;
}

uint64_t machineProbe::stallCount() const {
    uint64_t count = 0;
    for (const auto& probe : f_probes)
        count += probe->log.machineStalls();
    return count;
}

uint64_t machineProbe::ownStallCount() const {
    uint64_t count = 0;
    for (const auto& probe : f_probes)
        count += probe->log.ownStalls();
    return count;
}

double machineProbe::longestStallMs() const {
    int64_t longest = 0;
    for (const auto& probe : f_probes)
        longest = std::max(longest, probe->log.longestNs());
    return static_cast<double>(longest) / 1e6;
}

int64_t machineProbe::medianLatenessNs() const {
    std::vector<uint64_t> histogram(histogramSteps, 0);
    uint64_t total = 0;
    for (const auto& probe : f_probes)
        for (size_t step = 0; step < histogramSteps; ++step) {
            histogram[step] += probe->latenessHistogram[step];
            total += probe->latenessHistogram[step];
        }
    if (total == 0) return -1;
    uint64_t seen = 0;
    for (size_t step = 0; step < histogramSteps; ++step) {
        seen += histogram[step];
        if (2 * seen >= total) return static_cast<int64_t>(step) * histogramStepNs;
    }
    return static_cast<int64_t>(histogramSteps) * histogramStepNs;
}

std::string machineProbe::whyNotJudged() const {
    measure::ProbeHealth health;
    health.started = !f_threadsFailed;
    health.cpuTimeKnown = true;
    for (const auto& probe : f_probes) {
        health.started = health.started && probe->started;
        health.cpuTimeKnown = health.cpuTimeKnown && probe->log.cpuTimeKnown();
        if (probe->log.notKept() > 0) {
            const double at = static_cast<double>(probe->log.firstNotKeptNs() - f_startNs) / 1e9;
            health.storeFullAtSeconds =
                health.stallsNotKept == 0 ? at : std::min(health.storeFullAtSeconds, at);
            health.stallsNotKept += probe->log.notKept();
        }
        health.storeCapacity = probe->log.capacity();
    }
    health.medianLatenessNs = medianLatenessNs();
    return measure::whyStallsNotJudged(f_plan, f_periodNs, health);
}
