// Callback slots and buffer processors.
//
// Drivers call their host through four plain procedures with no context argument, so
// the host keeps 16 slots, each with its own four procedures that know their slot
// number; every callback through slot i is routed to the driver object registered there.
#pragma once

#include <cstdint>

#include "asio/asioTypes.h"
#include "core/telClasses.h"

class telAsioDriver;

inline constexpr int32_t telCallbackSlotCount = 16;

// The driver object registered in each slot (not owned; nullptr marks a free slot).
extern telAsioDriver* callbackSlots[telCallbackSlotCount];
// The four slot procedures of each slot; filled by telAsioApiStartup, never changed.
extern ASIOCallbacks slotCallbacks[telCallbackSlotCount];

// Takes the lowest free slot for `driver`: its index, or -1 when none is free or the
// slot gate could not be entered within 200 ms.
int32_t allocateCallbackSlot(telAsioDriver* driver);
// Gives a slot back (called by the driver object's release), then waits until no
// callback is inside it any more, so the driver object can be freed. False when a
// callback was still inside after the wait.
bool freeCallbackSlot(int32_t slot);

// How long the owner waits for the driver's thread to leave a callback before it gives
// up (and keeps what the callback may still use).
inline constexpr uint32_t telCallbackLeaveWaitMs = 2000;

// Waits, with 1 ms sleeps, until no callback is inside `slot`; false when one still is
// after `timeoutMs`. The callback side only counts itself in and out of the slot
// (two atomic operations per callback), so it never waits for the owner.
bool waitUntilSlotQuiet(int32_t slot, uint32_t timeoutMs);

// The slot gate, exposed so tests can hold it.
int32_t& callbackSlotGate();

// Module start-up: fills slotCallbacks.
void telAsioApiStartup();
void telAsioApiShutdown();

// A processor attached to one driver object gets the first offer of every callback.
class telAsioBufferProcessor : public telObject {
  public:
    // Attaches the new processor to `driver` (detaching any processor attached before).
    // Create with telCreate<...>(driver).
    explicit telAsioBufferProcessor(telAsioDriver* driver);
    // Detaches from the driver object if it is still this object's driver.
    void BeforeDestruction() override;

    // The driver object this processor is attached to; nullptr when detached. Read on the
    // callback thread, written by attach and detach on the owner's.
    telAsioDriver* drv() const;

    // Each returns true when the processor handled the callback. The base versions
    // handle nothing.
    virtual telBool doBufferSwitch(int32_t index, telBool processNow);
    virtual telBool doBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool processNow, pASIOTime time);
    virtual telBool doSampleRateChanged(double rate);
    virtual telBool doAsioMessage(int32_t selector, int32_t value, void* message, double* opt, int32_t& result);

  private:
    friend class telAsioDriver; // attach and detach set f_drv
    void setDriver(telAsioDriver* driver);
    telAsioDriver* f_drv = nullptr;
};
