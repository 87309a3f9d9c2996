// The callback log tells a late callback from a live one by the set it comes through:
// after a stopped stream's disposeBuffers, until the driver is let go.
#include <gtest/gtest.h>

#include "conform/callbackLog.h"

using namespace conform;

TEST(ConformCallbackLog, CallbacksAfterAStoppedStreamsDisposeAreCounted) {
    CallbackLog& log = callbackLog();
    log.clear();
    ASIOCallbacks* first = log.takeSet(nullptr, CallbackSettings{});
    const int firstSet = log.liveSet();
    first->bufferSwitch(0, 1);
    EXPECT_EQ(log.callbacksAfterDispose(), 0u);
    log.retireDisposed();
    first->bufferSwitch(1, 1);
    first->asioMessage(kAsioResyncRequest, 0, nullptr, nullptr);
    EXPECT_EQ(log.callbacksAfterDispose(), 2u);

    // Buffers made again: the live set's callbacks are the stream's, the old one's late.
    ASIOCallbacks* second = log.takeSet(nullptr, CallbackSettings{});
    second->bufferSwitch(0, 1);
    first->bufferSwitch(0, 1);
    EXPECT_EQ(log.callbacksAfterDispose(), 3u);
    // Retired otherwise (disposed while running, or buffers refused): another check's to judge.
    log.retire();
    second->bufferSwitch(1, 1);
    EXPECT_EQ(log.callbacksAfterDispose(), 3u);
    // Once the driver is let go its callbacks come after the last Release.
    log.letGo(firstSet);
    first->bufferSwitch(1, 1);
    EXPECT_EQ(log.callbacksAfterDispose(), 3u);
    log.clear();
    EXPECT_EQ(log.callbacksAfterDispose(), 0u);
}
