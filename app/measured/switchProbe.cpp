#include "app/measured/switchProbe.h"

namespace {

// Marks an unclaimed slot of the table of other selectors (selectors are 32-bit).
constexpr int64_t unclaimed = INT64_MIN;

} // namespace

switchProbe::switchProbe(size_t capacity) : f_records(capacity) {
    for (std::atomic<int64_t>& selector : f_otherSelector) selector.store(unclaimed, std::memory_order_relaxed);
}

void switchProbe::record(const measure::SwitchRecord& record) noexcept {
    // A record that finds no room is counted, and the next one that does carries the
    // count, so the statistics judge nothing across the host's own loss.
    measure::SwitchRecord carried = record;
    carried.hostLostBefore = f_pendingLoss;
    if (f_records.push(carried)) {
        f_pendingLoss = 0;
        return;
    }
    ++f_pendingLoss;
    f_lost.fetch_add(1, std::memory_order_relaxed);
}

void switchProbe::countMessage(int32_t selector) noexcept {
    if (selector >= 0 && selector < directSelectors) {
        f_direct[selector].fetch_add(1, std::memory_order_relaxed);
        return;
    }
    for (int32_t slot = 0; slot < otherSelectorSlots; ++slot) {
        int64_t seen = f_otherSelector[slot].load(std::memory_order_acquire);
        if (seen == unclaimed &&
            f_otherSelector[slot].compare_exchange_strong(seen, selector, std::memory_order_acq_rel))
            seen = selector;
        if (seen == selector) {
            f_otherCount[slot].fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
    // More distinct unusual selectors than slots: the rest go uncounted.
}

void switchProbe::countRateChange() noexcept { f_rateChanges.fetch_add(1, std::memory_order_relaxed); }

size_t switchProbe::drain(measure::SwitchTiming& timing) {
    size_t drained = 0;
    measure::SwitchRecord record;
    while (f_records.pop(record)) {
        timing.add(record);
        ++drained;
    }
    return drained;
}

std::map<int32_t, uint64_t> switchProbe::messages() const {
    std::map<int32_t, uint64_t> counts;
    for (int32_t selector = 0; selector < directSelectors; ++selector)
        if (uint64_t count = f_direct[selector].load(std::memory_order_relaxed)) counts[selector] = count;
    for (int32_t slot = 0; slot < otherSelectorSlots; ++slot) {
        const int64_t selector = f_otherSelector[slot].load(std::memory_order_acquire);
        const uint64_t count = f_otherCount[slot].load(std::memory_order_relaxed);
        if (selector != unclaimed && count > 0) counts[static_cast<int32_t>(selector)] += count;
    }
    return counts;
}
