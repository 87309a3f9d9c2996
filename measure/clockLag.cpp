#include "measure/clockLag.h"

#include <algorithm>
#include <cmath>

namespace measure {

ClockLagTracker::ClockLagTracker(double periodNs, int64_t bufferSize)
    : periodNs_(periodNs > 0 && std::isfinite(periodNs) && bufferSize > 0 ? periodNs : 0.0),
      nsPerSample_(periodNs_ > 0 ? periodNs_ / static_cast<double>(bufferSize) : 0.0) {
    episodes_.reserve(64);
}

bool ClockLagTracker::add(int64_t entryNs, int64_t position, bool continuous, bool late) {
    if (periodNs_ <= 0) return false;
    if (!continuous || !started_) {
        // Nothing is judged across a break of the positions: the lags count from here.
        started_ = true;
        originEntryNs_ = lastEntryNs_ = entryNs;
        originPosition_ = position;
        clockLag_ = 0;
        behind_ = inEpisode_ = false;
        return false;
    }
    const double lag = static_cast<double>(entryNs - originEntryNs_) -
                       static_cast<double>(position - originPosition_) * nsPerSample_;
    clockLag_ = std::min(lag, clockLag_ + allowedDrift * static_cast<double>(entryNs - lastEntryNs_));
    lastEntryNs_ = entryNs;
    const double behindNs = lag - clockLag_;
    bool began = false;
    if (!behind_ && behindNs > periodNs_) {
        behind_ = true;
        // A late interval that brought it behind is the late switch's finding.
        inEpisode_ = !late;
        if (inEpisode_) {
            began = true;
            ++count_;
            if (episodes_.size() < maxListed) {
                const int64_t behind = std::llround(behindNs);
                episodes_.push_back({entryNs - behind, entryNs, behind});
            }
        }
    } else if (behind_ && behindNs <= 0.5 * periodNs_) {
        behind_ = inEpisode_ = false;
    } else if (late) {
        // A late switch within an episode is its own finding: the episode ends before it.
        inEpisode_ = false;
    }
    if (inEpisode_) {
        const int64_t behind = std::llround(behindNs);
        worstNs_ = std::max(worstNs_, behind);
        if (count_ <= maxListed) episodes_.back().worstNs = std::max(episodes_.back().worstNs, behind);
    }
    return began;
}

} // namespace measure
