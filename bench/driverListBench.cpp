// The driver list over a registry of 100,000 drivers: reading it and freeing it. A walk
// that restarts for every index turns this from well under a second into about a minute.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "asio/telAsioDriverList.h"
#include "platform/registryTesting.h"

namespace {

constexpr int32_t driverCount = 100000;

// Each driver key has a class identifier whose class names a server.
std::string manyDrivers() {
    std::string text = "REGEDIT4\n";
    char clsid[40];
    for (int32_t i = 0; i < driverCount; ++i) {
        std::snprintf(clsid, sizeof clsid, "{%08X-0000-0000-0000-000000000000}", static_cast<unsigned>(i));
        text += "[HKLM\\SOFTWARE\\ASIO\\Driver " + std::to_string(i) + "]\n\"CLSID\"=\"" + clsid + "\"\n";
        text += "[HKCR\\CLSID\\" + std::string(clsid) + "\\InprocServer32]\n@=\"/opt/drv.so\"\n";
    }
    return text;
}

void BM_DriverListHundredThousand(benchmark::State& state) {
    if (!plat::testing::loadRegistryText(manyDrivers(), "many").empty())
        return state.SkipWithError("the registry could not be loaded");
    for (auto _ : state) {
        telOwned<telAsioDriverList> list = telCreate<telAsioDriverList>();
        if (!list || list->numDrv() != driverCount) return state.SkipWithError("not every driver was read");
        list.reset();
    }
    plat::testing::loadRegistryText("REGEDIT4\n", "empty");
}

} // namespace

BENCHMARK(BM_DriverListHundredThousand)->Unit(benchmark::kMillisecond);
