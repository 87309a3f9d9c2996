// Callback slots, their 64 procedures, the dispatch to driver objects, and the buffer
// processor base class.
//
// A slot entry is written by the owner's thread (allocate, free) and read by driver
// threads (dispatch) without a lock. Both sides go through atomic_ref so the single
// pointer load on the audio path stays lock-free and is properly ordered with the
// registration that preceded the driver's start.
//
// Every callback counts itself into its slot for as long as it runs. The owner clears
// a pointer (the slot's driver object, the driver object's processor, its buffers'
// gate) and then waits until the slot's count is zero: a callback that entered before
// the clear has left, and one that enters after it sees the cleared pointer. Both the
// callback's count and load and the owner's clear and check are sequentially
// consistent, which is what makes that argument hold.
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

// Callbacks currently running inside each slot.
std::atomic<int32_t> slotVisitors[telCallbackSlotCount] = {};

// Counts one callback into its slot for the length of its scope.
class SlotVisit {
  public:
    explicit SlotVisit(int32_t slot) : f_visitors(slotVisitors[slot]) { f_visitors.fetch_add(1); }
    ~SlotVisit() { f_visitors.fetch_sub(1, std::memory_order_release); }
    SlotVisit(const SlotVisit&) = delete;
    SlotVisit& operator=(const SlotVisit&) = delete;

  private:
    std::atomic<int32_t>& f_visitors;
};

// How long allocateCallbackSlot waits for the slot gate, and the sleep between tries.
constexpr uint64_t slotWaitMs = 200;
constexpr uint32_t slotSleepMs = slotWaitMs / 256 + 1;

telAsioDriver* slotOwner(int32_t slot) {
    return std::atomic_ref<telAsioDriver*>(callbackSlots[slot]).load();
}

void setSlotOwner(int32_t slot, telAsioDriver* driver) {
    std::atomic_ref<telAsioDriver*>(callbackSlots[slot]).store(driver);
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
// A callback through a free slot is answered harmlessly, and so is a buffer switch that
// comes while the driver object has no buffers (before they were prepared, or after
// they were disposed): a driver that calls back then must not reach buffers that are
// being changed or are gone.

void dispatchBufferSwitch(int32_t slot, int32_t index, ASIOBool processNow) {
    SlotVisit visit(slot);
    telAsioDriver* driver = slotOwner(slot);
    if (driver != nullptr && driver->buffersLive()) driver->handleBufferSwitch(index, processNow);
}

void dispatchSampleRateChanged(int32_t slot, ASIOSampleRate rate) {
    SlotVisit visit(slot);
    if (telAsioDriver* driver = slotOwner(slot)) driver->handleSampleRateChanged(rate);
}

int32_t dispatchAsioMessage(int32_t slot, int32_t selector, int32_t value, void* message, double* opt) {
    SlotVisit visit(slot);
    telAsioDriver* driver = slotOwner(slot);
    return driver != nullptr ? driver->handleAsioMessage(selector, value, message, opt) : 0;
}

pASIOTime dispatchBufferSwitchTimeInfo(int32_t slot, pASIOTime timeInfo, int32_t index, ASIOBool processNow) {
    SlotVisit visit(slot);
    telAsioDriver* driver = slotOwner(slot);
    if (driver == nullptr || !driver->buffersLive()) return nullptr;
    return driver->handleBufferSwitchTimeInfo(timeInfo, index, processNow);
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

bool freeCallbackSlot(int32_t slot) {
    if (slot < 0 || slot >= telCallbackSlotCount) return true;
    setSlotOwner(slot, nullptr);
    return waitUntilSlotQuiet(slot, telCallbackLeaveWaitMs);
}

bool waitUntilSlotQuiet(int32_t slot, uint32_t timeoutMs) {
    if (slot < 0 || slot >= telCallbackSlotCount) return true;
    const uint64_t mark = timeMark();
    while (slotVisitors[slot].load() != 0) {
        if (timeElapsed(mark) > timeoutMs) return false;
        plat::sleepMs(1);
    }
    return true;
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
    telAsioDriver* driver = drv();
    if (driver != nullptr && driver->bufferProcessor() == this) driver->setBufferProcessor(nullptr);
}

telAsioDriver* telAsioBufferProcessor::drv() const {
    return std::atomic_ref<telAsioDriver*>(const_cast<telAsioDriver*&>(f_drv)).load(std::memory_order_acquire);
}

void telAsioBufferProcessor::setDriver(telAsioDriver* driver) {
    std::atomic_ref<telAsioDriver*>(f_drv).store(driver, std::memory_order_release);
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
