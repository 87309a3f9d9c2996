// How far a measured run got, told to its supervising parent from the status loop, ten
// times a second: the seconds since the driver started and the switches counted, and,
// when an HTML report is asked for, what changed in the timing plots' data. The parent
// keeps the last word, so that a run the driver crashes or hangs is still reported with
// when it ended and what it measured until then. Nothing here runs on the callback path.
#pragma once

#include <cstdint>

#include "app/html/timingRelay.h"
#include "measure/switchTiming.h"

class runProgress {
  public:
    explicit runProgress(bool withTimingPlots) : f_withTimingPlots(withTimingPlots) {}

    // Tells the parent where the run stands (nothing outside a supervised child).
    // `startNs`: the steady clock when the driver was started; `nowNs`: now.
    void tell(const measure::SwitchTiming& timing, int64_t startNs, int64_t nowNs);

  private:
    bool f_withTimingPlots;
    timingNews f_news;
};
