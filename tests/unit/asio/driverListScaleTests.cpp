// The driver list over a registry of 100,000 drivers: every one read, and all freed
// without recursion on a thread with a small stack. How long reading takes is a
// benchmark's (bench/driverListBench.cpp), not this test's.
#if !defined(_WIN32)

#include <gtest/gtest.h>

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

void* createAndFreeList(void* count) {
    telOwned<telAsioDriverList> list = telCreate<telAsioDriverList>();
    *static_cast<int32_t*>(count) = list ? list->numDrv() : -1;
    list.reset();
    return nullptr;
}

} // namespace

TEST(DriverListScale, ReadsAHundredThousandDriversAndFreesThemOnASmallStack) {
    ASSERT_EQ(plat::testing::loadRegistryText(manyDrivers(), "many"), "");
    // 512 KB: a recursive free needs a frame per entry, far more than this.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    int32_t count = 0;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, createAndFreeList, &count), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(count, driverCount);
    plat::testing::loadRegistryText("REGEDIT4\n", "empty");
}

#endif
