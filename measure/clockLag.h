// Switches that fell behind the driver's own clock with no late interval: a driver that
// paces its callbacks by a timer of its own slips a little later at every switch, and
// once far enough behind delivers what is due in a burst. No interval is ever long and
// the positions stay continuous, yet at the worst switch the device had played the
// buffer long before the host could fill it.
//
// Every switch has a lag: its entry time less the time its position stands for at the
// reported rate, from the first switch of the steady stretch it is in. The driver's
// clock is the least lag so far (callbacks come late, never early), allowed to rise by
// what the rate check forgives, so a clock within it never falls behind by itself. A
// switch more than a period behind that begins an episode, unless the interval to it was
// late (then the late switch is the finding); the episode lasts until the switches are
// back within half a period, or a late switch comes (its own finding).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace measure {

// One episode: when its first switch was due and came, and the most it fell behind,
// nanoseconds.
struct BehindClock {
    int64_t dueNs = 0;
    int64_t atNs = 0;
    int64_t worstNs = 0;
};

class ClockLagTracker {
  public:
    // periodNs: the buffer period at the reported rate (0 or less: nothing is tracked).
    ClockLagTracker(double periodNs, int64_t bufferSize);

    // The next switch; `continuous` and `late` as for LostTimeTracker. Returns whether it
    // began an episode.
    bool add(int64_t entryNs, int64_t position, bool continuous, bool late);
    // The lags count afresh from the next switch (the stream lost time for good).
    void restart() { started_ = false; }

    // The episodes, the first maxListed of them, and how many there were.
    const std::vector<BehindClock>& episodes() const { return episodes_; }
    uint64_t count() const { return count_; }
    int64_t worstNs() const { return worstNs_; } // of every episode

    static constexpr size_t maxListed = 4096;
    // How fast the driver's clock may fall behind the reported rate by itself: what the
    // verdict forgives a clock (1000 ppm).
    static constexpr double allowedDrift = 1e-3;

  private:
    double periodNs_;
    double nsPerSample_;
    bool started_ = false;
    int64_t originEntryNs_ = 0, originPosition_ = 0, lastEntryNs_ = 0;
    double clockLag_ = 0; // the driver's clock, as a lag
    bool behind_ = false;
    bool inEpisode_ = false; // behind since a switch that began an episode
    std::vector<BehindClock> episodes_;
    uint64_t count_ = 0;
    int64_t worstNs_ = 0;
};

} // namespace measure
