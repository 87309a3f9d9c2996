// The host's four callbacks during a check. The procedures only note what the driver
// does into storage that exists before the first callback (no allocation, lock, system
// call or output on a callback), and do what a host owes a driver there: they read the
// sample position when no time record brings it and call outputReady after each switch
// when the driver wants it, both through the driver-call observer.
//
// Each createBuffers hands the driver a set of procedures of its own. Handing out the
// next set retires the one before; so does letting go of the buffers or the driver.
// What comes through a retired set is only counted: that is how callbacks after stop,
// disposeBuffers or the last Release are told from the live ones.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "asio/asioDriverInterface.h"
#include "asio/driverCall.h"

namespace conform {

inline constexpr int callbackSetCount = 16;
// Buffer switches noted per check; later ones are counted but not noted.
inline constexpr uint32_t noteCapacity = 16384;

// One buffer switch as the host saw it.
struct SwitchNote {
    int32_t set = -1;
    int32_t half = 0;
    int64_t position = 0;   // samples; valid when positionKnown
    int64_t systemTime = 0; // nanoseconds, the driver's clock; valid when systemTimeKnown
    int64_t hostBegin = 0;  // the host's steady clock in nanoseconds at the callback's start
    int64_t hostEnd = 0;    // and at its end
    double recordRate = 0;  // the time record's rate
    uint32_t recordFlags = 0;
    uintptr_t thread = 0;
    bool timeInfo = false;   // came through bufferSwitchTimeInfo
    bool nullRecord = false; // ... with a null record
    bool positionKnown = false;
    bool systemTimeKnown = false;
    bool overlapped = false; // another switch of the same set was still inside when this one began
};

// How the host answers the driver's messages: like a full host (engine version 2; reset,
// resync and latency changes supported; time info as offered) or like a minimal one
// that answers 0 to everything.
enum class HostAnswers { full, minimal };

struct CallbackSettings {
    HostAnswers answers = HostAnswers::full;
    bool offerTimeInfo = true;
    bool callOutputReady = false;
};

// Counts of what came through one set.
struct SetCounts {
    uint32_t switches = 0;        // buffer switches begun
    uint32_t finished = 0;        // buffer switches that returned (and were noted)
    uint32_t others = 0;          // rate changes and messages
    uint32_t afterRetired = 0;    // callbacks of any kind begun after the set was retired
    uint32_t switchesRetired = 0; // buffer switches among them
};

class CallbackLog {
  public:
    // Makes the next set the live one (retiring the one before) for `driver`, and hands
    // out its procedures; they stay valid for the life of the process.
    ASIOCallbacks* takeSet(IASIO* driver, const CallbackSettings& settings);
    // Retires the live set, if any.
    void retire();
    // Retires the live set as the buffers of a stopped stream went: a callback through it
    // from now on comes after disposeBuffers returned, where a host has freed what its
    // callbacks use.
    void retireDisposed();
    // The host lets go of the driver that holds `set`: callbacks through it from now on
    // come after the last Release (release-running judges those), no longer after disposeBuffers.
    void letGo(int set);
    int liveSet() const { return f_live.load(std::memory_order_acquire); }
    // Callbacks of any kind that came through a set after a stopped stream's
    // disposeBuffers retired it, and before the driver was let go.
    uint32_t callbacksAfterDispose() const { return f_afterDispose.load(); }

    // Notes from index `from` on (notes are numbered from 0 per check), those written so far.
    std::vector<SwitchNote> notes(uint32_t from = 0) const;
    // Buffer switches noted (and counted past the capacity) so far.
    uint32_t noteCount() const { return f_noteCount.load(std::memory_order_acquire); }
    SetCounts counts(int set) const;

    // outputReady is held back from the switches while set (the stop-after-a-missed-
    // outputReady case); counts the switches it was held back from.
    void withholdOutputReady(bool withhold) { f_withhold.store(withhold); }
    uint32_t withheldSwitches() const { return f_withheld.load(); }

    // Messages the driver sent through live sets, by selector (1 to 63; 0 counts the rest),
    // and the selectors it asked about with kAsioSelectorSupported.
    uint32_t messages(int32_t selector) const;
    uint32_t asked(int32_t selector) const;
    uint32_t rateChanges() const { return f_rateChanges.load(); }
    // Takes a reset request the driver sent through a live set since the last take.
    bool takeResetRequest() { return f_resetRequested.exchange(false); }
    // The first exception a driver call from inside a callback threw ("" when none).
    const char* callbackThrow() const;

    // Forgets every note and count, once no callback of a live set can still be inside:
    // between checks of one process.
    void clear();

    // The procedures' entry points (public for the procedure templates).
    pASIOTime onSwitch(int set, int32_t half, pASIOTime record, bool timeInfo) noexcept;
    void onRateChange(int set) noexcept;
    int32_t onMessage(int set, int32_t selector, int32_t value) noexcept;

  private:
    struct Slot {
        std::atomic<uint32_t> written{0};
        SwitchNote note;
    };
    struct SetState {
        std::atomic<uint32_t> switches{0}, finished{0}, others{0}, afterRetired{0}, switchesRetired{0};
        std::atomic<bool> disposed{false}; // retired by a stopped stream's disposeBuffers, not let go
    };

    // Counts the callback in; false when its set is not the live one.
    bool enter(int set, bool isSwitch) noexcept;

    std::atomic<int32_t> f_live{-1};
    std::atomic<int32_t> f_lastSet{-1};
    std::atomic<IASIO*> f_driver{nullptr};
    std::atomic<bool> f_minimal{false}, f_offerTimeInfo{true}, f_callOutputReady{false}, f_withhold{false};
    std::atomic<uint32_t> f_withheld{0};
    std::atomic<uint32_t> f_noteCount{0};
    std::atomic<uint32_t> f_afterDispose{0};
    std::atomic<int32_t> f_switchesInside{0};
    std::atomic<uint32_t> f_messages[64]{};
    std::atomic<uint32_t> f_asked[64]{};
    std::atomic<uint32_t> f_rateChanges{0};
    std::atomic<bool> f_resetRequested{false};
    std::atomic<bool> f_threwClaimed{false};
    std::atomic<bool> f_threwNoted{false};
    char f_throwText[120]{};
    SetState f_sets[callbackSetCount];
    Slot f_slots[noteCapacity];

    friend void noteCallbackThrow(telDriverCall, const char*) noexcept;
};

// The one log of the process; the procedures write into it.
CallbackLog& callbackLog();

} // namespace conform
