#include "measure/machineStalls.h"

#include <algorithm>

namespace measure {

uint64_t lateIntervalsInStalls(const std::vector<LateInterval>& late, const std::vector<Stall>& stalls,
                               double periodNs) {
    uint64_t explained = 0;
    size_t first = 0; // the first stall that may still overlap a later interval
    for (const LateInterval& interval : late) {
        while (first < stalls.size() && stalls[first].endNs <= interval.startNs) ++first;
        double overlapNs = 0;
        for (size_t k = first; k < stalls.size() && stalls[k].startNs < interval.endNs; ++k)
            overlapNs += double(std::min(stalls[k].endNs, interval.endNs) - std::max(stalls[k].startNs, interval.startNs));
        const double latenessNs = double(interval.endNs - interval.startNs) - periodNs;
        if (latenessNs > 0 && overlapNs >= 0.5 * latenessNs) ++explained;
    }
    return explained;
}

} // namespace measure
