// The machine probe's own cost: one thread per processor waking every quarter of the
// run's buffer period (at most every millisecond) and reading the process's processor
// time, for the length of a measured run. Reported as the share of one processor it
// keeps busy, at the default 300 samples and 48 kHz (6.25 ms) and at 32 samples and
// 384 kHz (83 µs).
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "app/measured/machineProbe.h"

namespace {

void BM_MachineProbe(benchmark::State& state) {
    const double periodNs = static_cast<double>(state.range(0));
    double share = 0;
    for (auto _ : state) {
        machineProbe probe(periodNs);
        const std::clock_t cpuBefore = std::clock();
        const auto wallBefore = std::chrono::steady_clock::now();
        probe.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        probe.stop();
        const double cpu = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        share = cpu / wall;
        benchmark::DoNotOptimize(probe.stallCount());
    }
    state.counters["cpu_share"] = share;
}

} // namespace

BENCHMARK(BM_MachineProbe)
    ->ArgName("periodNs")
    ->Arg(6'250'000)
    ->Arg(83'333)
    ->Iterations(4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
