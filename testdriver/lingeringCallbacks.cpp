#include "testdriver/lingeringCallbacks.h"

#ifndef _WIN32

#include <atomic>
#include <chrono>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace refdrv {

namespace {

using Clock = std::chrono::steady_clock;

void callFor(const LingeringCalls& calls) {
    const Clock::time_point begin = Clock::now();
    const Clock::time_point end = begin + std::chrono::milliseconds(calls.durationMs);
    Clock::time_point next = begin;
    for (uint32_t k = 0;; ++k) {
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
        if (Clock::now() >= end) return;
        const int32_t half = static_cast<int32_t>(k & 1);
        if (calls.useTimeInfo && calls.callbacks.bufferSwitchTimeInfo) {
            ASIOTime time{};
            time.timeInfo.speed = 1.0;
            time.timeInfo.sampleRate = calls.sampleRate;
            time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
            const uint64_t nanos = static_cast<uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                    .count());
            const ASIOSamples stamp{static_cast<uint32_t>(nanos >> 32), static_cast<uint32_t>(nanos)};
            std::memcpy(&time.timeInfo.systemTime, &stamp, sizeof stamp);
            const uint64_t position = uint64_t{k} * static_cast<uint64_t>(calls.frames);
            const ASIOSamples words{static_cast<uint32_t>(position >> 32), static_cast<uint32_t>(position)};
            std::memcpy(&time.timeInfo.samplePosition, &words, sizeof words);
            calls.callbacks.bufferSwitchTimeInfo(&time, half, 1);
        } else if (calls.callbacks.bufferSwitch) {
            calls.callbacks.bufferSwitch(half, 1);
        }
        if (k % 10 == 9 && calls.callbacks.asioMessage)
            calls.callbacks.asioMessage(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr);
    }
}

// The module's lingering threads. Destroyed when the module is unloaded or the process
// exits, which waits for every thread still calling.
class LingeringThreads {
  public:
    ~LingeringThreads() {
        std::lock_guard lock(mutex_);
        for (Entry& entry : entries_)
            entry.thread.join();
    }

    void start(const LingeringCalls& calls) {
        std::lock_guard lock(mutex_);
        joinFinished();
        auto finished = std::make_shared<std::atomic<bool>>(false);
        entries_.push_back({std::thread(), finished});
        try {
            entries_.back().thread = std::thread([calls, finished] {
                callFor(calls);
                finished->store(true, std::memory_order_release);
            });
        } catch (const std::system_error&) {
            entries_.pop_back();
        }
    }

  private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    void joinFinished() {
        for (auto it = entries_.begin(); it != entries_.end();) {
            if (!it->finished->load(std::memory_order_acquire)) {
                ++it;
                continue;
            }
            it->thread.join();
            it = entries_.erase(it);
        }
    }

    std::mutex mutex_;
    std::list<Entry> entries_;
};

LingeringThreads lingeringThreads;

} // namespace

void startLingeringCalls(const LingeringCalls& calls) {
    if (calls.durationMs <= 0) return;
    lingeringThreads.start(calls);
}

} // namespace refdrv

#else

namespace refdrv {

void startLingeringCalls(const LingeringCalls&) {}

} // namespace refdrv

#endif
