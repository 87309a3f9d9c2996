// telObject's creation and destruction protocol, the process-wide gate, the polling
// wait shared by every gate of the module, and the module's start-up and shutdown.
#include "core/telClasses.h"

#include <atomic>
#include <cstdlib>

#include "core/sharedWord.h"
#include "util/telUtils.h"

namespace {

// The gate for callers that have no object, and the first thread that entered it.
int32_t processGate = 0;
uint32_t processGateOwner = 0;

// The object the module creates at start-up, and how many start-ups are outstanding.
telObject* processObject = nullptr;
int32_t startupCount = 0;

} // namespace

// ---------------------------------------------------------------- memory and lifecycle

void* telObject::operator new(std::size_t size) noexcept {
    return std::calloc(1, size);
}

void telObject::operator delete(void* memory) noexcept {
    std::free(memory);
}

void telObject::AfterConstruction() {
    f_destroying = telFalse;
}

void telObject::BeforeDestruction() {
    f_destroying = telTrue;
    // Someone still holds the object: take one look at the process-wide gate. The answer
    // is not needed and the gate is not given back; destruction never waits for holders.
    if (writeGate() > 0 || readCount() > 0) (void)acquire(telFalse, 0, telTrue);
}

telObject::~telObject() {
    std::free(f_pwnThreadID);
    std::free(f_pwnThreadOp);
}

void telObjectDeleter::operator()(telObject* object) const {
    if (object == nullptr) return;
    object->BeforeDestruction();
    delete object;
}

// ---------------------------------------------------------------- waiting on a gate

bool telObject::waitGate(int32_t& gate, int32_t timeout) {
    const bool unlimited = timeout == -1;
    const uint64_t limit = timeout < 0 ? uint64_t(-int64_t(timeout)) : uint64_t(timeout);
    const uint32_t pause = unlimited ? 30u : uint32_t(limit / 256 + 1);
    bool marked = false;
    uint64_t mark = 0;
    for (;;) {
        if (gateEnter(gate)) return true;
        gateLeave(gate);
        if (!unlimited && limit == 0) return false;
        if (!marked) {
            mark = timeMark();
            marked = true;
        }
        plat::sleepMs(pause);
        if (!unlimited && timeElapsed(mark) > limit) return false;
    }
}

// ---------------------------------------------------------------- process-wide gate

telBool telObject::acquireProcessWide(int32_t timeout) {
    if (!waitGate(processGate, timeout)) return telFalse;
    uint32_t none = 0;
    sharedWord(processGateOwner).compare_exchange_strong(none, plat::currentThreadId());
    return telTrue;
}

void telObject::acquireProcessWide() {
    (void)acquireProcessWide(-1);
}

telBool telObject::releaseProcessWide() {
    // The gate admits one holder at a time, so whoever releases it held it alone: the
    // owner is cleared before the gate opens for the next one.
    if (sharedWord(processGate).load() <= 0) return telFalse;
    sharedWord(processGateOwner).store(0);
    gateLeave(processGate);
    return telTrue;
}

int32_t telObject::processWideGate() {
    return sharedWord(processGate).load();
}

uint32_t telObject::processWideOwner() {
    return sharedWord(processGateOwner).load();
}

// ---------------------------------------------------------------- module start-up

void telClassesStartup() {
    if (++startupCount > 1) return;
    processObject = telCreate<telObject>().release();
}

void telClassesShutdown() {
    if (startupCount <= 0 || --startupCount > 0) return;
    telObjectDeleter()(processObject);
    processObject = nullptr;
}
