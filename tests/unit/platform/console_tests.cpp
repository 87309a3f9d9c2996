// Keyboard, interrupts and standard output on the Linux side.
#ifndef _WIN32
#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "platform/platform.h"

namespace {

using std::chrono::steady_clock;

TEST(PlatformConsole, SpaceKeyFromAPipeOnStandardInputNeverBlocks) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const int savedInput = dup(STDIN_FILENO);
    dup2(ends[0], STDIN_FILENO);
    auto send = [&](const char* text) { EXPECT_GT(write(ends[1], text, strlen(text)), 0); };

    const auto start = steady_clock::now();
    EXPECT_FALSE(plat::spaceKeyDown()); // nothing written yet
    send("x");
    EXPECT_FALSE(plat::spaceKeyDown());
    send("ab cd");
    EXPECT_TRUE(plat::spaceKeyDown());
    EXPECT_FALSE(plat::spaceKeyDown()); // that press was consumed
    send(" ");
    close(ends[1]);
    EXPECT_TRUE(plat::spaceKeyDown());
    EXPECT_FALSE(plat::spaceKeyDown()); // end of input
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(2));

    dup2(savedInput, STDIN_FILENO);
    close(savedInput);
    close(ends[0]);
}

TEST(PlatformConsole, SignalsBecomeInterruptRequestsWhilePrepared) {
    plat::prepareConsole();
    plat::prepareConsole(); // a second call changes nothing
    EXPECT_FALSE(plat::interruptRequested());
    raise(SIGINT);
    EXPECT_TRUE(plat::interruptRequested());
    plat::restoreConsole();

    plat::prepareConsole(); // a new run starts without the old request
    EXPECT_FALSE(plat::interruptRequested());
    raise(SIGTERM);
    EXPECT_TRUE(plat::interruptRequested());
    plat::restoreConsole();
}

TEST(PlatformConsole, AnInterruptEndsASleepEarly) {
    plat::prepareConsole();
    const pthread_t sleeper = pthread_self();
    std::thread signaller([sleeper] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pthread_kill(sleeper, SIGINT);
    });
    const auto start = steady_clock::now();
    plat::sleepMs(10000);
    const auto slept = steady_clock::now() - start;
    signaller.join();
    plat::restoreConsole();
    EXPECT_LT(slept, std::chrono::seconds(5));
}

} // namespace
#endif
