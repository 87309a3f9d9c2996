// Rendering the HTML report of a one-hour run (36,000 timeline bins, about 3000 events,
// 7200 loopback bursts): the page the tool writes at the end of such a run.
#include <benchmark/benchmark.h>

#include <string>

#include "report/htmlReport.h"
#include "tests/report/syntheticRuns.h"

namespace {

void BM_HourReport(benchmark::State& state) {
    const report::ReportData data = samples::hourReport();
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string page = report::renderHtmlReport(data);
        bytes = page.size();
        benchmark::DoNotOptimize(page.data());
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_HourReport)->Unit(benchmark::kMillisecond);

} // namespace
