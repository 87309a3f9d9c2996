// The 64-bit millisecond clock: the platform's 32-bit tick count, extended across its
// first wrap (after 49.7 days) by a wrap base that is raised once under a counter gate.
#include <atomic>

#include "util/telUtils.h"

namespace {

constexpr uint64_t wrapStep = uint64_t{1} << 32;

telTickSource tickSource = plat::tickCount;
std::atomic<uint64_t> wrapBase{0};
std::atomic<uint32_t> firstTick{0}; // 0: not read yet
int32_t wrapGate = 0;

} // namespace

uint64_t timeMark() {
    const uint64_t base = wrapBase.load();
    const uint32_t tick = tickSource();
    uint64_t now = tick + base;
    if (firstTick.load() == 0) firstTick.store(tick);
    if (now < firstTick.load()) {
        // Only possible while the base is 0 and the count has wrapped since the first
        // read. Callers racing here all return the extended value; the base is raised
        // once, by whoever gets the gate while it still holds the old base.
        now += wrapStep;
        if (gateEnter(wrapGate) && wrapBase.load() == base) wrapBase.store(base + wrapStep);
        gateLeave(wrapGate);
    }
    return now;
}

uint64_t timeElapsed(uint64_t mark) {
    const uint64_t now = timeMark();
    return now < mark ? 0 : now - mark;
}

uint32_t timeElapsed32(uint64_t mark) {
    return static_cast<uint32_t>(timeElapsed(mark));
}

void setTickSourceForTesting(telTickSource source) {
    tickSource = source != nullptr ? source : plat::tickCount;
    wrapBase.store(0);
    firstTick.store(0);
    wrapGate = 0;
}
