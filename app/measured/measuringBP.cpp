#include "app/measured/measuringBP.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "app/measured/sampleEncode.h"
#include "app/measured/steadyNanoseconds.h"

namespace {

// A 64-bit value a driver wrote into its own time record: two 32-bit words, high first.
int64_t fromDriverWords(int64_t field) {
    ASIOSamples words;
    std::memcpy(&words, &field, sizeof words);
    return static_cast<int64_t>((static_cast<uint64_t>(words.hi) << 32) | words.lo);
}

// Copies n bytes to two places, reading them once.
void copyToBoth(const uint8_t* source, uint8_t* first, uint8_t* second, size_t n) noexcept {
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint8_t piece[32];
        std::memcpy(piece, source + i, 32);
        std::memcpy(first + i, piece, 32);
        std::memcpy(second + i, piece, 32);
    }
    for (; i < n; ++i)
        first[i] = second[i] = source[i];
}

} // namespace

latencySignalOutput::latencySignalOutput(telAsioDriver& driver, int32_t outputChannel,
                                         measure::LoopbackSignal signal)
    : f_signals{std::move(signal), 1},
      f_signalOf(static_cast<size_t>(std::max(driver.outputChannels(), 0)), 0),
      f_values(static_cast<size_t>(std::max(driver.bufActualSize(), 0))) {
    const int32_t output = outputChannel - driver.inputChannels();
    if (output >= 0 && output < static_cast<int32_t>(f_signalOf.size()))
        f_signalOf[static_cast<size_t>(output)] = 1;
}

latencySignalOutput::latencySignalOutput(telAsioDriver& driver, measure::ChannelSignals signals)
    : f_signals(std::move(signals)), f_signalOf(static_cast<size_t>(std::max(driver.outputChannels(), 0)), 0),
      f_values(static_cast<size_t>(std::max(driver.bufActualSize(), 0))) {
    for (size_t output = 0; output < f_signalOf.size(); ++output)
        f_signalOf[output] =
            static_cast<int32_t>(output) < f_signals.outputs ? static_cast<int32_t>(output) + 1 : 0;
}

void latencySignalOutput::render(telAsioDriver& driver, int32_t half, int64_t q) noexcept {
    const int32_t first = driver.inputChannels();
    for (size_t output = 0; output < f_signalOf.size(); ++output) {
        const int32_t channel = first + static_cast<int32_t>(output);
        const pASIOBufferInfo buffer = driver.getBufferInfoByIndex(channel);
        const pASIOChannelInfo info = driver.getChannelInfoByIndex(channel);
        void* target = buffer != nullptr ? buffer->buffers[half] : nullptr;
        const int32_t bytes = driver.getBufferSizeInBytes(channel);
        if (target == nullptr || bytes <= 0) continue;
        const int32_t signal = f_signalOf[output];
        if (signal != 0 && q >= 0 && info != nullptr) {
            f_signals.render(signal, q, f_values.data(), f_values.size());
            if (encodeSamples(info->_type, f_values.data(), f_values.size(), target)) continue;
        }
        std::memset(target, 0, static_cast<size_t>(bytes));
    }
}

measuringBP::measuringBP(telAsioDriver* driver) : myBP(driver) {}

void measuringBP::beginRun() {
    f_probe = nullptr;
    f_tap = nullptr;
    f_latency = nullptr;
    f_pairs.clear();
    f_inputPaired.clear();
    f_nextPosition = 0;
    f_origin = 0;
    f_originSet = false;
    f_entry.store(0);
    f_stopped.store(false);
    f_overlaps.store(0);
    f_afterStop.store(0);
    f_overlapsCarried = 0;
    resetOutputReadyCalls();
}

bool measuringBP::admit() noexcept {
    if (f_stopped.load(std::memory_order_acquire)) {
        f_afterStop.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    // One word holds whether a switch is inside (bit 0) and how many were turned away
    // since the last one admitted (the rest), so that a switch turned away is always
    // carried by the next one admitted, however the threads interleave.
    uint64_t entry = f_entry.load(std::memory_order_relaxed);
    for (;;) {
        if ((entry & insideBit) != 0) {
            if (f_entry.compare_exchange_weak(entry, entry + turnedAwayStep, std::memory_order_relaxed)) {
                f_overlaps.fetch_add(1, std::memory_order_relaxed);
                return false;
            }
        } else if (f_entry.compare_exchange_weak(entry, insideBit, std::memory_order_acquire)) {
            // The switches turned away since the one admitted before lie between the two.
            f_overlapsCarried = static_cast<uint32_t>(std::min<uint64_t>(entry / turnedAwayStep, UINT32_MAX));
            return true;
        }
    }
}

void measuringBP::tapInputs(inputTap* tap) {
    f_tap = tap;
    f_pairs.clear();
    telAsioDriver* driver = drv();
    if (tap == nullptr || driver == nullptr || !tap->takesEveryInput()) return;
    // The pairs the loopback makes: input i to the next output after the previous one.
    const int32_t inputs = driver->inputChannels();
    const int32_t channels = std::min(inputs + driver->outputChannels(), telMaxChannels);
    f_inputPaired.assign(static_cast<size_t>(inputs), 0);
    int32_t output = inputs;
    for (int32_t input = 0; input < inputs && output < channels; ++input) {
        const pASIOChannelInfo in = driver->getChannelInfoByIndex(input);
        if (in == nullptr || in->isInput == 0) continue;
        while (output < channels && driver->getChannelInfoByIndex(output)->isInput != 0)
            ++output;
        if (output >= channels) break;
        f_pairs.push_back(
            {input, output,
             std::min(driver->getBufferSizeInBytes(input), driver->getBufferSizeInBytes(output))});
        f_inputPaired[static_cast<size_t>(input)] = 1;
        ++output;
    }
}

void measuringBP::loopAndRecord(telAsioDriver& driver, int32_t half, uint8_t* const* slots) noexcept {
    auto halfOf = [&driver, half](int32_t channel) -> uint8_t* {
        const pASIOBufferInfo info = driver.getBufferInfoByIndex(channel);
        return info != nullptr ? static_cast<uint8_t*>(info->buffers[half]) : nullptr;
    };
    if (!f_noLoop) {
        for (const loopPair& pair : f_pairs) {
            const uint8_t* source = halfOf(pair.input);
            uint8_t* target = halfOf(pair.output);
            f_outBufLooped[pair.output] = telFalse;
            if (pair.bytes < 1 || source == nullptr || target == nullptr) continue;
            if (slots != nullptr) {
                copyToBoth(source, target, slots[pair.input], static_cast<size_t>(pair.bytes));
                const int32_t rest = f_tap->slotBytes(static_cast<size_t>(pair.input)) - pair.bytes;
                if (rest > 0)
                    std::memcpy(slots[pair.input] + pair.bytes, source + pair.bytes,
                                static_cast<size_t>(rest));
            } else {
                std::memcpy(target, source, static_cast<size_t>(pair.bytes));
            }
            f_outBufLooped[pair.output] = telTrue;
        }
    }
    if (slots == nullptr) return;
    // The inputs no loopback copy read.
    for (size_t input = 0; input < f_inputPaired.size(); ++input) {
        if (!f_noLoop && f_inputPaired[input] != 0) continue;
        const uint8_t* source = halfOf(static_cast<int32_t>(input));
        const size_t bytes = static_cast<size_t>(f_tap->slotBytes(input));
        if (source != nullptr)
            std::memcpy(slots[input], source, bytes);
        else
            std::memset(slots[input], 0, bytes);
    }
}

telBool measuringBP::doBufferSwitch(int32_t index, telBool) {
    const int64_t entryNs = steadyNanoseconds();
    telAsioDriver* driver = drv();
    if (driver == nullptr) return telFalse;
    if (!admit()) return telTrue;
    int64_t position = 0, stamp = 0;
    const bool valid = driver->getSamplePosition(position, stamp) == ASE_OK;
    handleSwitch(*driver, index, position, valid, entryNs, steadyNanoseconds() - entryNs);
    leave();
    return telTrue;
}

telBool measuringBP::doBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool, pASIOTime) {
    const int64_t entryNs = steadyNanoseconds();
    telAsioDriver* driver = drv();
    if (driver == nullptr) return telFalse;
    if (!admit()) return telTrue;
    int64_t position = 0;
    bool valid = timeInfo != nullptr && (timeInfo->timeInfo.flags & kSamplePositionValid) != 0;
    if (valid) position = fromDriverWords(timeInfo->timeInfo.samplePosition);
    int64_t driverNs = 0;
    if (!valid) {
        // The record has none: ask the driver, as a host does.
        int64_t stamp = 0;
        valid = driver->getSamplePosition(position, stamp) == ASE_OK;
        driverNs = steadyNanoseconds() - entryNs;
    }
    handleSwitch(*driver, index, position, valid, entryNs, driverNs);
    leave();
    return telTrue;
}

void measuringBP::handleSwitch(telAsioDriver& driver, int32_t index, int64_t position, bool positionValid,
                               int64_t entryNs, int64_t driverNs) {
    if (!positionValid) position = f_nextPosition;
    f_nextPosition = position + driver.bufActualSize();
    if (!f_originSet) {
        f_origin = position;
        f_originSet = true;
    }

    if (f_latency != nullptr) {
        if (f_tap != nullptr) f_tap->capture(driver, index, position, position - f_origin, positionValid);
        if (index == 0 || index == 1) f_latency->render(driver, index, position - f_origin);
    } else if (f_tap != nullptr && f_inputPaired.size() > 0 && (index == 0 || index == 1)) {
        // Recording every input: the loopback and the ring's copy in one read.
        uint8_t* const* slots = f_tap->beginBlock(index, position, position - f_origin, positionValid);
        loopAndRecord(driver, index, slots);
        if (slots != nullptr) f_tap->commitBlock();
        if (!f_noSine) writeTones(driver, index);
    } else {
        if (f_tap != nullptr) f_tap->capture(driver, index, position, position - f_origin, positionValid);
        if (index == 0 || index == 1) processAudio(driver, index);
    }
    driverNs += outputReadyTimed(driver);
    if (f_probe == nullptr) return;
    const int64_t exitNs = steadyNanoseconds();
    measure::SwitchRecord record{entryNs, exitNs, position, positionValid, index};
    record.hostNs = std::max<int64_t>(exitNs - entryNs - driverNs, 0);
    record.overlapsBefore = f_overlapsCarried;
    f_probe->record(record);
}

int64_t measuringBP::outputReadyTimed(telAsioDriver& driver) {
    if (!driver.postOutput()) return 0;
    const int64_t before = steadyNanoseconds();
    notifyOutputReady(driver);
    return steadyNanoseconds() - before;
}

telBool measuringBP::doSampleRateChanged(double) {
    if (f_probe != nullptr) f_probe->countRateChange();
    return telFalse; // the driver object goes on as without a processor
}

telBool measuringBP::doAsioMessage(int32_t selector, int32_t, void*, double*, int32_t&) {
    if (f_probe != nullptr) f_probe->countMessage(selector);
    return telFalse; // the built-in answers stand
}
