// Keyboard and interrupts on the Linux side.
#ifndef _WIN32
#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "platform/platform.h"

// A blocking read would hang the test (and time it out) at the first or the last call.
TEST(PlatformConsole, SpaceKeyFromAPipeOnStandardInputNeverBlocks) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const int savedInput = dup(STDIN_FILENO);
    dup2(ends[0], STDIN_FILENO);
    auto send = [&](const char* text) { EXPECT_GT(write(ends[1], text, strlen(text)), 0); };
    // Nothing yet, no space, a space among other keys, and that press consumed.
    for (const auto& [text, space] : {std::pair{"", false}, {"x", false}, {"ab cd", true}, {"", false}}) {
        if (*text != 0) send(text);
        EXPECT_EQ(plat::spaceKeyDown(), space) << text;
    }
    send(" ");
    close(ends[1]);
    EXPECT_TRUE(plat::spaceKeyDown());
    EXPECT_FALSE(plat::spaceKeyDown()); // end of input
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);
    close(ends[0]);
}

TEST(PlatformConsole, SignalsBecomeInterruptRequestsWhilePrepared) {
    for (const int signal : {SIGINT, SIGTERM}) {
        plat::prepareConsole();
        plat::prepareConsole(); // a second call changes nothing
        EXPECT_FALSE(plat::interruptRequested()) << "a new run starts without the old request";
        raise(signal);
        EXPECT_TRUE(plat::interruptRequested()) << signal;
        plat::restoreConsole();
    }
}

TEST(PlatformConsole, AnInterruptEndsASleepEarly) {
    plat::prepareConsole();
    std::thread signaller([sleeper = pthread_self()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pthread_kill(sleeper, SIGINT);
    });
    const auto start = std::chrono::steady_clock::now();
    plat::sleepMs(10000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    signaller.join();
    plat::restoreConsole();
}
#endif
