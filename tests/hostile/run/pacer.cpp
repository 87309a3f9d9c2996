#include "tests/hostile/run/pacer.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace hostile {

namespace {

thread_local int64_t deliveredPosition = 0;

} // namespace

Pacer::Pacer(const Settings& settings, Buffers& buffers, ASIOCallbacks callbacks, bool timeInfo)
    : f_settings(settings), f_buffers(buffers), f_callbacks(callbacks), f_timeInfo(timeInfo),
      f_periodNs(double(settings.buffer) * 1e9 / settings.rate) {}

Pacer::~Pacer() {
    f_stopping = true;
    f_lastSlot = -1;
    join();
}

int64_t Pacer::currentPosition() {
    return deliveredPosition;
}

void Pacer::start() {
    join();
    f_stopping = false;
    f_lastSlot = INT64_MAX;
    f_delivered = 0;
    f_startNs = plat::steadyNanoseconds();
    if (f_settings.silent) return;
    if (f_settings.creepPermille > 0) {
        f_threads.emplace_back([this] { runCreeping(); });
        return;
    }
    for (int32_t k = 0; k < f_settings.threads; ++k)
        f_threads.emplace_back([this, k] { run(k); });
}

void Pacer::stop() {
    if (f_settings.switchesAfterStop > 0) {
        f_lastSlot = f_delivered.load() + f_settings.switchesAfterStop;
        f_stopping = true;
        return;
    }
    f_lastSlot = -1;
    f_stopping = true;
    join();
}

void Pacer::join() {
    for (std::thread& thread : f_threads)
        if (thread.joinable()) thread.join();
    f_threads.clear();
}

int64_t Pacer::dueNs(int64_t n) const {
    if (f_settings.tickUs > 0) {
        const int64_t tickNs = int64_t{f_settings.tickUs} * 1000;
        const int64_t since = static_cast<int64_t>(double(n) * f_periodNs);
        return f_startNs + (since + tickNs - 1) / tickNs * tickNs;
    }
    if (f_settings.paceFrom < 0 || n < f_settings.paceFrom || f_settings.paceRate <= 0)
        return f_startNs + static_cast<int64_t>(double(n) * f_periodNs);
    const double before = double(f_settings.paceFrom) * f_periodNs;
    const double after =
        double(n - f_settings.paceFrom) * double(f_settings.buffer) * 1e9 / f_settings.paceRate;
    return f_startNs + static_cast<int64_t>(before + after);
}

bool Pacer::goesOn(int64_t n) const {
    return !f_stopping.load() || n <= f_lastSlot.load();
}

void Pacer::run(int32_t thread) {
    plat::raiseThreadToAudioPriority();
    plat::PreciseSleeper sleeper;
    for (int64_t n = thread + 1; goesOn(n); n += f_settings.threads) {
        sleeper.sleepUntilNs(dueNs(n));
        if (!goesOn(n)) break;
        deliver(n);
    }
}

// A timer of its own: each switch a little later than a period after the one before,
// until the driver notices it is catchUpBuffers behind its clock and delivers what is due
// at once.
void Pacer::runCreeping() {
    plat::raiseThreadToAudioPriority();
    plat::PreciseSleeper sleeper;
    const double stepNs = f_periodNs * (1.0 + f_settings.creepPermille / 1000.0);
    int64_t nextNs = f_startNs + static_cast<int64_t>(f_periodNs);
    for (int64_t n = 1; goesOn(n);) {
        sleeper.sleepUntilNs(nextNs);
        const int64_t now = plat::steadyNanoseconds();
        const int64_t due = static_cast<int64_t>(double(now - f_startNs) / f_periodNs);
        const int64_t last = due - n >= f_settings.catchUpBuffers ? due : n;
        for (; n <= last && goesOn(n); ++n)
            deliver(n);
        nextNs = now + static_cast<int64_t>(stepNs);
    }
}

void Pacer::deliver(int64_t n) {
    // Switch n (from 1) stands for the buffer at the n-th position from the first.
    const int32_t half = static_cast<int32_t>((n - 1) % 2);
    const int32_t other = 1 - half;
    // Input k returns what the host left in output k two switches before (in the same
    // half, which the host fills again now): a round trip of two buffers, as reported.
    // Every staleEvery-th block is the input block before it once more.
    const bool stale = f_settings.staleEvery > 0 && n % f_settings.staleEvery == 0;
    const size_t looped = std::min(f_buffers.inputs[half].size(), f_buffers.outputs[half].size());
    for (size_t c = 0; c < f_buffers.inputs[half].size(); ++c) {
        std::vector<float>& into = f_buffers.inputs[half][c];
        if (stale)
            into = f_buffers.inputs[other][c];
        else if (c < looped)
            into = f_buffers.outputs[half][c];
    }
    uint64_t position = static_cast<uint64_t>(f_settings.firstPosition) +
                        static_cast<uint64_t>(n - 1) * static_cast<uint64_t>(f_settings.buffer);
    if (f_settings.positionBits < 64) position &= (uint64_t{1} << f_settings.positionBits) - 1;
    deliveredPosition = static_cast<int64_t>(position);
    f_delivered = n;
    if (f_timeInfo) {
        ASIOTime time;
        std::memset(&time, 0, sizeof time);
        time.timeInfo.speed = 1.0;
        time.timeInfo.sampleRate = f_settings.rate;
        time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
        const ASIOSamples words{static_cast<uint32_t>(position >> 32), static_cast<uint32_t>(position)};
        std::memcpy(&time.timeInfo.samplePosition, &words, sizeof words);
        const int64_t now = plat::steadyNanoseconds();
        const ASIOSamples stamp{static_cast<uint32_t>(uint64_t(now) >> 32), static_cast<uint32_t>(now)};
        std::memcpy(&time.timeInfo.systemTime, &stamp, sizeof stamp);
        f_callbacks.bufferSwitchTimeInfo(&time, half, 1);
    } else {
        f_callbacks.bufferSwitch(half, 1);
    }
}

} // namespace hostile
