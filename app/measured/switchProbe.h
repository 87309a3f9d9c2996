// What the callback path notes for the health summary: one record per buffer switch (two
// clock readings, the position and the half), and counts of the driver's messages and
// rate changes. Everything is preallocated and lock-free on the callback side; the main
// thread drains the records into the statistics while the run goes on.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

#include "app/measured/spscRing.h"
#include "measure/switchTiming.h"

class switchProbe {
  public:
    // Room for this many records between two drains (the main thread drains ten times a
    // second; this covers several seconds at the shortest buffers drivers use).
    static constexpr size_t defaultCapacity = 1 << 15;

    explicit switchProbe(size_t capacity = defaultCapacity);

    // ---------------------------------------------------------------- callback side
    void record(const measure::SwitchRecord& record) noexcept;
    void countMessage(int32_t selector) noexcept;
    void countRateChange() noexcept;

    // ---------------------------------------------------------------- main thread
    // Moves every waiting record into `timing`; returns how many.
    size_t drain(measure::SwitchTiming& timing);
    // Messages received, by selector (only those that came at least once).
    std::map<int32_t, uint64_t> messages() const;
    uint64_t rateChanges() const { return f_rateChanges.load(std::memory_order_relaxed); }
    // Records the ring had no room for (the main thread fell behind for seconds). The
    // record after such a loss carries its count (hostLostBefore); records lost at the
    // very end are only in this figure.
    uint64_t lostRecords() const { return f_lost.load(std::memory_order_relaxed); }
    uint32_t lostAtEnd() const { return f_pendingLoss; }

  private:
    // Selectors below this are counted in place; others in a small table of their own.
    static constexpr int32_t directSelectors = 64;
    static constexpr int32_t otherSelectorSlots = 32;

    spscRing<measure::SwitchRecord> f_records;
    std::atomic<uint64_t> f_lost{0};
    uint32_t f_pendingLoss = 0; // callback thread only (read once the driver stopped)
    std::atomic<uint64_t> f_rateChanges{0};
    std::atomic<uint64_t> f_direct[directSelectors] = {};
    // Other selectors: a slot is claimed once by writing its selector, then counted.
    std::atomic<int64_t> f_otherSelector[otherSelectorSlots];
    std::atomic<uint64_t> f_otherCount[otherSelectorSlots] = {};
};
