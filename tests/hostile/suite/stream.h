// The hostile driver's stream: a thread of its own that calls the host's buffer switch
// once a period, on an absolute schedule, from start to stop; or single switches on the
// caller's thread for the tricks that call back from inside a call.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "asio/asioTypes.h"

namespace hostile {

struct StreamSetup {
    ASIOCallbacks callbacks{};
    bool timeInfo = false;
    int32_t frames = 0;
    double clockRate = 48000;      // the rate the switches are paced at
    double reportedRate = 48000;   // the rate the time records carry
    bool systemTimeMicros = false; // system times in microseconds
    bool rateChangeStorm = false;  // sampleRateDidChange before every switch
};

class Stream {
  public:
    ~Stream() { stop(); }
    // Switch 0 comes one period after the call; positions restart at 0.
    bool start(const StreamSetup& setup);
    // Ends the thread after the switch in progress and waits for it.
    void stop();
    bool running() const { return thread_.joinable(); }
    // The position and system time of the last switch (0 and 0 before the first).
    void position(int64_t& samples, int64_t& systemTime) const;
    // Switch `n` on the calling thread.
    void deliver(const StreamSetup& setup, int64_t n);

  private:
    void run();

    StreamSetup setup_;
    std::thread thread_;
    std::atomic<bool> ending_{false};
    std::atomic<int64_t> position_{0}, systemTime_{0};
    ASIOTime record_{};
};

} // namespace hostile
