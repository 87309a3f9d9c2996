#include "testdriver/switchPlan.h"

#include <algorithm>

namespace refdrv {

namespace {

// Whether slot `n` is the configured switch `at`; negative numbers are off.
bool isAt(int32_t at, uint32_t n) {
    return at >= 0 && static_cast<uint32_t>(at) == n;
}

} // namespace

SwitchPlan::SwitchPlan(const StreamFaults& faults, const std::vector<int32_t>& wireDropouts, int32_t frames)
    : faults_(faults), wireDropouts_(wireDropouts), frames_(frames) {}

int64_t SwitchPlan::positionOf(uint32_t n) const {
    int64_t position = int64_t{n} * frames_;
    if (faults_.jumpAt >= 0 && n >= static_cast<uint32_t>(faults_.jumpAt)) position += faults_.jumpBy;
    return position;
}

SlotPlan SwitchPlan::slot(uint32_t n) const {
    SlotPlan plan;
    plan.position = positionOf(n);
    plan.half = static_cast<int32_t>(n & 1);
    plan.dropped = faults_.dropEvery >= 2 && n > 0 && n % static_cast<uint32_t>(faults_.dropEvery) == 0;
    if (plan.dropped) return plan;

    plan.deliveredHalf = isAt(faults_.badHalfAt, n) ? faults_.badHalf : plan.half;
    plan.repeatFirst = faults_.repeatHalfAt >= 1 && isAt(faults_.repeatHalfAt, n);
    if (plan.repeatFirst) plan.repeatPosition = positionOf(n - 1);
    const auto& selectors = faults_.messageSelectors;
    if (faults_.messageAt >= 0 && n >= static_cast<uint32_t>(faults_.messageAt) &&
        n - static_cast<uint32_t>(faults_.messageAt) < selectors.size()) {
        plan.sendsMessage = true;
        plan.messageSelector = selectors[n - static_cast<uint32_t>(faults_.messageAt)];
    }
    plan.rateChange = isAt(faults_.rateChangeAt, n);
    plan.wireDropout =
        std::any_of(wireDropouts_.begin(), wireDropouts_.end(), [n](int32_t at) { return isAt(at, n); });
    return plan;
}

} // namespace refdrv
