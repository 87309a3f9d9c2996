// A measured run's timing plots, passed from a supervised child to its parent while the
// run goes on, so that a parent whose child the driver crashed or hung still draws the
// seconds measured before the end. Each piece of news holds only what changed since the
// one before: the timeline's bins from the last one (which may still have been filling),
// the events not yet told, the counts of the intervals that changed, and the totals of
// each kind of event. A piece is as small as the stretch of run it covers; the whole
// the parent gathers is the run's own timing data, no larger than the child's.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include <nlohmann/json.hpp>

#include "measure/switchTiming.h"
#include "report/reportData.h"

// The child's side: one teller per measured run (per setting of a sweep).
class timingNews {
  public:
    // What changed since the last call, as one JSON object; null when nothing did. The
    // first piece of a run says so: the parent starts afresh with it.
    nlohmann::json since(const measure::SwitchTiming& timing, const measure::SwitchSummary& counts,
                         int64_t originNs);

  private:
    bool f_told = false;
    size_t f_finalBins = 0; // bins before this one were told complete
    size_t f_events = 0;
    std::vector<uint64_t> f_counts;
    std::map<int64_t, uint64_t> f_longCounts;
    std::array<uint64_t, report::eventKindCount> f_totals{};
};

// The parent's side: adds a piece of news to the data gathered so far (a first piece
// replaces it). Malformed parts are left out.
void applyTimingNews(report::TimingData& timing, const nlohmann::json& news);
