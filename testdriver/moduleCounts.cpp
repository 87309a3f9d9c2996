#include "testdriver/moduleCounts.h"

#include <atomic>

namespace refdrv {

namespace {

std::atomic<int> liveObjects{0};
std::atomic<int> serverLocks{0};

} // namespace

void objectCreated() {
    liveObjects.fetch_add(1);
}
void objectDestroyed() {
    liveObjects.fetch_sub(1);
}
void serverLocked() {
    serverLocks.fetch_add(1);
}
void serverUnlocked() {
    serverLocks.fetch_sub(1);
}
bool moduleIdle() {
    return liveObjects.load() == 0 && serverLocks.load() == 0;
}

} // namespace refdrv
