// A thread that runs the steps a test hands it, one at a time, so that lock operations of
// several threads can be interleaved in a fixed order.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "core/telTypes.h"
#include "platform/platform.h"

class TestThread {
  public:
    using Step = std::function<telBool()>;

    TestThread() : worker_([this] { loop(); }) {
        id_ = uint32_t(run([] { return telBool(plat::currentThreadId()); }));
    }
    ~TestThread() {
        start(nullptr);
        worker_.join();
    }

    uint32_t id() const { return id_; }

    // Hands `step` to the thread without waiting for it; an empty step ends the thread.
    void start(Step step) {
        std::lock_guard<std::mutex> lock(mutex_);
        step_ = std::move(step);
        pending_ = true;
        changed_.notify_all();
    }
    bool finished() {
        std::lock_guard<std::mutex> lock(mutex_);
        return !pending_;
    }
    telBool wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !pending_; });
        return result_;
    }
    telBool run(Step step) {
        start(std::move(step));
        return wait();
    }

  private:
    void loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return pending_; });
            if (step_ == nullptr) return;
            lock.unlock();
            const telBool result = step_();
            lock.lock();
            result_ = result;
            pending_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    Step step_;
    bool pending_ = false;
    telBool result_ = telFalse;
    uint32_t id_ = 0;
    std::thread worker_;
};
