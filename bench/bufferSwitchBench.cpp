// One buffer switch through the whole callback path (slot procedure, dispatch, the
// driver object's handlers, the loopback and test-tone processor) against a floor
// measured in the same run: a plain copy of the same bytes plus the same number of
// sine and cosine evaluations. The "of_period" counter is the time per switch as a
// fraction of the buffer period at 48000 Hz (300 samples: 6.25 ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "app/measured/inputTap.h"
#include "app/measured/measuringBP.h"
#include "app/myBP.h"
#include "app/runLoop.h"
#include "app/measured/switchProbe.h"
#include "measure/switchTiming.h"
#include "asio/telAsioBufferProcessor.h"
#include "bench/benchDriver.h"
#include "util/telUtils.h"

namespace {

constexpr double periodSeconds = requestedBufferSize / 48000.0;

// The time of one switch as a fraction of the buffer period (at 48 kHz and 300 samples
// unless the case says otherwise).
void reportPeriodFraction(benchmark::State& state, double period = periodSeconds) {
    state.counters["of_period"] = benchmark::Counter(static_cast<double>(state.iterations()) * period,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Every this many switches the measuring cases empty their rings, with the clock stopped:
// the main thread and the recording thread do that while a real run goes on.
constexpr int64_t drainEvery = 4096;

// What the processor does besides the program's usual work.
enum class switchWork {
    plain,     // myBP: loopback, tone, output-ready notice
    measured,  // a measuring run (/stats, /seconds, /json): two clock readings and a record
    recording, // the same, and every input copied into the recording's ring (/record)
};

void switchBench(benchmark::State& state, switchWork work, int32_t frames = requestedBufferSize,
                 double rate = 48000.0) {
    const int32_t channels = static_cast<int32_t>(state.range(0));
    const ASIOSampleType type = static_cast<ASIOSampleType>(state.range(1));
    telAsioApiStartup();
    BenchDriver driver(channels, type);
    telOwned<telAsioDriver> object = telCreate<telAsioDriver>(&driver);
    if (object->init(0, telTrue, frames) != ASE_OK) {
        state.SkipWithError("init failed");
        return;
    }
    telOwned<myBP> processor;
    switchProbe probe;
    measure::SwitchTiming timing(requestedBufferSize, 48000.0);
    std::optional<inputTap> tap;
    if (work == switchWork::plain) {
        processor = telCreate<myBP>(object.get());
    } else {
        telOwned<measuringBP> measuring = telCreate<measuringBP>(object.get());
        measuring->watchSwitches(&probe);
        if (work == switchWork::recording) {
            std::vector<int32_t> inputs;
            for (int32_t channel = 0; channel < channels; ++channel) inputs.push_back(channel);
            tap.emplace(*object, inputs, rate, 2.0, size_t{256} << 20);
            measuring->tapInputs(&*tap);
        }
        processor.reset(measuring.release());
    }
    // The tone is made ahead, as in a run; the status loop's refills are not timed.
    processor->prepareTone(rate);
    const int64_t refillEvery = std::max<int64_t>(static_cast<int64_t>(rate / 2) / frames / 2, 1);

    const proc_bufferSwitch bufferSwitch = driver.callbacks().bufferSwitch;
    int32_t half = 0;
    int64_t count = 0;
    for (auto _ : state) {
        bufferSwitch(half, 1);
        half ^= 1;
        ++count;
        const bool drain = count % drainEvery == 0 && work != switchWork::plain;
        if (count % refillEvery == 0 || drain) {
            state.PauseTiming();
            processor->fillTone();
            if (drain) {
                probe.drain(timing);
                tapBlockHeader header{};
                while (tap && tap->peek(header)) tap->release();
            }
            state.ResumeTiming();
        }
    }
    if (processor->toneShortages() > 0) state.SkipWithError("the tone ran short");
    reportPeriodFraction(state, frames / rate);
    telFree(processor);
    telFree(object);
}

void BM_BufferSwitch(benchmark::State& state) { switchBench(state, switchWork::plain); }
void BM_BufferSwitchMeasured(benchmark::State& state) { switchBench(state, switchWork::measured); }
void BM_BufferSwitchRecording(benchmark::State& state) { switchBench(state, switchWork::recording); }

// The host's load at the standard rates with 32-sample buffers and 64 × 64 channels, the
// shortest periods drivers run at: of_period is the load itself.
void BM_HostLoadMeasured(benchmark::State& state) {
    switchBench(state, switchWork::measured, 32, static_cast<double>(state.range(2)));
}
void BM_HostLoadRecording(benchmark::State& state) {
    switchBench(state, switchWork::recording, 32, static_cast<double>(state.range(2)));
}

// The same bytes copied and the same number of sine and cosine evaluations.
void BM_Floor(benchmark::State& state) {
    const size_t channels = static_cast<size_t>(state.range(0));
    const size_t bytes = static_cast<size_t>(state.range(1) == ASIOSTInt16LSB ? 2 : 4) * requestedBufferSize;
    std::vector<uint8_t> inputs(channels * bytes, 1);
    std::vector<uint8_t> outputs(channels * bytes);
    long double phase = 0.0L;
    for (auto _ : state) {
        for (size_t k = 0; k < channels; ++k) std::memcpy(&outputs[k * bytes], &inputs[k * bytes], bytes);
        long double sum = 0.0L;
        for (int32_t s = 0; s < 2 * requestedBufferSize; ++s) {
            sum += std::sin(phase) + std::cos(phase);
            phase += 0.001L;
        }
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(outputs.data());
    }
    reportPeriodFraction(state);
}

// The trig a switch cannot do without: one buffer of the swept tone (300 sines and 300
// cosines of the tone's own, unrelated phases, which no sincos can share), computed the
// way the processor computes it.
void BM_ToneFloor(benchmark::State& state) {
    constexpr long double twoPi = 6.283185307179586477L;
    double sine = 0.0;
    double cosine = 0.0;
    std::vector<double> tone(requestedBufferSize);
    for (auto _ : state) {
        for (int32_t s = 0; s < requestedBufferSize; ++s) {
            tone[static_cast<size_t>(s)] = static_cast<double>(std::sin(static_cast<long double>(sine)));
            cosine = static_cast<double>(cosine + 0.00004L);
            sine = static_cast<double>(sine + std::cos(static_cast<long double>(cosine)));
            if (sine > twoPi) sine = static_cast<double>(sine - twoPi);
            if (cosine > twoPi) cosine = static_cast<double>(cosine - twoPi);
        }
        benchmark::DoNotOptimize(tone.data());
    }
    reportPeriodFraction(state);
}

void shapes(benchmark::internal::Benchmark* bench) {
    for (int64_t type : {int64_t{ASIOSTFloat32LSB}, int64_t{ASIOSTInt32LSB}})
        for (int64_t channels : {2, 8, 64, 256}) bench->Args({channels, type});
    bench->ArgNames({"channels", "type"});
}

BENCHMARK(BM_BufferSwitch)->Apply(shapes);
BENCHMARK(BM_BufferSwitchMeasured)->Apply(shapes);
BENCHMARK(BM_BufferSwitchRecording)->Apply(shapes);
BENCHMARK(BM_Floor)->Apply(shapes);

void rates(benchmark::internal::Benchmark* bench) {
    for (int64_t rate : {48000, 96000, 192000, 384000, 768000}) bench->Args({64, ASIOSTFloat32LSB, rate});
    bench->ArgNames({"channels", "type", "rate"});
}
BENCHMARK(BM_HostLoadMeasured)->Apply(rates);
BENCHMARK(BM_HostLoadRecording)->Apply(rates);
BENCHMARK(BM_ToneFloor);

} // namespace

int main(int argc, char** argv) {
    telUtilsStartup();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    telUtilsShutdown();
    return 0;
}
