#include "testdriver/streamEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/platform.h"
#include "testdriver/callFaults.h"
#include "testdriver/captureFormat.h"
#include "testdriver/inputSignal.h"
#include "testdriver/pseudoRandom.h"

namespace refdrv {

namespace {

using Clock = std::chrono::steady_clock;

// Longest single sleep, so that stop is seen soon even at a very low rate.
constexpr auto sleepStep = std::chrono::milliseconds(10);

int64_t nanosOf(Clock::time_point point) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(point.time_since_epoch()).count();
}

// A 64-bit quantity as the driver interface hands it over: high word first.
ASIOSamples splitWords(int64_t value) {
    const uint64_t bits = static_cast<uint64_t>(value);
    return ASIOSamples{static_cast<uint32_t>(bits >> 32), static_cast<uint32_t>(bits)};
}

void raiseToAtLeast(std::atomic<uint32_t>& maximum, uint32_t value) {
    uint32_t seen = maximum.load(std::memory_order_relaxed);
    while (value > seen && !maximum.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

} // namespace

bool StreamEngine::start(StreamSetup setup) {
    stop();
    setup_ = std::move(setup);
    stopRequested_.store(false);
    slotsLeft_.store(-1);
    position_.store(0);
    systemTime_.store(nanosOf(Clock::now()));
    switches_.store(0);
    lateSwitches_.store(0);
    maxCallbackMicros_.store(0);
    outputReadyCalls_.store(0);
    counts_ = StreamCounts{};
    try {
        thread_ = std::thread(&StreamEngine::run, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void StreamEngine::stop() {
    if (!thread_.joinable()) return;
    stopRequested_.store(true, std::memory_order_release);
    thread_.join();
    streamThread_.store(std::thread::id{});
}

void StreamEngine::windDown(int32_t switches) {
    slotsLeft_.store(switches > 0 ? switches : 0);
}

StreamStats StreamEngine::stats() const {
    StreamStats stats;
    stats.switches = switches_.load();
    stats.lateSwitches = lateSwitches_.load();
    stats.maxCallbackMicros = maxCallbackMicros_.load();
    stats.outputReadyCalls = outputReadyCalls_.load();
    stats.timeInfoCallbacks = setup_.useTimeInfo;
    return stats;
}

bool StreamEngine::waitUntil(Clock::time_point until) {
    for (;;) {
        if (stopRequested_.load(std::memory_order_acquire)) return false;
        const Clock::time_point now = Clock::now();
        if (now >= until) return true;
        std::this_thread::sleep_until(std::min(until, now + sleepStep));
    }
}

bool StreamEngine::hold() {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(std::max(setup_.holdMs, 0));
    if (!setup_.holdBusy) return waitUntil(until);
    // A driver busy on its own processor at its own priority: nothing else of that
    // priority runs there meanwhile.
    while (Clock::now() < until)
        if (stopRequested_.load(std::memory_order_acquire)) return false;
    return true;
}

// Slot n is due one (paced) buffer period after slot n - 1, on an absolute schedule, so
// sleeping late once, or a jittered delivery, does not shift every later slot.
void StreamEngine::run() {
    streamThread_.store(std::this_thread::get_id());
    // Like a sound card's driver thread: its switches must not wait behind other work.
    plat::raiseThreadToAudioPriority();
    // A driver that busy-waits keeps its thread on one processor, as drivers that pin
    // their thread do: what it holds up there stays held up.
    if (setup_.holdBusy && !setup_.holdAt.empty()) plat::pinThreadToProcessor(0);
    const int32_t frames = setup_.buffers->frames();
    PseudoRandom jitter(setup_.seed, jitterStream);
    Clock::time_point deadline = Clock::now();
    Clock::time_point busyUntil = deadline; // the end of the driver's own work (CallbackCostUs)
    for (uint32_t slot = 0;; ++slot) {
        double rate = setup_.sampleRate->load(std::memory_order_relaxed);
        if (!(rate > 0.0)) rate = 44100.0;
        const auto period = std::chrono::nanoseconds(std::llround(frames * 1e9 / (rate * setup_.paceFactor)));
        deadline += period;
        const auto lateBy = std::chrono::microseconds(
            setup_.jitterMicros > 0 ? jitter.upTo(static_cast<uint64_t>(setup_.jitterMicros)) : 0);
        Clock::time_point due = deadline + lateBy;
        if (setup_.callbackCostMicros > 0) {
            // The driver's own work after every switch, counted on the device's clock (not
            // slept), so what is lost follows from the cost and the buffer alone: a switch
            // whose work is still going on a whole buffer after it was due is lost, one
            // due earlier comes when the work is done.
            if (busyUntil >= deadline + period) {
                skipSlot(slot);
                continue;
            }
            due = std::max(due, busyUntil);
            busyUntil = due + std::chrono::microseconds(setup_.callbackCostMicros);
        }
        if (!waitUntil(due)) break;
        // A driver that dies in its own thread, in the middle of a run.
        if (static_cast<int64_t>(slot) == setup_.crashAt) crashNow();
        if (static_cast<int64_t>(slot) == setup_.stallAt) {
            // The device stops delivering: for a while, or for the rest of the run.
            const auto until = setup_.stallMs > 0 ? Clock::now() + std::chrono::milliseconds(setup_.stallMs)
                                                  : Clock::time_point::max();
            if (!waitUntil(until)) break;
            // A device whose positions count the periods it processed: the time of the
            // stall is lost, the schedule goes on from now.
            if (setup_.stallLosesTime) deadline = Clock::now();
        }
        if (std::find(setup_.holdAt.begin(), setup_.holdAt.end(), static_cast<int32_t>(slot)) !=
                setup_.holdAt.end() &&
            !hold())
            break;

        const int32_t left = slotsLeft_.load(std::memory_order_acquire);
        if (left == 0) break;
        runSlot(slot, rate);
        if (left > 0) slotsLeft_.store(left - 1, std::memory_order_release);

        // Behind after a short stall of the machine or the host: the next switches follow
        // at once until the schedule is caught up, as a sound card's clock does not wait,
        // so the positions keep pace with the time. Only a stall of over half a second
        // restarts the schedule from now instead of firing that long a burst.
        const Clock::time_point now = Clock::now();
        if (now - deadline > std::chrono::milliseconds(500)) deadline = now;
    }
}

void StreamEngine::skipSlot(uint32_t slot) {
    const SlotPlan plan = setup_.plan.slot(slot);
    ++counts_.slots;
    ++counts_.dropped;
    counts_.trailingDrop = true;
    publish(plan.position, Clock::now());
}

void StreamEngine::runSlot(uint32_t slot, double rate) {
    const SlotPlan plan = setup_.plan.slot(slot);
    ++counts_.slots;
    counts_.trailingDrop = plan.dropped;
    if (plan.dropped) {
        ++counts_.dropped;
        publish(plan.position, Clock::now());
        return;
    }

    // The previous switch once more: its half still holds its inputs.
    if (plan.repeatFirst) {
        const int32_t half = static_cast<int32_t>((slot - 1) & 1);
        fillOutputs(half);
        const Clock::time_point at = Clock::now();
        publish(plan.repeatPosition, at);
        deliver(half, plan.repeatPosition, rate, at);
        ++counts_.repeats;
        ++counts_.delivered;
    }

    fillInputs(plan.half, plan.position, plan.wireDropout);
    fillOutputs(plan.half);
    publish(plan.position, Clock::now());
    const ASIOCallbacks& host = setup_.callbacks;
    if (plan.sendsMessage && host.asioMessage) {
        host.asioMessage(plan.messageSelector, 0, nullptr, nullptr);
        ++counts_.messages;
    }
    if (plan.rateChange && host.sampleRateChanged) {
        host.sampleRateChanged(rate);
        ++counts_.rateChanges;
    }

    const Clock::time_point begin = Clock::now();
    systemTime_.store(nanosOf(begin), std::memory_order_release);
    deliver(plan.deliveredHalf, plan.position, rate, begin);
    ++counts_.delivered;
    if (plan.deliveredHalf != plan.half) ++counts_.badHalves;
    measure(Clock::now() - begin, setup_.buffers->frames() / rate);

    if (setup_.wire) setup_.wire->takeOutput(plan.half, plan.position);
    if (setup_.recorder) setup_.recorder->record(slot, plan.half, *setup_.buffers);
}

void StreamEngine::fillInputs(int32_t half, int64_t position, bool wireDropout) {
    const int32_t frames = setup_.buffers->frames();
    if (setup_.wire && wireDropout) ++counts_.dropouts;
    for (const ChannelBuffer& buffer : setup_.buffers->inputs()) {
        if (setup_.wire && setup_.wire->feeds(buffer)) {
            setup_.wire->fillInput(buffer, half, position, wireDropout);
        } else {
            fillInputSignal(buffer.halves[half], buffer.type, buffer.channel, position, frames);
        }
    }
}

void StreamEngine::fillOutputs(int32_t half) {
    for (const ChannelBuffer& buffer : setup_.buffers->outputs())
        std::memset(buffer.halves[half], capture::sentinelByte, buffer.bytes);
}

void StreamEngine::publish(int64_t position, Clock::time_point at) {
    systemTime_.store(nanosOf(at), std::memory_order_release);
    position_.store(position, std::memory_order_release);
}

void StreamEngine::deliver(int32_t half, int64_t position, double rate, Clock::time_point at) {
    const ASIOCallbacks& host = setup_.callbacks;
    if (setup_.useTimeInfo && host.bufferSwitchTimeInfo) {
        ASIOTime time{};
        time.timeInfo.speed = 1.0;
        const ASIOSamples systemTime = splitWords(nanosOf(at));
        const ASIOSamples samplePosition = splitWords(position);
        std::memcpy(&time.timeInfo.systemTime, &systemTime, sizeof systemTime);
        std::memcpy(&time.timeInfo.samplePosition, &samplePosition, sizeof samplePosition);
        time.timeInfo.sampleRate = setup_.timeInfoRate.value_or(rate);
        time.timeInfo.flags = setup_.timeInfoFlags;
        host.bufferSwitchTimeInfo(&time, half, 1);
    } else if (host.bufferSwitch) {
        host.bufferSwitch(half, 1);
    }
}

void StreamEngine::measure(Clock::duration elapsed, double periodSeconds) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    switches_.fetch_add(1, std::memory_order_relaxed);
    if (std::chrono::duration<double>(elapsed).count() > periodSeconds)
        lateSwitches_.fetch_add(1, std::memory_order_relaxed);
    raiseToAtLeast(maxCallbackMicros_, micros > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(micros));
}

} // namespace refdrv
