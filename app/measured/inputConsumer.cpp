#include "app/measured/inputConsumer.h"

#include <algorithm>
#include <chrono>
#include <future>

#include "measure/sampleDecode.h"

namespace {

// How long the thread sleeps when the ring is empty. The ring holds seconds of audio,
// so a few milliseconds cost nothing and keep the thread off the processor.
constexpr auto idleSleep = std::chrono::milliseconds(2);

} // namespace


// A jump of the positions by more than this many seconds of samples is a re-base.
constexpr double jumpLimitSeconds = 4.0;

inputConsumer::inputConsumer(inputTap& tap, std::vector<size_t> recordSlots,
                             std::unique_ptr<measure::WavWriter> writer, const measure::WavPlan& plan,
                             std::optional<size_t> latencySlot, const std::optional<measure::LoopbackSignal>& signal,
                             double sampleRate)
    : f_tap(tap), f_recordSlots(std::move(recordSlots)), f_writer(std::move(writer)), f_plan(plan),
      f_latencySlot(latencySlot),
      f_jumpLimit(static_cast<int64_t>(std::clamp(sampleRate, 1000.0, 1e7) * jumpLimitSeconds)) {
    if (f_latencySlot && signal) f_analyser = std::make_unique<measure::LatencyAnalyser>(*signal);
    if (f_writer) {
        f_frames.resize(static_cast<size_t>(std::max(tap.frames(), 0)) * f_plan.frameBytes());
        f_recording.written = true;
    }
    f_samples.resize(static_cast<size_t>(std::max(tap.frames(), 0)));
}

inputConsumer::~inputConsumer() { finish(); }

void inputConsumer::start() {
    std::promise<void> clockMade;
    std::future<void> made = clockMade.get_future();
    f_thread = std::thread([this, &clockMade] {
        f_cpuClock = std::make_unique<plat::ThreadCpuClock>();
        clockMade.set_value();
        run();
    });
    made.wait();
}

void inputConsumer::finish() {
    if (f_thread.joinable()) {
        f_stopping.store(true, std::memory_order_release);
        f_thread.join();
    }
    // Whatever is still in the ring (all of it, when the thread never ran).
    tapBlockHeader header{};
    while (f_tap.peek(header)) {
        take(header);
        f_tap.release();
    }
    if (f_writer && f_writer->isOpen()) {
        // Blocks dropped at the very end still took their place in the driver's positions.
        const uint64_t trailing = f_tap.lostAtEnd();
        if (trailing > 0 && f_started && !f_writer->full()) {
            f_writer->writeSilence(trailing);
            f_recording.lostFrames += trailing;
        }
        f_recording.full = f_writer->full();
        const bool closed = f_writer->close();
        f_recording.frames = f_writer->framesWritten();
        f_recording.framesNotWritten = f_writer->framesNotWritten();
        f_recording.rf64 = f_writer->rf64();
        // A recording stopped at its frame limit is complete; a write error is not.
        if (!closed) {
            f_recording.written = false;
            f_recording.error = f_writer->error();
        }
    }
}

void inputConsumer::analyseChannelMap(const measure::ChannelSignals& signals,
                                      std::vector<int> expectedOutput) {
    const size_t inputs = f_tap.types().size();
    f_map = std::make_unique<measure::ChannelMapAnalyser>(signals, static_cast<int>(inputs),
                                                          std::move(expectedOutput));
    f_inputs.assign(inputs, std::vector<float>(static_cast<size_t>(std::max(f_tap.frames(), 0))));
    f_inputPointers.clear();
    for (const std::vector<float>& input : f_inputs)
        f_inputPointers.push_back(input.data());
}

std::optional<measure::ChannelMapResult> inputConsumer::channelMap() {
    if (!f_map) return std::nullopt;
    return f_map->result();
}

measure::LatencyResult inputConsumer::latency() {
    return f_analyser ? f_analyser->result() : measure::LatencyResult{};
}

void inputConsumer::run() {
    for (;;) {
        const bool lastRound = f_stopping.load(std::memory_order_acquire);
        tapBlockHeader header{};
        bool took = false;
        while (f_tap.peek(header)) {
            take(header);
            f_tap.release();
            took = true;
        }
        if (lastRound) return;
        if (!took) std::this_thread::sleep_for(idleSleep);
    }
}

void inputConsumer::take(const tapBlockHeader& header) {
    // Without a position from the driver the block follows the previous one.
    const int64_t lost = static_cast<int64_t>(header.lostBefore);
    const int64_t position = header.positionValid ? header.position : f_nextPosition + lost;
    const int64_t step = position - (f_nextPosition + lost);
    const bool rebased = f_started && (step > f_jumpLimit || step < -f_jumpLimit);
    if (f_writer) record(header, position, rebased);
    if (f_analyser || f_map) analyse(header, rebased);
    if (!f_started || rebased) {
        f_started = true;
        f_nextPosition = position;
    }
    f_nextPosition = std::max(f_nextPosition, position + header.frames);
}

void inputConsumer::record(const tapBlockHeader& header, int64_t position, bool rebased) {
    if (!f_started) f_nextPosition = position;
    int64_t skip = 0;
    if (rebased) {
        // The driver re-based its positions: what the ring lost is kept as silence, the
        // jump itself is not, and the recording goes on in arrival order.
        ++f_recording.rebases;
        f_recording.lostFrames += header.lostBefore;
        f_writer->writeSilence(header.lostBefore);
    } else if (position > f_nextPosition) {
        // Silence where nothing came: first what the ring had to drop, then what the
        // driver skipped.
        const uint64_t missing = static_cast<uint64_t>(position - f_nextPosition);
        const uint64_t lost = std::min<uint64_t>(header.lostBefore, missing);
        f_recording.lostFrames += lost;
        f_recording.driverGapFrames += missing - lost;
        f_writer->writeSilence(missing);
    } else if (position < f_nextPosition) {
        // A repeated or earlier block: only what lies beyond the frames already written.
        skip = std::min<int64_t>(f_nextPosition - position, header.frames);
        f_recording.overlapFrames += static_cast<uint64_t>(skip);
    }
    if (skip >= header.frames || f_writer->full()) return;
    for (size_t slot = 0; slot < f_recordSlots.size(); ++slot)
        measure::convertToWavFrames(f_plan, f_tap.types()[f_recordSlots[slot]], f_tap.channelData(f_recordSlots[slot]),
                                    static_cast<size_t>(header.frames), f_frames.data(), static_cast<uint16_t>(slot));
    const size_t frameBytes = f_plan.frameBytes();
    f_writer->writeFrames(f_frames.data() + static_cast<size_t>(skip) * frameBytes,
                          static_cast<uint64_t>(header.frames - skip));
}

void inputConsumer::analyse(const tapBlockHeader& header, bool rebased) {
    const int64_t lostFrom = header.sinceOrigin - static_cast<int64_t>(header.lostBefore);
    if (f_map) {
        if (rebased) f_map->rebase(lostFrom);
        if (header.lostBefore > 0) f_map->addLoss(lostFrom, static_cast<size_t>(header.lostBefore));
        const size_t frames = std::min(static_cast<size_t>(std::max(header.frames, 0)),
                                       f_inputs.empty() ? size_t{0} : f_inputs[0].size());
        for (size_t slot = 0; slot < f_inputs.size(); ++slot)
            if (!measure::decodeSamples(f_tap.types()[slot], f_tap.channelData(slot), frames,
                                        f_inputs[slot].data()))
                std::fill(f_inputs[slot].begin(), f_inputs[slot].end(), 0.0f);
        f_map->addInput(header.sinceOrigin, f_inputPointers.data(), frames);
        return;
    }
    if (rebased) f_analyser->rebase(lostFrom);
    // What the ring lost lies just before this block: unknown, not silence.
    if (header.lostBefore > 0) f_analyser->addLoss(lostFrom, static_cast<size_t>(header.lostBefore));
    const size_t slot = *f_latencySlot;
    if (!measure::decodeSamples(f_tap.types()[slot], f_tap.channelData(slot), f_samples.size(), f_samples.data()))
        return;
    f_analyser->addInput(header.sinceOrigin, f_samples.data(), f_samples.size());
}
