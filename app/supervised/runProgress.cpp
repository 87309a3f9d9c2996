#include "app/supervised/runProgress.h"

#include "app/supervised/childLink.h"

void runProgress::tell(const measure::SwitchTiming& timing, int64_t startNs, int64_t nowNs) {
    if (!isSupervisedChild()) return;
    // The counts as they stand; a run end before the last switch counts no quiet time
    // after it as an interval.
    const measure::SwitchSummary counts = timing.summary(startNs, startNs);
    nlohmann::json progress = {
        {"measured",
         {{"seconds", static_cast<double>(nowNs - startNs) / 1e9}, {"switches", counts.switches}}}};
    if (f_withTimingPlots)
        if (nlohmann::json news = f_news.since(timing, counts, startNs); !news.is_null())
            progress["timing"] = std::move(news);
    tellParentMeasured(progress);
}
