#include "app/measured/machineProbe.h"

#include <algorithm>

#include "platform/platform.h"

namespace {

constexpr int64_t histogramStepNs = 10'000;
constexpr size_t histogramSteps = 1000; // up to 10 ms; later wake-ups count in the last step
// A stall this long restarts the schedule from now instead of catching up.
constexpr int64_t resyncNs = 100'000'000;

} // namespace

machineProbe::machineProbe(size_t capacity) {
    const unsigned processors = std::clamp(std::thread::hardware_concurrency(), 1u, maxProcessors);
    for (unsigned cpu = 0; cpu < processors; ++cpu) {
        auto probe = std::make_unique<processorProbe>();
        probe->stalls.reserve(capacity);
        probe->latenessHistogram.assign(histogramSteps, 0);
        f_probes.push_back(std::move(probe));
    }
}

machineProbe::~machineProbe() { stop(); }

void machineProbe::start() {
    f_stopping = false;
    for (unsigned cpu = 0; cpu < f_probes.size(); ++cpu) {
        processorProbe& probe = *f_probes[cpu];
        if (!probe.thread.joinable()) probe.thread = std::thread([this, &probe, cpu] { run(probe, cpu); });
    }
}

void machineProbe::stop() {
    f_stopping = true;
    for (auto& probe : f_probes)
        if (probe->thread.joinable()) probe->thread.join();
}

void machineProbe::run(processorProbe& probe, unsigned cpu) {
    plat::pinThreadToProcessor(cpu);
    plat::raiseThreadToAudioPriority();
    int64_t deadline = plat::steadyNanoseconds();
    while (!f_stopping.load(std::memory_order_relaxed)) {
        deadline += periodNs;
        plat::sleepUntilNs(deadline);
        const int64_t now = plat::steadyNanoseconds();
        const int64_t lateness = std::max<int64_t>(now - deadline, 0);
        ++probe.latenessHistogram[std::min(static_cast<size_t>(lateness / histogramStepNs), histogramSteps - 1)];
        if (lateness > stallThresholdNs) {
            ++probe.count;
            probe.longestNs = std::max(probe.longestNs, lateness);
            if (probe.stalls.size() < probe.stalls.capacity()) probe.stalls.push_back({deadline, now});
        }
        if (lateness > resyncNs) deadline = now;
    }
}

std::vector<measure::Stall> machineProbe::stalls() const {
    std::vector<measure::Stall> all;
    for (const auto& probe : f_probes)
        all.insert(all.end(), probe->stalls.begin(), probe->stalls.end());
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
    for (const auto& probe : f_probes) count += probe->count;
    return count;
}

double machineProbe::longestStallMs() const {
    int64_t longest = 0;
    for (const auto& probe : f_probes) longest = std::max(longest, probe->longestNs);
    return static_cast<double>(longest) / 1e6;
}

bool machineProbe::resolves() const {
    std::vector<uint64_t> histogram(histogramSteps, 0);
    uint64_t total = 0;
    for (const auto& probe : f_probes)
        for (size_t step = 0; step < histogramSteps; ++step) {
            histogram[step] += probe->latenessHistogram[step];
            total += probe->latenessHistogram[step];
        }
    if (total == 0) return false;
    uint64_t seen = 0;
    for (size_t step = 0; step < histogramSteps; ++step) {
        seen += histogram[step];
        if (2 * seen >= total) return static_cast<int64_t>(step) * histogramStepNs <= usableMedianNs;
    }
    return false;
}
