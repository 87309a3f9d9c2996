// telObject's reader/writer lock: two counters (write gate, read count), a table of the
// threads that hold the object, and polling with short sleeps instead of system locks.
//
// Every acquisition leaves one table entry for its thread (op 1 read, 0 write) and one
// count on its counter; a release takes back the thread's newest entry and that count.
// A thread alone in the table passes both counter checks at once (re-entrance).
#include <atomic>
#include <cstdlib>

#include "core/sharedWord.h"
#include "core/telClasses.h"
#include "util/telUtils.h"

namespace {

// The thread table gate gives up after this long; the polling pause is then 79 ms.
constexpr int32_t threadTableTimeout = 20000;

constexpr int writeSlot = 0;
constexpr int readSlot = 1;

} // namespace

// ---------------------------------------------------------------- entry points

telBool telObject::acquire(telBool ro, int32_t timeout, telBool fsn) {
    if (fsn) return acquireProcessWide(timeout);
    return ro ? acquireRead(timeout) : acquireWrite(timeout);
}

void telObject::acquire(telBool ro) {
    atomicIncrement(f_acqObj[ro ? readSlot : writeSlot]);
}

telBool telObject::releaseRO() {
    return releaseOne(true);
}

telBool telObject::releaseWO() {
    return releaseOne(false);
}

int32_t telObject::writeGate() const {
    return sharedWord(const_cast<int32_t&>(f_acqObj[writeSlot])).load();
}

int32_t telObject::readCount() const {
    return sharedWord(const_cast<int32_t&>(f_acqObj[readSlot])).load();
}

uint32_t telObject::writeEnteringThread() const {
    return sharedWord(const_cast<uint32_t&>(f_woEnterThreadID)).load();
}

// ---------------------------------------------------------------- write and read paths

telBool telObject::acquireWrite(int32_t timeout) {
    const uint32_t thread = plat::currentThreadId();
    // Half the timeout, taken from its bit pattern so that a negative one stays positive.
    const int32_t gateTimeout = int32_t(uint32_t(timeout) >> 1);
    const uint64_t mark = timeMark();
    for (;;) {
        markWriteEntering(thread);
        if (sharedWord(f_woEnterThreadID).load() == thread) {
            const bool gotWrite = waitCounterGate(false, thread, gateTimeout);
            // With timeout 0 the read count is only taken when no reader is inside.
            const bool noReaders = gotWrite && waitCounterGate(true, thread, 0);
            if (noReaders) {
                registerThread(false, thread);
                leaveCounterGate(true);
                sharedWord(f_woEnterThreadID).store(0);
                return telTrue;
            }
            if (gotWrite) leaveCounterGate(false);
            sharedWord(f_woEnterThreadID).store(0);
        }
        plat::sleepMs(1);
        if (int32_t(timeElapsed32(mark)) > timeout) return telFalse;
    }
}

telBool telObject::acquireRead(int32_t timeout) {
    const uint32_t thread = plat::currentThreadId();
    bool marked = false;
    uint64_t mark = 0;
    for (;;) {
        const uint32_t entering = sharedWord(f_woEnterThreadID).load();
        if (entering == 0 || entering == thread) {
            acquire(telTrue);
            // Holding the write gate for a moment proves that no writer is inside.
            bool clear = gateEnter(f_acqObj[writeSlot]);
            if (!clear) {
                gateLeave(f_acqObj[writeSlot]);
                clear = waitCounterGate(false, thread, 1);
            }
            if (clear) {
                registerThread(true, thread);
                leaveCounterGate(false);
                return telTrue;
            }
            leaveCounterGate(true);
        }
        if (!marked) {
            mark = timeMark();
            marked = true;
        }
        plat::sleepMs(1);
        if (int32_t(timeElapsed32(mark)) > timeout) return telFalse;
    }
}

telBool telObject::releaseOne(bool read) {
    const uint32_t thread = plat::currentThreadId();
    bool newestIsRead = false;
    // Only this thread adds or removes its own entries, so its newest entry cannot change
    // between the look and the removal.
    if (!lookupThread(thread, false, false, &newestIsRead) || newestIsRead != read) return telFalse;
    if (!lookupThread(thread, false, true, &newestIsRead)) return telFalse;
    leaveCounterGate(read);
    return telTrue;
}

// ---------------------------------------------------------------- private steps

bool telObject::markWriteEntering(uint32_t thread) {
    uint32_t none = 0;
    return sharedWord(f_woEnterThreadID).compare_exchange_strong(none, thread);
}

void telObject::leaveCounterGate(bool readCount) {
    atomicDecrement(f_acqObj[readCount ? readSlot : writeSlot]);
}

bool telObject::lookupThread(uint32_t thread, bool exclusive, bool remove, bool* isRead) {
    if (!waitGate(f_pwnThreadACQ, threadTableTimeout)) return false;
    int32_t count = f_pwnThreadCount;
    while (count > 0 && f_pwnThreadID[count - 1] == 0)
        --count;

    int32_t hit = count - 1;
    while (hit >= 0 && f_pwnThreadID[hit] != thread)
        --hit;
    bool found = hit >= 0;
    for (int32_t i = 0; found && exclusive && i < count; ++i) {
        if (f_pwnThreadID[i] != 0 && f_pwnThreadID[i] != thread) found = false;
    }
    if (found) {
        if (isRead != nullptr) *isRead = f_pwnThreadOp[hit] != 0;
        if (remove) {
            f_pwnThreadID[hit] = 0;
            if (hit == count - 1) --count;
        }
    }
    sharedWord(f_pwnThreadCount).store(count);
    gateLeave(f_pwnThreadACQ);
    return found;
}

void telObject::registerThread(bool read, uint32_t thread) {
    if (!waitGate(f_pwnThreadACQ, threadTableTimeout)) return;
    const int32_t count = f_pwnThreadCount;
    // Reuse the highest free entry unless the thread's own newest entry lies above it:
    // a thread's newest entry must stay above its older ones.
    int32_t slot = count - 1;
    while (slot >= 0 && f_pwnThreadID[slot] != 0 && f_pwnThreadID[slot] != thread)
        --slot;
    bool fits = true;
    if (slot < 0 || f_pwnThreadID[slot] == thread) {
        slot = count;
        if (count + 1 > f_pwnThreadMax) {
            const auto entries = std::size_t(count) + 1;
            auto* ids = static_cast<pUint32Array>(std::realloc(f_pwnThreadID, entries * sizeof(uint32_t)));
            if (ids != nullptr) f_pwnThreadID = ids;
            auto* ops = ids == nullptr ? nullptr : static_cast<pArray>(std::realloc(f_pwnThreadOp, entries));
            if (ops != nullptr) f_pwnThreadOp = ops;
            fits = ops != nullptr;
            if (fits) f_pwnThreadMax = count + 1;
        }
        if (fits) sharedWord(f_pwnThreadCount).store(count + 1);
    }
    if (fits) {
        f_pwnThreadID[slot] = thread;
        f_pwnThreadOp[slot] = read ? 1 : 0;
    }
    gateLeave(f_pwnThreadACQ);
}

bool telObject::waitCounterGate(bool readCount, uint32_t thread, int32_t timeout) {
    int32_t& counter = f_acqObj[readCount ? readSlot : writeSlot];
    if (lookupThread(thread, true, false, nullptr)) {
        atomicIncrement(counter);
        return true;
    }
    // Someone else holds the object. The count is read without the table gate.
    if (std::atomic_ref<int32_t>(f_pwnThreadCount).load(std::memory_order_relaxed) >= 1) return false;
    return waitGate(counter, timeout);
}
