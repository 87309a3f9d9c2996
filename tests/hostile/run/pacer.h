// The hostile run driver's stream: one or more threads that call the host back, paced
// by the driver's clock (or, with creep, by a timer of its own that falls behind and
// then catches up), each switch with the position and half it stands for. What the
// host left in the outputs comes back in the inputs one buffer later.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "asio/asioTypes.h"
#include "tests/hostile/run/settings.h"

namespace hostile {

// The buffers the host was handed: per channel two halves of `frames` float samples.
struct Buffers {
    int32_t frames = 0;
    std::vector<std::vector<float>> inputs[2];  // [half][input]
    std::vector<std::vector<float>> outputs[2]; // [half][output]
};

class Pacer {
  public:
    Pacer(const Settings& settings, Buffers& buffers, ASIOCallbacks callbacks, bool timeInfo);
    ~Pacer(); // ends the threads

    void start();
    // Ends the stream; with switchesAfterStop the threads deliver that many more switches
    // and end by themselves (join() collects them).
    void stop();
    void join();

    // The position of the switch the calling thread delivers (or delivered last).
    static int64_t currentPosition();

  private:
    void run(int32_t thread);
    void runCreeping();
    void deliver(int64_t n);
    int64_t dueNs(int64_t n) const;
    bool goesOn(int64_t n) const;

    const Settings& f_settings;
    Buffers& f_buffers;
    ASIOCallbacks f_callbacks;
    bool f_timeInfo;
    int64_t f_startNs = 0;
    double f_periodNs = 0;
    std::atomic<bool> f_stopping{false};
    std::atomic<int64_t> f_lastSlot{INT64_MAX}; // the last switch delivered after stop
    std::atomic<int64_t> f_delivered{0};
    std::vector<std::thread> f_threads;
};

} // namespace hostile
