// The driver list over a registry of 100,000 drivers: read in linear time and freed
// without recursion, on a thread with a small stack.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <pthread.h>
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

struct ListRun {
    int32_t count = 0;
    double seconds = 0;
};

void* createAndFreeList(void* result) {
    auto* run = static_cast<ListRun*>(result);
    auto start = std::chrono::steady_clock::now();
    telOwned<telAsioDriverList> list = telCreate<telAsioDriverList>();
    run->count = list ? list->numDrv() : -1;
    run->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    list.reset();
    return nullptr;
}

} // namespace

TEST(DriverListScale, ReadsAHundredThousandDriversQuicklyAndFreesThemOnASmallStack) {
    ASSERT_EQ(plat::testing::loadRegistryText(manyDrivers(), "many"), "");
    // 512 KB: a recursive free needs a frame per entry, far more than this.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    ListRun run;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, createAndFreeList, &run), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(run.count, driverCount);
    // Under a second in a plain build; the bound leaves room for sanitizers and a busy
    // machine, while a walk that restarts for every index takes about a minute.
    EXPECT_LT(run.seconds, 10.0);
    plat::testing::loadRegistryText("REGEDIT4\n", "empty");
}

#endif
