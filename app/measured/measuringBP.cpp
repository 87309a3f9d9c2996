#include "app/measured/measuringBP.h"

#include <chrono>
#include <algorithm>
#include <cstring>

#include "app/measured/sampleEncode.h"

namespace {

int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A 64-bit value a driver wrote into its own time record: two 32-bit words, high first.
int64_t fromDriverWords(int64_t field) {
    ASIOSamples words;
    std::memcpy(&words, &field, sizeof words);
    return static_cast<int64_t>((static_cast<uint64_t>(words.hi) << 32) | words.lo);
}

} // namespace

latencySignalOutput::latencySignalOutput(telAsioDriver& driver, int32_t outputChannel,
                                         measure::LoopbackSignal signal)
    : f_signal(std::move(signal)), f_channel(outputChannel),
      f_values(static_cast<size_t>(std::max(driver.bufActualSize(), 0))) {}

void latencySignalOutput::render(telAsioDriver& driver, int32_t half, int64_t q) noexcept {
    const int32_t first = driver.inputChannels();
    const int32_t end = first + driver.outputChannels();
    for (int32_t channel = first; channel < end; ++channel) {
        const pASIOBufferInfo buffer = driver.getBufferInfoByIndex(channel);
        const pASIOChannelInfo info = driver.getChannelInfoByIndex(channel);
        void* target = buffer != nullptr ? buffer->buffers[half] : nullptr;
        const int32_t bytes = driver.getBufferSizeInBytes(channel);
        if (target == nullptr || bytes <= 0) continue;
        if (channel == f_channel && q >= 0 && info != nullptr) {
            f_signal.render(q, f_values.data(), f_values.size());
            if (encodeSamples(info->_type, f_values.data(), f_values.size(), target)) continue;
        }
        std::memset(target, 0, static_cast<size_t>(bytes));
    }
}

measuringBP::measuringBP(telAsioDriver* driver) : myBP(driver) {}

telBool measuringBP::doBufferSwitch(int32_t, telBool) {
    // The driver object goes on to build its own time record and hands it over.
    f_entryNs = steadyNanoseconds();
    f_inPlainSwitch = true;
    return telFalse;
}

telBool measuringBP::doBufferSwitchTimeInfo(pASIOTime timeInfo, int32_t index, telBool, pASIOTime) {
    const bool ownRecord = f_inPlainSwitch;
    f_inPlainSwitch = false;
    if (!ownRecord) f_entryNs = steadyNanoseconds();
    telAsioDriver* driver = drv();
    if (driver == nullptr) return telFalse;

    int64_t position = 0;
    const bool positionValid = positionOf(*driver, timeInfo, ownRecord, position);
    if (!positionValid) position = f_nextPosition;
    f_nextPosition = position + driver->bufActualSize();
    if (!f_originSet) {
        f_origin = position;
        f_originSet = true;
    }

    if (f_tap != nullptr) f_tap->capture(*driver, index, position, position - f_origin, positionValid);
    if (f_latency != nullptr) {
        if (index == 0 || index == 1) f_latency->render(*driver, index, position - f_origin);
        notifyOutputReady(*driver);
    } else {
        processHalf(*driver, index);
    }
    if (f_probe != nullptr) f_probe->record({f_entryNs, steadyNanoseconds(), position, positionValid, index});
    return telTrue;
}

bool measuringBP::positionOf(telAsioDriver& driver, pASIOTime timeInfo, bool ownRecord, int64_t& position) {
    if (timeInfo != nullptr && (timeInfo->timeInfo.flags & kSamplePositionValid) != 0) {
        position = ownRecord ? timeInfo->timeInfo.samplePosition : fromDriverWords(timeInfo->timeInfo.samplePosition);
        return true;
    }
    // The driver object's record already says that the driver could not tell.
    if (ownRecord) return false;
    int64_t stamp = 0;
    return driver.getSamplePosition(position, stamp) == ASE_OK;
}

telBool measuringBP::doSampleRateChanged(double) {
    if (f_probe != nullptr) f_probe->countRateChange();
    return telFalse; // the driver object goes on as without a processor
}

telBool measuringBP::doAsioMessage(int32_t selector, int32_t, void*, double*, int32_t&) {
    if (f_probe != nullptr) f_probe->countMessage(selector);
    return telFalse; // the built-in answers stand
}
