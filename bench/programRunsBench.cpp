// Whole runs of the program against the reference driver, timed from outside as a user
// waits for them: a sweep of twelve buffer sizes at two rates (what the sweep costs
// beyond its settings' own run times) and the conformance suite. Each iteration starts
// the real echoprobe binary with a registry of its own.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// One 2-in 2-out float device that takes every size from 8 to 8192 samples, 300 preferred
// (a sweep then runs twelve of them: min, preferred, max and nine powers of two), at
// 44100 and 48000 Hz.
std::string writeRegistry() {
    const std::string path = (std::filesystem::temp_directory_path() / "echoprobe-bench.reg").string();
    std::ofstream file(path);
    file << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Bench Device]\n"
            "\"CLSID\"=\"{E0B0A001-7C3D-4E5F-8A9B-0C1D2E3F4B77}\"\n\"Description\"=\"bench device\"\n\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{E0B0A001-7C3D-4E5F-8A9B-0C1D2E3F4B77}]\n"
            "\"BufferMin\"=dword:00000008\n\"BufferMax\"=dword:00002000\n\"BufferPreferred\"=dword:0000012c\n"
            "\"Granularity\"=dword:00000001\n\"SampleRates\"=\"44100,48000\"\n"
            "\"Inputs\"=dword:00000002\n\"Outputs\"=dword:00000002\n"
            "\"WireFrom\"=dword:00000001\n\"WireTo\"=dword:00000001\n\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{E0B0A001-7C3D-4E5F-8A9B-0C1D2E3F4B77}\\InprocServer32]\n"
            "@=\"" ECHOPROBE_TESTDRIVER "\"\n\"ThreadingModel\"=\"Apartment\"\n";
    return path;
}

// Wall seconds of one run of the program with `switches`, its output discarded.
double runProgram(const std::string& registry, const std::string& switches) {
    const std::string command = "ASIO_REGISTRY='" + registry + "' '" ECHOPROBE_BINARY "' " + switches +
                                " < /dev/null > /dev/null 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return status == -1 ? -1.0 : seconds;
}

// 24 settings of one second each: the time beyond those 24 s, per setting (the target
// is at most 0.5 s).
void BM_SweepOverheadPerSetting(benchmark::State& state) {
    const std::string registry = writeRegistry();
    constexpr int settings = 24;
    double overhead = 0;
    for (auto _ : state) {
        const double seconds = runProgram(registry, "/sweep /seconds=1 /skipcp");
        if (seconds < 0) state.SkipWithError("the program could not be started");
        overhead = (seconds - settings) / settings;
        state.SetIterationTime(seconds);
    }
    state.counters["overhead_s_per_setting"] = overhead;
    std::remove(registry.c_str());
}
BENCHMARK(BM_SweepOverheadPerSetting)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// The whole conformance suite, every check in a process of its own (the target is under
// 15 s).
void BM_ConformanceSuite(benchmark::State& state) {
    const std::string registry = writeRegistry();
    for (auto _ : state) {
        const double seconds = runProgram(registry, "/conform /skipcp");
        if (seconds < 0) state.SkipWithError("the program could not be started");
        state.SetIterationTime(seconds);
    }
    std::remove(registry.c_str());
}
BENCHMARK(BM_ConformanceSuite)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
