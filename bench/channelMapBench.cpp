// The channel map's analysis at 96000 Hz over N inputs × N outputs, straight pairs of
// different delays: the time per burst once the loops are found (every input read at
// its round trip, every output's level in it, the loudest pair's glitch check, and one
// input searched again over its whole window), and the search that finds the loops at
// the start. `of_real_time` is the analysis's CPU time over the audio it covers: below 1
// it keeps up on one core.
#include <benchmark/benchmark.h>

#include <vector>

#include "measure/channelMap/channelMap.h"
#include "measure/channelMap/wiring.h"

namespace {

constexpr double rate = 96000.0;
constexpr int64_t cycle = 48000;
constexpr int placingCycles = 2; // fed before the clock runs: the loops are found there
constexpr int timedCycles = 4;

struct Inputs {
    measure::ChannelSignals signals;
    std::vector<std::vector<float>> channels;
    std::vector<int> expected;
};

// Input k hears output k 700 + 3k samples later (whole samples keep the set-up short).
const Inputs& inputsFor(int count) {
    static std::vector<std::pair<int, Inputs>> made;
    for (const auto& [n, inputs] : made)
        if (n == count) return inputs;
    Inputs inputs{*measure::makeChannelSignals(rate, count), {}, {}};
    const int64_t length = (placingCycles + timedCycles) * cycle + 6000;
    for (int k = 1; k <= count; ++k) {
        std::vector<float> samples(static_cast<size_t>(length), 0.0f);
        const int64_t delay = 700 + 3 * k;
        inputs.signals.render(k, 0, samples.data() + delay, samples.size() - size_t(delay));
        inputs.channels.push_back(std::move(samples));
    }
    std::string error;
    inputs.expected = *measure::expectedOutputs(count, count, std::nullopt, error);
    made.emplace_back(count, std::move(inputs));
    return made.back().second;
}

void feed(measure::ChannelMapAnalyser& analyser, const Inputs& inputs, int64_t from, int64_t to) {
    std::vector<const float*> channels(inputs.channels.size());
    for (int64_t at = from; at < to; at += 512) {
        for (size_t i = 0; i < channels.size(); ++i)
            channels[i] = inputs.channels[i].data() + at;
        analyser.addInput(at, channels.data(), size_t(std::min<int64_t>(512, to - at)));
    }
}

void BM_ChannelMapBurst(benchmark::State& state) {
    const Inputs& inputs = inputsFor(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        measure::ChannelMapAnalyser analyser(inputs.signals, int(inputs.channels.size()), inputs.expected);
        feed(analyser, inputs, 0, placingCycles * cycle);
        state.ResumeTiming();
        feed(analyser, inputs, placingCycles * cycle, (placingCycles + timedCycles) * cycle);
        state.PauseTiming();
        const measure::ChannelMapResult result = analyser.result();
        if (result.findings.back().heardOutput != int(inputs.channels.size()))
            state.SkipWithError("not found");
        state.ResumeTiming();
    }
    state.counters["per_burst"] = benchmark::Counter(
        double(timedCycles), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["of_real_time"] =
        benchmark::Counter(double(timedCycles) * 0.5,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ChannelMapBurst)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_ChannelMapFindLoops(benchmark::State& state) {
    const Inputs& inputs = inputsFor(int(state.range(0)));
    for (auto _ : state) {
        measure::ChannelMapAnalyser analyser(inputs.signals, int(inputs.channels.size()), inputs.expected);
        feed(analyser, inputs, 0, cycle + 4095 + 1000);
        benchmark::DoNotOptimize(analyser);
    }
}
BENCHMARK(BM_ChannelMapFindLoops)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

} // namespace
