// Time a driver's stream lost without a gap in its positions: the callbacks paused, then
// went on with positions one buffer further, as a driver does whose positions count the
// periods it processed when cycles were skipped. Its positions stay continuous, but they
// fall behind the clock for good, which a rate fit through the step would read as a
// wrong clock.
//
// Every switch has a lag: its entry time less the time its position stands for at the
// reported rate, from the first switch of the steady stretch it is in. A late switch (an
// interval over 1.5 periods) one buffer after the previous one begins a pause, and
// further late switches before it is told belong to the same pause. When the driver only
// came late and caught up, the switches after the pause come back to the lag they had
// before it; when it lost the time, their lag stays up by what was lost. The lag before
// is the least of the switches in the 200 ms before the pause (since the previous pause
// at most), the lag after the least of those after the pause's last late switch:
// callbacks come late, never early, so the least lag is the driver's own clock. A pause
// is told once 100 ms and four switches followed its last late switch and the lag has
// stopped falling for 50 ms (a burst of switches catching up is over); a break of the
// positions first leaves it untold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace measure {

// One pause that lost time: from the switch before it to its first and its last late
// switch, and the time lost, nanoseconds.
struct LostTime {
    int64_t fromNs = 0;
    int64_t atNs = 0;
    int64_t lastNs = 0;
    int64_t lostNs = 0;
};

class LostTimeTracker {
  public:
    // What became of a candidate.
    enum class Outcome {
        none,     // nothing was pending, or it is still pending
        lost,     // the lag stayed up: the time was lost
        keptPace, // the lag came back: the driver caught up
        unsettled // the positions broke before it could be told
    };
    struct Step {
        Outcome settled = Outcome::none; // a pause this switch told
        bool candidate = false;          // this switch is a late one of a pause
    };

    // periodNs: the buffer period at the reported rate (0 or less: nothing is tracked).
    LostTimeTracker(double periodNs, int64_t bufferSize);

    // The next switch: `continuous` when it is exactly one buffer after the previous one
    // (both with positions, nothing lost by the host in between), `late` when the
    // interval to it was late.
    Step add(int64_t entryNs, int64_t position, bool continuous, bool late);

    // A candidate is still pending: the records ended before it could be told (its
    // switches after it are then judged as missing, not as lost time).
    bool pending() const { return pending_; }

    // The pauses found, the first maxListed of them; how many, and all the time they lost.
    const std::vector<LostTime>& pauses() const { return pauses_; }
    uint64_t count() const { return count_; }
    int64_t totalLostNs() const { return totalNs_; }

    static constexpr size_t maxListed = 4096;
    static constexpr int64_t windowNs = 100'000'000;         // a pause is told after this…
    static constexpr uint64_t windowSwitches = 4;            // …and this many switches after it…
    static constexpr int64_t steadyNs = 50'000'000;          // …with a lag that stopped falling for this
    static constexpr int64_t longestPauseNs = 5'000'000'000; // told then, whatever the lag does
    static constexpr int64_t lookBackNs = 200'000'000;       // the lag before: at most this far back

  private:
    double lagOf(int64_t entryNs, int64_t position) const;
    // The candidate's outcome from what followed it so far.
    Outcome judgePending() const;
    void settle(Outcome outcome);
    void noteLagBefore(int64_t entryNs, double lag);

    double periodNs_;
    double nsPerSample_;
    // The steady stretch the lags count from.
    bool stretchStarted_ = false;
    int64_t originEntryNs_ = 0;
    int64_t originPosition_ = 0;
    // The least lag in the current and the previous 100 ms since the last candidate.
    int64_t bucket_ = 0;
    bool haveCurrent_ = false, havePrevious_ = false;
    double currentMin_ = 0, previousMin_ = 0;

    bool pending_ = false;
    LostTime candidate_;
    double lagBefore_ = 0, lagAfter_ = 0, latenessNs_ = 0;
    uint64_t switchesAfter_ = 0;
    int64_t lastFallNs_ = 0; // when the lag after last fell by a quarter of a period
    int64_t lastEntryNs_ = 0;

    std::vector<LostTime> pauses_;
    uint64_t count_ = 0;
    int64_t totalNs_ = 0;
};

} // namespace measure
