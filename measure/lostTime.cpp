#include "measure/lostTime.h"

#include <algorithm>
#include <cmath>

namespace measure {

LostTimeTracker::LostTimeTracker(double periodNs, int64_t bufferSize)
    : periodNs_(periodNs > 0 && std::isfinite(periodNs) && bufferSize > 0 ? periodNs : 0.0),
      nsPerSample_(periodNs_ > 0 ? periodNs_ / static_cast<double>(bufferSize) : 0.0) {
    pauses_.reserve(64);
}

double LostTimeTracker::lagOf(int64_t entryNs, int64_t position) const {
    return static_cast<double>(entryNs - originEntryNs_) -
           static_cast<double>(position - originPosition_) * nsPerSample_;
}

void LostTimeTracker::noteLagBefore(int64_t entryNs, double lag) {
    const int64_t bucket = entryNs / (lookBackNs / 2);
    if (!haveCurrent_ || bucket != bucket_) {
        havePrevious_ = haveCurrent_ && bucket == bucket_ + 1;
        previousMin_ = currentMin_;
        haveCurrent_ = true;
        bucket_ = bucket;
        currentMin_ = lag;
        return;
    }
    currentMin_ = std::min(currentMin_, lag);
}

LostTimeTracker::Outcome LostTimeTracker::judgePending() const {
    // The driver caught up when the lag came back within half of what its late switches
    // were late by; what stayed is lost.
    const double lost = lagAfter_ - lagBefore_;
    return lost >= 0.5 * latenessNs_ ? Outcome::lost : Outcome::keptPace;
}

void LostTimeTracker::settle(Outcome outcome) {
    pending_ = false;
    if (outcome != Outcome::lost) return;
    candidate_.lostNs = std::llround(lagAfter_ - lagBefore_);
    ++count_;
    totalNs_ += candidate_.lostNs;
    if (pauses_.size() < maxListed) pauses_.push_back(candidate_);
}

LostTimeTracker::Step LostTimeTracker::add(int64_t entryNs, int64_t position, bool continuous, bool late) {
    Step step;
    if (periodNs_ <= 0) return step;
    if (!continuous || !stretchStarted_) {
        // Nothing is judged across a break: a pending pause stays untold, and the lags
        // count from here.
        if (pending_) {
            pending_ = false;
            step.settled = Outcome::unsettled;
        }
        stretchStarted_ = true;
        originEntryNs_ = entryNs;
        originPosition_ = position;
        haveCurrent_ = havePrevious_ = false;
        noteLagBefore(entryNs, 0.0);
        lastEntryNs_ = entryNs;
        return step;
    }
    const double lag = lagOf(entryNs, position);
    if (late) {
        step.candidate = true;
        if (!pending_) {
            pending_ = true;
            lagBefore_ = havePrevious_ ? std::min(previousMin_, currentMin_) : currentMin_;
            latenessNs_ = 0;
            candidate_ = LostTime{lastEntryNs_, entryNs, entryNs, 0};
            // The lag before the next pause counts from this one.
            haveCurrent_ = havePrevious_ = false;
        }
        latenessNs_ += static_cast<double>(entryNs - lastEntryNs_) - periodNs_;
        candidate_.lastNs = entryNs;
        lagAfter_ = lag;
        switchesAfter_ = 0;
        lastFallNs_ = entryNs;
    } else if (pending_) {
        if (lag < lagAfter_ - 0.25 * periodNs_) lastFallNs_ = entryNs;
        lagAfter_ = std::min(lagAfter_, lag);
        ++switchesAfter_;
    }
    noteLagBefore(entryNs, lag);
    lastEntryNs_ = entryNs;
    const bool told = switchesAfter_ >= windowSwitches && entryNs - candidate_.lastNs >= windowNs &&
                      entryNs - lastFallNs_ >= steadyNs;
    if (pending_ && (told || entryNs - candidate_.atNs >= longestPauseNs)) {
        step.settled = judgePending();
        settle(step.settled);
    }
    return step;
}

} // namespace measure
