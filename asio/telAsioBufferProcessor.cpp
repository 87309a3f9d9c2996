// Callback slots, their 64 procedures, the dispatch to driver objects, and the buffer
// processor base class.
//
// A slot entry is written by the owner's thread (allocate, free) and read by driver
// threads (dispatch) without a lock. Both sides go through atomic_ref so the single
// pointer load on the audio path stays lock-free and is properly ordered with the
// registration that preceded the driver's start.
#include "asio/telAsioBufferProcessor.h"

#include <atomic>
#include <utility>

#include "asio/telAsioDriver.h"
#include "platform/platform.h"
#include "util/telUtils.h"

telAsioDriver* callbackSlots[telCallbackSlotCount] = {};
ASIOCallbacks slotCallbacks[telCallbackSlotCount] = {};

namespace {

int32_t slotLock = 0;

// How long allocateCallbackSlot waits for the slot gate, and the sleep between tries.
constexpr uint64_t slotWaitMs = 200;
constexpr uint32_t slotSleepMs = slotWaitMs / 256 + 1;

telAsioDriver* slotOwner(int32_t slot) {
    return std::atomic_ref<telAsioDriver*>(callbackSlots[slot]).load(std::memory_order_acquire);
}

void setSlotOwner(int32_t slot, telAsioDriver* driver) {
    std::atomic_ref<telAsioDriver*>(callbackSlots[slot]).store(driver, std::memory_order_release);
}

// Attempt, and after the first failure mark the clock; sleep between attempts and give
// up once more than the wait has passed since the mark.
bool enterSlotGate() {
    bool marked = false;
    uint64_t mark = 0;
    for (;;) {
        if (gateEnter(slotLock)) return true;
        gateLeave(slotLock);
        if (!marked) {
            mark = timeMark();
            marked = true;
        }
        plat::sleepMs(slotSleepMs);
        if (timeElapsed(mark) > slotWaitMs) return false;
    }
}

// ---------------------------------------------------------------- dispatch
// A callback through a free slot is answered harmlessly.

void dispatchBufferSwitch(int32_t slot, int32_t index, ASIOBool processNow) {
    if (telAsioDriver* driver = slotOwner(slot)) driver->handleBufferSwitch(index, processNow);
}

void dispatchSampleRateChanged(int32_t slot, ASIOSampleRate rate) {
    if (telAsioDriver* driver = slotOwner(slot)) driver->handleSampleRateChanged(rate);
}

int32_t dispatchAsioMessage(int32_t slot, int32_t selector, int32_t value, void* message, double* opt) {
    telAsioDriver* driver = slotOwner(slot);
    return driver != nullptr ? driver->handleAsioMessage(selector, value, message, opt) : 0;
}

pASIOTime dispatchBufferSwitchTimeInfo(int32_t slot, pASIOTime timeInfo, int32_t index, ASIOBool processNow) {
    telAsioDriver* driver = slotOwner(slot);
    return driver != nullptr ? driver->handleBufferSwitchTimeInfo(timeInfo, index, processNow) : nullptr;
}

// ---------------------------------------------------------------- slot procedures
// Drivers call back without a context argument, so each slot has its own four
// procedures that know their slot number.

template <int Slot> void TEL_CDECL slotBufferSwitch(int32_t index, ASIOBool processNow) {
    dispatchBufferSwitch(Slot, index, processNow);
}

template <int Slot> void TEL_CDECL slotSampleRateChanged(ASIOSampleRate rate) {
    dispatchSampleRateChanged(Slot, rate);
}

template <int Slot>
int32_t TEL_CDECL slotAsioMessage(int32_t selector, int32_t value, void* message, double* opt) {
    return dispatchAsioMessage(Slot, selector, value, message, opt);
}

template <int Slot>
pASIOTime TEL_CDECL slotBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, ASIOBool processNow) {
    return dispatchBufferSwitchTimeInfo(Slot, timeInfo, index, processNow);
}

template <int... Slots> void fillSlotCallbacks(std::integer_sequence<int, Slots...>) {
    ((slotCallbacks[Slots] = ASIOCallbacks{&slotBufferSwitch<Slots>, &slotSampleRateChanged<Slots>,
                                           &slotAsioMessage<Slots>, &slotBufferSwitchTimeInfo<Slots>}),
     ...);
}

} // namespace

int32_t allocateCallbackSlot(telAsioDriver* driver) {
    if (driver == nullptr) return -1; // a null owner would leave the slot looking free
    if (!enterSlotGate()) return -1;
    int32_t result = -1;
    for (int32_t slot = 0; slot < telCallbackSlotCount; ++slot) {
        if (slotOwner(slot) == nullptr) {
            setSlotOwner(slot, driver);
            result = slot;
            break;
        }
    }
    gateLeave(slotLock);
    return result;
}

void freeCallbackSlot(int32_t slot) {
    if (slot >= 0 && slot < telCallbackSlotCount) setSlotOwner(slot, nullptr);
}

int32_t& callbackSlotGate() {
    return slotLock;
}

void telAsioApiStartup() {
    fillSlotCallbacks(std::make_integer_sequence<int, telCallbackSlotCount>());
}

// The slot table holds no resources: drivers give their slots back when released.
void telAsioApiShutdown() {}

// ---------------------------------------------------------------- buffer processor

telAsioBufferProcessor::telAsioBufferProcessor(telAsioDriver* driver) {
    if (driver != nullptr) driver->setBufferProcessor(this);
}

void telAsioBufferProcessor::BeforeDestruction() {
    telObject::BeforeDestruction();
    if (f_drv != nullptr && f_drv->bufferProcessor() == this) f_drv->setBufferProcessor(nullptr);
}

telBool telAsioBufferProcessor::doBufferSwitch(int32_t, telBool) {
    return telFalse;
}

telBool telAsioBufferProcessor::doBufferSwitchTimeInfo(pASIOTime, int32_t, telBool, pASIOTime) {
    return telFalse;
}

telBool telAsioBufferProcessor::doSampleRateChanged(double) {
    return telFalse;
}

telBool telAsioBufferProcessor::doAsioMessage(int32_t, int32_t, void*, double*, int32_t&) {
    return telFalse;
}
