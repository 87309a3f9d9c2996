#include "app/myBP.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "app/sweptTone.h"

namespace {

// The tone is computed a block at a time; one block holds a whole buffer of any size
// drivers commonly use.
constexpr int32_t largestToneBlock = 1 << 14;

bool channelIsInput(telAsioDriver& driver, int32_t channel) {
    const pASIOChannelInfo info = driver.getChannelInfoByIndex(channel);
    return info != nullptr && info->isInput != 0;
}

// Buffer half `index` of a channel, or nullptr when the driver gave none.
void* bufferHalf(telAsioDriver& driver, int32_t channel, int32_t index) {
    const pASIOBufferInfo info = driver.getBufferInfoByIndex(channel);
    return info != nullptr ? info->buffers[index] : nullptr;
}

} // namespace

myBP::myBP(telAsioDriver* driver) : telAsioBufferProcessor(driver) {
    const int32_t samples = driver != nullptr ? driver->bufActualSize() : 0;
    f_toneBlock.resize(static_cast<size_t>(std::clamp(samples, 1, largestToneBlock)));
}

telBool myBP::doBufferSwitchTimeInfo(pASIOTime, int32_t index, telBool, pASIOTime) {
    telAsioDriver* driver = drv();
    if (driver == nullptr) return telFalse;
    processHalf(*driver, index);
    return telTrue;
}

void myBP::processHalf(telAsioDriver& driver, int32_t index) {
    // A driver that names a half other than 0 or 1 gets no audio work for this switch;
    // reading its pointers would go outside the buffer entry.
    if (index == 0 || index == 1) processAudio(driver, index);
    notifyOutputReady(driver);
}

void myBP::processAudio(telAsioDriver& driver, int32_t index) {
    if (!f_noLoop) loopInputs(driver, index);
    if (!f_noSine) writeTones(driver, index);
}

void myBP::notifyOutputReady(telAsioDriver& driver) {
    if (!driver.postOutput()) return;
    driver.outputReady();
    std::atomic_ref<uint64_t>(f_outputReadyCalls).fetch_add(1, std::memory_order_relaxed);
}

void myBP::prepareTone(double sampleRate) {
    const double rate = std::isfinite(sampleRate) && sampleRate > 0 ? std::min(sampleRate, 1e7) : 48000.0;
    f_toneRing = std::make_unique<toneRing>(static_cast<size_t>(rate / 2) + 1);
}

void myBP::fillTone() {
    if (f_toneRing) f_toneRing->fill();
}

uint64_t myBP::toneShortages() const {
    return f_toneRing ? f_toneRing->dryTakes() : 0;
}

uint64_t myBP::outputReadyCalls() const {
    return std::atomic_ref<uint64_t>(const_cast<uint64_t&>(f_outputReadyCalls))
        .load(std::memory_order_relaxed);
}

// Input k goes to output k, as raw bytes, for as many pairs as both counts allow.
void myBP::loopInputs(telAsioDriver& driver, int32_t index) {
    const int32_t inputs = driver.inputChannels();
    const int32_t channels = std::min(inputs + driver.outputChannels(), telMaxChannels);
    int32_t output = inputs;
    for (int32_t input = 0; input < inputs; ++input) {
        if (!channelIsInput(driver, input)) continue;
        while (output < channels) {
            f_outBufLooped[output] = telFalse;
            if (channelIsInput(driver, output)) {
                ++output;
                continue;
            }
            const int32_t bytes =
                std::min(driver.getBufferSizeInBytes(input), driver.getBufferSizeInBytes(output));
            const void* source = bufferHalf(driver, input, index);
            void* target = bufferHalf(driver, output, index);
            if (bytes >= 1 && source != nullptr && target != nullptr) {
                std::memcpy(target, source, static_cast<size_t>(bytes));
                f_outBufLooped[output] = telTrue;
            }
            ++output;
            break;
        }
    }
}

bool myBP::toneChannel(telAsioDriver& driver, int32_t channel) {
    return channel < driver.inputChannels() + driver.outputChannels() && channel < telMaxChannels &&
           !channelIsInput(driver, channel);
}

// The first two outputs get the swept tone. Both start at phase 0 and follow the same
// rule, so they carry the same samples: the tone is computed once and written to both,
// each with its own operation (added to a looped input, or alone). Buffers longer than
// the block are done a block at a time.
void myBP::writeTones(telAsioDriver& driver, int32_t index) {
    const int32_t first = driver.inputChannels();
    const int32_t second = first + 1;
    const bool firstToned = toneChannel(driver, first);
    const bool secondToned = toneChannel(driver, second);
    const bool shared = firstToned && secondToned && f_sineValue[first] == f_sineValue[second] &&
                        f_cosineValue[first] == f_cosineValue[second];
    const int32_t samples = driver.bufActualSize();
    const int32_t block = static_cast<int32_t>(f_toneBlock.size());
    for (int32_t start = 0; start < samples && block > 0; start += block) {
        const int32_t count = std::min(block, samples - start);
        // Made ahead, both channels carry the one sequence the ring holds.
        if (f_toneRing && (firstToned || secondToned))
            f_toneRing->take(f_toneBlock.data(), static_cast<size_t>(count));
        for (int32_t channel : {first, second}) {
            if (!(channel == first ? firstToned : secondToned)) continue;
            if (!f_toneRing && !(shared && channel == second)) computeTone(channel, count);
            driver.setSamples(channel, index, start, f_toneBlock.data(), count,
                              f_outBufLooped[channel] ? soAdd : soReplace);
        }
    }
    if (shared) {
        f_sineValue[second] = f_sineValue[first];
        f_cosineValue[second] = f_cosineValue[first];
    }
}

// The swept tone of the channel's phases, a block of `samples`.
void myBP::computeTone(int32_t channel, int32_t samples) {
    double sine = f_sineValue[channel];
    double cosine = f_cosineValue[channel];
    for (int32_t sample = 0; sample < samples; ++sample)
        f_toneBlock[static_cast<size_t>(sample)] = nextSweptToneSample(sine, cosine);
    f_sineValue[channel] = sine;
    f_cosineValue[channel] = cosine;
}
