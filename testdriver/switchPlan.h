// What the stream does in each slot of its schedule, from the configured stream faults:
// the position it reports, whether the switch is dropped, preceded by a repeat of the
// previous one, by messages or by a rate change, handed over with a wrong half, and
// whether the wire drops out. A pure function of the slot number, prepared at start,
// so the stream thread asks it without allocating.
#pragma once

#include <cstdint>
#include <vector>

#include "testdriver/driverConfig.h"

namespace refdrv {

struct SlotPlan {
    int64_t position = 0;      // reported for this slot (also while it is dropped)
    int32_t half = 0;          // the buffer half filled and recorded: n mod 2
    int32_t deliveredHalf = 0; // the half index handed to the host
    bool dropped = false;      // no callback, no input fill, no record
    bool repeatFirst = false;  // deliver the previous switch once more first
    int64_t repeatPosition = 0;
    bool sendsMessage = false;
    int32_t messageSelector = 0;
    bool rateChange = false;
    bool wireDropout = false;
};

class SwitchPlan {
  public:
    SwitchPlan() = default;
    SwitchPlan(const StreamFaults& faults, const std::vector<int32_t>& wireDropouts, int32_t frames);

    SlotPlan slot(uint32_t n) const;
    // n × frames, plus JumpBy from switch JumpAt on.
    int64_t positionOf(uint32_t n) const;

  private:
    StreamFaults faults_;
    std::vector<int32_t> wireDropouts_;
    int32_t frames_ = 0;
};

} // namespace refdrv
